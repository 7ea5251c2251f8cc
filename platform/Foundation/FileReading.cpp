#include "platform/Foundation/FileReading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Foundation/Error.h"

namespace kelvo {

namespace {

struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Set once, before the threads that read files start (readFileThroughDescriptor).
std::filesystem::path* givenPath = nullptr;
int givenDescriptor = -1;

// Reads `fd` from offset 0 to its end; `path` is for errors.
ByteBuffer readDescriptor(int fd, const std::filesystem::path& path, std::uint64_t sizeLimit) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) throw posixError(errno, path);
    if (S_ISDIR(info.st_mode)) throw posixError(EISDIR, path);
    if (!S_ISREG(info.st_mode)) throw posixError(EINVAL, path);
    if (static_cast<std::uint64_t>(info.st_size) > sizeLimit) throw posixError(EFBIG, path);

    // The size is a hint: the file may change while we read, so read until end of file and
    // keep what was really read. One spare byte lets a file that did not grow end without
    // the buffer ever being reallocated.
    ByteBuffer bytes;
    bytes.resize(static_cast<size_t>(info.st_size > 0 ? info.st_size : 0) + 1);
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) bytes.resize(bytes.size() + bytes.size() / 2 + 4096);
        // pread: a given descriptor may be read more than once.
        ssize_t got =
            ::pread(fd, bytes.data() + filled, bytes.size() - filled, static_cast<off_t>(filled));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw posixError(errno, path);
        }
        if (got == 0) break;
        filled += static_cast<size_t>(got);
        if (filled > sizeLimit) throw posixError(EFBIG, path);  // it grew while we read
    }
    bytes.resize(filled);
    return bytes;
}

}  // namespace

void readFileThroughDescriptor(const std::filesystem::path& path, int fd) {
    static std::filesystem::path kept;
    kept = path;
    givenPath = fd >= 0 ? &kept : nullptr;
    givenDescriptor = fd;
}

ByteBuffer readFileContents(const std::filesystem::path& path, std::uint64_t sizeLimit) {
    if (givenPath && path == *givenPath) return readDescriptor(givenDescriptor, path, sizeLimit);
    // O_NONBLOCK keeps open() from waiting for a writer on a FIFO; it is refused below.
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) throw posixError(errno, path);
    return readDescriptor(file.fd, path, sizeLimit);
}

std::string pathExtension(const std::filesystem::path& path) {
    const std::string& text = path.native();
    size_t nameStart = text.find_last_of('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = text.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return {};
    return text.substr(dot + 1);
}

}  // namespace kelvo

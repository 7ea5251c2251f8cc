#include "extensions/KelvoThumbnail/AtomicFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/Foundation/Error.h"

namespace kelvo {

namespace {

// A name no one else is likely to pick; O_EXCL settles any collision.
std::string temporaryName() {
    unsigned long long random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random) {
        random = static_cast<unsigned long long>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                 reinterpret_cast<std::uintptr_t>(&random);
    }
    char name[40];
    std::snprintf(name, sizeof name, ".kelvo-%016llx.tmp", random);
    return name;
}

// 0, or the errno value of the write that failed.
int writeAll(int fd, ByteSpan bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Writes into `path` itself when it is an empty regular file; false when it is not (or
// cannot be opened), and the caller goes the way of the temporary file.
bool writeIntoEmptyFile(const std::filesystem::path& path, ByteSpan bytes) {
    // O_NONBLOCK: opening a FIFO for writing would wait for a reader.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0) {
        ::close(fd);
        return false;
    }
    int failure = writeAll(fd, bytes);
    // close() may report a write error of its own.
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        // Back to empty: the file must not keep half a PNG. Should that fail too, the write
        // error is still the one to report.
        const int ignored = ::truncate(path.c_str(), 0);
        (void)ignored;
        throw posixError(failure, path);
    }
    return true;
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& path, ByteSpan bytes) {
    if (writeIntoEmptyFile(path, bytes)) return;
    const std::filesystem::path directory =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = directory / temporaryName();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) throw posixError(errno, path);
    }
    if (fd < 0) throw posixError(EEXIST, path);

    int failure = writeAll(fd, bytes);
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
    if (failure != 0) {
        ::unlink(temporary.c_str());
        throw posixError(failure, path);
    }
}

}  // namespace kelvo

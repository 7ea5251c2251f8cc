#include "platform/Foundation/FileReading.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

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

// The size of the regular file open at `fd`; `path` is for errors.
std::uint64_t regularFileSize(int fd, const std::filesystem::path& path, std::uint64_t sizeLimit) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) throw posixError(errno, path);
    if (S_ISDIR(info.st_mode)) throw posixError(EISDIR, path);
    if (!S_ISREG(info.st_mode)) throw posixError(EINVAL, path);
    if (static_cast<std::uint64_t>(info.st_size) > sizeLimit) throw posixError(EFBIG, path);
    return static_cast<std::uint64_t>(info.st_size > 0 ? info.st_size : 0);
}

// Reads `fd` from offset 0 to its end; `path` is for errors.
ByteBuffer readDescriptor(int fd, const std::filesystem::path& path, std::uint64_t sizeLimit) {
    const std::uint64_t size = regularFileSize(fd, path, sizeLimit);

    // The size is a hint: the file may change while we read, so read until end of file and
    // keep what was really read. One spare byte lets a file that did not grow end without
    // the buffer ever being reallocated.
    ByteBuffer bytes;
    bytes.resize(static_cast<size_t>(size) + 1);
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

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        this->~MappedFile();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

void MappedFile::release(std::uint64_t offset, std::uint64_t length) const {
    if (!data_ || offset >= size_) return;
    length = std::min<std::uint64_t>(length, size_ - offset);
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t begin = (offset + page - 1) / page * page;
    const std::uint64_t end = (offset + length) / page * page;
    if (begin < end) {
        ::madvise(const_cast<std::uint8_t*>(data_) + begin, static_cast<size_t>(end - begin),
                  MADV_DONTNEED);
    }
}

MappedFile mapFileContents(const std::filesystem::path& path) {
    FileDescriptor opened{-1};
    int fd = -1;
    if (givenPath && path == *givenPath) {
        fd = givenDescriptor;
    } else {
        opened.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (opened.fd < 0) throw posixError(errno, path);
        fd = opened.fd;
    }
    const std::uint64_t size = regularFileSize(fd, path, SIZE_MAX);
    MappedFile file;
    if (size == 0) return file;
    void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) throw posixError(errno, path);
    // Streaming readers go through the file in order.
    ::madvise(p, static_cast<size_t>(size), MADV_SEQUENTIAL);
    file.data_ = static_cast<const std::uint8_t*>(p);
    file.size_ = static_cast<size_t>(size);
    return file;
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

// Whole-file reads: every loader reads its file once, into memory, and parses from there;
// readers that stream a file too large for that map it instead.
#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

// Reads the whole regular file at `path`. Throws the operating system's error (domain
// "POSIX", code errno) when the file cannot be opened or read; a directory gives EISDIR and
// any other non-regular file (FIFO, device, socket) gives EINVAL, so a thumbnailer can never
// block on a pipe or read an endless device. A file larger than `sizeLimit` bytes gives EFBIG
// before anything is read.
ByteBuffer readFileContents(const std::filesystem::path& path,
                            std::uint64_t sizeLimit = UINT64_MAX);

// Hands this process its input as a descriptor opened by someone else (the thumbnailer's
// confined worker is given the model this way by its parent): from now on
// readFileContents(path) reads `fd` from its start, with the same checks, instead of opening
// `path`; every other path is opened as usual. One file per process; `fd` stays open and
// the caller's; a negative `fd` takes the file back. Call before any thread that reads files
// starts.
void readFileThroughDescriptor(const std::filesystem::path& path, int fd);

// A regular file mapped read-only and private, for readers that stream a file too large to
// copy into memory. Mapped pages are the page cache's, not the process's own: they count
// against no data limit, and release() hands back those already read.
class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    ~MappedFile();

    ByteSpan bytes() const { return {data_, size_}; }
    // Drops the process's pages of [offset, offset + length) that lie wholly inside it; the
    // bytes stay readable (they are read again from the page cache when touched).
    void release(std::uint64_t offset, std::uint64_t length) const;

private:
    friend MappedFile mapFileContents(const std::filesystem::path& path);
    const std::uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Maps the whole regular file at `path` (or the descriptor handed over for it), with the
// checks and errors of readFileContents. An empty file maps to no bytes. A file that shrinks
// while mapped faults on access; the thumbnailer's worker dies cleanly of that.
MappedFile mapFileContents(const std::filesystem::path& path);

// The path extension: the text after the last dot of the last path component, without the
// dot; empty when that component has no dot. Case is kept as written.
std::string pathExtension(const std::filesystem::path& path);

}  // namespace kelvo

// Whole-file reads: every loader reads its file once, into memory, and parses from there.
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

// The path extension: the text after the last dot of the last path component, without the
// dot; empty when that component has no dot. Case is kept as written.
std::string pathExtension(const std::filesystem::path& path);

}  // namespace kelvo

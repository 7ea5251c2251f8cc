// Raw DEFLATE decoding (RFC 1951: no zlib or gzip wrapper, no checksum) into a buffer of
// fixed capacity, with the three properties the ZIP reader relies on:
//   1. raw DEFLATE data is decoded, nothing else;
//   2. at most `destination.size()` bytes are written, and the count written is returned;
//      a stream that holds more is cut at the capacity, which is not a failure;
//   3. failure (malformed data, a stream that ends before its last block) returns 0.
//
// Thread safety: pure functions over caller-owned buffers; any thread, concurrently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

// Decodes `source` into `destination` and returns the number of bytes written (0 on
// failure). Bytes of `destination` past the returned count are unspecified.
size_t decodeRawDeflate(std::span<std::uint8_t> destination, ByteSpan source);

// The most output any DEFLATE stream of `compressedLength` bytes can produce. The densest
// code spends 2 bits on a 258-byte match (a 1-bit length code and a 1-bit distance code),
// so a byte of input yields at most 4 x 258 = 1032 bytes; 1 KiB more covers the first
// literal and block headers of very short streams. A decoding capacity beyond this bound can
// never be filled, so clamping a capacity to it changes no result.
constexpr std::uint64_t rawDeflateOutputBound(std::uint64_t compressedLength) {
    return 1032 * compressedLength + 1024;
}

}  // namespace kelvo

// Reading the binary form of USD layers: crate files (".usdc", ".usd" files that start with
// "PXR-USDC", and the layers inside ".usdz" packages).
//
// A crate file is an 88-byte bootstrap (magic, version, where the table of contents is),
// the values written out of line, then six sections the table of contents locates:
// tokens (one LZ4 block of NUL-separated text), strings (token indices), fields (a name
// token and a value representation each), field sets (runs of field indices ended by ~0),
// paths (a tree coded as three integer arrays: path index, element token and jump) and
// entries (path, field set and kind of each). Integer arrays are coded as deltas with 2-bit
// size codes and then LZ4-compressed; value representations are 64-bit words holding the
// type, array/inlined/compressed flags and either the value itself or its file offset.
//
// Versions 0.4.0 to 0.10.0 are read (what exporters of the last several years write);
// older and newer files are refused with a message naming their version. The entries become
// the same Layer model the text reader fills (USDLayer.h), so composition treats both alike.
//
// Bad input: every offset and size is checked against the file and its section before use;
// sections may neither overlap nor leave the file; LZ4 blocks decompress into buffers of
// their declared size and never past it; a declared element count is first checked against
// what its bytes could hold; the path tree is walked without recursion and each entry at
// most once. All decoded data (arrays, strings, entry fields visited) is charged to a budget
// that grows with the file size, so no file makes the reader allocate or work without
// bound. The first fault stops reading with a message; the layer is then left empty.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/USD/USDLayer.h"

namespace kelvo::usd {

// Reads the crate layer `bytes` into `layer` (which should be empty). Returns an empty
// string when it was read, else why not ("crate version 0.12.0 is newer than ...").
std::string readCrate(ByteSpan bytes, Layer& layer);

// The LZ4 block format crate files use: a first byte of 0 and one LZ4 block, or a chunk
// count and that many (32-bit size, LZ4 block) pairs. Decodes into `out` (whose size is
// the capacity); returns the bytes written, or -1 when the data is corrupt or would expand
// past the capacity.
long decompressCrateBlock(ByteSpan compressed, std::span<std::uint8_t> out);

}  // namespace kelvo::usd

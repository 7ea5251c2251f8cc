// VOX files as read: the chunk walk, the records it fills, the palette and its default, and the
// key/value dictionaries of the scene-graph chunks.
//
// Layout: "VOX " and a version (bytes 0-7), the MAIN chunk's 12-byte header (bytes 8-19, never
// read), then a flat sequence of chunks from offset 20: a 4-byte id, a 4-byte content size, a
// 4-byte children size (never read) and the content. All numbers are little-endian. The walk
// steps by header plus content size only, so children follow as ordinary chunks.
//
// Reading is lenient: only a file under 8 bytes, a wrong signature and a file without any
// model are errors. A chunk that runs past the end of the file ends the walk; an unknown,
// undersized or undecodable chunk is skipped; what was read before stays in use. No size or
// count from the file is trusted: every read is checked against the bytes present, and
// nothing is reserved beyond what the file can hold.
//
// Everything here is plain data and free functions over caller-owned bytes; no state is kept,
// so any number of reads may run side by side.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "extensions/Shared/VOX/VOXSceneGraph.h"
#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

// One voxel as the file stores it: coordinates in the model's own grid (z up) and a palette
// index, each one byte. Colour index 0 marks an empty cell. Four bytes in the file's own
// layout, so a model's voxels can be viewed where the file holds them.
struct VOXVoxel {
    std::uint8_t x = 0, y = 0, z = 0, colorIndex = 0;
    friend bool operator==(const VOXVoxel&, const VOXVoxel&) = default;
};
static_assert(sizeof(VOXVoxel) == 4 && alignof(VOXVoxel) == 1);

// One model, created by a "SIZE" chunk. The extents are the file's unsigned 32-bit values,
// not validated here (the mesher decides what a zero or huge extent means). The voxels are a
// view, not a copy: of the file's bytes for a model read from a file (the last "XYZI" chunk
// before the next "SIZE"), of the caller's storage otherwise; that storage must outlive the
// chunk. A million-voxel model thus costs no memory beyond the file itself.
struct VOXChunk {
    std::int64_t sx = 0, sy = 0, sz = 0;
    std::span<const VOXVoxel> voxels;
};

// Colours 0xAABBGGRR (red in the lowest byte), indexed by colour index. A file's palette has
// a leading 0 and then its entries (257 for a whole "RGBA" chunk), so file entry k colours
// index k + 1.
using VOXPalette = std::vector<std::uint32_t>;

// The format's published default palette, used when a file has no "RGBA" chunk: entry 0 is
// 0, 1-215 the colour cube over the levels FF CC 99 66 33 00 (blue fastest, black left out),
// then ramps of red, green, blue and grey over EE DD BB AA 88 77 55 44 22 11.
extern const std::array<std::uint32_t, 256> defaultVOXPalette;

// Everything the walk collects from one file.
struct VOXFile {
    std::vector<VOXChunk> models;  // a model's id is its position here
    VOXPalette palette;            // the last "RGBA" chunk's, or the default
    VOXTransformTable transforms;
    VOXShapeTable shapes;
    VOXGroupTable groups;
};

// Why a VOX file cannot be read at all; the loader turns it into its own error.
enum class VOXReadFailure {
    fileTooSmall,  // fewer than 8 bytes
    badMagic,      // bytes 0-3 are not "VOX "
    noVoxelData,   // no "SIZE" chunk of at least 12 content bytes
};
struct VOXReadError {
    VOXReadFailure failure;
};

// Walks the chunks of a whole VOX file held in `data`, which the result views and which must
// outlive it. Throws VOXReadError when the file cannot be read at all. "XYZI" voxels and "RGBA" entries are read up to the end of the file, not
// of their chunk, as the format's readers have always done; the walk still resumes at the
// chunk's declared end.
VOXFile readVOXFile(ByteSpan data);

// The unsigned 32-bit little-endian number at `offset`; the caller has checked that the four
// bytes lie inside `data`.
inline std::uint32_t readVOXUInt32(ByteSpan data, std::uint64_t offset) {
    assert(offset <= data.size() && data.size() - offset >= 4);
    const std::uint8_t* p = data.data() + offset;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// True when `bytes` are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF). Text that is not decodes to the empty string.
bool isValidUTF8(std::span<const std::uint8_t> bytes);

// Walks one dictionary (a 32-bit pair count, then per pair a key and a value, each a 32-bit
// length and that many bytes) starting at the absolute offset `at`, reading nothing at or past
// `limit` (clamped to the data). Calls `visit(key, value)` with the raw bytes of each pair read
// whole, in file order. Returns the number of bytes consumed from `at`: up to just past the
// last field read whole, also when the dictionary is cut short, so a caller knows where the
// next field starts. A count that claims more pairs than the bytes hold ends at the bytes.
template <class Visitor>
std::uint64_t walkVOXDict(ByteSpan data, std::uint64_t at, std::uint64_t limit, Visitor&& visit) {
    if (limit > data.size()) limit = data.size();
    if (at > limit || limit - at < 4) return 0;
    const std::uint32_t count = readVOXUInt32(data, at);
    std::uint64_t pos = at + 4;
    std::uint64_t last = pos;
    // Every pair takes at least 8 bytes, so the loop ends at `limit` whatever the count says.
    for (std::uint32_t i = 0; i < count && limit - pos >= 4; ++i) {
        const std::uint64_t keyEnd = pos + 4 + readVOXUInt32(data, pos);
        if (keyEnd > limit) {
            last = pos + 4;
            break;
        }
        if (limit - keyEnd < 4) {
            last = keyEnd;
            break;
        }
        const std::uint64_t valueEnd = keyEnd + 4 + readVOXUInt32(data, keyEnd);
        if (valueEnd > limit) {
            last = keyEnd + 4;
            break;
        }
        visit(data.subspan(pos + 4, keyEnd - pos - 4),
              data.subspan(keyEnd + 4, valueEnd - keyEnd - 4));
        last = valueEnd;
        pos = valueEnd;
    }
    return last - at;
}

using VOXDictionary = std::map<std::string, std::string>;

// The dictionary at `at` decoded: invalid UTF-8 in a key or value gives the empty string and a
// repeated key keeps its last value. Returns it with the consumed count of walkVOXDict.
std::pair<VOXDictionary, std::uint64_t> parseVOXDict(ByteSpan data, std::uint64_t at,
                                                     std::uint64_t limit);

}  // namespace kelvo

#include "extensions/Shared/VOX/VOXReader.h"

#include <algorithm>
#include <cstring>


namespace kelvo {

namespace {

constexpr std::uint64_t chunkHeaderSize = 12;
constexpr std::uint64_t firstChunkOffset = 20;  // after the signature, version and MAIN header

bool idIs(const std::uint8_t* id, const char (&name)[5]) {
    return std::memcmp(id, name, 4) == 0;
}

// The voxels of an "XYZI" chunk whose content starts at `content`: as many of the claimed
// ones as the file holds from there on, viewed in place. The byte buffer is storage for
// objects of any byte-sized type, so reading it as 4-byte voxels is well defined.
std::span<const VOXVoxel> readVoxels(ByteSpan data, std::uint64_t content) {
    const std::uint64_t claimed = readVOXUInt32(data, content);
    const std::uint64_t present = (data.size() - content - 4) / sizeof(VOXVoxel);
    return {reinterpret_cast<const VOXVoxel*>(data.data() + content + 4),
            std::min(claimed, present)};
}

VOXPalette readPalette(ByteSpan data, std::uint64_t content) {
    const std::uint64_t present = (data.size() - content) / 4;
    const std::uint64_t entries = std::min<std::uint64_t>(256, present);
    VOXPalette palette;
    palette.reserve(entries + 1);
    palette.push_back(0);
    for (std::uint64_t k = 0; k < entries; ++k)
        palette.push_back(readVOXUInt32(data, content + 4 * k));
    return palette;
}

}  // namespace

VOXFile readVOXFile(ByteSpan data) {
    if (data.size() < 8) {
        throw VOXReadError{VOXReadFailure::fileTooSmall};
    }
    if (std::memcmp(data.data(), "VOX ", 4) != 0) {
        throw VOXReadError{VOXReadFailure::badMagic};
    }

    VOXFile file;
    bool havePalette = false;
    const std::uint64_t length = data.size();
    std::uint64_t offset = firstChunkOffset;
    while (offset <= length && length - offset >= chunkHeaderSize) {
        const std::uint8_t* id = data.data() + offset;
        const std::uint64_t size = readVOXUInt32(data, offset + 4);
        const std::uint64_t content = offset + chunkHeaderSize;
        const std::uint64_t end = content + size;
        if (end > length) break;

        // Ids are compared byte for byte, so one with a byte outside ASCII matches nothing.
        if (idIs(id, "SIZE")) {
            if (size >= 12) {
                VOXChunk model;
                model.sx = readVOXUInt32(data, content);
                model.sy = readVOXUInt32(data, content + 4);
                model.sz = readVOXUInt32(data, content + 8);
                file.models.push_back(std::move(model));
            }
        } else if (idIs(id, "XYZI")) {
            if (size >= 4 && !file.models.empty())
                file.models.back().voxels = readVoxels(data, content);
        } else if (idIs(id, "RGBA")) {
            file.palette = readPalette(data, content);
            havePalette = true;
        } else if (idIs(id, "nTRN")) {
            if (auto node = parseNTRN(data, content, size)) file.transforms[node->nodeId] = *node;
        } else if (idIs(id, "nSHP")) {
            if (auto shape = parseNSHP(data, content, size))
                file.shapes[shape->nodeId] = shape->modelId;
        } else if (idIs(id, "nGRP")) {
            if (auto group = parseNGRP(data, content, size)) {
                file.groups[group->nodeId] = std::move(group->childIds);
            }
        }
        offset = end;
    }

    if (!havePalette) file.palette.assign(defaultVOXPalette.begin(), defaultVOXPalette.end());
    if (file.models.empty()) {
        throw VOXReadError{VOXReadFailure::noVoxelData};
    }
    return file;
}

bool isValidUTF8(std::span<const std::uint8_t> bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t c = bytes[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;   // no overlong three-byte forms
            if (c == 0xED) high = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;   // no overlong four-byte forms
            if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
        } else {
            return false;
        }
        if (n - i < length) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

std::pair<VOXDictionary, std::uint64_t> parseVOXDict(ByteSpan data, std::uint64_t at,
                                                     std::uint64_t limit) {
    VOXDictionary dictionary;
    auto text = [](ByteSpan bytes) {
        return isValidUTF8(bytes) ? std::string(bytes.begin(), bytes.end()) : std::string();
    };
    std::uint64_t consumed = walkVOXDict(data, at, limit, [&](ByteSpan key, ByteSpan value) {
        dictionary[text(key)] = text(value);
    });
    return {std::move(dictionary), consumed};
}

}  // namespace kelvo

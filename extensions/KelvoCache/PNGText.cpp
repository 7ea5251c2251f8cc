#include "extensions/KelvoCache/PNGText.h"

#include <zlib.h>

#include <cstring>
#include <optional>

namespace kelvo {

namespace {

constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr size_t headerChunkEnd = 8 + 8 + 13 + 4;  // signature, IHDR's length, type, data, CRC

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void appendBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

bool startsLikePNG(ByteSpan png) {
    return png.size() >= headerChunkEnd && std::memcmp(png.data(), signature, 8) == 0 &&
           bigEndian32(png.data() + 8) == 13 && std::memcmp(png.data() + 12, "IHDR", 4) == 0;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> withPNGText(ByteSpan png, const PNGTextEntries& entries) {
    if (!startsLikePNG(png)) return std::nullopt;
    std::vector<std::uint8_t> out(png.begin(), png.begin() + headerChunkEnd);
    for (const auto& [key, value] : entries) {
        std::vector<std::uint8_t> chunk = {'t', 'E', 'X', 't'};
        chunk.insert(chunk.end(), key.begin(), key.end());
        chunk.push_back(0);
        chunk.insert(chunk.end(), value.begin(), value.end());
        appendBigEndian32(out, static_cast<std::uint32_t>(chunk.size() - 4));
        out.insert(out.end(), chunk.begin(), chunk.end());
        appendBigEndian32(out, static_cast<std::uint32_t>(
                                   crc32(0, chunk.data(), static_cast<uInt>(chunk.size()))));
    }
    out.insert(out.end(), png.begin() + headerChunkEnd, png.end());
    return out;
}

std::map<std::string, std::string> readPNGText(ByteSpan png) {
    std::map<std::string, std::string> text;
    if (!startsLikePNG(png)) return text;
    size_t at = 8;
    while (png.size() - at >= 12) {
        const std::uint32_t length = bigEndian32(png.data() + at);
        const std::uint8_t* type = png.data() + at + 4;
        if (length > png.size() - at - 12) break;  // a chunk cut short ends the walk
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) break;
        if (std::memcmp(type, "tEXt", 4) == 0) {
            const char* data = reinterpret_cast<const char*>(type + 4);
            const void* nul = std::memchr(data, 0, length);
            if (nul) {
                const size_t keyLength = static_cast<const char*>(nul) - data;
                text[std::string(data, keyLength)] =
                    std::string(data + keyLength + 1, length - keyLength - 1);
            }
        }
        at += 12 + size_t{length};
    }
    return text;
}

}  // namespace kelvo

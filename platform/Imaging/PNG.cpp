#include "platform/Imaging/PNG.h"

#include <libdeflate.h>
#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/Foundation/Error.h"

namespace kelvo {

namespace {

// Writing needs none of libpng's generality: one image layout, one filter and one deflate
// stream. libdeflate compresses it in a fraction of the time zlib takes (a thumbnail's
// encoding was a tenth of its whole process) and no larger.
constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Thumbnails are written once and read a few times: a light level, and the one filter that
// suits shaded renders (each byte less the same channel of the pixel to its left).
constexpr int deflateLevel = 3;
constexpr std::uint8_t subFilter = 1;
// sRGB with the perceptual intent: the pixels are sRGB-encoded.
constexpr std::uint8_t srgbIntent = 0;

void putBigEndian32(std::uint8_t* at, std::uint32_t v) {
    at[0] = static_cast<std::uint8_t>(v >> 24);
    at[1] = static_cast<std::uint8_t>(v >> 16);
    at[2] = static_cast<std::uint8_t>(v >> 8);
    at[3] = static_cast<std::uint8_t>(v);
}

// Frames the chunk whose `length` data bytes the caller has written at out[start + 8]: its
// length and type before them, its CRC after.
void finishChunk(std::vector<std::uint8_t>& out, size_t start, const char type[4],
                 std::uint32_t length) {
    putBigEndian32(&out[start], length);
    std::memcpy(&out[start + 4], type, 4);
    const std::uint32_t crc = libdeflate_crc32(0, &out[start + 4], length + 4);
    putBigEndian32(&out[start + 8 + length], crc);
}

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

std::vector<std::uint8_t> encodePNG(const RGBAImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height * 4) {
        return {};
    }
    try {
        const size_t rowBytes = static_cast<size_t>(image.width) * 4;
        std::vector<std::uint8_t, DefaultInitAllocator<std::uint8_t>> filtered(
            (rowBytes + 1) * static_cast<size_t>(image.height));
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* row = image.pixel(0, y);
            std::uint8_t* to = &filtered[static_cast<size_t>(y) * (rowBytes + 1)];
            to[0] = subFilter;
            std::memcpy(to + 1, row, 4);
            for (size_t i = 4; i < rowBytes; ++i)
                to[1 + i] = static_cast<std::uint8_t>(row[i] - row[i - 4]);
        }
        std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
            libdeflate_alloc_compressor(deflateLevel));
        if (!compressor) return {};
        const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filtered.size());
        // Signature, IHDR, sRGB, one IDAT of at most `bound` bytes, IEND.
        std::vector<std::uint8_t> out(sizeof signature + (12 + 13) + (12 + 1) + (12 + bound) + 12);
        std::memcpy(out.data(), signature, sizeof signature);
        size_t at = sizeof signature;
        std::uint8_t* header = &out[at + 8];
        putBigEndian32(header, static_cast<std::uint32_t>(image.width));
        putBigEndian32(header + 4, static_cast<std::uint32_t>(image.height));
        header[8] = 8;                             // bits per channel
        header[9] = 6;                             // RGBA
        header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
        finishChunk(out, at, "IHDR", 13);
        at += 12 + 13;
        out[at + 8] = srgbIntent;
        finishChunk(out, at, "sRGB", 1);
        at += 12 + 1;
        const size_t compressed = libdeflate_zlib_compress(compressor.get(), filtered.data(),
                                                           filtered.size(), &out[at + 8], bound);
        if (compressed == 0 || compressed > 0x7FFFFFFF) return {};
        finishChunk(out, at, "IDAT", static_cast<std::uint32_t>(compressed));
        at += 12 + compressed;
        finishChunk(out, at, "IEND", 0);
        out.resize(at + 12);
        return out;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::optional<RGBAImage> decodePNG(ByteSpan bytes, std::uint64_t maxPixels) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return std::nullopt;
    if (static_cast<std::uint64_t>(png.width) * png.height > maxPixels || png.width == 0 ||
        png.height == 0) {
        png_image_free(&png);
        return std::nullopt;
    }
    png.format = PNG_FORMAT_RGBA;
    RGBAImage image(static_cast<int>(png.width), static_cast<int>(png.height));
    if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
        png_image_free(&png);
        return std::nullopt;
    }
    return image;
}

void writePNG(const RGBAImage& image, const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes = encodePNG(image);
    if (bytes.empty()) throw posixError(EINVAL, path);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw posixError(errno, path);
    size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    int writeErrno = errno;
    if (std::fclose(file) != 0 || written != bytes.size()) {
        throw posixError(written != bytes.size() ? writeErrno : errno, path);
    }
}

}  // namespace kelvo

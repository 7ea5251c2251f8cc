#include "platform/Imaging/PNG.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/Foundation/Error.h"

namespace kelvo {

namespace {

struct PNGOutput {
    std::vector<std::uint8_t> bytes;
    bool outOfMemory = false;
};

void appendToOutput(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<PNGOutput*>(png_get_io_ptr(png));
    try {
        out->bytes.insert(out->bytes.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        out->outOfMemory = true;
    }
    // libpng unwinds with longjmp, which must not cross the handler above.
    if (out->outOfMemory) png_error(png, "out of memory");
}

void flushNothing(png_structp) {}

// Writes the rows into `out`; false when libpng fails. No C++ object with a destructor
// lives in this frame, as libpng leaves it by longjmp on errors.
bool writeRows(const RGBAImage& image, PNGOutput* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendToOutput, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Thumbnails are written once and read a few times: a light deflate level and the one
    // filter that suits shaded renders make encoding several times faster than libpng's
    // defaults for files a few percent larger.
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);  // the pixels are sRGB-encoded
    png_set_compression_level(png, 3);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, image.pixel(0, y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::vector<std::uint8_t> encodePNG(const RGBAImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height * 4) {
        return {};
    }
    PNGOutput out;
    if (!writeRows(image, &out)) return {};
    return std::move(out.bytes);
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

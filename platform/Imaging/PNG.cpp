#include "platform/Imaging/PNG.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Foundation/Error.h"

namespace kelvo {

std::vector<std::uint8_t> encodePNG(const RGBAImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height * 4) {
        return {};
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGBA;  // straight alpha, sRGB
    // Thumbnails are written once and read a few times: speed matters more than the last
    // few percent of size.
    png.flags = PNG_IMAGE_FLAG_FAST;
    // One pass into a buffer of the largest possible size: asking for the size first would
    // compress the image twice.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(png);
    std::vector<std::uint8_t> out(size);
    if (!png_image_write_to_memory(&png, out.data(), &size, 0, image.pixels.data(), 0, nullptr)) {
        return {};
    }
    out.resize(size);
    return out;
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

// Test-only image files made in code: PNG in any colour type, JPEG, WebP and TGA, so that a
// test states the pixels it expects to decode.
#pragma once

#include <png.h>
#include <turbojpeg.h>
#include <webp/encode.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "platform/Imaging/RGBAImage.h"

namespace kelvo::test {

using ImageBytes = std::vector<std::uint8_t>;

// An image whose pixel (x, y) is `color(x, y)` (an RGBA array).
template <class F>
RGBAImage makeImage(int width, int height, F color) {
    RGBAImage image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            auto c = color(x, y);
            std::memcpy(image.pixel(x, y), c.data(), 4);
        }
    }
    return image;
}

// A smooth pattern with some detail, opaque: compresses like a photograph.
inline RGBAImage photoLike(int width, int height) {
    return makeImage(width, height, [&](int x, int y) {
        return std::array<std::uint8_t, 4>{std::uint8_t(x * 255 / width),
                                           std::uint8_t(y * 255 / height),
                                           std::uint8_t((x * y / 7 + x) & 255), 255};
    });
}

// A PNG of `image` in libpng's colour type `colorType` (grey and grey-alpha take the red
// channel; palette images need at most 256 colours) at `bitDepth` 8 or 16.
inline ImageBytes encodePNGAs(const RGBAImage& image, int colorType, int bitDepth = 8,
                              bool interlaced = false) {
    ImageBytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* bytes = static_cast<ImageBytes*>(png_get_io_ptr(p));
            bytes->insert(bytes->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, image.width, image.height, bitDepth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::map<std::uint32_t, int> indexOf;
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        for (size_t i = 0; i < image.pixels.size(); i += 4) {
            std::uint32_t key;
            std::memcpy(&key, &image.pixels[i], 4);
            if (indexOf.emplace(key, int(palette.size())).second) {
                palette.push_back({image.pixels[i], image.pixels[i + 1], image.pixels[i + 2]});
                alphas.push_back(image.pixels[i + 3]);
            }
        }
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
        png_set_tRNS(png, info, alphas.data(), int(alphas.size()), nullptr);
    }
    const int channels = colorType == PNG_COLOR_TYPE_GRAY         ? 1
                         : colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                         : colorType == PNG_COLOR_TYPE_RGB        ? 3
                         : colorType == PNG_COLOR_TYPE_PALETTE    ? 1
                                                                  : 4;
    const int bytesPerSample = bitDepth == 16 ? 2 : 1;
    std::vector<std::vector<png_byte>> rows(image.height);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            std::vector<std::uint8_t> samples;
            if (colorType == PNG_COLOR_TYPE_PALETTE) {
                std::uint32_t key;
                std::memcpy(&key, p, 4);
                samples = {std::uint8_t(indexOf[key])};
            } else if (channels <= 2) {
                samples = {p[0]};
                if (channels == 2) samples.push_back(p[3]);
            } else {
                samples.assign(p, p + channels);
            }
            for (std::uint8_t s : samples) {
                rows[y].push_back(s);
                if (bytesPerSample == 2) rows[y].push_back(s);  // 16-bit: v * 257
            }
        }
    }
    std::vector<png_bytep> pointers;
    for (auto& row : rows)
        pointers.push_back(row.data());
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

inline ImageBytes encodeJPEG(const RGBAImage& image, int quality = 95) {
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, image.pixels.data(), image.width, 0, image.height, TJPF_RGBA, &jpeg, &size,
                TJSAMP_444, quality, 0);
    ImageBytes out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

inline ImageBytes encodeWebP(const RGBAImage& image, bool lossless = true) {
    std::uint8_t* data = nullptr;
    size_t size = lossless ? WebPEncodeLosslessRGBA(image.pixels.data(), image.width, image.height,
                                                    image.width * 4, &data)
                           : WebPEncodeRGBA(image.pixels.data(), image.width, image.height,
                                            image.width * 4, 90, &data);
    ImageBytes out(data, data + size);
    WebPFree(data);
    return out;
}

// A TGA header: image type, pixel bits, descriptor and an optional colour map.
inline ImageBytes tgaHeader(int type, int width, int height, int bits, int descriptor,
                            int mapLength = 0, int mapBits = 0) {
    return {0,
            std::uint8_t(mapLength > 0),
            std::uint8_t(type),
            0,
            0,
            std::uint8_t(mapLength),
            std::uint8_t(mapLength >> 8),
            std::uint8_t(mapBits),
            0,
            0,
            0,
            0,
            std::uint8_t(width),
            std::uint8_t(width >> 8),
            std::uint8_t(height),
            std::uint8_t(height >> 8),
            std::uint8_t(bits),
            std::uint8_t(descriptor)};
}

}  // namespace kelvo::test

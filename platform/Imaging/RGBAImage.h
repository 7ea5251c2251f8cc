// A plain bitmap: 8-bit RGBA, straight (not premultiplied) alpha, rows top to bottom with no
// padding. The rasteriser renders into it, the watermark draws on it, PNG files come from it
// and material textures are held in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvo {

struct RGBAImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4 bytes

    RGBAImage() = default;
    // A fully transparent image of the given size.
    RGBAImage(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 4, 0) {}

    std::uint8_t* pixel(int x, int y) {
        return pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
    }
    const std::uint8_t* pixel(int x, int y) const {
        return pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
    }
};

}  // namespace kelvo

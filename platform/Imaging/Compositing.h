// 2D compositing on RGBA images: drawing an image stretched into a rectangle, painting a
// colour through a coverage mask (text), and blurring a mask (text shadows).
//
// Conventions:
// - Raster space: origin at the image's top-left corner, y downwards, in pixels; pixel
//   (x, y) covers [x, x+1) x [y, y+1). Rectangles may have fractional edges: a pixel on an
//   edge is covered by the share of its area inside.
// - Colours are sRGB-encoded and blended as encoded, as 2D drawing libraries do, with
//   straight alpha in the images and premultiplied arithmetic in between; everything is
//   drawn source-over. Pixels outside the canvas are clipped.
#pragma once

#include <vector>

#include "platform/Imaging/RGBAImage.h"
#include "platform/Imaging/Rect.h"

namespace kelvo {

// Draws `image` stretched to fill `rect` (raster space). A shrunk image is filtered by area
// (each pixel averages the source pixels under it), an enlarged one bilinearly; transparent
// source pixels lend no colour to their neighbours. Nothing for an empty image or rect.
void drawImage(RGBAImage& canvas, const RGBAImage& image, const Rect& rect);

// Coverage from 0 to 1 of the pixels of a rectangle of the raster, row by row.
struct CoverageMask {
    int left = 0, top = 0;  // raster position of the mask's first pixel
    int width = 0, height = 0;
    std::vector<float> values;  // width * height

    CoverageMask() = default;
    CoverageMask(int l, int t, int w, int h)
        : left(l), top(t), width(w), height(h), values(static_cast<size_t>(w) * h, 0.0f) {}
    float& at(int x, int y) { return values[static_cast<size_t>(y) * width + x]; }
    float at(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
};

// Paints the sRGB colour `rgb` (0..1) with opacity alpha * coverage, moved by (dx, dy)
// pixels.
void fillMask(RGBAImage& canvas, const CoverageMask& mask, const float rgb[3], float alpha,
              int dx = 0, int dy = 0);

// A Gaussian blur of standard deviation `sigma` pixels; the mask grows by three sigma on
// every side so that nothing is cut off. sigma <= 0 copies.
CoverageMask blurMask(const CoverageMask& mask, double sigma);

}  // namespace kelvo

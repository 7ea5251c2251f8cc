// The watermark's parts, apart from the resource lookup that drawWatermark adds, so that
// the measures and the drawing can be checked on their own.
//
// Measures are taken in a drawing space with its origin at the image's bottom-left corner
// and y upwards, in the units of the size (pixels for thumbnails); the raster places a
// rectangle (x, y, w, h) of that space at (x, H - y - h).
#pragma once

#include <filesystem>

#include "platform/Imaging/RGBAImage.h"
#include "platform/Imaging/Rect.h"
#include "platform/Imaging/Size.h"

namespace kelvo {

struct WatermarkLayout {
    double scale;     // the shorter side / 256; a non-number gives every lower bound
    double fontSize;  // max(12 s, 9)
    double margin;    // max(6 s, 4)
    double textY;     // lower edge of the text's line box: H - margin - font size - 2
    double iconSize;  // max(20 s, 14)
    Rect iconRect;    // (margin, text y - 1, icon size, icon size)
    double textX;     // after the icon and half a margin, or at the margin without icon
};

WatermarkLayout watermarkLayout(Size size, bool withIcon);

// `rect` of the y-up drawing space of an image `height` high, in raster space.
inline Rect toRaster(const Rect& rect, double height) {
    return {rect.x, height - rect.y - rect.height, rect.width, rect.height};
}

// The text's look: white at 70 % with a black shadow at 50 %, blurred by a radius of 2 and
// one unit below the text. The shadow falls from what is drawn, so it is as strong as the
// 70 % text lets it be.
inline constexpr float brandTextAlpha = 0.7f;
inline constexpr float brandShadowAlpha = 0.5f;
inline constexpr double brandShadowBlurRadius = 2;
inline constexpr int brandShadowOffsetDown = 1;

// Draws the mark onto `canvas`, measured for `size`: the icon when there is one, then the
// brand text when a font file is given (after the icon, or at the margin without it).
void stampBrandMark(RGBAImage& canvas, Size size, const RGBAImage* icon,
                    const std::filesystem::path* fontFile);

}  // namespace kelvo

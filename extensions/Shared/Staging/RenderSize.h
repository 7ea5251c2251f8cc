// The one guard on the sizes staging renders and marks at: the size arrives in pixels as
// doubles; a fractional one is rounded, and anything not a number or outside
// 1..maxRenderSide on either axis gives nothing rather than a huge allocation.
#pragma once

#include <cmath>
#include <optional>

#include "platform/Imaging/Size.h"
#include "platform/Renderer/Renderer.h"

namespace kelvo {

struct PixelSize {
    int width = 0, height = 0;
};

inline std::optional<PixelSize> renderPixelSize(Size size) {
    if (!(size.width >= 0.5 && size.height >= 0.5 && size.width < maxRenderSide + 0.5 &&
          size.height < maxRenderSide + 0.5)) {
        return std::nullopt;
    }
    return PixelSize{static_cast<int>(std::lround(size.width)),
                     static_cast<int>(std::lround(size.height))};
}

}  // namespace kelvo

// A rectangle in double precision: origin and size, in the units and orientation of the
// space it is used in (the watermark measures with y upwards, the raster with y downwards).
#pragma once

namespace kelvo {

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace kelvo

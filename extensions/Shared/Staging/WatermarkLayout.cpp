// The watermark's measures: everything scales with the shorter side of the image, with
// lower bounds that keep the mark legible on small thumbnails.
#include <cmath>

#include "extensions/Shared/Staging/Watermark.h"

namespace kelvo {

WatermarkLayout watermarkLayout(Size size, bool withIcon) {
    WatermarkLayout l;
    l.scale = (size.height < size.width ? size.height : size.width) / 256;
    // fmax returns the other operand for a non-number, so NaN gives the lower bound.
    l.fontSize = std::fmax(12 * l.scale, 9);
    l.margin = std::fmax(6 * l.scale, 4);
    l.textY = size.height - l.margin - l.fontSize - 2;
    l.iconSize = std::fmax(20 * l.scale, 14);
    l.iconRect = {l.margin, l.textY - 1, l.iconSize, l.iconSize};
    l.textX = withIcon ? l.margin + l.iconSize + 0.5 * l.margin : l.margin;
    return l;
}

}  // namespace kelvo

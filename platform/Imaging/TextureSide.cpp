// The texture size setting of ImageDecoding.h, apart from the decoders: a program sets it
// without linking the image libraries, which the loader module brings when a file needs them.
#include <algorithm>
#include <atomic>
#include <cstdint>

#include "platform/Imaging/ImageDecoding.h"

namespace kelvo {

namespace {

std::atomic<int> textureSideLimit{2048};

}  // namespace

void setMaximumTextureSide(int side) {
    textureSideLimit.store(std::clamp(side, 1, 16384), std::memory_order_relaxed);
}

int maximumTextureSide() {
    return textureSideLimit.load(std::memory_order_relaxed);
}

int textureSideForThumbnail(int pixels) {
    int side = 1;
    while (side < 2048 && side < 2 * std::int64_t{pixels})
        side *= 2;
    return side;
}

}  // namespace kelvo

// Offscreen render to image. Until the rasteriser exists the frame is left transparent.
#include "extensions/Shared/SceneLoader.h"

namespace kelvo {

std::optional<RGBAImage> SceneLoader::renderToImage(Scene& scene, Size size) const {
    setupCameraAndLighting(scene, size);
    if (!(size.width >= 1 && size.height >= 1 && size.width <= 16384 && size.height <= 16384)) {
        return std::nullopt;
    }
    RGBAImage frame(static_cast<int>(size.width), static_cast<int>(size.height));
    return drawWatermark(frame, size);
}

}  // namespace kelvo

// Offscreen render to image: stage the scene, render one frame, stamp the brand mark.
#include <cmath>
#include <new>

#include "extensions/Shared/SceneLoader.h"
#include "platform/Renderer/Renderer.h"

namespace kelvo {

std::optional<RGBAImage> SceneLoader::renderToImage(Scene& scene, Size size) const {
    std::shared_ptr<Node> camera = setupCameraAndLighting(scene, size);
    // Sizes are pixels; a fractional one is rounded, anything not a number or outside
    // 1..maxRenderSide gives no image rather than a huge allocation.
    if (!(size.width >= 0.5 && size.height >= 0.5 && size.width < maxRenderSide + 0.5 &&
          size.height < maxRenderSide + 0.5)) {
        return std::nullopt;
    }
    try {
        std::optional<RGBAImage> frame =
            renderSnapshot(scene, *camera, static_cast<int>(std::lround(size.width)),
                           static_cast<int>(std::lround(size.height)));
        if (!frame) return std::nullopt;
        return drawWatermark(*frame, size);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace kelvo

// Offscreen render to image: stage the scene, render one frame, stamp the brand mark.
#include <new>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/Staging/RenderSize.h"
#include "platform/Renderer/Renderer.h"

namespace kelvo {

namespace {

// The staged background is clear, so a pixel the model covers is the only kind with alpha.
bool coversAnyPixel(const RGBAImage& frame) {
    for (size_t i = 3; i < frame.pixels.size(); i += 4)
        if (frame.pixels[i] != 0) return true;
    return false;
}

}  // namespace

std::optional<RGBAImage> SceneLoader::renderFrame(Scene& scene, Size size) const {
    std::shared_ptr<Node> camera = setupCameraAndLighting(scene, size);
    std::optional<PixelSize> pixels = renderPixelSize(size);
    if (!pixels) return std::nullopt;
    try {
        return renderSnapshot(scene, *camera, pixels->width, pixels->height);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<RGBAImage> SceneLoader::renderToImage(Scene& scene, Size size) const {
    std::optional<RGBAImage> frame = renderFrame(scene, size);
    if (!frame) return std::nullopt;
    return drawWatermark(*frame, size);
}

SceneLoader::ThumbnailFrame SceneLoader::renderThumbnailFrame(Scene& scene, Size size) const {
    std::shared_ptr<Node> camera = setupCameraAndLighting(scene, size);
    std::optional<PixelSize> pixels = renderPixelSize(size);
    if (!pixels) return {};
    try {
        const auto [width, height] = *pixels;
        std::optional<RGBAImage> frame = renderSnapshot(scene, *camera, width, height);
        if (frame && !coversAnyPixel(*frame)) {
            // The same camera and lights: staging again would add a second rig.
            frame =
                renderSnapshot(scene, *camera, width, height, RenderOptions{.showBackFaces = true});
            if (frame && !coversAnyPixel(*frame)) return {std::nullopt, true};
        }
        if (!frame) return {};
        return {drawWatermark(*frame, size), false};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace kelvo

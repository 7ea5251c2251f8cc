// Models too large to load, drawn from their file. The picture is the one the whole scene
// would give: only the triangles that own a sample of the frame can show in it, so the
// frame drawn from those alone, in the same order and framing, is the same frame.
#include <new>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/StreamedModel.h"
#include "extensions/Shared/Staging/RenderSize.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Text.h"
#include "platform/Renderer/Renderer.h"

namespace kelvo {

namespace {

// From this many triangles the visibility pass runs on two threads.
constexpr std::uint64_t twoThreadTriangles = 200000;

}  // namespace

std::shared_ptr<const StreamedModel> SceneLoader::openStreamed(const std::filesystem::path& from,
                                                               std::int64_t triangleThreshold) const {
    if (triangleThreshold <= 0) return nullptr;
    const auto threshold = static_cast<std::uint64_t>(triangleThreshold);
    const std::string extension = asciiLowercase(pathExtension(from));
    if (extension == "stl") return openStreamedSTL(from, threshold);
    if (extension == "3mf") return openStreamed3MF(from, threshold);
    return nullptr;
}

SceneLoader::ThumbnailFrame SceneLoader::renderStreamedThumbnailFrame(const StreamedModel& model,
                                                                      Size size) const {
    std::optional<PixelSize> pixels = renderPixelSize(size);
    if (!pixels) return {};
    try {
        std::shared_ptr<Scene> standIn = model.sceneOf({});
        std::shared_ptr<Node> camera = setupCameraAndLighting(*standIn, size);
        const int parts = model.triangles >= twoThreadTriangles && model.splits ? 2 : 1;
        const auto [width, height] = *pixels;
        std::vector<std::uint32_t> visible =
            visibleFedTriangles(*standIn, *camera, width, height, model.feed, parts);
        // The frame the whole scene would give has back faces shown when culling leaves
        // nothing; so does this one.
        if (visible.empty()) {
            visible = visibleFedTriangles(*standIn, *camera, width, height, model.feed, parts,
                                          RenderOptions{.showBackFaces = true});
        }
        std::shared_ptr<Scene> picked = model.sceneOf(visible);
        return renderThumbnailFrame(*picked, size);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace kelvo

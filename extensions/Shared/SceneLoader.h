// SceneLoader: the one door through which both hosts reach the model-loading library.
//
// load() picks a loader by the file's lower-cased extension alone, as the list of formats
// (packaging/formats.json, FileFormats.h) says: no content sniffing, no fallback from one
// loader to another. It returns the scene, y-up, without camera or lights of the system's
// own. Failures are thrown and pass through unchanged:
//   - kelvo::Error in the "SceneLoader" domain (SceneLoaderError.h) for a loader's own
//     failures;
//   - kelvo::Error in the "POSIX" domain when the file cannot be read;
//   - the ZIP reader's ZIPError for broken 3MF packages;
//   - errors of outside libraries, unchanged.
//
// The class holds no state: one instance may serve any number of requests, side by side.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include <optional>

#include "extensions/Shared/FileFormats.h"
#include "platform/Imaging/RGBAImage.h"
#include "platform/Imaging/Size.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

struct StreamedModel;  // StreamedModel.h

class SceneLoader {
public:
    // Loads the model file at `from`. Synchronous; may block for the whole load.
    std::shared_ptr<Scene> load(const std::filesystem::path& from) const;

    // Stages a loaded scene in place: one camera framing the bounding box and a rig of three
    // lights, on a transparent background. Returns the camera node (already a child of the
    // root). `size` is accepted and not used: the framing never depends on it.
    std::shared_ptr<Node> setupCameraAndLighting(Scene& scene, Size size) const;

    // Stages `scene`, renders one 4x-multisampled frame of exactly `size` pixels and stamps
    // the watermark. Nothing when a step fails.
    std::optional<RGBAImage> renderToImage(Scene& scene, Size size) const;

    // renderToImage without the watermark: the staged frame alone.
    std::optional<RGBAImage> renderFrame(Scene& scene, Size size) const;

    // renderToImage as a thumbnail needs it: a frame in which the model covers no pixel is
    // drawn once more with back faces shown (a one-sided plate seen from behind is still a
    // model). When that frame is empty too, there is no image and coveredNothing is set: a
    // square holding only the brand mark would hide the file's type icon.
    struct ThumbnailFrame {
        std::optional<RGBAImage> image;
        bool coveredNothing = false;
    };
    ThumbnailFrame renderThumbnailFrame(Scene& scene, Size size) const;

    // Models too large to load: a file whose format streams (STL) and whose size, or the
    // triangle count its header declares, says it holds more than `triangleThreshold`
    // triangles is mapped, read once for its bounds and returned; nothing else is read then.
    // Nothing for every other file (and for a threshold <= 0): load() it.
    std::shared_ptr<const StreamedModel> openStreamed(const std::filesystem::path& from,
                                                      std::int64_t triangleThreshold) const;

    // renderThumbnailFrame of the model `model` holds, drawn from its file: the triangles
    // pass through the rasteriser once for visibility and only those seen are read again
    // and drawn as a scene, with the same framing, light, shading and watermark.
    ThumbnailFrame renderStreamedThumbnailFrame(const StreamedModel& model, Size size) const;

    // A copy of `on` (drawn at `size`) with the brand mark in its top-left corner.
    std::optional<RGBAImage> drawWatermark(const RGBAImage& on, Size size) const;

    // Maps the format libraries that loading `file` will need (all of them when `file` is
    // empty) into the process now, before a confined process loses the right to map more
    // code. Nothing where they are linked in; failures show when the file is loaded.
    static void prepareFormatLibraries(const std::filesystem::path& file);

private:
    std::shared_ptr<Scene> loadGLTFSync(const std::filesystem::path& url) const;
    std::shared_ptr<Scene> load3MF(const std::filesystem::path& url) const;
    std::shared_ptr<Scene> loadSTL(const std::filesystem::path& url) const;
    std::shared_ptr<Scene> loadVOX(const std::filesystem::path& url) const;
    std::shared_ptr<Scene> loadModelIO(const std::filesystem::path& url) const;

    // The glTF and generic loaders, whose libraries are large: called in this process
    // (FormatLibrariesLinked.cpp, for tests and the loader module itself) or in the loader
    // module opened on first use (FormatModuleHost.cpp, for the programs), so that a
    // program that only reads STL, 3MF or VOX never loads those libraries.
    std::shared_ptr<Scene> loadWithFormatLibraries(FormatLoader loader,
                                                   const std::filesystem::path& from) const;
    friend struct FormatModuleAccess;
};

// The material every STL and 3MF geometry is dressed in: physically based, diffuse an opaque
// grey of white level 0.7, metalness 0.1, roughness 0.6. A new object on every call; one
// load shares one object between all its geometries.
std::shared_ptr<Material> makeDefaultModelMaterial();

}  // namespace kelvo

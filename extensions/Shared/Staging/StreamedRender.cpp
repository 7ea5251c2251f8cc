// Models too large to load, drawn from their file. The picture is the one the whole scene
// would give: only the triangles that own a sample of the frame can show in it, so the
// frame drawn from those alone, in the same order and framing, is the same frame.
#include <cstring>
#include <new>

#include "extensions/Shared/STLScene.h"
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/StreamedModel.h"
#include "extensions/Shared/Staging/RenderSize.h"
#include "extensions/Shared/ThreeMF/ThreeMFLoader.h"
#include "platform/Foundation/Text.h"
#include "platform/Renderer/Renderer.h"

namespace kelvo {

namespace {

// An ASCII STL facet as exporters usually write it takes about 250 bytes; the lower figure
// sends files to the streamed path before they come near the memory budget (a file is
// held whole while it is imported, with about 84 bytes a triangle besides).
constexpr std::uint64_t asciiSTLBytesPerTriangle = 200;
// From this many triangles the visibility pass runs on two threads.
constexpr std::uint64_t twoThreadTriangles = 200000;

// Triangles of no area that stand for the model in a scene: the first corner the file
// holds (where the renderer takes its origin of precision) and the model's bounds (which
// the staging frames). The renderer never draws them.
STLRecord pointRecord(const float corner[3]) {
    STLRecord record{};
    for (int k = 0; k < 3; ++k)
        std::memcpy(record.corners + 3 * k, corner, 12);
    return record;
}

STLRecord boundsRecord(const STLStreamSummary& summary) {
    STLRecord record{};
    std::memcpy(record.corners, summary.lo, 12);
    std::memcpy(record.corners + 3, summary.hi, 12);
    std::memcpy(record.corners + 6, summary.hi, 12);
    return record;
}

std::shared_ptr<Scene> sceneOfRecords(const std::vector<STLRecord>& records) {
    return dressedSTLScene(importSTL(binarySTLFile(records)));
}

std::uint64_t triangleCount(Node& root) {
    std::uint64_t count = 0;
    root.enumerateChildNodes([&](Node& node, bool&) {
        if (!node.geometry) return;
        for (const GeometryElement& element : node.geometry->elements)
            count += static_cast<std::uint64_t>(std::max<std::int64_t>(element.primitiveCount, 0));
    });
    return count;
}

// The package is mapped only while it is read: the scene holds what it needs.
std::shared_ptr<StreamedModel> open3MFInPieces(const std::filesystem::path& from,
                                               std::int64_t triangleThreshold) {
    std::shared_ptr<Scene> scene;
    {
        MappedFile file = mapFileContents(from);
        scene = load3MFSceneInPieces(file.bytes(), triangleThreshold);
    }
    if (!scene) return nullptr;
    auto model = std::make_shared<StreamedModel>();
    model->summary.triangles = triangleCount(*scene->rootNode);
    model->scene = std::move(scene);
    return model;
}

}  // namespace

std::shared_ptr<const StreamedModel> SceneLoader::openStreamed(const std::filesystem::path& from,
                                                               std::int64_t triangleThreshold) const {
    const std::string extension = asciiLowercase(pathExtension(from));
    if (triangleThreshold <= 0) return nullptr;
    if (extension == "3mf") return open3MFInPieces(from, triangleThreshold);
    if (extension != "stl") return nullptr;
    auto model = std::make_shared<StreamedModel>();
    model->file = mapFileContents(from);
    const ByteSpan bytes = model->file.bytes();
    const STLLayout layout = stlLayout(bytes);
    const auto threshold = static_cast<std::uint64_t>(triangleThreshold);
    const bool large = layout.kind == STLLayout::binary   ? layout.binaryTriangles > threshold
                       : layout.kind == STLLayout::ascii ? bytes.size() / asciiSTLBytesPerTriangle >
                                                                threshold
                                                          : false;
    if (!large) return nullptr;
    model->summary = summarizeSTL(model->file);
    return model;
}

SceneLoader::ThumbnailFrame SceneLoader::renderStreamedThumbnailFrame(const StreamedModel& model,
                                                                      Size size) const {
    if (model.scene) return renderThumbnailFrame(*model.scene, size);
    const STLStreamSummary& summary = model.summary;
    std::optional<PixelSize> pixels = renderPixelSize(size);
    if (!pixels) return {};
    try {
        std::vector<STLRecord> framing = {pointRecord(summary.firstCorner)};
        if (summary.bounded) framing.push_back(boundsRecord(summary));
        std::shared_ptr<Scene> standIn = sceneOfRecords(framing);
        std::shared_ptr<Node> camera = setupCameraAndLighting(*standIn, size);
        const size_t pieces = summary.pieces.size();
        const TriangleFeed feed = [&](int part, int parts, const TriangleBatch& take) {
            streamSTLTriangles(model.file, summary, pieces * part / parts,
                               pieces * (part + 1) / parts, take);
        };
        const int parts = summary.triangles >= twoThreadTriangles && pieces > 1 ? 2 : 1;
        const auto [width, height] = *pixels;
        std::vector<std::uint32_t> visible =
            visibleFedTriangles(*standIn, *camera, width, height, feed, parts);
        // The frame the whole scene would give has back faces shown when culling leaves
        // nothing; so does this one.
        if (visible.empty()) {
            visible = visibleFedTriangles(*standIn, *camera, width, height, feed, parts,
                                          RenderOptions{.showBackFaces = true});
        }
        std::vector<STLRecord> records = gatherSTLTriangles(model.file, summary, visible);
        if (visible.empty() || visible.front() != 0) records.insert(records.begin(), framing[0]);
        if (summary.bounded) records.push_back(framing.back());
        std::shared_ptr<Scene> picked = sceneOfRecords(records);
        return renderThumbnailFrame(*picked, size);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace kelvo

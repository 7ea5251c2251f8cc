// A model file too large to load as a scene, open for drawing straight from the file
// (SceneLoader::openStreamed). Every format that streams gives the same three things: how
// many triangles it holds, a feed that hands them all through in the order the whole scene
// would draw them, and the scene of a chosen few of them. The drawing code
// (renderStreamedThumbnailFrame) is the same for all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Renderer/Renderer.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

struct StreamedModel {
    std::uint64_t triangles = 0;  // what the feed hands through
    // Whether the feed can be cut in two parts that run side by side.
    bool splits = false;
    // Hands the triangles through, numbered from 0 in the scene's drawing order (part `part`
    // of `parts`, as visibleFedTriangles asks). Holds the file open.
    TriangleFeed feed;
    // The scene of the triangles numbered `ordinals` (ascending), dressed as the loader
    // dresses the format and framed as the whole model: its first vertex (the renderer's
    // origin of precision) and its bounds are the whole model's, held by triangles of no
    // area that are never drawn. With no ordinals it is the stand-in that lends the
    // visibility pass its framing, transform and material.
    std::function<std::shared_ptr<Scene>(const std::vector<std::uint32_t>& ordinals)> sceneOf;
};

// Sets `model`'s feed for a file read in `pieces` runs of whole triangles: part `part` of
// `parts` streams its share of the pieces, in order, through stream(first, last, take).
template <class Stream>
void feedByPieces(StreamedModel& model, std::size_t pieces, Stream stream) {
    model.splits = pieces > 1;
    model.feed = [pieces, stream](int part, int parts, const TriangleBatch& take) {
        stream(pieces * part / parts, pieces * (part + 1) / parts, take);
    };
}

// The formats' sources, for SceneLoader::openStreamed: nothing when the file is within
// `triangleThreshold` by its size or header (decided before the body is read).
std::shared_ptr<StreamedModel> openStreamedSTL(const std::filesystem::path& from,
                                               std::uint64_t triangleThreshold);
std::shared_ptr<StreamedModel> openStreamedPLY(const std::filesystem::path& from,
                                               std::uint64_t triangleThreshold);
std::shared_ptr<StreamedModel> openStreamedOBJ(const std::filesystem::path& from,
                                               std::uint64_t triangleThreshold);
std::shared_ptr<StreamedModel> openStreamed3MF(const std::filesystem::path& from,
                                               std::uint64_t triangleThreshold);

}  // namespace kelvo

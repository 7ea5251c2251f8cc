// The thumbnailer's policy for models too large to draw in good time.
//
// No file manager limits a thumbnailer, GNOME works through its thumbnails one at a time and
// caches a failure until the file changes, so a huge model must still yield a picture, and
// quickly. Past the memory budget nothing can be loaded (the process limits say so with an
// error); below it, the cost that grows without bound is drawing, which is bounded here by a
// triangle budget:
//
//   1. Count the triangles the scene would draw: each geometry's triangles times the number
//      of nodes that show it.
//   2. Within the budget: nothing changes.
//   3. Over it: every geometry keeps the same fraction f = budget / total of its triangles,
//      taken at an even stride through its index data (file order, which is usually
//      spatially coherent), so the whole model stays in view with its proportions; a
//      geometry whose share rounds down to no triangle is dropped, so the smallest parts go
//      first. Each element keeps its place and so its material; points are kept as they
//      are. Thinning opens holes in a surface that show even at thumbnail sizes, so the
//      budget is set where drawing, not memory, runs out: geometry shown many times over.
//
// Vertex buffers are shared, not copied: thinning writes only new index buffers. A better
// decimation (vertex clustering on a grid of the thumbnail's resolution) would keep surfaces
// closed and can replace step 3 without changing the interface.
//
// Thread safety: works on the one scene it is given, which nobody else may touch meanwhile.
#pragma once

#include <cstdint>

#include "platform/SceneKit/Node.h"

namespace kelvo {

struct SceneBudgetOutcome {
    std::int64_t trianglesBefore = 0;  // drawn triangles, instances counted
    std::int64_t trianglesAfter = 0;
    std::int64_t geometriesThinned = 0;
    std::int64_t geometriesDropped = 0;
};

// The triangles the scene would draw: usable triangles of every geometry, once per node that
// shows it.
std::int64_t drawnTriangleCount(const Node& root);
// Likewise the points of point elements (point clouds), which no budget thins.
std::int64_t drawnPointCount(const Node& root);

// Applies the policy above; `triangleBudget` <= 0 means no budget.
SceneBudgetOutcome fitSceneToTriangleBudget(Scene& scene, std::int64_t triangleBudget);

}  // namespace kelvo

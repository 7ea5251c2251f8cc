// VOX files into scenes, from bytes already in memory (SceneLoader::loadVOX reads the file and
// comes here; the fuzzer and the benchmarks come here directly).
#pragma once

#include <memory>

#include "extensions/Shared/VOX/VoxelMesher.h"
#include "platform/Foundation/ByteBuffer.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

// The scene of a whole VOX file: one child of the root per model that has voxels and fits the
// load's budget, in model order, each carrying its greedy mesh (VoxelMesher.h) and placed at
// the y-up form (x, z, -y) of the translation its scene graph gives it, or at the origin.
// Throws the "SceneLoader" errors -20, -21 and -22 (VOXReader.h).
//
// One budget (VoxelMeshBudget) serves the whole load, so no file can take more than about
// 700 MB of output buffers or mesh more than eight 256^3 grids, however many models it holds.
// A model past the budget is left out (no node, no error), as are its quads; each model is
// charged 16 quads beyond its own for its node and material.
// `budget` is there for tests; callers keep the default.
std::shared_ptr<Scene> loadVOXScene(ByteSpan data, VoxelMeshBudget budget = {});

}  // namespace kelvo

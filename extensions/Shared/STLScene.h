// The scene of an STL model as the loader makes it, shared with the streamed path, which
// builds small scenes of the triangles it picked out and must dress them the same way.
#pragma once

#include <memory>

#include "platform/ModelIO/ModelIO.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

// The imported STL asset as a scene: the shared grey material, turned z-up to y-up.
std::shared_ptr<Scene> dressedSTLScene(ModelAsset asset);

}  // namespace kelvo

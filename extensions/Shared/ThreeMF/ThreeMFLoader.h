// 3MF packages into scenes, from bytes already in memory (SceneLoader::load3MF reads the file
// and comes here; the fuzzer comes here directly).
#pragma once

#include <memory>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

// The scene of a whole 3MF package (the node tree ThreeMFLoader.cpp describes). Throws the
// ZIP reader's ZIPError for a package that cannot be listed or whose root model part cannot
// be extracted, and the "SceneLoader" error -12 when nothing is left to draw. The package is
// kept for the whole load, so it is taken by value: a caller that is done with it moves it in.
std::shared_ptr<Scene> load3MFScene(ByteBuffer package);

}  // namespace kelvo

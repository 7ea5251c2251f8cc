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

// The same scene for a package whose root model part is too large to hold: when the part's
// size, as the ZIP directory declares it, is that of more than `triangleThreshold`
// triangles, its model parts are inflated and scanned in pieces (Fast3MFParser::Stream), so
// that only the meshes are held, never the XML; null for any other package (and for a
// threshold <= 0), which load3MFScene takes. The declared size only chooses the path:
// extraction is bounded as load3MFScene bounds it. Errors as load3MFScene's, and the
// "SceneLoader" error longElementIn3MF.
std::shared_ptr<Scene> load3MFSceneInPieces(ByteSpan package, std::int64_t triangleThreshold);

}  // namespace kelvo

// 3MF packages into scenes, from bytes already in memory (SceneLoader::load3MF reads the file
// and comes here; the fuzzer comes here directly).
#pragma once

#include <memory>

#include "extensions/Shared/ThreeMF/Fast3MFParser.h"
#include "extensions/Shared/ZIP/ZIPReader.h"
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

// A geometry node of the scene below, in drawing order (depth first, children in order):
// the model part whose mesh it draws (a place in the ZIP directory), the mesh's
// ThreeMFMesh::partOrdinal there, and its triangles.
struct ThreeMFDrawnMesh {
    size_t entry = 0;
    std::int64_t mesh = 0;
    std::int64_t triangles = 0;
};

// load3MFSceneInPieces without the triangles: the meshes hold their vertices only, and their
// geometry elements count triangles they do not hold (no index data). `drawn` tells where
// each geometry node's triangles are, for read3MFTriangles; `entries` gets the directory.
// So memory grows with vertices, not triangles.
std::shared_ptr<Scene> load3MFVerticesInPieces(ByteSpan package, std::int64_t triangleThreshold,
                                               std::vector<CentralEntry>& entries,
                                               std::vector<ThreeMFDrawnMesh>& drawn);

// Reads model part `entry` once more in pieces and hands its triangles to `sink`, mesh by
// mesh in document order, holding none of them. Errors as load3MFSceneInPieces's.
void read3MFTriangles(ByteSpan package, const CentralEntry& entry,
                      const Fast3MFParser::Stream::TriangleSink& sink);

}  // namespace kelvo

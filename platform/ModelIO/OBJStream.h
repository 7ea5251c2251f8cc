// OBJ files too large to import, read in passes from their read-only mapping.
//
// The text is cut into pieces of whole lines, about pieceBytes each, read on two threads.
// The first pass keeps every vertex's position (twelve bytes a vertex) and counts the
// elements of each piece; a second counts the triangles of each piece, now that every
// index can be resolved as importOBJ resolves it (negative ones against the elements
// before their line, forward references against the whole file). Later passes hand every
// triangle to the rasteriser, pick out the few that won a sample, and read the colours of
// their vertices.
//
// Lines are read by the importer's own statement readers (OBJSyntax.h) and polygons cut by
// its triangulation. Triangles are numbered in file order; importOBJ draws them grouped by
// material (and forward-referencing faces last), so only a tie of exactly equal depth
// between triangles of two materials can be settled otherwise. The picked triangles are
// grouped as importOBJ groups them. Not kept: normals (the surface is shaded by its faces),
// texture coordinates and textures (a material shows its colour alone), points.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/OBJSyntax.h"

namespace kelvo {

struct OBJPiece {
    std::uint64_t begin = 0, end = 0;  // bytes of the file: whole lines
    obj::ElementCounts before;         // elements of the pieces before
    obj::ElementCounts counts;         // its own
    std::uint64_t firstTriangle = 0;
    std::uint64_t triangles = 0;
    std::string material;  // the material in use where it starts
    bool materialSet = false;
};

struct OBJStreamSummary {
    std::size_t textBegin = 0;
    char terminator = '\n';
    std::vector<OBJPiece> pieces;      // the whole text
    std::vector<OBJPiece> facePieces;  // those with triangles, which the later passes read
    std::vector<float> positions;      // x y z of every vertex
    obj::ElementCounts totals;
    std::uint64_t triangles = 0;
    std::vector<std::string> libraries;  // the mtllib lines, in order
    bool colors = false;                 // some vertex has a colour
    bool bounded = false;                // some vertex is finite; lo and hi are then their box
    float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    float firstVertex[3] = {0, 0, 0};  // where the renderer takes its origin of precision
};

// The first passes; throws importOBJ's error for UTF-16 text, std::bad_alloc when the
// positions do not fit in memory. `pieceBytes` is for tests.
OBJStreamSummary summarizeOBJ(const MappedFile& file, std::uint64_t pieceBytes = 32 << 20);

// Hands the triangles of face pieces [firstPiece, lastPiece) to `sink` in order, in batches
// of corners (nine floats a triangle) numbered on from `first`.
using OBJBatchSink =
    std::function<void(std::uint64_t first, const float* corners, std::size_t count)>;
void streamOBJTriangles(const MappedFile& file, const OBJStreamSummary& summary,
                        std::size_t firstPiece, std::size_t lastPiece, const OBJBatchSink& sink);

// The asset of the triangles numbered `ordinals` (ascending) alone, with the materials of
// the file's libraries (read from beside `url`) and the vertices' colours, framed as the
// whole model: a first element holds a triangle of no area at the first vertex, and the
// bounds.
ModelAsset gatherOBJTriangles(const MappedFile& file, const OBJStreamSummary& summary,
                              const std::vector<std::uint32_t>& ordinals,
                              const std::filesystem::path& url);

}  // namespace kelvo

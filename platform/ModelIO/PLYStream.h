// PLY files too large to import, read in passes from their read-only mapping.
//
// Faces name vertices by number, so the first pass keeps every vertex's position (twelve
// bytes a vertex, no more than the file can hold) with the bounds, and cuts the face rows
// into pieces of about pieceBytes with the number of the first triangle of each. Later
// passes read pieces on two threads: one hands every triangle to the rasteriser, one picks
// out the few that won a sample, and the attributes of their vertices are read last.
//
// Rows are read by the importer's own row readers (PLYRows.h) and polygons cut by its
// triangulation, so the triangles, their numbers (file order, as importPLY stores them),
// the bounds and the first vertex are those of importPLY's scene; a body cut short ends the
// reading where importPLY's ends.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/PLYHeader.h"

namespace kelvo {

struct PLYPiece {
    std::uint64_t begin = 0, end = 0;  // bytes of the file: whole face rows
    std::uint64_t rows = 0;            // face rows, usable or not
    std::uint64_t firstTriangle = 0;
    std::uint64_t triangles = 0;
};

struct PLYStreamSummary {
    PLYHeader header;
    int vertexElement = -1, faceElement = -1;  // the elements read, as importPLY picks them
    std::uint64_t vertexBegin = 0;             // where the vertex rows start
    std::vector<float> positions;              // x y z of every vertex row read
    std::uint64_t vertices = 0;
    std::vector<PLYPiece> pieces;
    std::uint64_t triangles = 0;
    // As importPLY: corners get vertices of their own (per-corner texture coordinates or face
    // colours), so only vertices that faces use count for the bounds and the first vertex.
    bool split = false;
    bool faceColors = false;  // the colours drawn are the faces'
    bool bounded = false;     // some vertex is finite; lo and hi are then their box
    float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    float firstVertex[3] = {0, 0, 0};  // the scene's first vertex
};

// The first pass; throws importPLY's error for a file that is not PLY, std::bad_alloc when
// the positions do not fit in memory. `pieceBytes` is for tests.
PLYStreamSummary summarizePLY(const MappedFile& file, std::uint64_t pieceBytes = 32 << 20);

// The triangle count the header declares, as far as the bytes after it can hold that many
// face rows; 0 for a file that is not PLY. Reads the header alone.
std::uint64_t plyTriangleEstimate(ByteSpan bytes);

// Hands the triangles of pieces [firstPiece, lastPiece) to `sink` in order, in batches of
// corners (nine floats a triangle) numbered on from `first`.
using PLYBatchSink =
    std::function<void(std::uint64_t first, const float* corners, std::size_t count)>;
void streamPLYTriangles(const MappedFile& file, const PLYStreamSummary& summary,
                        std::size_t firstPiece, std::size_t lastPiece, const PLYBatchSink& sink);

// The asset importPLY would make of the triangles numbered `ordinals` (ascending) alone,
// framed as the whole model: a triangle of no area first holds the first vertex and the
// bounds. Colours and normals are kept; texture coordinates are not read (the texture is
// left out: the surface shows the material's colour).
ModelAsset gatherPLYTriangles(const MappedFile& file, const PLYStreamSummary& summary,
                              const std::vector<std::uint32_t>& ordinals);

}  // namespace kelvo

// STL files too large to import, read in passes straight from their read-only mapping.
//
// A thumbnail of a triangle soup needs the soup only one triangle at a time: one pass finds
// the bounds (all the staging needs), a second hands every triangle to the rasteriser, a
// third picks out the few triangles that won a sample. Nothing held grows with the file.
//
// The file is cut into pieces of whole triangles, about pieceBytes each, so that passes can
// run on two cores and a triangle's number can be found again without reading from the
// start: binary pieces hold whole records, ASCII pieces start at a line that starts with
// "facet" (where the reader forgets the facet before), so each piece reads to exactly the
// triangles importSTL finds there, numbered on from the piece before.
//
// Triangles are numbered in file order as importSTL stores them; the bounds and everything
// else match what importSTL's scene would give (non-finite corners are left out of the
// bounds, as Geometry::boundingBox leaves them out).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/STLImporter.h"

namespace kelvo {

struct STLPiece {
    std::uint64_t begin = 0, end = 0;  // bytes of the file
    std::uint64_t firstTriangle = 0;   // the number of its first triangle
    std::uint64_t triangles = 0;
};

struct STLStreamSummary {
    STLLayout layout;
    std::vector<STLPiece> pieces;
    std::uint64_t triangles = 0;
    bool bounded = false;  // some corner is finite; lo and hi are then the finite corners' box
    float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    float firstCorner[3] = {0, 0, 0};  // the first triangle's first corner, as read
};

// The first pass: pieces, triangle count and bounds, on up to two threads. `pieceBytes` is
// for tests; at least one whole triangle goes in a piece.
STLStreamSummary summarizeSTL(const MappedFile& file, std::uint64_t pieceBytes = 32 << 20);

// Hands pieces [firstPiece, lastPiece) to `sink` in order, in batches of corners (nine floats
// a triangle) numbered on from `first`. Pages read are released as it goes.
using STLBatchSink =
    std::function<void(std::uint64_t first, const float* corners, std::size_t count)>;
void streamSTLTriangles(const MappedFile& file, const STLStreamSummary& summary,
                        std::size_t firstPiece, std::size_t lastPiece, const STLBatchSink& sink);

// One triangle as a binary record holds it.
struct STLRecord {
    float normal[3];
    float corners[9];
};

// The triangles numbered `ordinals` (ascending, each below summary.triangles), in that order.
std::vector<STLRecord> gatherSTLTriangles(const MappedFile& file, const STLStreamSummary& summary,
                                          const std::vector<std::uint32_t>& ordinals);

// A binary STL file holding `records`, for importSTL.
ByteBuffer binarySTLFile(const std::vector<STLRecord>& records);

}  // namespace kelvo

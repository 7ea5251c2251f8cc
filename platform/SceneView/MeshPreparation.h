// Geometry made safe for the GPU, before anything is uploaded.
//
// A GPU reads whatever an index points at, so every index of a file is checked here, once,
// on the CPU: a triangle with an index at or past the vertex count, or with a vertex whose
// position is not finite, is left out. What remains can be drawn without any further
// checks. Vertex attributes are not copied: they are described so that the GPU reads them
// straight from the geometry's own buffers (positions, normals and colours as the loaders
// lay them out); only the index lists are rebuilt, as 32-bit indices.
//
// Pure functions over the scene graph; no GL here.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/SceneKit/Geometry.h"

namespace kelvo {

// One vertex attribute as the GPU fetches it from a buffer: the first `components` float
// components of each vector. Absent when `buffer` is null.
struct VertexAttribute {
    std::shared_ptr<const ByteBuffer> buffer;
    std::int64_t offset = 0;
    std::int64_t stride = 12;
    int components = 3;

    bool present() const { return buffer != nullptr; }
};

// One element's triangles (or points), every index below the geometry's vertex count.
struct PreparedElement {
    bool points = false;                 // one index per point; the counts below count points then
    std::vector<std::uint32_t> indices;  // three per triangle; empty when sequential
    // Triangles 0-1-2, 3-4-5, ... over the first vertices, every one kept (the layout of
    // STL files, whose corners are not shared): drawn from the vertices directly, without
    // an index list to copy, upload and fetch.
    bool sequential = false;
    std::int64_t triangleCount = 0;
    int materialIndex = -1;             // into Geometry::materials; -1 when there is none
    std::int64_t skippedTriangles = 0;  // bad index or non-finite vertex
};

struct PreparedGeometry {
    VertexAttribute position;
    VertexAttribute normal;    // absent: the renderer uses face normals
    VertexAttribute color;     // absent: white; 3 components, or 4 with alpha
    VertexAttribute texcoord;  // the first UV set, 2 components; absent: (0, 0)
    std::int64_t vertexCount = 0;
    std::vector<PreparedElement> elements;
    BoundingBox bounds;  // of the finite positions, in the geometry's own space

    std::int64_t triangleCount() const;
    std::int64_t pointCount() const;
    std::int64_t skippedTriangles() const;  // and points
};

// The drawable form of `geometry`. The vertex count is the number of positions that lie
// wholly inside their buffer. Positions, normals and colours are read as float triples
// (4-byte floats, three or more per vector; colours with four or more keep their alpha),
// texture coordinates as float pairs, as the CPU renderer reads them; a source of another
// layout, or that does not cover every vertex, is dropped (the renderer then uses face
// normals, white, or no texture coordinates). Elements that are neither triangle lists nor
// points are skipped. Element i uses material i modulo the number of materials, as the
// scene graph defines.
PreparedGeometry prepareGeometry(const Geometry& geometry);

}  // namespace kelvo

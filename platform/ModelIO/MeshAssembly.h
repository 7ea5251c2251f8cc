// The common last step of every importer: the buffers of one mesh, in the scene graph's
// layouts, become a Geometry without being copied. Also the helpers that fill them.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/SceneKit/Geometry.h"

namespace kelvo {

// Appends `count` values to a byte buffer, which grows geometrically.
template <class T>
void appendValues(ByteBuffer& buffer, const T* values, std::size_t count) {
    if (count == 0) return;
    const std::size_t at = buffer.size();
    buffer.resize(at + count * sizeof(T));
    std::memcpy(buffer.data() + at, values, count * sizeof(T));
}

struct MeshElement {
    ByteBuffer indices;  // unsigned 32-bit, three per triangle or one per point
    std::int64_t primitiveCount = 0;
    bool points = false;
    std::shared_ptr<Material> material;  // may be null
};

// One mesh: float triples for positions and normals, colours as float triples or
// quadruples, texture coordinates as float pairs (v growing downwards in the image). Empty
// buffers are left out of the geometry; filled ones hold `vertexCount` vectors.
struct MeshBuffers {
    ByteBuffer positions;
    ByteBuffer normals;
    ByteBuffer colors;
    int colorComponents = 3;
    ByteBuffer texcoords;
    std::int64_t vertexCount = 0;
    std::vector<MeshElement> elements;
};

// The geometry of `mesh`, its materials one per element in order; null when no element
// has a primitive. Elements without primitives are left out.
std::shared_ptr<Geometry> makeGeometry(MeshBuffers&& mesh);

// The material of geometry whose file names none: a neutral grey, physically based
// surface, or a white one when vertex colours give the colour.
std::shared_ptr<Material> makeUnnamedMaterial(bool vertexColors);

// Texture coordinates in files put v = 0 at the bottom of the image; the scene graph has it
// at the top.
inline float flipV(float v) {
    return 1.0f - v;
}

}  // namespace kelvo

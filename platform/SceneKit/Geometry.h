// Triangle geometry over byte buffers.
//
// A source describes one per-vertex attribute inside a byte buffer (count, component type,
// offset, stride); an element is an index buffer. The layouts the loaders use are fixed:
// positions and normals as 32-bit float triples with stride 12; colours as float triples
// (stride 12) or, with opacity, float quadruples (stride 16), sRGB-encoded; texture
// coordinates (the first UV set) as float pairs with stride 8, v growing downwards in the
// image as glTF has it; triangles and points as unsigned 32-bit indices. Nothing here trusts the numbers: the usable counts are clamped
// to what the buffers hold, and every consumer must still check each index against the
// vertex count.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/SceneKit/Material.h"
#include "platform/SceneKit/SceneMath.h"

namespace kelvo {

enum class GeometrySemantic { vertex, normal, color, texcoord };

const char* semanticName(GeometrySemantic semantic);

struct GeometrySource {
    std::shared_ptr<const ByteBuffer> data;
    GeometrySemantic semantic = GeometrySemantic::vertex;
    std::int64_t vectorCount = 0;
    bool floatComponents = true;
    std::int64_t componentsPerVector = 3;
    std::int64_t bytesPerComponent = 4;
    std::int64_t dataOffset = 0;
    std::int64_t dataStride = 12;

    // The usual layout: `vectorCount` float triples, packed (stride 12), taking ownership of
    // the buffer without copying it.
    static GeometrySource floatTriples(ByteBuffer bytes, GeometrySemantic semantic,
                                       std::int64_t vectorCount);
    // `vectorCount` packed float vectors of `components` each (2 for texture coordinates,
    // 4 for colours with alpha), taking ownership of the buffer.
    static GeometrySource floats(ByteBuffer bytes, GeometrySemantic semantic,
                                 std::int64_t vectorCount, std::int64_t components);

    // How many of the declared vectors lie wholly inside the buffer (0 for a broken layout).
    std::int64_t usableVectorCount() const;
    // True for float components of 4 bytes with at least three per vector: the layout that
    // readFloat3 serves.
    bool hasFloat3Layout() const;
    // The first three components of vector i; requires hasFloat3Layout() and
    // i < usableVectorCount().
    void readFloat3(std::int64_t i, float out[3]) const {
        std::memcpy(out, data->data() + dataOffset + i * dataStride, 12);
    }
};

enum class PrimitiveType { triangles, triangleStrip, line, point };

struct GeometryElement {
    std::shared_ptr<const ByteBuffer> data;
    PrimitiveType primitiveType = PrimitiveType::triangles;
    std::int64_t primitiveCount = 0;
    std::int64_t bytesPerIndex = 4;

    // Triangles as unsigned 32-bit indices, taking ownership of the buffer.
    static GeometryElement triangles(ByteBuffer bytes, std::int64_t triangleCount);
    // Points (a point cloud) as unsigned 32-bit indices, one per point.
    static GeometryElement points(ByteBuffer bytes, std::int64_t pointCount);

    // Triangles (for primitive type triangles) that lie wholly inside the buffer; 0 for any
    // other primitive type or index size than 1, 2 or 4 bytes.
    std::int64_t usableTriangleCount() const;
    // Likewise the points of a point element (one index each); 0 for any other type.
    std::int64_t usablePointCount() const;
    // Index number i of the buffer (not checked: i < 3 * usableTriangleCount()).
    std::uint32_t index(std::int64_t i) const {
        const std::uint8_t* p = data->data() + i * bytesPerIndex;
        switch (bytesPerIndex) {
            case 1: return p[0];
            case 2: {
                std::uint16_t v;
                std::memcpy(&v, p, 2);
                return v;
            }
            default: {
                std::uint32_t v;
                std::memcpy(&v, p, 4);
                return v;
            }
        }
    }
};

struct Geometry {
    std::vector<GeometrySource> sources;
    std::vector<GeometryElement> elements;
    std::vector<std::shared_ptr<Material>> materials;

    Geometry() = default;
    Geometry(std::vector<GeometrySource> s, std::vector<GeometryElement> e)
        : sources(std::move(s)), elements(std::move(e)) {}

    // The first source with the given semantic, or null.
    const GeometrySource* source(GeometrySemantic semantic) const;
    // Vertices (of the vertex source), triangles and points (of all elements) as declared.
    std::int64_t vertexCount() const;
    std::int64_t triangleCount() const;
    std::int64_t pointCount() const;

    // The box of all finite vertex positions in the geometry's own space; empty when there
    // is none. Vertices that no triangle uses count too, as they do for the platform's box.
    BoundingBox boundingBox() const;
    // The box of the vertex positions mapped by `transform`.
    BoundingBox boundingBox(const Mat4& transform) const;
};

}  // namespace kelvo

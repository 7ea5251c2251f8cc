// What reaches the GPU: every index below the vertex count, every vertex finite, every
// attribute readable for every vertex.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/SceneView/MeshPreparation.h"

namespace kelvo {
namespace {

template <class T>
ByteBuffer bytesOf(std::initializer_list<T> values) {
    ByteBuffer b(values.size() * sizeof(T));
    std::memcpy(b.data(), values.begin(), b.size());
    return b;
}

GeometryElement triangles(std::initializer_list<std::uint32_t> indices) {
    return GeometryElement::triangles(bytesOf(indices),
                                      static_cast<std::int64_t>(indices.size() / 3));
}

// Six vertices, the last one optionally broken.
Geometry sixVertices(float last = 1.0f) {
    Geometry g;
    g.sources.push_back(GeometrySource::floatTriples(
        bytesOf<float>({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1, last}),
        GeometrySemantic::vertex, 6));
    return g;
}

TEST(MeshPreparation, trianglesWithAnIndexPastTheVerticesOrANonFiniteVertexAreLeftOut) {
    Geometry g = sixVertices();
    g.elements.push_back(triangles({0, 1, 2, 0, 2, 6, 0, 2, 3, 4000000000u, 1, 2}));
    PreparedGeometry p = prepareGeometry(g);
    ASSERT_EQ(p.elements.size(), 1u);
    EXPECT_EQ(p.elements[0].indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(p.skippedTriangles(), 2);
    EXPECT_EQ(p.triangleCount(), 2);
    for (float broken :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        g = sixVertices(broken);
        // In order and unshared, these corners would need no index list: one broken vertex
        // and the list is kept, and checked.
        g.elements = {triangles({0, 1, 2, 3, 4, 5})};
        p = prepareGeometry(g);
        EXPECT_EQ(p.triangleCount(), 1);
        EXPECT_EQ(p.skippedTriangles(), 1);
        EXPECT_EQ(p.elements[0].indices, (std::vector<std::uint32_t>{0, 1, 2}));
        EXPECT_EQ(p.bounds.max.z, 1.0);  // the broken vertex is out of the box
        EXPECT_EQ(p.bounds.max.y, 1.0);
    }
}

TEST(MeshPreparation, narrowIndicesAreWidenedAndMaterialsRepeat) {
    Geometry g = sixVertices();
    GeometryElement shorts;
    shorts.data = std::make_shared<const ByteBuffer>(bytesOf<std::uint16_t>({0, 1, 2, 0, 2, 3}));
    shorts.primitiveCount = 2;
    shorts.bytesPerIndex = 2;
    GeometryElement bytes;
    bytes.data = std::make_shared<const ByteBuffer>(bytesOf<std::uint8_t>({3, 2, 1}));
    bytes.primitiveCount = 1;
    bytes.bytesPerIndex = 1;
    GeometryElement strip = bytes;
    strip.primitiveType = PrimitiveType::triangleStrip;  // not drawn
    g.elements = {shorts, bytes, strip, shorts};
    g.materials = {std::make_shared<Material>(), std::make_shared<Material>(),
                   std::make_shared<Material>()};
    PreparedGeometry p = prepareGeometry(g);
    ASSERT_EQ(p.elements.size(), 3u);
    EXPECT_EQ(p.elements[0].indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(p.elements[1].indices, (std::vector<std::uint32_t>{3, 2, 1}));
    EXPECT_EQ(p.elements[1].materialIndex, 1);
    EXPECT_EQ(p.elements[2].materialIndex, 0);  // element 3 of 3 materials
}

TEST(MeshPreparation, attributesThatCannotBeReadForEveryVertexAreDropped) {
    Geometry g = sixVertices();
    g.elements.push_back(triangles({0, 1, 2}));
    // Three normals for six vertices: dropped. Four-component float colours: read with their
    // alpha. Texture coordinates as pairs.
    g.sources.push_back(GeometrySource::floatTriples(bytesOf<float>({0, 0, 1, 0, 0, 1, 0, 0, 1}),
                                                     GeometrySemantic::normal, 6));
    GeometrySource colors =
        GeometrySource::floatTriples(ByteBuffer(96, 0), GeometrySemantic::color, 6);
    colors.componentsPerVector = 4;
    colors.dataStride = 16;
    g.sources.push_back(colors);
    PreparedGeometry p = prepareGeometry(g);
    EXPECT_FALSE(p.normal.present());
    ASSERT_TRUE(p.color.present());
    EXPECT_EQ(p.color.stride, 16);
    EXPECT_EQ(p.color.components, 4);
    EXPECT_FALSE(p.texcoord.present());
    g.sources.push_back(
        GeometrySource::floats(ByteBuffer(48, 0), GeometrySemantic::texcoord, 6, 2));
    EXPECT_EQ(prepareGeometry(g).texcoord.components, 2);
    g.sources.pop_back();
    // A stride of 0 would be read as packed by the GPU, past the end of a one-vector buffer.
    g.sources[2].dataStride = 0;
    g.sources[2].data = std::make_shared<const ByteBuffer>(ByteBuffer(16, 0));
    EXPECT_FALSE(prepareGeometry(g).color.present());
    // Colours in bytes or in doubles are not read, as the CPU renderer does not read them.
    for (std::int64_t bytes : {1, 8}) {
        g.sources[2] = colors;
        g.sources[2].floatComponents = bytes == 8;
        g.sources[2].bytesPerComponent = bytes;
        EXPECT_FALSE(prepareGeometry(g).color.present()) << bytes;
    }
    // Positions that are not floats, or none at all: nothing is drawn.
    g.sources[0].floatComponents = false;
    EXPECT_EQ(prepareGeometry(g).triangleCount(), 0);
    EXPECT_TRUE(prepareGeometry(g).bounds.isEmpty());
    g.sources.clear();
    EXPECT_EQ(prepareGeometry(g).triangleCount(), 0);
}

TEST(MeshPreparation, pointsKeepTheirGoodIndicesAndAreNotCountedAsTriangles) {
    Geometry g = sixVertices(std::numeric_limits<float>::quiet_NaN());
    g.elements = {GeometryElement::points(bytesOf<std::uint32_t>({4, 5, 6, 0}), 4),
                  triangles({0, 1, 2})};
    PreparedGeometry p = prepareGeometry(g);
    ASSERT_EQ(p.elements.size(), 2u);
    EXPECT_TRUE(p.elements[0].points);
    EXPECT_EQ(p.elements[0].indices, (std::vector<std::uint32_t>{4, 0}));
    EXPECT_EQ(p.pointCount(), 2);
    EXPECT_EQ(p.triangleCount(), 1);
    EXPECT_EQ(p.skippedTriangles(), 2);  // the broken vertex 5 and the index past the end
}

}  // namespace
}  // namespace kelvo

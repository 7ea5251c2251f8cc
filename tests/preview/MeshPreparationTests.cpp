// What reaches the GPU: every index below the vertex count, every vertex finite, every
// attribute readable for every vertex.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/SceneView/MeshPreparation.h"

namespace kelvo {
namespace {

ByteBuffer floats(std::initializer_list<float> values) {
    ByteBuffer b(values.size() * 4);
    std::memcpy(b.data(), values.begin(), values.size() * 4);
    return b;
}

ByteBuffer indices32(std::initializer_list<std::uint32_t> values) {
    ByteBuffer b(values.size() * 4);
    std::memcpy(b.data(), values.begin(), values.size() * 4);
    return b;
}

// Four vertices: a unit square in z = 0, the last one optionally broken.
Geometry square(float last = 1.0f) {
    Geometry g;
    g.sources.push_back(GeometrySource::floatTriples(
        floats({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, last, 0}), GeometrySemantic::vertex, 4));
    return g;
}

TEST(MeshPreparation, trianglesWithAnIndexPastTheVerticesAreLeftOut) {
    Geometry g = square();
    g.elements.push_back(
        GeometryElement::triangles(indices32({0, 1, 2, 0, 2, 4, 0, 2, 3, 4000000000u, 1, 2}), 4));
    PreparedGeometry p = prepareGeometry(g);
    ASSERT_EQ(p.elements.size(), 1u);
    EXPECT_EQ(p.elements[0].indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(p.skippedTriangles(), 2);
    EXPECT_EQ(p.triangleCount(), 2);
    EXPECT_EQ(p.vertexCount, 4);
}

TEST(MeshPreparation, trianglesWithANonFiniteVertexAreLeftOutAndOutOfTheBox) {
    for (float broken :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        Geometry g = square(broken);
        g.elements.push_back(GeometryElement::triangles(indices32({0, 1, 2, 0, 2, 3}), 2));
        PreparedGeometry p = prepareGeometry(g);
        EXPECT_EQ(p.triangleCount(), 1);
        EXPECT_EQ(p.skippedTriangles(), 1);
        EXPECT_EQ(p.bounds.max.y, 1.0);
        EXPECT_FALSE(p.bounds.isEmpty());
    }
}

TEST(MeshPreparation, narrowIndicesAreWidenedAndMaterialsRepeat) {
    Geometry g = square();
    GeometryElement shorts;
    std::uint16_t s[6] = {0, 1, 2, 0, 2, 3};
    shorts.data = std::make_shared<const ByteBuffer>(
        ByteBuffer(reinterpret_cast<std::uint8_t*>(s), reinterpret_cast<std::uint8_t*>(s) + 12));
    shorts.primitiveCount = 2;
    shorts.bytesPerIndex = 2;
    GeometryElement bytes;
    std::uint8_t b[3] = {3, 2, 1};
    bytes.data = std::make_shared<const ByteBuffer>(ByteBuffer(b, b + 3));
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
    EXPECT_EQ(p.elements[0].materialIndex, 0);
    EXPECT_EQ(p.elements[1].materialIndex, 1);
    EXPECT_EQ(p.elements[2].materialIndex, 0);  // element 3 of 3 materials
}

TEST(MeshPreparation, attributesThatCannotBeReadForEveryVertexAreDropped) {
    Geometry g = square();
    g.elements.push_back(GeometryElement::triangles(indices32({0, 1, 2}), 1));
    // Three normals for four vertices: dropped. Four-component float colours: their first
    // three components are read.
    g.sources.push_back(GeometrySource::floatTriples(floats({0, 0, 1, 0, 0, 1, 0, 0, 1}),
                                                     GeometrySemantic::normal, 4));
    GeometrySource colors =
        GeometrySource::floatTriples(ByteBuffer(64, 0), GeometrySemantic::color, 4);
    colors.componentsPerVector = 4;
    colors.dataStride = 16;
    g.sources.push_back(colors);
    PreparedGeometry p = prepareGeometry(g);
    EXPECT_FALSE(p.normal.present());
    ASSERT_TRUE(p.color.present());
    EXPECT_EQ(p.color.stride, 16);

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
}

TEST(MeshPreparation, unsharedCornersInOrderNeedNoIndexList) {
    Geometry g;
    g.sources.push_back(
        GeometrySource::floatTriples(floats({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, 1}),
                                     GeometrySemantic::vertex, 6));
    g.elements.push_back(GeometryElement::triangles(indices32({0, 1, 2, 3, 4, 5}), 2));
    PreparedGeometry p = prepareGeometry(g);
    ASSERT_EQ(p.elements.size(), 1u);
    EXPECT_TRUE(p.elements[0].sequential);
    EXPECT_TRUE(p.elements[0].indices.empty());
    EXPECT_EQ(p.triangleCount(), 2);
    // One index out of order, or one broken vertex, and the list is kept (and checked).
    g.elements[0] = GeometryElement::triangles(indices32({0, 1, 2, 3, 5, 4}), 2);
    EXPECT_FALSE(prepareGeometry(g).elements[0].sequential);
    g.elements[0] = GeometryElement::triangles(indices32({0, 1, 2, 3, 4, 5}), 2);
    float nan = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(const_cast<std::uint8_t*>(g.sources[0].data->data()) + 4 * 12, &nan, 4);
    p = prepareGeometry(g);
    EXPECT_FALSE(p.elements[0].sequential);
    EXPECT_EQ(p.elements[0].indices, (std::vector<std::uint32_t>{0, 1, 2}));
}

TEST(MeshPreparation, withoutUsablePositionsNothingIsDrawn) {
    Geometry none;
    none.elements.push_back(GeometryElement::triangles(indices32({0, 1, 2}), 1));
    EXPECT_EQ(prepareGeometry(none).triangleCount(), 0);
    Geometry ints = square();
    ints.sources[0].floatComponents = false;
    ints.elements = none.elements;
    EXPECT_EQ(prepareGeometry(ints).triangleCount(), 0);
    EXPECT_TRUE(prepareGeometry(ints).bounds.isEmpty());
}

}  // namespace
}  // namespace kelvo

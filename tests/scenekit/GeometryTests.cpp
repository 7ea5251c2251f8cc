#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/SceneKit/Geometry.h"

namespace kelvo {
namespace {

TEST(Geometry, elementsAndSourcesReadOnlyWhatTheirBytesHold) {
    // 2.5 float triples of bytes, declared as a million.
    GeometrySource source =
        GeometrySource::floatTriples(ByteBuffer(30), GeometrySemantic::vertex, 1000000);
    EXPECT_EQ(source.usableVectorCount(), 2);

    source.dataOffset = 20;  // one whole vector left after the offset
    EXPECT_EQ(source.usableVectorCount(), 0);
    source.dataOffset = 18;
    EXPECT_EQ(source.usableVectorCount(), 1);
    source.dataOffset = -4;
    EXPECT_EQ(source.usableVectorCount(), 0);
    source.dataOffset = 0;
    source.dataStride = std::int64_t{1} << 62;  // absurd strides do not overflow
    EXPECT_EQ(source.usableVectorCount(), 0);

    GeometryElement element = GeometryElement::triangles(ByteBuffer(25), 5);
    EXPECT_EQ(element.usableTriangleCount(), 2);
    element.primitiveCount = -1;
    EXPECT_EQ(element.usableTriangleCount(), 0);
    element.primitiveCount = 5;
    element.bytesPerIndex = 3;
    EXPECT_EQ(element.usableTriangleCount(), 0);

    // Indices are read little-endian at every width.
    element = GeometryElement::triangles(ByteBuffer{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 1);
    EXPECT_EQ(element.index(1), 0x08070605u);
    element.bytesPerIndex = 2;
    EXPECT_EQ(element.index(2), 0x0605u);
    element.bytesPerIndex = 1;
    EXPECT_EQ(element.index(2), 3u);
}

std::shared_ptr<Geometry> points(const std::vector<float>& xyz) {
    ByteBuffer bytes(xyz.size() * 4);
    std::memcpy(bytes.data(), xyz.data(), bytes.size());
    std::vector<GeometrySource> sources{GeometrySource::floatTriples(
        std::move(bytes), GeometrySemantic::vertex, static_cast<std::int64_t>(xyz.size() / 3))};
    return std::make_shared<Geometry>(std::move(sources), std::vector<GeometryElement>{});
}

TEST(Geometry, boxSkipsNonFiniteVerticesWhereverTheyStand) {
    // Nine vertices: two packed groups of four and one left over, bad ones in each part.
    const float nan = std::nanf(""), inf = INFINITY;
    auto g = points({0, 0,  0, nan, 5, 5, 1,    -2, 3, inf,  0, 0,   2, 2,
                     2, -1, 1, 1,   0, 0, -inf, 4,  0, 0.5f, 0, nan, 0});
    BoundingBox box = g->boundingBox();
    EXPECT_EQ(box.min, (Vec3{-1, -2, 0}));
    EXPECT_EQ(box.max, (Vec3{4, 2, 3}));
}

TEST(Geometry, boxThroughATransformIsTheBoxOfTheTransformedPoints) {
    auto g = points({1, 0, 0, 0, 1, 0, -1, 0, 0, 0, -1, 0});  // a diamond in z = 0
    // A quarter turn about x as the loaders compute it (cos leaves 6e-17 for 0): exact.
    Mat4 quarter = rotationFromEuler({-1.5707963267948966, 0, 0});
    quarter.m[3][2] = 10;
    BoundingBox turned = g->boundingBox(quarter);
    EXPECT_NEAR(turned.min.x, -1, 1e-15);
    EXPECT_NEAR(turned.max.y, 0, 1e-15);
    EXPECT_NEAR(turned.min.z, 9, 1e-15);
    EXPECT_NEAR(turned.max.z, 11, 1e-15);
    // (Turned by 45 degrees, the box is measured on the vertices: NodeTests.)
}

}  // namespace
}  // namespace kelvo

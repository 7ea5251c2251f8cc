#include <gtest/gtest.h>

#include "platform/SceneKit/Geometry.h"

namespace kelvo {
namespace {

TEST(Geometry, usableCountsNeverReachPastTheBuffer) {
    // 2.5 float triples of bytes, declared as a million.
    GeometrySource source = GeometrySource::floatTriples(ByteBuffer(30), GeometrySemantic::vertex, 1000000);
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
}

TEST(Geometry, indicesAreReadLittleEndianAtEveryWidth) {
    ByteBuffer bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    GeometryElement element = GeometryElement::triangles(bytes, 1);
    EXPECT_EQ(element.index(1), 0x08070605u);
    element.bytesPerIndex = 2;
    EXPECT_EQ(element.index(2), 0x0605u);
    element.bytesPerIndex = 1;
    EXPECT_EQ(element.index(2), 3u);
}

}  // namespace
}  // namespace kelvo

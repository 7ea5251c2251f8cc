#include <gtest/gtest.h>

#include <cmath>

#include "platform/ModelIO/STLImporter.h"
#include "tests/support/ImportedGeometry.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

using test::expectConsistent;
using test::floats;
using test::geometryOf;

std::vector<float> normals(const ModelAsset& asset) {
    return floats(geometryOf(asset).source(GeometrySemantic::normal));
}

const std::vector<test::STLTriangle> twoTriangles = {
    {{0, 0, 2}, {0, 0, 0, 1, 0, 0, 0, 1, 0}},
    {{0, 0, 0}, {0, 0, 0, 0, 1, 0, 0, 0, 1}},
};

TEST(STLImporter, facetNormalsAreUnitLengthAndRecomputedWhenUnusable) {
    const float nan = std::nanf("");
    std::vector<test::STLTriangle> triangles = twoTriangles;
    triangles.push_back({{nan, INFINITY, 0}, {0, 0, 0, 0, 0, 1, 1, 0, 0}});
    ModelAsset asset = importSTL(test::span(test::binarySTL(triangles)));
    std::vector<float> n = normals(asset);
    ASSERT_EQ(n.size(), 27u);
    EXPECT_EQ((std::vector<float>(n.begin(), n.begin() + 3)), (std::vector<float>{0, 0, 1}));  // scaled
    EXPECT_EQ((std::vector<float>(n.begin() + 9, n.begin() + 12)), (std::vector<float>{1, 0, 0}));  // zero
    EXPECT_EQ((std::vector<float>(n.begin() + 18, n.begin() + 21)), (std::vector<float>{0, 1, 0}));  // NaN
    EXPECT_EQ(n[3], n[0]);  // each corner carries the facet normal
}

TEST(STLImporter, largeFilesConvertedOnTwoThreadsKeepEveryTriangleInPlace) {
    // Enough triangles for the second thread; each one's corners and normal tell it apart,
    // so a triangle written to the wrong place or twice shows.
    constexpr int count = 200003;
    std::vector<test::STLTriangle> triangles;
    for (int t = 0; t < count; ++t) {
        const float x = static_cast<float>(t);
        // Zero normals, recomputed: +Z for even triangles, -Z for odd ones.
        if (t % 2 == 0) triangles.push_back({{0, 0, 0}, {x, 0, 0, x + 1, 0, 0, x, 1, 0}});
        if (t % 2 == 1) triangles.push_back({{0, 0, 0}, {x, 0, 0, x, 1, 0, x + 1, 0, 0}});
    }
    ModelAsset asset = importSTL(test::span(test::binarySTL(triangles)));
    ASSERT_EQ(geometryOf(asset).triangleCount(), count);
    const std::vector<float> p = floats(geometryOf(asset).source(GeometrySemantic::vertex));
    const std::vector<float> n = normals(asset);
    ASSERT_EQ(p.size(), size_t{count} * 9);
    ASSERT_EQ(n.size(), size_t{count} * 9);
    for (size_t t = 0; t < size_t{count}; ++t) {
        ASSERT_EQ(p[t * 9], static_cast<float>(t)) << t;
        ASSERT_EQ(n[t * 9 + 8], t % 2 == 0 ? 1.0f : -1.0f) << t;
        ASSERT_EQ(n[t * 9 + 2], n[t * 9 + 8]) << t;
    }
}

TEST(STLImporter, aLyingCountNeverReachesPastTheFile) {
    // Two triangles held, four billion declared: only what the file holds is read.
    test::Bytes file = test::binarySTL(twoTriangles, "", 0xFFFFFFFFll);
    ModelAsset asset = importSTL(test::span(file));
    expectConsistent(asset);
    EXPECT_EQ(geometryOf(asset).triangleCount(), 2);
    // A truncated file shows its whole triangles.
    file.resize(file.size() - 10);
    asset = importSTL(test::span(file));
    EXPECT_EQ(geometryOf(asset).triangleCount(), 1);
}

TEST(STLImporter, asciiIsReadLenientlyWhateverTheLineEndings) {
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        std::string text = std::string("  solid  My Part  ") + eol + "FACET NORMAL 0 0 +1" + eol +
                           "outer loop" + eol + "vertex 0 0 0" + eol + "vertex 1e0 0 0" + eol +
                           "vertex 0 1.0 0" + eol + "endloop junk" + eol + "endfacet" + eol +
                           "endsolid My Part" + eol;
        ModelAsset asset = importSTL(ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        expectConsistent(asset);
        ASSERT_EQ(asset.objects.size(), 1u);
        EXPECT_EQ(asset.objects[0]->name, "My Part");
        EXPECT_EQ(floats(geometryOf(asset).source(GeometrySemantic::vertex))[3], 1.0f);
        EXPECT_EQ(normals(asset)[2], 1.0f);
    }
}

TEST(STLImporter, asciiPolygonsBecomeFansAndBrokenNumbersRecomputeNormals) {
    std::string text =
        "solid q\nfacet normal +inf -inf weirdvalue\nouter loop\n"
        "vertex 0 0 0\nvertex 1 0 0\nvertex 1 1 0\nvertex 0 1 0\nendloop\nendfacet\n"
        "facet\nvertex 0 0 0\nvertex 0 0 0\nvertex 0 0 40\n"  // no endfacet, no area
        "endsolid q\n";
    ModelAsset asset = importSTL(ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    expectConsistent(asset);
    ASSERT_EQ(asset.objects.size(), 1u);
    EXPECT_EQ(geometryOf(asset).triangleCount(), 3);
    std::vector<float> n = normals(asset);
    EXPECT_EQ(n[2], 1.0f);   // recomputed from the vertices
    EXPECT_EQ(n[11], 1.0f);  // second fan triangle too
    EXPECT_EQ(n[20], 0.0f);  // a line has no normal
}

TEST(STLImporter, everyPrefixOfAFileImportsSafely) {
    test::Bytes binary = test::binarySTL(twoTriangles, "solid x");
    std::string ascii =
        "solid s\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
        "endloop\nendfacet\nendsolid s\n";
    for (const test::Bytes& whole : {binary, test::Bytes(ascii.begin(), ascii.end())}) {
        for (size_t n = 0; n <= whole.size(); ++n) {
            // An exact-size heap copy, so that ASan sees any read past the end.
            std::unique_ptr<std::uint8_t[]> prefix(new std::uint8_t[n ? n : 1]);
            std::memcpy(prefix.get(), whole.data(), n);
            expectConsistent(importSTL(ByteSpan(prefix.get(), n)));
        }
    }
}

}  // namespace
}  // namespace kelvo

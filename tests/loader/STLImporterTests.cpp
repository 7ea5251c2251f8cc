#include <gtest/gtest.h>

#include <cmath>

#include "platform/ModelIO/STLImporter.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

std::vector<float> floats(const ByteBuffer& b) {
    std::vector<float> out(b.size() / 4);
    std::memcpy(out.data(), b.data(), out.size() * 4);
    return out;
}

// Every mesh's buffers agree with its counts and every index is in range.
void expectConsistent(const ModelAsset& asset) {
    ASSERT_EQ(asset.meshes.size(), asset.objects.size());
    for (const AssetMesh& m : asset.meshes) {
        ASSERT_GT(m.triangleCount, 0);
        ASSERT_EQ(m.positions.size(), static_cast<size_t>(m.vertexCount) * 12);
        ASSERT_EQ(m.normals.size(), static_cast<size_t>(m.vertexCount) * 12);
        ASSERT_EQ(m.indices.size(), static_cast<size_t>(m.triangleCount) * 12);
        for (size_t i = 0; i < m.indices.size(); i += 4) {
            std::uint32_t index;
            std::memcpy(&index, m.indices.data() + i, 4);
            ASSERT_LT(index, static_cast<std::uint64_t>(m.vertexCount));
        }
    }
}

const std::vector<test::STLTriangle> twoTriangles = {
    {{0, 0, 2}, {0, 0, 0, 1, 0, 0, 0, 1, 0}},
    {{0, 0, 0}, {0, 0, 0, 0, 1, 0, 0, 0, 1}},
};

TEST(STLImporter, binaryIsRecognisedBySizeEvenWithASolidHeader) {
    test::Bytes file = test::binarySTL(twoTriangles, "solid looks like text");
    ModelAsset asset = importSTL(test::span(file));
    expectConsistent(asset);
    ASSERT_EQ(asset.meshes.size(), 1u);
    EXPECT_EQ(asset.meshes[0].triangleCount, 2);
    EXPECT_EQ(floats(asset.meshes[0].positions)[3], 1.0f);
}

TEST(STLImporter, facetNormalsAreUnitLengthAndRecomputedWhenUnusable) {
    const float nan = std::nanf("");
    std::vector<test::STLTriangle> triangles = twoTriangles;
    triangles.push_back({{nan, INFINITY, 0}, {0, 0, 0, 0, 0, 1, 1, 0, 0}});
    ModelAsset asset = importSTL(test::span(test::binarySTL(triangles)));
    std::vector<float> n = floats(asset.meshes.at(0).normals);
    ASSERT_EQ(n.size(), 27u);
    EXPECT_EQ((std::vector<float>(n.begin(), n.begin() + 3)), (std::vector<float>{0, 0, 1}));  // scaled
    EXPECT_EQ((std::vector<float>(n.begin() + 9, n.begin() + 12)), (std::vector<float>{1, 0, 0}));  // zero
    EXPECT_EQ((std::vector<float>(n.begin() + 18, n.begin() + 21)), (std::vector<float>{0, 1, 0}));  // NaN
    EXPECT_EQ(n[3], n[0]);  // each corner carries the facet normal
}

TEST(STLImporter, aLyingCountNeverReachesPastTheFile) {
    // Two triangles held, four billion declared: only what the file holds is read.
    test::Bytes file = test::binarySTL(twoTriangles, "", 0xFFFFFFFFll);
    ModelAsset asset = importSTL(test::span(file));
    expectConsistent(asset);
    EXPECT_EQ(asset.meshes.at(0).triangleCount, 2);
    // A truncated file shows its whole triangles.
    file.resize(file.size() - 10);
    asset = importSTL(test::span(file));
    EXPECT_EQ(asset.meshes.at(0).triangleCount, 1);
}

TEST(STLImporter, asciiIsReadLenientlyWhateverTheLineEndings) {
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        std::string text = std::string("  solid  My Part  ") + eol + "FACET NORMAL 0 0 +1" + eol +
                           "outer loop" + eol + "vertex 0 0 0" + eol + "vertex 1e0 0 0" + eol +
                           "vertex 0 1.0 0" + eol + "endloop junk" + eol + "endfacet" + eol +
                           "endsolid My Part" + eol;
        ModelAsset asset = importSTL(ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        expectConsistent(asset);
        ASSERT_EQ(asset.meshes.size(), 1u);
        EXPECT_EQ(asset.objects[0].name, "My Part");
        EXPECT_EQ(floats(asset.meshes[0].positions)[3], 1.0f);
        EXPECT_EQ(floats(asset.meshes[0].normals)[2], 1.0f);
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
    ASSERT_EQ(asset.meshes.size(), 1u);
    EXPECT_EQ(asset.meshes[0].triangleCount, 3);
    std::vector<float> n = floats(asset.meshes[0].normals);
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

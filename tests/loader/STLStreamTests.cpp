// Streaming an STL file must find exactly the triangles importSTL finds, in the same order,
// however the file is cut into pieces, and never read past what the file holds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/ModelIO/STLStream.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

// Every triangle's corners as importSTL stores them, objects in order.
std::vector<float> importedCorners(const test::Bytes& bytes) {
    std::vector<float> corners;
    ModelAsset asset = importSTL(test::span(bytes));
    for (const auto& object : asset.objects) {
        const GeometrySource& positions = object->geometry->sources[0];
        for (std::int64_t i = 0; i < positions.usableVectorCount(); ++i) {
            float p[3];
            positions.readFloat3(i, p);
            corners.insert(corners.end(), p, p + 3);
        }
    }
    return corners;
}

std::vector<float> streamedCorners(const MappedFile& file, const STLStreamSummary& summary) {
    std::vector<float> corners;
    std::uint64_t expected = 0;
    streamSTLTriangles(file, summary, 0, summary.pieces.size(),
                       [&](std::uint64_t first, const float* batch, std::size_t count) {
                           EXPECT_EQ(first, expected) << "batches are numbered in order";
                           expected += count;
                           corners.insert(corners.end(), batch, batch + 9 * count);
                       });
    return corners;
}

// The same comparison with NaN equal to NaN.
void expectSameCorners(const std::vector<float>& a, const std::vector<float>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::isnan(a[i]) && std::isnan(b[i])) continue;
        ASSERT_EQ(a[i], b[i]) << "at " << i;
    }
}

// ASCII with two solids, a fan of four corners, stray words, odd case, a broken number and
// an infinite corner (left out of the bounds).
std::string asciiModel() {
    std::string text = "solid first\n";
    for (int i = 0; i < 40; ++i) {
        const std::string x = std::to_string(i);
        text += "  FACET normal 0 0 1\n    outer loop\n      vertex " + x + " 0 0\n      vertex " +
                x + ".5 1 0\n      vertex " + x + " 1 2\n    endloop\n  endfacet\n";
    }
    text += "endsolid first\nsolid second\n facet normal 0 0 0\n outer loop junk\n"
            "  vertex 0 0 -3\n  vertex 1 0 0\n  vertex 1 1 0\n  vertex 0 1 0\n endloop\n endfacet\n"
            " facet\n  vertex 0 0 0\n  vertex 1e999 0 0\n  vertex 0 x 0\n endfacet\n"
            "endsolid second\n";
    return text;
}

TEST(STLStream, findsWhatTheImporterFindsHoweverTheFileIsCut) {
    test::TempDir dir;
    std::vector<test::STLTriangle> triangles;
    for (int i = 0; i < 1000; ++i) {
        const float x = static_cast<float>(i);
        triangles.push_back({{0, 0, 1}, {x, 0, 0, x + 1, 0, -x, x, 1, 0}});
    }
    triangles[7].v[4] = std::numeric_limits<float>::quiet_NaN();
    const std::string ascii = asciiModel();
    const std::vector<test::Bytes> files = {test::binarySTL(triangles),
                                            test::Bytes(ascii.begin(), ascii.end())};
    for (const test::Bytes& bytes : files) {
        const MappedFile file = mapFileContents(dir.write("model.stl", bytes));
        const std::vector<float> imported = importedCorners(bytes);
        for (std::uint64_t pieceBytes : {std::uint64_t{1}, std::uint64_t{700}, std::uint64_t{1} << 30}) {
            SCOPED_TRACE(pieceBytes);
            const STLStreamSummary summary = summarizeSTL(file, pieceBytes);
            EXPECT_EQ(summary.triangles * 9, imported.size());
            if (pieceBytes == 1) {
                EXPECT_GT(summary.pieces.size(), 10u);
            }
            expectSameCorners(streamedCorners(file, summary), imported);

            // The bounds are the imported scene's; the first corner is the first imported.
            ModelAsset asset = importSTL(test::span(bytes));
            BoundingBox box;
            for (const auto& object : asset.objects)
                box.add(object->geometry->boundingBox());
            ASSERT_TRUE(summary.bounded);
            EXPECT_EQ((Vec3{summary.lo[0], summary.lo[1], summary.lo[2]}), box.min);
            EXPECT_EQ((Vec3{summary.hi[0], summary.hi[1], summary.hi[2]}), box.max);
            EXPECT_EQ(summary.firstCorner[0], imported[0]);

            // Picked triangles come back as they stand, the facet normal as written.
            std::vector<std::uint32_t> picks = {0, 3, static_cast<std::uint32_t>(summary.triangles - 1)};
            std::vector<STLRecord> records = gatherSTLTriangles(file, summary, picks);
            ASSERT_EQ(records.size(), picks.size());
            for (size_t k = 0; k < picks.size(); ++k) {
                std::vector<float> got(records[k].corners, records[k].corners + 9);
                std::vector<float> want(imported.begin() + picks[k] * 9,
                                        imported.begin() + picks[k] * 9 + 9);
                expectSameCorners(got, want);
            }
        }
    }
}

TEST(STLStream, claimsAndTruncationReadOnlyWhatIsThere) {
    test::TempDir dir;
    const std::vector<test::STLTriangle> two = {{{0, 0, 1}, {0, 0, 0, 1, 0, 0, 0, 1, 0}},
                                                {{0, 0, 1}, {0, 0, 0, 0, 1, 0, -1, 0, 0}}};
    struct Case {
        const char* what;
        test::Bytes bytes;
        std::uint64_t triangles;
    };
    test::Bytes truncated = test::binarySTL(two);
    truncated.resize(truncated.size() - 7);
    const std::string endless = "solid " + std::string(100000, 'x');
    const std::vector<Case> cases = {
        {"four billion claimed", test::binarySTL(two, "", 0xFFFFFFFFu), 2},
        {"a cut record", truncated, 1},
        {"a header alone", test::binarySTL({}, "", 1000), 0},
        {"one endless ASCII line", test::Bytes(endless.begin(), endless.end()), 0},
        {"ASCII without facets", test::Bytes{'s', 'o', 'l', 'i', 'd', '\n'}, 0},
        {"an empty file", {}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MappedFile file = mapFileContents(dir.write("model.stl", c.bytes));
        const STLStreamSummary summary = summarizeSTL(file, 64);
        EXPECT_EQ(summary.triangles, c.triangles);
        EXPECT_EQ(streamedCorners(file, summary).size(), c.triangles * 9);
        EXPECT_EQ(summary.bounded, c.triangles > 0);
    }
}

}  // namespace
}  // namespace kelvo

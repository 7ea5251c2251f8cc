// The triangle rasteriser against a plain reference: which samples a triangle covers, that
// triangles sharing edges neither overlap nor leave gaps, and that the nearest one wins.
#include <gtest/gtest.h>

#include <random>

#include "platform/Renderer/Frame.h"

namespace kelvo::render {
namespace {

constexpr int size = 32;  // pixels on each side of the test raster

VisibilityBuffer freshBuffer(int rowBegin = 0, int rowEnd = size) {
    VisibilityBuffer buffer;
    buffer.width = size;
    buffer.reset(rowEnd - rowBegin, rowBegin, rowEnd, 0.0f);
    return buffer;
}

RasterVertex at(std::int32_t x, std::int32_t y, float depth = 0.5f) {
    RasterVertex v;
    v.x = x, v.y = y, v.depth = depth;
    return v;
}

// The reference: a sample is covered when it is strictly inside, or on an edge that is a
// top edge (horizontal, the triangle below it) or a left edge (the triangle to its right).
// Written from those words, in plain double arithmetic, sample by sample.
bool referenceCovers(const RasterVertex v[3], double sx, double sy) {
    double area =
        double(v[1].x - v[0].x) * (v[2].y - v[0].y) - double(v[1].y - v[0].y) * (v[2].x - v[0].x);
    if (area == 0) return false;
    for (int i = 0; i < 3; ++i) {
        const RasterVertex& p = v[i];
        const RasterVertex& q = v[(i + 1) % 3];
        const RasterVertex& r = v[(i + 2) % 3];
        double side = double(q.x - p.x) * (sy - p.y) - double(q.y - p.y) * (sx - p.x);
        double inner = double(q.x - p.x) * (r.y - p.y) - double(q.y - p.y) * (r.x - p.x);
        if (side * inner < 0) return false;  // on the other side from the third corner
        if (side == 0) {
            bool top = p.y == q.y && r.y > p.y;
            double edgeX =
                p.y == q.y ? 0 : p.x + double(q.x - p.x) * (r.y - p.y) / double(q.y - p.y);
            bool left = p.y != q.y && r.x > edgeX;
            if (!top && !left) return false;
        }
    }
    return true;
}

// Samples covered by one triangle drawn alone, as 0/1 per sample.
std::vector<int> coverage(const RasterVertex v[3], int rowBegin = 0, int rowEnd = size) {
    VisibilityBuffer buffer = freshBuffer(rowBegin, rowEnd);
    rasterizeTriangle(v[0], v[1], v[2], 7, buffer);
    std::vector<int> covered(size * size * samplesPerPixel, 0);
    for (size_t i = 0; i < buffer.ids.size(); ++i) {
        covered[static_cast<size_t>(rowBegin) * size * samplesPerPixel + i] = buffer.ids[i] == 7;
    }
    return covered;
}

std::vector<int> referenceCoverage(const RasterVertex v[3]) {
    std::vector<int> covered(size * size * samplesPerPixel, 0);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            for (int q = 0; q < samplesPerPixel; ++q) {
                covered[(static_cast<size_t>(y) * size + x) * samplesPerPixel + q] =
                    referenceCovers(v, x * 256.0 + sampleX[q], y * 256.0 + sampleY[q]);
            }
        }
    }
    return covered;
}

TEST(Rasterizer, samplePatternPutsOneSampleInEachQuarterRowAndColumn) {
    bool row[4] = {}, column[4] = {};
    for (int q = 0; q < samplesPerPixel; ++q) {
        row[(sampleY[q] - 32) / 64] = true;
        column[(sampleX[q] - 32) / 64] = true;
        EXPECT_EQ(sampleY[q], 32 + 64 * q);  // sample q lies in quarter row q
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(row[i] && column[i]);
}

TEST(Rasterizer, coversExactlyTheSamplesOfTheReferenceOnRandomTriangles) {
    std::mt19937 random(1234);
    // Coordinates from a little outside the raster; every fourth triangle on a coarse grid
    // of 1/8 pixel, so that samples fall exactly on edges and corners and the fill rule
    // decides.
    std::uniform_int_distribution<std::int32_t> anywhere(-3 * 256, (size + 3) * 256);
    std::uniform_int_distribution<std::int32_t> grid(-8, size * 8 + 8);
    std::uniform_int_distribution<std::int32_t> nearby(-600, 600);
    int nonEmpty = 0;
    for (int t = 0; t < 3000; ++t) {
        RasterVertex v[3];
        for (int k = 0; k < 3; ++k) {
            if (t % 4 == 0) {
                v[k] = at(grid(random) * 32, grid(random) * 32);
            } else if (t % 4 == 1 && k > 0) {
                v[k] = at(v[0].x + nearby(random), v[0].y + nearby(random));  // small ones
            } else {
                v[k] = at(anywhere(random), anywhere(random));
            }
        }
        std::vector<int> expected = referenceCoverage(v);
        ASSERT_EQ(coverage(v), expected)
            << "triangle " << t << ": (" << v[0].x << ", " << v[0].y << ") (" << v[1].x << ", "
            << v[1].y << ") (" << v[2].x << ", " << v[2].y << ")";
        for (int c : expected)
            nonEmpty += c;
    }
    EXPECT_GT(nonEmpty, 100000);  // the comparison saw real coverage
}

TEST(Rasterizer, bandsTogetherCoverWhatTheWholeRasterCovers) {
    const RasterVertex v[3] = {at(-500, 100), at(9000, 3000), at(2000, 8000)};
    std::vector<int> whole = coverage(v);
    std::vector<int> top = coverage(v, 0, 13), bottom = coverage(v, 13, size);
    for (size_t i = 0; i < whole.size(); ++i)
        ASSERT_EQ(whole[i], top[i] + bottom[i]) << i;
}

TEST(Rasterizer, meshOfSharedEdgesCoversEverySampleOnce) {
    // A 6 x 6 grid over the raster with jittered inner corners on 1/16-pixel steps and a
    // random diagonal per cell: every sample inside is covered by exactly one triangle.
    std::mt19937 random(99);
    std::uniform_int_distribution<std::int32_t> jitter(-16, 16);
    const int cells = 6, step = size * 256 / cells;
    std::int32_t gx[cells + 1][cells + 1], gy[cells + 1][cells + 1];
    for (int j = 0; j <= cells; ++j) {
        for (int i = 0; i <= cells; ++i) {
            bool inner = i > 0 && i < cells && j > 0 && j < cells;
            gx[j][i] = i * step + (inner ? jitter(random) * 16 : 0);
            gy[j][i] = j * step + (inner ? jitter(random) * 16 : 0);
        }
    }
    std::vector<int> count(size * size * samplesPerPixel, 0);
    for (int j = 0; j < cells; ++j) {
        for (int i = 0; i < cells; ++i) {
            RasterVertex a = at(gx[j][i], gy[j][i]), b = at(gx[j][i + 1], gy[j][i + 1]);
            RasterVertex c = at(gx[j + 1][i + 1], gy[j + 1][i + 1]),
                         d = at(gx[j + 1][i], gy[j + 1][i]);
            RasterVertex tris[2][3] = {{a, b, c}, {a, c, d}};
            if (random() & 1)
                tris[0][2] = d, tris[1][0] = b;  // the other diagonal: (a, b, d), (b, c, d)
            for (auto& tri : tris) {
                std::vector<int> c1 = coverage(tri);
                for (size_t k = 0; k < count.size(); ++k)
                    count[k] += c1[k];
            }
        }
    }
    for (size_t k = 0; k < count.size(); ++k)
        ASSERT_EQ(count[k], 1) << "sample " << k;
}

TEST(Rasterizer, nearerTriangleWinsWhateverTheOrder) {
    const RasterVertex nearTri[3] = {at(0, 0, 0.8f), at(20 * 256, 0, 0.8f), at(0, 20 * 256, 0.8f)};
    const RasterVertex farTri[3] = {at(0, 0, 0.2f), at(30 * 256, 0, 0.2f), at(0, 30 * 256, 0.2f)};
    for (bool nearFirst : {true, false}) {
        VisibilityBuffer buffer = freshBuffer();
        if (nearFirst) rasterizeTriangle(nearTri[0], nearTri[1], nearTri[2], 1, buffer);
        rasterizeTriangle(farTri[0], farTri[1], farTri[2], 2, buffer);
        if (!nearFirst) rasterizeTriangle(nearTri[0], nearTri[1], nearTri[2], 1, buffer);
        size_t pixel = (5 * size + 5) * samplesPerPixel;
        EXPECT_EQ(buffer.ids[pixel], 1u);
        EXPECT_FLOAT_EQ(buffer.depth[pixel], 0.8f);
        pixel = (25 * size + 2) * samplesPerPixel;  // only the far one reaches here
        EXPECT_EQ(buffer.ids[pixel], 2u);
    }
}

TEST(Rasterizer, depthIsInterpolatedAcrossTheTriangle) {
    VisibilityBuffer buffer = freshBuffer();
    // Depth 0 along the left edge, 1 at x = 32 pixels: depth = x / 32.
    rasterizeTriangle(at(0, 0, 0), at(32 * 256, 0, 1), at(0, 64 * 256, 0), 1, buffer);
    size_t sample = (0 * size + 16) * samplesPerPixel + 0;  // at x = 16 + 96/256
    EXPECT_NEAR(buffer.depth[sample], (16 + 96 / 256.0) / 32, 1e-5);
}

}  // namespace
}  // namespace kelvo::render

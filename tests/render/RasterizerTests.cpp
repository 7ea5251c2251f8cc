// The triangle rasteriser against a plain reference of the top-left fill rule: exactly the
// samples it covers, ties on edges and corners included, so that triangles sharing an edge
// neither overlap nor leave gaps.
#include <gtest/gtest.h>

#include <random>

#include "platform/Renderer/Frame.h"

namespace kelvo::render {
namespace {

constexpr int size = 32;  // pixels on each side of the test raster
constexpr size_t samples = size * size * samplesPerPixel;

RasterVertex at(std::int32_t x, std::int32_t y) {
    RasterVertex v;
    v.x = x, v.y = y, v.depth = 0.5f;
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
std::vector<int> coverage(const RasterVertex v[3]) {
    VisibilityBuffer buffer;
    buffer.width = size;
    buffer.reset(size, 0, size, 0.0f);
    rasterizeTriangle(v[0], v[1], v[2], 7, buffer);
    std::vector<int> covered(samples);
    for (size_t i = 0; i < samples; ++i)
        covered[i] = buffer.ids[i] == 7;
    return covered;
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
        std::vector<int> expected(samples);
        for (size_t i = 0; i < samples; ++i) {
            const size_t pixel = i / samplesPerPixel, q = i % samplesPerPixel;
            expected[i] = referenceCovers(v, double(pixel % size) * 256 + sampleX[q],
                                          double(pixel / size) * 256 + sampleY[q]);
            nonEmpty += expected[i];
        }
        ASSERT_EQ(coverage(v), expected)
            << "triangle " << t << " from (" << v[0].x << ", " << v[0].y << ")";
    }
    EXPECT_GT(nonEmpty, 100000);  // the comparison saw real coverage
}

}  // namespace
}  // namespace kelvo::render

// Polygons are cut into triangles that lie inside them and cover them exactly, whatever
// their convexity, orientation or plane.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/ModelIO/PolygonTriangulation.h"

namespace kelvo {
namespace {

// Twice the signed area in the xy plane.
double area2(const PolygonCorner& a, const PolygonCorner& b, const PolygonCorner& c) {
    return (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
}

double polygonArea2(const std::vector<PolygonCorner>& p) {
    double sum = 0;
    for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
        sum += double(p[j].x) * p[i].y - double(p[i].x) * p[j].y;
    return sum;
}

// Every triangle turns the polygon's way and the triangles add up to the polygon's area:
// together that means they lie inside it and do not overlap.
void expectExactCover(const std::vector<PolygonCorner>& polygon, PolygonTriangulator& triangulator,
                      const char* name) {
    std::vector<std::uint32_t> out(3 * (polygon.size() - 2), 999);
    triangulator.triangulate(polygon, out.data());
    const double whole = polygonArea2(polygon);
    double sum = 0;
    for (size_t t = 0; t < out.size(); t += 3) {
        ASSERT_LT(out[t], polygon.size()) << name;
        ASSERT_LT(out[t + 1], polygon.size()) << name;
        ASSERT_LT(out[t + 2], polygon.size()) << name;
        const double a = area2(polygon[out[t]], polygon[out[t + 1]], polygon[out[t + 2]]);
        EXPECT_GE(a * whole, 0) << name << ": triangle " << t / 3 << " is turned over";
        sum += a;
    }
    EXPECT_NEAR(sum, whole, 1e-9 * std::fabs(whole)) << name;
}

TEST(PolygonTriangulation, concaveAndConvexPolygonsAreCoveredExactly) {
    struct {
        const char* name;
        std::vector<PolygonCorner> corners;
    } cases[] = {
        {"convex pentagon", {{0, 0, 0}, {2, 0, 0}, {3, 1, 0}, {1, 2, 0}, {-1, 1, 0}}},
        {"dart, reflex corner 0", {{1, 1, 0}, {0, 3, 0}, {1, 0, 0}, {2, 3, 0}}},
        {"dart, reflex corner 1", {{0, 3, 0}, {1, 1, 0}, {2, 3, 0}, {1, 0, 0}}},
        {"L shape", {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}}},
        {"L shape, clockwise", {{0, 2, 0}, {1, 2, 0}, {1, 1, 0}, {2, 1, 0}, {2, 0, 0}, {0, 0, 0}}},
        {"comb",
         {{0, 0, 0},
          {5, 0, 0},
          {5, 3, 0},
          {4, 3, 0},
          {4, 1, 0},
          {3, 1, 0},
          {3, 3, 0},
          {2, 3, 0},
          {2, 1, 0},
          {1, 1, 0},
          {1, 3, 0},
          {0, 3, 0}}},
        {"star", {}},
    };
    for (int i = 0; i < 10; ++i) {
        const double r = i % 2 ? 0.4 : 1.0, a = i * M_PI / 5;
        cases[6].corners.push_back({float(r * std::cos(a)), float(r * std::sin(a)), 0});
    }
    PolygonTriangulator triangulator(1 << 20);
    for (const auto& c : cases)
        expectExactCover(c.corners, triangulator, c.name);
}

TEST(PolygonTriangulation, aPolygonOutsideTheXYPlaneIsCutInItsOwnPlane) {
    // The L shape standing in the yz plane, seen from -x: it is cut as in the plane, so the
    // triangles measured back in that plane cover it.
    std::vector<PolygonCorner> standing = {{0, 0, 0}, {0, 0, 2}, {0, 1, 2},
                                           {0, 1, 1}, {0, 2, 1}, {0, 2, 0}};
    std::vector<std::uint32_t> out(12);
    PolygonTriangulator(1 << 20).triangulate(standing, out.data());
    std::vector<PolygonCorner> flat;
    for (const PolygonCorner& c : standing)
        flat.push_back({c.z, c.y, 0});
    double sum = 0;
    for (size_t t = 0; t < out.size(); t += 3)
        sum += std::fabs(area2(flat[out[t]], flat[out[t + 1]], flat[out[t + 2]]));
    EXPECT_NEAR(sum, std::fabs(polygonArea2(flat)), 1e-9);
}

TEST(PolygonTriangulation, withoutBudgetOrPlaneEveryPolygonStillGetsAllItsTriangles) {
    const std::vector<PolygonCorner> comb = {{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {2, 2, 0},
                                             {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
    const std::vector<PolygonCorner> line = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}};
    const float nan = std::nanf("");
    const std::vector<PolygonCorner> broken = {
        {0, 0, 0}, {nan, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 2, 0}};
    for (const auto* polygon : {&comb, &line, &broken}) {
        std::vector<std::uint32_t> out(3 * (polygon->size() - 2), 999);
        PolygonTriangulator(0).triangulate(*polygon, out.data());
        for (std::uint32_t corner : out)
            EXPECT_LT(corner, polygon->size());
    }
}

}  // namespace
}  // namespace kelvo

// Cutting the polygons of OBJ, PLY and the import library's meshes into triangles.
//
// A polygon is taken as drawn in the plane its corners best fit (Newell's normal) and cut
// so that every triangle lies inside it: convex polygons as a fan from the first corner,
// a quad with a reflex corner along the diagonal through that corner, other concave
// polygons by ear clipping. Polygons that are not simple (self-crossing, all corners on a
// line, non-numbers) come out as a fan of the corners that remain, which covers them.
//
// Ear clipping costs up to the square of the corner count per ear, so it draws on a budget
// of steps given by the caller (a multiple of the file size): a file made of huge concave
// polygons gets fans once the budget is spent, never a long wait. A polygon of n corners
// always gives n - 2 triangles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelvo {

struct PolygonCorner {
    float x, y, z;
};

class PolygonTriangulator {
public:
    explicit PolygonTriangulator(std::uint64_t earClippingBudget) : budget_(earClippingBudget) {}

    // Writes (n - 2) triangles as corner numbers 0 .. n-1, three per triangle, to `out`,
    // which has room for 3 * (n - 2) values; n >= 3.
    void triangulate(std::span<const PolygonCorner> corners, std::uint32_t* out);

private:
    bool clipEars(std::size_t n, std::uint32_t* out);

    std::uint64_t budget_;
    // Reused from polygon to polygon: the corners in 2D, and the ring of those not yet cut.
    std::vector<double> u_, v_;
    std::vector<std::uint32_t> previous_, next_;
    std::vector<std::uint8_t> reflex_;
};

}  // namespace kelvo

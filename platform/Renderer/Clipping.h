// Clipping a triangle in homogeneous clip space (X, Y, W) against the near plane and the
// guard band, for the few triangles the rasteriser's fast path cannot take: those reaching
// behind the camera or far outside the image. Clipping before the division by W is what
// keeps a triangle that crosses the camera plane from turning inside out.
#pragma once

namespace kelvo::render {

// (X, Y, W) and D, the distance along the view axis that the near plane limits: W itself
// for a perspective camera, while an orthographic one has W = 1.
struct ClipVertex {
    double x, y, w, d;
};

// A triangle clipped by five planes has at most 3 + 5 corners.
inline constexpr int maxClippedCorners = 8;

// Clips the triangle `in` to D >= zNear and -band <= X / W <= width + band (likewise Y
// with height), writing the corners of the remaining convex polygon, in the triangle's
// order, to `out`. Returns their number: 0 when nothing remains, else 3 or more.
int clipTriangle(const ClipVertex in[3], double zNear, double width, double height, double band,
                 ClipVertex out[maxClippedCorners]);

}  // namespace kelvo::render

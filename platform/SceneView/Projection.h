// Projection of the interactive view: perspective or orthographic, with near and far planes
// that can follow the model so the whole of it is drawn whatever the zoom, and depth
// precision is not wasted on empty space.
//
// Matrices in the scene graph's row-vector convention (SceneMath.h), mapping camera space
// (looking down -Z) to OpenGL's clip space (depth -1 at the near plane, +1 at the far plane).
#pragma once

#include "platform/SceneKit/SceneMath.h"

namespace kelvo {

struct DepthRange {
    double zNear = 1;
    double zFar = 100;
};

// Near and far planes enclosing `worldBounds` seen through `worldToCamera`, with a little
// room on both sides. When the camera is inside the box the near plane comes as close as a
// ten-thousandth of the far plane (what a 24-bit depth buffer resolves well). An empty box,
// or one wholly behind the camera, gives `fallback`.
DepthRange depthRangeEnclosing(const BoundingBox& worldBounds, const Mat4& worldToCamera,
                               DepthRange fallback);

// `fieldOfViewDegrees` is measured on the vertical axis; `aspect` is width / height.
Mat4 perspectiveProjection(double fieldOfViewDegrees, double aspect, DepthRange range);
// `scale` is half the view's height in world units.
Mat4 orthographicProjection(double scale, double aspect, DepthRange range);

}  // namespace kelvo

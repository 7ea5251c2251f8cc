#include "platform/SceneView/Projection.h"

#include <algorithm>
#include <cmath>

namespace kelvo {

DepthRange depthRangeEnclosing(const BoundingBox& worldBounds, const Mat4& worldToCamera,
                               DepthRange fallback) {
    if (worldBounds.isEmpty()) return fallback;
    double nearest = INFINITY, farthest = -INFINITY;
    for (int corner = 0; corner < 8; ++corner) {
        Vec3 p{corner & 1 ? worldBounds.max.x : worldBounds.min.x,
               corner & 2 ? worldBounds.max.y : worldBounds.min.y,
               corner & 4 ? worldBounds.max.z : worldBounds.min.z};
        double depth = -transformPoint(worldToCamera, p).z;
        nearest = std::min(nearest, depth);
        farthest = std::max(farthest, depth);
    }
    if (!(farthest > 0) || !std::isfinite(farthest) || !std::isfinite(nearest)) return fallback;
    // The margins keep faces lying exactly on the box from being clipped by rounding.
    double zFar = farthest * 1.01;
    double zNear = std::max(nearest * 0.99, zFar * 1e-4);
    return {zNear, zFar};
}

Mat4 perspectiveProjection(double fieldOfViewDegrees, double aspect, DepthRange r) {
    double f = 1.0 / std::tan(fieldOfViewDegrees * M_PI / 360.0);
    double a = aspect > 0 ? aspect : 1;
    double n = r.zNear, fr = r.zFar;
    // The usual OpenGL matrix, transposed for row vectors.
    return {{{f / a, 0, 0, 0},
             {0, f, 0, 0},
             {0, 0, (fr + n) / (n - fr), -1},
             {0, 0, 2 * fr * n / (n - fr), 0}}};
}

Mat4 orthographicProjection(double scale, double aspect, DepthRange r) {
    double a = aspect > 0 ? aspect : 1;
    double s = scale > 0 ? scale : 1;
    double n = r.zNear, fr = r.zFar;
    return {{{1 / (s * a), 0, 0, 0},
             {0, 1 / s, 0, 0},
             {0, 0, -2 / (fr - n), 0},
             {0, 0, -(fr + n) / (fr - n), 1}}};
}

}  // namespace kelvo

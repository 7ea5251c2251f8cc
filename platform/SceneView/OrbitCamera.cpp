#include "platform/SceneView/OrbitCamera.h"

#include <algorithm>
#include <cmath>

namespace kelvo {

namespace {

constexpr double maxElevation = 89.0 * M_PI / 180.0;

// Rotates `v` by `angle` radians about the unit `axis` (right-handed; Rodrigues' formula).
Vec3 rotate(Vec3 v, Vec3 axis, double angle) {
    double c = std::cos(angle), s = std::sin(angle);
    return v * c + cross(axis, v) * s + axis * (dot(axis, v) * (1 - c));
}

OrbitCamera rotateAboutPivot(OrbitCamera camera, Vec3 axis, double angle) {
    camera.position = camera.pivot + rotate(camera.position - camera.pivot, axis, angle);
    camera.right = rotate(camera.right, axis, angle);
    camera.up = rotate(camera.up, axis, angle);
    camera.back = rotate(camera.back, axis, angle);
    return camera;
}

// Elevation of the camera above the pivot, from the direction it looks from.
double elevation(const OrbitCamera& camera) {
    Vec3 from = normalize(camera.position - camera.pivot);
    if (length(from) == 0) from = camera.back;
    return std::asin(std::clamp(from.y, -1.0, 1.0));
}

}  // namespace

OrbitCamera orbitCameraAt(const Mat4& pointOfView, Vec3 pivot, double modelSize) {
    OrbitCamera camera;
    camera.pivot = pivot;
    camera.modelSize = modelSize > 0 && std::isfinite(modelSize) ? modelSize : 1;
    Vec3 position{pointOfView.m[3][0], pointOfView.m[3][1], pointOfView.m[3][2]};
    if (std::isfinite(position.x) && std::isfinite(position.y) && std::isfinite(position.z)) {
        camera.position = position;
    }
    // Rows 0 to 2 are the node's axes in world space; Gram-Schmidt drops scale and shear.
    Vec3 back = normalize({pointOfView.m[2][0], pointOfView.m[2][1], pointOfView.m[2][2]});
    Vec3 up = {pointOfView.m[1][0], pointOfView.m[1][1], pointOfView.m[1][2]};
    up = normalize(up - back * dot(up, back));
    Vec3 right = cross(up, back);
    if (length(back) == 0 || length(up) == 0 || !std::isfinite(length(right))) return camera;
    camera.back = back;
    camera.up = up;
    camera.right = right;
    return camera;
}

OrbitCamera orbit(const OrbitCamera& camera, double yaw, double pitch) {
    OrbitCamera turned = rotateAboutPivot(camera, {0, 1, 0}, yaw);
    double now = elevation(turned);
    double target = now + pitch;
    if (std::fabs(target) > maxElevation) {
        // A camera that already looks from further above or below (a file's own camera can)
        // may still tilt back towards the horizon, never further out.
        target = std::fabs(now) > maxElevation ? (std::fabs(target) < std::fabs(now) ? target : now)
                                               : std::copysign(maxElevation, target);
    }
    // Rising means turning about the right axis by minus the angle (right-handed).
    return rotateAboutPivot(turned, turned.right, -(target - now));
}

OrbitCamera pan(const OrbitCamera& camera, double dx, double dy) {
    OrbitCamera moved = camera;
    Vec3 offset = camera.right * dx + camera.up * dy;
    moved.position = camera.position + offset;
    moved.pivot = camera.pivot + offset;
    return moved;
}

OrbitCamera zoom(const OrbitCamera& camera, double factor) {
    if (!(factor > 0) || !std::isfinite(factor)) return camera;
    OrbitCamera moved = camera;
    Vec3 offset = camera.position - camera.pivot;
    double distance = length(offset);
    if (distance == 0 || !std::isfinite(distance)) return camera;
    double wanted = std::clamp(distance / factor, camera.modelSize * 1e-3, camera.modelSize * 1e3);
    moved.position = camera.pivot + offset * (wanted / distance);
    moved.zoomFactor = std::clamp(camera.zoomFactor * factor, 1e-3, 1e3);
    return moved;
}

double worldUnitsPerPoint(const OrbitCamera& camera, double fieldOfViewDegrees, bool orthographic,
                          double orthographicScale, double viewHeight) {
    if (!(viewHeight > 0)) return 0;
    if (orthographic) return 2 * orthographicScale / camera.zoomFactor / viewHeight;
    double depth = std::fabs(dot(camera.pivot - camera.position, camera.back));
    return 2 * depth * std::tan(fieldOfViewDegrees * M_PI / 360.0) / viewHeight;
}

Mat4 cameraToWorld(const OrbitCamera& c) {
    return {{{c.right.x, c.right.y, c.right.z, 0},
             {c.up.x, c.up.y, c.up.z, 0},
             {c.back.x, c.back.y, c.back.z, 0},
             {c.position.x, c.position.y, c.position.z, 1}}};
}

Mat4 worldToCamera(const OrbitCamera& c) {
    // The inverse of a rigid placement: the transposed rotation, then minus the position.
    return {{{c.right.x, c.up.x, c.back.x, 0},
             {c.right.y, c.up.y, c.back.y, 0},
             {c.right.z, c.up.z, c.back.z, 0},
             {-dot(c.right, c.position), -dot(c.up, c.position), -dot(c.back, c.position), 1}}};
}

}  // namespace kelvo

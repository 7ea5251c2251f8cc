// The interactive camera: where the viewer stands and how mouse, touchpad and keyboard move
// it. Plain data and pure functions, so every motion is testable without a window.
//
// The camera starts at the point of view's world placement (its orientation kept, scale
// dropped) and turns around a pivot, the model's centre. Orbiting is turntable style: a
// horizontal drag turns around the world's vertical axis through the pivot, a vertical drag
// tilts around the camera's own horizontal axis, never past 89 degrees above or below the
// pivot, so the world's up never flips. Panning moves camera and pivot together in the view
// plane; zooming moves the camera towards or away from the pivot (for an orthographic camera
// it also scales the view's height).
//
// World space, y up; matrices in the scene graph's row-vector convention (SceneMath.h).
#pragma once

#include "platform/SceneKit/SceneMath.h"

namespace kelvo {

struct OrbitCamera {
    Vec3 position;
    // Unit axes of the camera in world space: it looks along -back.
    Vec3 right{1, 0, 0}, up{0, 1, 0}, back{0, 0, 1};
    Vec3 pivot;
    // The model's size (largest box extent), which bounds how far zooming may go.
    double modelSize = 1;
    // Divides an orthographic camera's scale; grows as the user zooms in.
    double zoomFactor = 1;
};

// The camera at `pointOfView` (a node's world transform) turning around `pivot`. A
// placement without a usable rotation (singular, or not finite) gives a camera at the
// placement's position looking down -Z.
OrbitCamera orbitCameraAt(const Mat4& pointOfView, Vec3 pivot, double modelSize);

// Turns around the pivot: `yaw` radians about the world's +Y axis, then `pitch` radians of
// elevation (positive: the camera rises), clamped so the elevation stays within 89 degrees.
OrbitCamera orbit(const OrbitCamera& camera, double yaw, double pitch);

// Moves camera and pivot by `dx` along the camera's right axis and `dy` along its up axis
// (world units).
OrbitCamera pan(const OrbitCamera& camera, double dx, double dy);

// Moves towards the pivot by `factor` (2: half the distance; 0.5: twice the distance). The
// distance stays between 1/1000 and 1000 model sizes.
OrbitCamera zoom(const OrbitCamera& camera, double factor);

// World units per point of the view at the pivot's depth, for a view `viewHeight` points
// high: panning by that much per point of drag keeps the model under the pointer.
double worldUnitsPerPoint(const OrbitCamera& camera, double fieldOfViewDegrees, bool orthographic,
                          double orthographicScale, double viewHeight);

// Camera space to world space, and its inverse (the view matrix).
Mat4 cameraToWorld(const OrbitCamera& camera);
Mat4 worldToCamera(const OrbitCamera& camera);

// How a view turns pointer motion into camera motion.
inline constexpr double orbitRadiansPerPoint = 0.008;
inline constexpr double zoomPerScrollStep = 1.15;

}  // namespace kelvo

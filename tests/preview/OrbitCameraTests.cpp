// Camera control and projection as pure functions: what a drag, a scroll or a reset does to
// the camera, and what the near and far planes enclose.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/SceneKit/Node.h"
#include "platform/SceneView/OrbitCamera.h"
#include "platform/SceneView/Projection.h"

namespace kelvo {
namespace {

void expectNear(Vec3 a, Vec3 b, double tolerance = 1e-9) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

// The staged camera of a unit cube at the origin.
OrbitCamera stagedCamera() {
    auto node = Node::make();
    node->setPosition({0.9, 0.72, 1.26});
    node->lookAt({0, 0, 0});
    return orbitCameraAt(node->worldTransform(), {0, 0, 0}, 1);
}

TEST(OrbitCamera, startsFromThePointOfViewWithoutItsScale) {
    auto node = Node::make();
    node->setPosition({0.9, 0.72, 1.26});
    node->lookAt({0, 0, 0});
    Mat4 scaled = node->transform();
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            scaled.m[r][c] *= 3;
    }
    OrbitCamera camera = orbitCameraAt(scaled, {0, 0, 0}, 1);
    expectNear(camera.position, {0.9, 0.72, 1.26});
    EXPECT_NEAR(length(camera.back), 1, 1e-12);
    EXPECT_NEAR(dot(camera.right, camera.up), 0, 1e-12);
    expectNear(cross(camera.right, camera.up), camera.back);
    // It looks at the pivot: the pivot lies on the camera's -Z axis.
    Vec3 pivotInCamera = transformPoint(worldToCamera(camera), {0, 0, 0});
    EXPECT_NEAR(pivotInCamera.x, 0, 1e-9);
    EXPECT_NEAR(pivotInCamera.y, 0, 1e-9);
    EXPECT_LT(pivotInCamera.z, 0);
    Mat4 roundTrip = cameraToWorld(camera) * worldToCamera(camera);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(roundTrip.m[r][c], r == c ? 1 : 0, 1e-12);
    }
    // A singular placement still gives a usable camera.
    Mat4 zero{};
    zero.m[3][3] = 1;
    OrbitCamera fallback = orbitCameraAt(zero, {0, 0, 0}, 1);
    EXPECT_EQ(fallback.back, (Vec3{0, 0, 1}));
}

TEST(OrbitCamera, orbitingTurnsAroundThePivotAtTheSameDistance) {
    OrbitCamera start = stagedCamera();
    double distance = length(start.position);
    OrbitCamera turned = orbit(start, 0.7, 0.2);
    EXPECT_NEAR(length(turned.position), distance, 1e-9);
    // Still looking at the pivot.
    Vec3 pivotInCamera = transformPoint(worldToCamera(turned), {0, 0, 0});
    EXPECT_NEAR(pivotInCamera.x, 0, 1e-9);
    EXPECT_NEAR(pivotInCamera.y, 0, 1e-9);
    // A yaw about +Y keeps the height; a positive pitch raises the camera.
    EXPECT_NEAR(orbit(start, 1.0, 0).position.y, start.position.y, 1e-9);
    EXPECT_GT(orbit(start, 0, 0.1).position.y, start.position.y);
    // Turning right by a yaw of -a, then back by +a, ends where it began.
    expectNear(orbit(orbit(start, -0.4, 0), 0.4, 0).position, start.position);
}

TEST(OrbitCamera, tiltingStopsShortOfTheVerticalSoUpNeverFlips) {
    OrbitCamera camera = stagedCamera();
    for (int i = 0; i < 100; ++i)
        camera = orbit(camera, 0.05, 0.1);
    Vec3 from = normalize(camera.position - camera.pivot);
    EXPECT_NEAR(std::asin(from.y), 89.0 * M_PI / 180.0, 1e-9);
    EXPECT_GT(camera.up.y, 0);
    for (int i = 0; i < 100; ++i)
        camera = orbit(camera, 0, -0.1);
    from = normalize(camera.position - camera.pivot);
    EXPECT_NEAR(std::asin(from.y), -89.0 * M_PI / 180.0, 1e-9);
    EXPECT_GT(camera.up.y, 0);
}

TEST(OrbitCamera, panningMovesCameraAndPivotTogetherInTheViewPlane) {
    OrbitCamera start = stagedCamera();
    OrbitCamera moved = pan(start, 0.3, -0.2);
    expectNear(moved.pivot - start.pivot, moved.position - start.position);
    EXPECT_NEAR(dot(moved.pivot - start.pivot, start.back), 0, 1e-12);
    // The pivot keeps its place on screen: still straight ahead.
    Vec3 pivotInCamera = transformPoint(worldToCamera(moved), moved.pivot);
    EXPECT_NEAR(pivotInCamera.x, 0, 1e-9);
    // A 600-point-high view with a 45-degree camera 1.73 units away: the view's height at
    // the pivot is 2 * 1.73 * tan(22.5 deg) units.
    double units = worldUnitsPerPoint(start, 45, false, 1, 600);
    EXPECT_NEAR(units * 600, 2 * length(start.position) * std::tan(M_PI / 8), 1e-9);
    EXPECT_NEAR(worldUnitsPerPoint(start, 45, true, 2, 100), 0.04, 1e-12);
}

TEST(OrbitCamera, zoomingApproachesThePivotWithinLimits) {
    OrbitCamera start = stagedCamera();
    double distance = length(start.position);
    EXPECT_NEAR(length(zoom(start, 2).position), distance / 2, 1e-9);
    EXPECT_NEAR(length(zoom(start, 0.5).position), distance * 2, 1e-9);
    EXPECT_NEAR(length(zoom(start, 1e9).position), 1e-3, 1e-12);
    EXPECT_NEAR(length(zoom(start, 1e-9).position), 1e3, 1e-6);
    EXPECT_EQ(zoom(start, 0).position, start.position);
    EXPECT_EQ(zoom(start, NAN).position, start.position);
    EXPECT_DOUBLE_EQ(zoom(start, 2).zoomFactor, 2);
}

TEST(Projection, depthRangeEnclosesTheModelWhereverTheCameraIs) {
    OrbitCamera camera = stagedCamera();
    BoundingBox box;
    box.add(Vec3{-0.5, -0.5, -0.5});
    box.add(Vec3{0.5, 0.5, 0.5});
    DepthRange fallback{1, 100};
    DepthRange range = depthRangeEnclosing(box, worldToCamera(camera), fallback);
    double nearest = INFINITY, farthest = 0;
    for (int corner = 0; corner < 8; ++corner) {
        Vec3 p{corner & 1 ? 0.5 : -0.5, corner & 2 ? 0.5 : -0.5, corner & 4 ? 0.5 : -0.5};
        double depth = -transformPoint(worldToCamera(camera), p).z;
        nearest = std::min(nearest, depth);
        farthest = std::max(farthest, depth);
    }
    EXPECT_LT(range.zNear, nearest);
    EXPECT_GT(range.zNear, nearest * 0.95);
    EXPECT_GT(range.zFar, farthest);
    EXPECT_LT(range.zFar, farthest * 1.05);

    // Zoomed into the box: the near plane comes close, bounded by the far plane.
    OrbitCamera inside = zoom(camera, 100);
    range = depthRangeEnclosing(box, worldToCamera(inside), fallback);
    EXPECT_NEAR(range.zNear, range.zFar * 1e-4, 1e-15);

    // Nothing to enclose, or all behind the camera.
    EXPECT_EQ(depthRangeEnclosing(BoundingBox{}, worldToCamera(camera), fallback).zFar, 100);
    OrbitCamera away = camera;
    away.back = camera.back * -1.0;
    away.right = camera.right * -1.0;
    EXPECT_EQ(depthRangeEnclosing(box, worldToCamera(away), fallback).zNear, 1);
}

}  // namespace
}  // namespace kelvo

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

void expectNear(Vec3 a, Vec3 b) {
    EXPECT_NEAR(length(a - b), 0, 1e-9) << a.x << " " << a.y << " " << a.z;
}

// Where the pivot lies in the camera's frame: straight ahead is (0, 0, -distance).
Vec3 pivotSeenFrom(const OrbitCamera& camera) {
    return transformPoint(worldToCamera(camera), camera.pivot);
}

// The staged camera of a unit cube at the origin, its placement scaled by `scale`.
OrbitCamera stagedCamera(double scale = 1) {
    auto node = Node::make();
    node->setPosition({0.9, 0.72, 1.26});
    node->lookAt({0, 0, 0});
    Mat4 placement = node->transform();
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            placement.m[r][c] *= scale;
    }
    return orbitCameraAt(placement, {0, 0, 0}, 1);
}

TEST(OrbitCamera, startsFromThePointOfViewWithoutItsScaleLookingAtThePivot) {
    OrbitCamera camera = stagedCamera(3);
    expectNear(camera.position, {0.9, 0.72, 1.26});
    expectNear(cross(camera.right, camera.up), camera.back);
    EXPECT_NEAR(length(camera.back), 1, 1e-12);
    expectNear(pivotSeenFrom(camera), {0, 0, -length(camera.position)});
    // A singular placement still gives a usable camera.
    EXPECT_EQ(stagedCamera(0).back, (Vec3{0, 0, 1}));
}

TEST(OrbitCamera, orbitingTurnsAroundThePivotAndTiltingStopsShortOfTheVertical) {
    OrbitCamera start = stagedCamera();
    OrbitCamera turned = orbit(start, 0.7, 0.2);
    expectNear(pivotSeenFrom(turned), {0, 0, -length(start.position)});
    // A yaw about +Y keeps the height; a positive pitch raises the camera; turning back
    // ends where it began.
    EXPECT_NEAR(orbit(start, 1.0, 0).position.y, start.position.y, 1e-9);
    EXPECT_GT(orbit(start, 0, 0.1).position.y, start.position.y);
    expectNear(orbit(orbit(start, -0.4, 0), 0.4, 0).position, start.position);
    for (double pitch : {0.1, -0.1}) {
        OrbitCamera camera = start;
        for (int i = 0; i < 100; ++i)
            camera = orbit(camera, 0.05, pitch);
        Vec3 from = normalize(camera.position - camera.pivot);
        EXPECT_NEAR(std::asin(from.y), std::copysign(89.0, pitch) * M_PI / 180.0, 1e-9);
        EXPECT_GT(camera.up.y, 0) << "up flipped";
    }
}

TEST(OrbitCamera, panningMovesCameraAndPivotTogetherByWhatThePointerCovers) {
    OrbitCamera start = stagedCamera();
    OrbitCamera moved = pan(start, 0.3, -0.2);
    expectNear(moved.pivot - start.pivot, moved.position - start.position);
    EXPECT_NEAR(dot(moved.pivot - start.pivot, start.back), 0, 1e-12);
    expectNear(pivotSeenFrom(moved), pivotSeenFrom(start));
    // A 600-point-high view with a 45-degree camera: the view's height at the pivot.
    EXPECT_NEAR(worldUnitsPerPoint(start, 45, false, 1, 600) * 600,
                2 * length(start.position) * std::tan(M_PI / 8), 1e-9);
    EXPECT_NEAR(worldUnitsPerPoint(start, 45, true, 2, 100), 0.04, 1e-12);
}

TEST(OrbitCamera, zoomingApproachesThePivotWithinLimits) {
    OrbitCamera start = stagedCamera();
    double distance = length(start.position);
    for (auto [factor, expected] : std::vector<std::pair<double, double>>{{2, distance / 2},
                                                                          {0.5, distance * 2},
                                                                          {1e9, 1e-3},
                                                                          {1e-9, 1e3},
                                                                          {0, distance},
                                                                          {NAN, distance}}) {
        EXPECT_NEAR(length(zoom(start, factor).position), expected, 1e-6 * expected) << factor;
    }
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
    range = depthRangeEnclosing(box, worldToCamera(zoom(camera, 100)), fallback);
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

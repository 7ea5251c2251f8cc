// Staging: the camera and the three-light rig placed from the scene's bounding box.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/render/RenderFixtures.h"

namespace kelvo {
namespace {

void expectNear(Vec3 a, Vec3 b, double eps = 1e-9) {
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

// Where a node looks: its -Z axis in world space.
Vec3 forward(const Node& node) {
    return normalize(transformDirection(node.worldTransform(), {0, 0, -1}));
}

TEST(Staging, unitCubeGetsTheCameraAndLightsAtTheStatedPlaces) {
    Scene scene;
    test::addGeometry(scene, test::makeCube());
    auto camera = SceneLoader().setupCameraAndLighting(scene, {256, 256});

    const auto& nodes = scene.rootNode->childNodes();
    ASSERT_EQ(nodes.size(), 5u);  // the cube, then camera, key, fill, ambient in that order
    EXPECT_EQ(nodes[1], camera);
    ASSERT_TRUE(camera->camera);
    EXPECT_EQ(camera->camera->fieldOfView, 45);
    EXPECT_TRUE(camera->camera->automaticallyAdjustsZRange);
    expectNear(camera->position(), {0.9, 0.72, 1.26});
    expectNear(forward(*camera), normalize(Vec3{-0.9, -0.72, -1.26}));
    EXPECT_NEAR(transformDirection(camera->worldTransform(), {1, 0, 0}).y, 0,
                1e-12);  // +Y up: no roll

    const Node& key = *nodes[2];
    const Node& fill = *nodes[3];
    const Node& ambient = *nodes[4];
    ASSERT_TRUE(key.light && fill.light && ambient.light);
    EXPECT_EQ(key.light->type, LightType::directional);
    EXPECT_EQ(key.light->intensity, 1000);
    expectNear(key.position(), {1.8, 2.7, 1.8});
    expectNear(forward(key), normalize(Vec3{-1.8, -2.7, -1.8}));
    EXPECT_EQ(fill.light->type, LightType::directional);
    EXPECT_EQ(fill.light->intensity, 400);
    expectNear(fill.position(), {-1.8, 0.9, 0.9});
    expectNear(forward(fill), normalize(Vec3{1.8, -0.9, -0.9}));
    EXPECT_EQ(ambient.light->type, LightType::ambient);
    EXPECT_EQ(ambient.light->intensity, 300);
    for (const Node* light : {&key, &fill, &ambient})
        EXPECT_EQ(light->light->color, Color::white(1, 1));
    EXPECT_EQ(std::get<Color>(scene.background), Color::clear());
}

TEST(Staging, movedCubeMovesTheCameraButNotTheLights) {
    Scene scene;
    test::addGeometry(scene, test::makeCube({100, 0, 0}));
    auto camera = SceneLoader().setupCameraAndLighting(scene, {256, 256});
    expectNear(camera->position(), {100.9, 0.72, 1.26});
    const auto& nodes = scene.rootNode->childNodes();
    expectNear(nodes[2]->position(), {1.8, 2.7, 1.8});
    expectNear(nodes[3]->position(), {-1.8, 0.9, 0.9});
    // Absolute positions, still aimed at the centre: the directions change.
    expectNear(forward(*nodes[2]), normalize(Vec3{98.2, -2.7, -1.8}));
    expectNear(forward(*nodes[3]), normalize(Vec3{101.8, -0.9, -0.9}));
}

TEST(Staging, flatModelIsFramedByItsLargestExtent) {
    Scene scene;
    test::addGeometry(scene, test::makeMesh({0, 0, 0, 4, 0, 0, 0, 0, 2}, {0, 1, 2}));  // 4 x 0 x 2
    auto camera = SceneLoader().setupCameraAndLighting(scene, {64, 64});
    const double d = 4 * 1.8;
    expectNear(camera->position(), Vec3{2, 0, 1} + Vec3{0.5 * d, 0.4 * d, 0.7 * d});
}

TEST(Staging, eachCallAddsFourNodesWhateverTheSize) {
    Scene a, b;
    test::addGeometry(a, test::makeCube({1, 2, 3}, 5));
    test::addGeometry(b, test::makeCube({1, 2, 3}, 5));
    SceneLoader loader;
    auto first = loader.setupCameraAndLighting(a, {256, 256});
    auto second = loader.setupCameraAndLighting(a, {1024, 64});
    loader.setupCameraAndLighting(b, {1, 1});
    int cameras = 0, lights = 0;
    a.rootNode->enumerateChildNodes([&](Node& n, bool&) {
        cameras += n.camera != nullptr;
        lights += n.light != nullptr;
    });
    EXPECT_EQ(cameras, 2);
    EXPECT_EQ(lights, 6);
    EXPECT_NE(first, second);
    // The second call saw only the cube (lights and cameras have no geometry): the same rig.
    EXPECT_EQ(first->transform(), second->transform());
    ASSERT_EQ(b.rootNode->childNodes().size(), 5u);
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(a.rootNode->childNodes()[i]->transform(),
                  b.rootNode->childNodes()[i]->transform());
}

TEST(Staging, sceneWithoutUsableBoxGetsOnlyTheFallbackCamera) {
    Scene empty;
    Scene point;
    test::addGeometry(point, test::makeMesh({1, 2, 3, 1, 2, 3, 1, 2, 3}, {0, 1, 2}));
    // Finite floats whose box overflows double precision once a node scales them.
    Scene overflowing;
    auto node = test::addGeometry(overflowing,
                                  test::makeMesh({-3e38f, 0, 0, 3e38f, 1, 0, 0, 0, 1}, {0, 1, 2}));
    Mat4 huge = Mat4::identity();
    huge.m[0][0] = 1e300;
    node->setTransform(huge);
    for (Scene* scene : {&empty, &point, &overflowing}) {
        scene->background = Color{0.1, 0.2, 0.3, 1};
        size_t before = scene->rootNode->childNodes().size();
        auto camera = SceneLoader().setupCameraAndLighting(*scene, {256, 256});
        ASSERT_EQ(scene->rootNode->childNodes().size(), before + 1);
        EXPECT_EQ(scene->rootNode->childNodes().back(), camera);
        expectNear(camera->position(), {0, 0, 5});
        ASSERT_TRUE(camera->camera);
        EXPECT_EQ(camera->camera->fieldOfView, Camera{}.fieldOfView);  // untouched default
        EXPECT_FALSE(camera->camera->automaticallyAdjustsZRange);
        EXPECT_EQ(std::get<Color>(scene->background), (Color{0.1, 0.2, 0.3, 1}));
    }
}

}  // namespace
}  // namespace kelvo

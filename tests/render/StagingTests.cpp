// Staging: the camera and the three-light rig placed from the scene's bounding box.
#include <gtest/gtest.h>

#include "tests/render/RenderFixtures.h"

namespace kelvo {
namespace {

void expectNear(Vec3 a, Vec3 b) {
    EXPECT_LT(length(a - b), 1e-9) << "(" << a.x << ", " << a.y << ", " << a.z << ")";
}

// The node sits at `position` and looks (along its -Z) at `target`.
void expectAimed(const Node& node, Vec3 position, Vec3 target) {
    expectNear(node.position(), position);
    expectNear(normalize(transformDirection(node.worldTransform(), {0, 0, -1})),
               normalize(target - position));
}

TEST(Staging, cameraFollowsTheBoxLightsStayAtAbsolutePlacesAndEachCallAddsARig) {
    // Lights at (1.8, 2.7, 1.8) and (-1.8, 0.9, 0.9) for a model of size 1, scaled with it.
    struct Case {
        std::shared_ptr<Geometry> model;
        Vec3 center, camera;
        double size;
    };
    const Case cases[] = {
        {test::makeCube(), {0, 0, 0}, {0.9, 0.72, 1.26}, 1},
        {test::makeCube({100, 0, 0}), {100, 0, 0}, {100.9, 0.72, 1.26}, 1},
        // 4 x 0 x 2: framed and lit by the largest extent.
        {test::makeMesh({0, 0, 0, 4, 0, 0, 0, 0, 2}, {0, 1, 2}), {2, 0, 1}, {5.6, 2.88, 6.04}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.center.x);
        Scene scene;
        test::addGeometry(scene, c.model);
        auto camera = SceneLoader().setupCameraAndLighting(scene, {256, 256});
        const auto& nodes = scene.rootNode->childNodes();
        ASSERT_EQ(nodes.size(), 5u);  // the model, then camera, key, fill, ambient
        EXPECT_EQ(nodes[1], camera);
        ASSERT_TRUE(camera->camera);
        EXPECT_EQ(camera->camera->fieldOfView, 45);
        EXPECT_TRUE(camera->camera->automaticallyAdjustsZRange);
        expectAimed(*camera, c.camera, c.center);
        EXPECT_NEAR(transformDirection(camera->worldTransform(), {1, 0, 0}).y, 0, 1e-12);  // +Y up
        expectAimed(*nodes[2], Vec3{1.8, 2.7, 1.8} * c.size, c.center);
        expectAimed(*nodes[3], Vec3{-1.8, 0.9, 0.9} * c.size, c.center);
        const std::pair<LightType, double> rig[] = {{LightType::directional, 1000},
                                                    {LightType::directional, 400},
                                                    {LightType::ambient, 300}};
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(nodes[2 + i]->light);
            EXPECT_EQ(nodes[2 + i]->light->type, rig[i].first);
            EXPECT_EQ(nodes[2 + i]->light->intensity, rig[i].second);
            EXPECT_EQ(nodes[2 + i]->light->color, Color::white(1, 1));
        }
        EXPECT_EQ(std::get<Color>(scene.background), Color::clear());

        // Again, at another size: the rig added once more, framed alike, since lights and
        // cameras add nothing to the box and the size does not matter.
        auto again = SceneLoader().setupCameraAndLighting(scene, {1024, 64});
        int cameras = 0, lights = 0;
        scene.rootNode->enumerateChildNodes([&](Node& n, bool&) {
            cameras += n.camera != nullptr;
            lights += n.light != nullptr;
        });
        EXPECT_EQ(std::pair(cameras, lights), std::pair(2, 6));
        EXPECT_NE(again, camera);
        EXPECT_EQ(again->transform(), camera->transform());
    }
}

TEST(Staging, sceneWithoutUsableBoxGetsOnlyTheFallbackCamera) {
    Scene empty, point, overflowing;
    test::addGeometry(point, test::makeMesh({1, 2, 3, 1, 2, 3, 1, 2, 3}, {0, 1, 2}));
    // Finite floats whose box overflows double precision once a node scales them.
    Mat4 huge = Mat4::identity();
    huge.m[0][0] = 1e300;
    test::addGeometry(overflowing, test::makeMesh({-3e38f, 0, 0, 3e38f, 1, 0, 0, 0, 1}, {0, 1, 2}))
        ->setTransform(huge);
    for (Scene* scene : {&empty, &point, &overflowing}) {
        scene->background = Color{0.1, 0.2, 0.3, 1};
        size_t before = scene->rootNode->childNodes().size();
        auto camera = SceneLoader().setupCameraAndLighting(*scene, {256, 256});
        ASSERT_EQ(scene->rootNode->childNodes().size(), before + 1);
        EXPECT_EQ(scene->rootNode->childNodes().back(), camera);
        expectNear(camera->position(), {0, 0, 5});
        EXPECT_EQ(std::get<Color>(scene->background), (Color{0.1, 0.2, 0.3, 1}));
    }
}

}  // namespace
}  // namespace kelvo

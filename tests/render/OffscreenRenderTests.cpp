// renderToImage end to end: staging, the frame and the mark in one call.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/render/RenderFixtures.h"

namespace kelvo {
namespace {

TEST(OffscreenRender, modelOnTransparentGroundWithTheMarkInTheCorner) {
    Scene scene;
    test::addGeometry(scene, test::makeCube({5, 5, 5}, 2));
    auto image = SceneLoader().renderToImage(scene, {200, 150});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 200);
    EXPECT_EQ(image->height, 150);
    EXPECT_EQ(image->pixel(100, 75)[3], 255);
    EXPECT_EQ(image->pixel(199, 149)[3], 0);
    EXPECT_EQ(image->pixel(199, 0)[3], 0);
    EXPECT_EQ(image->pixel(10, 8)[3], 255);              // the icon (6, 1, 20, 20) at this size
    EXPECT_EQ(scene.rootNode->childNodes().size(), 5u);  // staged once
}

TEST(OffscreenRender, emptySceneGivesTheMarkAlone) {
    Scene scene;
    auto image = SceneLoader().renderToImage(scene, {64, 64});
    ASSERT_TRUE(image);
    size_t covered = test::coveredPixels(*image);
    EXPECT_GT(covered, 100u);
    for (int y = 25; y < 64; ++y) {
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(image->pixel(x, y)[3], 0) << x << ", " << y;
    }
}

TEST(OffscreenRender, unusableSizesGiveNoImage) {
    for (Size size : {Size{0, 0}, Size{0.2, 100}, Size{std::nan(""), 64}, Size{64, INFINITY},
                      Size{8193, 64}, Size{1e300, 1e300}, Size{-64, 64}}) {
        Scene scene;
        test::addGeometry(scene, test::makeCube());
        EXPECT_FALSE(SceneLoader().renderToImage(scene, size))
            << size.width << " x " << size.height;
    }
    Scene scene;
    test::addGeometry(scene, test::makeCube());
    auto image = SceneLoader().renderToImage(scene, {1, 1});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 1);
}

}  // namespace
}  // namespace kelvo

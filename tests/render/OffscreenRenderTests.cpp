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
    ASSERT_EQ(std::pair(image->width, image->height), std::pair(200, 150));
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
    EXPECT_GT(test::coveredPixels(*image), 100u);
    for (size_t i = 25 * 64 * 4 + 3; i < image->pixels.size(); i += 4)  // clear below row 24
        ASSERT_EQ(image->pixels[i], 0) << "pixel " << i / 4;
}

TEST(OffscreenRender, unusableSizesGiveNoImage) {
    for (Size size : {Size{0, 0}, Size{0.2, 100}, Size{std::nan(""), 64}, Size{64, INFINITY},
                      Size{8193, 64}, Size{1e300, 1e300}, Size{-64, 64}, Size{1, 1}}) {
        Scene scene;
        test::addGeometry(scene, test::makeCube());
        EXPECT_EQ(SceneLoader().renderToImage(scene, size).has_value(), (size == Size{1, 1}))
            << size.width << " x " << size.height;
    }
}

}  // namespace
}  // namespace kelvo

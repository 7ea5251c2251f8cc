// The bitmap context a drawing block draws into: its pixel size, where an image lands, how
// it composites, and which context is current.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <optional>

#include "platform/Imaging/GraphicsContext.h"

namespace kelvo {
namespace {

RGBAImage filled(int w, int h, std::array<std::uint8_t, 4> rgba) {
    RGBAImage image(w, h);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = rgba[i % 4];
    return image;
}

TEST(GraphicsContext, bitmapIsSizeTimesScaleRoundedDownAndEmptyForBadSizes) {
    GraphicsContext odd({100, 33}, 1.5);
    EXPECT_EQ(odd.bitmap().width, 150);
    EXPECT_EQ(odd.bitmap().height, 49);  // 49.5 rounded down
    EXPECT_TRUE(GraphicsContext({0, 10}, 1).bitmap().pixels.empty());
    EXPECT_TRUE(GraphicsContext({10, 10}, NAN).bitmap().pixels.empty());
}

TEST(GraphicsContext, imageOfThePixelSizeIsCopiedExactlyAndUpright) {
    RGBAImage image(4, 2);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = static_cast<std::uint8_t>(i * 7);
    image.pixel(0, 0)[3] = 0;  // a transparent pixel stays as it is
    GraphicsContext context({2, 1}, 2);
    context.drawImage(image, {0, 0, 2, 1});
    EXPECT_EQ(context.bitmap().pixels, image.pixels);

    // Bottom-left origin: the lower half of the context is the bottom rows of the bitmap.
    GraphicsContext lower({2, 2}, 1);
    lower.drawImage(filled(1, 1, {255, 0, 0, 255}), {0, 0, 2, 1});
    EXPECT_EQ(lower.bitmap().pixel(0, 0)[3], 0);
    EXPECT_EQ(lower.bitmap().pixel(1, 1)[0], 255);
}

TEST(GraphicsContext, stretchesAndCompositesSourceOver) {
    GraphicsContext context({4, 4}, 1);
    context.drawImage(filled(1, 1, {0, 0, 255, 255}), {0, 0, 4, 4});
    EXPECT_EQ(context.bitmap().pixels, filled(4, 4, {0, 0, 255, 255}).pixels);
    // Half-transparent red over opaque blue: opaque purple.
    context.drawImage(filled(2, 2, {255, 0, 0, 128}), {0, 0, 4, 4});
    const std::uint8_t* p = context.bitmap().pixel(3, 3);
    EXPECT_EQ(p[3], 255);
    EXPECT_NEAR(p[0], 128, 1);
    EXPECT_NEAR(p[2], 127, 1);
}

TEST(GraphicsContext, currentContextNests) {
    GraphicsContext a({1, 1}, 1), b({1, 1}, 1);
    std::optional<CurrentGraphicsContext> outer(std::in_place, &a), inner(std::in_place, &b);
    EXPECT_EQ(GraphicsContext::current(), &b);
    inner.reset();
    EXPECT_EQ(GraphicsContext::current(), &a);
    outer.reset();
    EXPECT_EQ(GraphicsContext::current(), nullptr);
}

}  // namespace
}  // namespace kelvo

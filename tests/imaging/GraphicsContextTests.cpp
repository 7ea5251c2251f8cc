// The bitmap context a drawing block draws into: its pixel size, where an image lands, how
// it composites, and which context is current.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "platform/Imaging/GraphicsContext.h"

namespace kelvo {
namespace {

RGBAImage filled(int w, int h, std::array<std::uint8_t, 4> rgba) {
    RGBAImage image(w, h);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = rgba[i % 4];
    return image;
}

TEST(GraphicsContext, bitmapIsSizeTimesScaleRoundedDown) {
    struct {
        Size size;
        double scale;
        int width, height;
    } cases[] = {{{128, 128}, 2, 256, 256},
                 {{100, 33}, 1.5, 150, 49},  // 49.5 rounded down
                 {{0, 10}, 1, 0, 0},
                 {{10, 10}, NAN, 0, 0}};
    for (const auto& c : cases) {
        GraphicsContext context(c.size, c.scale);
        EXPECT_EQ(context.bitmap().width, c.width);
        EXPECT_EQ(context.bitmap().pixels.size(), static_cast<size_t>(c.width * c.height * 4));
    }
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
    {
        CurrentGraphicsContext outer(&a);
        {
            CurrentGraphicsContext inner(&b);
            EXPECT_EQ(GraphicsContext::current(), &b);
        }
        EXPECT_EQ(GraphicsContext::current(), &a);
    }
    EXPECT_EQ(GraphicsContext::current(), nullptr);
}

}  // namespace
}  // namespace kelvo

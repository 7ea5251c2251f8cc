// 2D compositing and text: filtering when an image is shrunk, partial coverage at
// fractional edges, and where a line of text lands.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "platform/Imaging/Compositing.h"
#include "platform/Imaging/Text.h"

namespace kelvo {
namespace {

// A 2 x 2 image of straight-alpha pixels, row by row.
RGBAImage quad(std::initializer_list<std::uint8_t> rgba) {
    RGBAImage image(2, 2);
    std::copy(rgba.begin(), rgba.end(), image.pixels.begin());
    return image;
}

TEST(Compositing, shrinkingAveragesTheSourceAndTransparencyLendsNoColour) {
    RGBAImage canvas(1, 1);
    drawImage(canvas, quad({255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255}),
              {0, 0, 1, 1});
    EXPECT_NEAR(canvas.pixel(0, 0)[0], 128, 1);
    EXPECT_EQ(canvas.pixel(0, 0)[3], 255);

    RGBAImage out(1, 1);  // one red pixel among three transparent black ones
    drawImage(out, quad({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 255}), {0, 0, 1, 1});
    EXPECT_EQ(out.pixel(0, 0)[0], 255);  // still pure red, not darkened
    EXPECT_NEAR(out.pixel(0, 0)[3], 64, 1);
}

TEST(Compositing, fractionalEdgesCoverPartOfAPixelAndDrawingClipsAtTheCanvas) {
    RGBAImage white(4, 4);
    std::fill(white.pixels.begin(), white.pixels.end(), 255);
    RGBAImage canvas(4, 4);
    drawImage(canvas, white, {0.5, -2, 2, 4});  // x from 0.5 to 2.5, rows -2 to 2
    EXPECT_NEAR(canvas.pixel(0, 0)[3], 128, 1);
    EXPECT_EQ(canvas.pixel(1, 0)[3], 255);
    EXPECT_NEAR(canvas.pixel(2, 1)[3], 128, 1);
    EXPECT_EQ(canvas.pixel(3, 0)[3], 0);
    EXPECT_EQ(canvas.pixel(1, 2)[3], 0);
    drawImage(canvas, white, {std::nan(""), 0, 1, 1});  // ignored
    drawImage(canvas, RGBAImage(), {0, 0, 4, 4});
}

TEST(Compositing, maskBlendsSourceOverAndBlurKeepsItsSum) {
    RGBAImage canvas(1, 1);
    canvas.pixel(0, 0)[2] = canvas.pixel(0, 0)[3] = 255;  // opaque blue
    CoverageMask dot(0, 0, 1, 1);
    dot.at(0, 0) = 1;
    const float white[3] = {1, 1, 1};
    fillMask(canvas, dot, white, 0.5f);
    fillMask(canvas, dot, white, 1.0f, 5, 5);  // moved off the canvas: nothing
    const std::uint8_t* p = canvas.pixel(0, 0);
    EXPECT_NEAR(p[0], 128, 1);
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[3], 255);

    CoverageMask blurred = blurMask(dot, 1.0);
    EXPECT_NEAR(std::accumulate(blurred.values.begin(), blurred.values.end(), 0.0f), 1, 1e-5);
    const int cx = -blurred.left, cy = -blurred.top;  // where the dot was
    EXPECT_GT(blurred.at(cx, cy), blurred.at(cx + 1, cy));
    EXPECT_GT(blurred.at(cx + 1, cy), 0);
}

TEST(Text, lineSitsOnItsLowerEdgeAtTheGivenPoint) {
    auto font = findMediumSansFont();
    if (!font) GTEST_SKIP() << "no sans-serif font installed";
    auto mask = renderTextLine(*font, "kelvo.app", 12, 10.5, 30);
    ASSERT_TRUE(mask);
    EXPECT_GE(mask->left, 10);
    EXPECT_LE(mask->left, 12);
    EXPECT_GT(mask->width, 40);
    EXPECT_LT(mask->width, 70);
    EXPECT_GE(mask->top, 30 - 15);            // the line box is about 14 pixels tall
    EXPECT_LE(mask->top + mask->height, 31);  // descenders stay inside it
    EXPECT_GT(mask->top + mask->height, 27);  // "p" reaches below the baseline

    EXPECT_FALSE(renderTextLine(*font, "x", 0, 0, 0));
    EXPECT_FALSE(renderTextLine("/nonexistent/font.ttf", "x", 12, 0, 0));
    EXPECT_TRUE(renderTextLine(*font, "\xff\xfe k\xc3", 12, 0, 20));  // broken UTF-8 as it comes
}

}  // namespace
}  // namespace kelvo

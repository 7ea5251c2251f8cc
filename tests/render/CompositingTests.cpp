// 2D compositing and text: filtering when an image is shrunk, partial coverage at
// fractional edges, and where a line of text lands.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "platform/Imaging/Compositing.h"
#include "platform/Imaging/Text.h"

namespace kelvo {
namespace {

void setPixel(RGBAImage& image, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b,
              std::uint8_t a) {
    std::uint8_t* p = image.pixel(x, y);
    p[0] = r, p[1] = g, p[2] = b, p[3] = a;
}

TEST(Compositing, shrinkingAveragesTheSourceAndTransparencyLendsNoColour) {
    RGBAImage checker(2, 2);
    setPixel(checker, 0, 0, 255, 255, 255, 255);
    setPixel(checker, 1, 0, 0, 0, 0, 255);
    setPixel(checker, 0, 1, 0, 0, 0, 255);
    setPixel(checker, 1, 1, 255, 255, 255, 255);
    RGBAImage canvas(1, 1);
    drawImage(canvas, checker, {0, 0, 1, 1});
    EXPECT_NEAR(canvas.pixel(0, 0)[0], 128, 1);
    EXPECT_EQ(canvas.pixel(0, 0)[3], 255);

    RGBAImage dot(2, 2);  // one red pixel, three transparent black ones
    setPixel(dot, 1, 1, 255, 0, 0, 255);
    RGBAImage out(1, 1);
    drawImage(out, dot, {0, 0, 1, 1});
    EXPECT_EQ(out.pixel(0, 0)[0], 255);  // still pure red, not darkened
    EXPECT_NEAR(out.pixel(0, 0)[3], 64, 1);
}

TEST(Compositing, fractionalEdgesCoverPartOfAPixelAndDrawingClipsAtTheCanvas) {
    RGBAImage white(4, 4);
    for (size_t i = 0; i < white.pixels.size(); ++i)
        white.pixels[i] = 255;
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

TEST(Compositing, sourceOverBlendsWithWhatIsThere) {
    RGBAImage canvas(1, 1);
    setPixel(canvas, 0, 0, 0, 0, 255, 255);
    CoverageMask mask(0, 0, 1, 1);
    mask.at(0, 0) = 1;
    const float white[3] = {1, 1, 1};
    fillMask(canvas, mask, white, 0.5f);
    const std::uint8_t* p = canvas.pixel(0, 0);
    EXPECT_NEAR(p[0], 128, 1);
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[3], 255);
    fillMask(canvas, mask, white, 1.0f, 5, 5);  // moved off the canvas: nothing
    EXPECT_NEAR(canvas.pixel(0, 0)[0], 128, 1);
}

TEST(Compositing, blurSpreadsCoverageAndKeepsItsSum) {
    CoverageMask dot(10, 20, 1, 1);
    dot.at(0, 0) = 1;
    CoverageMask blurred = blurMask(dot, 1.0);
    EXPECT_EQ(blurred.left, 7);
    EXPECT_EQ(blurred.top, 17);
    EXPECT_EQ(blurred.width, 7);
    float sum = std::accumulate(blurred.values.begin(), blurred.values.end(), 0.0f);
    EXPECT_NEAR(sum, 1, 1e-5);
    EXPECT_GT(blurred.at(3, 3), blurred.at(4, 3));
    EXPECT_GT(blurred.at(4, 3), 0);
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
    EXPECT_TRUE(
        renderTextLine(*font, "\xff\xfe k\xc3", 12, 0, 20));  // broken UTF-8 is drawn as it comes
}

}  // namespace
}  // namespace kelvo

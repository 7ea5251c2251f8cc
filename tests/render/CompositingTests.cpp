// 2D compositing and text beyond what the watermark tests show: filtering when an image is
// shrunk, partial coverage at fractional edges, source-over blending, and bad text input.
#include <gtest/gtest.h>

#include <cmath>

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
    drawImage(canvas, white, {0.5, -2, 2, 4});          // x from 0.5 to 2.5, rows -2 to 2
    drawImage(canvas, white, {std::nan(""), 0, 1, 1});  // ignored
    drawImage(canvas, RGBAImage(), {0, 0, 4, 4});
    const int alpha[4] = {128, 255, 128, 0};
    for (int x = 0; x < 4; ++x) {
        EXPECT_NEAR(canvas.pixel(x, 1)[3], alpha[x], 1) << x;
        EXPECT_EQ(canvas.pixel(x, 2)[3], 0) << x;
    }
}

TEST(Compositing, maskBlendsSourceOverWhatIsThere) {
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
}

TEST(Text, badSizesFontsAndBytesNeverBreakIt) {
    auto font = findMediumSansFont();
    if (!font) GTEST_SKIP() << "no sans-serif font installed";
    EXPECT_FALSE(renderTextLine(*font, "x", 0, 0, 0));
    EXPECT_FALSE(renderTextLine("/nonexistent/font.ttf", "x", 12, 0, 0));
    EXPECT_TRUE(renderTextLine(*font, "\xff\xfe k\xc3", 12, 0, 20));  // broken UTF-8 as it comes
}

}  // namespace
}  // namespace kelvo

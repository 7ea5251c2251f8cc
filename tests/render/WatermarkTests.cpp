// The watermark: the 2D drawing it is made of, its measures as a pure function, where icon
// and text land, the drawing around it left alone, and the brand icon.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <tuple>

#include "extensions/Shared/Brand.h"
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/Staging/Watermark.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Resources.h"
#include "platform/Imaging/Compositing.h"
#include "platform/Imaging/PNG.h"
#include "platform/Imaging/Text.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

// A 2 x 2 image of straight-alpha pixels, row by row.
RGBAImage quad(std::initializer_list<std::uint8_t> rgba) {
    RGBAImage image(2, 2);
    std::copy(rgba.begin(), rgba.end(), image.pixels.begin());
    return image;
}

// The icon is shrunk into its square: by area, with no dark fringes, partly covering the
// pixels at fractional edges.
TEST(Compositing, shrinkingAveragesTheSourceAndFractionalEdgesCoverPartOfAPixel) {
    const RGBAImage checker =
        quad({255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255});
    RGBAImage canvas(3, 1);
    drawImage(canvas, checker, {0, 0, 1, 1});
    drawImage(canvas, checker, {1.5, -3, 1, 7});          // half of pixels 1 and 2, clipped rows
    drawImage(canvas, checker, {std::nan(""), 0, 1, 1});  // ignored
    drawImage(canvas, RGBAImage(), {0, 0, 3, 1});
    EXPECT_NEAR(canvas.pixel(0, 0)[0], 128, 1);
    EXPECT_EQ(canvas.pixel(0, 0)[3], 255);
    EXPECT_NEAR(canvas.pixel(1, 0)[3], 128, 1);
    EXPECT_NEAR(canvas.pixel(2, 0)[3], 128, 1);

    RGBAImage out(1, 1);  // one red pixel among three transparent black ones
    drawImage(out, quad({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 255}), {0, 0, 1, 1});
    EXPECT_EQ(out.pixel(0, 0)[0], 255);  // still pure red, not darkened
    EXPECT_NEAR(out.pixel(0, 0)[3], 64, 1);
}

TEST(Text, badSizesFontsAndBytesNeverBreakIt) {
    auto font = findMediumSansFont();
    if (!font) GTEST_SKIP() << "no sans-serif font installed";
    EXPECT_FALSE(renderTextLine(*font, "x", 0, 0, 0));
    EXPECT_FALSE(renderTextLine("/nonexistent/font.ttf", "x", 12, 0, 0));
    EXPECT_TRUE(renderTextLine(*font, "\xff\xfe k\xc3", 12, 0, 20));  // broken UTF-8 as it comes
}

TEST(WatermarkLayout, measuresScaleWithTheShorterSideAboveTheirLowerBounds) {
    struct Case {
        Size size;
        double scale, fontSize, margin, textY, iconSize, textX;
        Rect icon;
    };
    const Case cases[] = {
        {{64, 64}, 0.25, 9, 4, 49, 14, 20, {4, 48, 14, 14}},
        {{256, 256}, 1, 12, 6, 236, 20, 29, {6, 235, 20, 20}},
        {{512, 256}, 1, 12, 6, 236, 20, 29, {6, 235, 20, 20}},  // the height is the shorter side
        {{256, 512}, 1, 12, 6, 492, 20, 29, {6, 491, 20, 20}},
        {{1024, 1024}, 4, 48, 24, 950, 80, 116, {24, 949, 80, 80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.width << " x " << c.size.height);
        WatermarkLayout l = watermarkLayout(c.size, true);
        EXPECT_EQ(std::tuple(l.scale, l.fontSize, l.margin, l.textY, l.iconSize, l.textX),
                  std::tuple(c.scale, c.fontSize, c.margin, c.textY, c.iconSize, c.textX));
        EXPECT_EQ(l.iconRect, c.icon);
        EXPECT_EQ(watermarkLayout(c.size, false).textX, c.margin);
    }
    WatermarkLayout odd = watermarkLayout({std::nan(""), 100}, true);
    EXPECT_EQ(std::tuple(odd.fontSize, odd.margin, odd.iconSize), std::tuple(9.0, 4.0, 14.0));
}

// Bounds of the pixels the mark touched; with `textOnly`, of its light, mostly opaque ones
// in the top rows: the white text without its shadow or the blue icon.
struct Extent {
    int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
};
Extent extentOf(const RGBAImage& image, bool textOnly = false) {
    Extent e;
    for (int y = 0; y < (textOnly ? 40 : image.height); ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            if (!(textOnly ? p[0] > 128 && p[3] > 64 : p[3] != 0)) continue;
            e.left = std::min(e.left, x), e.right = std::max(e.right, x);
            e.top = std::min(e.top, y), e.bottom = std::max(e.bottom, y);
        }
    }
    return e;
}

RGBAImage solidBlueIcon() {
    RGBAImage icon(8, 8);
    for (size_t i = 0; i < icon.pixels.size(); i += 4)
        icon.pixels[i + 2] = icon.pixels[i + 3] = 255;
    return icon;
}

TEST(BrandMark, whiteTextFollowsTheIconOrStartsAtTheMarginWithoutIt) {
    auto font = findMediumSansFont();
    if (!font) GTEST_SKIP() << "no sans-serif font installed";
    const RGBAImage icon = solidBlueIcon();
    for (bool withIcon : {true, false}) {
        SCOPED_TRACE(withIcon);
        RGBAImage canvas(256, 256);
        stampBrandMark(canvas, {256, 256}, withIcon ? &icon : nullptr, &*font);
        Extent text = extentOf(canvas, true);
        const int start = withIcon ? 29 : 6;  // after the icon (6 to 25) and half a margin
        EXPECT_GE(text.left, start);
        EXPECT_LE(text.left, start + 2);
        EXPECT_GE(text.bottom, 15);  // on the icon's line: "p" reaches below the baseline near 17
        EXPECT_LE(text.bottom, 21);
        int brightest = 0;
        for (int y = text.top; y <= text.bottom; ++y)
            for (int x = text.left; x <= text.right; ++x)
                brightest = std::max<int>(brightest, canvas.pixel(x, y)[0]);
        EXPECT_GT(brightest, 200);  // white text
        Extent all = extentOf(canvas);
        EXPECT_LT(all.right, 110);
        EXPECT_LT(all.bottom, 26);  // the shadow goes a little below the text
    }
}

// How soft the shadow is, from the stamped pixels alone. Over a transparent canvas the text
// (white) lies over the shadow (black), so each pixel tells both apart: the text's alpha is
// red x alpha, and the shadow's what remains under it. A blur keeps the shadow's mass and
// adds sigma^2 to its spread, so against the text it must have half the mass (the shadow's
// opacity over the cast text), its centre one pixel lower, and a vertical spread wider by
// the Gaussian of the 2-pixel blur radius (sigma 1); across, the glyphs' own width makes the
// estimate coarser.
TEST(BrandMark, shadowHasTheOpacityOffsetAndSoftnessOfItsBlur) {
    auto font = findMediumSansFont();
    if (!font) GTEST_SKIP() << "no sans-serif font installed";
    RGBAImage canvas(256, 256);
    stampBrandMark(canvas, {256, 256}, nullptr, &*font);
    struct Moments {
        double mass = 0, x = 0, y = 0, xx = 0, yy = 0;
        void add(double w, int px, int py) {
            mass += w, x += w * px, y += w * py, xx += w * px * px, yy += w * py * py;
        }
        double meanY() const { return y / mass; }
        double varX() const { return xx / mass - (x / mass) * (x / mass); }
        double varY() const { return yy / mass - meanY() * meanY(); }
    } text, shadow;
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const std::uint8_t* p = canvas.pixel(x, y);
            const double alpha = p[3] / 255.0, textAlpha = p[0] / 255.0 * alpha;
            text.add(textAlpha, x, y);
            shadow.add((alpha - textAlpha) / (1 - textAlpha), x, y);
        }
    }
    ASSERT_GT(text.mass, 50);
    EXPECT_NEAR(shadow.mass / text.mass, 0.5, 0.02);
    EXPECT_NEAR(shadow.x / shadow.mass, text.x / text.mass, 0.1);
    EXPECT_NEAR(shadow.meanY() - text.meanY(), 1, 0.1);
    // The blur radius as measured: twice the standard deviation the blur added.
    EXPECT_NEAR(2 * std::sqrt(shadow.varY() - text.varY()), 2, 0.5);
    EXPECT_NEAR(2 * std::sqrt(shadow.varX() - text.varX()), 2, 1);
}

TEST(BrandMark, iconAloneFillsItsSquareClippedAtTheTopEdge) {
    const RGBAImage icon = solidBlueIcon();
    // At 1024 the icon's square is rows -5 to 74: the first five are cut off.
    for (auto [side, left, right, top, bottom] :
         {std::tuple{256, 6, 25, 1, 20}, {1024, 24, 103, 0, 74}}) {
        RGBAImage canvas(side, side);
        stampBrandMark(canvas, {double(side), double(side)}, &icon, nullptr);
        Extent e = extentOf(canvas);
        EXPECT_EQ(std::tuple(e.left, e.right, e.top, e.bottom),
                  std::tuple(left, right, top, bottom))
            << side;
        const std::uint8_t* centre = canvas.pixel((left + right) / 2, (top + bottom) / 2);
        EXPECT_EQ(centre[2] + centre[3], 510) << "opaque blue";
    }
}

TEST(Watermark, isDrawnOverTheFrameLeavingTheRestAsItWasAndStretchesTheFrameToTheSize) {
    RGBAImage frame(128, 96);  // opaque red
    for (size_t i = 0; i < frame.pixels.size(); i += 4)
        frame.pixels[i] = frame.pixels[i + 3] = 255;
    auto marked = SceneLoader().drawWatermark(frame, {128, 96});
    ASSERT_TRUE(marked);
    ASSERT_EQ(std::pair(marked->width, marked->height), std::pair(128, 96));
    EXPECT_NE(marked->pixels, frame.pixels);  // the mark is there
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 128; ++x) {
            const std::uint8_t* p = marked->pixel(x, y);
            ASSERT_EQ(p[3], 255) << x << ", " << y;  // drawn over the frame, not through it
            ASSERT_TRUE(y < 30 || std::equal(p, p + 4, frame.pixel(x, y))) << x << ", " << y;
        }
    }
    auto stretched = SceneLoader().drawWatermark(frame, {64, 48});
    ASSERT_TRUE(stretched);
    EXPECT_EQ(stretched->width, 64);
    EXPECT_EQ(std::vector(stretched->pixel(50, 40), stretched->pixel(50, 40) + 4),
              std::vector<std::uint8_t>({255, 0, 0, 255}));
}

std::optional<RGBAImage> decodeFile(const std::filesystem::path& path) {
    ByteBuffer bytes = readFileContents(path);
    return decodePNG(ByteSpan(bytes.data(), bytes.size()));
}

TEST(BrandIcon, isFoundBesideTheExecutableAndMadeAgainByItsGenerator) {
    auto path = findResource(watermarkIconResource);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->parent_path(), executableDirectory());
    EXPECT_FALSE(findResource("../watermark-icon.png"));
    EXPECT_FALSE(findResource("no-such-resource.png"));

    test::TempDir dir;
    const std::filesystem::path made = dir.path() / "icon.png";
    int status =
        std::system((std::string(KELVO_ICON_GENERATOR) + " '" + made.string() + "'").c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto fresh = decodeFile(made);
    auto committed = decodeFile(std::filesystem::path(KELVO_SOURCE_DIR) /
                                "extensions/Shared/Resources/watermark-icon.png");
    ASSERT_TRUE(fresh && committed);
    EXPECT_EQ(fresh->width, committed->width);
    EXPECT_EQ(fresh->pixels, committed->pixels);
    // A square mark on a transparent ground.
    EXPECT_EQ(fresh->width, fresh->height);
    EXPECT_EQ(fresh->pixel(0, 0)[3], 0);
    EXPECT_EQ(fresh->pixel(fresh->width / 2, fresh->height / 2)[3], 255);
}

}  // namespace
}  // namespace kelvo

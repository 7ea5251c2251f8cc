// The watermark: its measures as a pure function, where icon and text land, and the
// drawing around it left alone.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <tuple>

#include "extensions/Shared/Brand.h"
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/Watermark.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Resources.h"
#include "platform/Imaging/PNG.h"
#include "platform/Imaging/Text.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

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

// Columns and rows of the canvas where `touched` holds, among the first `rows` rows.
struct Extent {
    int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
};
template <class Pred>
Extent extentWhere(const RGBAImage& image, Pred touched, int rows) {
    Extent e;
    for (int y = 0; y < std::min(rows, image.height); ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!touched(image.pixel(x, y))) continue;
            e.left = std::min(e.left, x), e.right = std::max(e.right, x);
            e.top = std::min(e.top, y), e.bottom = std::max(e.bottom, y);
        }
    }
    return e;
}
Extent markExtent(const RGBAImage& image) {
    return extentWhere(
        image, [](const std::uint8_t* p) { return p[3] != 0; }, image.height);
}
// Light, mostly opaque pixels of the top rows: the white text, not its shadow or the icon.
Extent textExtent(const RGBAImage& image) {
    return extentWhere(
        image, [](const std::uint8_t* p) { return p[0] > 128 && p[3] > 64; }, 40);
}

RGBAImage solidBlueIcon() {
    RGBAImage icon(8, 8);
    for (size_t i = 0; i < icon.pixels.size(); i += 4)
        icon.pixels[i + 2] = icon.pixels[i + 3] = 255;
    return icon;
}

class BrandMark : public testing::Test {
protected:
    void SetUp() override {
        font = findMediumSansFont();
        if (!font) GTEST_SKIP() << "no sans-serif font installed";
    }
    std::optional<std::filesystem::path> font;
    RGBAImage icon = solidBlueIcon();
};

TEST_F(BrandMark, iconThenWhiteTextInTheTopLeftCorner) {
    RGBAImage canvas(256, 256);
    stampBrandMark(canvas, {256, 256}, &icon, &*font);
    // The icon fills (6, 1, 20, 20) of the raster.
    EXPECT_EQ(canvas.pixel(6, 1)[3], 255);
    EXPECT_EQ(canvas.pixel(25, 20)[3], 255);
    EXPECT_EQ(canvas.pixel(16, 11)[2], 255);
    EXPECT_EQ(canvas.pixel(5, 11)[3], 0);
    EXPECT_EQ(canvas.pixel(16, 21)[3], 0);
    // The text begins after the icon at x = 29 and sits on the icon's line; descenders of
    // "p" reach below the baseline near 17.
    Extent text = textExtent(canvas);
    EXPECT_GE(text.left, 29);
    EXPECT_LE(text.left, 31);
    EXPECT_GE(text.bottom, 15);
    EXPECT_LE(text.bottom, 21);
    int brightest = 0;
    for (int y = text.top; y <= text.bottom; ++y)
        for (int x = text.left; x <= text.right; ++x)
            brightest = std::max<int>(brightest, canvas.pixel(x, y)[0]);
    EXPECT_GT(brightest, 200);  // white text
    Extent all = markExtent(canvas);
    EXPECT_LT(all.right, 110);
    EXPECT_LT(all.bottom, 26);  // the shadow goes a little below the text
}

TEST_F(BrandMark, textAloneStartsAtTheMargin) {
    RGBAImage canvas(256, 256);
    stampBrandMark(canvas, {256, 256}, nullptr, &*font);
    Extent text = textExtent(canvas);
    EXPECT_GE(text.left, 6);
    EXPECT_LE(text.left, 8);
}

TEST(BrandMarkIcon, iconAloneFillsItsSquareClippedAtTheTopEdge) {
    const RGBAImage icon = solidBlueIcon();
    // At 1024 the icon's square is rows -5 to 74: the first five are cut off.
    for (auto [side, left, right, top, bottom] :
         {std::tuple{256, 6, 25, 1, 20}, {1024, 24, 103, 0, 74}}) {
        RGBAImage canvas(side, side);
        stampBrandMark(canvas, {double(side), double(side)}, &icon, nullptr);
        Extent e = markExtent(canvas);
        EXPECT_EQ(std::tuple(e.left, e.right, e.top, e.bottom),
                  std::tuple(left, right, top, bottom))
            << side;
    }
}

TEST(Watermark, leavesTheImageAroundTheMarkAsItWas) {
    RGBAImage frame(128, 96);
    for (int y = 48; y < 96; ++y) {
        for (int x = 0; x < 128; ++x) {
            std::uint8_t* p = frame.pixel(x, y);
            p[0] = 200, p[1] = 10, p[2] = 20, p[3] = 255;
        }
    }
    auto marked = SceneLoader().drawWatermark(frame, {128, 96});
    ASSERT_TRUE(marked);
    ASSERT_EQ(std::pair(marked->width, marked->height), std::pair(128, 96));
    const size_t untouched = 30 * 128 * 4;  // rows 30 and below
    EXPECT_TRUE(std::equal(frame.pixels.begin() + untouched, frame.pixels.end(),
                           marked->pixels.begin() + untouched));
    EXPECT_GT(marked->pixel(8, 8)[3], 0);  // the mark is there
}

TEST(Watermark, drawsTheFrameStretchedToTheSizeAndRefusesBadSizes) {
    RGBAImage small(8, 8);
    for (size_t i = 0; i < small.pixels.size(); i += 4)
        small.pixels[i] = small.pixels[i + 3] = 255;
    auto marked = SceneLoader().drawWatermark(small, {64, 48});
    ASSERT_TRUE(marked);
    EXPECT_EQ(marked->width, 64);
    EXPECT_EQ(marked->pixel(50, 40)[0], 255);
    EXPECT_EQ(marked->pixel(50, 40)[3], 255);
    for (Size bad :
         {Size{0, 0}, Size{-1, 10}, Size{std::nan(""), 10}, Size{10, INFINITY}, Size{8193, 8}})
        EXPECT_FALSE(SceneLoader().drawWatermark(small, bad)) << bad.width << " x " << bad.height;
}

std::optional<RGBAImage> decodeFile(const std::filesystem::path& path) {
    ByteBuffer bytes = readFileContents(path);
    return decodePNG(ByteSpan(bytes.data(), bytes.size()));
}

TEST(BrandIcon, isFoundBesideTheExecutableAndIsSquareWithTransparentCorners) {
    auto path = findResource(watermarkIconResource);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->parent_path(), executableDirectory());
    EXPECT_FALSE(findResource("../watermark-icon.png"));
    EXPECT_FALSE(findResource("no-such-resource.png"));
    auto icon = decodeFile(*path);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->width, icon->height);
    EXPECT_EQ(icon->pixel(0, 0)[3], 0);
    EXPECT_EQ(icon->pixel(icon->width / 2, icon->height / 2)[3], 255);
}

TEST(BrandIcon, generatorReproducesTheCommittedIcon) {
    test::TempDir dir;
    std::filesystem::path made = dir.path() / "icon.png";
    int status =
        std::system((std::string(KELVO_ICON_GENERATOR) + " '" + made.string() + "'").c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto fresh = decodeFile(made);
    auto committed = decodeFile(std::filesystem::path(KELVO_SOURCE_DIR) /
                                "extensions/Shared/Resources/watermark-icon.png");
    ASSERT_TRUE(fresh && committed);
    EXPECT_EQ(fresh->width, committed->width);
    EXPECT_EQ(fresh->pixels, committed->pixels);
}

}  // namespace
}  // namespace kelvo

// The watermark: its measures as a pure function, where icon and text land, and the
// drawing around it left alone.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>

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
        EXPECT_DOUBLE_EQ(l.scale, c.scale);
        EXPECT_DOUBLE_EQ(l.fontSize, c.fontSize);
        EXPECT_DOUBLE_EQ(l.margin, c.margin);
        EXPECT_DOUBLE_EQ(l.textY, c.textY);
        EXPECT_DOUBLE_EQ(l.iconSize, c.iconSize);
        EXPECT_EQ(l.iconRect, c.icon);
        EXPECT_DOUBLE_EQ(l.textX, c.textX);
        EXPECT_DOUBLE_EQ(watermarkLayout(c.size, false).textX, c.margin);
    }
    WatermarkLayout odd = watermarkLayout({std::nan(""), 100}, true);
    EXPECT_EQ(odd.fontSize, 9);
    EXPECT_EQ(odd.margin, 4);
    EXPECT_EQ(odd.iconSize, 14);
}

TEST(WatermarkLayout, rectanglesMoveFromBottomLeftToTopLeftOrigin) {
    EXPECT_EQ(toRaster({6, 235, 20, 20}, 256), (Rect{6, 1, 20, 20}));
    EXPECT_EQ(toRaster({24, 949, 80, 80}, 1024), (Rect{24, -5, 80, 80}));  // 5 past the top
}

// Columns and rows of the canvas that the mark touched.
struct Extent {
    int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
};
Extent markExtent(const RGBAImage& image) {
    Extent e;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (image.pixel(x, y)[3] == 0) continue;
            e.left = std::min(e.left, x), e.right = std::max(e.right, x);
            e.top = std::min(e.top, y), e.bottom = std::max(e.bottom, y);
        }
    }
    return e;
}

RGBAImage solidIcon() {
    RGBAImage icon(8, 8);
    for (size_t i = 0; i < icon.pixels.size(); i += 4) {
        icon.pixels[i + 2] = 255;
        icon.pixels[i + 3] = 255;
    }
    return icon;
}

class BrandMark : public testing::Test {
protected:
    void SetUp() override {
        font = findMediumSansFont();
        if (!font) GTEST_SKIP() << "no sans-serif font installed";
    }
    std::optional<std::filesystem::path> font;
};

TEST_F(BrandMark, iconThenTextInTheTopLeftCorner) {
    RGBAImage canvas(256, 256);
    RGBAImage icon = solidIcon();
    stampBrandMark(canvas, {256, 256}, &icon, &*font);
    // The icon fills (6, 1, 20, 20) of the raster.
    EXPECT_EQ(canvas.pixel(6, 1)[3], 255);
    EXPECT_EQ(canvas.pixel(25, 20)[3], 255);
    EXPECT_EQ(canvas.pixel(16, 11)[2], 255);
    EXPECT_EQ(canvas.pixel(5, 11)[3], 0);
    EXPECT_EQ(canvas.pixel(16, 21)[3], 0);
    // The text begins after the icon at x = 29 and sits on the icon's line.
    int brightest = 0, firstTextColumn = 1 << 30, lowestTextRow = -1;
    for (int y = 0; y < 40; ++y) {
        for (int x = 27; x < 256; ++x) {
            const std::uint8_t* p = canvas.pixel(x, y);
            if (p[0] > 128 && p[3] > 64) {
                firstTextColumn = std::min(firstTextColumn, x);
                lowestTextRow = std::max(lowestTextRow, y);
            }
            brightest = std::max<int>(brightest, p[0]);
        }
    }
    EXPECT_GE(firstTextColumn, 29);
    EXPECT_LE(firstTextColumn, 31);
    EXPECT_GE(lowestTextRow, 15);  // descenders of "p" reach below the baseline near 17
    EXPECT_LE(lowestTextRow, 21);
    EXPECT_GT(brightest, 200);  // white text
    Extent e = markExtent(canvas);
    EXPECT_LT(e.right, 110);
    EXPECT_LT(e.bottom, 26);  // the shadow goes a little below the text
}

TEST_F(BrandMark, textAloneStartsAtTheMarginAndIconAloneLeavesTheRestEmpty) {
    RGBAImage textOnly(256, 256);
    stampBrandMark(textOnly, {256, 256}, nullptr, &*font);
    int first = 1 << 30;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 256; ++x) {
            if (textOnly.pixel(x, y)[0] > 128 && textOnly.pixel(x, y)[3] > 64)
                first = std::min(first, x);
        }
    }
    EXPECT_GE(first, 6);
    EXPECT_LE(first, 8);

    RGBAImage iconOnly(256, 256);
    RGBAImage icon = solidIcon();
    stampBrandMark(iconOnly, {256, 256}, &icon, nullptr);
    Extent e = markExtent(iconOnly);
    EXPECT_EQ(e.left, 6);
    EXPECT_EQ(e.right, 25);
    EXPECT_EQ(e.top, 1);
    EXPECT_EQ(e.bottom, 20);
}

TEST_F(BrandMark, largeIconIsClippedAtTheTopEdge) {
    RGBAImage canvas(1024, 1024);
    RGBAImage icon = solidIcon();
    stampBrandMark(canvas, {1024, 1024}, &icon, nullptr);
    Extent e = markExtent(canvas);
    EXPECT_EQ(e.top, 0);
    EXPECT_EQ(e.bottom, 74);  // rows -5 to 74, the first five cut off
    EXPECT_EQ(e.left, 24);
    EXPECT_EQ(e.right, 103);
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
    EXPECT_EQ(marked->width, 128);
    EXPECT_EQ(marked->height, 96);
    for (int y = 30; y < 96; ++y) {
        for (int x = 0; x < 128; ++x) {
            ASSERT_TRUE(std::equal(frame.pixel(x, y), frame.pixel(x, y) + 4, marked->pixel(x, y)))
                << x << ", " << y;
        }
    }
    EXPECT_GT(marked->pixel(8, 8)[3], 0);  // the mark is there
}

TEST(Watermark, drawsTheFrameStretchedToTheSizeAndRefusesBadSizes) {
    RGBAImage small(8, 8);
    for (size_t i = 0; i < small.pixels.size(); i += 4)
        small.pixels[i] = 255, small.pixels[i + 3] = 255;
    auto marked = SceneLoader().drawWatermark(small, {64, 48});
    ASSERT_TRUE(marked);
    EXPECT_EQ(marked->width, 64);
    EXPECT_EQ(marked->pixel(50, 40)[0], 255);
    EXPECT_EQ(marked->pixel(50, 40)[3], 255);
    for (Size bad :
         {Size{0, 0}, Size{-1, 10}, Size{std::nan(""), 10}, Size{10, INFINITY}, Size{8193, 8}}) {
        EXPECT_FALSE(SceneLoader().drawWatermark(small, bad)) << bad.width << " x " << bad.height;
    }
}

TEST(BrandIcon, isFoundBesideTheExecutableAndIsSquareWithTransparentCorners) {
    auto path = findResource(watermarkIconResource);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->parent_path(), executableDirectory());
    EXPECT_FALSE(findResource("../watermark-icon.png"));
    EXPECT_FALSE(findResource("no-such-resource.png"));
    ByteBuffer bytes = readFileContents(*path);
    auto icon = decodePNG(ByteSpan(bytes.data(), bytes.size()));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->width, icon->height);
    EXPECT_EQ(icon->pixel(0, 0)[3], 0);
    EXPECT_EQ(icon->pixel(icon->width / 2, icon->height / 2)[3], 255);
}

TEST(BrandIcon, generatorReproducesTheCommittedIcon) {
    test::TempDir dir;
    std::filesystem::path made = dir.path() / "icon.png";
    std::string command = std::string(KELVO_ICON_GENERATOR) + " '" + made.string() + "'";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto decode = [](const std::filesystem::path& p) {
        ByteBuffer bytes = readFileContents(p);
        return decodePNG(ByteSpan(bytes.data(), bytes.size()));
    };
    auto fresh = decode(made);
    auto committed = decode(std::filesystem::path(KELVO_SOURCE_DIR) /
                            "extensions/Shared/Resources/watermark-icon.png");
    ASSERT_TRUE(fresh && committed);
    EXPECT_EQ(fresh->width, committed->width);
    EXPECT_EQ(fresh->pixels, committed->pixels);
}

}  // namespace
}  // namespace kelvo

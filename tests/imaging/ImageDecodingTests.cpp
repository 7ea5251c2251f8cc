// Texture images: every format and layout decodes to the pixels it holds, large images come
// out at the size asked for, and broken or lying files give nothing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/Imaging/ImageDecoding.h"
#include "platform/Imaging/PNG.h"
#include "platform/Imaging/TextureDecoding.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestImages.h"

namespace kelvo {
namespace {

using test::ImageBytes;
using test::makeImage;
using Pixel = std::array<std::uint8_t, 4>;

ByteSpan span(const ImageBytes& bytes) {
    return {bytes.data(), bytes.size()};
}

std::optional<RGBAImage> decode(const ImageBytes& bytes, int maxSide = 4096,
                                std::string_view path = {}) {
    return decodeImage(span(bytes), imageFormatOf(span(bytes), {}, path), maxSide);
}

// Four colours with different alphas, in a 3 x 2 layout that shows any flip or transposition.
const RGBAImage small = makeImage(3, 2, [](int x, int y) {
    const Pixel colors[6] = {{255, 0, 0, 255},  {0, 255, 0, 128},   {0, 0, 255, 0},
                             {10, 20, 30, 255}, {200, 100, 50, 64}, {255, 255, 255, 255}};
    return colors[y * 3 + x];
});

TEST(ImageDecoding, everyPNGLayoutDecodesToItsPixels) {
    const RGBAImage opaque = makeImage(3, 2, [](int x, int y) {
        return Pixel{std::uint8_t(x * 100), std::uint8_t(y * 200), 7, 255};
    });
    const RGBAImage grey = makeImage(3, 2, [](int x, int y) {
        const std::uint8_t v = std::uint8_t(x * 80 + y * 10);
        return Pixel{v, v, v, std::uint8_t(255 - x * 50)};
    });
    struct Case {
        const char* name;
        const RGBAImage& image;
        int colorType, bitDepth;
        bool interlaced;
        bool keepAlpha;
    } cases[] = {
        {"rgba8", small, PNG_COLOR_TYPE_RGBA, 8, false, true},
        {"rgba16", small, PNG_COLOR_TYPE_RGBA, 16, false, true},
        {"rgba8 interlaced", small, PNG_COLOR_TYPE_RGBA, 8, true, true},
        {"rgb8", opaque, PNG_COLOR_TYPE_RGB, 8, false, true},
        {"palette with tRNS", small, PNG_COLOR_TYPE_PALETTE, 8, false, true},
        {"grey", grey, PNG_COLOR_TYPE_GRAY, 8, false, false},
        {"grey-alpha 16", grey, PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, true},
    };
    for (const Case& c : cases) {
        std::optional<RGBAImage> decoded =
            decode(test::encodePNGAs(c.image, c.colorType, c.bitDepth, c.interlaced));
        ASSERT_TRUE(decoded) << c.name;
        RGBAImage expected = c.image;
        if (!c.keepAlpha) {
            for (size_t i = 3; i < expected.pixels.size(); i += 4)
                expected.pixels[i] = 255;
        }
        EXPECT_EQ(decoded->pixels, expected.pixels) << c.name;
    }
}

TEST(PNGEncoding, writtenImagesReadBackExactlyAndEmptyOnesAreRefused) {
    // Noise (which the row filter must carry over every byte of) in shapes from one pixel to
    // rows wider than the compressor's blocks, read back by libpng, which checks every CRC
    // and the zlib checksum.
    std::uint32_t state = 12345;
    auto noise = [&](int, int) {
        Pixel p;
        for (std::uint8_t& v : p)
            v = static_cast<std::uint8_t>((state = state * 1664525 + 1013904223) >> 24);
        return p;
    };
    for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {1, 300}, {5000, 3}, {256, 256}}) {
        SCOPED_TRACE(w);
        const RGBAImage image = w == 3 ? small : makeImage(w, h, noise);
        const std::vector<std::uint8_t> png = encodePNG(image);
        ASSERT_FALSE(png.empty());
        auto back = decodePNG(ByteSpan(png.data(), png.size()));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->width, w);
        EXPECT_EQ(back->height, h);
        EXPECT_EQ(back->pixels, image.pixels);
    }
    RGBAImage broken(2, 2);
    broken.pixels.resize(3);
    EXPECT_TRUE(encodePNG(broken).empty());
    EXPECT_TRUE(encodePNG(RGBAImage(0, 0)).empty());
}

TEST(ImageDecoding, jpegAndWebPDecodeToTheirPixels) {
    RGBAImage opaque = test::photoLike(40, 24);
    std::optional<RGBAImage> webp = decode(test::encodeWebP(small));
    ASSERT_TRUE(webp);
    RGBAImage expected = small;
    std::fill_n(expected.pixel(2, 0), 3, 0);   // the encoder drops a transparent pixel's colour
    EXPECT_EQ(webp->pixels, expected.pixels);  // lossless, alpha included
    std::optional<RGBAImage> jpeg = decode(test::encodeJPEG(opaque));
    ASSERT_TRUE(jpeg);
    ASSERT_EQ(jpeg->width, 40);
    ASSERT_EQ(jpeg->height, 24);
    double error = 0;
    for (size_t i = 0; i < opaque.pixels.size(); ++i)
        error += std::abs(int(jpeg->pixels[i]) - int(opaque.pixels[i]));
    EXPECT_LT(error / opaque.pixels.size(), 3);
}

// The 3 x 2 test image stored in each TGA layout.
TEST(ImageDecoding, everyTGALayoutDecodesToItsPixels) {
    auto bgra = [](const std::uint8_t* p, int bits) {
        ImageBytes out = {p[2], p[1], p[0]};
        if (bits == 32) out.push_back(p[3]);
        return out;
    };
    auto rows = [&](bool topDown, bool rightToLeft,
                    const std::function<ImageBytes(const std::uint8_t*)>& pixel) {
        ImageBytes out;
        for (int r = 0; r < 2; ++r) {
            for (int c = 0; c < 3; ++c) {
                ImageBytes p = pixel(small.pixel(rightToLeft ? 2 - c : c, topDown ? r : 1 - r));
                out.insert(out.end(), p.begin(), p.end());
            }
        }
        return out;
    };
    auto join = [](ImageBytes a, const ImageBytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    // Run-length encoded: one run of the first pixel's colour reaching into the second row is
    // not possible with these distinct pixels; instead a raw packet of four crosses the row
    // end, then a run of one and a raw packet of one.
    ImageBytes stored = rows(true, false, [&](const std::uint8_t* p) { return bgra(p, 32); });
    ImageBytes rle = {3};
    rle.insert(rle.end(), stored.begin(), stored.begin() + 16);
    rle.push_back(0x80);
    rle.insert(rle.end(), stored.begin() + 16, stored.begin() + 20);
    rle.push_back(0);
    rle.insert(rle.end(), stored.begin() + 20, stored.end());

    RGBAImage opaque = small;
    for (size_t i = 3; i < opaque.pixels.size(); i += 4)
        opaque.pixels[i] = 255;
    // Colour-mapped: the map holds the six pixels in order, map index = stored index + 2.
    ImageBytes map;
    for (int i = 0; i < 6; ++i) {
        ImageBytes p = bgra(small.pixels.data() + i * 4, 32);
        map.insert(map.end(), p.begin(), p.end());
    }
    ImageBytes mapped = test::tgaHeader(1, 3, 2, 8, 32 | 8, 6, 32);
    mapped[3] = 2;  // first map entry
    mapped = join(mapped, map);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            mapped.push_back(std::uint8_t(2 + r * 3 + c));
    RGBAImage greys = makeImage(3, 2, [&](int x, int y) {
        std::uint8_t v = small.pixel(x, y)[0];
        return Pixel{v, v, v, 255};
    });
    struct Case {
        const char* name;
        ImageBytes file;
        const RGBAImage& expected;
    } cases[] = {
        {"32-bit bottom-up",
         join(test::tgaHeader(2, 3, 2, 32, 8),
              rows(false, false, [&](auto p) { return bgra(p, 32); })),
         small},
        {"24-bit top-down right-to-left",
         join(test::tgaHeader(2, 3, 2, 24, 32 | 16),
              rows(true, true, [&](auto p) { return bgra(p, 24); })),
         opaque},
        {"32-bit run-length", join(test::tgaHeader(10, 3, 2, 32, 32 | 8), rle), small},
        {"colour-mapped", mapped, small},
        {"grey",
         join(test::tgaHeader(3, 3, 2, 8, 32),
              rows(true, false, [](auto p) { return ImageBytes{p[0]}; })),
         greys},
    };
    for (const Case& c : cases) {
        std::optional<RGBAImage> decoded = decode(c.file, 4096, "textures/a.TGA");
        ASSERT_TRUE(decoded) << c.name;
        EXPECT_EQ(decoded->pixels, c.expected.pixels) << c.name;
    }
    // 16-bit pixels: 5 bits a channel, the top bit alpha when the descriptor counts one.
    ImageBytes sixteen = join(test::tgaHeader(2, 2, 1, 16, 32 | 1), {0x1F, 0x80, 0xE0, 0x03});
    std::optional<RGBAImage> decoded = decode(sixteen, 4096, "a.tga");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixels, (std::vector<std::uint8_t>{0, 0, 255, 255, 0, 255, 0, 0}));
}

TEST(ImageDecoding, formatsAreKnownByTheirBytesAndTGAByItsName) {
    ImageBytes tga = test::tgaHeader(2, 1, 1, 24, 0);
    tga.insert(tga.end(), {1, 2, 3});
    ImageBytes ktx2 = {0xAB, 'K', 'T', 'X', ' ', '2', '0', 0xBB, '\r', '\n', 0x1A, '\n'};
    EXPECT_EQ(imageFormatOf(span(test::encodePNGAs(small, PNG_COLOR_TYPE_RGBA))), ImageFormat::png);
    EXPECT_EQ(imageFormatOf(span(test::encodeJPEG(small))), ImageFormat::jpeg);
    EXPECT_EQ(imageFormatOf(span(test::encodeWebP(small))), ImageFormat::webp);
    EXPECT_EQ(imageFormatOf(span(ktx2)), ImageFormat::ktx2);
    EXPECT_EQ(imageFormatOf(span(tga)), ImageFormat::unknown);
    EXPECT_EQ(imageFormatOf(span(tga), "image/x-tga"), ImageFormat::tga);
    EXPECT_EQ(imageFormatOf(span(tga), "", "dir/Wood.Tga"), ImageFormat::tga);
    EXPECT_EQ(imageFormatOf(span(ImageBytes(40, 0)), "", "x.tga"), ImageFormat::unknown);
    EXPECT_FALSE(decodeImage(span(ktx2), ImageFormat::ktx2, 64));
}

TEST(ImageDecoding, largeImagesComeOutAtTheSizeAskedForWithTheirMeanColour) {
    // A fine black-and-white checkerboard shrinks to mid grey, whatever the route.
    RGBAImage board = makeImage(256, 128, [](int x, int y) {
        std::uint8_t v = (x + y) % 2 ? 255 : 0;
        return Pixel{v, v, v, 255};
    });
    struct Case {
        const char* name;
        ImageBytes file;
        int tolerance;
    } cases[] = {
        {"png", test::encodePNGAs(board, PNG_COLOR_TYPE_RGB), 1},
        {"png interlaced", test::encodePNGAs(board, PNG_COLOR_TYPE_RGB, 8, true), 1},
        {"jpeg", test::encodeJPEG(board), 4},
        {"webp", test::encodeWebP(board), 2},
    };
    for (const Case& c : cases) {
        for (int side : {64, 100}) {  // a quarter (scaled JPEG decoding), and an odd ratio
            std::optional<RGBAImage> decoded = decode(c.file, side);
            ASSERT_TRUE(decoded) << c.name;
            EXPECT_EQ(decoded->width, side) << c.name;
            EXPECT_EQ(decoded->height, side / 2) << c.name;
            double mean = 0;
            for (size_t i = 0; i < decoded->pixels.size(); i += 4)
                mean += decoded->pixels[i] / (decoded->pixels.size() / 4.0);
            EXPECT_NEAR(mean, 127.5, c.tolerance) << c.name << " " << side;
        }
    }
}

TEST(ImageDecoding, shrinkingWeighsColourByAlphaAndMipsHalveToOnePixel) {
    // Transparent red beside opaque blue: one pixel of blue, half covered.
    RGBAImage pair = makeImage(2, 1, [](int x, int) {
        return x ? Pixel{0, 0, 255, 255} : Pixel{255, 0, 0, 0};
    });
    RGBAImage one = shrinkImage(pair, 1, 1);
    EXPECT_EQ(std::vector<std::uint8_t>(one.pixels.begin(), one.pixels.end()),
              (std::vector<std::uint8_t>{0, 0, 255, 128}));
    // Wholly transparent areas keep their plain mean colour.
    pair.pixel(1, 0)[3] = 0;
    EXPECT_EQ(shrinkImage(pair, 1, 1).pixel(0, 0)[0], 128);

    std::vector<RGBAImage> chain = makeMipChain(test::photoLike(5, 3));
    std::vector<std::pair<int, int>> sizes;
    for (const RGBAImage& level : chain)
        sizes.push_back({level.width, level.height});
    EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{5, 3}, {2, 1}, {1, 1}}));
}

TEST(ImageDecoding, truncatedFilesGiveNothing) {
    RGBAImage noise = makeImage(48, 48, [](int x, int y) {
        std::uint32_t h =
            (std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u) * 2654435761u;
        return Pixel{std::uint8_t(h >> 24), std::uint8_t(h >> 16), std::uint8_t(h >> 8), 255};
    });
    ImageBytes tga = test::tgaHeader(2, 48, 48, 32, 8);
    tga.insert(tga.end(), noise.pixels.begin(), noise.pixels.end());
    for (const ImageBytes& file :
         {test::encodePNGAs(noise, PNG_COLOR_TYPE_RGBA), test::encodeJPEG(noise),
          test::encodeWebP(noise), test::encodeWebP(noise, false), tga}) {
        ASSERT_TRUE(decode(file, 4096, "x.tga"));
        // Every cut inside the image data; cutting the last few bytes may only lose a
        // trailing chunk or marker.
        for (size_t length = 0; length < file.size() * 9 / 10; length += 1 + length / 64) {
            ImageBytes cut(file.begin(), file.begin() + length);
            EXPECT_FALSE(decode(cut, 4096, "x.tga")) << file[1] << " cut at " << length;
        }
    }
}

// Headers that declare huge images over a few bytes of data: refused before anything is
// allocated for them, so quickly.
TEST(ImageDecoding, lyingSizesAreRefusedBeforeDecoding) {
    ImageBytes png = test::encodePNGAs(small, PNG_COLOR_TYPE_RGBA);
    // IHDR width and height (big-endian at 16 and 20), CRC fixed to match.
    auto setBig = [](ImageBytes& b, size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = std::uint8_t(v >> (24 - 8 * i));
    };
    setBig(png, 16, 40000);
    setBig(png, 20, 40000);
    setBig(png, 29, std::uint32_t(crc32(0, png.data() + 12, 17)));
    ImageBytes jpeg = test::encodeJPEG(test::photoLike(16, 16));
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // SOF0: height and width at +5, +7
            jpeg[i + 5] = jpeg[i + 7] = 0xFF;
            jpeg[i + 6] = jpeg[i + 8] = 0x00;
            break;
        }
    }
    ImageBytes tga = test::tgaHeader(2, 65535, 65535, 32, 8);
    tga.resize(200);
    auto start = std::chrono::steady_clock::now();
    for (const ImageBytes& file : {png, jpeg, tga})
        EXPECT_FALSE(decode(file, 4096, "x.tga"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Every texture image beside the corpus's models decodes, shrunk and whole.
std::shared_ptr<Texture> textureOf(ImageBytes bytes, std::string path = "t.png") {
    auto texture = std::make_shared<Texture>();
    texture->path = std::move(path);
    texture->encoded = std::make_shared<const ByteBuffer>(bytes.begin(), bytes.end());
    return texture;
}

TEST(TextureDecoding, eachTextureIsDecodedOnceAtTheLimitAndBrokenOnesAreMarkedNotFound) {
    auto shared = textureOf(test::encodePNGAs(test::photoLike(64, 32), PNG_COLOR_TYPE_RGB));
    auto broken = textureOf(ImageBytes{0x89, 'P', 'N', 'G'});
    auto missing = std::make_shared<Texture>();  // a loader found no bytes for it
    auto first = std::make_shared<Material>(), second = std::make_shared<Material>();
    first->diffuseTexture.texture = shared;
    first->emissionTexture.texture = shared;
    second->diffuseTexture.texture = shared;
    second->metalnessRoughnessTexture.texture = broken;
    second->emissionTexture.texture = missing;
    auto unused = textureOf(test::encodePNGAs(test::photoLike(4, 4), PNG_COLOR_TYPE_RGB));
    first->normalTexture.texture = unused;
    auto geometry = std::make_shared<Geometry>();
    geometry->materials = {first, second};
    Scene scene;
    scene.rootNode->addChildNode(Node::withGeometry(geometry));
    scene.rootNode->childNodes()[0]->addChildNode(Node::withGeometry(geometry));

    setMaximumTextureSide(16);
    decodeTextures(scene);
    setMaximumTextureSide(2048);
    const std::shared_ptr<const Texture> decoded = first->diffuseTexture.texture;
    EXPECT_EQ(first->emissionTexture.texture, decoded);
    EXPECT_EQ(second->diffuseTexture.texture, decoded);
    ASSERT_TRUE(decoded->found);
    ASSERT_EQ(decoded->levels.size(), 5u);  // 16 x 8 down to 1 x 1
    EXPECT_EQ(decoded->levels[0].width, 16);
    EXPECT_EQ(decoded->levels[0].height, 8);
    EXPECT_EQ(decoded->path, "t.png");
    EXPECT_TRUE(decoded->encoded);
    EXPECT_FALSE(second->metalnessRoughnessTexture.texture->found);
    EXPECT_FALSE(second->emissionTexture.texture->found);
    // Maps no renderer draws are left encoded.
    EXPECT_EQ(first->normalTexture.texture, unused);
    EXPECT_TRUE(unused->levels.empty());

    decodeTextures(scene);  // nothing left to do
    EXPECT_EQ(first->diffuseTexture.texture, decoded);
}

}  // namespace
}  // namespace kelvo

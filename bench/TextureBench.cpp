// Texture decoding cost: a generated 2048-pixel photograph-like image as JPEG, PNG, WebP and
// TGA, decoded at full size (the preview's limit) and at 512 (a 256-pixel thumbnail's), the
// mip chain alone, and a scene of five such JPEG textures (a typical glTF helmet) through
// decodeTextures at the thumbnail's limit, side by side on the machine's cores.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>

#include "platform/Imaging/ImageDecoding.h"
#include "platform/Imaging/TextureDecoding.h"
#include "tests/support/TestImages.h"

namespace {

using kelvo::ImageFormat;

// Smooth gradients with noise on top: compresses about as a photographed texture does.
kelvo::RGBAImage photograph(int side) {
    kelvo::RGBAImage image(side, side);
    std::uint32_t noise = 12345;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            noise = noise * 1664525u + 1013904223u;
            std::uint8_t* p = image.pixel(x, y);
            const int n = static_cast<int>(noise >> 28) - 8;
            p[0] = static_cast<std::uint8_t>(std::clamp(x * 255 / side + n, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(y * 255 / side + n, 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(((x / 64 + y / 64) % 2) * 160 + n, 0, 255));
            p[3] = 255;
        }
    }
    return image;
}

const kelvo::RGBAImage& source() {
    static const kelvo::RGBAImage image = photograph(2048);
    return image;
}

const std::vector<std::uint8_t>& encoded(ImageFormat format) {
    static std::map<ImageFormat, std::vector<std::uint8_t>> files;
    auto [it, fresh] = files.try_emplace(format);
    if (fresh) {
        switch (format) {
            case ImageFormat::jpeg:
                it->second = kelvo::test::encodeJPEG(source(), 90);
                break;
            case ImageFormat::png:
                it->second = kelvo::test::encodePNGAs(source(), PNG_COLOR_TYPE_RGB);
                break;
            case ImageFormat::webp:
                it->second = kelvo::test::encodeWebP(source(), false);
                break;
            default: {
                it->second = kelvo::test::tgaHeader(2, 2048, 2048, 32, 32 | 8);
                for (size_t i = 0; i < source().pixels.size(); i += 4) {
                    const std::uint8_t* p = &source().pixels[i];
                    it->second.insert(it->second.end(), {p[2], p[1], p[0], p[3]});
                }
            }
        }
    }
    return it->second;
}

void decode(benchmark::State& state, ImageFormat format) {
    const auto& bytes = encoded(format);
    const int side = static_cast<int>(state.range(0));
    auto check = kelvo::decodeImage(bytes, format, side);
    if (!check || std::max(check->width, check->height) != std::min(side, 2048)) {
        state.SkipWithError("no image of the expected size");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::decodeImage(bytes, format, side));
    state.counters["encoded KB"] = static_cast<double>(bytes.size()) / 1024;
}

void BM_DecodeJPEG(benchmark::State& s) {
    decode(s, ImageFormat::jpeg);
}
void BM_DecodePNG(benchmark::State& s) {
    decode(s, ImageFormat::png);
}
void BM_DecodeWebP(benchmark::State& s) {
    decode(s, ImageFormat::webp);
}
void BM_DecodeTGA(benchmark::State& s) {
    decode(s, ImageFormat::tga);
}
BENCHMARK(BM_DecodeJPEG)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePNG)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeWebP)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTGA)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_MipChain(benchmark::State& state) {
    const kelvo::RGBAImage level0 =
        kelvo::shrinkImage(source(), int(state.range(0)), int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::makeMipChain(level0));
}
BENCHMARK(BM_MipChain)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

// Five 2048-pixel JPEG textures on one material, decoded for a 256-pixel thumbnail (the three
// that the renderers sample). Real time: the decoding runs on several threads.
void BM_DecodeSceneTextures(benchmark::State& state) {
    const auto& bytes = encoded(ImageFormat::jpeg);
    auto buffer = std::make_shared<const kelvo::ByteBuffer>(bytes.begin(), bytes.end());
    kelvo::setMaximumTextureSide(kelvo::textureSideForThumbnail(256));
    for (auto _ : state) {
        state.PauseTiming();
        kelvo::Scene scene;
        auto material = std::make_shared<kelvo::Material>();
        for (kelvo::TextureSlot* slot :
             {&material->diffuseTexture, &material->metalnessRoughnessTexture,
              &material->emissionTexture, &material->normalTexture, &material->occlusionTexture}) {
            auto texture = std::make_shared<kelvo::Texture>();
            texture->encoded = buffer;
            slot->texture = texture;
        }
        auto geometry = std::make_shared<kelvo::Geometry>();
        geometry->materials = {material};
        scene.rootNode->addChildNode(kelvo::Node::withGeometry(geometry));
        state.ResumeTiming();
        kelvo::decodeTextures(scene);
        if (material->emissionTexture.texture->levels.empty()) state.SkipWithError("not decoded");
    }
}
BENCHMARK(BM_DecodeSceneTextures)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

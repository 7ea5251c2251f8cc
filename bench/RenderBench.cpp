// Thumbnail imaging speed: the CPU renderer on generated tori of 100K, 1M and 5M triangles
// at 256 and 1024 pixels (4 samples per pixel), in two layouts (shared vertices with smooth
// normals, and three unshared corners per triangle with facet normals as STL files load);
// the shared torus again with base-colour and metalness-roughness textures of 512 pixels,
// alpha-masked, and blended; then the watermark step alone and the PNG encoding alone. Every render
// is checked to cover a plausible share of the image before it is timed. One core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <map>
#include <numbers>

#include "extensions/Shared/SceneLoader.h"
#include "platform/Imaging/ImageDecoding.h"
#include "platform/Imaging/PNG.h"
#include "platform/Renderer/Renderer.h"

namespace {

using kelvo::ByteBuffer;
using kelvo::GeometryElement;
using kelvo::GeometrySemantic;
using kelvo::GeometrySource;

struct TorusPoint {
    float p[3], n[3];
};

TorusPoint torusPoint(int i, int j, int rings, int sides) {
    const double R = 1, r = 0.35;
    double u = 2 * std::numbers::pi * i / rings, v = 2 * std::numbers::pi * j / sides;
    double cu = std::cos(u), su = std::sin(u), cv = std::cos(v), sv = std::sin(v);
    return {{static_cast<float>((R + r * cv) * cu), static_cast<float>(r * sv),
             static_cast<float>((R + r * cv) * su)},
            {static_cast<float>(cv * cu), static_cast<float>(sv), static_cast<float>(cv * su)}};
}

template <class T>
ByteBuffer bytesOf(const std::vector<T>& v) {
    ByteBuffer b(v.size() * sizeof(T));
    std::memcpy(b.data(), v.data(), b.size());
    return b;
}

enum class Look { plain, textured, masked, blended };

// A 512-pixel texture of fine detail with holes in its alpha, decoded as loaders leave it.
std::shared_ptr<const kelvo::Texture> makeTexture() {
    kelvo::RGBAImage image(512, 512);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            std::uint8_t* p = image.pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x * 7 + y);
            p[1] = static_cast<std::uint8_t>((x ^ y) & 255);
            p[2] = static_cast<std::uint8_t>(y * 3);
            p[3] = ((x / 16 + y / 16) % 4) ? 255 : 0;
        }
    }
    auto texture = std::make_shared<kelvo::Texture>();
    texture->levels = kelvo::makeMipChain(std::move(image));
    return texture;
}

// A torus of about `triangles` triangles, staged as the thumbnailer stages it.
std::shared_ptr<kelvo::Scene> makeTorusScene(long triangles, bool unshared,
                                             Look look = Look::plain) {
    int sides = static_cast<int>(std::sqrt(triangles / 8.0));
    int rings = static_cast<int>(triangles / (2 * sides));
    std::vector<float> positions, normals, uvs;
    std::vector<std::uint32_t> indices;
    auto push = [&](const TorusPoint& t, const float* facet) {
        positions.insert(positions.end(), t.p, t.p + 3);
        normals.insert(normals.end(), facet ? facet : t.n, (facet ? facet : t.n) + 3);
    };
    if (unshared) {
        for (int i = 0; i < rings; ++i) {
            for (int j = 0; j < sides; ++j) {
                TorusPoint a = torusPoint(i, j, rings, sides),
                           b = torusPoint(i + 1, j, rings, sides);
                TorusPoint c = torusPoint(i + 1, j + 1, rings, sides),
                           d = torusPoint(i, j + 1, rings, sides);
                const TorusPoint tris[2][3] = {{a, d, c}, {a, c, b}};
                for (const auto& t : tris) {
                    float e1[3], e2[3], n[3];
                    for (int k = 0; k < 3; ++k)
                        e1[k] = t[1].p[k] - t[0].p[k], e2[k] = t[2].p[k] - t[0].p[k];
                    n[0] = e1[1] * e2[2] - e1[2] * e2[1];
                    n[1] = e1[2] * e2[0] - e1[0] * e2[2];
                    n[2] = e1[0] * e2[1] - e1[1] * e2[0];
                    for (const auto& corner : t) {
                        indices.push_back(static_cast<std::uint32_t>(positions.size() / 3));
                        push(corner, n);
                    }
                }
            }
        }
    } else {
        for (int i = 0; i < rings; ++i) {
            for (int j = 0; j < sides; ++j) {
                push(torusPoint(i, j, rings, sides), nullptr);
                uvs.insert(uvs.end(), {4.0f * i / rings, 1.0f * j / sides});
            }
        }
        auto at = [&](int i, int j) {
            return static_cast<std::uint32_t>((i % rings) * sides + j % sides);
        };
        for (int i = 0; i < rings; ++i) {
            for (int j = 0; j < sides; ++j) {
                indices.insert(indices.end(), {at(i, j), at(i, j + 1), at(i + 1, j + 1)});
                indices.insert(indices.end(), {at(i, j), at(i + 1, j + 1), at(i + 1, j)});
            }
        }
    }
    std::int64_t vertexCount = static_cast<std::int64_t>(positions.size() / 3);
    std::vector<GeometrySource> sources{
        GeometrySource::floatTriples(bytesOf(positions), GeometrySemantic::vertex, vertexCount),
        GeometrySource::floatTriples(bytesOf(normals), GeometrySemantic::normal, vertexCount)};
    std::vector<GeometryElement> elements{GeometryElement::triangles(
        bytesOf(indices), static_cast<std::int64_t>(indices.size() / 3))};
    auto geometry = std::make_shared<kelvo::Geometry>(std::move(sources), std::move(elements));
    geometry->materials = {kelvo::makeDefaultModelMaterial()};
    if (look != Look::plain) {
        geometry->sources.push_back(
            GeometrySource::floats(bytesOf(uvs), GeometrySemantic::texcoord, vertexCount, 2));
        kelvo::Material& m = *geometry->materials[0];
        m.diffuseTexture.texture = m.metalnessRoughnessTexture.texture = makeTexture();
        m.alphaMode = look == Look::masked    ? kelvo::AlphaMode::mask
                      : look == Look::blended ? kelvo::AlphaMode::blend
                                              : kelvo::AlphaMode::opaque;
        m.isDoubleSided = look != Look::textured;
    }
    auto scene = std::make_shared<kelvo::Scene>();
    auto node = kelvo::Node::withGeometry(geometry);
    node->setEulerAngles({0.5, 0.3, 0});
    scene->rootNode->addChildNode(node);
    return scene;
}

struct Staged {
    std::shared_ptr<kelvo::Scene> scene;
    std::shared_ptr<kelvo::Node> camera;
};

// Generating 5M triangles takes a while; each mesh is made once per run.
const Staged& stagedTorus(long triangles, bool unshared, Look look = Look::plain) {
    static std::map<std::tuple<long, bool, Look>, Staged> cache;
    auto [it, fresh] = cache.try_emplace({triangles, unshared, look});
    if (fresh) {
        it->second.scene = makeTorusScene(triangles, unshared, look);
        it->second.camera =
            kelvo::SceneLoader().setupCameraAndLighting(*it->second.scene, {256, 256});
    }
    return it->second;
}

bool plausible(const kelvo::RGBAImage& image) {
    size_t covered = 0;
    for (size_t i = 3; i < image.pixels.size(); i += 4)
        covered += image.pixels[i] != 0;
    double share = double(covered) / (double(image.width) * image.height);
    return share > 0.1 && share < 0.9;
}

void render(benchmark::State& state, bool unshared, Look look = Look::plain) {
    const Staged& staged = stagedTorus(state.range(0), unshared, look);
    int side = static_cast<int>(state.range(1));
    auto check = kelvo::renderSnapshot(*staged.scene, *staged.camera, side, side);
    if (!check || !plausible(*check)) {
        state.SkipWithError("implausible render");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::renderSnapshot(*staged.scene, *staged.camera, side, side));
    state.counters["Mtris/s"] =
        benchmark::Counter(static_cast<double>(state.range(0)) * state.iterations() / 1e6,
                           benchmark::Counter::kIsRate);
}

void BM_RenderSharedVertices(benchmark::State& s) {
    render(s, false);
}
void BM_RenderUnsharedVertices(benchmark::State& s) {
    render(s, true);
}
BENCHMARK(BM_RenderSharedVertices)
    ->ArgsProduct({{100'000, 1'000'000, 5'000'000}, {256, 1024}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderUnsharedVertices)
    ->ArgsProduct({{1'000'000}, {256}})
    ->Unit(benchmark::kMillisecond);

// The same shared torus, textured: the peer is BM_RenderSharedVertices at the same sizes.
void BM_RenderTextured(benchmark::State& s) {
    render(s, false, Look::textured);
}
void BM_RenderMasked(benchmark::State& s) {
    render(s, false, Look::masked);
}
void BM_RenderBlended(benchmark::State& s) {
    render(s, false, Look::blended);
}
BENCHMARK(BM_RenderTextured)
    ->ArgsProduct({{100'000, 1'000'000}, {256, 1024}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderMasked)->ArgsProduct({{100'000}, {256, 1024}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderBlended)->ArgsProduct({{100'000}, {256, 1024}})->Unit(benchmark::kMillisecond);

// The smallest model: a cube of twelve triangles whose corners carry their face's normal, as
// an STL file gives it, staged as a thumbnail. What is left is the per-pixel work.
void BM_RenderFacetedCube256(benchmark::State& state) {
    const float corner[8][3] = {{-1, -1, -1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, -1},
                                {-1, -1, 1},  {1, -1, 1},  {-1, 1, 1},  {1, 1, 1}};
    const int faces[6][4] = {{1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3},
                             {0, 1, 5, 4}, {4, 5, 7, 6}, {0, 2, 3, 1}};
    const float normal[6][3] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
    std::vector<float> positions, normals;
    std::vector<std::uint32_t> indices;
    for (int f = 0; f < 6; ++f) {
        for (int k : {0, 1, 2, 0, 2, 3}) {
            positions.insert(positions.end(), corner[faces[f][k]], corner[faces[f][k]] + 3);
            normals.insert(normals.end(), normal[f], normal[f] + 3);
            indices.push_back(static_cast<std::uint32_t>(indices.size()));
        }
    }
    std::vector<GeometrySource> sources{
        GeometrySource::floatTriples(bytesOf(positions), GeometrySemantic::vertex, 36),
        GeometrySource::floatTriples(bytesOf(normals), GeometrySemantic::normal, 36)};
    std::vector<GeometryElement> elements{GeometryElement::triangles(bytesOf(indices), 12)};
    auto geometry = std::make_shared<kelvo::Geometry>(std::move(sources), std::move(elements));
    geometry->materials = {kelvo::makeDefaultModelMaterial()};
    kelvo::Scene scene;
    auto node = kelvo::Node::withGeometry(geometry);
    node->setEulerAngles({0.5, 0.3, 0});
    scene.rootNode->addChildNode(node);
    auto camera = kelvo::SceneLoader().setupCameraAndLighting(scene, {256, 256});
    auto check = kelvo::renderSnapshot(scene, *camera, 256, 256);
    if (!check || !plausible(*check)) {
        state.SkipWithError("implausible render");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::renderSnapshot(scene, *camera, 256, 256));
}
BENCHMARK(BM_RenderFacetedCube256)->Unit(benchmark::kMicrosecond);

kelvo::RGBAImage renderedFrame() {
    const Staged& staged = stagedTorus(100'000, false);
    return *kelvo::renderSnapshot(*staged.scene, *staged.camera, 256, 256);
}

// Font lookup, font and icon loading included: nothing is cached between calls.
void BM_Watermark256(benchmark::State& state) {
    kelvo::RGBAImage frame = renderedFrame();
    kelvo::SceneLoader loader;
    if (!loader.drawWatermark(frame, {256, 256})) state.SkipWithError("no watermark");
    for (auto _ : state)
        benchmark::DoNotOptimize(loader.drawWatermark(frame, {256, 256}));
}
BENCHMARK(BM_Watermark256)->Unit(benchmark::kMillisecond);

void BM_EncodePNG256(benchmark::State& state) {
    kelvo::RGBAImage frame = renderedFrame();
    if (kelvo::encodePNG(frame).empty()) state.SkipWithError("no PNG");
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::encodePNG(frame));
}
BENCHMARK(BM_EncodePNG256)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Models into meshes and files into scenes: the mesher's worked examples buffer for buffer and
// byte-identical output to a plain reference mesher on random models and the whole corpus, the
// placement of models, every prefix of a file, and the budgets.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <random>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/VOX/VOXLoader.h"
#include "extensions/Shared/VOX/VOXReader.h"
#include "extensions/Shared/VOX/VoxelMesher.h"
#include "platform/Foundation/Error.h"
#include "platform/Foundation/FileReading.h"
#include "tests/support/VOXWriter.h"

namespace kelvo {
namespace {

using test::Bytes;
using test::VOXWriter;
using test::operator<<;

struct Mesh {
    std::vector<float> positions, normals, colors;
    std::vector<std::uint32_t> indices;
};

// The greedy mesher written the plain way, loop for loop as its contract describes it: a full
// mask per slice, every cell visited.
Mesh referenceMesh(const VOXChunk& chunk, std::span<const std::uint32_t> palette) {
    const std::int64_t ext[3] = {chunk.sx, chunk.sy, chunk.sz};
    std::vector<std::uint8_t> grid(static_cast<size_t>(ext[0] * ext[1] * ext[2]), 0);
    auto cell = [&](const std::int64_t* c) -> std::uint8_t& {
        return grid[c[0] + ext[0] * (c[1] + ext[1] * c[2])];
    };
    for (const VOXVoxel& v : chunk.voxels) {
        const std::int64_t c[3] = {v.x, v.y, v.z};
        if (c[0] < ext[0] && c[1] < ext[1] && c[2] < ext[2]) cell(c) = v.colorIndex;
    }
    auto f = [](std::int64_t x) { return static_cast<float>(x); };
    Mesh out;
    for (int d = 0; d < 3; ++d) {
        const int u = (d + 1) % 3, v = (d + 2) % 3;
        const std::int64_t U = ext[u], V = ext[v];
        // Colour of the filled cell below the face, negated when the filled cell is above; cell
        // n of a slice is (n % U, n / U) in the plane.
        std::vector<int> mask(static_cast<size_t>(U * V));
        for (std::int64_t s = 0; s <= ext[d]; ++s) {
            for (std::int64_t n = 0; n < U * V; ++n) {
                std::int64_t c[3];
                c[d] = s, c[u] = n % U, c[v] = n / U;
                const int above = s < ext[d] ? cell(c) : 0;
                c[d] = s - 1;
                const int below = s > 0 ? cell(c) : 0;
                mask[n] = below && !above ? below : !below && above ? -above : 0;
            }
            for (std::int64_t n = 0; n < U * V; ++n) {
                const int k = mask[n];
                if (k == 0) continue;
                const std::int64_t i = n % U, j = n / U;
                std::int64_t w = 1, h = 1;
                while (i + w < U && mask[n + w] == k)
                    ++w;
                for (bool whole = true; whole && j + h < V; h += whole) {
                    for (std::int64_t q = 0; q < w; ++q)
                        whole = whole && mask[n + h * U + q] == k;
                }
                const float sign = k > 0 ? 1.0f : -1.0f;
                const float normal[3][3] = {{sign, 0, 0}, {0, 0, -sign}, {0, sign, 0}};
                const auto m = static_cast<std::uint32_t>(std::abs(k));
                const std::uint32_t color = m < palette.size() ? palette[m] : 0xFF808080;
                const auto base = static_cast<std::uint32_t>(out.positions.size() / 3);
                // Counter-clockwise seen from the empty side.
                const std::int64_t du[4] = {0, k > 0 ? w : 0, w, k > 0 ? 0 : w};
                const std::int64_t dv[4] = {0, k > 0 ? 0 : h, h, k > 0 ? h : 0};
                for (int o = 0; o < 4; ++o) {
                    std::int64_t g[3];
                    g[d] = s, g[u] = i + du[o], g[v] = j + dv[o];
                    out.positions.insert(out.positions.end(),
                                         {f(g[0]) - f(ext[0]) / 2, f(g[2]) - f(ext[2]) / 2,
                                          f(ext[1]) / 2 - f(g[1])});
                    out.normals.insert(out.normals.end(), normal[d], normal[d] + 3);
                    for (int shift : {0, 8, 16})
                        out.colors.push_back(f(color >> shift & 0xFF) / 255.0f);
                }
                for (std::uint32_t t : {0u, 1u, 2u, 0u, 2u, 3u})
                    out.indices.push_back(base + t);
                for (std::int64_t r = 0; r < h; ++r)
                    std::fill_n(mask.begin() + n + r * U, w, 0);
            }
        }
    }
    return out;
}

// A model that owns its voxels; the mesher takes a view of them.
struct Model {
    std::int64_t sx = 0, sy = 0, sz = 0;
    std::vector<VOXVoxel> voxels;
    operator VOXChunk() const { return {sx, sy, sz, voxels}; }
};

template <class T>
std::vector<T> values(const ByteBuffer& bytes) {
    std::vector<T> out(bytes.size() / sizeof(T));
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(T));
    return out;
}

Mesh meshOf(const Node& node) {
    const Geometry& g = *node.geometry;
    EXPECT_EQ(g.sources.size(), 3u);
    EXPECT_EQ(g.elements.size(), 1u);
    return {values<float>(*g.source(GeometrySemantic::vertex)->data),
            values<float>(*g.source(GeometrySemantic::normal)->data),
            values<float>(*g.source(GeometrySemantic::color)->data),
            values<std::uint32_t>(*g.elements[0].data)};
}

// Byte comparisons: the buffers must be identical, signs of zeros included.
std::vector<std::uint32_t> bits(const std::vector<float>& v) {
    std::vector<std::uint32_t> out(v.size());
    if (!v.empty()) std::memcpy(out.data(), v.data(), v.size() * 4);
    return out;
}

void expectSameAsReference(const Node* node, const VOXChunk& chunk,
                           std::span<const std::uint32_t> palette) {
    ASSERT_TRUE(node);
    const Mesh got = meshOf(*node), want = referenceMesh(chunk, palette);
    EXPECT_EQ(bits(got.positions), bits(want.positions));
    EXPECT_EQ(bits(got.normals), bits(want.normals));
    EXPECT_EQ(got.colors, want.colors);
    EXPECT_EQ(got.indices, want.indices);
    EXPECT_EQ(node->geometry->vertexCount(), static_cast<std::int64_t>(want.positions.size() / 3));
    EXPECT_EQ(node->geometry->triangleCount(), static_cast<std::int64_t>(want.indices.size() / 3));
}

TEST(VoxelMesher, oneVoxelGivesTheSixFacesInOrderWithTheVoxelMaterial) {
    auto node = buildVoxelMesh(Model{1, 1, 1, {{0, 0, 0, 1}}}, defaultVOXPalette);
    Mesh m = meshOf(*node);
    const float h = 0.5f;
    // -x, +x, the file's -y and +y (scene +z and -z), -z and +z (scene -y and +y).
    EXPECT_EQ(m.positions, (std::vector<float>{
                               -h, -h, h,  -h, h,  h,  -h, h,  -h, -h, -h, -h,  // -x
                               h,  -h, h,  h,  -h, -h, h,  h,  -h, h,  h,  h,   // +x
                               -h, -h, h,  h,  -h, h,  h,  h,  h,  -h, h,  h,   // file -y
                               -h, -h, -h, -h, h,  -h, h,  h,  -h, h,  -h, -h,  // file +y
                               -h, -h, h,  -h, -h, -h, h,  -h, -h, h,  -h, h,   // file -z
                               -h, h,  h,  h,  h,  h,  h,  h,  -h, -h, h,  -h,  // file +z
                           }));
    const float faceNormals[6][3] = {{-1, 0, 0}, {1, 0, 0},  {0, 0, 1},
                                     {0, 0, -1}, {0, -1, 0}, {0, 1, 0}};
    ASSERT_EQ(m.normals.size(), 72u);
    for (size_t i = 0; i < 72; ++i)
        EXPECT_EQ(m.normals[i], faceNormals[i / 12][i % 3]) << i;
    EXPECT_EQ(m.colors, std::vector<float>(72, 1.0f));
    ASSERT_EQ(m.indices.size(), 36u);
    EXPECT_EQ(std::vector<std::uint32_t>(m.indices.begin() + 30, m.indices.end()),
              (std::vector<std::uint32_t>{20, 21, 22, 20, 22, 23}));

    const Material& material = *node->geometry->materials.at(0);
    EXPECT_EQ(material.lightingModelName, LightingModel::physicallyBased);
    EXPECT_EQ(std::get<Color>(material.diffuse), Color::white(1, 1));
    EXPECT_EQ(std::get<double>(material.metalness), 0.0);
    EXPECT_EQ(std::get<double>(material.roughness), 0.8);
    EXPECT_EQ(node->position(), Vec3{});
}

TEST(VoxelMesher, workedExamplesMatchTheReferenceQuadForQuad) {
    Model full{3, 3, 3, {}};
    for (std::uint8_t i = 0; i < 27; ++i)
        full.voxels.push_back({static_cast<std::uint8_t>(i % 3),
                               static_cast<std::uint8_t>(i / 3 % 3),
                               static_cast<std::uint8_t>(i / 9), 7});
    const struct {
        const char* name;
        Model chunk;
        std::int64_t quads;
    } cases[] = {
        {"2x1x1 one colour", {2, 1, 1, {{0, 0, 0, 1}, {1, 0, 0, 1}}}, 6},
        {"2x1x1 two colours", {2, 1, 1, {{0, 0, 0, 1}, {1, 0, 0, 2}}}, 10},
        {"colour 0 is empty", {2, 1, 1, {{0, 0, 0, 0}, {1, 0, 0, 3}}}, 6},
        {"later voxel wins", {1, 1, 1, {{0, 0, 0, 3}, {0, 0, 0, 0}}}, 0},
        {"3x3x3 full", full, 6},
        {"zero extents: no cell, no face", {0, 5, 5, {{0, 0, 0, 1}}}, 0},
        {"zero z extent", {5, 5, 0, {{0, 0, 0, 1}}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto node = buildVoxelMesh(c.chunk, defaultVOXPalette);
        expectSameAsReference(node.get(), c.chunk, defaultVOXPalette);
        EXPECT_EQ(node->geometry->vertexCount(), 4 * c.quads);
    }
    for (float p : meshOf(*buildVoxelMesh(full, defaultVOXPalette)).positions)
        EXPECT_EQ(std::abs(p), 1.5f);
}

TEST(VoxelMesher, coloursComeFromThePaletteOrMidGrey) {
    // A short palette (a cut "RGBA" chunk) has no entry 20; alpha never matters.
    const std::vector<std::uint32_t> palette = {0, 0x00332211, 0xFF332211};
    const float rgb[3] = {0x11 / 255.0f, 0x22 / 255.0f, 0x33 / 255.0f}, grey = 128 / 255.0f;
    for (std::uint8_t index : {1, 2, 3, 20}) {
        Mesh m = meshOf(*buildVoxelMesh(Model{1, 1, 1, {{0, 0, 0, index}}}, palette));
        ASSERT_EQ(m.colors.size(), 72u);
        for (size_t i = 0; i < 72; ++i)
            EXPECT_EQ(m.colors[i], index < 3 ? rgb[i % 3] : grey) << int(index);
    }
}

TEST(VoxelMesher, randomModelsMatchTheReference) {
    std::mt19937 random(12345);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int round = 0; round < 200; ++round) {
        // Small extents mostly; some with two axes across the 64-cell word boundaries (bit rows
        // and transposed blocks of several words), some as long as the grid allows.
        Model chunk{pick(1, 9), pick(1, 9), pick(1, 9), {}};
        std::int64_t* axis[3] = {&chunk.sx, &chunk.sy, &chunk.sz};
        for (auto* e : axis) {
            if (round % 3 == 0) *e = pick(1, 40);
            if (round % 10 == 0) *e = pick(60, 140);
            if (round % 50 == 0) *e = pick(1, 4);
        }
        if (round % 10 == 0) *axis[round / 10 % 3] = round % 50 ? pick(1, 6) : 256;
        const std::int64_t cells = chunk.sx * chunk.sy * chunk.sz;
        const int fill = pick(0, 3);  // empty to dense, colours 0-4 for merges and splits
        const std::int64_t count = fill == 0 ? pick(1, 6) : cells * fill / 4 + pick(0, 4);
        // A few coordinates land just outside the extent and must be ignored.
        auto coordinate = [&](std::int64_t extent) {
            return static_cast<std::uint8_t>(
                pick(0, static_cast<int>(std::min<std::int64_t>(extent, 255))));
        };
        for (std::int64_t i = 0; i < count; ++i)
            chunk.voxels.push_back({coordinate(chunk.sx), coordinate(chunk.sy),
                                    coordinate(chunk.sz), static_cast<std::uint8_t>(pick(0, 4))});
        SCOPED_TRACE(round);
        const auto palette = round % 2 ? std::span<const std::uint32_t>(defaultVOXPalette)
                                       : std::span<const std::uint32_t>();
        expectSameAsReference(buildVoxelMesh(chunk, palette).get(), chunk, palette);
        if (HasFailure()) return;
    }
}

TEST(VoxelMesher, hugeExtentsCostOnlyTheVoxelsBoxAndStillCentre) {
    // The largest extent a file can declare costs only the cells of the voxels' box; the
    // extent still decides the centring, in 32-bit floats.
    const std::int64_t huge = 0xFFFFFFFF;
    VoxelMeshBudget budget{1000, 1};
    auto node =
        buildVoxelMesh(Model{huge, huge, huge, {{255, 0, 0, 1}}}, defaultVOXPalette, budget);
    ASSERT_TRUE(node);
    EXPECT_EQ(budget.cells, 0);
    EXPECT_EQ(budget.quads, 1000 - 6);
    Mesh m = meshOf(*node);
    EXPECT_EQ(m.positions[0], 255.0f - static_cast<float>(huge) / 2);
    EXPECT_EQ(m.positions[1], 0.0f - static_cast<float>(huge) / 2);
}

// The model at 1 / factor of its resolution, the plain way: each block's most frequent
// colour among its filled cells, the lowest on a tie.
Model coarseModel(const Model& fine, int factor) {
    Model coarse{fine.sx / factor, fine.sy / factor, fine.sz / factor, {}};
    std::map<std::array<int, 3>, std::map<int, int>> blocks;
    std::map<std::array<int, 3>, int> cells;
    for (const VOXVoxel& v : fine.voxels)
        cells[{v.x, v.y, v.z}] = v.colorIndex;  // later voxels win
    for (const auto& [c, color] : cells)
        if (color != 0) ++blocks[{c[0] / factor, c[1] / factor, c[2] / factor}][color];
    for (const auto& [block, counts] : blocks) {
        int best = 0, most = 0;
        for (const auto& [color, count] : counts)
            if (count > most) best = color, most = count;
        coarse.voxels.push_back({static_cast<std::uint8_t>(block[0]),
                                 static_cast<std::uint8_t>(block[1]),
                                 static_cast<std::uint8_t>(block[2]),
                                 static_cast<std::uint8_t>(best)});
    }
    return coarse;
}

TEST(VoxelMesher, modelsPastTheQuadBudgetAreMeshedAtHalfThenQuarterResolution) {
    // Noise: about a face per cell, the worst case for quads.
    std::mt19937 random(3);
    Model noise{32, 32, 32, {}};
    for (int z = 0; z < 32; ++z)
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                if (random() % 5 < 3)
                    noise.voxels.push_back({static_cast<std::uint8_t>(x),
                                            static_cast<std::uint8_t>(y),
                                            static_cast<std::uint8_t>(z),
                                            static_cast<std::uint8_t>(1 + random() % 3)});
    const std::int64_t full = meshOf(*buildVoxelMesh(noise, defaultVOXPalette)).indices.size() / 6;
    for (int factor : {2, 4}) {
        SCOPED_TRACE(factor);
        const Model coarse = coarseModel(noise, factor);
        const Mesh want = referenceMesh(coarse, defaultVOXPalette);
        const auto quads = static_cast<std::int64_t>(want.indices.size() / 6);
        // Room for this resolution's quads and not for the finer one's.
        const std::int64_t room = factor == 2 ? full - 1 : quads;
        VoxelMeshBudget budget{room, std::int64_t{1} << 20};
        std::shared_ptr<Node> node = buildVoxelMesh(noise, defaultVOXPalette, budget);
        ASSERT_TRUE(node);
        EXPECT_EQ(budget.quads, room - quads);
        EXPECT_EQ(budget.cells, (std::int64_t{1} << 20) - 32 * 32 * 32) << "the work done";
        const Mesh got = meshOf(*node);
        // The same place and size: corners scale by the factor, the centre stays.
        std::vector<float> scaled = want.positions;
        for (float& p : scaled)
            p *= static_cast<float>(factor);
        EXPECT_EQ(bits(got.positions), bits(scaled));
        EXPECT_EQ(bits(got.normals), bits(want.normals));
        EXPECT_EQ(bits(got.colors), bits(want.colors));
        EXPECT_EQ(got.indices, want.indices);
    }
    // Too many quads even at a quarter: no node, nothing taken.
    VoxelMeshBudget tight{3, std::int64_t{1} << 20};
    EXPECT_FALSE(buildVoxelMesh(noise, defaultVOXPalette, tight));
    EXPECT_EQ(tight.quads, 3);
    EXPECT_EQ(tight.cells, std::int64_t{1} << 20);
}

TEST(VoxelMesher, coarseBlocksFollowTheModelsGridAndTakeTheMostFrequentColour) {
    // Cells x = 1 and 2 fall in different blocks of two: the coarse model is two cells wide;
    // colour 5 appears three times in the first block, 4 and 6 twice each in the second.
    Model model{4, 2, 2, {{1, 0, 0, 5}, {1, 1, 0, 5}, {1, 0, 1, 5}, {0, 1, 1, 7},
                          {2, 0, 0, 6}, {2, 1, 0, 4}, {3, 0, 0, 6}, {3, 1, 1, 4}}};
    std::vector<std::uint32_t> colours(256);
    for (std::uint32_t k = 0; k < 256; ++k)
        colours[k] = 0xFF000000 | k;
    const auto redsAndXs = [&](std::int64_t quads) {
        VoxelMeshBudget budget{quads, 100};
        std::shared_ptr<Node> node = buildVoxelMesh(model, colours, budget);
        std::set<float> reds, xs;
        if (!node) return std::pair{reds, xs};
        const Mesh got = meshOf(*node);
        for (size_t i = 0; i < got.colors.size(); i += 3)
            reds.insert(std::round(got.colors[i] * 255));
        for (size_t i = 0; i < got.positions.size(); i += 3)
            xs.insert(got.positions[i]);
        return std::pair{reds, xs};
    };
    // Two cells of two voxels, centred as before; the second block's tie goes to colour 4.
    EXPECT_EQ(redsAndXs(10), (std::pair{std::set<float>{4, 5}, std::set<float>{-2, 0, 2}}));
    // One cell of four voxels: colour 5 is the most frequent of all.
    EXPECT_EQ(redsAndXs(6), (std::pair{std::set<float>{5}, std::set<float>{-2, 2}}));
    EXPECT_EQ(redsAndXs(5).first.size(), 0u) << "no room even for one box";
}

TEST(VOXLoader, modelsPastTheLoadsBudgetAreLeftOutAndCostNothing) {
    // Model 0 has 10 quads in 2 cells, model 1 no voxels, model 2 6 quads in 1 cell; every node
    // is charged 16 quads besides.
    const Bytes file = VOXWriter()
                           .model(2, 1, 1, {{0, 0, 0, 1}, {1, 0, 0, 2}})
                           .size(1, 1, 1)
                           .model(1, 1, 1, {{0, 0, 0, 1}})
                           .file();
    const struct {
        VoxelMeshBudget budget;
        std::vector<std::int64_t> vertexCounts;
    } cases[] = {{{48, 3}, {40, 24}}, {{47, 9}, {40}}, {{25, 9}, {24}},
                 {{21, 9}, {}},       {{99, 2}, {40}}, {{99, 1}, {24}}};
    for (const auto& c : cases) {
        std::vector<std::int64_t> counts;
        const auto scene = loadVOXScene(test::span(file), c.budget);
        for (const auto& node : scene->rootNode->childNodes())
            counts.push_back(node->geometry->vertexCount());
        EXPECT_EQ(counts, c.vertexCounts) << c.budget.quads << " " << c.budget.cells;
    }
}

std::vector<Vec3> positions(const Bytes& file) {
    std::vector<Vec3> out;
    const auto scene = loadVOXScene(test::span(file));
    for (const auto& node : scene->rootNode->childNodes())
        out.push_back(node->position());
    return out;
}

TEST(VOXLoader, transformsPlaceModelsYUpAndEveryPrefixLoadsOrFailsWithAVOXError) {
    const Bytes file = VOXWriter()
                           .model(3, 2, 2, {{0, 0, 0, 1}, {2, 1, 1, 9}, {1, 1, 0, 3}})
                           .model(2, 2, 2, {{1, 1, 1, 2}})
                           .rgba(std::vector<std::uint32_t>(256, 0xFF336699))
                           .transform(0, 1)
                           .group(1, {2, 4})
                           .transform(2, 3, "10 -20 30")
                           .shape(3, 0)
                           .transform(4, 5, "0 0 5")
                           .shape(5, 1)
                           .file();
    EXPECT_EQ(positions(file), (std::vector<Vec3>{{10, 30, 20}, {0, 5, 0}}));
    // The lowest y is negated without overflow.
    EXPECT_EQ(positions(VOXWriter()
                            .model(1, 1, 1, {{0, 0, 0, 1}})
                            .transform(0, 3, "0 -9223372036854775808 0")
                            .shape(3, 0)
                            .file()),
              (std::vector<Vec3>{{0, 0, 9223372036854775808.0}}));
    for (size_t length = 0; length < file.size(); ++length) {
        // A buffer of exactly this size, so that any read past it is caught by the sanitizers.
        const std::vector<std::uint8_t> prefix(file.begin(), file.begin() + length);
        try {
            auto scene = loadVOXScene(ByteSpan(prefix.data(), prefix.size()));
            EXPECT_LE(scene->rootNode->childNodes().size(), 2u);
            EXPECT_GE(length, 44u) << "the first model is whole from 44 bytes on";
        } catch (const Error& e) {
            EXPECT_TRUE(e.code() == -20 || e.code() == -21 || e.code() == -22) << length;
            EXPECT_LT(length, 44u) << length;
        }
    }
}

TEST(VOXLoader, everyCorpusFileLoadsAsItsSceneGraphSaysAndMeshesAsTheReference) {
    KELVO_REQUIRE_CORPUS();
    // Node counts and positions from a separate reading of each file's chunks and scene graph;
    // no positions listed: every node at the origin.
    const struct {
        const char* file;
        size_t nodes;
        std::int64_t quads;
        std::vector<Vec3> positions;
    } expected[] = {
#include "tests/vox/CorpusExpectations.inc"
    };
    const std::filesystem::path dir = test::corpusDir() / "vox";
    SceneLoader loader;
    for (const auto& e : expected) {
        SCOPED_TRACE(e.file);
        const auto scene = loader.load(dir / e.file);
        const auto& nodes = scene->rootNode->childNodes();
        ASSERT_EQ(nodes.size(), e.nodes);
        std::int64_t quads = 0;
        for (size_t i = 0; i < nodes.size(); ++i) {
            quads += nodes[i]->geometry->triangleCount() / 2;
            EXPECT_EQ(nodes[i]->position(), e.positions.empty() ? Vec3{} : e.positions[i]) << i;
        }
        EXPECT_EQ(quads, e.quads);
        const ByteBuffer bytes = readFileContents(dir / e.file);
        const VOXFile file = readVOXFile(bytes);
        size_t n = 0;
        for (const VOXChunk& model : file.models) {
            if (!model.voxels.empty())
                expectSameAsReference(nodes.at(n++).get(), model, file.palette);
        }
    }
    EXPECT_THROW(loader.load(dir / "not_a.vox"), Error);
}

}  // namespace
}  // namespace kelvo

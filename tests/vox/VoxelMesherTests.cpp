// The greedy mesher: the worked examples buffer for buffer, byte-identical output to the plain
// reference on random models (word boundaries, sparse and dense grids, odd extents), and its
// limits.
#include <gtest/gtest.h>

#include <random>

#include "extensions/Shared/VoxelMesher.h"
#include "tests/vox/ReferenceVoxelMesher.h"

namespace kelvo {
namespace {

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

struct Mesh {
    std::vector<float> positions, normals, colors;
    std::vector<std::uint32_t> indices;
};

Mesh meshOf(const Node& node) {
    const Geometry& g = *node.geometry;
    EXPECT_EQ(g.sources.size(), 3u);
    EXPECT_EQ(g.elements.size(), 1u);
    return {values<float>(*g.source(GeometrySemantic::vertex)->data),
            values<float>(*g.source(GeometrySemantic::normal)->data),
            values<float>(*g.source(GeometrySemantic::color)->data),
            values<std::uint32_t>(*g.elements[0].data)};
}

void expectSameAsReference(const VOXChunk& chunk, std::span<const std::uint32_t> palette) {
    auto node = buildVoxelMesh(chunk, palette);
    ASSERT_TRUE(node);
    Mesh got = meshOf(*node);
    test::ReferenceMesh want = test::referenceVoxelMesh(chunk, palette);
    ASSERT_EQ(got.positions.size(), want.positions.size());
    // Byte comparisons: the buffers must be identical, signs of zeros included.
    auto bytesOf = [](const std::vector<float>& v) {
        std::vector<std::uint32_t> bits(v.size());
        if (!v.empty()) std::memcpy(bits.data(), v.data(), v.size() * 4);
        return bits;
    };
    EXPECT_EQ(bytesOf(got.positions), bytesOf(want.positions));
    EXPECT_EQ(bytesOf(got.normals), bytesOf(want.normals));
    EXPECT_EQ(got.colors, want.colors);
    EXPECT_EQ(got.indices, want.indices);
    EXPECT_EQ(node->geometry->vertexCount(), static_cast<std::int64_t>(want.positions.size() / 3));
    EXPECT_EQ(node->geometry->triangleCount(), static_cast<std::int64_t>(want.indices.size() / 3));
}

TEST(VoxelMesher, oneVoxelGivesTheSixFacesInOrder) {
    auto node = buildVoxelMesh(Model{1, 1, 1, {{0, 0, 0, 1}}}, defaultVOXPalette);
    Mesh m = meshOf(*node);
    const float h = 0.5f;
    // -x, +x, the file's -y and +y (scene +z and -z), -z and +z (scene -y and +y).
    const std::vector<float> positions = {
        -h, -h, h,  -h, h,  h,  -h, h,  -h, -h, -h, -h,  // -x
        h,  -h, h,  h,  -h, -h, h,  h,  -h, h,  h,  h,   // +x
        -h, -h, h,  h,  -h, h,  h,  h,  h,  -h, h,  h,   // file -y
        -h, -h, -h, -h, h,  -h, h,  h,  -h, h,  -h, -h,  // file +y
        -h, -h, h,  -h, -h, -h, h,  -h, -h, h,  -h, h,   // file -z
        -h, h,  h,  h,  h,  h,  h,  h,  -h, -h, h,  -h,  // file +z
    };
    EXPECT_EQ(m.positions, positions);
    const float faceNormals[6][3] = {{-1, 0, 0}, {1, 0, 0},  {0, 0, 1},
                                     {0, 0, -1}, {0, -1, 0}, {0, 1, 0}};
    std::vector<float> normals;
    for (const auto& n : faceNormals) {
        for (int v = 0; v < 4; ++v)
            normals.insert(normals.end(), n, n + 3);
    }
    EXPECT_EQ(m.normals, normals);
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
    struct {
        const char* name;
        Model chunk;
        size_t quads;
    } cases[] = {
        {"2x1x1 one colour", {2, 1, 1, {{0, 0, 0, 1}, {1, 0, 0, 1}}}, 6},
        {"2x1x1 two colours", {2, 1, 1, {{0, 0, 0, 1}, {1, 0, 0, 2}}}, 10},
        {"colour 0 is empty", {2, 1, 1, {{0, 0, 0, 0}, {1, 0, 0, 3}}}, 6},
        {"later voxel wins", {1, 1, 1, {{0, 0, 0, 3}, {0, 0, 0, 0}}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectSameAsReference(c.chunk, defaultVOXPalette);
        EXPECT_EQ(buildVoxelMesh(c.chunk, defaultVOXPalette)->geometry->vertexCount(),
                  static_cast<std::int64_t>(4 * c.quads));
    }

    Model full{3, 3, 3, {}};
    for (std::uint8_t z = 0; z < 3; ++z) {
        for (std::uint8_t y = 0; y < 3; ++y) {
            for (std::uint8_t x = 0; x < 3; ++x)
                full.voxels.push_back({x, y, z, 7});
        }
    }
    expectSameAsReference(full, defaultVOXPalette);
    Mesh m = meshOf(*buildVoxelMesh(full, defaultVOXPalette));
    EXPECT_EQ(m.positions.size(), 6u * 12);
    for (float p : m.positions)
        EXPECT_EQ(std::abs(p), 1.5f);
}

TEST(VoxelMesher, coloursComeFromThePaletteOrMidGrey) {
    // A short palette (a cut "RGBA" chunk) has no entry 20; alpha never matters.
    const std::vector<std::uint32_t> palette = {0, 0x00332211, 0xFF332211};
    struct {
        std::uint8_t index;
        float rgb[3];
    } cases[] = {{1, {0x11 / 255.0f, 0x22 / 255.0f, 0x33 / 255.0f}},
                 {2, {0x11 / 255.0f, 0x22 / 255.0f, 0x33 / 255.0f}},
                 {3, {128 / 255.0f, 128 / 255.0f, 128 / 255.0f}},
                 {20, {128 / 255.0f, 128 / 255.0f, 128 / 255.0f}}};
    for (const auto& c : cases) {
        Mesh m = meshOf(*buildVoxelMesh(Model{1, 1, 1, {{0, 0, 0, c.index}}}, palette));
        ASSERT_EQ(m.colors.size(), 72u);
        for (size_t i = 0; i < 72; ++i)
            EXPECT_EQ(m.colors[i], c.rgb[i % 3]) << int(c.index);
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
        if (round % 3 == 0) {
            for (auto* e : axis)
                *e = pick(1, 40);
        }
        if (round % 10 == 0) {
            for (auto* e : axis)
                *e = pick(60, 140);
            *axis[round / 10 % 3] = pick(1, 6);
        }
        if (round % 50 == 0) {
            for (auto* e : axis)
                *e = pick(1, 4);
            *axis[round / 50 % 3] = 256;
        }
        const std::int64_t cells = chunk.sx * chunk.sy * chunk.sz;
        const int fill = pick(0, 3);  // empty to dense, colours 0-4 for merges and splits
        const std::int64_t count = fill == 0 ? pick(1, 6) : cells * fill / 4 + pick(0, 4);
        for (std::int64_t i = 0; i < count; ++i) {
            // A few coordinates land just outside the extent and must be ignored.
            auto coordinate = [&](std::int64_t extent) {
                return static_cast<std::uint8_t>(
                    pick(0, static_cast<int>(std::min<std::int64_t>(extent, 255))));
            };
            chunk.voxels.push_back({coordinate(chunk.sx), coordinate(chunk.sy),
                                    coordinate(chunk.sz), static_cast<std::uint8_t>(pick(0, 4))});
        }
        SCOPED_TRACE(round);
        expectSameAsReference(chunk, round % 2 ? std::span<const std::uint32_t>(defaultVOXPalette)
                                               : std::span<const std::uint32_t>());
        if (HasFailure()) return;
    }
}

TEST(VoxelMesher, extentsOfZeroOrPastTheGridNeverGrowTheGrid) {
    // Zero extents: no cell at all, so no face, but still a node.
    for (const Model& c : {Model{0, 5, 5, {{0, 0, 0, 1}}}, Model{5, 5, 0, {{0, 0, 0, 1}}}}) {
        auto node = buildVoxelMesh(c, defaultVOXPalette);
        ASSERT_TRUE(node);
        EXPECT_EQ(node->geometry->vertexCount(), 0);
        EXPECT_EQ(node->geometry->triangleCount(), 0);
    }
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

TEST(VoxelMesher, aModelPastItsBudgetIsRefusedAndCostsNothing) {
    const Model twoColours{2, 1, 1, {{0, 0, 0, 1}, {1, 0, 0, 2}}};  // 10 quads, 2 cells
    struct {
        VoxelMeshBudget budget;
        bool built;
    } cases[] = {{{10, 2}, true}, {{9, 2}, false}, {{10, 1}, false}, {{0, 0}, false}};
    for (const auto& c : cases) {
        VoxelMeshBudget budget = c.budget;
        auto node = buildVoxelMesh(twoColours, defaultVOXPalette, budget);
        EXPECT_EQ(node != nullptr, c.built) << c.budget.quads << " " << c.budget.cells;
        EXPECT_EQ(budget.quads, c.built ? c.budget.quads - 10 : c.budget.quads);
        EXPECT_EQ(budget.cells, c.built ? c.budget.cells - 2 : c.budget.cells);
    }
}

}  // namespace
}  // namespace kelvo

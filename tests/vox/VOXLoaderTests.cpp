// Whole files: every prefix of a rich file loads or fails cleanly, the load's budget leaves out
// what does not fit, and every file of the shared corpus loads as its scene graph says.
#include <gtest/gtest.h>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/VOXLoader.h"
#include "extensions/Shared/VOXReader.h"
#include "platform/Foundation/Error.h"
#include "platform/Foundation/FileReading.h"
#include "tests/support/VOXWriter.h"
#include "tests/vox/ReferenceVoxelMesher.h"

namespace kelvo {
namespace {

using test::Bytes;
using test::VOXWriter;
using test::operator<<;

TEST(VOXLoader, everyPrefixOfAFileLoadsOrFailsWithAVOXError) {
    const Bytes file = VOXWriter()
                           .model(3, 2, 2, {{0, 0, 0, 1}, {2, 1, 1, 9}, {1, 1, 0, 3}})
                           .model(2, 2, 2, {{1, 1, 1, 2}})
                           .rgba(std::vector<std::uint32_t>(256, 0xFF336699))
                           .transform(0, 1)
                           .group(1, {2, 4})
                           .transform(2, 3, "1 2 3")
                           .shape(3, 0)
                           .transform(4, 5, "-4 5 -6")
                           .shape(5, 1)
                           .file();
    size_t scenes = 0;
    for (size_t length = 0; length <= file.size(); ++length) {
        // A buffer of exactly this size, so that any read past it is caught by the sanitizers.
        const std::vector<std::uint8_t> prefix(file.begin(), file.begin() + length);
        try {
            auto scene = loadVOXScene(ByteSpan(prefix.data(), prefix.size()));
            EXPECT_LE(scene->rootNode->childNodes().size(), 2u);
            ++scenes;
        } catch (const Error& e) {
            EXPECT_TRUE(e.code() == -20 || e.code() == -21 || e.code() == -22) << length;
            EXPECT_LT(length, 44u) << "the first model is whole from 44 bytes on";
        }
    }
    EXPECT_EQ(scenes, file.size() + 1 - 44);
    auto scene = loadVOXScene(test::span(file));
    ASSERT_EQ(scene->rootNode->childNodes().size(), 2u);
    EXPECT_EQ(scene->rootNode->childNodes()[1]->position(), (Vec3{-4, -6, -5}));
}

TEST(VOXLoader, modelsPastTheLoadsBudgetAreLeftOut) {
    // Model 0 has 10 quads, model 1 (empty voxel list) none, model 2 has 6; every node is
    // charged 16 quads besides.
    const Bytes file = VOXWriter()
                           .model(2, 1, 1, {{0, 0, 0, 1}, {1, 0, 0, 2}})
                           .size(1, 1, 1)
                           .model(1, 1, 1, {{0, 0, 0, 1}})
                           .file();
    struct {
        std::int64_t quads;
        std::vector<std::int64_t> vertexCounts;
    } cases[] = {{48, {40, 24}}, {47, {40}}, {25, {24}}, {21, {}}};
    for (const auto& c : cases) {
        auto scene = loadVOXScene(test::span(file), {c.quads, 1000});
        std::vector<std::int64_t> counts;
        for (const auto& node : scene->rootNode->childNodes())
            counts.push_back(node->geometry->vertexCount());
        EXPECT_EQ(counts, c.vertexCounts) << c.quads;
    }
}

TEST(VOXLoader, everyCorpusFileLoadsAsItsSceneGraphSays) {
    KELVO_REQUIRE_CORPUS();
    // Node counts and positions from a separate reading of each file's chunks and scene graph;
    // no positions listed: every node at the origin (no transform chunks, or all translations
    // zero). Every mesh must also equal the plain reference mesher's.
    struct {
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
        auto scene = loader.load(dir / e.file);
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
            if (model.voxels.empty()) continue;
            const auto& positions =
                *nodes.at(n++)->geometry->source(GeometrySemantic::vertex)->data;
            const test::ReferenceMesh want = test::referenceVoxelMesh(model, file.palette);
            ASSERT_EQ(positions.size(), want.positions.size() * 4);
            if (!positions.empty()) {
                EXPECT_EQ(std::memcmp(positions.data(), want.positions.data(), positions.size()),
                          0);
            }
        }
    }
    EXPECT_THROW(loader.load(dir / "not_a.vox"), Error);
}

}  // namespace
}  // namespace kelvo

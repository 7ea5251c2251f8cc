// Every STL of the shared corpus loads with the triangle count measured independently.
#include <gtest/gtest.h>

#include "extensions/Shared/SceneLoader.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

std::int64_t triangles(const Node& node) {
    std::int64_t n = node.geometry ? node.geometry->triangleCount() : 0;
    for (const auto& c : node.childNodes()) n += triangles(*c);
    return n;
}

TEST(Corpus, everySTLLoadsWithItsTriangleCount) {
    KELVO_REQUIRE_CORPUS();
    const std::filesystem::path stl = test::corpusDir() / "stl";
    struct {
        const char* file;
        std::int64_t triangles;
        size_t meshes;
    } expected[] = {
        {"Spider_ascii.stl", 1368, 1},
        {"Spider_binary.stl", 1368, 1},
        {"triangle_with_empty_solid.stl", 1, 1},
        {"torus.STL", 8700, 1},
        {"20mm-xyz-cube.stl", 260, 1},
        {"ADIS16480.STL", 7436, 1},
        {"multibody.stl", 32, 2},
        {"counter.unitsmm.STL", 83750, 1},
        {"empty.stl", 0, 0},
        {"stl_empty_bin.stl", 0, 0},
        {"20mmbox-CR.stl", 12, 1},
        {"20mmbox-nonstandard.stl", 12, 1},
        {"Geräte/20mmbox-čřšřěá.stl", 12, 1},
        {"prusa3d_xl_gantry.stl", 80392, 1},
        {"text_file.stl", 0, 0},
        {"empty_file.stl", 0, 0},
        {"vertical_line.stl", 1, 1},
        {"ロボット.stl", 12, 1},
        {"something with spaces.stl", 12, 1},
    };
    SceneLoader loader;
    for (const auto& e : expected) {
        auto scene = loader.load(stl / e.file);
        EXPECT_EQ(triangles(*scene->rootNode), e.triangles) << e.file;
        EXPECT_EQ(scene->rootNode->childNodes().size(), e.meshes) << e.file;
    }
    // Random bytes load as whatever whole triangles they hold; nothing more.
    auto noise = loader.load(stl / "random_bits.stl");
    EXPECT_EQ(triangles(*noise->rootNode), (4096 - 84) / 50);
}

TEST(Corpus, stlBoundingBoxIsTheFilesBoxTurnedYUp) {
    KELVO_REQUIRE_CORPUS();
    // prusa3d_xl_gantry.stl: file box [-1080.2, -62.5229, 0] .. [947.302, 63.6484, 159.443].
    auto scene = SceneLoader().load(test::corpusDir() / "stl/prusa3d_xl_gantry.stl");
    BoundingBox box = scene->rootNode->boundingBox();
    EXPECT_NEAR(box.min.x, -1080.2, 1e-3);
    EXPECT_NEAR(box.max.x, 947.302, 1e-3);
    EXPECT_NEAR(box.min.y, 0, 1e-3);
    EXPECT_NEAR(box.max.y, 159.443, 1e-3);
    EXPECT_NEAR(box.min.z, -63.6484, 1e-3);
    EXPECT_NEAR(box.max.z, 62.5229, 1e-3);
}

}  // namespace
}  // namespace kelvo

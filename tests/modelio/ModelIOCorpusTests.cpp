// Every OBJ, PLY and FBX file of the shared corpus loads through the generic loader with
// the counts measured independently (FACTS.md), its materials and its textures.
#include <gtest/gtest.h>

#include <set>

#include "extensions/Shared/SceneLoader.h"
#include "platform/ModelIO/ModelIO.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

struct Counts {
    std::int64_t triangles = 0, points = 0;
    std::set<std::string> materials;
};

void count(const Node& node, Counts& c) {
    if (node.geometry) {
        c.triangles += node.geometry->triangleCount();
        c.points += node.geometry->pointCount();
        for (const auto& m : node.geometry->materials)
            c.materials.insert(m->name);
    }
    for (const auto& child : node.childNodes())
        count(*child, c);
}

TEST(ModelIOCorpus, everyFileLoadsWithItsCounts) {
    KELVO_REQUIRE_CORPUS();
    struct {
        const char* file;
        std::int64_t triangles, points;
        size_t materials;
    } expected[] = {
        // OBJ: quads and polygons count as the triangles they are cut into.
        {"obj/spider/spider.obj", 1368, 0, 4},  // 19 usemtl statements, 4 names
        {"obj/box_mat_with_spaces.obj", 12, 0, 1},
        {"obj/mtl_different_folder.obj", 12, 0, 1},
        {"obj/cube_with_vertexcolors.obj", 12, 0, 1},
        {"obj/point_cloud.obj", 0, 3, 1},
        {"obj/fuze/fuze.obj", 1000, 0, 1},
        {"obj/negative_indices.obj", 12, 0, 1},
        {"obj/stanford-bunny.obj", 69451, 0, 1},
        {"obj/extruder_idler_quads.obj", 7344, 0, 1},
        {"obj/negative_interweaved.obj", 12, 0, 1},
        {"ply/bunny.ply", 16301, 0, 1},
        {"ply/fuze.ply", 1000, 0, 1},
        {"ply/cube_blender_uv.ply", 12, 0, 1},
        {"ply/points_bin.ply", 0, 5, 1},
        {"ply/ply_empty_bin.ply", 0, 0, 0},
        {"ply/cycloidal.ply", 43368, 0, 1},
        {"ply/cube_binary.ply", 12, 0, 1},
        {"ply/float-color.ply", 1, 0, 1},
        {"ply/pond.0.ply", 0, 70051, 1},
        {"ply/Wuson.ply", 3732, 0, 1},
        {"other/fbx/box.fbx", 12, 0, 1},
        {"other/fbx/spider.fbx", 1368, 0, 4},
        {"other/fbx/embedded_ascii/box.FBX", 12, 0, 1},
        {"other/fbx/boxWithCompressedCTypeArray.FBX", 12, 0, 1},
        {"other/fbx/cubes_with_names.fbx", 420, 0, 2},
        {"other/fbx/maxPbrMaterial_metalRough.fbx", 12, 0, 1},
        {"other/fbx/animation_with_skeleton.fbx", 2112, 0, 1},
    };
    SceneLoader loader;
    for (const auto& e : expected) {
        auto scene = loader.load(test::corpusDir() / e.file);
        Counts c;
        count(*scene->rootNode, c);
        EXPECT_EQ(c.triangles, e.triangles) << e.file;
        EXPECT_EQ(c.points, e.points) << e.file;
        EXPECT_EQ(c.materials.size(), e.materials) << e.file;
    }
}

TEST(ModelIOCorpus, materialsAndTexturesAreTheFilesOwn) {
    KELVO_REQUIRE_CORPUS();
    const std::filesystem::path corpus = test::corpusDir();
    // spider.mtl names ".\SpiderTex.jpg" with a Windows separator; the file is beside it.
    ModelAsset spider = importModelAsset(corpus / "obj/spider/spider.obj");
    loadTextures(spider);
    int found = 0;
    for (const AssetTexture& t : spider.textures) {
        found += t.texture->found;
        if (t.reference == ".\\SpiderTex.jpg") {
            EXPECT_EQ(t.texture->mimeType, "image/jpeg");
        }
    }
    EXPECT_EQ(found, 5);
    // fuze.obj.mtl writes "Tr 1" for an opaque material, and a texture name with a blank.
    ModelAsset fuze = importModelAsset(corpus / "obj/fuze/fuze.obj");
    loadTextures(fuze);
    const Material& m = *fuze.objects.at(0)->geometry->materials.at(0);
    EXPECT_EQ(m.alphaMode, AlphaMode::opaque);
    ASSERT_TRUE(m.diffuseTexture);
    EXPECT_TRUE(m.diffuseTexture.texture->found);
    // The PLY copy names the same texture, which is not beside it: its colours stay.
    ModelAsset fuzePLY = importModelAsset(corpus / "ply/fuze.ply");
    loadTextures(fuzePLY);
    EXPECT_FALSE(fuzePLY.textures.at(0).texture->found);
    // An ASCII FBX with its texture inside.
    ModelAsset box = importModelAsset(corpus / "other/fbx/embedded_ascii/box.FBX");
    ASSERT_EQ(box.textures.size(), 1u);
    EXPECT_TRUE(box.textures[0].texture->found);
    EXPECT_EQ(box.textures[0].texture->mimeType, "image/png");
}

TEST(ModelIOCorpus, fbxDeclaringZUpStandsOnTheGround) {
    KELVO_REQUIRE_CORPUS();
    // The 3ds Max box of embedded_ascii/box.FBX sits on z = 0 in its file; y-up it sits on y = 0.
    auto scene = SceneLoader().load(test::corpusDir() / "other/fbx/embedded_ascii/box.FBX");
    const BoundingBox box = scene->rootNode->boundingBox();
    EXPECT_NEAR(box.min.y, 0, 1e-4);
    EXPECT_GT(box.max.y, 1);
    EXPECT_NEAR(box.min.z, -box.max.z, 1e-4);
}

}  // namespace
}  // namespace kelvo

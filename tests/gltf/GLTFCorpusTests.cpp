// Every glTF of the shared corpus: the valid ones load with the triangles measured
// independently (each mesh counted once, however many nodes show it), their cameras and
// materials' alpha modes; the negative ones fail, through the real framework, with a message
// that names the fault.
#include <gtest/gtest.h>

#include <set>

#include "extensions/Shared/SceneLoader.h"
#include "platform/GLTFKit/GLTFKit.h"
#include "tests/gltf/GLTFTestDocuments.h"

namespace kelvo {
namespace {

struct Census {
    std::int64_t triangles = 0;
    int cameras = 0;
    std::set<const Material*> materials;
};

Census census(const Scene& scene) {
    Census c;
    std::set<const Geometry*> seen;
    scene.rootNode->enumerateChildNodes([&](Node& n, bool&) {
        if (n.camera) ++c.cameras;
        if (n.geometry && seen.insert(n.geometry.get()).second) {
            c.triangles += n.geometry->triangleCount();
            for (const auto& m : n.geometry->materials)
                c.materials.insert(m.get());
        }
    });
    return c;
}

TEST(GLTFCorpus, everyValidFileLoadsWithItsTriangles) {
    KELVO_REQUIRE_CORPUS();
    struct {
        const char* file;
        std::int64_t triangles;
        int cameras;
    } expected[] = {
        {"Duck.glb", 4212, 1},
        {"BoxInterleaved.glb", 12, 0},
        {"CesiumMilkTruck.glb", 2856, 0},
        {"AlphaBlendModeTest.glb", 61, 1},
        {"no_indices_3storybuilding.glb", 72, 0},
        {"cubevc.glb", 48, 0},
        {"BoxTextured-glTF/BoxTextured.gltf", 12, 0},
        {"BoxTextured-glTF-Embedded/BoxTextured.gltf", 12, 0},
        {"cameras/Cameras.gltf", 2, 2},
        {"textureTransform/TextureTransformTest.gltf", 18, 0},
        {"draco/2CylinderEngine.gltf", 65311, 1},
        {"2CylinderEngine.glb", 75730, 1},
        {"simple_skin.gltf", 8, 0},
        {"MorphPrimitivesTest/MorphPrimitivesTest.gltf", 32, 0},
        {"box-textured-separate/box-textured-separate.gltf", 12, 0},
        {"triangle-without-indices.gltf", 1, 0},
        {"meshopt-no-fallback/meshopt-no-fallback.gltf", 60, 0},
        {"DamagedHelmet.glb", 15452, 0},
        {"draco_glb/Box.glb", 12, 0},
    };
    for (const auto& e : expected) {
        auto scene = SceneLoader().load(test::corpusDir() / "gltf" / e.file);
        Census c = census(*scene);
        EXPECT_EQ(c.triangles, e.triangles) << e.file;
        EXPECT_EQ(c.cameras, e.cameras) << e.file;
        if (std::string_view(e.file) == "AlphaBlendModeTest.glb") {
            // Opaque, masked and blended materials each keep their mode.
            std::set<AlphaMode> modes;
            for (const Material* m : c.materials)
                modes.insert(m->alphaMode);
            EXPECT_EQ(modes.size(), 3u);
        }
    }
}

TEST(GLTFCorpus, negativeFilesFailNamingTheFault) {
    KELVO_REQUIRE_CORPUS();
    struct {
        const char* file;
        long code;
        const char* message;
    } cases[] = {
        {"MissingBin/BoxTextured.gltf", gltfErrorMissingResource, "BoxTextured0.bin"},
        {"gltf1-TwoBoxes/TwoBoxes.gltf", gltfErrorUnsupportedVersion, "glTF 1.0"},
        {"html_disguised/Duck.gltf", gltfErrorNotGLTF, "not valid JSON"},
    };
    for (const auto& c : cases) {
        auto e = test::caught<Error>([&] { SceneLoader().load(test::corpusDir() / "gltf" / c.file); });
        ASSERT_TRUE(e) << c.file << " loaded";
        EXPECT_EQ(std::pair(e->domain(), e->code()), std::pair(std::string("GLTFKit"), c.code)) << c.file;
        EXPECT_NE(e->localizedDescription().find(c.message), std::string::npos)
            << e->localizedDescription();
    }
}

}  // namespace
}  // namespace kelvo

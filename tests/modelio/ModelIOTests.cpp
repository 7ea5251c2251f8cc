// The four operations: which extensions are read, how referenced textures are found, and
// how a file's declared axes reach the scene.
#include <gtest/gtest.h>

#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/ModelImporters.h"
#include "tests/support/ImportedGeometry.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

TEST(ModelIO, extensionsAreAnsweredFromTheTableAndTheImportLibraryInAnyCase) {
    for (const char* yes :
         {"obj", "OBJ", "Ply", "stl", "fbx", "FBX", "dae", "3ds", "off", "blend", "usd", "USDA",
          "usdc", "Usdz"}) {
        EXPECT_TRUE(canImportFileExtension(yes)) << yes;
    }
    for (const char* no : {"", "txt", "obj.bak", "*.obj"}) {
        EXPECT_FALSE(canImportFileExtension(no)) << no;
    }
    EXPECT_EQ(findModelImporter("PLY")->extension, "ply");
}

TEST(ModelIO, texturesAreReadBesideTheirReferringFileOrByTheirNameAlone) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "maps");
    dir.write("maps/wood.png", std::string("\x89PNG\r\n\x1a\n....", 12));
    dir.write("grain.jpg", std::string("\xFF\xD8\xFF\xE0", 4));
    dir.write("plain.tga", std::string("tga", 3));
    ModelAsset asset;
    const std::filesystem::path model = dir.path() / "m.obj";
    struct {
        const char* reference;
        bool found;
        const char* mimeType;
    } cases[] = {
        {"maps\\wood.png", true, "image/png"},
        {"MAPS/Wood.PNG", false, ""},  // only the file name's case is forgiven
        {"C:\\Users\\someone\\grain.jpg", true, "image/jpeg"},
        {"/home/someone/plain.tga", true, "image/x-tga"},
        {"missing.png", false, ""},
    };
    for (const auto& c : cases) {
        auto texture = std::make_shared<Texture>();
        texture->found = false;
        asset.textures.push_back({texture, model, c.reference});
    }
    auto embedded = std::make_shared<Texture>();
    embedded->encoded = std::make_shared<const ByteBuffer>(3, 1);
    asset.textures.push_back({embedded, {}, {}});
    loadTextures(asset);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Texture& t = *asset.textures[i].texture;
        EXPECT_EQ(t.found, cases[i].found) << cases[i].reference;
        EXPECT_EQ(t.found, t.encoded != nullptr) << cases[i].reference;
        if (t.found) {
            EXPECT_EQ(t.mimeType, cases[i].mimeType) << cases[i].reference;
        }
    }
    EXPECT_EQ(asset.textures[0].texture->path, (dir.path() / "maps/wood.png").string());
    EXPECT_EQ(embedded->encoded->size(), 3u);
}

TEST(ModelIO, theDeclaredUpAxisTurnsTheTopLevelObjectsOnly) {
    ModelAsset asset;
    auto top = Node::make(), child = Node::make();
    top->setPosition({0, 0, 5});
    top->addChildNode(child);
    asset.objects.push_back(top);
    // z-up to y-up: (x, y, z) -> (x, z, -y).
    asset.upAxisCorrection = {{{1, 0, 0, 0}, {0, 0, -1, 0}, {0, 1, 0, 0}, {0, 0, 0, 1}}};
    auto scene = sceneWithModelAsset(std::move(asset));
    ASSERT_EQ(scene->rootNode->childNodes().size(), 1u);
    const Vec3 p = scene->rootNode->childNodes()[0]->position();
    EXPECT_EQ(p, (Vec3{0, 5, 0}));
    EXPECT_EQ(child->transform(), Mat4::identity());
}

// A Collada file declaring z up: the import library turns it itself, and it must not be
// turned a second time.
TEST(ModelIO, colladaIsTurnedToYUpOnce) {
    test::TempDir dir;
    const std::filesystem::path url = dir.write("zup.DAE", R"(<?xml version="1.0"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
 <asset><up_axis>Z_UP</up_axis></asset>
 <library_geometries><geometry id="g"><mesh>
  <source id="p"><float_array id="a" count="9">0 0 0 1 0 0 0 0 1</float_array>
   <technique_common><accessor source="#a" count="3" stride="3"><param name="X" type="float"/>
   <param name="Y" type="float"/><param name="Z" type="float"/></accessor></technique_common></source>
  <vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
  <triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>
 </mesh></geometry></library_geometries>
 <library_visual_scenes><visual_scene id="s"><node id="n"><instance_geometry url="#g"/></node>
 </visual_scene></library_visual_scenes><scene><instance_visual_scene url="#s"/></scene>
</COLLADA>)");
    ModelAsset asset = importModelAsset(url);
    EXPECT_EQ(asset.upAxisCorrection, Mat4::identity());
    auto scene = sceneWithModelAsset(std::move(asset));
    const BoundingBox box = scene->rootNode->boundingBox();
    EXPECT_NEAR(box.max.y, 1, 1e-6);
    EXPECT_NEAR(box.min.z, 0, 1e-6);
}

TEST(ModelIO, filesTheImportLibraryRejectsAreClearErrors) {
    test::TempDir dir;
    for (const char* name : {"broken.fbx", "broken.dae", "empty.3ds"}) {
        const std::filesystem::path url =
            dir.write(name, std::string(name).starts_with("empty") ? "" : "not a model");
        std::optional<Error> e = test::caught<Error>([&] { importModelAsset(url); });
        ASSERT_TRUE(e) << name << ": no error";
        EXPECT_EQ(e->domain(), "ModelIO") << name;
        EXPECT_FALSE(e->localizedDescription().empty()) << name;
    }
}

TEST(ModelIO, offFilesLoadThroughTheImportLibrary) {
    test::TempDir dir;
    ModelAsset asset =
        importModelAsset(dir.write("q.OFF", "OFF\n4 1 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3\n"));
    auto scene = sceneWithModelAsset(std::move(asset));
    std::int64_t triangles = 0;
    scene->rootNode->enumerateChildNodes([&](Node& n, bool&) {
        if (n.geometry) triangles += n.geometry->triangleCount();
    });
    EXPECT_EQ(triangles, 2);
}

}  // namespace
}  // namespace kelvo

#include <gtest/gtest.h>

#include "extensions/Shared/SceneLoader.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

TEST(STLLoader, turnsZUpIntoYUp) {
    test::TempDir dir;
    auto scene = SceneLoader().load(
        dir.write("up.stl", test::binarySTL({{{0, 0, 0}, {0, 0, 1, 1, 0, 1, 0, 1, 1}}})));
    const Node& node = *scene->rootNode->childNodes().at(0);
    Vec3 world = transformPoint(node.worldTransform(), {0, 0, 1});
    EXPECT_NEAR(world.x, 0, 1e-15);
    EXPECT_NEAR(world.y, 1, 1e-15);
    EXPECT_NEAR(world.z, 0, 1e-15);
    EXPECT_EQ(node.eulerAngles(), (Vec3{-1.5707963267948966, 0, 0}));
}

TEST(STLLoader, everyGeometrySharesOneDefaultMaterial) {
    test::TempDir dir;
    std::string twoSolids =
        "solid a\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
        "endloop\nendfacet\nendsolid a\n"
        "solid b\nfacet normal 0 0 1\nouter loop\nvertex 0 0 5\nvertex 1 0 5\nvertex 0 1 5\n"
        "endloop\nendfacet\nendsolid b\n";
    auto scene = SceneLoader().load(dir.write("two.stl", twoSolids));
    const auto& children = scene->rootNode->childNodes();
    ASSERT_EQ(children.size(), 2u);
    ASSERT_EQ(children[0]->geometry->materials.size(), 1u);
    ASSERT_EQ(children[1]->geometry->materials.size(), 1u);
    EXPECT_EQ(children[0]->geometry->materials[0], children[1]->geometry->materials[0]);
    const Material& m = *children[0]->geometry->materials[0];
    EXPECT_EQ(m.lightingModelName, "physicallyBased");
    EXPECT_EQ(std::get<Color>(m.diffuse), (Color{0.7, 0.7, 0.7, 1.0}));
    EXPECT_EQ(std::get<double>(m.metalness), 0.1);
    EXPECT_EQ(std::get<double>(m.roughness), 0.6);
    // Geometry carries positions and normals.
    EXPECT_NE(children[0]->geometry->source(GeometrySemantic::normal), nullptr);
    EXPECT_EQ(children[1]->name, "b");
    // A new load makes a new material.
    auto again = SceneLoader().load(dir.path() / "two.stl");
    EXPECT_NE(again->rootNode->childNodes()[0]->geometry->materials[0], children[0]->geometry->materials[0]);
}

TEST(STLLoader, emptyAndGarbageFilesGiveAnEmptyScene) {
    test::TempDir dir;
    for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
             {"zero.stl", ""}, {"text.stl", "De aap is in de mouw gelogeerd."},
             {"empty-solid.stl", "solid Empty\nendsolid Empty\n"}}) {
        auto scene = SceneLoader().load(dir.write(name, content));
        EXPECT_TRUE(scene->rootNode->childNodes().empty()) << name;
    }
}

}  // namespace
}  // namespace kelvo

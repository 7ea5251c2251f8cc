// The front door chooses by the last extension, lower-cased, and nothing else; the STL loader
// behind it.
#include <gtest/gtest.h>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/ZIP/ZIPReader.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

// A binary STL whose header starts as a text one does: recognised as binary by its size.
const test::Bytes oneTriangle =
    test::binarySTL({{{0, 0, 1}, {0, 0, 0, 1, 0, 0, 0, 1, 0}}}, "solid but binary");

// The error load() throws for `name`, or an error with code 0 when it loads.
Error loadError(const test::TempDir& dir, const std::string& name, const test::Bytes& bytes) {
    try {
        SceneLoader().load(dir.write(name, bytes));
    } catch (const Error& e) {
        return e;
    }
    return Error("", 0);
}

TEST(SceneLoaderDispatch, stlInAnyCaseReachesTheSTLLoader) {
    test::TempDir dir;
    for (const char* name : {"a.stl", "b.STL", "c.Stl", "part.model.stl", "tricky.obj.stl"}) {
        auto scene = SceneLoader().load(dir.write(name, oneTriangle));
        ASSERT_EQ(scene->rootNode->childNodes().size(), 1u) << name;
        // Only the STL loader turns the model and dresses it in the default material.
        EXPECT_DOUBLE_EQ(scene->rootNode->childNodes()[0]->eulerAngles().x, -1.5707963267948966);
    }
}

TEST(SceneLoaderDispatch, unlistedExtensionsAreRefusedByTheGenericLoaderAsWritten) {
    test::TempDir dir;
    struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"x", "Unsupported format: "},          {"x.txt", "Unsupported format: txt"},
        {"x.stl.Txt", "Unsupported format: Txt"}, {"x.pdf", "Unsupported format: pdf"},
        {"x.PNG", "Unsupported format: PNG"},
    };
    for (const auto& c : cases) {
        // The content is a valid STL: the front door never looks at it.
        Error e = loadError(dir, c.name, oneTriangle);
        EXPECT_EQ(e.domain(), "SceneLoader") << c.name;
        EXPECT_EQ(e.code(), -3) << c.name;
        EXPECT_EQ(e.localizedDescription(), c.message) << c.name;
    }
}

TEST(SceneLoaderDispatch, objInCapitalsLoadsThroughTheGenericLoaderAsItStands) {
    test::TempDir dir;
    const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 0 1\nf 1 2 3\n";
    for (const char* name : {"MODEL.OBJ", "model.Obj"}) {
        auto scene = SceneLoader().load(dir.write(name, obj));
        ASSERT_EQ(scene->rootNode->childNodes().size(), 1u) << name;
        EXPECT_EQ(scene->rootNode->childNodes()[0]->transform(), Mat4::identity()) << name;
        EXPECT_EQ(scene->rootNode->boundingBox().max.z, 1) << name;
    }
}

TEST(SceneLoaderDispatch, voxInAnyCaseReachesTheVOXLoader) {
    test::TempDir dir;
    // Only the VOX loader answers a signature without models with -22, and short files with -20.
    const test::Bytes noModel = {'V', 'O', 'X', ' ', 150, 0, 0, 0};
    for (const char* name : {"a.vox", "b.VOX", "c.Vox", "scene.stl.vox"}) {
        Error e = loadError(dir, name, noModel);
        EXPECT_EQ(e.domain(), "SceneLoader") << name;
        EXPECT_EQ(e.code(), -22) << name;
    }
    EXPECT_EQ(loadError(dir, "short.vox", {'V', 'O', 'X'}).code(), -20);
    // An STL's bytes in a .vox file are not handed to the STL loader.
    EXPECT_EQ(loadError(dir, "really-an-stl.vox", oneTriangle).code(), -21);
    try {
        SceneLoader().load("/nonexistent-kelvo-dir/model.vox");
        FAIL() << "loaded a missing file";
    } catch (const Error& e) {
        EXPECT_EQ(e.domain(), "POSIX");
        EXPECT_EQ(e.code(), ENOENT);
    }
}

TEST(SceneLoaderDispatch, threeMFInAnyCaseReachesTheZIPReaderAndNoOtherLoader) {
    test::TempDir dir;
    for (const char* name : {"a.3mf", "b.3MF", "c.stl.3Mf"}) {
        // A valid STL that is not a ZIP package: the 3MF loader's own error, no fallback.
        try {
            SceneLoader().load(dir.write(name, oneTriangle));
            ADD_FAILURE() << name << " loaded";
        } catch (const ZIPReader::ZIPError& e) {
            EXPECT_EQ(e.errorCase(), ZIPReader::ZIPError::Case::invalidArchive) << name;
        }
    }
}

// Solids of one STL share one default material; a new load makes a new one.
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
    EXPECT_EQ(children[1]->name, "b");
    auto again = SceneLoader().load(dir.path() / "two.stl");
    EXPECT_NE(again->rootNode->childNodes()[0]->geometry->materials[0], children[0]->geometry->materials[0]);
}

}  // namespace
}  // namespace kelvo

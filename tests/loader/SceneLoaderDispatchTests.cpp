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

// Which loader load() handed `name` to, told by what only that loader does: the STL loader
// turns the model upright, the generic loader leaves it as it stands, the VOX loader has its
// own errors, the 3MF loader the ZIP reader's; or the front door's refusal.
std::string outcome(const test::TempDir& dir, const std::string& name, const test::Bytes& bytes) {
    try {
        auto scene = SceneLoader().load(dir.write(name, bytes));
        const auto& nodes = scene->rootNode->childNodes();
        if (nodes.size() != 1) return std::to_string(nodes.size()) + " nodes";
        if (nodes[0]->eulerAngles().x == -1.5707963267948966) return "STL";
        const bool unmoved = nodes[0]->transform() == Mat4::identity() &&
                             scene->rootNode->boundingBox().max.z == 1;  // the OBJ's extent
        return unmoved ? "as it stands" : "moved";
    } catch (const ZIPReader::ZIPError& e) {
        return std::string("ZIP ") + e.what();
    } catch (const Error& e) {
        return e.domain() + " " + std::to_string(e.code()) + ": " + e.localizedDescription();
    }
}

// By the last extension, lower-cased, and never by the content: every file below but the
// VOX ones holds a valid STL.
TEST(SceneLoaderDispatch, theLastExtensionInAnyCaseChoosesTheLoader) {
    test::TempDir dir;
    const std::string objText = "v 0 0 0\nv 1 0 0\nv 0 0 1\nf 1 2 3\n";
    const test::Bytes obj(objText.begin(), objText.end());
    const test::Bytes voxWithoutModel = {'V', 'O', 'X', ' ', 150, 0, 0, 0}, voxSignature = {'V', 'O', 'X'};
    const char* noVoxels = "SceneLoader -22: No voxel data found in VOX file";
    const struct {
        const char* name;
        const test::Bytes& bytes;
        std::string outcome;
    } cases[] = {
        {"a.stl", oneTriangle, "STL"},
        {"b.STL", oneTriangle, "STL"},
        {"c.Stl", oneTriangle, "STL"},
        {"part.model.stl", oneTriangle, "STL"},
        {"tricky.obj.stl", oneTriangle, "STL"},
        {"x", oneTriangle, "SceneLoader -3: Unsupported format: "},
        {"x.txt", oneTriangle, "SceneLoader -3: Unsupported format: txt"},
        {"x.stl.Txt", oneTriangle, "SceneLoader -3: Unsupported format: Txt"},
        {"x.pdf", oneTriangle, "SceneLoader -3: Unsupported format: pdf"},
        {"x.PNG", oneTriangle, "SceneLoader -3: Unsupported format: PNG"},
        {"MODEL.OBJ", obj, "as it stands"},
        {"model.Obj", obj, "as it stands"},
        {"a.vox", voxWithoutModel, noVoxels},
        {"b.VOX", voxWithoutModel, noVoxels},
        {"c.Vox", voxWithoutModel, noVoxels},
        {"scene.stl.vox", voxWithoutModel, noVoxels},
        {"short.vox", voxSignature, "SceneLoader -20: VOX file too small"},
        {"really-an-stl.vox", oneTriangle, "SceneLoader -21: Invalid VOX file: bad magic"},
        {"a.3mf", oneTriangle, "ZIP invalidArchive"},
        {"b.3MF", oneTriangle, "ZIP invalidArchive"},
        {"c.stl.3Mf", oneTriangle, "ZIP invalidArchive"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(outcome(dir, c.name, c.bytes), c.outcome) << c.name;
    auto missing = test::caught<Error>([] { SceneLoader().load("/nonexistent-kelvo-dir/model.vox"); });
    ASSERT_TRUE(missing) << "loaded a missing file";
    EXPECT_EQ(std::pair(missing->domain(), missing->code()), std::pair(std::string("POSIX"), long{ENOENT}));
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

// Composition: layers and arcs give each prim its opinions in the right order, paths in
// referenced layers come out in stage terms, and bad arcs are skipped with a reason.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/USD/USDComposition.h"
#include "tests/support/TestFiles.h"

namespace kelvo::usd {
namespace {

Stage compose(const std::filesystem::path& file) {
    return composeStage(file, readFileContents(file));
}

double numberOf(const Stage& stage, const char* path, const char* property) {
    const Prim* prim = stage.primAtPath(path);
    EXPECT_TRUE(prim) << path;
    if (!prim) return NAN;
    ResolvedProperty r = stage.attribute(*prim, property);
    return r && !r.property->value.numbers.empty() ? r.property->value.numbers[0] : NAN;
}

bool mentions(const Stage& stage, const std::string& text) {
    for (const std::string& m : stage.messages) {
        if (m.find(text) != std::string::npos) return true;
    }
    return false;
}

TEST(USDComposition, subLayersAreWeakerThanTheirLayerAndInTheirOrder) {
    test::TempDir dir;
    dir.write("a.usda", "#usda 1.0\n( subLayers = [@sub/c.usda@] )\nover \"W\" { double x = 2 double y = 2 }");
    std::filesystem::create_directory(dir.path() / "sub");
    dir.write("sub/c.usda", "#usda 1.0\ndef Xform \"W\" { double x = 3 double y = 3 double z = 3 }");
    dir.write("b.usda", "#usda 1.0\ndef \"W\" { double y = 4 double w = 4 }");
    auto root = dir.write("root.usda",
                          "#usda 1.0\n( upAxis = \"Z\" metersPerUnit = 0.01 subLayers = [@a.usda@, @b.usda@] )\n"
                          "over \"W\" { double x = 1 }");
    Stage stage = compose(root);
    EXPECT_EQ(stage.upAxis, "Z");
    EXPECT_DOUBLE_EQ(stage.metersPerUnit, 0.01);
    EXPECT_EQ(numberOf(stage, "/W", "x"), 1);
    EXPECT_EQ(numberOf(stage, "/W", "y"), 2);
    EXPECT_EQ(numberOf(stage, "/W", "z"), 3);  // a's sub-layer comes before b
    EXPECT_EQ(numberOf(stage, "/W", "w"), 4);
    const Prim* w = stage.primAtPath("/W");
    EXPECT_EQ(w->typeName, "Xform");
    EXPECT_EQ(w->specifier, Specifier::def);
    EXPECT_TRUE(stage.messages.empty());
}

TEST(USDComposition, referencesAndPayloadsMapTheirPathsIntoTheStage) {
    test::TempDir dir;
    dir.write("asset.usda", R"(#usda 1.0
( defaultPrim = "Asset" )
def Xform "Asset" {
    def Mesh "Body" { rel material:binding = </Asset/Looks/Red> }
    def Scope "Looks" { def Material "Red" { token outputs:surface.connect = <Shader.outputs:surface> } }
}
def Xform "Other" { double size = 7 }
)");
    auto root = dir.write("root.usda", R"(#usda 1.0
def "World" {
    def "A" ( references = @asset.usda@ ) { over "Body" { double extra = 1 } }
    def "B" ( prepend payload = @./asset.usda@</Other> ) {}
    def "C" ( references = </World/B> ) {}
}
)");
    Stage stage = compose(root);
    EXPECT_TRUE(stage.messages.empty()) << stage.messages.front();
    const Prim* body = stage.primAtPath("/World/A/Body");
    ASSERT_TRUE(body);
    EXPECT_EQ(body->typeName, "Mesh");
    EXPECT_EQ(numberOf(stage, "/World/A/Body", "extra"), 1);
    EXPECT_EQ(stage.targets(*body, "material:binding"), (std::vector<std::string>{"/World/A/Looks/Red"}));
    const Prim* red = stage.primAtPath("/World/A/Looks/Red");
    ASSERT_TRUE(red);
    EXPECT_EQ(stage.targets(*red, "outputs:surface"),
              (std::vector<std::string>{"/World/A/Looks/Red/Shader.outputs:surface"}));
    EXPECT_EQ(numberOf(stage, "/World/B", "size"), 7);
    EXPECT_EQ(numberOf(stage, "/World/C", "size"), 7);  // internal reference, then its payload
    // The asset file was read once for both arcs.
    EXPECT_EQ(stage.layers.size(), 2u);
}

TEST(USDComposition, variantsFollowTheStrongestSelectionElseTheFirst) {
    test::TempDir dir;
    dir.write("geo.usda", R"(#usda 1.0
( defaultPrim = "G" )
def "G" ( variants = { string shape = "cube" } prepend variantSets = "shape" ) {
    variantSet "shape" = {
        "cube" { def Cube "Shape" {} }
        "ball" ( variants = { string size = "large" } prepend variantSets = "size" ) {
            def Sphere "Shape" {}
            variantSet "size" = { "small" { over "Shape" { double radius = 1 } }
                                  "large" { over "Shape" { double radius = 5 } } }
        }
    }
    variantSet "unselected" = { "first" { double picked = 1 } "second" { double picked = 2 } }
}
)");
    auto root = dir.write("root.usda", R"(#usda 1.0
def "World" ( variants = { string shape = "ball" } references = @geo.usda@ ) {}
def "Default" ( references = @geo.usda@ ) {}
def "Missing" ( variants = { string shape = "none" } references = @geo.usda@ ) {}
)");
    Stage stage = compose(root);
    EXPECT_EQ(stage.primAtPath("/World/Shape")->typeName, "Sphere");
    EXPECT_EQ(numberOf(stage, "/World/Shape", "radius"), 5);
    EXPECT_EQ(numberOf(stage, "/World", "picked"), 1);
    EXPECT_EQ(stage.primAtPath("/Default/Shape")->typeName, "Cube");
    EXPECT_EQ(stage.primAtPath("/Missing/Shape"), nullptr);
}

TEST(USDComposition, inheritsAndSpecializesBringClassOpinionsWeakerThanLocalOnes) {
    test::TempDir dir;
    auto root = dir.write("root.usda", R"(#usda 1.0
class "_Base" { double a = 1 double b = 1 def Cube "Part" {} }
class "_Special" { double b = 3 double c = 3 }
def Xform "Thing" ( inherits = </_Base> specializes = </_Special> ) { double a = 2 }
)");
    Stage stage = compose(root);
    EXPECT_EQ(numberOf(stage, "/Thing", "a"), 2);
    EXPECT_EQ(numberOf(stage, "/Thing", "b"), 1);
    EXPECT_EQ(numberOf(stage, "/Thing", "c"), 3);
    EXPECT_EQ(stage.primAtPath("/Thing/Part")->typeName, "Cube");
    EXPECT_EQ(stage.primAtPath("/_Base")->specifier, Specifier::classOpinion);
}

TEST(USDComposition, badArcsAreSkippedWithAReason) {
    test::TempDir dir;
    dir.write("loop.usda", "#usda 1.0\n( subLayers = [@loop2.usda@] )\n");
    dir.write("loop2.usda", "#usda 1.0\n( subLayers = [@loop.usda@] )\n");
    dir.write("refloop.usda", "#usda 1.0\n( defaultPrim = \"R\" )\ndef \"R\" ( references = @refloop2.usda@ ) {}");
    dir.write("refloop2.usda", "#usda 1.0\n( defaultPrim = \"S\" )\ndef \"S\" ( references = @refloop.usda@ ) {}");
    dir.write("nodefault.usda", "#usda 1.0\ndef \"X\" {}");
    dir.write("broken.usda", "#usda 1.0\ndef \"Kept\" {}\ndef \"Y\" {");
    dir.write("binary.usd", "PXR-USDC\x08\x00");
    auto root = dir.write("root.usda", R"(#usda 1.0
( subLayers = [@loop.usda@, @/etc/passwd@, @http://example.invalid/x.usda@] )
def "A" ( references = [@missing.usda@, @refloop.usda@, @nodefault.usda@, @binary.usd@, @broken.usda@</Kept>, @nodefault.usda@</Nope>] ) {}
def Cube "Drawn" {}
)");
    Stage stage = compose(root);
    EXPECT_TRUE(stage.primAtPath("/Drawn"));
    EXPECT_TRUE(stage.primAtPath("/A"));
    EXPECT_TRUE(mentions(stage, "sub-layer @loop.usda@ of loop2.usda is skipped: it is a sub-layer of itself"));
    EXPECT_TRUE(mentions(stage, "@/etc/passwd@ of root.usda is skipped: the reference \"/etc/passwd\" is an absolute path"));
    EXPECT_TRUE(mentions(stage, "is a URI or an absolute path"));
    EXPECT_TRUE(mentions(stage, "reference @missing.usda@ of root.usda is skipped: the referenced file"));
    EXPECT_TRUE(mentions(stage, "leads back to a prim already composed there"));
    EXPECT_TRUE(mentions(stage, "names no prim and nodefault.usda has no default prim"));
    EXPECT_TRUE(mentions(stage, "binary.usd: the crate file is cut short in its header"));
    EXPECT_TRUE(mentions(stage, "broken.usda: line 3: prim body not closed"));
    EXPECT_TRUE(mentions(stage, "to </Nope> in nodefault.usda from /A is skipped: there is no such prim"));
}

TEST(USDComposition, selfReferencingNamespacesStayFinite) {
    // Each prim's children reference the layer's root again: an endless namespace that
    // doubles at every level, cut where the arc leads back to an ancestor.
    test::TempDir dir;
    auto root = dir.write("root.usda", R"(#usda 1.0
( defaultPrim = "R" )
def "R" { def "A" ( references = @root.usda@ ) {} def "B" ( references = @root.usda@ ) {} }
)");
    Stage stage = compose(root);
    EXPECT_EQ(stage.prims.size(), 4u);  // the pseudo-root, /R, /R/A, /R/B
    EXPECT_TRUE(mentions(stage, "to </R> in root.usda from /R/A is skipped: it leads back to an ancestor"));
}

TEST(USDComposition, relativeTargetsResolveAgainstTheirPrim) {
    EXPECT_EQ(absolutePath("/A/B", "../C"), "/A/C");
    EXPECT_EQ(absolutePath("/A/B", "Shader.outputs:rgb"), "/A/B/Shader.outputs:rgb");
    EXPECT_EQ(absolutePath("/A/B", ".outputs:x"), "/A/B.outputs:x");
    EXPECT_EQ(absolutePath("/A/B", "/X/./Y/../Z"), "/X/Z");
    EXPECT_EQ(absolutePath("/", "../../.."), "/");
    PathMap outer{"/Asset", "/World/A", nullptr};
    PathMap inner{"/Geo", "/Asset/Geo", std::make_shared<PathMap>(outer)};
    EXPECT_EQ(mapPath(&inner, "/Geo/Mesh.points"), "/World/A/Geo/Mesh.points");
    EXPECT_EQ(mapPath(&inner, "/Geometry"), "/Geometry");  // not under /Geo
}

}  // namespace
}  // namespace kelvo::usd

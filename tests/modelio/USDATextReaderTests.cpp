// The USDA reader keeps what the layer model holds, skips the rest by the grammar, and
// stops at the first malformed byte with the line named and what came before kept.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/ModelIO/USD/USDATextReader.h"

namespace kelvo::usd {
namespace {

ByteSpan bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

Layer read(const std::string& text) {
    Layer layer;
    const std::string error = readUSDA(bytesOf(text), layer);
    EXPECT_EQ(error, "") << text;
    return layer;
}

TEST(USDATextReader, readsLayerMetadataAndThePrimTree) {
    Layer layer = read(R"(#usda 1.0
(
    "A documentation string"
    customLayerData = { string copyright = "(c) [me]" dictionary d = { int x = 1 } }
    defaultPrim = "World"
    metersPerUnit = 0.01
    upAxis = "Z"
    subLayers = [ @./a.usda@ (offset = 10; scale = 2), @b.usda@ ]
)
def Xform "World" { def Mesh "Body" {} over "Tweak" {} }
class "_Class" {}
def "Untyped" {}
)");
    EXPECT_EQ(layer.defaultPrim, "World");
    EXPECT_EQ(layer.upAxis, "Z");
    EXPECT_DOUBLE_EQ(layer.metersPerUnit, 0.01);
    EXPECT_EQ(layer.subLayers, (std::vector<std::string>{"./a.usda", "b.usda"}));
    ASSERT_EQ(layer.root.children.size(), 3u);
    const PrimOpinion& world = layer.root.children[0];
    EXPECT_EQ(world.typeName, "Xform");
    EXPECT_EQ(world.specifier, Specifier::def);
    ASSERT_EQ(world.children.size(), 2u);
    EXPECT_EQ(world.children[0].typeName, "Mesh");
    EXPECT_EQ(world.children[1].specifier, Specifier::over);
    EXPECT_EQ(layer.root.children[1].specifier, Specifier::classOpinion);
    EXPECT_EQ(layer.root.children[2].typeName, "");
    EXPECT_EQ(layer.primAtPath("/World/Body"), &world.children[0]);
    EXPECT_EQ(layer.primAtPath("/World/Nothing"), nullptr);
}

TEST(USDATextReader, readsValuesOfTheTypesMeshesAndMaterialsUse) {
    Layer layer = read(R"(#usda 1.0
def Mesh "M" {
    point3f[] points = [(0, 0, 0), (1, -2.5, 3e2), (inf, -inf, nan)]
    int[] faceVertexCounts = [3, 4,]
    uniform token orientation = "leftHanded"
    custom uniform token[] xformOpOrder = ["xformOp:translate", "!invert!xformOp:scale"]
    double3 xformOp:translate = (1.5, 2, -3)
    matrix4d xformOp:transform = ( (1, 0, 0, 0), (0, 1, 0, 0), (0, 0, 1, 0), (5, 6, 7, 1) )
    quatf xformOp:orient = (1, 0, 0, 0)
    float2[] primvars:st = [(0, 1)] (interpolation = "faceVarying"; elementSize = 2)
    int[] primvars:st:indices = None
    asset inputs:file = @@@tex@ture.png@@@
    string s = "a \"quoted\" \\ line\n"
    string doc = """two
lines"""
    bool flag = true
    float f.timeSamples = { 10: 3, 2: 7.5, 5: 1 }
    float g = 1
    float g.timeSamples = { 0: 9 }
    color3f inputs:diffuseColor.connect = </Mat/Tex.outputs:rgb>
    rel material:binding = </Mat>
    prepend rel proxyPrim = [</A>, </B>]
    delete rel gone = </C>
}
)");
    const PrimOpinion& m = layer.root.children.at(0);
    auto p = [&](const char* name) {
        const Property* property = m.property(name);
        EXPECT_TRUE(property) << name;
        return property ? *property : Property{};
    };
    const Property points = p("points");
    EXPECT_TRUE(points.value.array);
    ASSERT_EQ(points.value.floats.size(), 9u);
    EXPECT_FLOAT_EQ(points.value.floats[5], 300.0f);
    EXPECT_TRUE(std::isinf(points.value.floats[6]) && points.value.floats[7] < 0);
    EXPECT_TRUE(std::isnan(points.value.floats[8]));
    EXPECT_EQ(p("faceVertexCounts").value.ints, (usd::IntArray{3, 4}));
    EXPECT_TRUE(p("orientation").uniform);
    EXPECT_EQ(p("xformOpOrder").value.strings.size(), 2u);
    EXPECT_TRUE(p("xformOpOrder").custom);
    EXPECT_EQ(p("xformOp:translate").value.numbers, (std::vector<double>{1.5, 2, -3}));
    EXPECT_EQ(p("xformOp:transform").value.numbers.size(), 16u);
    EXPECT_EQ(p("xformOp:transform").value.numbers[12], 5);
    EXPECT_EQ(p("xformOp:orient").value.numbers.size(), 4u);
    EXPECT_EQ(p("primvars:st").interpolation, "faceVarying");
    EXPECT_EQ(p("primvars:st").elementSize, 2);
    EXPECT_TRUE(p("primvars:st:indices").value.blocked);
    EXPECT_EQ(p("inputs:file").value.strings.at(0), "tex@ture.png");
    EXPECT_EQ(p("s").value.strings.at(0), "a \"quoted\" \\ line\n");
    EXPECT_EQ(p("doc").value.strings.at(0), "two\nlines");
    EXPECT_EQ(p("flag").value.numbers.at(0), 1);
    // Without a default the earliest sample counts; with one, the default does.
    EXPECT_EQ(p("f").value.numbers.at(0), 7.5);
    EXPECT_EQ(p("g").value.numbers.at(0), 1);
    EXPECT_EQ(p("inputs:diffuseColor").targets, (std::vector<std::string>{"/Mat/Tex.outputs:rgb"}));
    EXPECT_FALSE(p("inputs:diffuseColor").hasValue);
    EXPECT_TRUE(p("material:binding").relationship);
    EXPECT_EQ(p("proxyPrim").targets.size(), 2u);
    EXPECT_EQ(m.property("gone"), nullptr);
}

TEST(USDATextReader, readsCompositionArcsAndVariantSets) {
    Layer layer = read(R"(#usda 1.0
def Xform "A" (
    prepend references = [@./x.usda@</X> (offset = 2), </Internal>]
    payload = @p.usda@
    inherits = </_Class>
    append specializes = [</_Base>]
    delete references = @./gone.usda@
    variants = { string look = "red"; string size = "big" }
    prepend variantSets = ["look", "size"]
    active = false
    instanceable = true
    kind = "component"
    apiSchemas = ["MaterialBindingAPI"]
)
{
    variantSet "look" = {
        "blue" ( kind = "x" ) { def Sphere "S" {} }
        "red" { over "S" { double radius = 2 } }
    }
}
)");
    const PrimOpinion& a = layer.root.children.at(0);
    ASSERT_EQ(a.references.prepended.size(), 2u);
    EXPECT_EQ(a.references.prepended[0].assetPath, "./x.usda");
    EXPECT_EQ(a.references.prepended[0].primPath, "/X");
    EXPECT_EQ(a.references.prepended[1].assetPath, "");
    EXPECT_EQ(a.references.prepended[1].primPath, "/Internal");
    EXPECT_EQ(a.references.deleted.size(), 1u);
    EXPECT_TRUE(a.payloads.isExplicit);
    EXPECT_EQ(a.payloads.items().at(0).assetPath, "p.usda");
    EXPECT_EQ(a.inherits.items(), (std::vector<std::string>{"/_Class"}));
    EXPECT_EQ(a.specializes.items(), (std::vector<std::string>{"/_Base"}));
    EXPECT_EQ(a.variantSetNames.items(), (std::vector<std::string>{"look", "size"}));
    ASSERT_EQ(a.variantSelections.size(), 2u);
    EXPECT_EQ(a.variantSelections[0], (std::pair<std::string, std::string>{"look", "red"}));
    EXPECT_TRUE(a.hasActive && !a.active);
    EXPECT_TRUE(a.hasInstanceable && a.instanceable);
    EXPECT_EQ(a.kind, "component");
    ASSERT_EQ(a.variantSets.size(), 1u);
    ASSERT_EQ(a.variantSets[0].variants.size(), 2u);
    EXPECT_EQ(a.variantSets[0].variants[0].opinion.kind, "x");
    EXPECT_EQ(a.variantSets[0].variants[1].opinion.children.at(0).property("radius")->value.numbers.at(0), 2);
}

TEST(USDATextReader, skipsCommentsStringsAndUnknownValuesByTheGrammar) {
    // Closing brackets inside comments, strings, asset paths and paths close nothing.
    Layer layer = read(R"usd(#usda 1.0
( doc = "} ] )" )
# def "Commented" {}
// def "AlsoCommented" {}
/* def "Block" { } */
def "A" ( customData = { string s = "}"; asset a = @]@; dictionary d = { rel r = </x> } } )
{
    reorder nameChildren = ["B"]
    reorder properties = ["x"]
    dictionary settings = { string k = ")" }
    opaque o
    float x = 1 ( customData = { double[] list = [1, 2] } ; doc = """)""" )
    def "B" {}
}
)usd");
    ASSERT_EQ(layer.root.children.size(), 1u);
    EXPECT_EQ(layer.root.children[0].children.size(), 1u);
    EXPECT_EQ(layer.root.children[0].property("x")->value.numbers.at(0), 1);
}

TEST(USDATextReader, stopsAtMalformedTextNamingTheLineAndKeepsWhatCameBefore) {
    struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"#usda 1.0\ndef \"A\" {}\ndef \"B\" {", "line 3: prim body not closed"},
        {"#usda 1.0\ndef \"A\" {}\ndef \"B\" { float x = 1.2.3 }", "line 3: expected a prim, property or variant set"},
        {"#usda 1.0\ndef \"A\" {}\ndef \"B\" { point3f[] p = [(1, 2, 3), (x)] }", "line 3: expected a number"},
        {"#usda 1.0\ndef \"A\" {}\ndef \"B\" { int[] i = [1, 2 }", "line 3: expected ',' or ']' in an array"},
        {"#usda 1.0\ndef \"A\" {}\ndef \"B\" { string s = \"open\n\" }", "line 3: string not closed on its line"},
        {"#usda 1.0\ndef \"A\" {}\nbogus", "line 3: expected a prim (def, over or class)"},
        {"#usda 1.0\ndef \"A\" {}\ndef \"B\" ( references = @x.usda )", "line 3: asset path not closed"},
        {"#usda 1.0\ndef \"A\" {}\n\ndef \"B\" { rel r = </x }", "line 4: path not closed"},
        {"#usda 1.0\ndef \"A\" {}\ndef \"B\" { variantSet \"v\" { } }", "line 3: expected '=' after the variant set name"},
    };
    for (const auto& c : cases) {
        Layer layer;
        EXPECT_EQ(readUSDA(bytesOf(c.text), layer), c.error) << c.text;
        ASSERT_GE(layer.root.children.size(), 1u) << c.text;
        EXPECT_EQ(layer.root.children[0].name, "A");
    }
    Layer layer;
    EXPECT_EQ(readUSDA(bytesOf("#usdc 1.0\n"), layer), "line 1: the text does not start with #usda");
}

TEST(USDATextReader, deepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string prims = "#usda 1.0\n", values = "#usda 1.0\ndef \"A\" ( customData = ";
    for (int i = 0; i < 100000; ++i) {
        prims += "def \"a\" {";
        values += "[";
    }
    Layer layer;
    EXPECT_NE(readUSDA(bytesOf(prims), layer).find("prims nested too deeply"), std::string::npos);
    // Skipped values nest without recursion: the missing closers are what is reported.
    Layer other;
    EXPECT_NE(readUSDA(bytesOf(values), other).find("value not closed"), std::string::npos);
    Layer tuples;
    EXPECT_NE(readUSDA(bytesOf("#usda 1.0\ndef \"A\" { float3 x = " + std::string(100000, '(')), tuples)
                  .find("tuples nested too deeply"),
              std::string::npos);
}

TEST(USDATextReader, everyPrefixOfALayerReadsOrFailsCleanly) {
    const std::string text = R"(#usda 1.0
( defaultPrim = "W" subLayers = [@a.usda@] )
def Xform "W" ( prepend references = @r.usda@</R> variants = { string v = "x" } )
{
    variantSet "v" = { "x" { def Mesh "M" { point3f[] points = [(0,0,0),(1,0,0)] int[] i = [1] } } }
    float f.timeSamples = { 1: 2 }
    string s = """t"""
    rel r = [</a>, </b>]
}
)";
    for (std::size_t n = 0; n <= text.size(); ++n) {
        // Exactly n bytes, so a read past the end faults under the address sanitizer.
        std::vector<std::uint8_t> prefix(text.begin(), text.begin() + static_cast<long>(n));
        Layer layer;
        readUSDA(ByteSpan(prefix.data(), prefix.size()), layer);
    }
}

}  // namespace
}  // namespace kelvo::usd

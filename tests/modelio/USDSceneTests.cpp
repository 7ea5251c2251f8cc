// The scene a USD stage describes: placement by xform ops, meshes with their primvars,
// materials, implicit shapes, cameras, instancers, and the importer's front door.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/USD/USDImporter.h"
#include "platform/ModelIO/USD/USDSceneBuilder.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

// Layers are written to one folder for the whole program; each import writes "s.usda" anew.
const test::TempDir dir;

ModelAsset importText(const std::string& text) {
    return importModelAsset(dir.write("s.usda", text));
}

const Node* find(const Node& node, std::string_view name) {
    if (node.name == name) return &node;
    for (const auto& child : node.childNodes()) {
        if (const Node* n = find(*child, name)) return n;
    }
    return nullptr;
}

const Node* find(const ModelAsset& asset, std::string_view name) {
    for (const auto& object : asset.objects) {
        if (const Node* n = find(*object, name)) return n;
    }
    return nullptr;
}

Vec3 vertex(const Geometry& g, std::int64_t i) {
    float v[3];
    g.source(GeometrySemantic::vertex)->readFloat3(i, v);
    return {v[0], v[1], v[2]};
}

void expectNear(Vec3 a, Vec3 b) {
    EXPECT_NEAR(a.x, b.x, 1e-5);
    EXPECT_NEAR(a.y, b.y, 1e-5);
    EXPECT_NEAR(a.z, b.z, 1e-5);
}

const char* triangle = R"(point3f[] points = [(0, 0, 0), (1, 0, 0), (0, 1, 0)]
        int[] faceVertexCounts = [3]
        int[] faceVertexIndices = [0, 1, 2])";

TEST(USDScene, xformOpsPlaceNodesInOrderWithInversionAndReset) {
    ModelAsset asset = importText(std::string(R"(#usda 1.0
def Xform "Parent" {
    double3 xformOp:translate = (10, 0, 0)
    uniform token[] xformOpOrder = ["xformOp:translate"]
    def Mesh "T" {
        double3 xformOp:translate = (1, 2, 3)
        float3 xformOp:rotateXYZ = (0, 0, 90)
        float3 xformOp:scale = (2, 2, 2)
        uniform token[] xformOpOrder = ["xformOp:translate", "xformOp:rotateXYZ", "xformOp:scale"]
        )") + triangle + R"(
    }
    def Mesh "Inverted" {
        double3 xformOp:translate:pivot = (5, 0, 0)
        uniform token[] xformOpOrder = ["!invert!xformOp:translate:pivot"]
        )" + triangle + R"(
    }
    def Mesh "Reset" {
        quatf xformOp:orient = (0.70710677, 0.70710677, 0, 0)
        matrix4d xformOp:transform = ((1,0,0,0),(0,1,0,0),(0,0,1,0),(0,0,7,1))
        uniform token[] xformOpOrder = ["!resetXformStack!", "xformOp:transform", "xformOp:orient"]
        )" + triangle + R"(
    }
}
)");
    const Node* t = find(asset, "T");
    ASSERT_TRUE(t && t->geometry);
    // Scaled, then turned a quarter about z, then moved; then the parent's move.
    expectNear(transformPoint(t->worldTransform(), vertex(*t->geometry, 1)), {11, 4, 3});
    const Node* inverted = find(asset, "Inverted");
    expectNear(transformPoint(inverted->worldTransform(), vertex(*inverted->geometry, 0)), {5, 0, 0});
    const Node* reset = find(asset, "Reset");
    // The parent's move is undone; the y axis turns to z, then the move by 7 along z.
    expectNear(transformPoint(reset->worldTransform(), vertex(*reset->geometry, 2)), {0, 0, 8});
}

TEST(USDScene, primvarsInEveryInterpolation) {
    const std::string quad = R"(point3f[] points = [(0,0,0), (1,0,0), (1,1,0), (0,1,0), (2,0,0)]
        int[] faceVertexCounts = [4, 3]
        int[] faceVertexIndices = [0, 1, 2, 3, 1, 4, 2])";
    ModelAsset asset = importText("#usda 1.0\n"
                                  "def Mesh \"Constant\" { " + quad + " color3f[] primvars:displayColor = [(1, 0, 0)] }\n"
                                  "def Mesh \"Vertex\" { " + quad + " color3f[] primvars:displayColor = [(0,0,0),(1,1,1),(0,0,0),(0,0,0),(0.5,0.5,0.5)] (interpolation = \"vertex\") }\n"
                                  "def Mesh \"Uniform\" { " + quad + " color3f[] primvars:displayColor = [(1,0,0),(0,1,0)] (interpolation = \"uniform\") }\n"
                                  "def Mesh \"Indexed\" { " + quad + " color3f[] primvars:displayColor = [(0,0,1),(0,1,0)] (interpolation = \"faceVarying\")\n"
                                  "  int[] primvars:displayColor:indices = [0,0,0,0,1,1,1] float[] primvars:displayOpacity = [0.5] }\n"
                                  "def Mesh \"Short\" { " + quad + " color3f[] primvars:displayColor = [(1,0,0)] (interpolation = \"vertex\") }\n");
    const Node* constant = find(asset, "Constant");
    ASSERT_TRUE(constant && constant->geometry);
    EXPECT_EQ(constant->geometry->triangleCount(), 3);
    EXPECT_EQ(constant->geometry->vertexCount(), 5);
    EXPECT_FALSE(constant->geometry->source(GeometrySemantic::color));
    EXPECT_EQ(std::get<Color>(constant->geometry->materials[0]->diffuse), (Color{1, 0, 0, 1}));

    const Node* vertexColored = find(asset, "Vertex");
    const GeometrySource* colors = vertexColored->geometry->source(GeometrySemantic::color);
    ASSERT_TRUE(colors);
    EXPECT_EQ(vertexColored->geometry->vertexCount(), 5);  // per point: shared vertices
    float c[3];
    colors->readFloat3(4, c);
    EXPECT_NEAR(c[0], 0.7354, 1e-3);  // linear 0.5 in sRGB

    const Node* uniform = find(asset, "Uniform");
    EXPECT_EQ(uniform->geometry->vertexCount(), 7);  // per corner
    uniform->geometry->source(GeometrySemantic::color)->readFloat3(6, c);
    EXPECT_EQ(c[1], 1.0f);

    const Node* indexed = find(asset, "Indexed");
    const GeometrySource* rgba = indexed->geometry->source(GeometrySemantic::color);
    ASSERT_TRUE(rgba);
    EXPECT_EQ(rgba->componentsPerVector, 4);
    // Too few values for its interpolation: drawn without colours.
    EXPECT_FALSE(find(asset, "Short")->geometry->source(GeometrySemantic::color));
}

TEST(USDScene, leftHandedMeshesTurnTheirTrianglesAndBadFacesAreLeftOut) {
    ModelAsset asset = importText(R"(#usda 1.0
def Mesh "R" { point3f[] points = [(0,0,0),(1,0,0),(0,1,0)] int[] faceVertexCounts = [3, 3, 2, 3]
               int[] faceVertexIndices = [0,1,2, 0,1,9, 0,1, 2,1,0] }
def Mesh "L" { point3f[] points = [(0,0,0),(1,0,0),(0,1,0)] int[] faceVertexCounts = [3, 5]
               int[] faceVertexIndices = [0,1,2] uniform token orientation = "leftHanded"
               uniform bool doubleSided = 1 }
)");
    const Geometry& r = *find(asset, "R")->geometry;
    EXPECT_EQ(r.triangleCount(), 2);
    const Geometry& l = *find(asset, "L")->geometry;
    ASSERT_EQ(l.triangleCount(), 1);  // the second face runs past the indices
    EXPECT_EQ(l.elements[0].index(1), 2u);
    EXPECT_EQ(l.elements[0].index(2), 1u);
    EXPECT_TRUE(l.materials[0]->isDoubleSided);
    EXPECT_FALSE(r.materials[0]->isDoubleSided);
}

TEST(USDScene, previewSurfacesAndSubsetsGiveTheirMaterials) {
    ModelAsset asset = importText(R"(#usda 1.0
def Xform "W" ( prepend apiSchemas = ["MaterialBindingAPI"] ) {
    rel material:binding = </Looks/Gold>
    def Mesh "M" {
        point3f[] points = [(0,0,0),(1,0,0),(0,1,0),(1,1,0)]
        int[] faceVertexCounts = [3, 3]
        int[] faceVertexIndices = [0,1,2, 1,3,2]
        texCoord2f[] primvars:uv = [(0,0),(1,0),(0,1),(1,1)] ( interpolation = "vertex" )
        def GeomSubset "Second" {
            uniform token elementType = "face"
            uniform token familyName = "materialBind"
            int[] indices = [1]
            rel material:binding = </Looks/Textured>
        }
    }
}
def Scope "Looks" {
    def Material "Gold" {
        token outputs:surface.connect = </Looks/Gold/Graph.outputs:surface>
        def NodeGraph "Graph" {
            token outputs:surface.connect = </Looks/Gold/Graph/S.outputs:surface>
            def Shader "S" {
                uniform token info:id = "UsdPreviewSurface"
                color3f inputs:diffuseColor = (1, 0.5, 0)
                float inputs:metallic = 1
                float inputs:roughness = 0.25
                float inputs:opacity = 0.5
                color3f inputs:emissiveColor = (0, 0, 1)
                token outputs:surface
            }
        }
    }
    def Material "Textured" {
        token outputs:surface.connect = </Looks/Textured/S.outputs:surface>
        def Shader "S" {
            uniform token info:id = "UsdPreviewSurface"
            color3f inputs:diffuseColor.connect = </Looks/Textured/Tex.outputs:rgb>
            float inputs:roughness.connect = </Looks/Textured/Arm.outputs:g>
            float inputs:metallic.connect = </Looks/Textured/Arm.outputs:b>
        }
        def Shader "Tex" {
            uniform token info:id = "UsdUVTexture"
            asset inputs:file = @textures/wood.png@
            token inputs:wrapS = "clamp"
            float2 inputs:st.connect = </Looks/Textured/Place.outputs:result>
        }
        def Shader "Place" {
            uniform token info:id = "UsdTransform2d"
            float2 inputs:in.connect = </Looks/Textured/Reader.outputs:result>
            float2 inputs:scale = (2, 4)
            float2 inputs:translation = (0.5, 0.25)
        }
        token inputs:stName = "uv"
        def Shader "Arm" { uniform token info:id = "UsdUVTexture" asset inputs:file = @arm.png@ }
        def Shader "Reader" { uniform token info:id = "UsdPrimvarReader_float2"
                              string inputs:varname.connect = </Looks/Textured.inputs:stName> }
    }
}
)");
    const Geometry& g = *find(asset, "M")->geometry;
    ASSERT_EQ(g.elements.size(), 2u);
    const Material& gold = *g.materials[0];
    EXPECT_EQ(gold.name, "Gold");
    const Color diffuse = std::get<Color>(gold.diffuse);
    EXPECT_NEAR(diffuse.green, 0.7354, 1e-3);
    EXPECT_EQ(diffuse.alpha, 0.5);
    EXPECT_EQ(gold.alphaMode, AlphaMode::blend);
    EXPECT_EQ(std::get<double>(gold.metalness), 1.0);
    EXPECT_EQ(std::get<double>(gold.roughness), 0.25);
    EXPECT_EQ(gold.emission.blue, 1.0);
    const Material& textured = *g.materials[1];
    ASSERT_TRUE(textured.diffuseTexture);
    EXPECT_EQ(textured.diffuseTexture.texture->path, "textures/wood.png");
    EXPECT_EQ(textured.diffuseTexture.wrapS, TextureWrap::clampToEdge);
    // t up in the file, v down in the scene: the offset moves to the flipped origin.
    EXPECT_EQ(textured.diffuseTexture.scale[1], 4);
    EXPECT_EQ(textured.diffuseTexture.offset[0], 0.5);
    EXPECT_EQ(textured.diffuseTexture.offset[1], 1 - 0.25 - 4);
    ASSERT_TRUE(textured.metalnessRoughnessTexture);
    EXPECT_EQ(textured.metalnessRoughnessTexture.texture->path, "arm.png");
    EXPECT_TRUE(g.source(GeometrySemantic::texcoord));  // read from the reader's "uv"
    EXPECT_EQ(asset.textures.size(), 2u);
    EXPECT_EQ(asset.textures[0].referringFile, dir.path() / "s.usda");
}

TEST(USDScene, shapesCamerasAndInstancers) {
    ModelAsset asset = importText(R"(#usda 1.0
( upAxis = "Z" )
def Cube "Box" { double size = 4 }
def Cylinder "Tube" { double radius = 1 double height = 6 uniform token axis = "Y" }
def Sphere "Ball" {}
def Cone "Cone" {}
def Capsule "Pill" {}
def Camera "Cam" { float focalLength = 50 float verticalAperture = 50 float2 clippingRange = (0.1, 100) }
def PointInstancer "Many" {
    rel prototypes = [</Many/Protos/Dot>]
    int[] protoIndices = [0, 0, 5]
    point3f[] positions = [(10, 0, 0), (20, 0, 0), (30, 0, 0)]
    def Scope "Protos" { def Cube "Dot" { double size = 1 } }
}
def Cube "Hidden" { token visibility = "invisible" }
def Cube "Guide" { uniform token purpose = "guide" }
def Cube "Off" ( active = false ) {}
)");
    BoundingBox box = find(asset, "Box")->geometry->boundingBox();
    expectNear(box.max, {2, 2, 2});
    BoundingBox tube = find(asset, "Tube")->geometry->boundingBox();
    EXPECT_NEAR(tube.max.y, 3, 1e-5);
    EXPECT_NEAR(find(asset, "Cone")->geometry->boundingBox().max.z, 1, 1e-5);  // z is the default axis
    EXPECT_NEAR(find(asset, "Pill")->geometry->boundingBox().max.z, 1, 1e-5);
    const Node* cam = find(asset, "Cam");
    ASSERT_TRUE(cam && cam->camera);
    EXPECT_NEAR(cam->camera->fieldOfView, 53.13, 0.01);
    EXPECT_DOUBLE_EQ(cam->camera->zNear, 0.1);
    const Node* many = find(asset, "Many");
    ASSERT_TRUE(many);
    ASSERT_EQ(many->childNodes().size(), 2u);  // the third names no prototype
    EXPECT_EQ(many->childNodes()[1]->position().x, 20);
    // Prototypes are drawn only as instances; invisible, guide and inactive prims not at all.
    for (const char* name : {"Protos", "Hidden", "Guide", "Off"})
        EXPECT_FALSE(find(asset, name)) << name;
    // z-up stages are turned to y-up.
    expectNear(transformPoint(asset.upAxisCorrection, {0, 0, 1}), {0, 1, 0});
}

TEST(USDScene, instancersWhosePrototypesHoldThemStayBounded) {
    // Each instancer draws its own ancestor ten times: without limits, 10^n nodes.
    std::string text = "#usda 1.0\ndef Xform \"W\" {\n def Cube \"C\" {}\n def PointInstancer \"I\" {"
                       " rel prototypes = [</W>, </W/I>] int[] protoIndices = [";
    for (int i = 0; i < 10; ++i)
        text += i ? ", 0" : "0";
    text += "] point3f[] positions = [";
    for (int i = 0; i < 10; ++i)
        text += i ? ", (1,0,0)" : "(1,0,0)";
    text += "] }\n}\n";
    ModelAsset asset = importText(text);
    std::size_t nodes = 0;
    asset.objects.at(0)->enumerateChildNodes([&](Node&, bool&) { ++nodes; });
    EXPECT_GT(nodes, 10u);
    EXPECT_LT(nodes, usd::maxNodes * 2);
}

TEST(USDScene, theFrontDoorTellsTextFromBinaryByTheFirstBytes) {
    ModelAsset text = importModelAsset(dir.write("t.usd", std::string("#usda 1.0\ndef Cube \"C\" {}\n")));
    EXPECT_EQ(text.objects.size(), 1u);
    struct {
        const char* name;
        std::string bytes;
        const char* message;
    } refused[] = {
        {"b.usd", std::string("PXR-USDC\x08\0\0\0", 12), "Nothing in the USD stage can be drawn: b.usd: the crate file is cut short"},
        {"b.usdc", "#usda 1.0\ndef \"A\" {", "Nothing in the USD stage can be drawn: b.usdc: line 2"},
        {"b.USDZ", "PK\x03\x04", "The file is not a USD package: the USDZ package is not a readable ZIP archive"},
        {"n.usd", "hello", "The file is not a USD layer"},
        {"e.usda", "#usda 1.0\ndef \"A\" {", "Nothing in the USD stage can be drawn: e.usda: line 2: prim body not closed"},
        {"m.usda", "#usda 1.0\n( subLayers = [@gone.usda@] )\n", "Nothing in the USD stage can be drawn: sub-layer @gone.usda@"},
    };
    for (const auto& r : refused) {
        std::optional<Error> e = test::caught<Error>([&] { importModelAsset(dir.write(r.name, r.bytes)); });
        ASSERT_TRUE(e) << r.name;
        EXPECT_EQ(e->domain(), modelIOErrorDomain) << r.name;
        EXPECT_TRUE(e->localizedDescription().starts_with(r.message)) << e->localizedDescription();
    }
    // Drawn as far as it was read.
    ModelAsset partial = importModelAsset(dir.write("p.usda", std::string("#usda 1.0\ndef Cube \"C\" {}\ndef \"B\" { float = }")));
    EXPECT_EQ(partial.objects.size(), 1u);
}

TEST(USDScene, corpusTextLayersDraw) {
    KELVO_REQUIRE_CORPUS();
    const std::filesystem::path usd = test::corpusDir() / "other/usd";
    ModelAsset teapot = importModelAsset(usd / "Teapot/Teapot.usd");
    const Node* geometry = find(teapot, "Geometry");
    ASSERT_TRUE(geometry && geometry->geometry);
    EXPECT_GT(geometry->geometry->triangleCount(), 1000);
    // The "Utah" variant with its default shading variant's display colour.
    ASSERT_EQ(geometry->geometry->materials.size(), 1u);
    EXPECT_EQ(geometry->geometry->materials[0]->name, "Ceramic");

    ModelAsset axis = importModelAsset(usd / "test_assets/foundation/stage_configuration/metersPerUnit/metersPerUnit_10.usda");
    EXPECT_TRUE(find(axis, "X") && find(axis, "cube_10"));
    ModelAsset child = importModelAsset(usd / "test_assets/foundation/stage_composition/references/reference_child_folder.usda");
    EXPECT_TRUE(find(child, "Cube"));
    ModelAsset invalid = importModelAsset(usd / "test_assets/foundation/stage_composition/references/reference_invalid.usda");
    EXPECT_TRUE(find(invalid, "cube"));
    // Its geometry is in a binary layer, King_geom.usd.
    ModelAsset king = importModelAsset(usd / "King/King.usd");
    const Node* render = find(king, "Render");
    ASSERT_TRUE(render && render->geometry);
    EXPECT_EQ(render->geometry->triangleCount(), 40480);
}

}  // namespace
}  // namespace kelvo

// From a loaded asset to the scene graph: primitives, placement at time 0, morph weights,
// materials, cameras and lights.
#include <gtest/gtest.h>

#include <limits>
#include <numbers>

#include "tests/gltf/GLTFTestDocuments.h"

namespace kelvo {
namespace {

using test::Doc;

// Five vertices on a strip (or a fan); indices 0..4 as unsigned bytes.
TEST(GLTFConversion, primitiveModesBecomeTrianglesPointsOrNothing) {
    test::BinaryBuffer b;
    b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 2, 0});
    b.add<std::uint8_t>({0, 1, 2, 3, 4, 9});  // 9: past the vertices
    struct {
        int mode;
        int count;
        std::vector<std::uint32_t> indices;  // empty: nothing drawn
        PrimitiveType type;
    } cases[] = {
        {4, 6, {0, 1, 2}, PrimitiveType::triangles},  // 3 4 9 names a missing vertex
        {5, 5, {0, 1, 2, 2, 1, 3, 2, 3, 4}, PrimitiveType::triangles},
        {6, 5, {1, 2, 0, 2, 3, 0, 3, 4, 0}, PrimitiveType::triangles},
        {0, 6, {0, 1, 2, 3, 4}, PrimitiveType::point},
        {1, 6, {}, PrimitiveType::triangles},
        {3, 5, {}, PrimitiveType::triangles},
    };
    for (const auto& c : cases) {
        Doc d;
        d.buffers = R"([{"byteLength":66}])";
        d.bufferViews =
            R"([{"buffer":0,"byteLength":60},{"buffer":0,"byteOffset":60,"byteLength":6}])";
        d.accessors = R"([{"bufferView":0,"componentType":5126,"count":5,"type":"VEC3"},)"
                      R"({"bufferView":1,"componentType":5121,"count":)" +
                      std::to_string(c.count) + R"(,"type":"SCALAR"}])";
        d.meshes = R"([{"primitives":[{"attributes":{"POSITION":0},"indices":1,"mode":)" +
                   std::to_string(c.mode) + "}]}]";
        auto scene = test::sceneOf(d.json(), b.bytes);
        auto nodes = test::geometryNodes(*scene->rootNode);
        if (c.indices.empty()) {
            EXPECT_TRUE(nodes.empty()) << c.mode;
            continue;
        }
        ASSERT_EQ(nodes.size(), 1u) << c.mode;
        EXPECT_EQ(nodes[0]->geometry->elements[0].primitiveType, c.type) << c.mode;
        EXPECT_EQ(test::elementIndices(*nodes[0]->geometry), c.indices) << c.mode;
    }
}

// Matrices are column-major; TRS composes as T * R * S; the first animation's value at time 0
// replaces the node's own; a node placed at a non-number is left out with its subtree.
TEST(GLTFConversion, nodePlacementAtTimeZero) {
    test::Bytes bin = test::triangleBin();
    test::BinaryBuffer anim;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    anim.floats({0.5f, 1.5f, 2, 0, 0, 4, 0, 0});  // times 0.5, 1.5; translations (2,0,0) (4,0,0)
    anim.floats({nan, 1, 1, nan, 1, 1});          // scales
    bin.insert(bin.end(), anim.bytes.begin(), anim.bytes.end());
    Doc d;
    d.buffers = R"([{"byteLength":100}])";
    d.bufferViews =
        R"([{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":6},)"
        R"({"buffer":0,"byteOffset":44,"byteLength":8},{"buffer":0,"byteOffset":52,"byteLength":48}])";
    d.accessors =
        R"([{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},)"
        R"({"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"},)"
        R"({"bufferView":2,"componentType":5126,"count":2,"type":"SCALAR"},)"
        R"({"bufferView":3,"componentType":5126,"count":2,"type":"VEC3"},)"
        R"({"bufferView":3,"byteOffset":24,"componentType":5126,"count":2,"type":"VEC3"}])";
    d.nodes = R"([{"matrix":[2,0,0,0, 0,2,0,0, 0,0,2,0, 5,6,7,1]},)"
              R"({"translation":[1,2,3],"rotation":[0,0.7071068,0,0.7071068],"scale":[1,1,3]},)"
              R"({"translation":[9,9,9]},{"children":[4]},{"mesh":0}])";
    d.scenes = R"([{"nodes":[0,1,2,3]}])";
    d.extra =
        R"(,"animations":[{"channels":[{"sampler":0,"target":{"node":2,"path":"translation"}},)"
        R"({"sampler":1,"target":{"node":3,"path":"scale"}}],)"
        R"("samplers":[{"input":2,"output":3},{"input":2,"output":4}]}])";
    auto scene = test::sceneOf(d.json(), bin);
    const auto& roots = scene->rootNode->childNodes();
    ASSERT_EQ(roots.size(), 3u);  // the non-finite node and its child are left out
    EXPECT_EQ(roots[0]->position(), (Vec3{5, 6, 7}));
    EXPECT_DOUBLE_EQ(roots[0]->transform().m[0][0], 2);
    // A quarter turn about y takes x to -z; the z scale of 3 lands on x.
    Vec3 p = transformPoint(roots[1]->transform(), {0, 0, 1});
    EXPECT_NEAR(p.x, 1 + 3, 1e-6);
    EXPECT_NEAR(p.y, 2, 1e-6);
    EXPECT_NEAR(p.z, 3, 1e-6);
    // Before its first key the animation holds its first value.
    EXPECT_EQ(roots[2]->position(), (Vec3{2, 0, 0}));
}

// One morph target moving vertex 2 by +1 in z, weighted by the mesh, a node or the animation.
TEST(GLTFConversion, morphTargetsAtTheirWeights) {
    test::Bytes bin = test::triangleBin();
    test::BinaryBuffer extra;
    extra.floats({0, 0, 0, 0, 0, 0, 0, 0, 1});
    bin.insert(bin.end(), extra.bytes.begin(), extra.bytes.end());
    Doc d;
    d.buffers = R"([{"byteLength":80}])";
    d.bufferViews = R"([{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":6},)"
                    R"({"buffer":0,"byteOffset":44,"byteLength":36}])";
    d.accessors = R"([{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},)"
                  R"({"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"},)"
                  R"({"bufferView":2,"componentType":5126,"count":3,"type":"VEC3"}])";
    d.meshes = R"([{"weights":[0.5],"primitives":[{"attributes":{"POSITION":0},"indices":1,)"
               R"("targets":[{"POSITION":2}]}]}])";
    d.nodes = R"([{"mesh":0},{"mesh":0,"weights":[2]},{"mesh":0,"weights":[0]}])";
    d.scenes = R"([{"nodes":[0,1,2]}])";
    auto scene = test::sceneOf(d.json(), bin);
    auto nodes = test::geometryNodes(*scene->rootNode);
    ASSERT_EQ(nodes.size(), 3u);
    float expected[] = {0.5f, 2, 0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(test::sourceFloats(*nodes[i]->geometry, GeometrySemantic::vertex)[8],
                        expected[i]);
    }
}

TEST(GLTFConversion, materialsKeepFactorsSRGBEncodedAndTheirTextureReferences) {
    test::Bytes bin = test::triangleBin();
    const char png[] = "\x89PNG fake";
    bin.insert(bin.end(), png, png + 8);
    Doc d;
    d.buffers = R"([{"byteLength":52}])";
    d.bufferViews = R"([{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":6},)"
                    R"({"buffer":0,"byteOffset":44,"byteLength":8}])";
    d.meshes = R"([{"primitives":[{"attributes":{"POSITION":0},"indices":1,"material":0},)"
               R"({"attributes":{"POSITION":0},"indices":1,"material":1},)"
               R"({"attributes":{"POSITION":0},"indices":1}]}])";
    d.extra =
        R"(,"materials":[{"name":"paint","pbrMetallicRoughness":{"baseColorFactor":[0.2140411,1,0,0.5],)"
        R"("metallicFactor":0.25,"roughnessFactor":0.75,"baseColorTexture":{"index":0,"texCoord":0,)"
        R"("extensions":{"KHR_texture_transform":{"offset":[0.5,0],"rotation":0.39269908169872415480783042290994,"scale":[2,2]}}}},)"
        R"("emissiveFactor":[1,0,0],"extensions":{"KHR_materials_emissive_strength":{"emissiveStrength":4}},)"
        R"("alphaMode":"MASK","alphaCutoff":0.3,"doubleSided":true},)"
        R"({"alphaMode":"BLEND","emissiveTexture":{"index":1},"extensions":{"KHR_materials_unlit":{}}}],)"
        R"("textures":[{"source":0,"sampler":0},{"source":1}],)"
        R"("samplers":[{"magFilter":9728,"wrapS":33071,"wrapT":33648}],)"
        R"("images":[{"bufferView":2,"mimeType":"image/png"},{"uri":"missing.png"}])";
    auto scene = test::sceneOf(d.json(), bin);
    auto nodes = test::geometryNodes(*scene->rootNode);
    ASSERT_EQ(nodes.size(), 3u);
    const Material& paint = *nodes[0]->geometry->materials[0];
    EXPECT_EQ(paint.name, "paint");
    EXPECT_EQ(paint.lightingModelName, LightingModel::physicallyBased);
    Color base = std::get<Color>(paint.diffuse);
    EXPECT_NEAR(base.red, 0.5, 1e-3);  // linear 0.214 is sRGB 0.5
    EXPECT_EQ(base.green, 1);
    EXPECT_EQ(base.alpha, 0.5);  // alpha is not encoded
    EXPECT_EQ(std::get<double>(paint.metalness), 0.25);
    EXPECT_EQ(std::get<double>(paint.roughness), 0.75);
    EXPECT_EQ(paint.emission, (Color{1, 0, 0, 1}));
    EXPECT_EQ(paint.emissionIntensity, 4);
    EXPECT_EQ(paint.alphaMode, AlphaMode::mask);
    EXPECT_EQ(paint.alphaCutoff, 0.3);
    EXPECT_TRUE(paint.isDoubleSided);
    const TextureSlot& slot = paint.diffuseTexture;
    ASSERT_TRUE(slot);
    EXPECT_TRUE(slot.texture->found);
    EXPECT_EQ(slot.texture->mimeType, "image/png");
    EXPECT_EQ(slot.texture->encoded->size(), 8u);
    EXPECT_EQ(slot.wrapS, TextureWrap::clampToEdge);
    EXPECT_EQ(slot.wrapT, TextureWrap::mirroredRepeat);
    EXPECT_TRUE(slot.nearestMagnification);
    EXPECT_EQ(slot.offset[0], 0.5);
    // More significant digits than a double holds, as exporters write angles: still pi / 8.
    EXPECT_EQ(slot.rotation, 0.39269908169872415);
    EXPECT_EQ(slot.scale[1], 2);

    const Material& unlit = *nodes[1]->geometry->materials[0];
    EXPECT_EQ(unlit.lightingModelName, LightingModel::constant);
    EXPECT_EQ(unlit.alphaMode, AlphaMode::blend);
    // A missing image is no error: the slot keeps a texture that was not found.
    ASSERT_TRUE(unlit.emissionTexture);
    EXPECT_FALSE(unlit.emissionTexture.texture->found);

    // No material: glTF's default, white, metallic and rough.
    const Material& fallback = *nodes[2]->geometry->materials[0];
    EXPECT_EQ(std::get<Color>(fallback.diffuse), Color::white(1, 1));
    EXPECT_EQ(std::get<double>(fallback.metalness), 1);
    EXPECT_EQ(std::get<double>(fallback.roughness), 1);
}

TEST(GLTFConversion, camerasAndLightsSitOnTheirNodes) {
    Doc d;
    d.nodes =
        R"([{"camera":0,"translation":[0,0,10]},{"camera":1},)"
        R"({"extensions":{"KHR_lights_punctual":{"light":0}}},)"
        R"({"translation":[0,0,4],"extensions":{"KHR_lights_punctual":{"light":1}}},{"mesh":0}])";
    d.scenes = R"([{"nodes":[0,1,2,3,4]}])";
    d.extra =
        R"(,"cameras":[{"type":"perspective","perspective":{"yfov":0.5,"znear":0.1}},)"
        R"({"type":"orthographic","orthographic":{"xmag":3,"ymag":2,"znear":1,"zfar":50}}],)"
        R"("extensions":{"KHR_lights_punctual":{"lights":[{"type":"directional","intensity":2},)"
        R"({"type":"spot","intensity":32,"color":[1,0,0],"spot":{"innerConeAngle":0.1,"outerConeAngle":0.4}}]}})";
    auto scene = test::sceneOf(d.json());
    const auto& roots = scene->rootNode->childNodes();
    ASSERT_EQ(roots.size(), 5u);
    const Camera& perspective = *roots[0]->camera;
    EXPECT_NEAR(perspective.fieldOfView, 0.5 * 180 / std::numbers::pi, 1e-9);
    EXPECT_TRUE(perspective.automaticallyAdjustsZRange);  // no zfar: infinite
    const Camera& ortho = *roots[1]->camera;
    EXPECT_TRUE(ortho.usesOrthographicProjection);
    EXPECT_EQ(ortho.orthographicScale, 2);
    EXPECT_EQ(ortho.zNear, 1);
    EXPECT_EQ(ortho.zFar, 50);

    const Light& sun = *roots[2]->light;
    EXPECT_EQ(sun.type, LightType::directional);
    EXPECT_EQ(sun.intensity, 2);  // lux, as the scene graph measures
    // The spot is 4 m from the triangle's box centre (about (0.5, 0.5, 0)): 32 cd there is
    // about 2 lux.
    const Light& spot = *roots[3]->light;
    EXPECT_EQ(spot.type, LightType::spot);
    double distance = std::sqrt(0.5 * 0.5 * 2 + 16);
    EXPECT_NEAR(spot.intensity, 32 / (distance * distance), 1e-9);
    EXPECT_EQ(spot.color, (Color{1, 0, 0, 1}));
    EXPECT_NEAR(spot.spotOuterAngle, 0.8 * 180 / std::numbers::pi, 1e-9);
    EXPECT_NEAR(spot.spotInnerAngle, 0.2 * 180 / std::numbers::pi, 1e-9);
}

// Two thousand meshes over one accessor of ten thousand vertices would convert to more than a
// gigabyte from a file of a few kilobytes; the geometry past the budget is left out.
TEST(GLTFConversion, geometryThatReusesTheSameDataWithoutEndIsCutOff) {
    Doc d;
    d.accessors = R"([{"componentType":5126,"count":10000,"type":"VEC3"}])";
    d.meshes = "[";
    d.nodes = "[";
    std::string roots = "[";
    for (int i = 0; i < 2000; ++i) {
        const std::string n = std::to_string(i), comma = i ? "," : "";
        d.meshes += comma + R"({"primitives":[{"attributes":{"POSITION":0}}]})";
        d.nodes += comma + R"({"mesh":)" + n + "}";
        roots += comma + n;
    }
    d.meshes += "]";
    d.nodes += "]";
    d.scenes = R"([{"nodes":)" + roots + "]}]";
    auto scene = test::sceneOf(d.json());
    auto drawn = test::geometryNodes(*scene->rootNode).size();
    EXPECT_GT(drawn, 50u);
    EXPECT_LT(drawn, 200u);
}

// A file without scenes still shows its root nodes; a mesh shown twice is built once; a
// skinned mesh is drawn as stored (its node's placement does not move it); triangles without
// indices or normals are drawn in order, each shaded by its face (no normal source).
TEST(GLTFConversion, rootNodesWithoutScenesSharedSkinnedAndUnindexedMeshes) {
    Doc d;
    d.scenes = "[]";
    d.meshes = R"([{"primitives":[{"attributes":{"POSITION":0}}]}])";
    d.nodes = R"([{"mesh":0},{"mesh":0,"translation":[2,0,0]},)"
              R"({"mesh":0,"skin":0,"translation":[100,0,0]}])";
    d.extra = R"(,"skins":[{"joints":[0]}])";
    auto scene = test::sceneOf(d.json());
    auto nodes = test::geometryNodes(*scene->rootNode);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0]->geometry, nodes[1]->geometry);
    EXPECT_EQ(scene->rootNode->boundingBox().max.x, 3);
    EXPECT_EQ(test::elementIndices(*nodes[0]->geometry), (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(nodes[0]->geometry->source(GeometrySemantic::normal), nullptr);
}

}  // namespace
}  // namespace kelvo

// The shading model's reference: the numbers the GPU program is held to.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "extensions/Shared/SceneLoader.h"
#include "platform/SceneView/ShadingModel.h"

namespace kelvo {
namespace {

SurfacePoint facing(Vec3 normal) {
    SurfacePoint p;
    p.normal = normal;
    p.eye = normal * 10.0;
    return p;
}

SceneLighting oneLight(Vec3 travelling, float strength) {
    SceneLighting lighting;
    lighting.lights.push_back(
        {SceneLightKind::directional, normalize(travelling), {strength, strength, strength}});
    return lighting;
}

TEST(ShadingModel, intensityThousandLightsAWhiteDiffuseSurfaceFullWhite) {
    Material white;  // blinn: diffuse only
    auto c = shadeSurface(surfaceMaterial(&white), oneLight({0, 0, -1}, 1.0f), facing({0, 0, 1}));
    EXPECT_NEAR(c[0], 1.0f, 1e-5);
    EXPECT_NEAR(c[3], 1.0f, 1e-6);
    // 400 of 1000 gives 0.4 in linear light, encoded to sRGB.
    c = shadeSurface(surfaceMaterial(&white), oneLight({0, 0, -1}, 0.4f), facing({0, 0, 1}));
    EXPECT_NEAR(c[1], encodeSRGB(0.4f), 1e-5);
    // Grazing and back-lit surfaces get nothing from the light.
    c = shadeSurface(surfaceMaterial(&white), oneLight({0, 0, 1}, 1.0f), facing({0, 0, 1}));
    EXPECT_EQ(c[2], 0.0f);
}

TEST(ShadingModel, coloursAreDecodedFromSRGBAndEncodedBack) {
    EXPECT_NEAR(decodeSRGB(0.7f), 0.4479f, 1e-4);
    for (float v : {0.0f, 0.002f, 0.04f, 0.5f, 1.0f})
        EXPECT_NEAR(encodeSRGB(decodeSRGB(v)), v, 1e-5);
    Material grey;
    grey.lightingModelName = LightingModel::constant;
    grey.diffuse = Color{0.7, 0.2, 0.1, 0.5};
    SceneLighting none;
    auto c = shadeSurface(surfaceMaterial(&grey), none, facing({0, 1, 0}));
    EXPECT_NEAR(c[0], 0.7f, 1e-5);
    EXPECT_NEAR(c[1], 0.2f, 1e-5);
    EXPECT_NEAR(c[3], 0.5f, 1e-6);
}

TEST(ShadingModel, vertexColoursMultiplyTheBaseColour) {
    Material white;
    white.lightingModelName = LightingModel::constant;
    SurfacePoint p = facing({0, 1, 0});
    p.vertexColor = {1.0f, 0.5f, 0.0f, 1.0f};
    auto c = shadeSurface(surfaceMaterial(&white), {}, p);
    EXPECT_NEAR(c[0], 1.0f, 1e-5);
    EXPECT_NEAR(c[1], 0.5f, 1e-5);
    EXPECT_EQ(c[2], 0.0f);
}

TEST(ShadingModel, physicallyBasedDefaultMaterialUnderTheStagedRig) {
    std::shared_ptr<Material> model = makeDefaultModelMaterial();
    SurfaceMaterial m = surfaceMaterial(model.get());
    EXPECT_EQ(m.kind, ShadingKind::physicallyBased);
    EXPECT_NEAR(m.baseColor[0], decodeSRGB(0.7f), 1e-6);
    EXPECT_FLOAT_EQ(m.metalness, 0.1f);
    EXPECT_FLOAT_EQ(m.roughness, 0.6f);

    // Ambient alone: (diffuse colour + F0) times the ambient strength.
    SceneLighting ambient;
    ambient.ambient = {0.3f, 0.3f, 0.3f};
    float base = decodeSRGB(0.7f);
    float expected = 0.3f * (base * 0.9f + (0.04f * 0.9f + base * 0.1f));
    EXPECT_NEAR(shadeSurface(m, ambient, facing({0, 1, 0}))[0], encodeSRGB(expected), 1e-5);

    // Head-on under the key light the surface is brighter than the diffuse term alone: the
    // highlight adds to it.
    SceneLighting key = oneLight({0, 0, -1}, 1.0f);
    float lit = shadeSurface(m, key, facing({0, 0, 1}))[0];
    EXPECT_GT(lit, encodeSRGB(base * 0.9f));
    EXPECT_LE(lit, 1.0f);
}

TEST(ShadingModel, materialPropertiesFromNumbersColoursOrNothing) {
    Material m;
    m.lightingModelName = LightingModel::physicallyBased;
    m.metalness = Color{0.25, 0.9, 0.9, 1};  // a colour's red component
    m.roughness = 0.0;                       // clamped to a samplable highlight
    SurfaceMaterial s = surfaceMaterial(&m);
    EXPECT_FLOAT_EQ(s.metalness, 0.25f);
    EXPECT_FLOAT_EQ(s.roughness, 0.03f);
    m.metalness = MaterialContents{};
    m.roughness = std::numeric_limits<double>::quiet_NaN();
    s = surfaceMaterial(&m);
    EXPECT_FLOAT_EQ(s.metalness, 0.0f);
    EXPECT_FLOAT_EQ(s.roughness, 0.5f);
    // No material at all: the scene graph's default, white and diffuse.
    s = surfaceMaterial(nullptr);
    EXPECT_EQ(s.kind, ShadingKind::diffuse);
    EXPECT_EQ(s.baseColor[0], 1.0f);
    EXPECT_FALSE(s.doubleSided);
}

TEST(ShadingModel, collectsTheStagedRig) {
    SceneLoader loader;
    Scene scene;
    auto box = Node::withGeometry(std::make_shared<Geometry>());
    // A unit cube's corners are enough for the bounding box.
    ByteBuffer positions(24, 0);
    float corners[6] = {-0.5f, -0.5f, -0.5f, 0.5f, 0.5f, 0.5f};
    std::memcpy(positions.data(), corners, 24);
    box->geometry->sources.push_back(
        GeometrySource::floatTriples(std::move(positions), GeometrySemantic::vertex, 2));
    scene.rootNode->addChildNode(box);
    loader.setupCameraAndLighting(scene, {});

    SceneLighting lighting = collectLights(scene);
    ASSERT_EQ(lighting.lights.size(), 2u);
    // Key light at (d, 1.5d, d) with d = 1.8, shining at the centre; fill at (-d, 0.5d, 0.5d).
    Vec3 key = lighting.lights[0].vector, fill = lighting.lights[1].vector;
    Vec3 expectedKey = normalize(Vec3{-1.8, -2.7, -1.8});
    EXPECT_NEAR(key.x, expectedKey.x, 1e-9);
    EXPECT_NEAR(key.y, expectedKey.y, 1e-9);
    EXPECT_NEAR(fill.x, normalize(Vec3{1.8, -0.9, -0.9}).x, 1e-9);
    EXPECT_FLOAT_EQ(lighting.lights[0].color[0], 1.0f);
    EXPECT_FLOAT_EQ(lighting.lights[1].color[1], 0.4f);
    EXPECT_FLOAT_EQ(lighting.ambient[2], 0.3f);
}

TEST(ShadingModel, atMostEightLightsAndNoBrokenOnes) {
    Scene scene;
    for (int i = 0; i < 10; ++i) {
        auto node = Node::make();
        node->light = std::make_shared<Light>();
        node->light->type = i == 0 ? LightType::omni : LightType::directional;
        node->setPosition({static_cast<double>(i), 0, 0});
        scene.rootNode->addChildNode(node);
    }
    auto broken = Node::make();
    broken->light = std::make_shared<Light>();
    broken->light->intensity = std::numeric_limits<double>::infinity();
    scene.rootNode->childNodes()[0]->addChildNode(broken);
    SceneLighting lighting = collectLights(scene);
    ASSERT_EQ(lighting.lights.size(), static_cast<size_t>(maxLights));
    EXPECT_EQ(lighting.lights[0].kind, SceneLightKind::point);
    EXPECT_EQ(lighting.lights[0].vector, (Vec3{0, 0, 0}));
    EXPECT_TRUE(SceneLighting{}.empty());
}

}  // namespace
}  // namespace kelvo

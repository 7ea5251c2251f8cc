// The shading model's reference: the numbers the GPU program is held to.
#include <gtest/gtest.h>

#include <cmath>
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
        {SceneLightKind::directional, normalize(travelling), {}, {strength, strength, strength}});
    return lighting;
}

float toneMapped(float v) {
    return v <= 0.8f ? v : 0.8f + 0.2f * (1 - std::exp(-(v - 0.8f) / 0.2f));
}

TEST(ShadingModel, lightUnitsAndTheToneMapOnADiffuseSurface) {
    Material white;  // blinn: Lambert diffuse only
    SurfaceMaterial m = surfaceMaterial(&white);
    // 400 of 1000 stays below the tone map's knee: linear 0.4, encoded.
    auto c = shadeSurface(m, oneLight({0, 0, -1}, 0.4f), facing({0, 0, 1}));
    EXPECT_NEAR(c[0], linearToSrgb(0.4f), 1e-5);
    // 1000 head-on is linear 1, which the shoulder brings below white.
    c = shadeSurface(m, oneLight({0, 0, -1}, 1.0f), facing({0, 0, 1}));
    EXPECT_NEAR(c[1], linearToSrgb(toneMapped(1.0f)), 1e-5);
    EXPECT_LT(c[1], 0.98f);
    // Half a turn away from the light, and from behind, it gets nothing.
    c = shadeSurface(m, oneLight({0, 0, 1}, 1.0f), facing({0, 0, 1}));
    EXPECT_EQ(c[2], 0.0f);
    // Unlit surfaces are not tone-mapped; vertex colours (linear) multiply the base colour.
    Material flat;
    flat.lightingModelName = LightingModel::constant;
    flat.diffuse = Color{0.7, 0.2, 0.1, 0.5};
    SurfacePoint tinted = facing({0, 1, 0});
    tinted.vertexColor = {1.0f, 0.5f, 1.0f};
    c = shadeSurface(surfaceMaterial(&flat), {}, tinted);
    EXPECT_NEAR(c[0], 0.7f, 1e-5);
    EXPECT_NEAR(c[1], linearToSrgb(srgbToLinear(0.2f) * 0.5f), 1e-5);
}

TEST(ShadingModel, physicallyBasedDefaultMaterial) {
    SurfaceMaterial m = surfaceMaterial(makeDefaultModelMaterial().get());
    EXPECT_EQ(m.kind, ShadingKind::physicallyBased);
    EXPECT_NEAR(m.baseColor[0], 0.4479f, 1e-4);  // sRGB 0.7, linear
    EXPECT_FLOAT_EQ(m.metalness, 0.1f);
    EXPECT_FLOAT_EQ(m.roughness, 0.6f);
    // Ambient alone lights it more than its diffuse part would: the estimate of specular
    // reflection from the surrounding adds to it.
    SceneLighting ambient;
    ambient.ambient = {0.3f, 0.3f, 0.3f};
    float diffuseOnly = linearToSrgb(0.3f * m.baseColor[0] * 0.9f);
    float lit = shadeSurface(m, ambient, facing({0, 1, 0}))[0];
    EXPECT_GT(lit, diffuseOnly);
    EXPECT_LT(lit, diffuseOnly + 0.05f);
    // Seen at a grazing angle, Fresnel makes the highlight of a light behind the viewer's
    // shoulder weaker than head-on lighting would, never negative.
    SurfacePoint grazing = facing({0, 1, 0});
    grazing.eye = {10, 0.2, 0};
    float g = shadeSurface(m, oneLight({0, -1, 0}, 1.0f), grazing)[0];
    EXPECT_GT(g, 0.0f);
    EXPECT_LE(g, 1.0f);
}

TEST(ShadingModel, materialPropertiesFromNumbersColoursOrNothing) {
    Material m;
    m.lightingModelName = LightingModel::physicallyBased;
    m.metalness = Color{0.25, 0.9, 0.9, 1};  // a colour's red component
    m.roughness = 7.0;                       // clamped to 1
    m.diffuse = 0.5;                         // a grey level
    SurfaceMaterial s = surfaceMaterial(&m);
    EXPECT_FLOAT_EQ(s.metalness, 0.25f);
    EXPECT_FLOAT_EQ(s.roughness, 1.0f);
    EXPECT_NEAR(s.baseColor[2], srgbToLinear(0.5f), 1e-6);
    m.metalness = MaterialContents{};
    m.roughness = std::numeric_limits<double>::quiet_NaN();
    m.diffuse = Color{NAN, 0, 0, 1};
    s = surfaceMaterial(&m);
    EXPECT_FLOAT_EQ(s.metalness, 0.0f);
    EXPECT_FLOAT_EQ(s.roughness, 0.5f);
    EXPECT_EQ(s.baseColor[0], 0.0f);  // a broken channel reads as 0, as on the CPU
    // No material at all: white and Lambertian.
    s = surfaceMaterial(nullptr);
    EXPECT_EQ(s.kind, ShadingKind::lambert);
    EXPECT_EQ(s.baseColor[0], 1.0f);
    EXPECT_FALSE(s.doubleSided);
}

TEST(ShadingModel, spotsLightOnlyWithinTheirCone) {
    Scene scene;
    auto spot = Node::make();
    spot->light = std::make_shared<Light>();
    spot->light->type = LightType::spot;
    spot->light->color = Color{0.5, 0.5, 0.5, 1};  // sRGB: linear 0.214
    spot->setPosition({0, 10, 0});
    spot->lookAt({0, 0, 0});
    scene.rootNode->addChildNode(spot);
    SceneLighting lighting = collectLights(scene);
    ASSERT_EQ(lighting.lights.size(), 1u);
    EXPECT_EQ(lighting.lights[0].kind, SceneLightKind::spot);
    EXPECT_NEAR(lighting.lights[0].radiance[0], srgbToLinear(0.5f), 1e-6);
    EXPECT_NEAR(lighting.lights[0].spotDirection.y, -1, 1e-12);
    Material white;
    SurfacePoint below = facing({0, 1, 0});
    EXPECT_NEAR(shadeSurface(surfaceMaterial(&white), lighting, below)[0],
                linearToSrgb(srgbToLinear(0.5f)), 1e-5);
    SurfacePoint aside = below;
    aside.position = {10, 0, 0};  // 45 degrees off the axis
    EXPECT_EQ(shadeSurface(surfaceMaterial(&white), lighting, aside)[0], 0.0f);
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
    EXPECT_FLOAT_EQ(lighting.lights[0].radiance[0], 1.0f);
    EXPECT_FLOAT_EQ(lighting.lights[1].radiance[1], 0.4f);
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

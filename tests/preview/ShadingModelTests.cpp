// The shading model's reference: the numbers the GPU program is held to.
#include <gtest/gtest.h>

#include <cmath>
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

TEST(ShadingModel, lightUnitsAndTheToneMapOnADiffuseSurface) {
    Material white;  // blinn: Lambert diffuse only
    SurfaceMaterial m = surfaceMaterial(&white);
    // 400 of 1000 stays below the tone map's knee: linear 0.4, encoded.
    EXPECT_NEAR(shadeSurface(m, oneLight({0, 0, -1}, 0.4f), facing({0, 0, 1}))[0],
                linearToSrgb(0.4f), 1e-5);
    // 1000 head-on is linear 1, which the tone map's shoulder brings below white.
    float full = shadeSurface(m, oneLight({0, 0, -1}, 1.0f), facing({0, 0, 1}))[1];
    EXPECT_GT(full, linearToSrgb(0.8f));
    EXPECT_LT(full, 0.98f);
    // From behind, it gets nothing.
    EXPECT_EQ(shadeSurface(m, oneLight({0, 0, 1}, 1.0f), facing({0, 0, 1}))[2], 0.0f);
    // Unlit surfaces are not tone-mapped; vertex colours (linear) multiply the base colour.
    Material flat;
    flat.lightingModelName = LightingModel::constant;
    flat.diffuse = Color{0.7, 0.2, 0.1, 0.5};
    SurfacePoint tinted = facing({0, 1, 0});
    tinted.vertexColor = {1.0f, 0.5f, 1.0f};
    auto c = shadeSurface(surfaceMaterial(&flat), {}, tinted);
    EXPECT_NEAR(c[0], 0.7f, 1e-5);
    EXPECT_NEAR(c[1], linearToSrgb(srgbToLinear(0.2f) * 0.5f), 1e-5);
}

TEST(ShadingModel, physicallyBasedSurfacesGainFromAmbientAndStayInRangeAtGrazingAngles) {
    SurfaceMaterial m = surfaceMaterial(makeDefaultModelMaterial().get());
    ASSERT_EQ(m.kind, ShadingKind::physicallyBased);
    // Ambient alone lights it a little more than its diffuse part would: the estimate of
    // specular reflection from the surrounding adds to it.
    SceneLighting ambient;
    ambient.ambient = {0.3f, 0.3f, 0.3f};
    float diffuseOnly = linearToSrgb(0.3f * m.baseColor[0] * (1 - m.metalness));
    float lit = shadeSurface(m, ambient, facing({0, 1, 0}))[0];
    EXPECT_GT(lit, diffuseOnly);
    EXPECT_LT(lit, diffuseOnly + 0.05f);
    SurfacePoint grazing = facing({0, 1, 0});
    grazing.eye = {10, 0.2, 0};
    float g = shadeSurface(m, oneLight({0, -1, 0}, 1.0f), grazing)[0];
    EXPECT_GT(g, 0.0f);
    EXPECT_LE(g, 1.0f);
}

TEST(ShadingModel, materialPropertiesFromNumbersColoursOrNothingAndNeverBroken) {
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
}

std::shared_ptr<Node> lightNode(LightType type, Vec3 position) {
    auto node = Node::make();
    node->light = std::make_shared<Light>();
    node->light->type = type;
    node->setPosition(position);
    return node;
}

TEST(ShadingModel, spotsLightOnlyWithinTheirCone) {
    Scene scene;
    auto spot = lightNode(LightType::spot, {0, 10, 0});
    spot->light->color = Color{0.5, 0.5, 0.5, 1};  // sRGB: linear 0.214
    spot->lookAt({0, 0, 0});
    scene.rootNode->addChildNode(spot);
    SceneLighting lighting = collectLights(scene);
    Material white;
    SurfacePoint below = facing({0, 1, 0});
    EXPECT_NEAR(shadeSurface(surfaceMaterial(&white), lighting, below)[0],
                linearToSrgb(srgbToLinear(0.5f)), 1e-5);
    below.position = {10, 0, 0};  // 45 degrees off the axis
    EXPECT_EQ(shadeSurface(surfaceMaterial(&white), lighting, below)[0], 0.0f);
}

TEST(ShadingModel, atMostEightLightsAndNoBrokenOnes) {
    Scene scene;
    for (int i = 0; i < 10; ++i) {
        scene.rootNode->addChildNode(lightNode(i == 0 ? LightType::omni : LightType::directional,
                                               {static_cast<double>(i), 0, 0}));
    }
    auto broken = lightNode(LightType::directional, {});
    broken->light->intensity = std::numeric_limits<double>::infinity();
    scene.rootNode->childNodes()[0]->addChildNode(broken);
    SceneLighting lighting = collectLights(scene);
    ASSERT_EQ(lighting.lights.size(), static_cast<size_t>(maxLights));
    EXPECT_EQ(lighting.lights[0].kind, SceneLightKind::point);
    EXPECT_EQ(lighting.lights[0].vector, (Vec3{0, 0, 0}));
}

}  // namespace
}  // namespace kelvo

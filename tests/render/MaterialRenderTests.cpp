// The renderer's materials beyond plain colour: textures (orientation, perspective, wrap
// modes, transform, mip levels, colour spaces), emission, alpha masks and blending; and
// points and orthographic cameras.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/Imaging/ImageDecoding.h"
#include "platform/Renderer/Frame.h"
#include "platform/Renderer/Renderer.h"
#include "platform/Renderer/Shading.h"
#include "tests/render/RenderFixtures.h"
#include "tests/support/TestImages.h"

namespace kelvo {
namespace {

using Pixel = std::array<std::uint8_t, 4>;
using test::addCamera;
using test::bufferOf;
using test::makeImage;

constexpr int side = 64;

std::shared_ptr<const Texture> textureOf(const RGBAImage& image) {
    auto texture = std::make_shared<Texture>();
    texture->levels = makeMipChain(image);
    return texture;
}

// Two texels side by side: black | white, or any two colours.
RGBAImage twoTexels(Pixel left = {0, 0, 0, 255}, Pixel right = {255, 255, 255, 255}) {
    return makeImage(2, 1, [&](int x, int) { return x ? right : left; });
}

std::shared_ptr<Material> unlit(Color diffuse = Color::white(1, 1)) {
    auto m = std::make_shared<Material>();
    m->lightingModelName = LightingModel::constant;
    m->diffuse = diffuse;
    return m;
}

// The square [-1, 1]^2 at height z, facing +Z, with UV (0, 0) at its top-left corner and
// (uvScale, uvScale) at its bottom-right, shifted by uvStart.
std::shared_ptr<Geometry> square(std::shared_ptr<Material> material, double z = 0,
                                 float uvStart = 0, float uvScale = 1) {
    const float zf = float(z);
    auto g = test::makeMesh({-1, 1, zf, 1, 1, zf, 1, -1, zf, -1, -1, zf}, {0, 3, 2, 0, 2, 1});
    const float a = uvStart, b = uvStart + uvScale;
    g->sources.push_back(GeometrySource::floats(bufferOf<float>({a, a, b, a, b, b, a, b}),
                                                GeometrySemantic::texcoord, 4, 2));
    g->materials = {std::move(material)};
    return g;
}

// A 90-degree camera one unit in front of the square: the square fills the image exactly,
// and pixel (x, y) sees UV ((x + 0.5) / side, (y + 0.5) / side).
RGBAImage headOn(Scene& scene, int size = side) {
    auto camera = addCamera(scene, {0, 0, 1}, {0, 0, 0}, 90);
    return *renderSnapshot(scene, *camera, size, size);
}

RGBAImage render(std::shared_ptr<Geometry> geometry, int size = side) {
    Scene scene;
    test::addGeometry(scene, std::move(geometry));
    return headOn(scene, size);
}

Pixel at(const RGBAImage& image, int x, int y) {
    const std::uint8_t* p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

std::uint8_t encoded(float linear) {
    return static_cast<std::uint8_t>(std::lrint(shading::linearToSrgb(linear) * 255));
}

TEST(TexturedRender, textureIsUprightAndNearestMagnificationKeepsTexelsSharp) {
    RGBAImage quadrants = makeImage(2, 2, [](int x, int y) {
        const Pixel colors[4] = {
            {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {200, 100, 50, 255}};
        return colors[y * 2 + x];
    });
    auto material = unlit();
    material->diffuseTexture.texture = textureOf(quadrants);
    material->diffuseTexture.nearestMagnification = true;
    RGBAImage image = render(square(material));
    EXPECT_EQ(at(image, 10, 10), (Pixel{255, 0, 0, 255}));  // top-left texel top-left
    EXPECT_EQ(at(image, 53, 10), (Pixel{0, 255, 0, 255}));
    EXPECT_EQ(at(image, 10, 53), (Pixel{0, 0, 255, 255}));
    EXPECT_EQ(at(image, 53, 53), (Pixel{200, 100, 50, 255}));
    EXPECT_EQ(at(image, 31, 10), (Pixel{255, 0, 0, 255}));  // sharp up to the middle
    EXPECT_EQ(at(image, 32, 10), (Pixel{0, 255, 0, 255}));
}

// Across the square, UV runs from -1 to 2 over the black | white texture: each third shows
// the texture once more, as the wrap mode has it.
TEST(TexturedRender, wrapModesAndTheTextureTransform) {
    struct Case {
        const char* name;
        TextureWrap wrap;
        double offset;
        const char* expected;  // per sixth of the square: B black, W white
    } cases[] = {
        {"repeat", TextureWrap::repeat, 0, "BWBWBW"},
        {"mirrored", TextureWrap::mirroredRepeat, 0, "WBBWWB"},
        {"clamped", TextureWrap::clampToEdge, 0, "BBBWWW"},
        {"offset by half", TextureWrap::repeat, 0.5, "WBWBWB"},
    };
    for (const Case& c : cases) {
        auto material = unlit();
        material->diffuseTexture.texture = textureOf(twoTexels());
        material->diffuseTexture.nearestMagnification = true;
        material->diffuseTexture.wrapS = c.wrap;
        material->diffuseTexture.offset[0] = c.offset;
        RGBAImage image = render(square(material, 0, -1, 3), 96);
        std::string seen;
        for (int sixth = 0; sixth < 6; ++sixth)
            seen += image.pixel(sixth * 16 + 8, 48)[0] > 128 ? 'W' : 'B';
        EXPECT_EQ(seen, c.expected) << c.name;
    }
    // A quarter turn: u' = v, so the left-right texture runs downwards, its left at the top.
    auto material = unlit();
    material->diffuseTexture.texture = textureOf(twoTexels());
    material->diffuseTexture.nearestMagnification = true;
    material->diffuseTexture.rotation = M_PI / 2;
    RGBAImage turned = render(square(material));
    EXPECT_EQ(turned.pixel(10, 10)[0], turned.pixel(53, 10)[0]);
    EXPECT_EQ(turned.pixel(10, 10)[0], 0);  // u' = v: black at the top
    EXPECT_EQ(turned.pixel(10, 53)[0], 255);
}

// A floor receding from the camera, black on its near half and white on its far half (by
// UV): the boundary lies where the middle of the floor is seen, well above the middle of
// its image.
TEST(TexturedRender, coordinatesArePerspectiveCorrect) {
    auto material = unlit();
    material->diffuseTexture.texture = textureOf(makeImage(1, 2, [](int, int y) {
        return y ? Pixel{0, 0, 0, 255} : Pixel{255, 255, 255, 255};
    }));
    material->diffuseTexture.nearestMagnification = true;
    material->diffuseTexture.wrapT = TextureWrap::clampToEdge;
    auto floor = square(material);
    auto node = Node::withGeometry(floor);
    Mat4 t = Mat4::identity();
    t.m[1][1] = 0, t.m[1][2] = -5, t.m[2][2] = 0, t.m[2][1] = 1;  // y -> -5z: 10 deep
    t.m[3][2] = -6;                                               // from z = -1 to -11
    node->setTransform(t);
    Scene scene;
    scene.rootNode->addChildNode(node);
    auto camera = addCamera(scene, {0, 1, 0}, {0, 1, -1}, 90);
    RGBAImage image = *renderSnapshot(scene, *camera, side, side);
    // The floor's middle (z = -6, one unit below the eye) is seen at 1/6 below the centre:
    // row 32 + 32/6.
    int boundary = -1;
    for (int y = side - 1; y > side / 2 && boundary < 0; --y)
        if (image.pixel(side / 2, y)[3] == 255 && image.pixel(side / 2, y)[0] > 128) boundary = y;
    EXPECT_NEAR(boundary, 32 + 32 / 6, 1);
}

TEST(TexturedRender, minifiedTexturesAreFilteredFromTheirMipLevels) {
    RGBAImage checker = makeImage(512, 512, [](int x, int y) {
        std::uint8_t v = (x + y) % 2 ? 255 : 0;
        return Pixel{v, v, v, 255};
    });
    auto material = unlit();
    material->diffuseTexture.texture = textureOf(checker);
    RGBAImage image = render(square(material));  // 8 texels a pixel
    for (int y = 4; y < side - 4; y += 7) {
        for (int x = 4; x < side - 4; x += 5)
            EXPECT_NEAR(image.pixel(x, y)[0], 128, 3) << x << "," << y;
    }
}

// Base colour = texture x vertex colour x diffuse colour, in linear light; metalness and
// roughness from the blue and green of a linear texture; emission added.
TEST(TexturedRender, factorsTexturesAndVertexColoursMultiply) {
    auto material = unlit(Color{1, 0.5, 1, 1});
    material->diffuseTexture.texture =
        textureOf(twoTexels({128, 255, 255, 255}, {128, 255, 255, 255}));
    auto geometry = square(material);
    geometry->sources.push_back(GeometrySource::floats(
        bufferOf<float>({1, 1, 0.5f, 1, 1, 1, 0.5f, 1, 1, 1, 0.5f, 1, 1, 1, 0.5f, 1}),
        GeometrySemantic::color, 4, 4));
    Pixel p = at(render(geometry), 32, 32);
    const float half = shading::srgbToLinear(0.5f), texel = shading::srgbToLinear(128 / 255.0f);
    EXPECT_NEAR(p[0], encoded(texel), 1);
    EXPECT_NEAR(p[1], encoded(half), 1);
    EXPECT_NEAR(p[2], encoded(half), 1);

    // Metalness 1 and roughness 1 as factors, the texture's blue 0 and green 128: the same
    // as an untextured dielectric of roughness 0.5 (linear data: 128 is 0.5, not 0.22).
    auto pbr = [](double metalness, double roughness) {
        auto m = std::make_shared<Material>();
        m->lightingModelName = LightingModel::physicallyBased;
        m->diffuse = Color{0.8, 0.3, 0.2, 1};
        m->metalness = metalness;
        m->roughness = roughness;
        return m;
    };
    auto lit = [](std::shared_ptr<Material> m) {
        Scene scene;
        test::addGeometry(scene, square(m));
        test::addLight(scene, LightType::directional, {1, 2, 3});
        return at(headOn(scene), 32, 32);
    };
    auto textured = pbr(1, 1);
    textured->metalnessRoughnessTexture.texture =
        textureOf(twoTexels({0, 128, 0, 255}, {0, 128, 0, 255}));
    Pixel expected = lit(pbr(0, 128 / 255.0)), got = lit(textured);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(got[k], expected[k], 1) << k;

    // Emission: colour x intensity x texture, on a black Lambertian surface.
    auto glowing = std::make_shared<Material>();
    glowing->diffuse = Color::white(0, 1);
    glowing->emission = Color{1, 0, 0, 1};
    glowing->emissionIntensity = 2;
    glowing->emissionTexture.texture = textureOf(twoTexels({128, 0, 0, 255}, {128, 0, 0, 255}));
    Pixel glow = at(render(square(glowing)), 32, 32);
    EXPECT_NEAR(glow[0], encoded(shading::toneMap(2 * texel)), 1);
    EXPECT_EQ(glow[1], 0);
}

// A red square in front of a blue one; the red one's alpha decides.
RGBAImage overBlue(std::shared_ptr<Material> front, bool frontFirst = true) {
    auto blue = unlit(Color{0, 0, 1, 1});
    Scene scene;
    auto near = Node::withGeometry(square(front, 0));
    auto far = Node::withGeometry(square(blue, -0.5));
    scene.rootNode->addChildNode(frontFirst ? near : far);
    scene.rootNode->addChildNode(frontFirst ? far : near);
    auto camera = addCamera(scene, {0, 0, 1}, {0, 0, 0}, 90);
    return *renderSnapshot(scene, *camera, side, side);
}

TEST(TexturedRender, maskedSurfacesAreCutOutWhereAlphaFallsBelowTheCutoff) {
    auto material = unlit(Color{1, 0, 0, 1});
    material->alphaMode = AlphaMode::mask;
    material->alphaCutoff = 0.5;
    material->diffuseTexture.texture =
        textureOf(twoTexels({255, 255, 255, 100}, {255, 255, 255, 160}));
    material->diffuseTexture.nearestMagnification = true;
    RGBAImage image = overBlue(material);
    EXPECT_EQ(at(image, 16, 32), (Pixel{0, 0, 255, 255}));  // the blue one shows through
    EXPECT_EQ(at(image, 48, 32), (Pixel{255, 0, 0, 255}));
    material->alphaCutoff = 0.3;
    EXPECT_EQ(at(overBlue(material), 16, 32), (Pixel{255, 0, 0, 255}));
}

TEST(TexturedRender, blendedSurfacesAreCompositedFarthestFirstOverWhatIsBehind) {
    auto red = unlit(Color{1, 0, 0, 0.5});
    red->alphaMode = AlphaMode::blend;
    const Pixel mixed{encoded(0.5f), 0, encoded(0.5f), 255};
    for (bool frontFirst : {true, false}) {
        Pixel p = at(overBlue(red, frontFirst), 32, 32);
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(p[k], mixed[k], 1) << k << frontFirst;
    }
    // Over nothing: half covered, red.
    Pixel alone = at(render(square(red)), 32, 32);
    EXPECT_EQ(alone, (Pixel{255, 0, 0, 128}));
    // Behind an opaque surface: hidden. Two blended layers: the nearer on top.
    auto green = unlit(Color{0, 1, 0, 0.5});
    green->alphaMode = AlphaMode::blend;
    for (bool nearFirst : {true, false}) {
        Scene scene;
        auto nearNode = Node::withGeometry(square(red, 0)),
             farNode = Node::withGeometry(square(green, -0.5));
        scene.rootNode->addChildNode(nearFirst ? nearNode : farNode);
        scene.rootNode->addChildNode(nearFirst ? farNode : nearNode);
        scene.rootNode->addChildNode(Node::withGeometry(square(unlit(Color{0, 0, 1, 1}), -1)));
        Pixel p = at(headOn(scene), 32, 32);
        // red 0.5 over (green 0.5 over blue)
        EXPECT_NEAR(p[0], encoded(0.5f), 1);
        EXPECT_NEAR(p[1], encoded(0.25f), 1);
        EXPECT_NEAR(p[2], encoded(0.25f), 1);
    }
    Scene hidden;
    test::addGeometry(hidden, square(unlit(Color{0, 0, 1, 1}), 0));
    test::addGeometry(hidden, square(red, -0.5));
    EXPECT_EQ(at(headOn(hidden), 32, 32), (Pixel{0, 0, 255, 255}));
}

TEST(TexturedRender, bandsDrawMaskedAndBlendedSurfacesAsTheWholeImageDoes) {
    auto masked = unlit(Color{1, 0, 0, 1});
    masked->alphaMode = AlphaMode::mask;
    masked->diffuseTexture.texture = textureOf(twoTexels({255, 255, 255, 0}, {255, 255, 255, 255}));
    auto blended = unlit(Color{0, 1, 0, 0.4});
    blended->alphaMode = AlphaMode::blend;
    Scene scene;
    auto tilted = Node::withGeometry(square(masked, 0));
    tilted->setEulerAngles({0.4, 0.3, 0.2});
    scene.rootNode->addChildNode(tilted);
    auto glass = Node::withGeometry(square(blended, 0.2));
    glass->setEulerAngles({-0.3, 0.1, 0});
    scene.rootNode->addChildNode(glass);
    auto camera = addCamera(scene, {0, 0, 3}, {0, 0, 0}, 60);
    auto whole = renderSnapshot(scene, *camera, 50, 40);
    ASSERT_TRUE(whole);
    EXPECT_GT(test::coveredPixels(*whole), 500u);
    for (size_t budget : {size_t{1}, size_t{50 * 4 * 24 * 3}}) {  // a row at a time, and several
        auto banded = render::renderInBands(scene, *camera, 50, 40, budget);
        ASSERT_TRUE(banded);
        EXPECT_EQ(whole->pixels, banded->pixels) << budget;
    }
}

// Points: discs about two pixels across at 256 pixels, more at larger sizes, in their own
// colours without normals and lit by them with.
TEST(PointRender, pointsAreSmallDiscsFlatColouredOrLitByTheirNormals) {
    auto cloud = [](std::vector<float> normals) {
        auto g = std::make_shared<Geometry>();
        // Seen at the centres of pixels (96, 128) and (160, 128) at 256 pixels.
        g->sources.push_back(GeometrySource::floatTriples(
            bufferOf<float>({-0.4921875f, -0.0078125f, 0, 0.5078125f, -0.0078125f, 0}),
            GeometrySemantic::vertex, 2));
        g->sources.push_back(GeometrySource::floatTriples(bufferOf<float>({1, 0, 0, 0, 1, 0}),
                                                          GeometrySemantic::color, 2));
        if (!normals.empty())
            g->sources.push_back(
                GeometrySource::floatTriples(bufferOf(normals), GeometrySemantic::normal, 2));
        g->elements.push_back(GeometryElement::points(bufferOf<std::uint32_t>({0, 1}), 2));
        g->materials = {makeDefaultModelMaterial()};
        return g;
    };
    Scene scene;
    test::addGeometry(scene, cloud({}));
    auto camera = addCamera(scene, {0, 0, 2}, {0, 0, 0}, 90);
    RGBAImage small = *renderSnapshot(scene, *camera, 256, 256);
    // The default grey times the vertex colour, unlit.
    const int grey = encoded(shading::srgbToLinear(0.7f));
    const Pixel red = at(small, 96, 128), green = at(small, 160, 128);
    EXPECT_NEAR(red[0], grey, 1);
    EXPECT_NEAR(green[1], grey, 1);
    EXPECT_EQ(red[1] + red[2] + green[0] + green[2], 0);
    EXPECT_EQ(red[3] & green[3], 255);
    const size_t pixels256 = test::coveredPixels(small);
    EXPECT_GE(pixels256, 2 * 3u);
    EXPECT_LE(pixels256, 2 * 9u);
    const size_t pixels1024 = test::coveredPixels(*renderSnapshot(scene, *camera, 1024, 1024));
    EXPECT_GT(pixels1024, 4 * pixels256);

    Scene lit;
    test::addGeometry(lit, cloud({0, 0, 1, 0, 0, -1}));  // one faces the light, one away
    test::addLight(lit, LightType::directional, {0, 0, 1});
    camera = addCamera(lit, {0, 0, 2}, {0, 0, 0}, 90);
    RGBAImage image = *renderSnapshot(lit, *camera, 256, 256);
    EXPECT_GT(at(image, 96, 128)[0], 100);  // lit by its normal
    // Turned away, but seen from the front: lit as its seen side, like a two-sided surface.
    EXPECT_GT(at(image, 160, 128)[1], 100);
}

TEST(OrthographicRender, sizeOnScreenDoesNotDependOnDistance) {
    auto covered = [](bool orthographic, double distance) {
        Scene scene;
        test::addGeometry(scene, square(unlit()));
        auto camera = addCamera(scene, {0, 0, distance}, {0, 0, 0}, 60);
        camera->camera->usesOrthographicProjection = orthographic;
        camera->camera->orthographicScale = 2;  // the image is 4 units high
        return test::coveredPixels(*renderSnapshot(scene, *camera, 100, 100));
    };
    EXPECT_EQ(covered(true, 3), 50u * 50u);  // 2 of 4 units each way
    EXPECT_EQ(covered(true, 30), 50u * 50u);
    EXPECT_GT(covered(false, 3), 4 * covered(false, 30));
}

}  // namespace
}  // namespace kelvo

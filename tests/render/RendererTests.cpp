// The renderer as a whole, alone and with staging and the mark: what is covered, culled and
// lit, and that bad geometry, bad cameras and bad sizes give an image (or nothing) and never
// a crash.
#include <gtest/gtest.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "platform/Renderer/Frame.h"
#include "platform/Renderer/Renderer.h"
#include "platform/Renderer/SRGBEncoding.h"
#include "platform/Renderer/ShaderInline.h"
#include "tests/render/RenderFixtures.h"

namespace kelvo {
namespace {

using test::addCamera;
using test::addGeometry;
using test::makeCube;
using test::makeMesh;

double brightness(const RGBAImage& image, int x, int y) {
    const std::uint8_t* p = image.pixel(x, y);
    return (p[0] + p[1] + p[2]) / 3.0;
}

// A staged unit cube and its staged camera, as thumbnails are made.
struct StagedCube {
    Scene scene;
    std::shared_ptr<Node> camera;
    explicit StagedCube(bool withNormals = true) {
        addGeometry(scene, makeCube({}, 1, withNormals));
        camera = SceneLoader().setupCameraAndLighting(scene, {128, 128});
    }
};

TEST(Renderer, keyLitSideIsBrighterThanTheFillSideWithOrWithoutNormals) {
    for (bool withNormals : {true, false}) {
        SCOPED_TRACE(withNormals);
        StagedCube cube(withNormals);
        // Cameras of our own looking at single faces from afar, under the staged lights.
        auto look = [&](Vec3 eye) {
            auto camera = addCamera(cube.scene, eye, {0, 0, 0}, 20);
            return brightness(*renderSnapshot(cube.scene, *camera, 32, 32), 16, 16);
        };
        double keySide = look({6, 0, 0}), fillSide = look({-6, 0, 0}),
               ambientOnly = look({0, -6, 0.001});
        EXPECT_LT(keySide, 235);  // a grey model reads as mid to light grey, in sRGB
        EXPECT_GT(fillSide, 100);
        EXPECT_GT(keySide, fillSide + 10);
        EXPECT_GT(fillSide, ambientOnly + 10);
        EXPECT_GT(ambientOnly, 20);  // the ambient light still shows the underside
    }
}

TEST(Renderer, backFacesAreCulledUnlessDoubleSidedAndMirroringKeepsTheOutsideOut) {
    auto covered = [](bool doubleSided, double mirror, double eyeZ) {
        Scene scene;
        // A triangle in the plane z = 0, counter-clockwise seen from +Z.
        auto geometry = makeMesh({-1, -1, 0, 1, -1, 0, 0, 1, 0}, {0, 1, 2});
        geometry->materials[0]->isDoubleSided = doubleSided;
        Mat4 m = Mat4::identity();
        m.m[0][0] = mirror;
        addGeometry(scene, geometry)->setTransform(m);
        auto camera = addCamera(scene, {0, 0, eyeZ}, {0, 0, 0});
        return test::coveredPixels(*renderSnapshot(scene, *camera, 32, 32)) > 50;
    };
    EXPECT_TRUE(covered(false, 1, 5));
    EXPECT_FALSE(covered(false, 1, -5));
    EXPECT_TRUE(covered(true, 1, -5));
    // Mirrored in x, the triangle is clockwise on screen but its front still faces +Z.
    EXPECT_TRUE(covered(false, -1, 5));
    EXPECT_FALSE(covered(false, -1, -5));
}

TEST(Renderer, nearerSurfaceHidesFartherWhateverTheOrderInVertexColours) {
    // Unlit white quads coloured by their vertices: blue at z = 0, red tilted from z = -1 on
    // the left to z = 1 on the right.
    auto quad = [](float zLeft, float zRight, float r, float b) {
        auto g = makeMesh({-1, -1, zLeft, 1, -1, zRight, 1, 1, zRight, -1, 1, zLeft},
                          {0, 1, 2, 0, 2, 3}, {}, {r, 0, b, r, 0, b, r, 0, b, r, 0, b});
        g->materials[0]->lightingModelName = LightingModel::constant;
        g->materials[0]->diffuse = Color::white(1, 1);
        return g;
    };
    for (bool redFirst : {true, false}) {
        SCOPED_TRACE(redFirst);
        Scene scene;
        if (redFirst) addGeometry(scene, quad(-1, 1, 1, 0));
        addGeometry(scene, quad(0, 0, 0, 1));
        if (!redFirst) addGeometry(scene, quad(-1, 1, 1, 0));
        auto image = renderSnapshot(scene, *addCamera(scene, {0, 0, 4}, {0, 0, 0}), 32, 32);
        EXPECT_EQ(image->pixel(11, 16)[2], 255);
        EXPECT_EQ(image->pixel(11, 16)[0], 0);
        EXPECT_EQ(image->pixel(21, 16)[0], 255);
        EXPECT_EQ(image->pixel(21, 16)[2], 0);
    }
}

// A floor from 100 units behind the camera to 100 in front, seen level, takes the clipped
// path of triangles reaching behind the camera: it fills the lower half of the image up to
// the horizon and nothing above when its front faces up (also under a mirroring parent) or it
// is double-sided; one-sided and facing down, it draws nothing.
TEST(Renderer, floorReachingBehindTheCameraIsClippedAtTheNearPlaneAndCulledByItsFacing) {
    auto image = [](bool frontUp, bool doubleSided, double mirror) {
        // Counter-clockwise seen from above (+Y) as listed, clockwise when reversed.
        const std::vector<std::uint32_t> up = {0, 1, 2, 0, 2, 3}, down = {0, 2, 1, 0, 3, 2};
        auto floor = makeMesh({-100, -1, 100, 100, -1, 100, 100, -1, -100, -100, -1, -100},
                              frontUp ? up : down);
        floor->materials[0]->isDoubleSided = doubleSided;
        auto parent = Node::make();
        Mat4 m = Mat4::identity();
        m.m[0][0] = mirror;
        parent->setTransform(m);
        parent->addChildNode(Node::withGeometry(floor));
        Scene scene;
        scene.rootNode->addChildNode(parent);
        return *renderSnapshot(scene, *addCamera(scene, {0, 0, 0}, {0, 0, -1}, 90), 64, 64);
    };
    for (auto [frontUp, doubleSided, mirror] :
         {std::tuple{true, false, 1.0}, {true, false, -1.0}, {false, true, 1.0}}) {
        SCOPED_TRACE(testing::Message() << frontUp << doubleSided << mirror);
        const RGBAImage drawn = image(frontUp, doubleSided, mirror);
        for (int x = 0; x < 64; x += 7) {
            EXPECT_EQ(drawn.pixel(x, 20)[3], 0) << x;
            EXPECT_EQ(drawn.pixel(x, 40)[3], 255) << x;
            EXPECT_EQ(drawn.pixel(x, 63)[3], 255) << x;
        }
    }
    for (double mirror : {1.0, -1.0})
        EXPECT_EQ(test::coveredPixels(image(false, false, mirror)), 0u) << mirror;
}

// Dark values take the linear segment of the sRGB curve below linear 0.0031308 and the power
// segment above it: linear 0.001, 0.003, 0.01 and 0.02 are the 8-bit codes 3, 10, 25 and 39.
TEST(Renderer, darkLinearValuesAreEncodedByTheSRGBCurve) {
    for (auto [intensity, code] : {std::pair{1.0, 3}, {3.0, 10}, {10.0, 25}, {20.0, 39}}) {
        Scene scene;
        auto g = makeCube();
        g->materials[0]->lightingModelName = LightingModel::lambert;
        g->materials[0]->diffuse = Color::white(1, 1);
        addGeometry(scene, g);
        // A white Lambertian surface under ambient light alone reflects intensity / 1000.
        test::addLight(scene, LightType::ambient, {0, 0, 1}, intensity);
        auto image = renderSnapshot(scene, *addCamera(scene, {0, 0, 4}, {0, 0, 0}), 16, 16);
        const std::uint8_t* p = image->pixel(8, 8);
        EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{code, code, code, 255}))
            << intensity;
    }
}

TEST(Renderer, badTrianglesAndShortIndexBuffersAreSkippedAndTheRestDrawn) {
    const float nan = std::numeric_limits<float>::quiet_NaN(),
                inf = std::numeric_limits<float>::infinity();
    // Triangle 0 is good, 1 has an index past the end, 2 a NaN corner, 3 an infinite one,
    // 4 no area, 5 huge but finite coordinates.
    std::vector<float> p = {-1, -1,  0, 1, -1,    0,     0, 1,      0,     nan, 0,
                            0,  inf, 0, 0, 3e38f, 3e38f, 0, -3e38f, 3e38f, 0};
    auto g = makeMesh(p, {0, 1, 2, 0, 1, 99, 0, 1, 3, 0, 1, 4, 0, 0, 1, 0, 5, 6});
    Scene scene;
    addGeometry(scene, g);
    auto camera = addCamera(scene, {0, 0, 4}, {0, 0, 0});
    auto image = renderSnapshot(scene, *camera, 32, 32);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixel(16, 17)[3], 255);
    EXPECT_EQ(image->pixel(1, 1)[3], 0);  // the huge triangle is not smeared across the image

    // Indices of 8 and 16 bits in a buffer far shorter than the declared count.
    for (std::int64_t bytesPerIndex : {1, 2}) {
        std::vector<std::uint8_t> raw(6 * static_cast<size_t>(bytesPerIndex), 0);
        for (int i = 0; i < 3; ++i)
            raw[i * bytesPerIndex] = static_cast<std::uint8_t>(i);
        g->elements[0] = GeometryElement::triangles(test::bufferOf(raw), 1000);
        g->elements[0].bytesPerIndex = bytesPerIndex;
        EXPECT_EQ(renderSnapshot(scene, *camera, 32, 32)->pixel(16, 17)[3], 255) << bytesPerIndex;
    }
}

TEST(Renderer, automaticDepthRangeDrawsModelsFarAndNearOfTheOrigin) {
    for (double scale : {1e-4, 1.0, 1e6}) {
        Scene scene;
        addGeometry(scene, makeCube({3 * scale, -2 * scale, 5 * scale}, scale));
        auto camera = SceneLoader().setupCameraAndLighting(scene, {32, 32});
        auto image = renderSnapshot(scene, *camera, 32, 32);
        EXPECT_EQ(image->pixel(16, 16)[3], 255) << scale;
        EXPECT_GT(brightness(*image, 16, 10), 60) << scale;
    }
}

TEST(Renderer, sizesAndCamerasThatCannotWorkGiveNothingOrTheBackground) {
    StagedCube cube;
    for (auto [w, h] : {std::pair{0, 0}, {-5, 10}, {maxRenderSide + 1, 1}})
        EXPECT_FALSE(renderSnapshot(cube.scene, *cube.camera, w, h)) << w << " x " << h;
    EXPECT_TRUE(renderSnapshot(cube.scene, *cube.camera, 1, 1));

    cube.scene.background = Color{0, 0, 1, 1};
    // The centre pixel's blue, read while the image is still alive.
    auto centre = [&] {
        std::optional<RGBAImage> image = renderSnapshot(cube.scene, *cube.camera, 8, 8);
        return image ? int{image->pixel(4, 4)[2]} : -1;
    };
    for (double fov : {0.0, 180.0, std::nan("")}) {
        cube.camera->camera->fieldOfView = fov;
        EXPECT_EQ(centre(), 255) << fov;  // the background alone
    }
    cube.camera->camera->fieldOfView = 45;
    cube.camera->setPosition({std::nan(""), 0, 0});
    EXPECT_EQ(centre(), 255);
}

TEST(Renderer, largeModelsDrawnOnTwoThreadsMatchOneThread) {
    // A wavy sheet of 240,000 triangles, smaller than the pixels, with a crease where the two
    // threads' halves meet and bands cut inside each half.
    constexpr int n = 200;
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    for (int i = 0; i <= 2 * n; ++i) {
        for (int j = 0; j <= 3 * n / 2; ++j) {
            const float x = float(i) / n - 1, y = float(j) / n - 0.75f;
            positions.insert(positions.end(), {x, y, 0.2f * std::sin(9 * x) * std::cos(7 * y)});
        }
    }
    const std::uint32_t columns = 3 * n / 2 + 1;
    for (std::uint32_t i = 0; i < 2 * n; ++i) {
        for (std::uint32_t j = 0; j + 1 < columns; ++j) {
            const std::uint32_t a = i * columns + j, b = a + columns;
            indices.insert(indices.end(), {a, b, b + 1, a, b + 1, a + 1});
        }
    }
    ASSERT_GE(indices.size() / 3, 200000u);
    Scene scene;
    addGeometry(scene, makeMesh(positions, indices));
    std::shared_ptr<Node> camera = SceneLoader().setupCameraAndLighting(scene, {96, 96});
    auto one = render::renderInBands(scene, *camera, 96, 97, size_t{64} << 20, {}, 1);
    ASSERT_TRUE(one);
    EXPECT_GT(test::coveredPixels(*one), 96u * 20);
    for (size_t rows : {size_t{97}, size_t{10}}) {
        auto two = render::renderInBands(scene, *camera, 96, 97, rows * 96 * 32 * 2, {}, 2);
        ASSERT_TRUE(two);
        EXPECT_EQ(two->pixels, one->pixels) << rows;
    }
    // Where no thread can be started (a confined worker near its budget), one draws all.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(EAGAIN), SCMP_SYS(clone), 0);
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(EAGAIN), SCMP_SYS(clone3), 0);
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(filter) != 0) _exit(3);
        try {
            auto two = render::renderInBands(scene, *camera, 96, 97, size_t{64} << 20, {}, 2);
            _exit(two && two->pixels == one->pixels ? 0 : 1);
        } catch (...) {
            _exit(2);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A faceted sphere seen from close by (strong perspective): every triangle's corners carry
// its face normal, as STL gives them, and a colour that runs from dark to light.
std::shared_ptr<Geometry> facetedSphere(double roughness, const char* model) {
    constexpr int rings = 12, segments = 16;
    auto at = [](int ring, int segment) {
        const double theta = M_PI * ring / rings, phi = 2 * M_PI * segment / segments;
        return Vec3{std::sin(theta) * std::cos(phi), std::cos(theta),
                    std::sin(theta) * std::sin(phi)};
    };
    std::vector<float> positions, normals, colors;
    std::vector<std::uint32_t> indices;
    auto corner = [&](Vec3 p, Vec3 n) {
        positions.insert(positions.end(), {float(p.x), float(p.y), float(p.z)});
        normals.insert(normals.end(), {float(n.x), float(n.y), float(n.z)});
        const float t = float(p.x + 1) / 2;
        colors.insert(colors.end(), {0.05f + 0.9f * t, 0.3f, 0.9f - 0.85f * t});
        indices.push_back(static_cast<std::uint32_t>(indices.size()));
    };
    for (int r = 0; r < rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            const Vec3 q[4] = {at(r, s), at(r + 1, s), at(r + 1, s + 1), at(r, s + 1)};
            for (auto [a, b, c] : {std::array{0, 3, 1}, std::array{1, 3, 2}}) {
                const Vec3 u = q[b] - q[a], v = q[c] - q[a];
                Vec3 n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
                if (r == 3 && s == 5) n = {0, 0, 0};  // a broken normal: the face's own then
                for (int k : {a, b, c})
                    corner(q[k], n);
            }
        }
    }
    auto geometry = makeMesh(positions, indices, normals, colors);
    geometry->materials[0]->lightingModelName = model;
    geometry->materials[0]->roughness = roughness;
    return geometry;
}

// The largest difference, in 8-bit steps, between the image and shading every wholly
// covered pixel on its own at its centre; and how many pixels were compared.
std::pair<int, int> differenceFromShadingEachPixel(const Scene& scene, const Node& camera,
                                                   int side) {
    auto image = renderSnapshot(scene, camera, side, side);
    if (!image) return {-1, 0};
    render::FramePlan plan = render::planFrame(scene, camera, side, side);
    render::VisibilityBuffer buffer;
    buffer.width = side;
    buffer.reset(side, 0, side, static_cast<float>(1 / plan.camera.zFar));
    std::vector<render::RasterVertex> scratch;
    for (const render::DrawCall& draw : plan.draws)
        render::rasterizeDraw(draw, plan, buffer, scratch, nullptr);
    render::Shader shader(plan);
    int compared = 0, worst = 0;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const std::uint32_t* ids = &buffer.ids[(size_t(y) * side + x) * 4];
            if (ids[0] == render::noTriangle || ids[1] != ids[0] || ids[2] != ids[0] ||
                ids[3] != ids[0])
                continue;
            const shading::Float3 c = shader.shade(ids[0], x + 0.5f, y + 0.5f).color;
            const std::uint8_t* p = image->pixel(x, y);
            for (auto [k, v] : {std::pair{0, c.x}, {1, c.y}, {2, c.z}})
                worst = std::max(worst, std::abs(p[k] - int(render::encode(v))));
            ++compared;
        }
    }
    return {worst, compared};
}

TEST(Renderer, flatTrianglesShadedAlongSpansStayWithinAStepOfShadingEveryPixel) {
    // The resolve shades runs of pixels of one flat triangle at a few pixels and fills in
    // between where the shade is straight; here every wholly covered pixel is shaded on its
    // own and compared. A faceted, vertex-coloured sphere under the staged lights; a flat
    // square with the light's mirror image on it, its highlight from broad to a few pixels
    // across, which a straight line through every eighth pixel would miss.
    constexpr int side = 256;
    for (auto [roughness, model] :
         {std::pair<double, const char*>{0.6, LightingModel::physicallyBased},
          {0.05, LightingModel::physicallyBased},
          {0.5, LightingModel::lambert}}) {
        SCOPED_TRACE(roughness);
        Scene scene;
        addGeometry(scene, facetedSphere(roughness, model));
        SceneLoader().setupCameraAndLighting(scene, {side, side});
        auto camera = addCamera(scene, {0.6, 0.9, 2.2}, {0, 0, 0}, 70);
        auto [worst, compared] = differenceFromShadingEachPixel(scene, *camera, side);
        EXPECT_GT(compared, side * side / 4);
        EXPECT_LE(worst, 1);
    }
    for (double roughness : {0.6, 0.25, 0.15, 0.08}) {
        SCOPED_TRACE(roughness);
        Scene scene;
        auto square = makeMesh({-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}, {0, 1, 2, 0, 2, 3},
                               {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1});
        square->materials[0]->roughness = roughness;
        addGeometry(scene, square);
        test::addLight(scene, LightType::directional, {0, 0, 5});
        auto camera = addCamera(scene, {0.25, 0.15, 1.2}, {0, 0, 0}, 70);
        auto [worst, compared] = differenceFromShadingEachPixel(scene, *camera, side);
        EXPECT_GT(compared, side * side / 2);
        EXPECT_LE(worst, 1);
    }
}

// Any geometry and any camera give an image of the asked size: coordinates from tiny to
// overflowing, non-numbers, indices past the end, cameras inside, behind and on the model.
// Run under the sanitizers this is what catches overflow in the fixed-point arithmetic.
TEST(Renderer, randomGeometryAndCamerasNeverBreakIt) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-1, 1);
    const float scales[] = {1e-30f, 1e-3f, 1, 1e3f, 1e7f, 1e20f, 3e38f};
    const float specials[] = {NAN, INFINITY, -INFINITY, 0, 1e-45f};
    for (int round = 0; round < 300; ++round) {
        const float scale = scales[random() % 7];
        std::vector<float> positions(24 * 3), normals(24 * 3);
        for (float& v : positions)
            v = random() % 50 == 0 ? specials[random() % 5] : unit(random) * scale;
        std::vector<std::uint32_t> indices(40 * 3);
        for (auto& i : indices)
            i = random() % 30 == 0 ? 1000 + random() % 5 : random() % 24;
        for (float& n : normals)
            n = random() % 20 == 0 ? NAN : unit(random);
        auto geometry = makeMesh(positions, indices, normals);
        geometry->materials[0]->isDoubleSided = random() % 2;
        Scene scene;
        addGeometry(scene, geometry);
        std::shared_ptr<Node> camera;
        if (round % 2) {
            camera = SceneLoader().setupCameraAndLighting(scene, {64, 64});
        } else {
            Vec3 eye{unit(random) * scale, unit(random) * scale, unit(random) * scale};
            camera = addCamera(scene, eye, {unit(random) * scale, 0, 0}, 10 + random() % 150);
            camera->camera->automaticallyAdjustsZRange = random() % 2;
        }
        const int width = 1 + static_cast<int>(random() % 64),
                  height = 1 + static_cast<int>(random() % 64);
        auto image = renderSnapshot(scene, *camera, width, height);
        ASSERT_TRUE(image) << round;
        EXPECT_EQ(image->pixels.size(), size_t(width) * height * 4);
    }
}

// renderToImage end to end: staging, the frame and the mark in one call.
TEST(OffscreenRender, modelOnTransparentGroundWithSoftEdgesAndTheMarkInTheCorner) {
    Scene scene;
    addGeometry(scene, makeCube({5, 5, 5}, 2));
    auto image = SceneLoader().renderToImage(scene, {200, 150});
    ASSERT_TRUE(image);
    ASSERT_EQ(std::pair(image->width, image->height), std::pair(200, 150));
    EXPECT_EQ(scene.rootNode->childNodes().size(), 5u);  // staged once
    for (auto [x, y] : {std::pair{0, 149}, {199, 149}, {199, 0}}) {
        const std::uint8_t* p = image->pixel(x, y);
        EXPECT_EQ(p[0] | p[1] | p[2] | p[3], 0) << x << ", " << y;  // transparent black
    }
    EXPECT_EQ(image->pixel(100, 75)[3], 255);
    EXPECT_EQ(image->pixel(10, 8)[3], 255);  // the icon (6, 1, 20, 20) at this size
    int partial = 0;
    for (size_t i = 30 * 200 * 4 + 3; i < image->pixels.size(); i += 4)  // below the mark
        partial += image->pixels[i] > 0 && image->pixels[i] < 255;
    EXPECT_GT(partial, 20);  // the model's edges are antialiased
}

TEST(OffscreenRender, emptySceneGivesTheMarkAlone) {
    Scene scene;
    auto image = SceneLoader().renderToImage(scene, {64, 64});
    ASSERT_TRUE(image);
    EXPECT_GT(test::coveredPixels(*image), 100u);
    for (size_t i = 25 * 64 * 4 + 3; i < image->pixels.size(); i += 4)  // clear below row 24
        ASSERT_EQ(image->pixels[i], 0) << "pixel " << i / 4;
}

TEST(OffscreenRender, unusableSizesGiveNoImageNorMark) {
    for (Size size : {Size{0, 0}, Size{0.2, 100}, Size{std::nan(""), 64}, Size{64, INFINITY},
                      Size{8193, 64}, Size{1e300, 1e300}, Size{-64, 64}, Size{1, 1}}) {
        Scene scene;
        addGeometry(scene, makeCube());
        const bool usable = size == Size{1, 1};
        EXPECT_EQ(SceneLoader().renderToImage(scene, size).has_value(), usable) << size.width;
        EXPECT_EQ(SceneLoader().drawWatermark(RGBAImage(1, 1), size).has_value(), usable)
            << size.width << " x " << size.height;
    }
}

}  // namespace
}  // namespace kelvo

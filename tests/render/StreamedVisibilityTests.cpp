// Triangles fed through the visibility step without a scene to hold them: the triangles
// found must be exactly those that show, on one thread or two, and a scene of only those
// must draw the frame of the whole.
#include <gtest/gtest.h>

#include <random>

#include "platform/Renderer/Renderer.h"
#include "tests/render/RenderFixtures.h"

namespace kelvo {
namespace {

TEST(StreamedVisibility, findsExactlyTheTrianglesThatShow) {
    // A soup of overlapping boxes, then the whole soup again: the copies tie in depth with
    // the originals everywhere and must lose, as later triangles of a scene do.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> place(-1.5f, 1.5f);
    std::vector<float> soup;
    for (int box = 0; box < 30; ++box) {
        const std::shared_ptr<Geometry> cube =
            test::makeCube({place(random), place(random), place(random)}, 0.2 + box % 5 * 0.2);
        const GeometrySource& positions = cube->sources[0];
        for (std::int64_t i = 0; i < positions.usableVectorCount(); ++i) {
            float p[3];
            positions.readFloat3(i, p);
            soup.insert(soup.end(), p, p + 3);
        }
    }
    const size_t originals = soup.size() / 9;
    soup.insert(soup.end(), soup.begin(), soup.end());
    const size_t triangles = soup.size() / 9;

    const auto sceneOf = [](const std::vector<float>& corners) {
        auto scene = std::make_shared<Scene>();
        std::vector<std::uint32_t> indices(corners.size() / 3);
        for (size_t i = 0; i < indices.size(); ++i)
            indices[i] = static_cast<std::uint32_t>(i);
        test::addGeometry(*scene, test::makeMesh(corners, indices));
        return scene;
    };
    // The stand-in: the soup's first corner alone, where the renderer takes its origin.
    const std::vector<float> first(soup.begin(), soup.begin() + 3);
    std::vector<float> standInCorners;
    for (int k = 0; k < 3; ++k)
        standInCorners.insert(standInCorners.end(), first.begin(), first.end());
    std::shared_ptr<Scene> standIn = sceneOf(standInCorners);
    std::shared_ptr<Node> camera = test::addCamera(*standIn, {3, 2.5, 4}, {0, 0, 0});

    const TriangleFeed feed = [&](int part, int parts, const TriangleBatch& take) {
        const size_t begin = triangles * part / parts, end = triangles * (part + 1) / parts;
        for (size_t t = begin; t < end; t += 5)
            take(t, soup.data() + 9 * t, std::min<size_t>(5, end - t));
    };
    const std::vector<std::uint32_t> one = visibleFedTriangles(*standIn, *camera, 96, 64, feed, 1);
    const std::vector<std::uint32_t> two = visibleFedTriangles(*standIn, *camera, 96, 64, feed, 2);
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(one, two);
    EXPECT_LT(one.back(), originals) << "a copy never wins a tie";
    EXPECT_LT(one.size(), originals) << "hidden faces are left out";

    // Only the triangles found, after the first corner: the frame of the whole soup.
    std::vector<float> picked = standInCorners;
    for (std::uint32_t t : one)
        picked.insert(picked.end(), soup.begin() + 9 * t, soup.begin() + 9 * t + 9);
    std::shared_ptr<Scene> whole = sceneOf(soup), shown = sceneOf(picked);
    std::shared_ptr<Node> wholeCamera = test::addCamera(*whole, {3, 2.5, 4}, {0, 0, 0});
    std::shared_ptr<Node> shownCamera = test::addCamera(*shown, {3, 2.5, 4}, {0, 0, 0});
    std::optional<RGBAImage> a = renderSnapshot(*whole, *wholeCamera, 96, 64);
    std::optional<RGBAImage> b = renderSnapshot(*shown, *shownCamera, 96, 64);
    ASSERT_TRUE(a && b);
    EXPECT_GT(test::coveredPixels(*a), 1000u);
    EXPECT_EQ(a->pixels, b->pixels);
}

}  // namespace
}  // namespace kelvo

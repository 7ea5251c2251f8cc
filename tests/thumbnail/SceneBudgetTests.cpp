// The too-large-model policy: within the budget nothing changes; beyond it every geometry
// keeps the same share, evenly spread, and the smallest drop out.
#include <gtest/gtest.h>

#include <set>

#include "extensions/KelvoThumbnail/SceneBudget.h"

namespace kelvo {
namespace {

// A geometry of `triangles` triangles whose index triples are (3t, 3t+1, 3t+2).
std::shared_ptr<Geometry> geometry(std::int64_t triangles) {
    ByteBuffer positions(static_cast<size_t>(triangles) * 36, 0);
    ByteBuffer indices(static_cast<size_t>(triangles) * 12);
    for (std::int64_t i = 0; i < triangles * 3; ++i) {
        const auto v = static_cast<std::uint32_t>(i);
        std::memcpy(indices.data() + i * 4, &v, 4);
    }
    std::vector<GeometrySource> sources{GeometrySource::floatTriples(
        std::move(positions), GeometrySemantic::vertex, triangles * 3)};
    std::vector<GeometryElement> elements{
        GeometryElement::triangles(std::move(indices), triangles)};
    return std::make_shared<Geometry>(std::move(sources), std::move(elements));
}

std::shared_ptr<Node> attach(Scene& scene, std::shared_ptr<Geometry> g) {
    auto node = Node::withGeometry(std::move(g));
    scene.rootNode->addChildNode(node);
    return node;
}

TEST(SceneBudget, withinTheBudgetNothingChanges) {
    Scene scene;
    auto g = geometry(100);
    attach(scene, g);
    attach(scene, g);  // one geometry shown twice counts twice
    EXPECT_EQ(drawnTriangleCount(*scene.rootNode), 200);
    SceneBudgetOutcome outcome = fitSceneToTriangleBudget(scene, 200);
    EXPECT_EQ(outcome.trianglesAfter, 200);
    EXPECT_EQ(g->triangleCount(), 100);
    EXPECT_EQ(fitSceneToTriangleBudget(scene, 0).trianglesAfter, 200);  // 0: no budget
}

TEST(SceneBudget, overTheBudgetEveryGeometryKeepsAnEvenShare) {
    Scene scene;
    auto big = geometry(1000), shared = geometry(400), tiny = geometry(3);
    auto bigNode = attach(scene, big);
    attach(scene, shared);
    attach(scene, shared);
    auto tinyNode = attach(scene, tiny);
    // 1000 + 2 x 400 + 3 = 1803 drawn; a budget of 450 keeps a quarter of each.
    SceneBudgetOutcome outcome = fitSceneToTriangleBudget(scene, 450);
    EXPECT_EQ(outcome.trianglesBefore, 1803);
    EXPECT_LE(outcome.trianglesAfter, 450);
    EXPECT_EQ(outcome.trianglesAfter, drawnTriangleCount(*scene.rootNode));
    EXPECT_EQ(big->triangleCount(), 1000 * 450 / 1803);
    EXPECT_EQ(shared->triangleCount(), 400 * 450 / 1803);
    EXPECT_EQ(outcome.geometriesThinned, 2);
    // The smallest part rounds down to nothing and leaves the scene.
    EXPECT_EQ(tinyNode->geometry, nullptr);
    EXPECT_EQ(outcome.geometriesDropped, 1);

    // The kept triangles are original ones, spread over the whole range, first one included.
    const GeometryElement& element = bigNode->geometry->elements.at(0);
    std::set<std::uint32_t> firstIndices;
    for (std::int64_t t = 0; t < element.usableTriangleCount(); ++t) {
        const std::uint32_t a = element.index(t * 3);
        EXPECT_EQ(a % 3, 0u);
        EXPECT_EQ(element.index(t * 3 + 1), a + 1);
        EXPECT_EQ(element.index(t * 3 + 2), a + 2);
        firstIndices.insert(a / 3);
    }
    EXPECT_EQ(firstIndices.size(), static_cast<size_t>(element.usableTriangleCount()));
    EXPECT_EQ(*firstIndices.begin(), 0u);
    EXPECT_GE(*firstIndices.rbegin(), 995u);
    // Evenly: no gap between kept triangles is wider than the stride rounded up.
    std::uint32_t previous = 0, widest = 0;
    for (std::uint32_t t : firstIndices)
        widest = std::max(widest, t - previous), previous = t;
    EXPECT_LE(widest, 5u);  // stride 1000 / 249 ~ 4.02
}

}  // namespace
}  // namespace kelvo

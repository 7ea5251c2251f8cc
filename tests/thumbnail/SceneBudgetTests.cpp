// The too-large-model policy: within the budget nothing changes; beyond it every geometry
// keeps the same share, evenly spread, and the smallest drop out.
#include <gtest/gtest.h>

#include "extensions/KelvoThumbnail/SceneBudget.h"

namespace kelvo {
namespace {

// A geometry of `triangles` triangles whose index triples are (3t, 3t+1, 3t+2).
std::shared_ptr<Geometry> geometry(std::uint32_t triangles) {
    ByteBuffer indices(triangles * 12);
    for (std::uint32_t i = 0; i < triangles * 3; ++i)
        std::memcpy(indices.data() + i * 4, &i, 4);
    return std::make_shared<Geometry>(
        std::vector{GeometrySource::floatTriples(ByteBuffer(triangles * 36, 0),
                                                 GeometrySemantic::vertex, triangles * 3)},
        std::vector{GeometryElement::triangles(std::move(indices), triangles)});
}

std::shared_ptr<Node> attach(Scene& scene, std::shared_ptr<Geometry> g) {
    auto node = Node::withGeometry(std::move(g));
    scene.rootNode->addChildNode(node);
    return node;
}

TEST(SceneBudget, overTheBudgetEveryGeometryKeepsAnEvenShare) {
    Scene scene;
    auto big = geometry(1000), shared = geometry(400);
    auto bigNode = attach(scene, big);
    attach(scene, shared);
    attach(scene, shared);  // one geometry shown twice counts twice
    auto tinyNode = attach(scene, geometry(3));
    // Within the budget, or with none (0), nothing changes.
    EXPECT_EQ(fitSceneToTriangleBudget(scene, 1803).trianglesAfter, 1803);
    EXPECT_EQ(fitSceneToTriangleBudget(scene, 0).trianglesAfter, 1803);
    EXPECT_EQ(big->triangleCount(), 1000);
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

    // The kept triangles are original ones in file order, from the first to near the last,
    // with no gap wider than the stride (1000 / 249 ~ 4.02) rounded up.
    const GeometryElement& element = bigNode->geometry->elements.at(0);
    std::uint32_t previous = 0;
    for (std::int64_t t = 0; t < element.usableTriangleCount(); ++t) {
        const std::uint32_t a = element.index(t * 3);
        EXPECT_EQ(a % 3, 0u);
        EXPECT_EQ(element.index(t * 3 + 1), a + 1);
        EXPECT_EQ(element.index(t * 3 + 2), a + 2);
        EXPECT_TRUE(t == 0 ? a == 0 : a > previous && a - previous <= 15) << t;
        previous = a;
    }
    EXPECT_GE(previous, 995u * 3);
}

TEST(SceneBudget, eachElementKeepsItsPlaceAndPointsStay) {
    // Two materials' triangles and a point element in one geometry (an OBJ with usemtl and
    // p statements): thinning keeps the elements in order, so each keeps its material.
    Scene scene;
    auto g = geometry(1000);
    ByteBuffer second = ByteBuffer(g->elements[0].data->begin(), g->elements[0].data->end());
    ByteBuffer points(8, 0);
    g->elements.push_back(GeometryElement::triangles(std::move(second), 1000));
    g->elements.push_back(GeometryElement::points(std::move(points), 2));
    attach(scene, g);
    fitSceneToTriangleBudget(scene, 500);
    ASSERT_EQ(g->elements.size(), 3u);
    EXPECT_EQ(g->elements[0].usableTriangleCount(), 250);
    EXPECT_EQ(g->elements[1].usableTriangleCount(), 250);
    EXPECT_EQ(g->elements[2].usablePointCount(), 2);
    // However small the budget, the points are kept.
    fitSceneToTriangleBudget(scene, 1);
    EXPECT_EQ(drawnPointCount(*scene.rootNode), 2);
}

}  // namespace
}  // namespace kelvo

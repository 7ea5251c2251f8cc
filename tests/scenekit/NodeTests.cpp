#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/SceneKit/Node.h"

namespace kelvo {
namespace {

void expectNear(Vec3 a, Vec3 b, double eps = 1e-12) {
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

std::shared_ptr<Geometry> pointsGeometry(const std::vector<float>& xyz) {
    ByteBuffer bytes(xyz.size() * 4);
    std::memcpy(bytes.data(), xyz.data(), bytes.size());
    std::vector<GeometrySource> sources{GeometrySource::floatTriples(
        std::move(bytes), GeometrySemantic::vertex, static_cast<std::int64_t>(xyz.size() / 3))};
    return std::make_shared<Geometry>(std::move(sources), std::vector<GeometryElement>{});
}

TEST(Node, transformPositionAndEulerAnglesStayConsistent) {
    auto node = Node::make();
    node->setPosition({1, 2, 3});
    node->setEulerAngles({0.3, -0.4, 0.5});
    expectNear(node->position(), {1, 2, 3});
    EXPECT_EQ(node->eulerAngles(), (Vec3{0.3, -0.4, 0.5}));  // exactly as set
    // The transform is rotation then translation, and gives the angles back.
    expectNear(eulerFromMatrix(node->transform()), {0.3, -0.4, 0.5});
    EXPECT_DOUBLE_EQ(node->transform().m[3][0], 1);

    Mat4 t = Mat4::identity();
    t.m[0][0] = 2;  // scale x by 2, then move
    t.m[3][1] = 7;
    node->setTransform(t);
    expectNear(node->position(), {0, 7, 0});
    expectNear(node->eulerAngles(), {0, 0, 0});
    node->setEulerAngles({0, std::numbers::pi / 2, 0});  // keeps the scale of 2 along x
    expectNear(transformPoint(node->transform(), {1, 0, 0}), {0, 7, -2});
}

TEST(Node, lookAtPointsMinusZAtTheTargetWithYUp) {
    auto root = Node::make();
    auto camera = Node::make();
    root->addChildNode(camera);
    camera->setPosition({0.9, 0.72, 1.26});
    camera->lookAt({0, 0, 0});
    Vec3 forward = normalize(transformDirection(camera->worldTransform(), {0, 0, -1}));
    expectNear(forward, normalize(Vec3{-0.9, -0.72, -1.26}));
    Vec3 right = transformDirection(camera->worldTransform(), {1, 0, 0});
    EXPECT_NEAR(right.y, 0, 1e-12);  // no roll: right stays horizontal
    EXPECT_GT(transformDirection(camera->worldTransform(), {0, 1, 0}).y, 0);
    expectNear(camera->position(), {0.9, 0.72, 1.26});

    // Straight down along -Y still gives a proper rotation.
    camera->setPosition({0, 5, 0});
    camera->lookAt({0, 0, 0});
    expectNear(normalize(transformDirection(camera->worldTransform(), {0, 0, -1})), {0, -1, 0});

    // Under a moved parent the target is still a world point.
    auto parent = Node::make();
    parent->setPosition({10, 0, 0});
    root->addChildNode(parent);
    auto child = Node::make();
    parent->addChildNode(child);
    child->setPosition({0, 0, 5});
    child->lookAt({10, 0, 0});
    expectNear(normalize(transformDirection(child->worldTransform(), {0, 0, -1})), {0, 0, -1});
}

TEST(Node, childrenAreOrderedAndReparented) {
    auto a = Node::make(), b = Node::make(), child = Node::make();
    a->addChildNode(child);
    b->addChildNode(Node::make());
    b->addChildNode(child);
    EXPECT_TRUE(a->childNodes().empty());
    ASSERT_EQ(b->childNodes().size(), 2u);
    EXPECT_EQ(b->childNodes()[1], child);  // appended last
    EXPECT_EQ(child->parentNode(), b.get());

    // No cycles: a node never goes under itself or its own descendants.
    auto grandchild = Node::make();
    child->addChildNode(grandchild);
    grandchild->addChildNode(b);
    child->addChildNode(child);
    EXPECT_EQ(b->parentNode(), nullptr);
    EXPECT_TRUE(grandchild->childNodes().empty());
    EXPECT_EQ(child->childNodes().size(), 1u);
}

TEST(Node, enumerationVisitsDescendantsParentsFirst) {
    auto root = Node::make();
    auto a = Node::make(), a1 = Node::make(), b = Node::make();
    a->name = "a", a1->name = "a1", b->name = "b";
    root->addChildNode(a);
    a->addChildNode(a1);
    root->addChildNode(b);
    std::string order;
    root->enumerateChildNodes([&](Node& n, bool&) { order += n.name + " "; });
    EXPECT_EQ(order, "a a1 b ");
    order.clear();
    root->enumerateChildNodes([&](Node& n, bool& stop) {
        order += n.name + " ";
        stop = n.name == "a1";
    });
    EXPECT_EQ(order, "a a1 ");
}

TEST(Node, worldTransformsComposeDownTheTree) {
    auto root = Node::make(), parent = Node::make(), child = Node::make();
    root->addChildNode(parent);
    parent->addChildNode(child);
    parent->setPosition({10, 0, 0});
    parent->setEulerAngles({0, 0, std::numbers::pi / 2});  // +x turns to +y
    child->setPosition({1, 0, 0});
    expectNear(transformPoint(child->worldTransform(), {0, 0, 0}), {10, 1, 0});
}

TEST(Node, boundingBoxCoversAllGeometryBelowInTheNodesSpace) {
    auto root = Node::make();
    EXPECT_TRUE(root->boundingBox().isEmpty());
    auto holder = Node::make();
    holder->setPosition({100, 0, 0});
    holder->setEulerAngles({-std::numbers::pi / 2, 0, 0});
    root->addChildNode(holder);
    auto leaf = Node::withGeometry(pointsGeometry({0, 0, 0, 1, 2, 3}));
    holder->addChildNode(leaf);
    BoundingBox box = root->boundingBox();
    expectNear(box.min, {100, 0, -2}, 1e-12);
    expectNear(box.max, {101, 3, 0}, 1e-12);

    // A rotation by 45 degrees is measured on the vertices, not on the rotated box (neither
    // the node's nor the geometry's box).
    leaf->geometry = pointsGeometry({1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1, 0});
    holder->setEulerAngles({0, 0, std::numbers::pi / 4});
    box = root->boundingBox();
    EXPECT_NEAR(box.max.x - box.min.x, std::sqrt(2.0), 1e-12);
}

}  // namespace
}  // namespace kelvo

// Nodes of the scene graph: an ordered tree of shared nodes, each with an optional geometry,
// camera and light and a local placement relative to its parent.
//
// The placement is kept three ways that always agree: the 4x4 `transform` (row-vector
// convention, see SceneMath.h), the `position` (its translation row) and the `eulerAngles`
// (its rotation). Setting one updates the others; Euler angles that were set are returned
// exactly as set.
//
// A tree belongs to one request at a time; nodes take no locks.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/SceneKit/Geometry.h"
#include "platform/SceneKit/Material.h"
#include "platform/SceneKit/SceneMath.h"

namespace kelvo {

class Node {
public:
    Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    ~Node();

    static std::shared_ptr<Node> make() { return std::make_shared<Node>(); }
    static std::shared_ptr<Node> withGeometry(std::shared_ptr<Geometry> geometry);

    std::string name;
    std::shared_ptr<Geometry> geometry;
    std::shared_ptr<Camera> camera;
    std::shared_ptr<Light> light;

    const Mat4& transform() const { return transform_; }
    void setTransform(const Mat4& transform);
    Vec3 position() const { return {transform_.m[3][0], transform_.m[3][1], transform_.m[3][2]}; }
    void setPosition(Vec3 position);
    Vec3 eulerAngles() const { return euler_; }
    // Replaces the rotation, keeping the position and the scale along each axis.
    void setEulerAngles(Vec3 euler);

    // Turns the node so that its local -Z axis points at `target` (a point in world space)
    // with its local +Y axis as close to `up` (world space) as possible; keeps position and
    // scale.
    void lookAt(Vec3 target, Vec3 up = {0, 1, 0});

    const std::vector<std::shared_ptr<Node>>& childNodes() const { return children_; }
    // Appends `child` as the last child, taking it from its previous parent if it had one.
    // Adding a node under itself or under one of its descendants does nothing.
    void addChildNode(std::shared_ptr<Node> child);
    void removeFromParentNode();
    Node* parentNode() const { return parent_; }

    // Visits every descendant (not the node itself), depth first, parents before children,
    // children in order. The visitor may set `stop` to end the walk.
    void enumerateChildNodes(const std::function<void(Node&, bool& stop)>& visitor);

    // The transform from this node's space to world space (the root's space).
    Mat4 worldTransform() const;

    // The box of every geometry of this node and all its descendants, in this node's own
    // space. Non-finite vertices are left out; empty when there is no vertex at all.
    BoundingBox boundingBox() const;

private:
    bool enumerate(const std::function<void(Node&, bool&)>& visitor);
    void addBoxes(const Mat4& toReference, BoundingBox& box) const;

    Mat4 transform_ = Mat4::identity();
    Vec3 euler_{};
    Node* parent_ = nullptr;
    std::vector<std::shared_ptr<Node>> children_;
};

// A scene: a root node and a background. The background is absent (monostate) unless set;
// the renderers treat an absent background as transparent.
struct Scene {
    std::shared_ptr<Node> rootNode = Node::make();
    MaterialContents background;
};

}  // namespace kelvo

#include "platform/SceneKit/Node.h"

#include <algorithm>

namespace kelvo {

Node::~Node() {
    for (auto& child : children_) child->parent_ = nullptr;
}

std::shared_ptr<Node> Node::withGeometry(std::shared_ptr<Geometry> geometry) {
    auto node = make();
    node->geometry = std::move(geometry);
    return node;
}

void Node::setTransform(const Mat4& transform) {
    transform_ = transform;
    euler_ = eulerFromMatrix(transform);
}

void Node::setPosition(Vec3 position) {
    transform_.m[3][0] = position.x;
    transform_.m[3][1] = position.y;
    transform_.m[3][2] = position.z;
}

namespace {

Vec3 rowScales(const Mat4& t) {
    return {length({t.m[0][0], t.m[0][1], t.m[0][2]}), length({t.m[1][0], t.m[1][1], t.m[1][2]}),
            length({t.m[2][0], t.m[2][1], t.m[2][2]})};
}

void setLinearPart(Mat4& t, const Mat4& rotation, Vec3 scale) {
    const double s[3] = {scale.x, scale.y, scale.z};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) t.m[i][j] = rotation.m[i][j] * s[i];
    }
}

}  // namespace

void Node::setEulerAngles(Vec3 euler) {
    setLinearPart(transform_, rotationFromEuler(euler), rowScales(transform_));
    euler_ = euler;
}

void Node::lookAt(Vec3 target, Vec3 up) {
    // Work in the parent's space, where the node's position lives.
    Mat4 parentWorld = parent_ ? parent_->worldTransform() : Mat4::identity();
    Mat4 toParent = affineInverse(parentWorld);
    if (!isFinite(toParent)) return;
    Vec3 localTarget = transformPoint(toParent, target);
    Vec3 localUp = normalize(transformDirection(toParent, up));

    Vec3 back = normalize(position() - localTarget);  // the node's +Z axis
    if (back == Vec3{}) return;
    Vec3 right = normalize(cross(localUp, back));
    if (right == Vec3{}) {
        // Looking straight along `up`: any right angle to it serves.
        right = normalize(cross(Vec3{0, 0, 1}, back));
        if (right == Vec3{}) right = normalize(cross(Vec3{1, 0, 0}, back));
    }
    Vec3 newUp = cross(back, right);
    Mat4 rotation = Mat4::identity();
    const Vec3 rows[3] = {right, newUp, back};
    for (int i = 0; i < 3; ++i) {
        rotation.m[i][0] = rows[i].x;
        rotation.m[i][1] = rows[i].y;
        rotation.m[i][2] = rows[i].z;
    }
    setLinearPart(transform_, rotation, rowScales(transform_));
    euler_ = eulerFromMatrix(rotation);
}

void Node::addChildNode(std::shared_ptr<Node> child) {
    if (!child) return;
    // A node under itself or under one of its own descendants would make the tree a cycle:
    // every walk over it would never end. Such a call is refused.
    for (const Node* p = this; p; p = p->parent_) {
        if (p == child.get()) return;
    }
    child->removeFromParentNode();
    child->parent_ = this;
    children_.push_back(std::move(child));
}

void Node::removeFromParentNode() {
    if (!parent_) return;
    auto& siblings = parent_->children_;
    auto it = std::find_if(siblings.begin(), siblings.end(),
                           [this](const std::shared_ptr<Node>& n) { return n.get() == this; });
    parent_ = nullptr;
    if (it != siblings.end()) siblings.erase(it);  // may release this node: nothing after it
}

void Node::enumerateChildNodes(const std::function<void(Node&, bool& stop)>& visitor) {
    for (size_t i = 0; i < children_.size(); ++i) {
        if (!children_[i]->enumerate(visitor)) return;
    }
}

bool Node::enumerate(const std::function<void(Node&, bool&)>& visitor) {
    bool stop = false;
    visitor(*this, stop);
    if (stop) return false;
    for (size_t i = 0; i < children_.size(); ++i) {
        if (!children_[i]->enumerate(visitor)) return false;
    }
    return true;
}

Mat4 Node::worldTransform() const {
    Mat4 world = transform_;
    for (const Node* p = parent_; p; p = p->parent_) world = world * p->transform_;
    return world;
}

BoundingBox Node::boundingBox() const {
    BoundingBox box;
    if (geometry) box.add(geometry->boundingBox());
    for (const auto& child : children_) child->addBoxes(child->transform_, box);
    return box;
}

void Node::addBoxes(const Mat4& toReference, BoundingBox& box) const {
    if (geometry) box.add(geometry->boundingBox(toReference));
    for (const auto& child : children_) child->addBoxes(child->transform_ * toReference, box);
}

}  // namespace kelvo

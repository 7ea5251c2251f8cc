// Scenes built in code for the staging, renderer and imaging tests.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "extensions/Shared/SceneLoader.h"
#include "platform/SceneKit/Node.h"

namespace kelvo::test {

template <class T>
ByteBuffer bufferOf(const std::vector<T>& values) {
    ByteBuffer bytes(values.size() * sizeof(T));
    if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// A geometry of float-triple positions (and normals and colours when given) with one
// element of 32-bit triangles.
inline std::shared_ptr<Geometry> makeMesh(const std::vector<float>& positions,
                                          const std::vector<std::uint32_t>& indices,
                                          const std::vector<float>& normals = {},
                                          const std::vector<float>& colors = {}) {
    std::int64_t count = static_cast<std::int64_t>(positions.size() / 3);
    std::vector<GeometrySource> sources{
        GeometrySource::floatTriples(bufferOf(positions), GeometrySemantic::vertex, count)};
    if (!normals.empty())
        sources.push_back(
            GeometrySource::floatTriples(bufferOf(normals), GeometrySemantic::normal, count));
    if (!colors.empty())
        sources.push_back(
            GeometrySource::floatTriples(bufferOf(colors), GeometrySemantic::color, count));
    std::vector<GeometryElement> elements{GeometryElement::triangles(
        bufferOf(indices), static_cast<std::int64_t>(indices.size() / 3))};
    auto geometry = std::make_shared<Geometry>(std::move(sources), std::move(elements));
    geometry->materials = {makeDefaultModelMaterial()};
    return geometry;
}

// An axis-aligned cube of edge `size` around `center`: four corners and the face normal
// per face, triangles counter-clockwise seen from outside.
inline std::shared_ptr<Geometry> makeCube(Vec3 center = {}, double size = 1) {
    std::vector<float> p, n;
    std::vector<std::uint32_t> idx;
    const double h = size / 2;
    // Each face: normal, then two axes (u, v) with u x v = normal.
    const int faces[6][9] = {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {-1, 0, 0, 0, 0, 1, 0, 1, 0},
                             {0, 1, 0, 0, 0, 1, 1, 0, 0}, {0, -1, 0, 1, 0, 0, 0, 0, 1},
                             {0, 0, 1, 1, 0, 0, 0, 1, 0}, {0, 0, -1, 0, 1, 0, 1, 0, 0}};
    for (const auto& f : faces) {
        std::uint32_t base = static_cast<std::uint32_t>(p.size() / 3);
        const double corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            double x = f[0] + c[0] * f[3] + c[1] * f[6], y = f[1] + c[0] * f[4] + c[1] * f[7],
                   z = f[2] + c[0] * f[5] + c[1] * f[8];
            p.insert(p.end(),
                     {float(center.x + x * h), float(center.y + y * h), float(center.z + z * h)});
            n.insert(n.end(), {float(f[0]), float(f[1]), float(f[2])});
        }
        idx.insert(idx.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
    }
    return makeMesh(p, idx, n);
}

inline std::shared_ptr<Node> addGeometry(Scene& scene, std::shared_ptr<Geometry> geometry) {
    auto node = Node::withGeometry(std::move(geometry));
    scene.rootNode->addChildNode(node);
    return node;
}

// A camera node at `position` looking at `target`, with a fixed depth range.
inline std::shared_ptr<Node> addCamera(Scene& scene, Vec3 position, Vec3 target,
                                       double fieldOfView = 45) {
    auto node = Node::make();
    node->camera = std::make_shared<Camera>();
    node->camera->fieldOfView = fieldOfView;
    node->camera->zNear = 0.01;
    node->camera->zFar = 1000;
    node->setPosition(position);
    node->lookAt(target);
    scene.rootNode->addChildNode(node);
    return node;
}

inline int alphaAt(const RGBAImage& image, int x, int y) {
    return image.pixel(x, y)[3];
}

inline size_t coveredPixels(const RGBAImage& image) {
    size_t count = 0;
    for (size_t i = 3; i < image.pixels.size(); i += 4)
        count += image.pixels[i] != 0;
    return count;
}

}  // namespace kelvo::test

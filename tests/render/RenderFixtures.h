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

// Float-triple positions (normals and colours when given), one element of 32-bit triangles.
inline std::shared_ptr<Geometry> makeMesh(const std::vector<float>& positions,
                                          const std::vector<std::uint32_t>& indices,
                                          const std::vector<float>& normals = {},
                                          const std::vector<float>& colors = {}) {
    const auto count = static_cast<std::int64_t>(positions.size() / 3);
    std::vector<GeometrySource> sources{
        GeometrySource::floatTriples(bufferOf(positions), GeometrySemantic::vertex, count)};
    for (auto [values, semantic] :
         {std::pair{&normals, GeometrySemantic::normal}, {&colors, GeometrySemantic::color}})
        if (!values->empty())
            sources.push_back(GeometrySource::floatTriples(bufferOf(*values), semantic, count));
    std::vector<GeometryElement> elements{GeometryElement::triangles(
        bufferOf(indices), static_cast<std::int64_t>(indices.size() / 3))};
    auto geometry = std::make_shared<Geometry>(std::move(sources), std::move(elements));
    geometry->materials = {makeDefaultModelMaterial()};
    return geometry;
}

// An axis-aligned cube of edge `size` around `c`, counter-clockwise seen from outside, with
// face normals unless `withNormals` is false.
inline std::shared_ptr<Geometry> makeCube(Vec3 c = {}, double size = 1, bool withNormals = true) {
    // Corner i has x, y, z from bits 0, 1, 2; faces +X, -X, +Y, -Y, +Z, -Z.
    const int faces[6][4] = {{1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3},
                             {0, 1, 5, 4}, {4, 5, 7, 6}, {0, 2, 3, 1}};
    std::vector<float> p, n;
    std::vector<std::uint32_t> idx;
    for (int f = 0; f < 6; ++f) {
        for (int k : {0, 1, 2, 0, 2, 3}) {
            const int i = faces[f][k];
            p.insert(p.end(),
                     {float(c.x + ((i & 1) - 0.5) * size), float(c.y + ((i >> 1 & 1) - 0.5) * size),
                      float(c.z + ((i >> 2 & 1) - 0.5) * size)});
            const float sign = f % 2 ? -1.0f : 1.0f;
            n.insert(n.end(),
                     {f / 2 == 0 ? sign : 0, f / 2 == 1 ? sign : 0, f / 2 == 2 ? sign : 0});
            idx.push_back(static_cast<std::uint32_t>(idx.size()));
        }
    }
    return makeMesh(p, idx, withNormals ? n : std::vector<float>{});
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

// A light node of `type` at `position` aimed at the origin.
inline std::shared_ptr<Node> addLight(Scene& scene, LightType type, Vec3 position,
                                      double intensity = 1000) {
    auto node = Node::make();
    node->light = std::make_shared<Light>();
    node->light->type = type;
    node->light->intensity = intensity;
    node->setPosition(position);
    node->lookAt({0, 0, 0});
    scene.rootNode->addChildNode(node);
    return node;
}

inline size_t coveredPixels(const RGBAImage& image) {
    size_t count = 0;
    for (size_t i = 3; i < image.pixels.size(); i += 4)
        count += image.pixels[i] != 0;
    return count;
}

}  // namespace kelvo::test

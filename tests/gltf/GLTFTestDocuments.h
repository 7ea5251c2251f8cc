// Small glTF documents for the reader and conversion tests: one triangle whose parts a test
// replaces, loaded from memory.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/GLTFKit/GLTFKit.h"
#include "tests/support/GLTFWriter.h"

namespace kelvo::test {

// Three positions (0,0,0) (1,0,0) (0,1,0), then indices 0 1 2 as unsigned shorts.
inline Bytes triangleBin() {
    BinaryBuffer b;
    b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
    b.add<std::uint16_t>({0, 1, 2, 0});
    return b.bytes;
}

struct Doc {
    std::string buffers = R"([{"byteLength":44}])";
    std::string bufferViews =
        R"([{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":6}])";
    std::string accessors = R"([{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},)"
                            R"({"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}])";
    std::string meshes = R"([{"primitives":[{"attributes":{"POSITION":0},"indices":1}]}])";
    std::string nodes = R"([{"mesh":0}])";
    std::string scenes = R"([{"nodes":[0]}])";
    std::string extra;  // further top-level members, each preceded by a comma

    std::string json() const {
        return R"({"asset":{"version":"2.0"},"buffers":)" + buffers + R"(,"bufferViews":)" +
               bufferViews + R"(,"accessors":)" + accessors + R"(,"meshes":)" + meshes +
               R"(,"nodes":)" + nodes + R"(,"scenes":)" + scenes + extra + "}";
    }
};

inline GLTFAsset readGLB(const std::string& json, const Bytes& bin = triangleBin()) {
    const Bytes file = glb(json, bin);
    return readGLTFAsset(ByteBuffer(file.begin(), file.end()), "/nowhere/test.glb");
}

inline std::shared_ptr<Scene> sceneOf(const std::string& json, const Bytes& bin = triangleBin()) {
    auto scene = sceneWithGLTFAsset(readGLB(json, bin));
    EXPECT_TRUE(scene);
    return scene;
}

// The error reading the document throws; code 0 when it reads.
inline Error readError(const std::string& json, const Bytes& bin = triangleBin()) {
    try {
        readGLB(json, bin);
    } catch (const Error& e) {
        return e;
    }
    return Error("", 0);
}

// Every node with a geometry, depth first.
inline std::vector<const Node*> geometryNodes(const Node& root) {
    std::vector<const Node*> out;
    std::vector<const Node*> stack{&root};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (n->geometry) out.push_back(n);
        for (auto it = n->childNodes().rbegin(); it != n->childNodes().rend(); ++it)
            stack.push_back(it->get());
    }
    return out;
}

// The floats of a geometry's source, `components` per vector.
inline std::vector<float> sourceFloats(const Geometry& g, GeometrySemantic semantic) {
    const GeometrySource* s = g.source(semantic);
    std::vector<float> out;
    if (!s) return out;
    for (std::int64_t i = 0; i < s->usableVectorCount(); ++i) {
        for (std::int64_t c = 0; c < s->componentsPerVector; ++c) {
            float v;
            std::memcpy(&v, s->data->data() + s->dataOffset + i * s->dataStride + c * 4, 4);
            out.push_back(v);
        }
    }
    return out;
}

inline std::vector<std::uint32_t> elementIndices(const Geometry& g) {
    std::vector<std::uint32_t> out;
    const GeometryElement& e = g.elements.at(0);
    std::int64_t n = e.primitiveType == PrimitiveType::point ? e.usablePointCount()
                                                             : e.usableTriangleCount() * 3;
    for (std::int64_t i = 0; i < n; ++i)
        out.push_back(e.index(i));
    return out;
}

}  // namespace kelvo::test

// Any byte string is a glTF or GLB file to the reader (JSON, GLB container, data: URIs,
// accessors, sparse values, Draco, meshopt): it must return an asset or throw a GLTFKit error,
// never crash, hang or allocate past its budgets. What the conversion makes of an asset must be
// consistent: every index inside its geometry's vertices, every source as long as the vertices.
// Files beside the input do not exist, so external references are exercised as missing.
#include <cstddef>
#include <cstdint>

#include "platform/GLTFKit/GLTFKit.h"

namespace {

void checkGeometry(const kelvo::Geometry& g) {
    const std::int64_t vertices = g.vertexCount();
    for (const auto& source : g.sources) {
        if (source.usableVectorCount() != vertices) __builtin_trap();
    }
    for (const auto& e : g.elements) {
        std::int64_t n = e.primitiveType == kelvo::PrimitiveType::point
                             ? e.usablePointCount()
                             : 3 * e.usableTriangleCount();
        for (std::int64_t i = 0; i < n; ++i) {
            if (e.index(i) >= vertices) __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvo::GLTFAsset asset;
    try {
        asset = kelvo::readGLTFAsset(kelvo::ByteBuffer(data, data + size),
                                     "/nonexistent/kelvo-fuzz/input.glb");
    } catch (const kelvo::Error& e) {
        if (e.domain() != kelvo::gltfErrorDomain) __builtin_trap();
        return 0;
    }
    auto scene = kelvo::sceneWithGLTFAsset(asset);
    if (!scene) return 0;
    scene->rootNode->enumerateChildNodes([](kelvo::Node& node, bool&) {
        if (node.geometry) checkGeometry(*node.geometry);
    });
    return 0;
}

// Any byte string is a VOX file to the loader: it must return a scene or throw one of its three
// errors, never crash, hang or allocate past its budgets, and what it returns must be
// consistent: every index inside its geometry's vertices.
#include <cstddef>
#include <cstdint>

#include "extensions/Shared/VOX/VOXLoader.h"
#include "platform/Foundation/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::shared_ptr<kelvo::Scene> scene;
    try {
        scene = kelvo::loadVOXScene(kelvo::ByteSpan(data, size));
    } catch (const kelvo::Error& e) {
        if (e.code() != -20 && e.code() != -21 && e.code() != -22) __builtin_trap();
        return 0;
    }
    for (const auto& node : scene->rootNode->childNodes()) {
        const kelvo::Geometry& g = *node->geometry;
        const std::int64_t vertices = g.vertexCount();
        for (const auto& source : g.sources) {
            if (source.usableVectorCount() != vertices) __builtin_trap();
        }
        const kelvo::GeometryElement& e = g.elements.at(0);
        if (e.usableTriangleCount() != e.primitiveCount) __builtin_trap();
        for (std::int64_t i = 0; i < 3 * e.primitiveCount; ++i) {
            if (e.index(i) >= vertices) __builtin_trap();
        }
    }
    return 0;
}

// What every importer's output must be, whatever the input: each source holds the vertices
// its geometry declares, each element the primitives it declares, each index names a
// vertex, and each element has its material. A breach stops the fuzzer.
#pragma once

#include "platform/ModelIO/ModelIO.h"

namespace kelvo::fuzz {

inline void checkGeometry(const Geometry& g) {
    const std::int64_t vertices = g.vertexCount();
    for (const GeometrySource& source : g.sources) {
        if (source.usableVectorCount() != vertices) __builtin_trap();
    }
    if (g.materials.size() != g.elements.size()) __builtin_trap();
    for (const GeometryElement& e : g.elements) {
        const bool points = e.primitiveType == PrimitiveType::point;
        const std::int64_t usable = points ? e.usablePointCount() : e.usableTriangleCount();
        if (usable != e.primitiveCount || usable <= 0) __builtin_trap();
        for (std::int64_t i = 0; i < (points ? 1 : 3) * usable; ++i) {
            if (e.index(i) >= vertices) __builtin_trap();
        }
    }
}

inline void checkNode(const Node& node) {
    if (node.geometry) checkGeometry(*node.geometry);
    for (const auto& child : node.childNodes())
        checkNode(*child);
}

inline void checkAsset(const ModelAsset& asset) {
    for (const auto& object : asset.objects)
        checkNode(*object);
}

}  // namespace kelvo::fuzz

// Test-only views of what an importer made: the one geometry of a model, its sources as
// plain floats and its elements as plain indices, and a check that every buffer agrees
// with its counts and every index names a vertex.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/ModelIO/ModelIO.h"

namespace kelvo::test {

inline std::vector<float> floats(const GeometrySource* source) {
    if (!source) return {};
    std::vector<float> out(static_cast<size_t>(source->vectorCount * source->componentsPerVector));
    std::memcpy(out.data(), source->data->data(), out.size() * 4);
    return out;
}

inline std::vector<std::uint32_t> indices(const GeometryElement& element) {
    const size_t perPrimitive = element.primitiveType == PrimitiveType::point ? 1 : 3;
    std::vector<std::uint32_t> out(static_cast<size_t>(element.primitiveCount) * perPrimitive);
    std::memcpy(out.data(), element.data->data(), out.size() * 4);
    return out;
}

// The geometry of top-level object `i` (which must have one).
inline const Geometry& geometryOf(const ModelAsset& asset, size_t i = 0) {
    static const Geometry none;
    if (i >= asset.objects.size() || !asset.objects[i]->geometry) {
        ADD_FAILURE() << "no geometry in object " << i;
        return none;
    }
    return *asset.objects[i]->geometry;
}

inline void expectConsistent(const Geometry& g) {
    const std::int64_t vertices = g.vertexCount();
    for (const GeometrySource& s : g.sources) {
        EXPECT_EQ(s.vectorCount, vertices) << semanticName(s.semantic);
        EXPECT_EQ(s.usableVectorCount(), vertices) << semanticName(s.semantic);
    }
    EXPECT_TRUE(g.materials.empty() || g.materials.size() == g.elements.size());
    for (const GeometryElement& e : g.elements) {
        EXPECT_GT(e.primitiveCount, 0);
        for (std::uint32_t index : indices(e))
            ASSERT_LT(index, static_cast<std::uint64_t>(vertices));
    }
}

inline void expectConsistent(const ModelAsset& asset) {
    for (const auto& object : asset.objects) {
        if (object->geometry) expectConsistent(*object->geometry);
    }
}

}  // namespace kelvo::test

#include "extensions/KelvoThumbnail/SceneBudget.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace kelvo {

namespace {

std::int64_t usableTriangles(const Geometry& geometry) {
    std::int64_t n = 0;
    for (const GeometryElement& element : geometry.elements)
        n += element.usableTriangleCount();
    return n;
}

struct GeometryUse {
    std::int64_t triangles = 0;
    std::vector<Node*> nodes;
};

// Geometries by identity, with every node that shows them: a shared geometry is thinned
// once for all its instances.
std::map<Geometry*, GeometryUse> collectGeometries(Node& root) {
    std::map<Geometry*, GeometryUse> uses;
    auto visit = [&](Node& node) {
        if (!node.geometry) return;
        GeometryUse& use = uses[node.geometry.get()];
        if (use.nodes.empty()) use.triangles = usableTriangles(*node.geometry);
        use.nodes.push_back(&node);
    };
    visit(root);
    root.enumerateChildNodes([&](Node& node, bool&) { visit(node); });
    return uses;
}

// Keeps `keep` (< total) of the geometry's `total` triangles at an even stride through all
// its triangle elements. Each element keeps its place, so each keeps its material; point
// elements stay as they are.
void thin(Geometry& geometry, std::int64_t total, std::int64_t keep) {
    std::int64_t written = 0, seen = 0;
    for (GeometryElement& element : geometry.elements) {
        const std::int64_t count = element.usableTriangleCount();
        if (count == 0) continue;
        ByteBuffer indices(static_cast<size_t>(std::min(count, keep - written)) * 12);
        std::uint8_t* out = indices.data();
        std::int64_t kept = 0;
        for (std::int64_t t = 0; t < count && written < keep; ++t, ++seen) {
            // Triangle `seen` starts a new step of keep / total exactly when
            // seen * keep mod total < keep; that picks `keep` triangles, evenly spaced.
            // 128-bit, since both factors may approach 2^32.
            using Wide = unsigned __int128;
            if (Wide(seen) * Wide(keep) % Wide(total) >= Wide(keep)) continue;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t index = element.index(t * 3 + k);
                std::memcpy(out, &index, 4);
                out += 4;
            }
            ++written;
            ++kept;
        }
        indices.resize(static_cast<size_t>(kept) * 12);
        element = GeometryElement::triangles(std::move(indices), kept);
    }
}

}  // namespace

std::int64_t drawnTriangleCount(const Node& root) {
    std::int64_t n = root.geometry ? usableTriangles(*root.geometry) : 0;
    for (const auto& child : root.childNodes())
        n += drawnTriangleCount(*child);
    return n;
}

std::int64_t drawnPointCount(const Node& root) {
    std::int64_t n = 0;
    if (root.geometry) {
        for (const GeometryElement& element : root.geometry->elements)
            n += element.usablePointCount();
    }
    for (const auto& child : root.childNodes())
        n += drawnPointCount(*child);
    return n;
}

SceneBudgetOutcome fitSceneToTriangleBudget(Scene& scene, std::int64_t triangleBudget) {
    SceneBudgetOutcome outcome;
    std::map<Geometry*, GeometryUse> uses = collectGeometries(*scene.rootNode);
    for (const auto& [geometry, use] : uses) {
        outcome.trianglesBefore += use.triangles * static_cast<std::int64_t>(use.nodes.size());
    }
    outcome.trianglesAfter = outcome.trianglesBefore;
    if (triangleBudget <= 0 || outcome.trianglesBefore <= triangleBudget) return outcome;

    outcome.trianglesAfter = 0;
    for (auto& [geometry, use] : uses) {
        const auto instances = static_cast<std::int64_t>(use.nodes.size());
        // Rounded down, so the sum stays within the budget. The product cannot overflow:
        // a geometry's triangles are bounded by its buffers, far below 2^31 each here.
        const std::int64_t keep = static_cast<std::int64_t>(
            static_cast<long double>(use.triangles) * triangleBudget / outcome.trianglesBefore);
        if (keep <= 0) {
            if (use.triangles > 0) {
                // A geometry that also has points keeps them.
                if (geometry->pointCount() > 0) {
                    thin(*geometry, use.triangles, 0);
                } else {
                    for (Node* node : use.nodes)
                        node->geometry = nullptr;
                }
                ++outcome.geometriesDropped;
            }
            continue;
        }
        if (keep < use.triangles) {
            thin(*geometry, use.triangles, keep);
            ++outcome.geometriesThinned;
        }
        outcome.trianglesAfter += std::min(keep, use.triangles) * instances;
    }
    return outcome;
}

}  // namespace kelvo

// Surface evaluation after visibility: what a triangle (or point) of the frame looks like
// through one raster point.
//
// The surface point is found by intersecting the pixel's view ray with the triangle in view
// space. That gives perspective-correct attributes directly (barycentric weights, and from
// their derivatives the UV footprint of a pixel for texture filtering) and needs no
// per-vertex data from the vertex step, so it works the same for triangles that were
// clipped. An orthographic camera's rays are parallel; the same algebra serves with the
// ray's origin moved into the vectors (see setup()).
//
// Material: base colour = texture (decoded to linear) x vertex colour x diffuse colour, and
// alpha likewise; metalness and roughness times the blue and green of their texture;
// emission (colour x intensity x texture) added after lighting. Points have no texture:
// lit by their normal where they have one, else shown in their flat colour.
//
// One Shader per band and step: its cache (1024 triangles) is its only allocation.
#pragma once

#include <memory>
#include <type_traits>
#include <vector>

#include "platform/Renderer/Frame.h"

namespace kelvo::render {

// What shading needs of one triangle, independent of the pixel. Neighbouring pixels mostly
// see the same triangles, so this is computed once and kept in a small cache.
struct TriangleSetup {
    std::uint32_t id = noTriangle;
    const DrawCall* draw = nullptr;
    Float3 p0, e1, e2;  // view space: corner 0 and the edges to corners 1 and 2
    // For a view ray d from the eye: det = d . detVector, and the barycentric weights of
    // corners 1 and 2 where the ray meets the triangle's plane are d . uVector / det and
    // d . vVector / det (the ray-triangle intersection solved once for all rays).
    Float3 detVector, uVector, vVector;
    Float3 faceNormal;  // unit, on the front side; zero for a point
    bool point = false;
    // Normals interpolated across the triangle. A triangle whose three corners carry one
    // and the same normal (a facet, as STL stores them) is not smooth: its shading normal
    // is that normal once, which interpolation would only give back with rounding.
    bool smooth = false;
    Float3 normals[3];     // view space, not normalised
    Float3 shadingNormal;  // unit: used when not smooth (a triangle's facet or face normal)
    bool colored = false;
    Float3 colors[3];  // linear
    float alphas[3] = {1, 1, 1};
    bool mapped = false;  // has texture coordinates
    float uvs[3][2] = {};
};

struct ShadedSample {
    Float3 color;  // linear, tone-mapped (unlit surfaces as they are)
    float alpha = 1;
};

// The cache never destroys its slots.
static_assert(std::is_trivially_destructible_v<TriangleSetup>);

class Shader {
public:
    explicit Shader(const FramePlan& plan);

    // Triangle or point `id` seen through raster point (sx, sy) (pixels).
    ShadedSample shade(std::uint32_t id, float sx, float sy);
    // Only its alpha (the alpha test of masked draws).
    float alphaAt(std::uint32_t id, float sx, float sy);

    const TriangleSetup& setup(std::uint32_t id);
    const DrawCall& findDraw(std::uint32_t id);

    static constexpr size_t cacheSize = 1024;  // about the distinct triangles of a row

    // Neighbouring pixels of a dense mesh show triangles from all over its buffers, so
    // setting one up waits on memory. Pixels ahead are announced in two steps: first their
    // index triples are fetched, a few pixels later (when those have arrived) their
    // vertices.
    static constexpr int fetchIndicesAhead = 16, fetchVerticesAhead = 8;
    void prefetchIndices(std::uint32_t id);
    void prefetchVertices(std::uint32_t id);

private:
    struct Location;
    Location locate(const TriangleSetup& tri, float sx, float sy, bool footprint) const;

    const FramePlan& plan_;
    size_t lastDraw_ = 0;
    std::uint32_t lastIndicesFetched_ = noTriangle, lastVerticesFetched_ = noTriangle;
    float rayX_, rayX0_, rayY_, rayY0_, rayZ_;  // view ray through raster point (sx, sy)
    bool orthographic_;
    // The cache: which triangle each slot holds (noTriangle: none yet), and the slots. A
    // slot is constructed when it is first filled: constructing all of them (a quarter of a
    // megabyte) cost more than shading a small model, in writes and in fresh pages.
    struct FreeSlots {
        void operator()(TriangleSetup* slots) const {
            std::allocator<TriangleSetup>().deallocate(slots, cacheSize);
        }
    };
    std::vector<std::uint32_t> cachedIds_ = std::vector<std::uint32_t>(cacheSize, noTriangle);
    std::unique_ptr<TriangleSetup, FreeSlots> slots_{
        std::allocator<TriangleSetup>().allocate(cacheSize)};
};

}  // namespace kelvo::render

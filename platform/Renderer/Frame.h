// Inside the renderer: the plan of one frame and the sample buffers it is drawn into.
//
// A frame runs in three steps, each in its own file:
//   FramePlan.cpp   walks the scene once: camera, lights, and one draw per geometry element
//                   with its matrices and material, in tree order; it never reads vertices;
//   Rasterizer.cpp  per band of rows: projects each draw's vertices (once each when
//                   triangles share them), sets up and culls triangles, and writes depth
//                   and triangle id per sample (a visibility buffer; nothing is shaded);
//                   points become small discs the same way;
//   Resolve.cpp     shades each pixel once per distinct triangle among its samples and
//                   writes the 8-bit result.
// Shading after visibility keeps the cost of lighting proportional to pixels, not to
// triangles, which is what makes million-triangle models cheap at thumbnail sizes.
//
// Two kinds of material need more. Alpha-masked draws are tested per sample while the
// visibility buffer is written (a sample whose alpha falls below the cutoff is not covered),
// through the same surface evaluation the resolve uses. Blended draws stay out of the
// visibility buffer: after the opaque samples are shaded into a colour per sample, their
// triangles, sorted farthest first, are tested against the opaque depth (never writing it),
// shaded once per pixel and composited over the samples they cover (Blend.cpp).
//
// Spaces: a geometry's own space (model); world; view (camera at the origin looking along
// -Z, +Y up, right-handed); clip (X, Y, W) with W the distance in front of the camera and
// X / W, Y / W the raster position in pixels; raster in 1/256 pixel units (fixed point).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/Imaging/RGBAImage.h"
#include "platform/Renderer/Renderer.h"
#include "platform/Renderer/Shading.h"
#include "platform/SceneKit/Node.h"

namespace kelvo::render {

using shading::Float3;

inline constexpr int subpixelBits = 8;
inline constexpr int subpixelScale = 1 << subpixelBits;
inline constexpr int samplesPerPixel = 4;
// Sample q of a pixel, in 1/256 pixel from the pixel's top-left corner. Sample q lies in
// quarter row q, so a row of samples across the image is every pixel's sample q.
inline constexpr int sampleX[samplesPerPixel] = {96, 224, 32, 160};
inline constexpr int sampleY[samplesPerPixel] = {32, 96, 160, 224};

// Vertices up to this many pixels outside the image take the fast path. With the image at
// most 8192 pixels, raster coordinates stay within +-2^23 subpixels, edge functions within
// 2^48: int64 holds them exactly.
inline constexpr float guardBand = 8192;

inline constexpr std::uint32_t noTriangle = 0xFFFFFFFF;

struct FrameCamera {
    int width = 0, height = 0;
    // Orthographic: raster position is an affine map of view position, the third clip
    // coordinate is the distance along the view axis and depth is its negative (still
    // "larger is nearer", and affine in raster space as depth must be). W is then 1.
    bool orthographic = false;
    double focalX = 1, focalY = 1;  // pixels per unit of X / W and Y / W
    double centerX = 0, centerY = 0;
    // Geometry nearer than zNear is clipped, beyond zFar (infinity when the range is fitted
    // automatically) not drawn.
    double zNear = 1, zFar = 100;
    Mat4 view = Mat4::identity();  // world to view
};

// A 3x4 affine map in the row-vector convention, applied to (p - origin): rows 0..2 are the
// linear part, row 3 the translation. Floats, because it runs once per vertex; rows padded
// to four lanes so that the compiler maps a product to a few vector operations.
struct AffineMap {
    alignas(16) float m[4][4] = {};

    Float3 apply(Float3 p) const {
        float r[4];
        for (int j = 0; j < 4; ++j)
            r[j] = p.x * m[0][j] + p.y * m[1][j] + p.z * m[2][j] + m[3][j];
        return {r[0], r[1], r[2]};
    }
    Float3 applyLinear(Float3 d) const {
        float r[4];
        for (int j = 0; j < 4; ++j)
            r[j] = d.x * m[0][j] + d.y * m[1][j] + d.z * m[2][j];
        return {r[0], r[1], r[2]};
    }
};

// A float-triple source as raw bytes, for the inner loops.
struct TripleStream {
    const std::uint8_t* bytes = nullptr;  // the first vector
    std::int64_t stride = 0;
    std::int64_t count = 0;  // vectors the buffer really holds; 0 when absent

    Float3 operator[](std::int64_t i) const {
        float v[3];
        std::memcpy(v, bytes + i * stride, 12);
        return {v[0], v[1], v[2]};
    }
};

// A float-pair source (texture coordinates) as raw bytes.
struct PairStream {
    const std::uint8_t* bytes = nullptr;
    std::int64_t stride = 0;
    std::int64_t count = 0;

    void read(std::int64_t i, float out[2]) const { std::memcpy(out, bytes + i * stride, 8); }
};

// A material's texture slot, ready to sample (TextureSampling.h): the decoded levels, the
// sampler and the texture transform as a 2x3 matrix applied to (u, v, 1).
struct TextureBinding {
    const std::vector<RGBAImage>* levels = nullptr;  // null: no texture
    TextureWrap wrapS = TextureWrap::repeat, wrapT = TextureWrap::repeat;
    bool nearestMagnification = false;
    bool srgb = false;  // colour data, decoded to linear before filtering
    float transform[2][3] = {{1, 0, 0}, {0, 1, 0}};

    explicit operator bool() const { return levels != nullptr; }
};

// Everything about a draw's material beyond the lighting model's inputs.
struct DrawMaterial {
    float baseAlpha = 1;  // the diffuse colour's alpha
    Float3 emission;      // linear, times its intensity; added after lighting
    AlphaMode alphaMode = AlphaMode::opaque;
    float alphaCutoff = 0.5f;
    TextureBinding baseColor, metalnessRoughness, emissionTexture;

    bool textured() const { return baseColor || metalnessRoughness || emissionTexture; }
};

// One geometry element of one node. The pointers borrow from the scene, which outlives the
// frame. Counts are what the buffers really hold.
struct DrawCall {
    TripleStream positions;
    TripleStream normals;  // count 0 when absent or unusable
    TripleStream colors;
    bool colorAlpha = false;  // the colours are quadruples: alpha at byte 12
    PairStream texcoords;     // the first UV set; count 0 when absent
    const std::uint8_t* indices = nullptr;
    int bytesPerIndex = 4;  // 1, 2 or 4
    bool points = false;    // one index per primitive, drawn as a disc
    std::int64_t primitiveCount = 0;
    std::uint32_t firstId = 0;  // primitive t has id firstId + t in the visibility buffer

    // Model positions are taken relative to `origin` (one of the geometry's vertices) before
    // any transform, so that a model far from its own origin keeps float precision.
    Float3 origin;
    AffineMap toClip;        // (p - origin) to (X, Y, W)
    AffineMap toView;        // (p - origin) to view space
    AffineMap normalToView;  // inverse transpose of the model-to-view linear part
    bool mirrored = false;   // the model-to-view transform has a negative determinant
    bool cullBackFaces = true;
    shading::Surface surface;  // base colour linear; vertex colours multiply it
    DrawMaterial material;

    bool masked() const { return material.alphaMode == AlphaMode::mask && !points; }
    bool blended() const { return material.alphaMode == AlphaMode::blend && !points; }

    std::uint32_t index(std::int64_t i) const {
        const std::uint8_t* p = indices + i * bytesPerIndex;
        if (bytesPerIndex == 4) {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        if (bytesPerIndex == 2) {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        return p[0];
    }
};

struct DirectionalLight {
    Float3 towardLight;  // view space, unit
    Float3 radiance;
};
struct PointLight {
    Float3 position;  // view space
    Float3 radiance;
    bool isSpot = false;
    Float3 spotDirection;  // view space, unit: where the spot shines
};

struct FrameLights {
    std::vector<DirectionalLight> directional;
    std::vector<PointLight> points;
    Float3 ambient;
};

struct FramePlan {
    FrameCamera camera;
    bool cameraCanSee = false;
    std::vector<DrawCall> draws;  // in id order
    FrameLights lights;
    float background[4] = {0, 0, 0, 0};  // linear, premultiplied
    float pointRadius = 1;               // pixels

    bool hasBlending() const {
        for (const DrawCall& draw : draws)
            if (draw.blended()) return true;
        return false;
    }
};

FramePlan planFrame(const Scene& scene, const Node& pointOfView, int width, int height,
                    const RenderOptions& options = {});

// Depth and triangle id of every sample of rows [rowBegin, rowEnd); sample q of pixel
// (x, y) at index ((y - rowBegin) * width + x) * 4 + q. Depth is 1 / W, so larger is
// nearer, and starts at 1 / zFar: anything beyond the far plane fails the test. In float,
// 1 / W keeps the same relative precision at every distance.
struct VisibilityBuffer {
    int width = 0;
    int rowBegin = 0, rowEnd = 0;
    // Not zeroed when they grow: reset() clears them to their own values.
    std::vector<float, DefaultInitAllocator<float>> depth;
    std::vector<std::uint32_t, DefaultInitAllocator<std::uint32_t>> ids;

    void reset(int rows, int begin, int end, float clearDepth);
};

// Per-vertex result of the vertex step: raster position, depth and why the fast path
// cannot take it.
struct RasterVertex {
    std::int32_t x = 0, y = 0;  // 1/256 pixel
    float depth = 0;            // 1 / W
    std::uint32_t outside = 0;  // non-zero: behind the near plane, beyond the guard band or
                                // not finite
};

class Shader;

// Draws every triangle or point of `draw` (not blended) into `buffer`. `scratch` is reused
// between calls so that nothing is allocated per draw once it is large enough. A masked
// draw asks `shader` (required then) for each sample's alpha.
void rasterizeDraw(const DrawCall& draw, const FramePlan& plan, VisibilityBuffer& buffer,
                   std::vector<RasterVertex>& scratch, Shader* shader);

// Shades the rows of `buffer` into `image`.
void resolveBand(const FramePlan& plan, const VisibilityBuffer& buffer, RGBAImage& image);

// Linear premultiplied RGBA per sample of a band, laid out as the visibility buffer's.
using SampleColors = std::vector<std::array<float, 4>>;

// With blended draws: shades the rows of `buffer` into one colour per sample (the
// background where nothing is), composites the blended triangles over them, farthest
// first, and writes the band of `image`. `order` is the blended triangles' ids, sorted.
void resolveBlendedBand(const FramePlan& plan, const std::vector<std::uint32_t>& order,
                        const VisibilityBuffer& buffer, SampleColors& colors, RGBAImage& image);
// The ids of every blended triangle, farthest (by its centroid) first.
std::vector<std::uint32_t> sortBlendedTriangles(const FramePlan& plan);

// The samples of the band that blended triangle `id` covers in front of the opaque depth:
// sets their bits in masks[pixel of the band] and appends each pixel it touches first to
// `touched`. The caller clears the masks it has used.
void rasterizeBlended(const FramePlan& plan, std::uint32_t id, const VisibilityBuffer& buffer,
                      std::vector<std::uint8_t>& masks, std::vector<std::uint32_t>& touched);

// renderSnapshot (Renderer.h) with sample buffers of about `bandBudget` bytes, at least one
// row, on at most `threadLimit` threads (large models use two); exposed so that tests can
// cut small images into many bands and compare one thread with two.
std::optional<RGBAImage> renderInBands(const Scene& scene, const Node& pointOfView, int width,
                                       int height, size_t bandBudget,
                                       const RenderOptions& options = {}, int threadLimit = 2);

// Low level, exposed for tests: writes one triangle given in raster fixed point, with
// depths, as triangle `id`, whatever its orientation (no culling).
void rasterizeTriangle(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                       std::uint32_t id, VisibilityBuffer& buffer);

}  // namespace kelvo::render

// Shading after visibility: each pixel is shaded once for every distinct triangle among its
// four samples, at the centre of the samples that triangle covers, and the results are
// weighted by how many samples each covers. Triangles of one pixel that would shade alike
// (see shadeAlike) share one shade: on a finely tessellated model most pixels hold several
// tiny triangles of one smooth surface, and shading each would multiply the work.
//
// The surface point is found by intersecting the pixel's view ray with the triangle in view
// space. That gives perspective-correct attributes directly and needs no per-vertex data
// from the vertex step, so it works the same for triangles that were clipped.
//
// One Shader per band: its cache (1024 triangles, ~200 KB) is the only allocation.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/Renderer/Frame.h"

namespace kelvo::render {

namespace {

using shading::normalize;

// Linear 0..1 to 8-bit sRGB; fine enough that neighbouring entries differ by less than
// one 8-bit step everywhere.
constexpr int encodeSteps = 8192;
const std::array<std::uint8_t, encodeSteps + 1>& srgbEncodeTable() {
    static const auto table = [] {
        std::array<std::uint8_t, encodeSteps + 1> t{};
        for (int i = 0; i <= encodeSteps; ++i) {
            float v = shading::linearToSrgb(static_cast<float>(i) / encodeSteps);
            t[i] = static_cast<std::uint8_t>(std::lrint(v * 255));
        }
        return t;
    }();
    return table;
}

inline std::uint8_t encode(float linear) {
    const auto& table = srgbEncodeTable();
    float clamped = shading::clamp01(linear);
    return table[static_cast<int>(clamped * encodeSteps + 0.5f)];
}

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
    Float3 faceNormal;  // unit, on the front side
    bool smooth = false;
    Float3 normals[3];  // view space, not normalised
    bool colored = false;
    Float3 colors[3];  // linear
};

class Shader {
public:
    Shader(const FramePlan& plan) : plan_(plan) {
        const FrameCamera& cam = plan.camera;
        rayX_ = static_cast<float>(1 / cam.focalX);
        rayX0_ = static_cast<float>(-cam.centerX / cam.focalX);
        rayY_ = static_cast<float>(-1 / cam.focalY);
        rayY0_ = static_cast<float>(cam.centerY / cam.focalY);
    }

    // The linear, tone-mapped colour (unlit surfaces as they are) of triangle `id` seen
    // through raster point (sx, sy) (pixels).
    Float3 shade(std::uint32_t id, float sx, float sy) {
        const TriangleSetup& tri = setup(id);
        const DrawCall& draw = *tri.draw;

        Float3 ray{sx * rayX_ + rayX0_, sy * rayY_ + rayY0_, -1.0f};

        float bary[3] = {1.0f / 3, 1.0f / 3, 1.0f / 3};
        float det = dot(ray, tri.detVector);
        if (det != 0) {
            float inv = 1 / det;
            float u = std::max(dot(ray, tri.uVector) * inv, 0.0f);
            float v = std::max(dot(ray, tri.vVector) * inv, 0.0f);
            // Snapping can put a sample a hair outside its triangle; stay on it.
            if (u + v > 1) {
                float s = 1 / (u + v);
                u *= s, v *= s;
            }
            if (std::isfinite(u) && std::isfinite(v)) bary[0] = 1 - u - v, bary[1] = u, bary[2] = v;
        }
        Float3 position = tri.p0 + tri.e1 * bary[1] + tri.e2 * bary[2];
        Float3 toEye = normalize(-position);
        if (dot(toEye, toEye) == 0) toEye = normalize(-ray);

        Float3 normal = tri.faceNormal;
        if (tri.smooth) {
            Float3 n = normalize(tri.normals[0] * bary[0] + tri.normals[1] * bary[1] +
                                 tri.normals[2] * bary[2]);
            if (dot(n, n) > 0) normal = n;
        }
        // Seen from behind (a double-sided material): light the side that is seen.
        if (dot(tri.faceNormal, toEye) < 0) normal = -normal;

        shading::Surface surface = draw.surface;
        if (tri.colored) {
            surface.baseColor =
                surface.baseColor *
                (tri.colors[0] * bary[0] + tri.colors[1] * bary[1] + tri.colors[2] * bary[2]);
        }
        if (surface.model == shading::SurfaceModel::constant) return surface.baseColor;

        const FrameLights& lights = plan_.lights;
        Float3 color = shading::shadeAmbient(surface, normal, toEye, lights.ambient);
        for (const DirectionalLight& light : lights.directional) {
            color = color +
                    shading::shadeDirect(surface, normal, toEye, light.towardLight, light.radiance);
        }
        for (const PointLight& light : lights.points) {
            Float3 toLight = normalize(light.position - position);
            if (dot(toLight, toLight) == 0) continue;
            Float3 radiance = light.radiance;
            if (light.isSpot)
                radiance = radiance * shading::spotFactor(dot(-toLight, light.spotDirection));
            color = color + shading::shadeDirect(surface, normal, toEye, toLight, radiance);
        }
        return shading::toneMap(color);
    }

    static constexpr size_t cacheSize = 1024;  // about the distinct triangles of a row

    // Neighbouring pixels of a dense mesh show triangles from all over its buffers, so
    // setting one up waits on memory. Pixels ahead are announced in two steps: first their
    // index triples are fetched, a few pixels later (when those have arrived) their
    // vertices.
    static constexpr int fetchIndicesAhead = 16, fetchVerticesAhead = 8;
    void prefetchIndices(std::uint32_t id) {
        if (id == lastIndicesFetched_ || id == noTriangle || cache_[id & (cacheSize - 1)].id == id)
            return;
        lastIndicesFetched_ = id;
        const DrawCall& draw = findDraw(id);
        __builtin_prefetch(draw.indices +
                           static_cast<std::int64_t>(id - draw.firstId) * 3 * draw.bytesPerIndex);
    }
    void prefetchVertices(std::uint32_t id) {
        if (id == lastVerticesFetched_ || id == noTriangle || cache_[id & (cacheSize - 1)].id == id)
            return;
        lastVerticesFetched_ = id;
        const DrawCall& draw = findDraw(id);
        std::int64_t t = static_cast<std::int64_t>(id - draw.firstId);
        for (int k = 0; k < 3; ++k) {
            std::int64_t i = draw.index(3 * t + k);
            if (i < draw.positions.count)
                __builtin_prefetch(draw.positions.bytes + i * draw.positions.stride);
            if (i < draw.normals.count)
                __builtin_prefetch(draw.normals.bytes + i * draw.normals.stride);
        }
    }

    const TriangleSetup& setup(std::uint32_t id) {
        TriangleSetup& tri = cache_[id & (cacheSize - 1)];
        if (tri.id == id) return tri;
        const DrawCall& draw = findDraw(id);
        std::int64_t t = static_cast<std::int64_t>(id - draw.firstId);
        std::int64_t index[3];
        for (int k = 0; k < 3; ++k)
            index[k] = draw.index(3 * t + k);
        Float3 p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = draw.toView.apply(draw.positions[index[k]] - draw.origin);

        tri.id = id;
        tri.draw = &draw;
        tri.p0 = p[0];
        tri.e1 = p[1] - p[0];
        tri.e2 = p[2] - p[0];
        Float3 toCorner0 = -p[0];
        tri.detVector = shading::cross(tri.e2, tri.e1);
        tri.uVector = shading::cross(tri.e2, toCorner0);
        tri.vVector = shading::cross(toCorner0, tri.e1);
        // Counter-clockwise as seen is the front; a mirroring transform turns that around.
        tri.faceNormal = normalize(shading::cross(tri.e1, tri.e2));
        if (draw.mirrored) tri.faceNormal = -tri.faceNormal;

        const TripleStream& normals = draw.normals;
        tri.smooth =
            index[0] < normals.count && index[1] < normals.count && index[2] < normals.count;
        for (int k = 0; tri.smooth && k < 3; ++k) {
            tri.normals[k] = draw.normalToView.applyLinear(normals[index[k]]);
            tri.smooth = std::isfinite(dot(tri.normals[k], tri.normals[k]));
        }
        const TripleStream& colors = draw.colors;
        tri.colored = index[0] < colors.count && index[1] < colors.count && index[2] < colors.count;
        for (int k = 0; tri.colored && k < 3; ++k) {
            Float3 c = colors[index[k]];
            tri.colors[k] = shading::srgbToLinear(c);
            tri.colored = std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.z);
        }
        return tri;
    }

private:
    const DrawCall& findDraw(std::uint32_t id) {
        const std::vector<DrawCall>& draws = plan_.draws;
        const DrawCall& last = draws[lastDraw_];
        if (id >= last.firstId &&
            id - last.firstId < static_cast<std::uint64_t>(last.triangleCount)) {
            return last;
        }
        auto it =
            std::upper_bound(draws.begin(), draws.end(), id,
                             [](std::uint32_t v, const DrawCall& d) { return v < d.firstId; });
        lastDraw_ = static_cast<size_t>(it - draws.begin()) - 1;
        return draws[lastDraw_];
    }

    const FramePlan& plan_;
    size_t lastDraw_ = 0;
    std::uint32_t lastIndicesFetched_ = noTriangle, lastVerticesFetched_ = noTriangle;
    float rayX_, rayX0_, rayY_, rayY0_;  // view ray through raster point (sx, sy)
    std::vector<TriangleSetup> cache_ = std::vector<TriangleSetup>(cacheSize);
};

}  // namespace

namespace {

// What decides whether two triangles in one pixel would shade alike.
struct ShadingKey {
    const DrawCall* draw;
    Float3 faceNormal;
    bool colored;
    Float3 color;  // mean of the corners
};

ShadingKey keyOf(const TriangleSetup& tri) {
    Float3 mean =
        tri.colored ? (tri.colors[0] + tri.colors[1] + tri.colors[2]) * (1.0f / 3) : Float3{};
    return {tri.draw, tri.faceNormal, tri.colored, mean};
}

// Neighbouring triangles of one smooth surface: same draw (so same material and
// matrices), normals within about 8 degrees, the same colour. With no shadows in the
// model, their colours then differ by less than the normals do, so one shade serves the
// samples of both. A crease, a silhouette against another part, or a colour boundary
// keeps its own shade and stays antialiased.
bool shadeAlike(const ShadingKey& a, const ShadingKey& b) {
    constexpr float cosLimit = 0.99f;
    constexpr float colorLimit = 1.0f / 512;
    if (a.draw != b.draw || dot(a.faceNormal, b.faceNormal) < cosLimit) return false;
    if (a.colored != b.colored) return false;
    if (!a.colored) return true;
    Float3 d = a.color - b.color;
    return std::fabs(d.x) < colorLimit && std::fabs(d.y) < colorLimit &&
           std::fabs(d.z) < colorLimit;
}

}  // namespace

void resolveBand(const FramePlan& plan, const VisibilityBuffer& buffer, RGBAImage& image) {
    Shader shader(plan);
    const float* bg = plan.background;
    // Only a mesh denser than the pixels scatters its triangles enough for the prefetching
    // to pay; on a coarse one it would only cost.
    std::int64_t triangles = 0;
    for (const DrawCall& draw : plan.draws)
        triangles += draw.triangleCount;
    const bool prefetching = triangles > std::int64_t{plan.camera.width} * plan.camera.height;
    for (int y = buffer.rowBegin; y < buffer.rowEnd; ++y) {
        const std::uint32_t* rowIds = buffer.ids.data() + static_cast<size_t>(y - buffer.rowBegin) *
                                                              buffer.width * samplesPerPixel;
        std::uint8_t* out = image.pixel(0, y);
        for (int x = 0; x < buffer.width; ++x, out += 4) {
            const std::uint32_t* ids = rowIds + static_cast<size_t>(x) * samplesPerPixel;
            if (prefetching && x + Shader::fetchIndicesAhead < buffer.width) {
                const std::uint32_t* ahead = ids + Shader::fetchIndicesAhead * samplesPerPixel;
                for (int q = 0; q < samplesPerPixel; ++q)
                    shader.prefetchIndices(ahead[q]);
            }
            if (prefetching && x + Shader::fetchVerticesAhead < buffer.width) {
                const std::uint32_t* ahead = ids + Shader::fetchVerticesAhead * samplesPerPixel;
                for (int q = 0; q < samplesPerPixel; ++q)
                    shader.prefetchVertices(ahead[q]);
            }
            if ((ids[0] & ids[1] & ids[2] & ids[3]) == noTriangle) continue;  // background

            // The distinct triangles among the samples, with the samples each covers.
            std::uint32_t unique[samplesPerPixel];
            int count[samplesPerPixel] = {}, sumX[samplesPerPixel] = {}, sumY[samplesPerPixel] = {};
            int distinct = 0, covered = 0;
            for (int q = 0; q < samplesPerPixel; ++q) {
                if (ids[q] == noTriangle) continue;
                ++covered;
                int j = 0;
                while (j < distinct && unique[j] != ids[q])
                    ++j;
                if (j == distinct) unique[distinct++] = ids[q];
                ++count[j];
                sumX[j] += sampleX[q];
                sumY[j] += sampleY[q];
            }
            if (distinct > 1) {
                // Largest share first, so that a merged group is shaded on the triangle
                // that covers most of it.
                for (int j = 1; j < distinct; ++j) {
                    for (int k = j; k > 0 && count[k] > count[k - 1]; --k) {
                        std::swap(unique[k], unique[k - 1]);
                        std::swap(count[k], count[k - 1]);
                        std::swap(sumX[k], sumX[k - 1]);
                        std::swap(sumY[k], sumY[k - 1]);
                    }
                }
                ShadingKey keys[samplesPerPixel];
                for (int j = 0; j < distinct; ++j)
                    keys[j] = keyOf(shader.setup(unique[j]));
                for (int j = 1; j < distinct; ++j) {
                    for (int k = 0; k < j; ++k) {
                        if (count[k] == 0 || !shadeAlike(keys[k], keys[j])) continue;
                        count[k] += count[j];
                        sumX[k] += sumX[j];
                        sumY[k] += sumY[j];
                        count[j] = 0;
                        break;
                    }
                }
            }
            float premultiplied[3] = {0, 0, 0};
            for (int j = 0; j < distinct; ++j) {
                if (count[j] == 0) continue;
                float sx = x + sumX[j] / (float(count[j]) * subpixelScale);
                float sy = y + sumY[j] / (float(count[j]) * subpixelScale);
                Float3 c = shader.shade(unique[j], sx, sy);
                float weight = count[j] / float(samplesPerPixel);
                premultiplied[0] += c.x * weight;
                premultiplied[1] += c.y * weight;
                premultiplied[2] += c.z * weight;
            }
            float coverage = covered / float(samplesPerPixel);
            float rest = 1 - coverage;
            float alpha = coverage + rest * bg[3];
            for (int k = 0; k < 3; ++k)
                out[k] = encode((premultiplied[k] + rest * bg[k]) / alpha);
            out[3] = static_cast<std::uint8_t>(std::lrint(alpha * 255));
        }
    }
}

}  // namespace kelvo::render

// The Shader's member functions, inline: the resolve calls them once or more per pixel, and
// inlined into its loops they cost markedly less than called across files. Included by the
// files that shade (Resolve.cpp, Blend.cpp) and test alpha (Rasterizer.cpp).
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/Renderer/Shader.h"
#include "platform/Renderer/TextureSampling.h"

namespace kelvo::render {

// Where a raster point meets a triangle: its barycentric weights, the ray, and (when asked)
// the UV footprint.
struct Shader::Location {
    float bary[3] = {1.0f / 3, 1.0f / 3, 1.0f / 3};
    Float3 ray;
    UVFootprint uv;
};

inline Shader::Shader(const FramePlan& plan) : plan_(plan) {
    const FrameCamera& cam = plan.camera;
    rayX_ = static_cast<float>(1 / cam.focalX);
    rayX0_ = static_cast<float>(-cam.centerX / cam.focalX);
    rayY_ = static_cast<float>(-1 / cam.focalY);
    rayY0_ = static_cast<float>(cam.centerY / cam.focalY);
    // Perspective: the direction from the eye. Orthographic: (x, y, 1) with (x, y) where the
    // ray starts on the camera's plane, as setup() expects.
    orthographic_ = cam.orthographic;
    rayZ_ = cam.orthographic ? 1.0f : -1.0f;
}

inline Shader::Location Shader::locate(const TriangleSetup& tri, float sx, float sy,
                                       bool footprint) const {
    Location at;
    at.ray = {sx * rayX_ + rayX0_, sy * rayY_ + rayY0_, rayZ_};
    if (tri.point) return at;
    float det = dot(at.ray, tri.detVector);
    if (det == 0) return at;
    float inv = 1 / det;
    float uRaw = dot(at.ray, tri.uVector) * inv, vRaw = dot(at.ray, tri.vVector) * inv;
    float u = std::max(uRaw, 0.0f);
    float v = std::max(vRaw, 0.0f);
    // Snapping can put a sample a hair outside its triangle; stay on it.
    if (u + v > 1) {
        float s = 1 / (u + v);
        u *= s, v *= s;
    }
    if (std::isfinite(u) && std::isfinite(v))
        at.bary[0] = 1 - u - v, at.bary[1] = u, at.bary[2] = v;
    if (footprint && tri.mapped) {
        const float(*t)[2] = tri.uvs;
        at.uv.u = t[0][0] * at.bary[0] + t[1][0] * at.bary[1] + t[2][0] * at.bary[2];
        at.uv.v = t[0][1] * at.bary[0] + t[1][1] * at.bary[1] + t[2][1] * at.bary[2];
        // d(ray . U / ray . D) along raster x is rayX (U.x - u D.x) / (ray . D); likewise y.
        const float dudx = rayX_ * (tri.uVector.x - uRaw * tri.detVector.x) * inv;
        const float dvdx = rayX_ * (tri.vVector.x - vRaw * tri.detVector.x) * inv;
        const float dudy = rayY_ * (tri.uVector.y - uRaw * tri.detVector.y) * inv;
        const float dvdy = rayY_ * (tri.vVector.y - vRaw * tri.detVector.y) * inv;
        for (int k = 0; k < 2; ++k) {
            const float e1 = t[1][k] - t[0][k], e2 = t[2][k] - t[0][k];
            (k ? at.uv.dvdx : at.uv.dudx) = e1 * dudx + e2 * dvdx;
            (k ? at.uv.dvdy : at.uv.dudy) = e1 * dudy + e2 * dvdy;
        }
        if (!std::isfinite(at.uv.dudx + at.uv.dvdx + at.uv.dudy + at.uv.dvdy)) {
            at.uv.dudx = at.uv.dvdx = at.uv.dudy = at.uv.dvdy = 0;
        }
    }
    return at;
}

inline float Shader::alphaAt(std::uint32_t id, float sx, float sy) {
    const TriangleSetup& tri = setup(id);
    const DrawMaterial& material = tri.draw->material;
    Location at = locate(tri, sx, sy, material.baseColor.levels != nullptr);
    float alpha = material.baseAlpha;
    if (tri.colored)
        alpha *=
            tri.alphas[0] * at.bary[0] + tri.alphas[1] * at.bary[1] + tri.alphas[2] * at.bary[2];
    if (material.baseColor) alpha *= sampleTexture(material.baseColor, at.uv).w;
    return alpha;
}

// Kept out of line: the untextured path through shade() stays small enough to be inlined
// into the resolve's loops.
[[gnu::noinline]] inline void applyTextures(const DrawMaterial& material, const UVFootprint& uv,
                                            shading::Surface& surface, float& alpha,
                                            Float3& emission) {
    if (material.baseColor) {
        Float4 t = sampleTexture(material.baseColor, uv);
        surface.baseColor = surface.baseColor * Float3{t.x, t.y, t.z};
        alpha *= t.w;
    }
    if (material.metalnessRoughness) {
        Float4 t = sampleTexture(material.metalnessRoughness, uv);
        surface.roughness *= t.y;
        surface.metalness *= t.z;
    }
    if (material.emissionTexture) {
        Float4 t = sampleTexture(material.emissionTexture, uv);
        emission = emission * Float3{t.x, t.y, t.z};
    }
}

[[gnu::always_inline]] inline ShadedSample Shader::shade(std::uint32_t id, float sx, float sy) {
    const TriangleSetup& tri = setup(id);
    const DrawCall& draw = *tri.draw;
    const DrawMaterial& material = draw.material;
    const bool textured = material.textured();
    Location at = locate(tri, sx, sy, textured);
    const float* bary = at.bary;

    Float3 position = tri.p0 + tri.e1 * bary[1] + tri.e2 * bary[2];
    Float3 toEye = orthographic_ ? Float3{0, 0, 1} : shading::normalize(-position);
    if (dot(toEye, toEye) == 0) toEye = shading::normalize(-at.ray);

    Float3 normal = tri.shadingNormal;
    if (tri.smooth) {
        Float3 n = shading::normalize(tri.normals[0] * bary[0] + tri.normals[1] * bary[1] +
                                      tri.normals[2] * bary[2]);
        if (dot(n, n) > 0) normal = n;
    }
    // Seen from behind (a double-sided material): light the side that is seen.
    if (dot(tri.point ? normal : tri.faceNormal, toEye) < 0) normal = -normal;

    shading::Surface surface = draw.surface;
    ShadedSample out;
    // Opacity only matters to blended surfaces here (masks were tested before).
    const bool blended = material.alphaMode == AlphaMode::blend;
    out.alpha = material.baseAlpha;
    if (tri.colored) {
        surface.baseColor = surface.baseColor * (tri.colors[0] * bary[0] + tri.colors[1] * bary[1] +
                                                 tri.colors[2] * bary[2]);
        if (blended)
            out.alpha *=
                tri.alphas[0] * bary[0] + tri.alphas[1] * bary[1] + tri.alphas[2] * bary[2];
    }
    Float3 emission = material.emission;
    if (textured) applyTextures(material, at.uv, surface, out.alpha, emission);
    // A point without a normal has no side to light: it shows its colour flat.
    if (surface.model == shading::SurfaceModel::constant || (tri.point && !tri.smooth)) {
        out.color = surface.baseColor;
        return out;
    }

    const FrameLights& lights = plan_.lights;
    Float3 color = shading::shadeAmbient(surface, normal, toEye, lights.ambient);
    for (const DirectionalLight& light : lights.directional) {
        color =
            color + shading::shadeDirect(surface, normal, toEye, light.towardLight, light.radiance);
    }
    for (const PointLight& light : lights.points) {
        Float3 toLight = shading::normalize(light.position - position);
        if (dot(toLight, toLight) == 0) continue;
        Float3 radiance = light.radiance;
        if (light.isSpot)
            radiance = radiance * shading::spotFactor(dot(-toLight, light.spotDirection));
        color = color + shading::shadeDirect(surface, normal, toEye, toLight, radiance);
    }
    if (emission.x > 0 || emission.y > 0 || emission.z > 0) color = color + emission;
    out.color = shading::toneMap(color);
    return out;
}

inline void Shader::prefetchIndices(std::uint32_t id) {
    if (id == lastIndicesFetched_ || id == noTriangle || cachedIds_[id & (cacheSize - 1)] == id)
        return;
    lastIndicesFetched_ = id;
    const DrawCall& draw = findDraw(id);
    const int perPrimitive = draw.points ? 1 : 3;
    __builtin_prefetch(draw.indices + static_cast<std::int64_t>(id - draw.firstId) * perPrimitive *
                                          draw.bytesPerIndex);
}

inline void Shader::prefetchVertices(std::uint32_t id) {
    if (id == lastVerticesFetched_ || id == noTriangle || cachedIds_[id & (cacheSize - 1)] == id)
        return;
    lastVerticesFetched_ = id;
    const DrawCall& draw = findDraw(id);
    if (draw.points) return;
    std::int64_t t = static_cast<std::int64_t>(id - draw.firstId);
    for (int k = 0; k < 3; ++k) {
        std::int64_t i = draw.index(3 * t + k);
        if (i < draw.positions.count)
            __builtin_prefetch(draw.positions.bytes + i * draw.positions.stride);
        if (i < draw.normals.count)
            __builtin_prefetch(draw.normals.bytes + i * draw.normals.stride);
    }
}

inline bool sameTriple(Float3 a, Float3 b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

inline const TriangleSetup& Shader::setup(std::uint32_t id) {
    const size_t slot = id & (cacheSize - 1);
    TriangleSetup& tri = slots_.get()[slot];
    if (cachedIds_[slot] == id) return tri;
    if (cachedIds_[slot] == noTriangle) std::construct_at(&tri);
    cachedIds_[slot] = id;
    const DrawCall& draw = findDraw(id);
    std::int64_t t = static_cast<std::int64_t>(id - draw.firstId);
    const int corners = draw.points ? 1 : 3;
    std::int64_t index[3];
    for (int k = 0; k < 3; ++k)
        index[k] = draw.index(corners * t + (k < corners ? k : 0));
    Float3 p[3];
    for (int k = 0; k < 3; ++k)
        p[k] = draw.toView.apply(draw.positions[index[k]] - draw.origin);

    tri.id = id;
    tri.draw = &draw;
    tri.point = draw.points;
    tri.p0 = p[0];
    tri.e1 = p[1] - p[0];
    tri.e2 = p[2] - p[0];
    if (plan_.camera.orthographic) {
        // Rays (x, y, 1) start at (x, y) on the camera's plane and run along -Z: solving
        // p0 + u e1 + v e2 = (x, y) in the plane's coordinates is linear in (x, y, 1).
        const Float3 a = tri.e1, b = tri.e2, o = tri.p0;
        tri.detVector = {0, 0, a.x * b.y - a.y * b.x};
        tri.uVector = {b.y, -b.x, o.y * b.x - o.x * b.y};
        tri.vVector = {-a.y, a.x, o.x * a.y - o.y * a.x};
    } else {
        Float3 toCorner0 = -p[0];
        tri.detVector = shading::cross(tri.e2, tri.e1);
        tri.uVector = shading::cross(tri.e2, toCorner0);
        tri.vVector = shading::cross(toCorner0, tri.e1);
    }
    // Counter-clockwise as seen is the front; a mirroring transform turns that around.
    tri.faceNormal = shading::normalize(shading::cross(tri.e1, tri.e2));
    if (draw.mirrored) tri.faceNormal = -tri.faceNormal;

    const TripleStream& normals = draw.normals;
    tri.smooth = index[0] < normals.count && index[1] < normals.count && index[2] < normals.count;
    for (int k = 0; tri.smooth && k < 3; ++k) {
        tri.normals[k] = draw.normalToView.applyLinear(normals[index[k]]);
        tri.smooth = std::isfinite(dot(tri.normals[k], tri.normals[k]));
    }
    if (tri.point && tri.smooth) tri.smooth = dot(tri.normals[0], tri.normals[0]) > 0;
    tri.shadingNormal = tri.faceNormal;
    if (tri.smooth && !tri.point && sameTriple(tri.normals[0], tri.normals[1]) &&
        sameTriple(tri.normals[0], tri.normals[2])) {
        Float3 n = shading::normalize(tri.normals[0]);
        if (dot(n, n) > 0) tri.shadingNormal = n;
        tri.smooth = false;
    }
    const TripleStream& colors = draw.colors;
    tri.colored = index[0] < colors.count && index[1] < colors.count && index[2] < colors.count;
    for (int k = 0; tri.colored && k < 3; ++k) {
        Float3 c = colors[index[k]];
        tri.colors[k] = shading::srgbToLinear(c);
        tri.colored = std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.z);
        tri.alphas[k] = 1;
        if (draw.colorAlpha) {
            float a;
            std::memcpy(&a, colors.bytes + index[k] * colors.stride + 12, 4);
            tri.alphas[k] = std::isfinite(a) ? shading::clamp01(a) : 1.0f;
        }
    }
    const PairStream& uvs = draw.texcoords;
    tri.mapped = index[0] < uvs.count && index[1] < uvs.count && index[2] < uvs.count;
    for (int k = 0; tri.mapped && k < 3; ++k)
        uvs.read(index[k], tri.uvs[k]);
    return tri;
}

inline const DrawCall& Shader::findDraw(std::uint32_t id) {
    const std::vector<DrawCall>& draws = plan_.draws;
    const DrawCall& last = draws[lastDraw_];
    if (id >= last.firstId && id - last.firstId < static_cast<std::uint64_t>(last.primitiveCount)) {
        return last;
    }
    auto it = std::upper_bound(draws.begin(), draws.end(), id,
                               [](std::uint32_t v, const DrawCall& d) { return v < d.firstId; });
    lastDraw_ = static_cast<size_t>(it - draws.begin()) - 1;
    return draws[lastDraw_];
}

}  // namespace kelvo::render

#include "platform/SceneView/ShadingModel.h"

#include <algorithm>
#include <cmath>

namespace kelvo {

namespace {

constexpr float pi = 3.14159265358979f;
constexpr float minimumRoughness = 0.045f;
constexpr float dielectricF0 = 0.04f;
constexpr float toneKnee = 0.8f;

struct F3 {
    float x = 0, y = 0, z = 0;
    friend F3 operator+(F3 a, F3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend F3 operator-(F3 a, F3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend F3 operator*(F3 a, F3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
    friend F3 operator*(F3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
};

F3 f3(Vec3 v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
F3 f3(const std::array<float, 3>& a) {
    return {a[0], a[1], a[2]};
}
float dot(F3 a, F3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
F3 normalize(F3 a) {
    float len2 = dot(a, a);
    if (!(len2 > 1e-30f) || !std::isfinite(len2)) return {};
    return a * (1.0f / std::sqrt(len2));
}
F3 mix(F3 a, F3 b, float t) {
    return a * (1 - t) + b * t;
}
float clamp01(float v) {
    return std::min(1.0f, std::max(0.0f, v));
}

float scalarContents(const MaterialContents& contents, float fallback) {
    if (const double* v = std::get_if<double>(&contents)) {
        return std::isfinite(*v) ? clamp01(static_cast<float>(*v)) : fallback;
    }
    if (const Color* c = std::get_if<Color>(&contents)) {
        return std::isfinite(c->red) ? clamp01(static_cast<float>(c->red)) : fallback;
    }
    return fallback;
}

std::array<float, 3> linearColor(const Color& c) {
    return {srgbToLinear(static_cast<float>(c.red)), srgbToLinear(static_cast<float>(c.green)),
            srgbToLinear(static_cast<float>(c.blue))};
}

float toneMap(float v) {
    if (!(v > toneKnee)) return std::max(v, 0.0f);
    const float room = 1 - toneKnee;
    return toneKnee + room * (1 - std::exp(-(v - toneKnee) / room));
}

F3 shadeDirect(const SurfaceMaterial& s, F3 base, F3 n, F3 v, F3 l, F3 radiance) {
    float nDotL = dot(n, l);
    if (!(nDotL > 0)) return {};
    if (s.kind != ShadingKind::physicallyBased) return base * radiance * nDotL;
    float nDotV = std::max(dot(n, v), 1e-4f);
    F3 h = normalize(l + v);
    float nDotH = std::max(dot(n, h), 0.0f);
    float vDotH = std::max(dot(v, h), 0.0f);
    float roughness = std::max(s.roughness, minimumRoughness);
    float a = roughness * roughness, a2 = a * a;
    float d = nDotH * nDotH * (a2 - 1) + 1;
    float distribution = a2 / (pi * d * d);
    float visibility = 0.5f / (nDotL * std::sqrt(nDotV * nDotV * (1 - a2) + a2) +
                               nDotV * std::sqrt(nDotL * nDotL * (1 - a2) + a2));
    F3 f0 = mix(F3{dielectricF0, dielectricF0, dielectricF0}, base, s.metalness);
    float f1 = 1 - vDotH, f2 = f1 * f1, f5 = f2 * f2 * f1;
    F3 fresnel = f0 + (F3{1, 1, 1} - f0) * f5;
    F3 diffuse = (F3{1, 1, 1} - fresnel) * base * (1 - s.metalness);
    F3 specular = fresnel * (distribution * visibility * pi);
    return (diffuse + specular) * radiance * nDotL;
}

F3 shadeAmbient(const SurfaceMaterial& s, F3 base, F3 n, F3 v, F3 radiance) {
    if (s.kind != ShadingKind::physicallyBased) return base * radiance;
    float nDotV = std::max(dot(n, v), 1e-4f);
    float roughness = std::max(s.roughness, minimumRoughness);
    const float c0[4] = {-1, -0.0275f, -0.572f, 0.022f};
    const float c1[4] = {1, 0.0425f, 1.04f, -0.04f};
    float r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = roughness * c0[i] + c1[i];
    float a004 = std::min(r[0] * r[0], std::exp2(-9.28f * nDotV)) * r[0] + r[1];
    float scale = a004 * -1.04f + r[2];
    float bias = a004 * 1.04f + r[3];
    F3 f0 = mix(F3{dielectricF0, dielectricF0, dielectricF0}, base, s.metalness);
    F3 specular = f0 * scale + F3{bias, bias, bias};
    return (base * (1 - s.metalness) + specular) * radiance;
}

float spotFactor(float cosAngle) {
    const float cosOuter = 0.9238795f;  // cos(22.5 degrees)
    float t = clamp01((cosAngle - cosOuter) / (1 - cosOuter));
    return t * t * (3 - 2 * t);
}

}  // namespace

float srgbToLinear(float c) {
    c = clamp01(c);
    return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

float linearToSrgb(float c) {
    c = clamp01(c);
    return c <= 0.0031308f ? c * 12.92f : 1.055f * std::pow(c, 1 / 2.4f) - 0.055f;
}

SurfaceMaterial surfaceMaterial(const Material* material) {
    static const Material whiteLambertian;
    const Material& m = material ? *material : whiteLambertian;
    SurfaceMaterial s;
    if (m.lightingModelName == LightingModel::physicallyBased) {
        s.kind = ShadingKind::physicallyBased;
    } else if (m.lightingModelName == LightingModel::constant) {
        s.kind = ShadingKind::constant;
    }
    if (const Color* c = std::get_if<Color>(&m.diffuse)) {
        s.baseColor = linearColor(*c);
    } else if (const double* v = std::get_if<double>(&m.diffuse)) {
        float grey = srgbToLinear(std::isfinite(*v) ? static_cast<float>(*v) : 1.0f);
        s.baseColor = {grey, grey, grey};
    }
    if (!std::isfinite(s.baseColor[0] + s.baseColor[1] + s.baseColor[2])) s.baseColor = {1, 1, 1};
    s.metalness = scalarContents(m.metalness, 0);
    s.roughness = scalarContents(m.roughness, 0.5f);
    s.doubleSided = m.isDoubleSided;
    return s;
}

SceneLighting collectLights(const Scene& scene) {
    SceneLighting lighting;
    auto visit = [&](const Node& node) {
        if (!node.light) return;
        const Light& light = *node.light;
        std::array<float, 3> radiance = linearColor(light.color);
        for (float& c : radiance)
            c *= static_cast<float>(light.intensity / 1000.0);
        if (!std::isfinite(radiance[0] + radiance[1] + radiance[2])) return;
        Mat4 world = node.worldTransform();
        if (!isFinite(world)) return;
        if (light.type == LightType::ambient) {
            for (int k = 0; k < 3; ++k)
                lighting.ambient[k] += radiance[k];
            return;
        }
        if (lighting.lights.size() >= static_cast<size_t>(maxLights)) return;
        SceneLight out;
        out.radiance = radiance;
        Vec3 forward = normalize(transformDirection(world, {0, 0, -1}));
        if (light.type == LightType::directional) {
            if (length(forward) == 0) return;
            out.kind = SceneLightKind::directional;
            out.vector = forward;
        } else {
            out.kind = light.type == LightType::spot ? SceneLightKind::spot : SceneLightKind::point;
            out.vector = transformPoint(world, {0, 0, 0});
            out.spotDirection = forward;
        }
        lighting.lights.push_back(out);
    };
    visit(*scene.rootNode);
    scene.rootNode->enumerateChildNodes([&](Node& node, bool&) { visit(node); });
    return lighting;
}

SceneLight headlight(Vec3 viewDirection) {
    return {SceneLightKind::directional, normalize(viewDirection), {}, {1, 1, 1}};
}

std::array<float, 3> shadeSurface(const SurfaceMaterial& material, const SceneLighting& lighting,
                                  const SurfacePoint& point) {
    F3 base = f3(material.baseColor) * f3(point.vertexColor);
    F3 color = base;
    if (material.kind != ShadingKind::constant) {
        F3 n = f3(point.normal), position = f3(point.position);
        F3 v = normalize(f3(point.eye) - position);
        color = shadeAmbient(material, base, n, v, f3(lighting.ambient));
        for (const SceneLight& light : lighting.lights) {
            F3 radiance = f3(light.radiance);
            F3 l;
            if (light.kind == SceneLightKind::directional) {
                l = f3(light.vector) * -1.0f;
            } else {
                l = normalize(f3(light.vector) - position);
                if (dot(l, l) == 0) continue;
                if (light.kind == SceneLightKind::spot) {
                    radiance = radiance * spotFactor(dot(l * -1.0f, f3(light.spotDirection)));
                }
            }
            color = color + shadeDirect(material, base, n, v, l, radiance);
        }
        color = {toneMap(color.x), toneMap(color.y), toneMap(color.z)};
    }
    return {linearToSrgb(color.x), linearToSrgb(color.y), linearToSrgb(color.z)};
}

}  // namespace kelvo

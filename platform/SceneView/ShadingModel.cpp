#include "platform/SceneView/ShadingModel.h"

#include <algorithm>
#include <cmath>

namespace kelvo {

namespace {

constexpr float pi = 3.14159265358979f;

// A property's single number: the number itself, or a colour's red component (the platform
// reads grey-scale colours that way). Images and absent contents give the fallback.
float scalarContents(const MaterialContents& contents, float fallback) {
    if (const double* number = std::get_if<double>(&contents)) {
        return std::isfinite(*number) ? static_cast<float>(*number) : fallback;
    }
    if (const Color* color = std::get_if<Color>(&contents)) {
        return std::isfinite(color->red) ? static_cast<float>(color->red) : fallback;
    }
    return fallback;
}

float unit(double value) {
    return std::isfinite(value) ? static_cast<float>(std::clamp(value, 0.0, 1.0)) : 0.0f;
}

using Float3 = std::array<float, 3>;

Float3 operator*(Float3 a, float s) {
    return {a[0] * s, a[1] * s, a[2] * s};
}
Float3 operator*(Float3 a, Float3 b) {
    return {a[0] * b[0], a[1] * b[1], a[2] * b[2]};
}
Float3 operator+(Float3 a, Float3 b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

}  // namespace

float decodeSRGB(float c) {
    return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

float encodeSRGB(float c) {
    return c <= 0.0031308f ? c * 12.92f : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
}

SurfaceMaterial surfaceMaterial(const Material* material) {
    static const Material defaultMaterial;
    const Material& m = material ? *material : defaultMaterial;
    SurfaceMaterial s;
    if (const Color* c = std::get_if<Color>(&m.diffuse)) {
        s.baseColor = {decodeSRGB(unit(c->red)), decodeSRGB(unit(c->green)),
                       decodeSRGB(unit(c->blue)), unit(c->alpha)};
    }
    s.metalness = std::clamp(scalarContents(m.metalness, 0.0f), 0.0f, 1.0f);
    // Roughness 0 makes the highlight a singular point that neither renderer can sample.
    s.roughness = std::clamp(scalarContents(m.roughness, 0.5f), 0.03f, 1.0f);
    if (m.lightingModelName == LightingModel::physicallyBased) {
        s.kind = ShadingKind::physicallyBased;
    } else if (m.lightingModelName == LightingModel::constant) {
        s.kind = ShadingKind::constant;
    } else {
        s.kind = ShadingKind::diffuse;
    }
    s.doubleSided = m.isDoubleSided;
    return s;
}

SceneLighting collectLights(const Scene& scene) {
    SceneLighting lighting;
    auto visit = [&](const Node& node) {
        if (!node.light) return;
        const Light& light = *node.light;
        double strength = light.intensity / 1000.0;
        if (!std::isfinite(strength)) return;
        Float3 color = {static_cast<float>(unit(light.color.red) * strength),
                        static_cast<float>(unit(light.color.green) * strength),
                        static_cast<float>(unit(light.color.blue) * strength)};
        Mat4 world = node.worldTransform();
        if (!isFinite(world)) return;
        if (light.type == LightType::ambient) {
            lighting.ambient = lighting.ambient + color;
            return;
        }
        if (lighting.lights.size() >= static_cast<size_t>(maxLights)) return;
        SceneLight out;
        out.color = color;
        if (light.type == LightType::directional) {
            out.kind = SceneLightKind::directional;
            out.vector = normalize(transformDirection(world, {0, 0, -1}));
            if (length(out.vector) == 0) return;
        } else {
            out.kind = SceneLightKind::point;
            out.vector = transformPoint(world, {0, 0, 0});
        }
        lighting.lights.push_back(out);
    };
    visit(*scene.rootNode);
    scene.rootNode->enumerateChildNodes([&](Node& node, bool&) { visit(node); });
    return lighting;
}

SceneLight headlight(Vec3 viewDirection) {
    return {SceneLightKind::directional, normalize(viewDirection), {1, 1, 1}};
}

std::array<float, 4> shadeSurface(const SurfaceMaterial& material, const SceneLighting& lighting,
                                  const SurfacePoint& point) {
    Float3 base = {material.baseColor[0] * decodeSRGB(point.vertexColor[0]),
                   material.baseColor[1] * decodeSRGB(point.vertexColor[1]),
                   material.baseColor[2] * decodeSRGB(point.vertexColor[2])};
    float alpha = material.baseColor[3] * point.vertexColor[3];
    Float3 radiance{};
    if (material.kind == ShadingKind::constant) {
        radiance = base;
    } else {
        Vec3 n = point.normal;
        Vec3 v = normalize(point.eye - point.position);
        float m = material.metalness, r = material.roughness;
        Float3 diffuseColor = material.kind == ShadingKind::physicallyBased ? base * (1 - m) : base;
        Float3 f0 = Float3{0.04f, 0.04f, 0.04f} * (1 - m) + base * m;
        float nDotV = std::max(0.0f, static_cast<float>(dot(n, v)));
        for (const SceneLight& light : lighting.lights) {
            Vec3 l = light.kind == SceneLightKind::directional
                         ? light.vector * -1.0
                         : normalize(light.vector - point.position);
            float nDotL = std::max(0.0f, static_cast<float>(dot(n, l)));
            if (material.kind != ShadingKind::physicallyBased) {
                radiance = radiance + diffuseColor * light.color * nDotL;
                continue;
            }
            Vec3 h = normalize(l + v);
            float nDotH = std::max(0.0f, static_cast<float>(dot(n, h)));
            float vDotH = std::max(0.0f, static_cast<float>(dot(v, h)));
            float a = r * r, a2 = a * a;
            float denom = nDotH * nDotH * (a2 - 1) + 1;
            float d = a2 / (pi * denom * denom);
            float k = (r + 1) * (r + 1) / 8;
            float g = nDotL / (nDotL * (1 - k) + k) * (nDotV / (nDotV * (1 - k) + k));
            float schlick = std::pow(1 - vDotH, 5.0f);
            Float3 f = f0 + (Float3{1, 1, 1} + f0 * -1.0f) * schlick;
            Float3 specular = f * (pi * d * g / (4 * nDotL * nDotV + 1e-4f));
            radiance = radiance + (diffuseColor + specular) * light.color * nDotL;
        }
        Float3 ambientResponse =
            material.kind == ShadingKind::physicallyBased ? diffuseColor + f0 : diffuseColor;
        radiance = radiance + lighting.ambient * ambientResponse;
    }
    return {encodeSRGB(std::clamp(radiance[0], 0.0f, 1.0f)),
            encodeSRGB(std::clamp(radiance[1], 0.0f, 1.0f)),
            encodeSRGB(std::clamp(radiance[2], 0.0f, 1.0f)), alpha};
}

}  // namespace kelvo

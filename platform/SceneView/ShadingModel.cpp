#include "platform/SceneView/ShadingModel.h"

#include <algorithm>
#include <cmath>

#include "platform/Renderer/Shading.h"

// The formulas themselves live in the CPU renderer's shading header; this file only reduces
// scene-graph materials and lights to the numbers they take, so the reference the GPU
// program is tested against is the CPU renderer's own arithmetic.
namespace kelvo {

namespace {

using shading::clamp01;
using shading::Float3;

Float3 f3(Vec3 v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
Float3 f3(const std::array<float, 3>& a) {
    return {a[0], a[1], a[2]};
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

}  // namespace

float srgbToLinear(float c) {
    return shading::srgbToLinear(c);
}

float linearToSrgb(float c) {
    return shading::linearToSrgb(c);
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
    if (const Color* c = std::get_if<Color>(&m.diffuse); c && std::isfinite(c->alpha))
        s.baseAlpha = clamp01(static_cast<float>(c->alpha));
    s.metalness = scalarContents(m.metalness, 0);
    s.roughness = scalarContents(m.roughness, 0.5f);
    s.doubleSided = m.isDoubleSided;
    const float intensity = static_cast<float>(m.emissionIntensity);
    const std::array<float, 3> emission = linearColor(m.emission);
    for (int k = 0; k < 3; ++k) {
        const float e = emission[k] * (std::isfinite(intensity) ? std::max(intensity, 0.0f) : 0);
        s.emission[k] = std::isfinite(e) ? e : 0;
    }
    s.alphaMode = m.alphaMode;
    s.alphaCutoff = std::isfinite(m.alphaCutoff) ? static_cast<float>(m.alphaCutoff) : 0.5f;
    auto decoded = [](const TextureSlot& slot) {
        return slot.texture && slot.texture->found && !slot.texture->levels.empty() ? slot
                                                                                    : TextureSlot{};
    };
    s.baseColorTexture = decoded(m.diffuseTexture);
    s.metalnessRoughnessTexture = decoded(m.metalnessRoughnessTexture);
    s.emissionTexture = decoded(m.emissionTexture);
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
    shading::Surface surface;
    surface.model = material.kind == ShadingKind::physicallyBased
                        ? shading::SurfaceModel::physicallyBased
                    : material.kind == ShadingKind::constant ? shading::SurfaceModel::constant
                                                             : shading::SurfaceModel::lambert;
    surface.baseColor = f3(material.baseColor) * f3(point.vertexColor);
    surface.metalness = material.metalness;
    surface.roughness = material.roughness;
    Float3 color = surface.baseColor;
    if (material.kind != ShadingKind::constant) {
        Float3 n = f3(point.normal), position = f3(point.position);
        Float3 v = shading::normalize(f3(point.eye) - position);
        color = shading::shadeAmbient(surface, n, v, f3(lighting.ambient));
        for (const SceneLight& light : lighting.lights) {
            Float3 radiance = f3(light.radiance);
            Float3 l;
            if (light.kind == SceneLightKind::directional) {
                l = f3(light.vector) * -1.0f;
            } else {
                l = shading::normalize(f3(light.vector) - position);
                if (shading::dot(l, l) == 0) continue;
                if (light.kind == SceneLightKind::spot) {
                    radiance = radiance * shading::spotFactor(
                                              shading::dot(l * -1.0f, f3(light.spotDirection)));
                }
            }
            color = color + shading::shadeDirect(surface, n, v, l, radiance);
        }
        color = shading::toneMap(color + f3(material.emission));
    }
    return {linearToSrgb(color.x), linearToSrgb(color.y), linearToSrgb(color.z)};
}

}  // namespace kelvo

// How the interactive view lights a surface. The GPU shader (GLShaders.cpp) implements exactly
// this; shadeSurface() below is the same model in C++, the reference the GPU is tested against.
//
// Colours. Material and vertex colours are sRGB-encoded values in 0..1, as files and the
// scene graph give them; they are decoded to linear light before shading, and the shaded
// result is clamped to 0..1 and encoded to sRGB again. Alpha is straight and never encoded.
//
// Lights (collectLights). Every node with a light contributes, wherever it sits in the tree:
//   - directional: parallel light travelling along the node's world -Z axis;
//   - omni and spot: a point light at the node's world position, without falloff (spots are
//     lit like omnis: no cone);
//   - ambient: added into one ambient term, lighting every surface from all sides.
// A light's strength is its colour (linear) times intensity / 1000: intensity 1000 is the
// unit, at which a white diffuse surface facing the light head-on shows full white. At most
// maxLights directional and point lights are used, in scene order; the rest are ignored.
//
// Materials (surfaceMaterial). base colour = diffuse colour (an image or no colour counts as
// white) times the vertex colour when the geometry has one; metalness m (default 0) and
// roughness r (default 0.5, clamped to 0.03..1) from numbers or from a colour's red
// component. The lighting model name picks the formula:
//   physicallyBased  metallic-roughness, below;
//   constant         the base colour unlit;
//   anything else    (blinn, phong, lambert, unknown) diffuse only: base colour times
//                    (sum of NdotL * light + ambient).
//
// Physically based, per light with direction L towards the light, N the unit normal turned
// towards the viewer, V the unit vector towards the viewer, H = normalize(L + V):
//   diffuseColor = base * (1 - m);  F0 = mix(0.04, base, m)
//   a = r * r;  D = a^2 / (pi * (NdotH^2 * (a^2 - 1) + 1)^2)
//   k = (r + 1)^2 / 8;  G = G1(NdotL) * G1(NdotV), G1(x) = x / (x * (1 - k) + k)
//   F = F0 + (1 - F0) * (1 - VdotH)^5
//   radiance += (diffuseColor + pi * D * G * F / (4 * NdotL * NdotV + 1e-4)) * NdotL * light
// then radiance += ambient * (diffuseColor + F0). All dot products are clamped at 0.
//
// Normals: the geometry's normal (transformed by the inverse transpose of the node's world
// matrix), or, where the geometry carries none or the normal has no length, the triangle's
// face normal. Back faces are culled unless the material is double-sided; a double-sided
// back face is lit with its normal turned round. The normal is interpolated per pixel.
//
// Coverage and alpha: surfaces are drawn with depth testing; opaque surfaces (alpha 1) first,
// then translucent ones blended over them without depth writes, in scene order.
#pragma once

#include <array>
#include <vector>

#include "platform/SceneKit/Material.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

inline constexpr int maxLights = 8;

enum class ShadingKind : int { physicallyBased = 0, diffuse = 1, constant = 2 };

// A material reduced to the numbers the shader takes.
struct SurfaceMaterial {
    std::array<float, 4> baseColor{1, 1, 1, 1};  // linear RGB, straight alpha
    float metalness = 0;
    float roughness = 0.5f;
    ShadingKind kind = ShadingKind::diffuse;
    bool doubleSided = false;
};

// Null stands for a geometry without materials and gets the scene graph's default material.
SurfaceMaterial surfaceMaterial(const Material* material);

enum class SceneLightKind : int { directional = 0, point = 1 };

struct SceneLight {
    SceneLightKind kind = SceneLightKind::directional;
    // Directional: the unit direction the light travels, world space. Point: its world position.
    Vec3 vector;
    std::array<float, 3> color{};  // linear, already scaled by intensity / 1000
};

struct SceneLighting {
    std::vector<SceneLight> lights;  // at most maxLights
    std::array<float, 3> ambient{};
    bool empty() const {
        return lights.empty() && ambient[0] == 0 && ambient[1] == 0 && ambient[2] == 0;
    }
};

// Every light of the scene, in depth-first order, placed by its node's world transform.
// Lights whose placement is not finite are left out.
SceneLighting collectLights(const Scene& scene);

// The light the view adds when default lighting is on and the scene has none: a unit
// directional light shining along the viewer's line of sight.
SceneLight headlight(Vec3 viewDirection);

float decodeSRGB(float encoded);
float encodeSRGB(float linear);

// One surface point: world position, unit normal already facing the viewer, the viewer's
// world position and the vertex colour (sRGB-encoded, straight alpha; white when none).
struct SurfacePoint {
    Vec3 position;
    Vec3 normal;
    Vec3 eye;
    std::array<float, 4> vertexColor{1, 1, 1, 1};
};

// The sRGB-encoded, straight-alpha colour the model gives this point.
std::array<float, 4> shadeSurface(const SurfaceMaterial& material, const SceneLighting& lighting,
                                  const SurfacePoint& point);

}  // namespace kelvo

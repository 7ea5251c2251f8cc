// How the interactive view lights a surface: the shading model of the CPU renderer
// (platform/Renderer/Shading.h), so that a preview and a thumbnail of one model look alike.
// The GPU program (GLShaders.cpp) computes exactly this; shadeSurface() below is the same
// model in C++, the reference the GPU is tested against.
//
// Colours. Every colour of the scene graph (material diffuse, vertex colours, light colours,
// the background) is sRGB-encoded. Shading works on linear values: material and light
// colours are linearised once, vertex colours per vertex before they are interpolated. The
// lit result passes through a tone map (linear up to 0.8, then a smooth shoulder towards 1)
// and is encoded to sRGB. Unlit (constant) surfaces are not tone-mapped. Opacity (diffuse
// alpha x vertex alpha x base-colour texture alpha) matters only to masked materials, which
// are cut out where it falls below their cutoff, and blended ones, drawn after the opaque
// surfaces, farthest first, over what they cover; otherwise a pixel's alpha is its coverage.
//
// Lights (collectLights). Every node with a light contributes, wherever it sits in the tree,
// with radiance = linearised colour * intensity / 1000 (intensity 1000 lights a white diffuse
// surface facing it to linear 1):
//   - directional: parallel light travelling along the node's world -Z axis;
//   - omni: a point light at the node's world position, without falloff;
//   - spot: the same, fading out within 22.5 degrees of its -Z axis (smoothstep);
//   - ambient: summed into one term that lights every surface from all sides.
// The GPU program takes at most maxLights directional, omni and spot lights, in scene order.
//
// Materials (surfaceMaterial): base colour = diffuse colour (a number is a grey level;
// nothing counts as white) times the vertex colour when the geometry has one, times the
// base-colour texture (sRGB, decoded before filtering); the metalness-roughness texture's
// blue and green (linear) multiply metalness and roughness; emission colour x intensity x
// emission texture is added to the lit colour;
// metalness (default 0) and roughness (default 0.5) from numbers or a colour's red, in 0..1.
// The lighting model name picks the formula: physicallyBased is the metallic-roughness model
// as glTF defines it (Lambert diffuse of base * (1 - metalness) * (1 - F), GGX specular with
// F0 = mix(0.04, base, metalness), height-correlated Smith visibility, Schlick Fresnel,
// roughness at least 0.045; ambient light adds ambient * (diffuse colour + the analytic
// split-sum estimate of specular reflection of a white surrounding)); constant is the base
// colour unlit; anything else (lambert, blinn, phong, unknown) is Lambert diffuse only. The
// 1/pi of the BRDFs is folded into the light units.
//
// Normals: the geometry's normals (through the inverse transpose of the node's world
// matrix), interpolated and made unit per pixel; where there are none, or they have no
// length, the triangle's face normal. Counter-clockwise as seen is the front (a mirroring
// node keeps its outside out); back faces are culled unless the material is double-sided,
// whose back faces are lit with the normal turned towards the viewer.
#pragma once

#include <array>
#include <vector>

#include "platform/SceneKit/Material.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

inline constexpr int maxLights = 8;

enum class ShadingKind : int { physicallyBased = 0, lambert = 1, constant = 2 };

// A material reduced to the numbers and textures the shader takes.
struct SurfaceMaterial {
    std::array<float, 3> baseColor{1, 1, 1};  // linear
    float baseAlpha = 1;
    float metalness = 0;
    float roughness = 0.5f;
    ShadingKind kind = ShadingKind::lambert;
    bool doubleSided = false;
    std::array<float, 3> emission{0, 0, 0};  // linear, times its intensity
    AlphaMode alphaMode = AlphaMode::opaque;
    float alphaCutoff = 0.5f;
    // Slots whose texture was decoded; the others are empty.
    TextureSlot baseColorTexture, metalnessRoughnessTexture, emissionTexture;
};

// Null stands for a geometry without materials: white and Lambertian.
SurfaceMaterial surfaceMaterial(const Material* material);

enum class SceneLightKind : int { directional = 0, point = 1, spot = 2 };

struct SceneLight {
    SceneLightKind kind = SceneLightKind::directional;
    // Directional: the unit direction the light travels, world space. Point and spot: the
    // light's world position.
    Vec3 vector;
    Vec3 spotDirection;  // spot: the unit direction it points in, world space
    std::array<float, 3> radiance{};
};

struct SceneLighting {
    std::vector<SceneLight> lights;  // at most maxLights
    std::array<float, 3> ambient{};
    bool empty() const {
        return lights.empty() && ambient[0] == 0 && ambient[1] == 0 && ambient[2] == 0;
    }
};

// Every light of the scene, in depth-first order, placed by its node's world transform.
// Lights whose placement or strength is not finite are left out.
SceneLighting collectLights(const Scene& scene);

// The light the view adds when default lighting is on and the scene has none: a unit
// directional light shining along the viewer's line of sight.
SceneLight headlight(Vec3 viewDirection);

// The sRGB transfer functions, on values clamped to 0..1.
float srgbToLinear(float encoded);
float linearToSrgb(float linear);

// One surface point: world position, unit normal already turned to the viewer's side, the
// viewer's world position and the interpolated vertex colour (linear; white when none).
struct SurfacePoint {
    Vec3 position;
    Vec3 normal;
    Vec3 eye;
    std::array<float, 3> vertexColor{1, 1, 1};
};

// The sRGB-encoded colour the model gives this point, each channel in 0..1.
std::array<float, 3> shadeSurface(const SurfaceMaterial& material, const SceneLighting& lighting,
                                  const SurfacePoint& point);

}  // namespace kelvo

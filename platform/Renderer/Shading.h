// The shading model: the one place that says how a lit surface point becomes a colour.
//
// Both renderers use it: the CPU rasteriser calls these functions once per pixel and
// triangle, and the interactive OpenGL view must compute the same numbers in its fragment
// shader, so everything here is plain float arithmetic that ports line for line to GLSL
// (Float3 is vec3, the helpers are GLSL built-ins of the same name).
//
// Colour spaces. Every colour in the scene graph (material diffuse, vertex colours, light
// colours, the background) is sRGB-encoded, as colours picked in an editor or stored in a
// file are. Shading happens on linear values: material and light colours are linearised
// once per draw, vertex colours once per vertex before they are interpolated. The
// shaded value passes through toneMap() and is then encoded to sRGB for the 8-bit image.
//
// Light units. A directional light of intensity 1000 (lightIntensityUnit) delivers
// irradiance 1: a white Lambertian surface facing it renders at linear 1.0. Intensities
// scale linearly; a light's linearised colour multiplies it. So the staging rig's key (1000),
// fill (400) and ambient (300) give 1.0, 0.4 and 0.3. Omni lights have no falloff with
// distance (the scene graph's default attenuation is none). exposure multiplies everything.
//
// Surfaces.
//   physicallyBased  metallic-roughness model as glTF defines it: Lambert diffuse with
//                    colour base * (1 - metalness), GGX specular with F0 = mix(0.04, base,
//                    metalness), height-correlated Smith visibility, Schlick Fresnel.
//                    Ambient light adds ambient * (diffuse colour + an analytic estimate
//                    of specular reflection of a uniform white surrounding).
//   lambert, blinn,  Lambert diffuse only: materials carry no specular colour, and without
//   phong            one these models have no highlight.
//   constant         unlit: the base colour as it is, not tone-mapped either.
// The 1/pi of the BRDFs is folded into the light units above, so a BRDF here is pi times
// the textbook one.
//
// Geometry inputs are unit vectors in one space (the CPU renderer uses view space): N the
// shading normal facing the viewer's side, V towards the eye, L towards the light.
#pragma once

#include <algorithm>
#include <cmath>

namespace kelvo::shading {

struct Float3 {
    float x = 0, y = 0, z = 0;

    friend Float3 operator+(Float3 a, Float3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend Float3 operator-(Float3 a, Float3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend Float3 operator*(Float3 a, Float3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
    friend Float3 operator*(Float3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
    friend Float3 operator-(Float3 a) { return {-a.x, -a.y, -a.z}; }
};

inline float dot(Float3 a, Float3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Float3 cross(Float3 a, Float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// The unit vector along `a`; (0, 0, 0) when `a` has no usable length.
inline Float3 normalize(Float3 a) {
    float len2 = dot(a, a);
    if (!(len2 > 1e-30f) || !std::isfinite(len2)) return {};
    return a * (1.0f / std::sqrt(len2));
}
inline Float3 mix(Float3 a, Float3 b, float t) {
    return a * (1 - t) + b * t;
}
inline float clamp01(float v) {
    return std::min(1.0f, std::max(0.0f, v));
}

inline constexpr float pi = 3.14159265358979f;
inline constexpr float lightIntensityUnit = 1000;
inline constexpr float exposure = 1;
// Roughness below this makes the specular lobe narrower than a pixel can show; it only
// produces sparkles, so it is clamped.
inline constexpr float minimumRoughness = 0.045f;
inline constexpr float dielectricF0 = 0.04f;

enum class SurfaceModel { physicallyBased, lambert, constant };

// One surface point's material, after the material and vertex colour were combined.
struct Surface {
    SurfaceModel model = SurfaceModel::lambert;
    Float3 baseColor{1, 1, 1};  // linear
    float metalness = 0;
    float roughness = 0.5f;
};

// sRGB transfer functions (IEC 61966-2-1), per channel, on 0..1.
inline float srgbToLinear(float c) {
    c = clamp01(c);
    return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}
inline float linearToSrgb(float c) {
    c = clamp01(c);
    return c <= 0.0031308f ? c * 12.92f : 1.055f * std::pow(c, 1 / 2.4f) - 0.055f;
}
inline Float3 srgbToLinear(Float3 c) {
    return {srgbToLinear(c.x), srgbToLinear(c.y), srgbToLinear(c.z)};
}

// Per channel: linear below `toneKnee`, then a smooth exponential shoulder towards 1 with
// matching slope, so bright white models keep their shape instead of clipping flat.
inline constexpr float toneKnee = 0.8f;
inline float toneMap(float v) {
    v *= exposure;
    if (!(v > toneKnee)) return std::max(v, 0.0f);
    const float room = 1 - toneKnee;
    return toneKnee + room * (1 - std::exp(-(v - toneKnee) / room));
}
inline Float3 toneMap(Float3 c) {
    return {toneMap(c.x), toneMap(c.y), toneMap(c.z)};
}

// The light a surface reflects towards V from one light of linear `radiance` (colour times
// intensity / lightIntensityUnit) arriving from direction L.
inline Float3 shadeDirect(const Surface& s, Float3 N, Float3 V, Float3 L, Float3 radiance) {
    float NdotL = dot(N, L);
    if (!(NdotL > 0)) return {};
    if (s.model != SurfaceModel::physicallyBased) return s.baseColor * radiance * NdotL;

    // A tiny positive NdotV keeps silhouettes of smooth-shaded meshes (normal turned just
    // past the eye) from dividing by zero.
    float NdotV = std::max(dot(N, V), 1e-4f);
    Float3 H = normalize(L + V);
    float NdotH = std::max(dot(N, H), 0.0f);
    float VdotH = std::max(dot(V, H), 0.0f);

    float roughness = std::max(s.roughness, minimumRoughness);
    float a = roughness * roughness;
    float a2 = a * a;
    float d = NdotH * NdotH * (a2 - 1) + 1;
    float D = a2 / (pi * d * d);
    float visibility = 0.5f / (NdotL * std::sqrt(NdotV * NdotV * (1 - a2) + a2) +
                               NdotV * std::sqrt(NdotL * NdotL * (1 - a2) + a2));
    Float3 F0 = mix(Float3{dielectricF0, dielectricF0, dielectricF0}, s.baseColor, s.metalness);
    float f1 = 1 - VdotH, f2 = f1 * f1;
    float f5 = f2 * f2 * f1;
    Float3 F = F0 + (Float3{1, 1, 1} - F0) * f5;

    Float3 diffuse = (Float3{1, 1, 1} - F) * s.baseColor * (1 - s.metalness);
    Float3 specular = F * (D * visibility * pi);
    return (diffuse + specular) * radiance * NdotL;
}

// How much of a spot light reaches a point seen from it at `cosAngle` off its axis. The
// scene graph's spots keep the default cone: 45 degrees across, fading out from the axis.
inline float spotFactor(float cosAngle) {
    const float cosOuter = 0.9238795f;  // cos(22.5 degrees)
    float t = clamp01((cosAngle - cosOuter) / (1 - cosOuter));
    return t * t * (3 - 2 * t);
}

// The light reflected from an ambient light of linear `radiance`, which arrives equally
// from every direction.
inline Float3 shadeAmbient(const Surface& s, Float3 N, Float3 V, Float3 radiance) {
    if (s.model != SurfaceModel::physicallyBased) return s.baseColor * radiance;
    // The split-sum environment term for a uniform white surrounding, in the well-known
    // analytic fit (scale and bias of F0 by roughness and view angle).
    float NdotV = std::max(dot(N, V), 1e-4f);
    float roughness = std::max(s.roughness, minimumRoughness);
    const float c0[4] = {-1, -0.0275f, -0.572f, 0.022f};
    const float c1[4] = {1, 0.0425f, 1.04f, -0.04f};
    float r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = roughness * c0[i] + c1[i];
    float a004 = std::min(r[0] * r[0], std::exp2(-9.28f * NdotV)) * r[0] + r[1];
    float scale = a004 * -1.04f + r[2];
    float bias = a004 * 1.04f + r[3];
    Float3 F0 = mix(Float3{dielectricF0, dielectricF0, dielectricF0}, s.baseColor, s.metalness);
    Float3 specular = F0 * scale + Float3{bias, bias, bias};
    Float3 diffuse = s.baseColor * (1 - s.metalness);
    return (diffuse + specular) * radiance;
}

}  // namespace kelvo::shading

#include "platform/SceneView/GLShaders.h"

namespace kelvo {

// Matrices arrive in the scene graph's row-vector layout without transposition: read as
// column-major they are the transposes, so `matrix * v` here computes the scene graph's
// `v * matrix`.
const char* const sceneVertexShaderSource = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColor;
layout(location = 3) in vec2 aTexCoord;

uniform mat4 uModel;
uniform mat3 uNormalMatrix;
uniform mat4 uViewProjection;
uniform float uPointSize;

out vec3 vWorldPosition;
out vec3 vNormal;
out vec4 vColor;
out vec2 vTexCoord;

float srgbToLinear(float c) {
    c = clamp(c, 0.0, 1.0);
    return c <= 0.04045 ? c / 12.92 : pow((c + 0.055) / 1.055, 2.4);
}

void main() {
    vec4 world = uModel * vec4(aPosition, 1.0);
    vWorldPosition = world.xyz;
    vNormal = uNormalMatrix * aNormal;
    // Vertex colours are linearised before they are interpolated, as the CPU renderer does;
    // a broken one counts as white, a broken alpha as opaque.
    bool broken = any(isnan(aColor.rgb)) || any(isinf(aColor.rgb));
    vColor.rgb = broken ? vec3(1.0) : vec3(srgbToLinear(aColor.r), srgbToLinear(aColor.g), srgbToLinear(aColor.b));
    vColor.a = isnan(aColor.a) || isinf(aColor.a) ? 1.0 : clamp(aColor.a, 0.0, 1.0);
    vTexCoord = aTexCoord;
    gl_Position = uViewProjection * world;
    gl_PointSize = uPointSize;
}
)";

// Line for line the functions of the shading model (ShadingModel.cpp): shadeDirect,
// shadeAmbient, spotFactor, toneMap, linearToSrgb. Textures of colour are sRGB textures, so
// sampling gives linear values filtered in linear light, as on the CPU.
const char* const sceneFragmentShaderSource = R"(#version 330 core
in vec3 vWorldPosition;
in vec3 vNormal;
in vec4 vColor;
in vec2 vTexCoord;

uniform vec3 uBaseColor;   // linear
uniform float uBaseAlpha;
uniform float uMetalness;
uniform float uRoughness;
uniform vec3 uEmission;    // linear, times its intensity
uniform int uKind;         // 0 physically based, 1 Lambert, 2 constant
uniform int uAlphaMode;    // 0 opaque, 1 mask, 2 blend
uniform float uAlphaCutoff;
uniform bool uPoint;       // drawing points: round, lit only by their own normals
// Textures, each with its texture transform as the two rows of a 2 x 3 matrix.
uniform bool uHasBaseTexture, uHasMetalRoughTexture, uHasEmissionTexture;
uniform sampler2D uBaseTexture, uMetalRoughTexture, uEmissionTexture;
uniform vec3 uBaseTransform[2], uMetalRoughTransform[2], uEmissionTransform[2];
uniform vec3 uEye;
uniform int uLightCount;
uniform int uLightKind[8]; // 0 directional, 1 point, 2 spot
uniform vec3 uLightVector[8];
uniform vec3 uLightSpotDirection[8];
uniform vec3 uLightRadiance[8];
uniform vec3 uAmbient;

out vec4 fragColor;

const float PI = 3.14159265358979;
const float MINIMUM_ROUGHNESS = 0.045;
const float DIELECTRIC_F0 = 0.04;
const float TONE_KNEE = 0.8;

float linearToSrgb(float c) {
    c = clamp(c, 0.0, 1.0);
    return c <= 0.0031308 ? c * 12.92 : 1.055 * pow(c, 1.0 / 2.4) - 0.055;
}

float toneMap(float v) {
    if (!(v > TONE_KNEE)) return max(v, 0.0);
    float room = 1.0 - TONE_KNEE;
    return TONE_KNEE + room * (1.0 - exp(-(v - TONE_KNEE) / room));
}

float metalness, roughnessFactor;

vec2 transformed(vec3 rows[2], vec2 uv) {
    return vec2(dot(rows[0], vec3(uv, 1.0)), dot(rows[1], vec3(uv, 1.0)));
}

vec3 shadeDirect(vec3 base, vec3 n, vec3 v, vec3 l, vec3 radiance) {
    float nDotL = dot(n, l);
    if (!(nDotL > 0.0)) return vec3(0.0);
    if (uKind != 0) return base * radiance * nDotL;
    float nDotV = max(dot(n, v), 1e-4);
    vec3 h = normalize(l + v);
    float nDotH = max(dot(n, h), 0.0);
    float vDotH = max(dot(v, h), 0.0);
    float roughness = max(roughnessFactor, MINIMUM_ROUGHNESS);
    float a = roughness * roughness, a2 = a * a;
    float d = nDotH * nDotH * (a2 - 1.0) + 1.0;
    float distribution = a2 / (PI * d * d);
    float visibility = 0.5 / (nDotL * sqrt(nDotV * nDotV * (1.0 - a2) + a2) +
                              nDotV * sqrt(nDotL * nDotL * (1.0 - a2) + a2));
    vec3 f0 = mix(vec3(DIELECTRIC_F0), base, metalness);
    float f1 = 1.0 - vDotH, f2 = f1 * f1, f5 = f2 * f2 * f1;
    vec3 fresnel = f0 + (vec3(1.0) - f0) * f5;
    vec3 diffuse = (vec3(1.0) - fresnel) * base * (1.0 - metalness);
    vec3 specular = fresnel * (distribution * visibility * PI);
    return (diffuse + specular) * radiance * nDotL;
}

vec3 shadeAmbient(vec3 base, vec3 n, vec3 v, vec3 radiance) {
    if (uKind != 0) return base * radiance;
    float nDotV = max(dot(n, v), 1e-4);
    float roughness = max(roughnessFactor, MINIMUM_ROUGHNESS);
    vec4 r = roughness * vec4(-1.0, -0.0275, -0.572, 0.022) + vec4(1.0, 0.0425, 1.04, -0.04);
    float a004 = min(r.x * r.x, exp2(-9.28 * nDotV)) * r.x + r.y;
    float scale = a004 * -1.04 + r.z;
    float bias = a004 * 1.04 + r.w;
    vec3 f0 = mix(vec3(DIELECTRIC_F0), base, metalness);
    vec3 specular = f0 * scale + vec3(bias);
    return (base * (1.0 - metalness) + specular) * radiance;
}

float spotFactor(float cosAngle) {
    const float cosOuter = 0.9238795;  // cos(22.5 degrees)
    float t = clamp((cosAngle - cosOuter) / (1.0 - cosOuter), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

void main() {
    if (uPoint) {
        vec2 d = gl_PointCoord - vec2(0.5);
        if (dot(d, d) > 0.25) discard;
    }
    vec3 base = uBaseColor * vColor.rgb;
    float alpha = uBaseAlpha * vColor.a;
    metalness = uMetalness;
    roughnessFactor = uRoughness;
    vec3 emission = uEmission;
    if (uHasBaseTexture) {
        vec4 t = texture(uBaseTexture, transformed(uBaseTransform, vTexCoord));
        base *= t.rgb;
        alpha *= t.a;
    }
    if (uHasMetalRoughTexture) {
        vec4 t = texture(uMetalRoughTexture, transformed(uMetalRoughTransform, vTexCoord));
        roughnessFactor *= t.g;
        metalness *= t.b;
    }
    if (uHasEmissionTexture)
        emission *= texture(uEmissionTexture, transformed(uEmissionTransform, vTexCoord)).rgb;
    if (uAlphaMode == 1 && !(alpha >= uAlphaCutoff)) discard;

    vec3 color = base;
    // A normal without length, or broken (NaN fails the test), leaves the face normal.
    float length2 = dot(vNormal, vNormal);
    bool hasNormal = length2 > 0.0 && length2 < 1e30;
    // A point without a normal has no side to light: it shows its colour flat.
    if (uKind != 2 && (hasNormal || !uPoint)) {
        vec3 v = normalize(uEye - vWorldPosition);
        // The face normal from the screen-space derivatives always faces the viewer, which
        // is what the model asks of a back face of a double-sided surface too.
        vec3 n = cross(dFdx(vWorldPosition), dFdy(vWorldPosition));
        n = dot(n, n) > 0.0 ? normalize(n) : v;
        if (hasNormal) {
            // Back faces reach here only for double-sided materials: light their other side.
            n = normalize(gl_FrontFacing ? vNormal : -vNormal);
            // A point is seen from its lit side, like a two-sided surface.
            if (uPoint && dot(n, v) < 0.0) n = -n;
        }
        color = shadeAmbient(base, n, v, uAmbient);
        for (int i = 0; i < uLightCount; ++i) {
            vec3 radiance = uLightRadiance[i];
            vec3 l;
            if (uLightKind[i] == 0) {
                l = -uLightVector[i];
            } else {
                vec3 toLight = uLightVector[i] - vWorldPosition;
                if (dot(toLight, toLight) == 0.0) continue;
                l = normalize(toLight);
                if (uLightKind[i] == 2) radiance *= spotFactor(dot(-l, uLightSpotDirection[i]));
            }
            color += shadeDirect(base, n, v, l, radiance);
        }
        color += emission;
        color = vec3(toneMap(color.r), toneMap(color.g), toneMap(color.b));
    }
    vec3 encoded = vec3(linearToSrgb(color.r), linearToSrgb(color.g), linearToSrgb(color.b));
    // Opaque: the pixel's alpha is its coverage, which multisampling resolves. Blended:
    // premultiplied, composited over what is drawn (in the stored sRGB values).
    float a = uAlphaMode == 2 ? clamp(alpha, 0.0, 1.0) : 1.0;
    fragColor = vec4(encoded * a, a);
}
)";

}  // namespace kelvo

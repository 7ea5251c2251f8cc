#include "platform/SceneView/GLShaders.h"

namespace kelvo {

// Matrices arrive in the scene graph's row-vector layout without transposition: read as
// column-major they are the transposes, so `matrix * v` here computes the scene graph's
// `v * matrix`.
const char* const sceneVertexShaderSource = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColor;

uniform mat4 uModel;
uniform mat3 uNormalMatrix;
uniform mat4 uViewProjection;

out vec3 vWorldPosition;
out vec3 vNormal;
out vec4 vColor;

void main() {
    vec4 world = uModel * vec4(aPosition, 1.0);
    vWorldPosition = world.xyz;
    vNormal = uNormalMatrix * aNormal;
    vColor = aColor;
    gl_Position = uViewProjection * world;
}
)";

const char* const sceneFragmentShaderSource = R"(#version 330 core
in vec3 vWorldPosition;
in vec3 vNormal;
in vec4 vColor;

uniform vec4 uBaseColor;   // linear, straight alpha
uniform float uMetalness;
uniform float uRoughness;
uniform int uKind;         // 0 physically based, 1 diffuse, 2 constant
uniform vec3 uEye;
uniform int uLightCount;
uniform int uLightKind[8]; // 0 directional, 1 point
uniform vec3 uLightVector[8];
uniform vec3 uLightColor[8];
uniform vec3 uAmbient;

out vec4 fragColor;

const float PI = 3.14159265358979;

float decodeSRGB(float c) {
    return c <= 0.04045 ? c / 12.92 : pow((c + 0.055) / 1.055, 2.4);
}
vec3 decodeSRGB(vec3 c) { return vec3(decodeSRGB(c.r), decodeSRGB(c.g), decodeSRGB(c.b)); }
float encodeSRGB(float c) {
    return c <= 0.0031308 ? c * 12.92 : 1.055 * pow(c, 1.0 / 2.4) - 0.055;
}
vec3 encodeSRGB(vec3 c) { return vec3(encodeSRGB(c.r), encodeSRGB(c.g), encodeSRGB(c.b)); }

void main() {
    vec3 base = uBaseColor.rgb * decodeSRGB(clamp(vColor.rgb, 0.0, 1.0));
    float alpha = uBaseColor.a * clamp(vColor.a, 0.0, 1.0);
    vec3 radiance = base;
    if (uKind != 2) {
        vec3 v = normalize(uEye - vWorldPosition);
        vec3 n;
        if (dot(vNormal, vNormal) > 0.0) {
            // Back faces reach here only for double-sided materials: light their other side.
            n = normalize(gl_FrontFacing ? vNormal : -vNormal);
        } else {
            // The face normal from the screen-space derivatives always faces the viewer.
            n = cross(dFdx(vWorldPosition), dFdy(vWorldPosition));
            n = dot(n, n) > 0.0 ? normalize(n) : v;
        }
        float m = uMetalness, r = uRoughness;
        vec3 diffuseColor = uKind == 0 ? base * (1.0 - m) : base;
        vec3 f0 = mix(vec3(0.04), base, m);
        float nDotV = max(dot(n, v), 0.0);
        radiance = vec3(0.0);
        for (int i = 0; i < uLightCount; ++i) {
            vec3 l = uLightKind[i] == 0 ? -uLightVector[i] : normalize(uLightVector[i] - vWorldPosition);
            float nDotL = max(dot(n, l), 0.0);
            if (uKind != 0) {
                radiance += diffuseColor * uLightColor[i] * nDotL;
                continue;
            }
            vec3 h = normalize(l + v);
            float nDotH = max(dot(n, h), 0.0);
            float vDotH = max(dot(v, h), 0.0);
            float a = r * r, a2 = a * a;
            float denom = nDotH * nDotH * (a2 - 1.0) + 1.0;
            float d = a2 / (PI * denom * denom);
            float k = (r + 1.0) * (r + 1.0) / 8.0;
            float g = nDotL / (nDotL * (1.0 - k) + k) * (nDotV / (nDotV * (1.0 - k) + k));
            vec3 f = f0 + (vec3(1.0) - f0) * pow(1.0 - vDotH, 5.0);
            vec3 specular = f * (PI * d * g / (4.0 * nDotL * nDotV + 1e-4));
            radiance += (diffuseColor + specular) * uLightColor[i] * nDotL;
        }
        radiance += uAmbient * (uKind == 0 ? diffuseColor + f0 : diffuseColor);
    }
    vec3 color = encodeSRGB(clamp(radiance, 0.0, 1.0));
    // GTK composites the view's pixels as premultiplied alpha.
    fragColor = vec4(color * alpha, alpha);
}
)";

}  // namespace kelvo

// The GLSL 3.30 core programs of the interactive view. The fragment program is the shading
// model of ShadingModel.h, written for the GPU; keep the two in step.
#pragma once

namespace kelvo {

extern const char* const sceneVertexShaderSource;
extern const char* const sceneFragmentShaderSource;

// Attribute locations shared by the program and the vertex arrays.
inline constexpr unsigned positionAttribute = 0;
inline constexpr unsigned normalAttribute = 1;
inline constexpr unsigned colorAttribute = 2;
inline constexpr unsigned texcoordAttribute = 3;

// Texture units of the material's textures.
inline constexpr int baseColorTextureUnit = 0;
inline constexpr int metalnessRoughnessTextureUnit = 1;
inline constexpr int emissionTextureUnit = 2;

}  // namespace kelvo

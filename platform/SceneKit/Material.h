// Materials, lights and cameras of the scene graph: plain values, shared between nodes and
// geometries through shared pointers where the scene graph shares objects (one material
// used by many geometries is one object, not copies).
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/Imaging/RGBAImage.h"

namespace kelvo {

// Colour components in 0..1, sRGB-encoded (as colours are picked in an editor or stored in
// most files), straight alpha. Loaders of formats that store linear colours encode them.
struct Color {
    double red = 0, green = 0, blue = 0, alpha = 0;

    static constexpr Color white(double level, double alpha) { return {level, level, level, alpha}; }
    static constexpr Color clear() { return {0, 0, 0, 0}; }
    friend bool operator==(const Color&, const Color&) = default;
};

// An image that materials sample, shared by every material slot that names it (one file
// or embedded image is one object, decoded once).
//
// Loaders fill `path` and, for an image stored inside the model file (a GLB buffer, a data:
// URI, a package entry), `encoded`; an image beside the model file is read by the loader
// (through the referenced-file resolver) into `encoded` as well, so decoding never touches
// the file system. decodeTextures (platform/Imaging/TextureDecoding.h) puts a decoded copy,
// `levels` filled, in every slot that named the texture. A texture that could not be found,
// read or decoded has `levels` empty and `found` false: the material then renders on its
// factors alone.
struct Texture {
    std::string path;      // the file it came from, or where it sits inside the model file
    std::string mimeType;  // as the model file declares it; may be empty
    std::shared_ptr<const ByteBuffer> encoded;  // the image file's bytes, still encoded
    bool found = true;     // false: missing, unreadable or undecodable
    // Decoded mip chain, straight-alpha 8-bit RGBA as stored in the image (sRGB-encoded for
    // colour images, linear data for the others): level 0 at most the process's texture size
    // limit, each further level half the previous one down to 1 x 1. Empty until decoded.
    std::vector<RGBAImage> levels;
};

enum class TextureWrap { repeat, clampToEdge, mirroredRepeat };

// How one material property samples a texture. A slot without a texture is unused.
struct TextureSlot {
    std::shared_ptr<const Texture> texture;
    int texCoord = 0;  // which UV set; the renderers read set 0
    TextureWrap wrapS = TextureWrap::repeat;
    TextureWrap wrapT = TextureWrap::repeat;
    bool nearestMagnification = false;  // sampler asks for nearest instead of bilinear
    // The texture-coordinate transform, applied as uv' = offset + rotate(rotation) * (scale * uv)
    // (rotation in radians, counter-clockwise in UV space).
    double offset[2] = {0, 0};
    double rotation = 0;
    double scale[2] = {1, 1};

    explicit operator bool() const { return texture != nullptr; }
};

// The contents of a material property or of a scene's background: nothing, a colour or a
// number. Textures sit in the material's texture slots, which multiply these.
using MaterialContents = std::variant<std::monostate, Color, double>;

// Names of lighting models, as set with setLightingModelName.
namespace LightingModel {
inline constexpr const char* blinn = "blinn";
inline constexpr const char* physicallyBased = "physicallyBased";
inline constexpr const char* constant = "constant";
inline constexpr const char* lambert = "lambert";
inline constexpr const char* phong = "phong";
}  // namespace LightingModel

// How a material's alpha is used: ignored (opaque), as a cut-out against `alphaCutoff`, or
// blended over what lies behind.
enum class AlphaMode { opaque, mask, blend };

// A surface material. Colours are sRGB-encoded with straight alpha (see Color); a texture
// slot multiplies the property it belongs to, and vertex colours multiply the diffuse colour.
struct Material {
    std::string name;
    std::string lightingModelName = LightingModel::blinn;
    MaterialContents diffuse = Color::white(1, 1);  // base colour; its alpha is opacity
    MaterialContents metalness;  // unset: the renderer's default (0)
    MaterialContents roughness;  // unset: the renderer's default (0.5)
    bool isDoubleSided = false;

    // Light the surface gives off itself, added after lighting: colour times intensity.
    Color emission = Color::white(0, 1);
    double emissionIntensity = 1;

    AlphaMode alphaMode = AlphaMode::opaque;
    double alphaCutoff = 0.5;  // mask mode: alpha below this is not drawn

    // Specular colour and exponent of the classic models (blinn, phong) as files give them.
    Color specular = Color::white(0, 1);
    double shininess = 0;

    TextureSlot diffuseTexture;  // base colour (sRGB) and opacity
    // Metallic-roughness data (linear): roughness in green, metalness in blue.
    TextureSlot metalnessRoughnessTexture;
    TextureSlot emissionTexture;  // sRGB
    TextureSlot normalTexture;    // tangent-space normal map (linear)
    TextureSlot occlusionTexture;  // ambient occlusion in red (linear)
};

struct Camera {
    std::string name;
    double fieldOfView = 60;  // degrees, on the vertical axis
    bool automaticallyAdjustsZRange = false;
    double zNear = 1;
    double zFar = 100;
    bool usesOrthographicProjection = false;
    double orthographicScale = 1;
};

enum class LightType { ambient, directional, omni, spot };

inline const char* lightTypeName(LightType type) {
    switch (type) {
        case LightType::ambient: return "ambient";
        case LightType::directional: return "directional";
        case LightType::omni: return "omni";
        case LightType::spot: return "spot";
    }
    return "omni";
}

struct Light {
    LightType type = LightType::omni;
    // Physically based units: 1000 is the unit strength of a directional light.
    double intensity = 1000;
    Color color = Color::white(1, 1);
    // Spot lights: full strength inside the inner angle, none beyond the outer one (degrees,
    // measured across the whole cone as the scene graph's spots are).
    double spotInnerAngle = 0;
    double spotOuterAngle = 45;
};

}  // namespace kelvo

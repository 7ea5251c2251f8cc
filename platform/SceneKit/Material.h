// Materials, lights and cameras of the scene graph: plain values, shared between nodes and
// geometries through shared pointers where the scene graph shares objects (one material
// used by many geometries is one object, not copies).
#pragma once

#include <memory>
#include <string>
#include <variant>

#include "platform/Imaging/RGBAImage.h"

namespace kelvo {

// Colour components in 0..1, straight alpha.
struct Color {
    double red = 0, green = 0, blue = 0, alpha = 0;

    static constexpr Color white(double level, double alpha) { return {level, level, level, alpha}; }
    static constexpr Color clear() { return {0, 0, 0, 0}; }
    friend bool operator==(const Color&, const Color&) = default;
};

// A texture image with the file name it came from, when it came from one.
struct Texture {
    std::string path;
    RGBAImage image;
};

// The contents of a material property or of a scene's background: nothing, a colour, a
// number or an image.
using MaterialContents =
    std::variant<std::monostate, Color, double, std::shared_ptr<const Texture>>;

// Names of lighting models, as set with setLightingModelName.
namespace LightingModel {
inline constexpr const char* blinn = "blinn";
inline constexpr const char* physicallyBased = "physicallyBased";
inline constexpr const char* constant = "constant";
inline constexpr const char* lambert = "lambert";
inline constexpr const char* phong = "phong";
}  // namespace LightingModel

struct Material {
    std::string name;
    std::string lightingModelName = LightingModel::blinn;
    MaterialContents diffuse = Color::white(1, 1);
    MaterialContents metalness;  // unset: the renderer's default (0)
    MaterialContents roughness;  // unset: the renderer's default (0.5)
    bool isDoubleSided = false;
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
};

}  // namespace kelvo

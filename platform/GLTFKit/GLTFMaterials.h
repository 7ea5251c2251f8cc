// glTF materials as scene-graph materials. Internal to GLTFKit.
#pragma once

#include <memory>
#include <vector>

#include "platform/GLTFKit/GLTFAsset.h"
#include "platform/SceneKit/Material.h"

namespace kelvo::gltf {

// A linear colour component (glTF's factors and vertex colours) sRGB-encoded as the scene
// graph keeps colours; clamped to 0..1, a non-number becomes 0.
double encodeSRGB(double linear);

// Converts each of an asset's materials once, so that every primitive using it shares one
// object, and makes glTF's default material for primitives that name none.
class MaterialConverter {
public:
    explicit MaterialConverter(const GLTFAsset& asset) : asset_(asset) {}

    // The material at `index` in the asset; -1: the default material.
    std::shared_ptr<Material> material(std::int64_t index);

private:
    const GLTFAsset& asset_;
    std::vector<std::shared_ptr<Material>> converted_;
    std::shared_ptr<Material> default_;
};

// The scene-graph material for one glTF material (textures taken from the asset's images).
std::shared_ptr<Material> convertMaterial(const GLTFAsset& asset, const GLTFMaterial& material);

}  // namespace kelvo::gltf

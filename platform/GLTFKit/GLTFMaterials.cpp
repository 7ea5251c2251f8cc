#include "platform/GLTFKit/GLTFMaterials.h"

#include <cmath>

namespace kelvo::gltf {

namespace {

double clamp01(double v) {
    return v > 0 ? (v < 1 ? v : 1) : 0;
}

TextureWrap wrapMode(int glWrap) {
    switch (glWrap) {
        case 33071:
            return TextureWrap::clampToEdge;
        case 33648:
            return TextureWrap::mirroredRepeat;
        default:
            return TextureWrap::repeat;  // 10497, and glTF's default for anything else
    }
}

constexpr int glNearest = 9728;

TextureSlot slot(const GLTFAsset& asset, const GLTFTextureInfo& info) {
    TextureSlot slot;
    if (info.index < 0) return slot;
    const GLTFTexture& texture = asset.textures[info.index];
    if (texture.source < 0) return slot;
    slot.texture = asset.images[texture.source].texture;
    if (!slot.texture) return slot;
    slot.texCoord = info.transform.texCoord >= 0 ? info.transform.texCoord : info.texCoord;
    if (texture.sampler >= 0) {
        const GLTFSampler& sampler = asset.samplers[texture.sampler];
        slot.wrapS = wrapMode(sampler.wrapS);
        slot.wrapT = wrapMode(sampler.wrapT);
        slot.nearestMagnification = sampler.magFilter == glNearest;
    }
    const GLTFTextureTransform& t = info.transform;
    // A transform with non-numbers would put every texel nowhere; it is dropped instead.
    if (std::isfinite(t.offset[0]) && std::isfinite(t.offset[1]) && std::isfinite(t.rotation) &&
        std::isfinite(t.scale[0]) && std::isfinite(t.scale[1])) {
        slot.offset[0] = t.offset[0];
        slot.offset[1] = t.offset[1];
        slot.rotation = t.rotation;
        slot.scale[0] = t.scale[0];
        slot.scale[1] = t.scale[1];
    }
    return slot;
}

}  // namespace

double encodeSRGB(double linear) {
    double c = clamp01(linear);
    if (c >= 1) return 1;  // exactly, not 1 - 1e-16
    return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
}

std::shared_ptr<Material> convertMaterial(const GLTFAsset& asset, const GLTFMaterial& g) {
    auto m = std::make_shared<Material>();
    m->name = g.name;
    m->lightingModelName = g.unlit ? LightingModel::constant : LightingModel::physicallyBased;
    const double* base = g.baseColorFactor;
    m->diffuse =
        Color{encodeSRGB(base[0]), encodeSRGB(base[1]), encodeSRGB(base[2]), clamp01(base[3])};
    m->metalness = clamp01(g.metallicFactor);
    m->roughness = clamp01(g.roughnessFactor);
    m->emission = Color{encodeSRGB(g.emissiveFactor[0]), encodeSRGB(g.emissiveFactor[1]),
                        encodeSRGB(g.emissiveFactor[2]), 1};
    m->emissionIntensity =
        std::isfinite(g.emissiveStrength) && g.emissiveStrength > 0 ? g.emissiveStrength : 0;
    switch (g.alphaMode) {
        case GLTFAlphaMode::opaque:
            m->alphaMode = AlphaMode::opaque;
            break;
        case GLTFAlphaMode::mask:
            m->alphaMode = AlphaMode::mask;
            break;
        case GLTFAlphaMode::blend:
            m->alphaMode = AlphaMode::blend;
            break;
    }
    m->alphaCutoff = std::isfinite(g.alphaCutoff) ? g.alphaCutoff : 0.5;
    m->isDoubleSided = g.doubleSided;
    m->diffuseTexture = slot(asset, g.baseColorTexture);
    m->metalnessRoughnessTexture = slot(asset, g.metallicRoughnessTexture);
    m->emissionTexture = slot(asset, g.emissiveTexture);
    m->normalTexture = slot(asset, g.normalTexture);
    m->occlusionTexture = slot(asset, g.occlusionTexture);
    return m;
}

std::shared_ptr<Material> MaterialConverter::material(std::int64_t index) {
    if (index < 0) {
        // glTF's default: white, fully metallic and fully rough, one-sided, opaque.
        if (!default_) default_ = convertMaterial(asset_, GLTFMaterial{});
        return default_;
    }
    if (converted_.empty()) converted_.resize(asset_.materials.size());
    auto& m = converted_[static_cast<size_t>(index)];
    if (!m) m = convertMaterial(asset_, asset_.materials[static_cast<size_t>(index)]);
    return m;
}

}  // namespace kelvo::gltf

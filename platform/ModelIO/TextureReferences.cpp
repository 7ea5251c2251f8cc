#include "platform/ModelIO/TextureReferences.h"

namespace kelvo {

std::shared_ptr<const Texture> TextureReferences::reference(
    const std::filesystem::path& referringFile, std::string_view reference) {
    std::string key = referringFile.string();
    key.append(1, '\0').append(reference);
    if (auto it = byKey_.find(key); it != byKey_.end()) return it->second;
    auto texture = std::make_shared<Texture>();
    texture->path = std::string(reference);
    // Not found until loadTextures has read it.
    texture->found = false;
    textures_.push_back({texture, referringFile, std::string(reference)});
    byKey_.emplace(std::move(key), texture);
    return texture;
}

std::shared_ptr<const Texture> TextureReferences::embedded(
    std::string path, std::string mimeType, std::shared_ptr<const ByteBuffer> bytes) {
    std::string key = std::string(2, '\0') + path;
    if (auto it = byKey_.find(key); it != byKey_.end()) return it->second;
    auto texture = std::make_shared<Texture>();
    texture->path = std::move(path);
    texture->mimeType = std::move(mimeType);
    texture->encoded = std::move(bytes);
    texture->found = texture->encoded && !texture->encoded->empty();
    textures_.push_back({texture, {}, {}});
    byKey_.emplace(std::move(key), texture);
    return texture;
}

}  // namespace kelvo

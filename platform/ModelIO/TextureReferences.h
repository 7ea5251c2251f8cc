// The texture files an import names, one Texture object per distinct reference: materials
// that name the same file share it, so it is read and decoded once.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

class TextureReferences {
public:
    // The texture that `reference`, written in `referringFile`, names; not read yet.
    std::shared_ptr<const Texture> reference(const std::filesystem::path& referringFile,
                                             std::string_view reference);
    // A texture whose encoded bytes came inside the model file, under the name `path`.
    std::shared_ptr<const Texture> embedded(std::string path, std::string mimeType,
                                            std::shared_ptr<const ByteBuffer> bytes);

    // Every texture made, in order, for ModelAsset::textures.
    std::vector<AssetTexture> take() { return std::move(textures_); }

private:
    std::map<std::string, std::shared_ptr<const Texture>, std::less<>> byKey_;
    std::vector<AssetTexture> textures_;
};

}  // namespace kelvo

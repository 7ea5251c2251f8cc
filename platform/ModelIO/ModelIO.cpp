#include "platform/ModelIO/ModelIO.h"

#include <cstring>

#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/ReferencedFile.h"
#include "platform/Foundation/Text.h"

namespace kelvo {

namespace {

// The image type by the file's signature, or by its name for TGA, which has none.
std::string imageMIMEType(const ByteBuffer& bytes, const std::filesystem::path& path) {
    auto startsWith = [&](const char* signature, std::size_t at = 0) {
        const std::size_t n = std::strlen(signature);
        return bytes.size() >= at + n && std::memcmp(bytes.data() + at, signature, n) == 0;
    };
    if (startsWith("\x89PNG\r\n\x1a\n")) return "image/png";
    if (startsWith("\xFF\xD8\xFF")) return "image/jpeg";
    if (startsWith("RIFF") && startsWith("WEBP", 8)) return "image/webp";
    if (startsWith("\xABKTX 20\xBB")) return "image/ktx2";
    if (startsWith("GIF8")) return "image/gif";
    if (startsWith("BM")) return "image/bmp";
    if (equalsIgnoringASCIICase(pathExtension(path), "tga")) return "image/x-tga";
    return {};
}

// The last part of a reference written with either kind of separator (or a drive letter).
std::string_view lastPathComponent(std::string_view reference) {
    const std::size_t cut = reference.find_last_of("/\\:");
    return cut == std::string_view::npos ? reference : reference.substr(cut + 1);
}

}  // namespace

Error modelIOError(std::string message) {
    return makeError(std::string(modelIOErrorDomain), modelIOImportFailed, std::move(message));
}

void loadTextures(ModelAsset& asset) {
    for (AssetTexture& t : asset.textures) {
        if (t.reference.empty()) continue;  // its bytes came with the model
        ReferencedFile file = readReferencedFile(t.referringFile, t.reference,
                                                 ReferenceSyntax::path, textureFileSizeLimit);
        const std::string_view name = lastPathComponent(t.reference);
        if ((file.outcome == ReferenceOutcome::missing ||
             file.outcome == ReferenceOutcome::refused) &&
            !name.empty() && name.size() < t.reference.size()) {
            file = readReferencedFile(t.referringFile, name, ReferenceSyntax::path,
                                      textureFileSizeLimit);
        }
        Texture& texture = *t.texture;
        texture.found = file.outcome == ReferenceOutcome::read;
        if (!texture.found) continue;
        texture.path = file.path.string();
        texture.mimeType = imageMIMEType(file.contents, file.path);
        texture.encoded = std::make_shared<const ByteBuffer>(std::move(file.contents));
    }
}

std::shared_ptr<Scene> sceneWithModelAsset(ModelAsset asset) {
    auto scene = std::make_shared<Scene>();
    const bool turn = !(asset.upAxisCorrection == Mat4::identity());
    for (std::shared_ptr<Node>& object : asset.objects) {
        if (turn) object->setTransform(object->transform() * asset.upAxisCorrection);
        scene->rootNode->addChildNode(std::move(object));
    }
    return scene;
}

}  // namespace kelvo

// The generic loader: every extension no dedicated loader claims goes to the model importer,
// which decides from the extension as written whether it can read the file.
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Imaging/TextureDecoding.h"
#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

std::shared_ptr<Scene> SceneLoader::loadModelIO(const std::filesystem::path& url) const {
    const std::string extension = pathExtension(url);
    if (!canImportFileExtension(extension)) {
        throw sceneLoaderError(
            unsupportedFormat,
            std::string(SceneLoaderMessage::unsupportedFormatPrefix) + extension);
    }
    ModelAsset asset = importModelAsset(url);
    loadTextures(asset);
    // The imported model keeps its own materials and orientation.
    std::shared_ptr<Scene> scene = sceneWithModelAsset(std::move(asset));
    // loadTextures brought the images' bytes; they are decoded once the scene shows which
    // material slots sample them (normal and occlusion maps are not drawn and stay encoded).
    decodeTextures(*scene);
    return scene;
}

}  // namespace kelvo

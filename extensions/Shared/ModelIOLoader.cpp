// The generic loader: every extension no dedicated loader claims goes to the model importer,
// which decides from the extension as written whether it can read the file.
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "platform/Foundation/FileReading.h"
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
    return sceneWithModelAsset(std::move(asset));
}

}  // namespace kelvo

#include "extensions/Shared/SceneLoader.h"

#include <string>

#include "extensions/Shared/FileFormats.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Text.h"

namespace kelvo {

std::shared_ptr<Scene> SceneLoader::load(const std::filesystem::path& from) const {
    // The keys are ASCII, so ASCII lower-casing chooses exactly as Unicode lower-casing would.
    // Extensions the list of formats does not name, the empty one too, go to the generic
    // loader.
    switch (formatLoader(asciiLowercase(pathExtension(from)))) {
        case FormatLoader::loadGLTFSync:
            return loadWithFormatLibraries(FormatLoader::loadGLTFSync, from);
        case FormatLoader::load3MF: return load3MF(from);
        case FormatLoader::loadSTL: return loadSTL(from);
        case FormatLoader::loadVOX: return loadVOX(from);
        case FormatLoader::loadModelIO: break;
    }
    return loadWithFormatLibraries(FormatLoader::loadModelIO, from);
}

std::shared_ptr<Material> makeDefaultModelMaterial() {
    auto material = std::make_shared<Material>();
    material->lightingModelName = LightingModel::physicallyBased;
    material->diffuse = Color::white(0.7, 1.0);
    material->metalness = 0.1;
    material->roughness = 0.6;
    return material;
}

}  // namespace kelvo

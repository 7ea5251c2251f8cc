#include "extensions/Shared/SceneLoader.h"

#include <string>

#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Text.h"

namespace kelvo {

std::shared_ptr<Scene> SceneLoader::load(const std::filesystem::path& from) const {
    // The keys are ASCII, so ASCII lower-casing chooses exactly as Unicode lower-casing would.
    const std::string extension = asciiLowercase(pathExtension(from));
    if (extension == "glb" || extension == "gltf") return loadGLTFSync(from);
    if (extension == "3mf") return load3MF(from);
    if (extension == "stl") return loadSTL(from);
    if (extension == "vox") return loadVOX(from);
    // obj, fbx, ply, usdz, usda, usdc, usd and every other extension, the empty one too.
    return loadModelIO(from);
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

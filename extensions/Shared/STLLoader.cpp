// STL files: imported by the model importer, then dressed the system's way: one shared grey
// material on every geometry, and every node turned a quarter turn about X so that the
// file's +Z (up) becomes the scene's +Y.
#include "extensions/Shared/STLScene.h"
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/ModelImporters.h"

namespace kelvo {

std::shared_ptr<Scene> dressedSTLScene(ModelAsset asset) {
    std::shared_ptr<Scene> scene = sceneWithModelAsset(std::move(asset));
    std::shared_ptr<Material> material = makeDefaultModelMaterial();
    // Every descendant of the root, grouping nodes too. The correction is added to the Euler
    // angle, not composed as a rotation, so nested nodes are turned by their ancestors too.
    scene->rootNode->enumerateChildNodes([&](Node& node, bool&) {
        if (node.geometry) node.geometry->materials = {material};
        Vec3 euler = node.eulerAngles();
        node.setEulerAngles({euler.x + zUpToYUpPitch, euler.y, euler.z});
    });
    return scene;
}

std::shared_ptr<Scene> SceneLoader::loadSTL(const std::filesystem::path& url) const {
    // The question is always asked for the lower-case literal, whatever the file name says.
    // Kelvo's own STL reader, asked for directly: the generic choice would link the import
    // library into every program.
    const ModelImporter* importer = findModelImporter("stl");
    if (!importer) throw sceneLoaderError(unsupportedFormat, SceneLoaderMessage::stlNotSupported);
    return dressedSTLScene(importer->importFile(url));
}

}  // namespace kelvo

// VOX files: walk the chunks, resolve the scene graph's translations, mesh each model and
// place it.
#include "extensions/Shared/VOX/VOXLoader.h"

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/VOX/VOXReader.h"
#include "extensions/Shared/VOX/VOXSceneGraph.h"
#include "extensions/Shared/VOX/VoxelMesher.h"
#include "platform/Foundation/FileReading.h"

namespace kelvo {

namespace {

// What a node, its geometry and its material cost beyond the buffers, in quads of 168 bytes.
constexpr std::int64_t quadsPerNode = 16;

VOXFile readVOXFileOrFail(ByteSpan data) {
    try {
        return readVOXFile(data);
    } catch (const VOXReadError& error) {
        namespace M = SceneLoaderMessage;
        switch (error.failure) {
            case VOXReadFailure::fileTooSmall:
                throw sceneLoaderError(voxFileTooSmall, M::voxFileTooSmall);
            case VOXReadFailure::badMagic:
                throw sceneLoaderError(voxBadMagic, M::voxBadMagic);
            case VOXReadFailure::noVoxelData:
                break;
        }
        throw sceneLoaderError(voxNoVoxelData, M::voxNoVoxelData);
    }
}

}  // namespace

std::shared_ptr<Scene> loadVOXScene(ByteSpan data, VoxelMeshBudget budget) {
    const VOXFile file = readVOXFileOrFail(data);

    VOXTranslationTable translations;
    if (!file.transforms.empty()) {
        resolveVOXTransforms(0, {}, file.transforms, file.shapes, file.groups, translations);
    }

    auto scene = std::make_shared<Scene>();
    for (size_t i = 0; i < file.models.size(); ++i) {
        const VOXChunk& model = file.models[i];
        if (model.voxels.empty()) continue;
        if (budget.quads < quadsPerNode) break;
        budget.quads -= quadsPerNode;
        std::shared_ptr<Node> node = buildVoxelMesh(model, file.palette, budget);
        if (!node) {
            budget.quads += quadsPerNode;
            continue;
        }
        if (auto t = translations.find(static_cast<std::int64_t>(i)); t != translations.end()) {
            // Converted before negating: -y itself would overflow for the lowest 64-bit value.
            const VOXTranslation& p = t->second;
            node->setPosition(
                {static_cast<float>(p.x), static_cast<float>(p.z), -static_cast<float>(p.y)});
        }
        scene->rootNode->addChildNode(std::move(node));
    }
    return scene;
}

std::shared_ptr<Scene> SceneLoader::loadVOX(const std::filesystem::path& url) const {
    const ByteBuffer bytes = readFileContents(url);
    return loadVOXScene(bytes);
}

}  // namespace kelvo

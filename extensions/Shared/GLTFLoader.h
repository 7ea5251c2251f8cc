// The glTF loader's bridge from the asynchronous glTF framework to the synchronous loaders.
//
// loadGLTFSync starts the framework's load with no options and blocks its thread on a
// semaphore until the framework's handler has answered, then returns the scene or throws:
//   - the framework's error, unchanged;
//   - "SceneLoader" -1 when the first answer carries neither an error nor status 4 with an
//     asset (a later answer is not waited for);
//   - "SceneLoader" -2 when status 4 came with an asset that converts to no scene.
// The handler keeps what it writes alive for as long as the framework keeps the handler, so a
// late or second answer writes into slots nobody reads.
//
// The framework is a parameter so that tests can stand in for it; SceneLoader passes GLTFKit.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "platform/GLTFKit/GLTFKit.h"

namespace kelvo {

struct GLTFFramework {
    std::function<void(const std::filesystem::path&, const GLTFAssetLoadingOptions&,
                       GLTFAssetLoadHandler)>
        loadAsset;
    std::function<std::shared_ptr<Scene>(const GLTFAsset&)> sceneWithGLTFAsset;
};

// GLTFKit's loadAsset and sceneWithGLTFAsset.
GLTFFramework gltfKitFramework();

std::shared_ptr<Scene> loadGLTFSync(const std::filesystem::path& url,
                                    const GLTFFramework& framework);

}  // namespace kelvo

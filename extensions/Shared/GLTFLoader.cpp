// glTF and GLB files, through the GLTFKit framework; see GLTFLoader.h.
#include "extensions/Shared/GLTFLoader.h"

#include <optional>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "platform/Dispatch/DispatchSemaphore.h"

namespace kelvo {

GLTFFramework gltfKitFramework() {
    return {[](const std::filesystem::path& url, const GLTFAssetLoadingOptions& options,
               GLTFAssetLoadHandler handler) { loadAsset(url, options, std::move(handler)); },
            [](const GLTFAsset& asset) { return sceneWithGLTFAsset(asset); }};
}

std::shared_ptr<Scene> loadGLTFSync(const std::filesystem::path& url,
                                    const GLTFFramework& framework) {
    // Shared with the handler, which may outlive this call.
    struct Slots {
        std::shared_ptr<Scene> scene;
        std::optional<Error> error;
        DispatchSemaphore completion{0};
    };
    auto slots = std::make_shared<Slots>();
    const GLTFAssetStatus complete = GLTFAssetStatus::complete;
    // The conversion function is copied too: the handler may run after this call returned.
    auto convert = framework.sceneWithGLTFAsset;

    framework.loadAsset(url, GLTFAssetLoadingOptions{},
                        [slots, convert](float /*progress*/, GLTFAssetStatus status,
                                         std::shared_ptr<const GLTFAsset> asset, const Error* error,
                                         bool* /*stop*/) {
                            if (error) {
                                slots->error = *error;
                            } else if (status == complete && asset) {
                                slots->scene = convert(*asset);
                            } else {
                                slots->error = sceneLoaderError(gltfLoadFailed,
                                                                SceneLoaderMessage::gltfLoadFailed);
                            }
                            slots->completion.signal();
                        });
    slots->completion.wait();
    if (slots->error) throw *slots->error;
    if (slots->scene) return slots->scene;
    throw sceneLoaderError(gltfNoSceneProduced, SceneLoaderMessage::gltfNoSceneProduced);
}

std::shared_ptr<Scene> SceneLoader::loadGLTFSync(const std::filesystem::path& url) const {
    return kelvo::loadGLTFSync(url, gltfKitFramework());
}

}  // namespace kelvo

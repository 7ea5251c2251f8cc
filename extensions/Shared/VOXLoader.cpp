// VOX files. Until their own reader exists they go to the generic loader, which refuses
// them by their extension.
#include "extensions/Shared/SceneLoader.h"

namespace kelvo {

std::shared_ptr<Scene> SceneLoader::loadVOX(const std::filesystem::path& url) const {
    return loadModelIO(url);
}

}  // namespace kelvo

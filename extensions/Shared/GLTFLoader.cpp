// glTF and GLB files. Until their own reader exists they go to the generic loader, whose import
// library reads them.
#include "extensions/Shared/SceneLoader.h"

namespace kelvo {

std::shared_ptr<Scene> SceneLoader::loadGLTFSync(const std::filesystem::path& url) const {
    return loadModelIO(url);
}

}  // namespace kelvo

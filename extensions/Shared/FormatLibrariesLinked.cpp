// The glTF and generic loaders called in this process: for the tests, benchmarks and
// fuzzers, which link the format libraries, and inside the loader module itself.
#include "extensions/Shared/SceneLoader.h"

namespace kelvo {

void SceneLoader::prepareFormatLibraries(const std::filesystem::path&) {}

std::shared_ptr<Scene> SceneLoader::loadWithFormatLibraries(
    FormatLoader loader, const std::filesystem::path& from) const {
    return loader == FormatLoader::loadGLTFSync ? loadGLTFSync(from) : loadModelIO(from);
}

}  // namespace kelvo

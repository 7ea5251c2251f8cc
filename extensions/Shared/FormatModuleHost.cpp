// The programs' side of the loader module (FormatModule.h): opened once, on the first file
// that needs it, from beside the executable (build trees) or from the installed library
// folder, and only by absolute path.
#include <dlfcn.h>

#include <string>
#include <vector>

#include "extensions/Shared/FormatModule.h"
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "platform/Foundation/Resources.h"
#include "platform/Foundation/Text.h"
#include "platform/Imaging/ImageDecoding.h"

#if !defined(KELVO_INSTALL_MODULEDIR) || !defined(KELVO_MODULE_DIR)
// The module folder below the install prefix, and the same with the prefix in front.
#error "KELVO_MODULE_DIR and KELVO_INSTALL_MODULEDIR are defined by CMake"
#endif

namespace kelvo {

namespace {

struct OpenedModule {
    FormatModuleEntry entry = nullptr;
    std::string failure;  // why there is no entry
};

OpenedModule openModule() {
    OpenedModule opened;
    // Beside the executable (build trees), in the library folder of the tree the executable
    // was installed in (any prefix), then in the configured one.
    std::vector<std::filesystem::path> candidates;
    if (std::filesystem::path exeDir = executableDirectory(); !exeDir.empty()) {
        candidates.push_back(exeDir / formatModuleFileName);
        candidates.push_back(exeDir / ".." / KELVO_MODULE_DIR / formatModuleFileName);
    }
    candidates.push_back(std::filesystem::path(KELVO_INSTALL_MODULEDIR) / formatModuleFileName);
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(candidate, error)) {
            opened.failure += candidate.string() + " not found; ";
            continue;
        }
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            opened.failure += std::string(why ? why : candidate.c_str()) + "; ";
            continue;
        }
        if (void* symbol = ::dlsym(handle, formatModuleEntryName)) {
            opened.entry = reinterpret_cast<FormatModuleEntry>(symbol);
            return opened;
        }
        opened.failure += candidate.string() + " has no entry point; ";
        ::dlclose(handle);
    }
    opened.failure.resize(opened.failure.size() - 2);
    return opened;
}

const OpenedModule& formatModule() {
    static const OpenedModule opened = openModule();
    return opened;
}

}  // namespace

void SceneLoader::prepareFormatLibraries(const std::filesystem::path& file) {
    if (!file.empty()) {
        const std::string extension = asciiLowercase(file.extension().string());
        const FormatLoader loader =
            formatLoader(extension.empty() ? extension : extension.substr(1));
        if (loader != FormatLoader::loadGLTFSync && loader != FormatLoader::loadModelIO) return;
    }
    (void)formatModule();
}

std::shared_ptr<Scene> SceneLoader::loadWithFormatLibraries(
    FormatLoader loader, const std::filesystem::path& from) const {
    const OpenedModule& module = formatModule();
    if (!module.entry) {
        throw sceneLoaderError(
            loaderModuleMissing,
            std::string(SceneLoaderMessage::loaderModuleMissingPrefix) + module.failure);
    }
    FormatModuleRequest request{loader, from, maximumTextureSide()};
    FormatModuleReply reply;
    module.entry(request, reply);
    if (reply.error) std::rethrow_exception(reply.error);
    return reply.scene;
}

}  // namespace kelvo

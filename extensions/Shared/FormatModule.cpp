// The loader module's entry point (FormatModule.h). Built with every other symbol hidden, so
// its copy of the loading code never mixes with the host's.
#include "extensions/Shared/FormatModule.h"

#include "extensions/Shared/SceneLoader.h"
#include "platform/Imaging/ImageDecoding.h"

namespace kelvo {

struct FormatModuleAccess {
    static std::shared_ptr<Scene> load(FormatLoader loader, const std::filesystem::path& from) {
        return SceneLoader().loadWithFormatLibraries(loader, from);
    }
};

}  // namespace kelvo

extern "C" __attribute__((visibility("default"))) void kelvoLoadWithFormatLibraries(
    const kelvo::FormatModuleRequest& request, kelvo::FormatModuleReply& reply) {
    try {
        kelvo::setMaximumTextureSide(request.maximumTextureSide);
        reply.scene = kelvo::FormatModuleAccess::load(request.loader, request.path);
    } catch (...) {
        reply.error = std::current_exception();
    }
}

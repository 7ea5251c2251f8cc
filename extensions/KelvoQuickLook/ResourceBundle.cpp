#include "extensions/KelvoQuickLook/ResourceBundle.h"

#include <string>
#include <system_error>

namespace kelvo {

ResourceBundle ResourceBundle::main() {
    ResourceBundle bundle;
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) bundle.directories.push_back(executable.parent_path());
    bundle.directories.push_back(std::filesystem::path(KELVO_INSTALL_DATADIR) / "kelvo");
    return bundle;
}

std::optional<std::filesystem::path> ResourceBundle::urlForResource(
    std::string_view name, std::string_view extension) const {
    std::string file = std::string(name) + "." + std::string(extension);
    for (const auto& directory : directories) {
        std::filesystem::path candidate = directory / file;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    }
    return std::nullopt;
}

}  // namespace kelvo

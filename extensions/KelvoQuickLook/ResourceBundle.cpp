#include "extensions/KelvoQuickLook/ResourceBundle.h"

#include "platform/Foundation/Resources.h"

#include <string>
#include <system_error>

namespace kelvo {

ResourceBundle ResourceBundle::main() {
    // The same folders as every other resource lookup of the library.
    return ResourceBundle{resourceDirectories()};
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

// Where the previewer finds its data files (the brand icon): beside its executable first,
// so a build tree runs as it is, then in the installation's share/kelvo folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace kelvo {

struct ResourceBundle {
    std::vector<std::filesystem::path> directories;

    // The running executable's folder, then <prefix>/share/kelvo of the installation.
    static ResourceBundle main();

    // The first regular file NAME.EXTENSION in the directories, in order.
    std::optional<std::filesystem::path> urlForResource(std::string_view name,
                                                        std::string_view extension) const;
};

}  // namespace kelvo

// Where the previewer finds its data files (the brand icon): the library's resource folders
// (platform/Foundation/Resources.h), or folders a test chooses.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace kelvo {

struct ResourceBundle {
    std::vector<std::filesystem::path> directories;

    // The library's resource folders, in their order.
    static ResourceBundle main();

    // The first regular file NAME.EXTENSION in the directories, in order.
    std::optional<std::filesystem::path> urlForResource(std::string_view name,
                                                        std::string_view extension) const;
};

}  // namespace kelvo

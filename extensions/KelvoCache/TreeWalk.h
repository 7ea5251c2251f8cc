// The model files under the paths a user names.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

struct FoundFiles {
    std::vector<std::filesystem::path> models;  // in a stable order, each once
    std::vector<std::string> problems;          // "PATH: reason" for what could not be read
};

// The files Kelvo reads (by extension, in any letter case, the formats it registers) among
// `paths` and, for folders, below them. Each folder's entries are taken in byte order of
// their names. Symbolic links to files are taken as they are; links to folders are followed
// only with `followFolderLinks`, and then each folder at most once.
FoundFiles findModelFiles(const std::vector<std::filesystem::path>& paths, bool followFolderLinks);

// The MIME type of a model file by its extension; empty when Kelvo does not read it.
std::string_view modelMimeType(const std::filesystem::path& path);

}  // namespace kelvo

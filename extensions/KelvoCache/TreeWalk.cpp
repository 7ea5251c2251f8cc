#include "extensions/KelvoCache/TreeWalk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

#include "extensions/Shared/FileFormats.h"
#include "platform/Foundation/Text.h"

namespace kelvo {

namespace {

struct Walk {
    bool followFolderLinks;
    FoundFiles found;
    std::set<std::pair<dev_t, ino_t>> foldersSeen;

    void problem(const std::filesystem::path& path, int error) {
        found.problems.push_back(path.string() + ": " + std::strerror(error));
    }

    void visit(const std::filesystem::path& path, bool named) {
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0) return problem(path, errno);
        const bool link = S_ISLNK(info.st_mode);
        if (link && ::stat(path.c_str(), &info) != 0) {
            if (named) problem(path, errno);
            return;  // a dangling link inside a tree is nobody's model
        }
        if (S_ISREG(info.st_mode)) {
            if (!modelMimeType(path).empty()) found.models.push_back(path);
            return;
        }
        if (!S_ISDIR(info.st_mode)) return;
        // A link to a folder that the user named is the folder they mean.
        if (link && !named && !followFolderLinks) return;
        if (!foldersSeen.insert({info.st_dev, info.st_ino}).second) return;
        std::error_code error;
        std::vector<std::filesystem::path> entries;
        for (std::filesystem::directory_iterator it(path, error), end; !error && it != end;
             it.increment(error)) {
            entries.push_back(it->path());
        }
        if (error) return problem(path, error.value());
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.native() < b.native(); });
        for (const std::filesystem::path& entry : entries)
            visit(entry, false);
    }
};

}  // namespace

std::string_view modelMimeType(const std::filesystem::path& path) {
    const std::string extension = asciiLowercase(path.extension().string());
    if (extension.size() < 2) return {};
    for (const FormatExtension& format : formatExtensions) {
        if (format.registered && format.extension == std::string_view(extension).substr(1))
            return format.mimeType;
    }
    return {};
}

FoundFiles findModelFiles(const std::vector<std::filesystem::path>& paths, bool followFolderLinks) {
    Walk walk{followFolderLinks, {}, {}};
    for (const std::filesystem::path& path : paths)
        walk.visit(path, true);
    // A file named twice, or under two named folders, is made once.
    std::vector<std::filesystem::path>& models = walk.found.models;
    std::set<std::string> seen;
    models.erase(
        std::remove_if(models.begin(), models.end(),
                       [&](const auto& p) {
                           return !seen.insert(
                                           std::filesystem::absolute(p).lexically_normal().string())
                                       .second;
                       }),
        models.end());
    return std::move(walk.found);
}

}  // namespace kelvo

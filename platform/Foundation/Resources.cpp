#include "platform/Foundation/Resources.h"

#include <dlfcn.h>

#include <system_error>

#ifndef KELVO_INSTALL_DATADIR
#error "KELVO_INSTALL_DATADIR names <install prefix>/share/kelvo; CMake defines it"
#endif

namespace kelvo {

std::filesystem::path executableDirectory() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

std::vector<std::filesystem::path> resourceDirectories() {
    std::vector<std::filesystem::path> directories;
    std::filesystem::path exeDir = executableDirectory();
    // Code loaded as a module into another program (the Python bindings) looks beside the
    // module first, where the build tree puts the resources.
    Dl_info info;
    if (::dladdr(reinterpret_cast<void*>(&resourceDirectories), &info) != 0 && info.dli_fname) {
        std::error_code error;
        std::filesystem::path module =
            std::filesystem::canonical(info.dli_fname, error).parent_path();
        if (!error && module != exeDir) directories.push_back(module);
    }
    if (!exeDir.empty()) {
        directories.push_back(exeDir);
        directories.push_back(exeDir / ".." / "share" / "kelvo");
    }
    directories.push_back(std::filesystem::path(KELVO_INSTALL_DATADIR));
    return directories;
}

std::optional<std::filesystem::path> findResource(std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") {
        return std::nullopt;
    }
    for (const std::filesystem::path& directory : resourceDirectories()) {
        std::filesystem::path candidate = directory / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    }
    return std::nullopt;
}

}  // namespace kelvo

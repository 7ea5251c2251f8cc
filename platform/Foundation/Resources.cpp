#include "platform/Foundation/Resources.h"

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

std::optional<std::filesystem::path> findResource(std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") {
        return std::nullopt;
    }
    std::filesystem::path exeDir = executableDirectory();
    std::filesystem::path candidates[3];
    int count = 0;
    if (!exeDir.empty()) {
        candidates[count++] = exeDir / name;
        candidates[count++] = exeDir / ".." / "share" / "kelvo" / name;
    }
    candidates[count++] = std::filesystem::path(KELVO_INSTALL_DATADIR) / name;
    for (int i = 0; i < count; ++i) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidates[i], error)) return candidates[i];
    }
    return std::nullopt;
}

}  // namespace kelvo

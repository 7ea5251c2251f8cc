// Data files installed with the executables (the brand icon), found without any
// configuration: the thumbnailer runs sandboxed, seeing only /usr and its own executable.
//
// A resource is looked up, in this order:
//   0. beside the shared object this code is linked into, when that is not the executable
//      (a Python module);
//   1. beside the running executable (build trees: CMake copies the resources there);
//   2. <executable directory>/../share/kelvo/ (an installed tree, wherever its prefix is);
//   3. <install prefix>/share/kelvo/, the prefix the build was configured with.
// The executable is found through /proc/self/exe. Nothing is cached: every call looks
// again, so a resource that appears or disappears is noticed at once.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace kelvo {

// The directory of the running executable, or an empty path when /proc is not mounted.
std::filesystem::path executableDirectory();

// The folders searched, in order (the first two only when the executable is known).
std::vector<std::filesystem::path> resourceDirectories();

// The path of the first regular file called `name` in the places above. `name` is a plain
// file name; one with a directory part is never found.
std::optional<std::filesystem::path> findResource(std::string_view name);

}  // namespace kelvo

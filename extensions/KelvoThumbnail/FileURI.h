// The INPUT argument of a thumbnailer: file managers pass a path (%i) or a URI (%u).
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace kelvo {

// The local path named by `input`. An argument that starts with "file:" (any case) is a
// URI: "file:///p", "file://localhost/p" or "file:/p", whose path is percent-decoded
// (a query or fragment ends it). Anything else is a path, taken as written. Nothing for a
// file URI of another host, with a malformed escape, or whose decoded path holds a NUL.
std::optional<std::filesystem::path> localPathFromArgument(std::string_view input);

}  // namespace kelvo

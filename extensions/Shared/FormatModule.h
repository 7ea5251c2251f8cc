// The loader module: the glTF and generic loaders with their libraries (the import library,
// Draco, the JSON parser, the JPEG and WebP decoders) in a shared object of their own,
// kelvo-loaders.so, which the programs open the first time a file needs it. Mapping and
// relocating those libraries costs several milliseconds at every process start, more than an
// STL thumbnail takes to draw.
//
// The module carries its own copy of the loading code and is called through one C entry
// point with the request below; what it returns (the scene, or the exception it threw) is
// handed on unchanged. It is never closed, since the scenes it made point into its code.
#pragma once

#include <exception>
#include <filesystem>
#include <memory>

#include "extensions/Shared/FileFormats.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

struct FormatModuleRequest {
    FormatLoader loader = FormatLoader::loadModelIO;  // loadGLTFSync or loadModelIO
    std::filesystem::path path;
    int maximumTextureSide = 0;  // the host's setting (ImageDecoding.h), for the module's copy
};

struct FormatModuleReply {
    std::shared_ptr<Scene> scene;
    std::exception_ptr error;  // set instead of the scene when the load threw
};

using FormatModuleEntry = void (*)(const FormatModuleRequest&, FormatModuleReply&);

inline constexpr const char* formatModuleFileName = "kelvo-loaders.so";
inline constexpr const char* formatModuleEntryName = "kelvoLoadWithFormatLibraries";

}  // namespace kelvo

// The "SceneLoader" error domain: every failure that a loader itself detects, with its fixed
// negative code and message. Errors of the ZIP reader, of outside libraries and of file
// reading are not converted into this domain; they pass through unchanged.
#pragma once

#include <string>
#include <string_view>

#include "platform/Foundation/Error.h"

namespace kelvo {

inline constexpr std::string_view sceneLoaderErrorDomain = "SceneLoader";

enum SceneLoaderErrorCode : long {
    gltfLoadFailed = -1,       // the glTF library reported neither an error nor an asset
    gltfNoSceneProduced = -2,  // the glTF load ended with neither an error nor a scene
    unsupportedFormat = -3,    // the model importer cannot read STL, or this extension
    loaderModuleMissing = -4,  // the module of the glTF and generic loaders cannot be opened
    noMeshIn3MF = -12,         // a 3MF package yields no mesh
    longElementIn3MF = -13,    // a 3MF model part read in pieces has an element too long
    voxFileTooSmall = -20,     // a VOX file of fewer than 8 bytes
    voxBadMagic = -21,         // the first four bytes are not "VOX "
    voxNoVoxelData = -22,      // the chunk walk found no model
};

namespace SceneLoaderMessage {
inline constexpr std::string_view gltfLoadFailed = "Failed to load GLTF asset";
inline constexpr std::string_view gltfNoSceneProduced = "No scene produced from GLTF asset";
inline constexpr std::string_view stlNotSupported = "STL not supported by ModelIO";
// Followed by the path extension exactly as written (possibly empty).
inline constexpr std::string_view unsupportedFormatPrefix = "Unsupported format: ";
// Followed by where it was looked for and why it failed.
inline constexpr std::string_view loaderModuleMissingPrefix =
    "The loader module for this format cannot be opened: ";
inline constexpr std::string_view noMeshIn3MF = "No mesh data found in 3MF model";
inline constexpr std::string_view longElementIn3MF =
    "A 3MF model part holds an element or text too long to read in pieces";
inline constexpr std::string_view voxFileTooSmall = "VOX file too small";
inline constexpr std::string_view voxBadMagic = "Invalid VOX file: bad magic";
inline constexpr std::string_view voxNoVoxelData = "No voxel data found in VOX file";
}  // namespace SceneLoaderMessage

// An error in the "SceneLoader" domain with the message as its only user-info entry.
inline Error sceneLoaderError(SceneLoaderErrorCode code, std::string_view message) {
    return makeError(std::string(sceneLoaderErrorDomain), code, std::string(message));
}

}  // namespace kelvo

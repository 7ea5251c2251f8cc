// GLTFKit: glTF 2.0 files, text (.gltf) and binary (.glb), loaded asynchronously and turned
// into a scene graph.
//
//   loadAsset           starts a load; its handler is invoked exactly once per call, with
//                       status `complete` and the asset, or with status `error` and the error.
//                       The load runs on a worker of the global user-initiated queue, never on
//                       the calling thread, so a caller may block on the outcome (only when no
//                       worker can be started does it run inside the call).
//   readGLTFAsset       the same load, synchronous and from bytes already in memory (tests,
//                       fuzzing, benchmarks); throws instead of calling a handler.
//   sceneWithGLTFAsset  turns a loaded asset into a scene; nothing when that fails.
//
// What is read: the GLB container (version 2) and JSON; buffers from the GLB chunk, base64
// data: URIs and files beside the model (platform/Foundation/ReferencedFile.h; a missing buffer
// fails the load, a missing image does not); accessors of every component type, normalised or
// not, strided, sparse; KHR_mesh_quantization, KHR_draco_mesh_compression,
// EXT_meshopt_compression (fallback buffers need no data), KHR_materials_unlit,
// KHR_materials_emissive_strength, KHR_texture_transform, KHR_lights_punctual and
// EXT_texture_webp. A file whose extensionsRequired names anything else is refused, as are
// glTF 1.0 and GLB version 1. Images are read, not decoded.
//
// Errors are kelvo::Error values in the domain "GLTFKit" with a GLTFErrorCode and a message
// naming the object and the byte range at fault ("accessor 3 (count 24, stride 12) ends at
// byte 300 of bufferView 1, which holds 288 bytes"); the model file itself unreadable gives
// the operating system's error (domain "POSIX"). Every count and offset from the file is
// checked in 64-bit arithmetic before use, and decoded sizes are bounded by the bytes that
// encode them, so no file makes the load allocate without bound, recurse without bound or
// read outside a buffer.
//
// Thread safety: loads are independent; any number may run side by side.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/Foundation/Error.h"
#include "platform/GLTFKit/GLTFAsset.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

inline constexpr std::string_view gltfErrorDomain = "GLTFKit";

enum GLTFErrorCode : long {
    gltfErrorNotGLTF = 1,               // neither a GLB container nor JSON
    gltfErrorUnsupportedVersion = 2,    // glTF 1.0, GLB version 1, or no version
    gltfErrorUnsupportedExtension = 3,  // extensionsRequired names one this reader lacks
    gltfErrorInvalidAsset = 4,          // a reference, count or byte range that does not hold
    gltfErrorMissingResource = 5,       // a buffer file that is missing or unreadable
    gltfErrorDecompressionFailed = 6,   // Draco or meshopt data that does not decode
    gltfErrorTooLarge = 7,              // more than the reader's limits allow
};

// The completion status is 4; the others are never reported by this implementation but keep
// their places so that no other value is ever taken for completion.
enum class GLTFAssetStatus : int {
    error = -1,
    parsing = 1,
    validating = 2,
    processing = 3,
    complete = 4,
};

// Loading options by name. None is defined yet; the loader passes none.
using GLTFAssetLoadingOptions = std::map<std::string, std::string, std::less<>>;

// progress (unused, 1 on completion), status, the asset (with `complete`), the error (with
// `error`), and a stop flag the handler may set (ignored: the load has ended by then).
using GLTFAssetLoadHandler =
    std::function<void(float progress, GLTFAssetStatus status,
                       std::shared_ptr<const GLTFAsset> asset, const Error* error, bool* stop)>;

void loadAsset(const std::filesystem::path& url, const GLTFAssetLoadingOptions& options,
               GLTFAssetLoadHandler handler);

// Loads the asset whose file holds `contents`; `url` names the file (for messages, and as the
// folder that external buffers and images are looked up in). Throws as described above.
GLTFAsset readGLTFAsset(ByteBuffer contents, const std::filesystem::path& url);

// The asset's default scene (or its first), as a scene whose root node's children are the
// scene's root nodes, in order. Meshes become geometry (one node per primitive when a mesh has
// several), materials become physically based materials with sRGB-encoded colours (or constant
// ones for unlit), cameras and KHR_lights_punctual lights sit on the nodes that carry them.
// Morph targets are applied at their default weights, animations sampled at time 0, skinned
// meshes drawn as stored (bind pose). Lines are left out; points become point elements.
// Nothing when the conversion fails (out of memory).
std::shared_ptr<Scene> sceneWithGLTFAsset(const GLTFAsset& asset);

// A light's strength in the scene graph's units for a glTF light of `intensity` lux
// (directional), or candela seen from `distance` metres (point and spot). The scene graph's
// physically based intensities are lux, its staging key light a 1000-lux studio light, so the
// factor is one: a 3-lux sun tuned for a dark web viewer adds a faint tint, a daylight-strength
// one (Blender exports its sun at 683 lux per W/m^2) adds about as much as the key light, and no
// file's own lighting washes the model out. Candela become lux at `distance` by the inverse-
// square law, since the renderers do not attenuate lights over distance; beyond its `range` a
// light gives nothing.
double sceneLightIntensity(const GLTFLight& light, double distance);

}  // namespace kelvo

// The model importer: the four operations the STL and generic loaders use.
//
//   canImportFileExtension  - whether an importer exists for an extension (ASCII letter case
//                             ignored, so "OBJ" is "obj")
//   importModelAsset        - reads a file into a ModelAsset
//   loadTextures            - reads the texture files the asset's materials name
//   sceneWithModelAsset     - turns the asset into a scene graph
//
// Which importer reads a file is decided by its extension: a row of the importer table
// (ModelImporters.h: Kelvo's own STL, OBJ and PLY readers) or, for every other extension
// the Open Asset Import Library lists, that library (AssimpImporter.h).
//
// Import is lenient like the parsers behind it: a malformed file yields what could be read,
// possibly nothing. Errors:
//   - the file cannot be read at all: the operating system's error (domain "POSIX");
//   - the file is not a model of its kind at all (a PLY file without its header, a file the
//     import library rejects): domain "ModelIO", code modelIOImportFailed, the reason as the
//     message.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Foundation/Error.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

inline constexpr std::string_view modelIOErrorDomain = "ModelIO";
enum ModelIOErrorCode : long {
    modelIOImportFailed = 1,  // the file is not a readable model of its kind; the message says why
};
Error modelIOError(std::string message);

// A texture file that a material names. The materials' slots share `texture`; loadTextures
// fills it in place. A texture whose bytes came inside the model file has them in
// `texture->encoded` already and no reference.
struct AssetTexture {
    std::shared_ptr<Texture> texture;
    std::filesystem::path referringFile;  // the file that names it (model, material library)
    std::string reference;                // as written there; empty for an embedded image
};

// An imported model: scene-graph nodes built by the importer, not yet in a scene.
struct ModelAsset {
    std::vector<std::shared_ptr<Node>> objects;  // the top-level objects, in file order
    std::vector<AssetTexture> textures;          // every texture the materials use, once each
    // The turn from the axes the file declares to the scene's y-up ones, applied by
    // sceneWithModelAsset; identity for files that declare none (OBJ, PLY, STL) or are y-up.
    Mat4 upAxisCorrection = Mat4::identity();
};

// Texture files larger than this are not read: no thumbnail or preview can use more.
inline constexpr std::uint64_t textureFileSizeLimit = std::uint64_t{256} << 20;

bool canImportFileExtension(std::string_view extension);
ModelAsset importModelAsset(const std::filesystem::path& url);

// Reads every referenced texture file (through the referenced-file rules of
// platform/Foundation/ReferencedFile.h, relative to the file that names it) into
// `encoded`, with `path` the file read and `mimeType` from its signature. A reference the
// rules refuse or that names no file is tried once more as its last path component in the
// referring file's folder (files made elsewhere name "C:\models\wood.jpg" for the wood.jpg
// beside them). A texture that still cannot be read keeps `found` false: its material then
// shows its colour alone. Images are not decoded here.
void loadTextures(ModelAsset& asset);

// A new scene whose root holds the asset's top-level objects in order, each turned by
// `upAxisCorrection`. Nodes and buffers are moved, not copied.
std::shared_ptr<Scene> sceneWithModelAsset(ModelAsset asset);

}  // namespace kelvo

// The model importer: the four operations the STL and generic loaders use.
//
//   canImportFileExtension  - whether an importer exists for an extension (case-insensitive)
//   importModelAsset        - reads a file into a ModelAsset
//   loadTextures            - loads the texture images the asset's materials name
//   sceneWithModelAsset     - turns the asset into a scene graph
//
// Import is lenient like the parsers behind it: a malformed file yields what could be read,
// possibly nothing. Only a file that cannot be read at all is an error (the operating
// system's, domain "POSIX").
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

// One triangle mesh in the scene graph's layouts: float triples (stride 12) for positions,
// normals and colours, unsigned 32-bit index triples for triangles. `normals` and `colors`
// are empty or hold `vertexCount` triples.
struct AssetMesh {
    std::string name;
    ByteBuffer positions;
    ByteBuffer normals;
    ByteBuffer colors;
    ByteBuffer indices;
    std::int64_t vertexCount = 0;
    std::int64_t triangleCount = 0;
};

// A placed object: an optional mesh (index into ModelAsset::meshes, or -1) and children.
struct AssetObject {
    std::string name;
    Mat4 transform = Mat4::identity();
    std::int64_t mesh = -1;
    std::vector<AssetObject> children;
};

struct ModelAsset {
    std::vector<AssetMesh> meshes;
    std::vector<AssetObject> objects;  // the top-level objects, in file order
};

bool canImportFileExtension(std::string_view extension);
ModelAsset importModelAsset(const std::filesystem::path& url);
void loadTextures(ModelAsset& asset);
// Each top-level object becomes a child of the root node, in order; geometry buffers are
// moved into the scene, not copied. Geometries get no material of their own.
std::shared_ptr<Scene> sceneWithModelAsset(ModelAsset asset);

}  // namespace kelvo

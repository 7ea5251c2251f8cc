// The steps of a glTF load, in the order readGLTFAsset runs them. Internal to GLTFKit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/GLTFKit/GLTFAsset.h"
#include "platform/GLTFKit/GLTFKit.h"

namespace kelvo::gltf {

// Limits that keep a hostile file from costing more than a real one.
// Node trees deeper than this are refused: every walk of the scene graph after us may
// recurse once per level.
inline constexpr std::int64_t maxNodeDepth = 256;
// No decoder's output may exceed its input by more than this factor (meshopt's vertex codec
// reaches 64 on constant data; Draco stays far below on meshes), plus the slack below.
inline constexpr std::uint64_t maxDecodedRatio = 128;
inline constexpr std::uint64_t decodedSlack = std::uint64_t{1} << 20;

[[noreturn]] void fail(GLTFErrorCode code, std::string message);

// Splits a GLB container into its JSON and binary chunks (the binary one may be absent).
struct GLBChunks {
    ByteSpan json;
    bool hasBinary = false;
    std::uint64_t binaryOffset = 0;  // in the container
    std::uint64_t binaryLength = 0;
};
bool looksLikeGLB(ByteSpan contents);
GLBChunks splitGLB(ByteSpan contents);

// Reads the JSON document into `asset` (collections and their fields as written; no
// cross-reference is checked yet). `json` must be followed by at least `padding` readable
// bytes (the JSON parser reads ahead). Refuses glTF 1.0 and unknown required extensions.
void parseGLTFDocument(const char* json, std::size_t length, std::size_t capacity,
                       GLTFAsset& asset);

// Buffers: GLB chunk, data: URIs and files beside `asset.url`.
void resolveBuffers(GLTFAsset& asset, const std::shared_ptr<const ByteBuffer>& file,
                    const GLBChunks* glb);
// Checks every index between objects, and the node tree (one parent each, no cycle, no
// deeper than maxNodeDepth).
void validateReferences(const GLTFAsset& asset);
// Buffer views: ranges inside their buffers; meshopt-compressed views are decoded.
void resolveBufferViews(GLTFAsset& asset);
// Accessors: ranges inside their buffer views, sparse parts included.
void validateAccessors(const GLTFAsset& asset);
// Draco-compressed primitives: decoded into new accessors over a new buffer.
void decodeDracoPrimitives(GLTFAsset& asset);
// Images: encoded bytes from buffer views, data: URIs or files (a missing file is no error).
void resolveImages(GLTFAsset& asset);

// "data:[<media type>][;base64],<data>": the bytes, with the media type in `*mediaType`.
// False when `uri` is no data: URI; throws when it is one that cannot be decoded.
bool decodeDataURI(std::string_view uri, ByteBuffer& out, std::string* mediaType,
                   const std::string& what);

// The meshopt decoders: `view`'s compressed bytes into `out` (count * byteStride bytes).
void decodeMeshopt(const GLTFMeshoptCompression& compression, ByteSpan compressed,
                   std::uint8_t* out, const std::string& what);

}  // namespace kelvo::gltf

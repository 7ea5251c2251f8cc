// A loaded glTF 2.0 asset: the document's objects as plain records, with every buffer, buffer
// view and image already resolved to bytes.
//
// Indices between objects (an accessor's bufferView, a node's mesh, ...) are positions in the
// asset's vectors, -1 where the document has none. loadAsset checks every one of them, every
// byte range and every count before it hands an asset out, so a consumer may read an accessor
// without checking its range again (see GLTFAccessors.h). Numbers that the document gives and
// nothing bounds (factors, transforms, camera planes) are as written, possibly non-finite.
//
// Compressed data is decoded by then too: a buffer view compressed with EXT_meshopt_compression
// holds its decoded bytes, and a primitive compressed with KHR_draco_mesh_compression points at
// accessors appended to `accessors` that read its decoded attributes and indices.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/SceneKit/Material.h"

namespace kelvo {

// Bytes inside a shared owner (the file, a decoded data: URI, a decompressed view).
struct GLTFBytes {
    std::shared_ptr<const ByteBuffer> owner;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;

    const std::uint8_t* data() const { return owner ? owner->data() + offset : nullptr; }
    ByteSpan span() const { return {data(), static_cast<size_t>(length)}; }
};

struct GLTFBuffer {
    std::string uri;  // as written; empty for the GLB chunk and for a buffer without data
    std::uint64_t byteLength = 0;
    bool hasData = false;  // false: no uri and no GLB chunk (a meshopt fallback buffer)
    GLTFBytes bytes;       // byteLength bytes when hasData
};

enum class GLTFMeshoptMode { attributes, triangles, indices };
enum class GLTFMeshoptFilter { none, octahedral, quaternion, exponential };

struct GLTFMeshoptCompression {
    std::int64_t buffer = -1;
    std::uint64_t byteOffset = 0;
    std::uint64_t byteLength = 0;
    std::uint64_t byteStride = 0;
    std::uint64_t count = 0;
    GLTFMeshoptMode mode = GLTFMeshoptMode::attributes;
    GLTFMeshoptFilter filter = GLTFMeshoptFilter::none;
};

struct GLTFBufferView {
    std::int64_t buffer = -1;
    std::uint64_t byteOffset = 0;
    std::uint64_t byteLength = 0;
    std::uint64_t byteStride = 0;  // 0: tightly packed
    bool hasMeshopt = false;
    GLTFMeshoptCompression meshopt;
    GLTFBytes bytes;  // the view's byteLength bytes, decoded when compressed
};

// Component types by their glTF numbers.
enum GLTFComponentType : int {
    gltfByte = 5120,
    gltfUnsignedByte = 5121,
    gltfShort = 5122,
    gltfUnsignedShort = 5123,
    gltfUnsignedInt = 5125,
    gltfFloat = 5126,
};

// Bytes of one component; 0 for a number that is no component type.
int gltfComponentSize(int componentType);

struct GLTFSparse {
    std::uint64_t count = 0;
    std::int64_t indicesBufferView = -1;
    std::uint64_t indicesByteOffset = 0;
    int indicesComponentType = gltfUnsignedInt;
    std::int64_t valuesBufferView = -1;
    std::uint64_t valuesByteOffset = 0;
};

struct GLTFAccessor {
    std::int64_t bufferView = -1;  // -1: all zeros (before sparse substitution)
    std::uint64_t byteOffset = 0;
    int componentType = gltfFloat;
    bool normalized = false;
    std::uint64_t count = 0;
    int components = 1;  // SCALAR 1, VEC2 2, VEC3 3, VEC4 4, MAT2 4, MAT3 9, MAT4 16
    bool hasSparse = false;
    GLTFSparse sparse;
};

// KHR_texture_transform, as uv' = offset + rotate(rotation) * (scale * uv).
struct GLTFTextureTransform {
    double offset[2] = {0, 0};
    double rotation = 0;
    double scale[2] = {1, 1};
    int texCoord = -1;  // -1: the texture info's own texCoord
};

struct GLTFTextureInfo {
    std::int64_t index = -1;  // into textures; -1: none
    int texCoord = 0;
    double scale = 1;  // normalTexture's scale, occlusionTexture's strength
    GLTFTextureTransform transform;
};

enum class GLTFAlphaMode { opaque, mask, blend };

struct GLTFMaterial {
    std::string name;
    double baseColorFactor[4] = {1, 1, 1, 1};  // linear
    double metallicFactor = 1;
    double roughnessFactor = 1;
    GLTFTextureInfo baseColorTexture;
    GLTFTextureInfo metallicRoughnessTexture;
    GLTFTextureInfo normalTexture;
    GLTFTextureInfo occlusionTexture;
    GLTFTextureInfo emissiveTexture;
    double emissiveFactor[3] = {0, 0, 0};  // linear
    double emissiveStrength = 1;           // KHR_materials_emissive_strength
    GLTFAlphaMode alphaMode = GLTFAlphaMode::opaque;
    double alphaCutoff = 0.5;
    bool doubleSided = false;
    bool unlit = false;  // KHR_materials_unlit
};

struct GLTFSampler {
    int magFilter = 0;  // 0: unset
    int minFilter = 0;
    int wrapS = 10497;
    int wrapT = 10497;
};

struct GLTFTexture {
    std::int64_t sampler = -1;
    std::int64_t source = -1;  // image; EXT_texture_webp's source when the texture has one
};

struct GLTFImage {
    std::string name;
    std::string uri;
    std::string mimeType;
    std::int64_t bufferView = -1;
    // The encoded image, shared by every material slot that samples it. `found` is false for
    // a file that is missing or could not be read: a missing image is not an error.
    std::shared_ptr<Texture> texture;
};

enum GLTFPrimitiveMode : int {
    gltfPoints = 0,
    gltfLines = 1,
    gltfLineLoop = 2,
    gltfLineStrip = 3,
    gltfTriangles = 4,
    gltfTriangleStrip = 5,
    gltfTriangleFan = 6,
};

// Attribute semantic and accessor, in document order.
using GLTFAttributes = std::vector<std::pair<std::string, std::int64_t>>;

// The accessor of `semantic`, or -1.
std::int64_t gltfAttribute(const GLTFAttributes& attributes, std::string_view semantic);

struct GLTFDracoCompression {
    std::int64_t bufferView = -1;
    GLTFAttributes attributes;  // semantic and Draco attribute id
};

struct GLTFPrimitive {
    GLTFAttributes attributes;
    std::int64_t indices = -1;
    std::int64_t material = -1;
    int mode = gltfTriangles;
    std::vector<GLTFAttributes> targets;  // morph targets
    bool hasDraco = false;
    GLTFDracoCompression draco;
};

struct GLTFMesh {
    std::string name;
    std::vector<GLTFPrimitive> primitives;
    std::vector<double> weights;  // default morph weights
};

struct GLTFNode {
    std::string name;
    std::int64_t mesh = -1;
    std::int64_t camera = -1;
    std::int64_t skin = -1;
    std::int64_t light = -1;  // KHR_lights_punctual
    std::vector<std::int64_t> children;
    bool hasMatrix = false;
    double matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // column-major
    double translation[3] = {0, 0, 0};
    double rotation[4] = {0, 0, 0, 1};  // quaternion x, y, z, w
    double scale[3] = {1, 1, 1};
    std::vector<double> weights;  // morph weights; empty: the mesh's
};

struct GLTFScene {
    std::string name;
    std::vector<std::int64_t> nodes;
};

struct GLTFCamera {
    std::string name;
    bool orthographic = false;
    double yfov = 0.8;       // radians
    double aspectRatio = 0;  // 0: unset
    double xmag = 1, ymag = 1;
    double znear = 0.01;
    double zfar = 0;  // 0: infinite (perspective only)
};

enum class GLTFLightType { directional, point, spot };

struct GLTFLight {
    std::string name;
    GLTFLightType type = GLTFLightType::point;
    double color[3] = {1, 1, 1};  // linear
    double intensity = 1;         // lux (directional) or candela (point, spot)
    double range = 0;             // 0: unlimited
    double innerConeAngle = 0;    // radians, from the axis
    double outerConeAngle = 0.7853981633974483;
};

enum class GLTFAnimationPath { translation, rotation, scale, weights, other };
enum class GLTFInterpolation { linear, step, cubicSpline };

struct GLTFAnimationChannel {
    std::int64_t sampler = -1;
    std::int64_t node = -1;  // -1: no target node (the channel is ignored)
    GLTFAnimationPath path = GLTFAnimationPath::other;
};

struct GLTFAnimationSampler {
    std::int64_t input = -1;
    std::int64_t output = -1;
    GLTFInterpolation interpolation = GLTFInterpolation::linear;
};

struct GLTFAnimation {
    std::string name;
    std::vector<GLTFAnimationChannel> channels;
    std::vector<GLTFAnimationSampler> samplers;
};

struct GLTFAsset {
    std::filesystem::path url;  // the file it was loaded from
    std::string version;
    std::string generator;
    std::vector<std::string> extensionsUsed;
    std::vector<std::string> extensionsRequired;

    std::int64_t scene = -1;  // the default scene; -1: none named
    std::vector<GLTFScene> scenes;
    std::vector<GLTFNode> nodes;
    std::vector<GLTFMesh> meshes;
    std::vector<GLTFMaterial> materials;
    std::vector<GLTFTexture> textures;
    std::vector<GLTFImage> images;
    std::vector<GLTFSampler> samplers;
    std::vector<GLTFCamera> cameras;
    std::vector<GLTFLight> lights;
    std::vector<GLTFAnimation> animations;
    std::int64_t skinCount = 0;  // skins are drawn in bind pose; only their number is kept
    std::vector<GLTFAccessor> accessors;
    std::vector<GLTFBufferView> bufferViews;
    std::vector<GLTFBuffer> buffers;
};

}  // namespace kelvo

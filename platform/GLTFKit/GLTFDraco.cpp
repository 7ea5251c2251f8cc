// KHR_draco_mesh_compression: each compressed primitive is decoded with Draco's decoder and
// its attributes and indices become ordinary accessors over decoded bytes, so the conversion
// never meets Draco. Only the attributes the scene uses are decoded.
//
// Draco's own accessors do not check their arguments, so every index it hands back is checked
// here before it is used to read.
#include <draco/compression/decode.h>

#include <cstring>

#include "platform/GLTFKit/GLTFAccessors.h"
#include "platform/GLTFKit/GLTFReading.h"

namespace kelvo::gltf {

namespace {

// Draco's data types as glTF component types; 0 for those glTF has none of.
int componentTypeOf(draco::DataType type) {
    switch (type) {
        case draco::DT_INT8:
            return gltfByte;
        case draco::DT_UINT8:
            return gltfUnsignedByte;
        case draco::DT_INT16:
            return gltfShort;
        case draco::DT_UINT16:
            return gltfUnsignedShort;
        case draco::DT_UINT32:
            return gltfUnsignedInt;
        case draco::DT_FLOAT32:
            return gltfFloat;
        default:
            return 0;
    }
}

constexpr std::string_view decodedSemantics[] = {"POSITION", "NORMAL", "TEXCOORD_0", "COLOR_0"};

// A new accessor of `components` floats per point over `bytes`.
std::int64_t appendAccessor(GLTFAsset& asset, std::shared_ptr<ByteBuffer> bytes,
                            std::uint64_t count, int components, int componentType) {
    GLTFBufferView view;
    std::uint64_t length = bytes->size();
    view.byteLength = length;
    view.bytes = {std::move(bytes), 0, length};
    asset.bufferViews.push_back(std::move(view));
    GLTFAccessor accessor;
    accessor.bufferView = static_cast<std::int64_t>(asset.bufferViews.size()) - 1;
    accessor.componentType = componentType;
    accessor.count = count;
    accessor.components = components;
    asset.accessors.push_back(accessor);
    return static_cast<std::int64_t>(asset.accessors.size()) - 1;
}

std::int64_t decodeAttribute(GLTFAsset& asset, const draco::PointCloud& cloud,
                             const draco::PointAttribute& attribute, int components,
                             bool normalized, const std::string& what) {
    const std::uint64_t points = cloud.num_points();
    const int componentType = componentTypeOf(attribute.data_type());
    const int have = attribute.num_components();
    if (componentType == 0 || have < 1) {
        fail(gltfErrorDecompressionFailed, what + " has a data type glTF cannot hold");
    }
    if (!attribute.is_mapping_identity() && attribute.indices_map_size() < points) {
        fail(gltfErrorDecompressionFailed, what + " maps fewer points than the mesh has");
    }
    const draco::DataBuffer* buffer = attribute.buffer();
    const std::uint64_t valueSize = std::uint64_t(gltfComponentSize(componentType)) * have;
    const std::uint64_t stride = attribute.byte_stride();
    const std::uint64_t offset = attribute.byte_offset();
    const std::uint64_t values = attribute.size();
    if (!buffer || stride < valueSize || values == 0 ||
        offset + stride * (values - 1) + valueSize > buffer->data_size()) {
        fail(gltfErrorDecompressionFailed, what + " holds fewer values than it declares");
    }
    auto out = std::make_shared<ByteBuffer>(points * components * sizeof(float));
    float* o = reinterpret_cast<float*>(out->data());
    const std::uint8_t* base = buffer->data() + offset;
    if (attribute.is_mapping_identity() && values >= points) {
        convertComponents(componentType, base, stride, points, have, components,
                          normalized || attribute.normalized(), o);
    } else {
        for (std::uint64_t p = 0; p < points; ++p) {
            std::uint64_t v =
                attribute.mapped_index(draco::PointIndex(static_cast<std::uint32_t>(p))).value();
            if (v >= values) {
                fail(gltfErrorDecompressionFailed, what + " maps a point to a missing value");
            }
            convertComponents(componentType, base + v * stride, stride, 1, have, components,
                              normalized || attribute.normalized(), o + p * components);
        }
    }
    return appendAccessor(asset, std::move(out), points, components, gltfFloat);
}

void decodePrimitive(GLTFAsset& asset, GLTFPrimitive& primitive, const std::string& what) {
    const GLTFBytes& data = asset.bufferViews[primitive.draco.bufferView].bytes;
    draco::DecoderBuffer input;
    input.Init(reinterpret_cast<const char*>(data.data()), data.length);
    draco::Decoder decoder;
    std::unique_ptr<draco::PointCloud> cloud;
    const draco::Mesh* mesh = nullptr;
    if (primitive.mode == gltfPoints) {
        auto decoded = decoder.DecodePointCloudFromBuffer(&input);
        if (!decoded.ok()) {
            fail(gltfErrorDecompressionFailed, what + ": the Draco data does not decode (" +
                                                   decoded.status().error_msg_string() + ")");
        }
        cloud = std::move(decoded).value();
    } else {
        auto decoded = decoder.DecodeMeshFromBuffer(&input);
        if (!decoded.ok()) {
            fail(gltfErrorDecompressionFailed, what + ": the Draco data does not decode (" +
                                                   decoded.status().error_msg_string() + ")");
        }
        std::unique_ptr<draco::Mesh> decodedMesh = std::move(decoded).value();
        mesh = decodedMesh.get();
        cloud = std::move(decodedMesh);
    }

    for (std::string_view semantic : decodedSemantics) {
        std::int64_t id = gltfAttribute(primitive.draco.attributes, semantic);
        if (id < 0) continue;
        const draco::PointAttribute* attribute =
            cloud->GetAttributeByUniqueId(static_cast<std::uint32_t>(id));
        const std::string attributeWhat =
            what + " Draco attribute " + std::to_string(id) + " (" + std::string(semantic) + ")";
        if (!attribute) fail(gltfErrorDecompressionFailed, attributeWhat + " is missing");
        // The accessor the file declares for the attribute says how many components it has.
        std::int64_t declared = gltfAttribute(primitive.attributes, semantic);
        int components = semantic == "TEXCOORD_0" ? 2 : 3;
        bool normalized = false;
        if (declared >= 0) {
            components = asset.accessors[declared].components;
            normalized = asset.accessors[declared].normalized;
        }
        if (components < 1 || components > 4) {
            fail(gltfErrorInvalidAsset, attributeWhat + ": the accessor is not a vector");
        }
        std::int64_t accessor =
            decodeAttribute(asset, *cloud, *attribute, components, normalized, attributeWhat);
        bool replaced = false;
        for (auto& [name, index] : primitive.attributes) {
            if (name == semantic) index = accessor, replaced = true;
        }
        if (!replaced) primitive.attributes.emplace_back(std::string(semantic), accessor);
    }

    if (mesh) {
        const std::uint64_t faces = mesh->num_faces();
        const std::uint32_t points = mesh->num_points();
        auto indices = std::make_shared<ByteBuffer>(faces * 3 * sizeof(std::uint32_t));
        std::uint32_t* out = reinterpret_cast<std::uint32_t*>(indices->data());
        for (std::uint64_t f = 0; f < faces; ++f) {
            const draco::Mesh::Face& face =
                mesh->face(draco::FaceIndex(static_cast<std::uint32_t>(f)));
            for (int k = 0; k < 3; ++k) {
                std::uint32_t index = face[k].value();
                if (index >= points) {
                    fail(gltfErrorDecompressionFailed, what + ": a Draco face names point " +
                                                           std::to_string(index) + " of " +
                                                           std::to_string(points));
                }
                out[f * 3 + k] = index;
            }
        }
        primitive.indices =
            appendAccessor(asset, std::move(indices), faces * 3, 1, gltfUnsignedInt);
    } else {
        primitive.indices = -1;
    }
    primitive.hasDraco = false;  // decoded
}

}  // namespace

void decodeDracoPrimitives(GLTFAsset& asset) {
    for (size_t m = 0; m < asset.meshes.size(); ++m) {
        auto& primitives = asset.meshes[m].primitives;
        for (size_t p = 0; p < primitives.size(); ++p) {
            if (!primitives[p].hasDraco) continue;
            decodePrimitive(asset, primitives[p],
                            "mesh " + std::to_string(m) + " primitive " + std::to_string(p));
        }
    }
}

}  // namespace kelvo::gltf

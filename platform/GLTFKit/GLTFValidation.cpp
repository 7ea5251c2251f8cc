// Everything in a glTF document that points somewhere is checked here, once, before any byte
// is read through it: indices between objects, byte ranges of views and accessors, the node
// tree. The conversion then reads without checking again.
#include <string>

#include "platform/GLTFKit/GLTFAccessors.h"
#include "platform/GLTFKit/GLTFReading.h"

namespace kelvo::gltf {

namespace {

std::string str(std::uint64_t v) {
    return std::to_string(v);
}
std::string str(std::int64_t v) {
    return std::to_string(v);
}

// `reference` (from `what`) must name one of `count` objects of `kind`; -1 means none.
void checkIndex(std::int64_t reference, size_t count, const char* kind, const std::string& what) {
    if (reference >= 0 && static_cast<std::uint64_t>(reference) >= count) {
        fail(gltfErrorInvalidAsset, what + " names " + kind + " " + str(reference) +
                                        ", but the file has " + str(std::uint64_t(count)));
    }
}

void checkAttributes(const GLTFAsset& asset, const GLTFAttributes& attributes,
                     const std::string& what) {
    for (const auto& [semantic, accessor] : attributes) {
        checkIndex(accessor, asset.accessors.size(), "accessor", what + " " + semantic);
    }
}

// One parent per node, no node its own ancestor, no deeper than maxNodeDepth.
void validateNodeTree(const GLTFAsset& asset) {
    const std::int64_t n = static_cast<std::int64_t>(asset.nodes.size());
    std::vector<std::int64_t> parent(n, -1);
    for (std::int64_t p = 0; p < n; ++p) {
        for (std::int64_t c : asset.nodes[p].children) {
            checkIndex(c, n, "node", "node " + str(p) + "'s children");
            if (c == p) fail(gltfErrorInvalidAsset, "node " + str(p) + " is its own child");
            if (parent[c] >= 0) {
                fail(gltfErrorInvalidAsset, "node " + str(c) + " has two parents, nodes " +
                                                str(parent[c]) + " and " + str(p));
            }
            parent[c] = p;
        }
    }
    // Depths by walking up to a node whose depth is known; `onWalk` marks the current walk,
    // so meeting it again is a cycle. Every node is walked over once.
    std::vector<std::int64_t> depth(n, -1);
    std::vector<std::int64_t> walk;
    std::vector<bool> onWalk(n, false);
    for (std::int64_t start = 0; start < n; ++start) {
        walk.clear();
        std::int64_t node = start;
        while (node >= 0 && depth[node] < 0) {
            if (onWalk[node]) {
                fail(gltfErrorInvalidAsset,
                     "the node tree has a cycle: node " + str(node) + " is its own ancestor");
            }
            onWalk[node] = true;
            walk.push_back(node);
            node = parent[node];
        }
        std::int64_t d = node >= 0 ? depth[node] : 0;
        for (auto it = walk.rbegin(); it != walk.rend(); ++it) {
            depth[*it] = ++d;
            onWalk[*it] = false;
            if (d > maxNodeDepth) {
                fail(gltfErrorTooLarge, "the node tree is deeper than " + str(maxNodeDepth) +
                                            " levels (at node " + str(*it) + ")");
            }
        }
    }
}

}  // namespace

void validateReferences(const GLTFAsset& asset) {
    const size_t nodes = asset.nodes.size(), accessors = asset.accessors.size();
    if (asset.scene >= 0)
        checkIndex(asset.scene, asset.scenes.size(), "scene", "the document's scene");
    for (size_t i = 0; i < asset.scenes.size(); ++i) {
        for (std::int64_t node : asset.scenes[i].nodes) {
            checkIndex(node, nodes, "node", "scene " + str(std::uint64_t(i)));
        }
    }
    for (size_t i = 0; i < nodes; ++i) {
        const GLTFNode& node = asset.nodes[i];
        const std::string what = "node " + str(std::uint64_t(i));
        checkIndex(node.mesh, asset.meshes.size(), "mesh", what);
        checkIndex(node.camera, asset.cameras.size(), "camera", what);
        checkIndex(node.skin, static_cast<size_t>(asset.skinCount), "skin", what);
        checkIndex(node.light, asset.lights.size(), "light", what);
    }
    validateNodeTree(asset);
    for (size_t m = 0; m < asset.meshes.size(); ++m) {
        const auto& primitives = asset.meshes[m].primitives;
        for (size_t p = 0; p < primitives.size(); ++p) {
            const GLTFPrimitive& primitive = primitives[p];
            const std::string what =
                "mesh " + str(std::uint64_t(m)) + " primitive " + str(std::uint64_t(p));
            checkAttributes(asset, primitive.attributes, what);
            for (const auto& target : primitive.targets)
                checkAttributes(asset, target, what + " target");
            checkIndex(primitive.indices, accessors, "accessor", what + " indices");
            checkIndex(primitive.material, asset.materials.size(), "material", what);
            if (primitive.hasDraco) {
                checkIndex(primitive.draco.bufferView, asset.bufferViews.size(), "bufferView",
                           what + " Draco data");
            }
            if (primitive.indices >= 0) {
                const GLTFAccessor& a = asset.accessors[primitive.indices];
                bool unsignedType = a.componentType == gltfUnsignedByte ||
                                    a.componentType == gltfUnsignedShort ||
                                    a.componentType == gltfUnsignedInt;
                if (a.components != 1 || !unsignedType) {
                    fail(gltfErrorInvalidAsset, what + " indices: accessor " +
                                                    str(primitive.indices) +
                                                    " is not SCALAR of an unsigned integer type");
                }
            }
        }
    }
    for (size_t i = 0; i < asset.materials.size(); ++i) {
        const GLTFMaterial& m = asset.materials[i];
        const std::string what = "material " + str(std::uint64_t(i));
        for (const GLTFTextureInfo* info :
             {&m.baseColorTexture, &m.metallicRoughnessTexture, &m.normalTexture,
              &m.occlusionTexture, &m.emissiveTexture}) {
            checkIndex(info->index, asset.textures.size(), "texture", what);
        }
    }
    for (size_t i = 0; i < asset.textures.size(); ++i) {
        const std::string what = "texture " + str(std::uint64_t(i));
        checkIndex(asset.textures[i].sampler, asset.samplers.size(), "sampler", what);
        checkIndex(asset.textures[i].source, asset.images.size(), "image", what);
    }
    for (size_t i = 0; i < asset.images.size(); ++i) {
        checkIndex(asset.images[i].bufferView, asset.bufferViews.size(), "bufferView",
                   "image " + str(std::uint64_t(i)));
    }
    for (size_t i = 0; i < accessors; ++i) {
        const GLTFAccessor& a = asset.accessors[i];
        const std::string what = "accessor " + str(std::uint64_t(i));
        checkIndex(a.bufferView, asset.bufferViews.size(), "bufferView", what);
        if (a.hasSparse) {
            checkIndex(a.sparse.indicesBufferView, asset.bufferViews.size(), "bufferView",
                       what + " sparse indices");
            checkIndex(a.sparse.valuesBufferView, asset.bufferViews.size(), "bufferView",
                       what + " sparse values");
        }
    }
    for (size_t i = 0; i < asset.bufferViews.size(); ++i) {
        const GLTFBufferView& v = asset.bufferViews[i];
        const std::string what = "bufferView " + str(std::uint64_t(i));
        checkIndex(v.buffer, asset.buffers.size(), "buffer", what);
        if (v.buffer < 0) fail(gltfErrorInvalidAsset, what + " names no buffer");
        if (v.hasMeshopt)
            checkIndex(v.meshopt.buffer, asset.buffers.size(), "buffer", what + " meshopt data");
    }
    for (size_t i = 0; i < asset.animations.size(); ++i) {
        const GLTFAnimation& a = asset.animations[i];
        const std::string what = "animation " + str(std::uint64_t(i));
        for (const auto& c : a.channels) {
            checkIndex(c.sampler, a.samplers.size(), "sampler", what);
            if (c.sampler < 0) fail(gltfErrorInvalidAsset, what + ": a channel names no sampler");
            checkIndex(c.node, nodes, "node", what);
        }
        for (const auto& s : a.samplers) {
            checkIndex(s.input, accessors, "accessor", what + " sampler input");
            checkIndex(s.output, accessors, "accessor", what + " sampler output");
            if (s.input < 0 || s.output < 0) {
                fail(gltfErrorInvalidAsset, what + ": a sampler lacks its input or output");
            }
        }
    }
}

void resolveBufferViews(GLTFAsset& asset) {
    for (size_t i = 0; i < asset.bufferViews.size(); ++i) {
        GLTFBufferView& view = asset.bufferViews[i];
        const std::string what = "bufferView " + str(std::uint64_t(i));
        if (view.hasMeshopt) {
            const GLTFMeshoptCompression& m = view.meshopt;
            const GLTFBuffer& source = asset.buffers[m.buffer];
            if (!source.hasData) {
                fail(gltfErrorInvalidAsset, what + ": its meshopt data lies in buffer " +
                                                str(m.buffer) + ", which has no data");
            }
            if (m.byteOffset > source.byteLength ||
                m.byteLength > source.byteLength - m.byteOffset) {
                fail(gltfErrorInvalidAsset,
                     what + ": its meshopt data (bytes " + str(m.byteOffset) + " to " +
                         str(m.byteOffset + m.byteLength) + ") lies past the end of buffer " +
                         str(m.buffer) + ", which holds " + str(source.byteLength) + " bytes");
            }
            // A decoder's output is bounded by its input; a count that claims more is a lie
            // that would cost memory before the decoder could notice.
            if (m.byteStride == 0 || m.byteStride > 256 ||
                m.count > (m.byteLength * maxDecodedRatio + decodedSlack) / m.byteStride) {
                fail(gltfErrorTooLarge, what + ": its meshopt data (" + str(m.byteLength) +
                                            " bytes) cannot hold " + str(m.count) +
                                            " elements of " + str(m.byteStride) + " bytes");
            }
            auto decoded = std::make_shared<ByteBuffer>(m.count * m.byteStride);
            decodeMeshopt(m, source.bytes.span().subspan(m.byteOffset, m.byteLength),
                          decoded->data(), what);
            std::uint64_t length = decoded->size();
            view.bytes = {std::move(decoded), 0, length};
            continue;
        }
        const GLTFBuffer& buffer = asset.buffers[view.buffer];
        if (!buffer.hasData) {
            fail(gltfErrorInvalidAsset, what + " reads buffer " + str(view.buffer) +
                                            ", which has no data (no uri and no GLB chunk)");
        }
        if (view.byteOffset > buffer.byteLength ||
            view.byteLength > buffer.byteLength - view.byteOffset) {
            fail(gltfErrorInvalidAsset, what + " (bytes " + str(view.byteOffset) + " to " +
                                            str(view.byteOffset + view.byteLength) +
                                            ") lies past the end of buffer " + str(view.buffer) +
                                            ", which holds " + str(buffer.byteLength) + " bytes");
        }
        view.bytes = {buffer.bytes.owner, buffer.bytes.offset + view.byteOffset, view.byteLength};
    }
}

void validateAccessors(const GLTFAsset& asset) {
    // Accessors without a view are zeros (sparse ones get values substituted); their count
    // has nothing to be checked against, so it is bounded by the data the file holds.
    std::uint64_t dataBytes = 0;
    for (const GLTFBuffer& b : asset.buffers)
        dataBytes += b.hasData ? b.byteLength : 0;
    for (const GLTFBufferView& v : asset.bufferViews)
        dataBytes += v.hasMeshopt ? v.bytes.length : 0;
    const std::uint64_t zeroBudget = dataBytes * maxDecodedRatio + decodedSlack;

    for (size_t i = 0; i < asset.accessors.size(); ++i) {
        const GLTFAccessor& a = asset.accessors[i];
        const std::string what = "accessor " + str(std::uint64_t(i));
        const std::uint64_t elementSize = accessorElementSize(a);
        // Indices are 32-bit everywhere after us.
        if (a.count > 0xFFFFFFFFull) {
            fail(gltfErrorTooLarge, what + ": count " + str(a.count) + " exceeds 2^32 - 1");
        }
        if (a.bufferView < 0) {
            if (a.count * elementSize > zeroBudget) {
                fail(gltfErrorTooLarge, what + ": count " + str(a.count) +
                                            " without a bufferView is larger than the file's data");
            }
        } else {
            const GLTFBufferView& view = asset.bufferViews[a.bufferView];
            std::uint64_t stride = accessorStride(asset, a);
            if (stride < elementSize) {
                fail(gltfErrorInvalidAsset, what + ": elements of " + str(elementSize) +
                                                " bytes do not fit the byteStride " + str(stride) +
                                                " of bufferView " + str(a.bufferView));
            }
            if (a.count > 0) {
                std::uint64_t end = a.byteOffset + stride * (a.count - 1) + elementSize;
                if (end > view.bytes.length) {
                    fail(gltfErrorInvalidAsset,
                         what + " (count " + str(a.count) + ", stride " + str(stride) +
                             ", byteOffset " + str(a.byteOffset) + ") ends at byte " + str(end) +
                             " of bufferView " + str(a.bufferView) + ", which holds " +
                             str(view.bytes.length) + " bytes");
                }
            }
        }
        if (a.hasSparse) {
            const GLTFSparse& s = a.sparse;
            if (s.count > a.count) {
                fail(gltfErrorInvalidAsset, what + ": sparse count " + str(s.count) +
                                                " exceeds the accessor's count " + str(a.count));
            }
            auto checkRun = [&](std::int64_t viewIndex, std::uint64_t offset, std::uint64_t size,
                                const char* part) {
                const GLTFBufferView& view = asset.bufferViews[viewIndex];
                std::uint64_t end = offset + s.count * size;
                if (end > view.bytes.length) {
                    fail(gltfErrorInvalidAsset, what + ": sparse " + part + " end at byte " +
                                                    str(end) + " of bufferView " + str(viewIndex) +
                                                    ", which holds " + str(view.bytes.length) +
                                                    " bytes");
                }
            };
            checkRun(s.indicesBufferView, s.indicesByteOffset,
                     gltfComponentSize(s.indicesComponentType), "indices");
            checkRun(s.valuesBufferView, s.valuesByteOffset, elementSize, "values");
        }
    }
}

}  // namespace kelvo::gltf

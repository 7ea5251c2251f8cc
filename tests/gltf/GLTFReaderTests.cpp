// Reading glTF: broken files fail with a message that names the fault, hostile ones cost no
// more than their size, and every accessor layout reads as glTF defines it.
#include <gtest/gtest.h>
#include <meshoptimizer.h>

#include "platform/GLTFKit/GLTFAccessors.h"
#include "tests/gltf/GLTFTestDocuments.h"

namespace kelvo {
namespace {

using test::Doc;

Doc with(std::string Doc::*member, std::string value) {
    Doc d;
    d.*member = std::move(value);
    return d;
}

TEST(GLTFReader, brokenDocumentsFailNamingTheFault) {
    struct {
        std::string json;
        long code;
        const char* message;
    } cases[] = {
        {"<html><body>", gltfErrorNotGLTF, "the file is not glTF"},
        {R"({"asset":{"version":"1.0"},"meshes":{}})", gltfErrorUnsupportedVersion, "glTF 1.0"},
        {R"({"meshes":[]})", gltfErrorUnsupportedVersion, "names no glTF version"},
        {with(&Doc::extra, R"(,"extensionsRequired":["KHR_texture_basisu"])").json(),
         gltfErrorUnsupportedExtension, "requires the extension KHR_texture_basisu"},
        {with(
             &Doc::accessors,
             R"([{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3"},{"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}])")
             .json(),
         gltfErrorInvalidAsset,
         "accessor 0 (count 4, stride 12, byteOffset 0) ends at byte 48 of bufferView 0, which "
         "holds 36 bytes"},
        {with(
             &Doc::bufferViews,
             R"([{"buffer":0,"byteOffset":40,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":6}])")
             .json(),
         gltfErrorInvalidAsset, "bufferView 0 (bytes 40 to 76) lies past the end of buffer 0"},
        {with(&Doc::buffers, R"([{"byteLength":4000}])").json(), gltfErrorInvalidAsset,
         "buffer 0 declares 4000 bytes, but the GLB binary chunk holds 44"},
        {with(
             &Doc::bufferViews,
             R"([{"buffer":0,"byteLength":36,"byteStride":8},{"buffer":0,"byteOffset":36,"byteLength":6}])")
             .json(),
         gltfErrorInvalidAsset, "elements of 12 bytes do not fit the byteStride 8"},
        {with(&Doc::meshes, R"([{"primitives":[{"attributes":{"POSITION":5}}]}])").json(),
         gltfErrorInvalidAsset, "mesh 0 primitive 0 POSITION names accessor 5, but the file has 2"},
        {with(&Doc::meshes, R"([{"primitives":[{"attributes":{"POSITION":0},"indices":0}]}])")
             .json(),
         gltfErrorInvalidAsset, "is not SCALAR of an unsigned integer type"},
        {with(&Doc::nodes, R"([{"children":[1]},{"children":[0]}])").json(), gltfErrorInvalidAsset,
         "cycle"},
        {with(&Doc::nodes, R"([{"children":[2]},{"children":[2]},{}])").json(),
         gltfErrorInvalidAsset, "node 2 has two parents, nodes 0 and 1"},
        {with(&Doc::accessors, R"([{"bufferView":0,"componentType":5126,"count":3,"type":"VEC5"}])")
             .json(),
         gltfErrorInvalidAsset, "accessors[0].type: unknown type \"VEC5\""},
        {with(&Doc::accessors,
              R"([{"bufferView":0,"componentType":5126,"count":"3","type":"VEC3"}])")
             .json(),
         gltfErrorInvalidAsset, "accessors[0].count: expected a number"},
        {with(&Doc::nodes, R"([{"translation":[1,2]}])").json(), gltfErrorInvalidAsset,
         "nodes[0].translation: expected 3 numbers"},
        {with(&Doc::buffers, R"([{"byteLength":44},{"byteLength":3,"uri":"data:;base64,A*=="}])")
             .json(),
         gltfErrorInvalidAsset, "buffer 1: the base64 data is damaged"},
        {with(&Doc::buffers, R"([{"byteLength":44},{"byteLength":3,"uri":"gone.bin"}])").json(),
         gltfErrorMissingResource, "buffer 1: "},
        {[] {
             Doc d;
             d.buffers = R"([{"byteLength":44},{"byteLength":36}])";
             d.bufferViews =
                 R"([{"buffer":1,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":6}])";
             return d.json();
         }(),
         gltfErrorInvalidAsset, "bufferView 0 reads buffer 1, which has no data"},
        // A meshopt count that its data cannot hold is refused before anything is allocated.
        {with(
             &Doc::bufferViews,
             R"([{"buffer":0,"byteLength":36,"extensions":{"EXT_meshopt_compression":)"
             R"({"buffer":0,"byteLength":44,"byteStride":12,"count":1000000000}}},{"buffer":0,"byteOffset":36,"byteLength":6}])")
             .json(),
         gltfErrorTooLarge, "cannot hold 1000000000 elements"},
        {with(
             &Doc::accessors,
             R"([{"componentType":5126,"count":4000000000,"type":"MAT4"},{"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}])")
             .json(),
         gltfErrorTooLarge, "larger than the file's data"},
    };
    for (const auto& c : cases) {
        Error e = test::readError(c.json);
        EXPECT_EQ(e.domain(), "GLTFKit") << c.message;
        EXPECT_EQ(e.code(), c.code) << c.message << "\n got: " << e.localizedDescription();
        EXPECT_NE(e.localizedDescription().find(c.message), std::string::npos)
            << "expected: " << c.message << "\n got: " << e.localizedDescription();
    }
}

TEST(GLTFReader, deepNodeTreesAreRefusedAndDeepJSONIsSkipped) {
    std::string nodes = "[";
    for (int i = 0; i < 300; ++i)
        nodes += R"({"children":[)" + std::to_string(i + 1) + "]},";
    nodes += "{}]";
    Error deep = test::readError(with(&Doc::nodes, nodes).json());
    EXPECT_EQ(deep.code(), gltfErrorTooLarge);
    EXPECT_NE(deep.localizedDescription().find("deeper than 256 levels"), std::string::npos);

    // Extras nested far beyond any stack: skipped without recursion.
    std::string extras = std::string(200000, '[') + std::string(200000, ']');
    auto scene = test::sceneOf(with(&Doc::extra, R"(,"extras":)" + extras).json());
    EXPECT_EQ(scene->rootNode->childNodes().size(), 1u);
}

TEST(GLTFReader, everyPrefixOfAGLBFailsOrLoads) {
    Doc d;
    d.extra = R"(,"materials":[{"pbrMetallicRoughness":{"baseColorFactor":[1,0,0,1]}}])";
    test::Bytes file = test::glb(d.json(), test::triangleBin());
    for (size_t n = 0; n < file.size(); ++n) {
        try {
            auto asset =
                readGLTFAsset(ByteBuffer(file.begin(), file.begin() + n), "/nowhere/t.glb");
            sceneWithGLTFAsset(asset);
        } catch (const Error&) {
        }
    }
    EXPECT_TRUE(test::sceneOf(d.json()));
}

// Component types, normalisation (glTF's rules, with -128 clamped to -1) and
// KHR_mesh_quantization's plain integers.
TEST(GLTFReader, accessorsReadEveryComponentType) {
    struct {
        int type;
        bool normalized;
        std::vector<std::uint8_t> bytes;
        float first, second;
    } cases[] = {
        {gltfByte, true, {0x80, 0x7F}, -1, 1},
        {gltfByte, false, {0xFD, 0x05}, -3, 5},
        {gltfUnsignedByte, true, {0, 255}, 0, 1},
        {gltfShort, true, {0x01, 0x80, 0xFF, 0x7F}, -1, 1},
        {gltfShort, false, {0xFE, 0xFF, 0x07, 0x00}, -2, 7},
        {gltfUnsignedShort, true, {0xFF, 0xFF, 0, 0}, 1, 0},
        {gltfUnsignedInt, false, {7, 0, 0, 0, 1, 0, 0, 0}, 7, 1},
        {gltfFloat, false, {0, 0, 0xC0, 0x3F, 0, 0, 0x20, 0xC1}, 1.5f, -10},
    };
    for (const auto& c : cases) {
        GLTFAsset asset;
        GLTFBufferView view;
        view.bytes = {std::make_shared<ByteBuffer>(c.bytes.begin(), c.bytes.end()), 0,
                      c.bytes.size()};
        asset.bufferViews.push_back(view);
        GLTFAccessor a;
        a.bufferView = 0;
        a.componentType = c.type;
        a.normalized = c.normalized;
        a.count = 2;
        float out[2];
        gltf::readAccessorFloats(asset, a, 1, out);
        EXPECT_FLOAT_EQ(out[0], c.first) << c.type;
        EXPECT_FLOAT_EQ(out[1], c.second) << c.type;
    }
    // An accessor of no elements, which only a hostile file has, over an empty view: nothing
    // is copied, from or to nowhere.
    GLTFAsset asset;
    asset.bufferViews.emplace_back();
    GLTFAccessor none;
    none.bufferView = 0;
    none.componentType = gltfFloat;
    none.count = 0;
    gltf::readAccessorFloats(asset, none, 1, nullptr);
    none.componentType = gltfUnsignedInt;
    gltf::readAccessorIndices(asset, none, nullptr);
}

// Interleaved positions (stride 16), then a sparse accessor without a view that moves one
// vertex: zeros with the sparse value substituted.
TEST(GLTFReader, stridesAndSparseValues) {
    test::BinaryBuffer b;
    b.floats({0, 0, 0, 9, 1, 0, 0, 9, 0, 1, 0, 9});  // three VEC3 at stride 16
    b.add<std::uint16_t>({0, 1, 2, 2});              // indices, then the sparse index 2
    b.floats({0, 0, 5});                             // the sparse value
    Doc d;
    d.buffers = R"([{"byteLength":68}])";
    d.bufferViews = R"([{"buffer":0,"byteLength":48,"byteStride":16},)"
                    R"({"buffer":0,"byteOffset":48,"byteLength":6},)"
                    R"({"buffer":0,"byteOffset":54,"byteLength":2},)"
                    R"({"buffer":0,"byteOffset":56,"byteLength":12}])";
    d.accessors = R"([{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},)"
                  R"({"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"},)"
                  R"({"componentType":5126,"count":3,"type":"VEC3","sparse":{"count":1,)"
                  R"("indices":{"bufferView":2,"componentType":5123},"values":{"bufferView":3}}}])";
    d.meshes = R"([{"primitives":[{"attributes":{"POSITION":0,"NORMAL":2},"indices":1}]}])";
    auto scene = test::sceneOf(d.json(), b.bytes);
    const Geometry& g = *test::geometryNodes(*scene->rootNode).at(0)->geometry;
    EXPECT_EQ(test::sourceFloats(g, GeometrySemantic::vertex),
              (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(test::sourceFloats(g, GeometrySemantic::normal),
              (std::vector<float>{0, 0, 0, 0, 0, 0, 0, 0, 5}));
    // The strided positions are the file's own bytes, not a copy.
    EXPECT_EQ(g.source(GeometrySemantic::vertex)->dataStride, 16);
}

// EXT_meshopt_compression with a fallback buffer that has no data: the views decode from the
// compressed buffer alone.
TEST(GLTFReader, meshoptViewsDecodeWithoutTheirFallbackData) {
    const float positions[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    const std::uint32_t indices[] = {0, 1, 2, 2, 1, 3};
    std::vector<std::uint8_t> vb(meshopt_encodeVertexBufferBound(4, 12));
    vb.resize(meshopt_encodeVertexBuffer(vb.data(), vb.size(), positions, 4, 12));
    std::vector<std::uint8_t> ib(meshopt_encodeIndexBufferBound(6, 4));
    ib.resize(meshopt_encodeIndexBuffer(ib.data(), ib.size(), indices, 6));
    test::Bytes bin(vb.begin(), vb.end());
    while (bin.size() % 4)
        bin.push_back(0);
    const size_t indexOffset = bin.size();
    bin.insert(bin.end(), ib.begin(), ib.end());
    Doc d;
    d.buffers = R"([{"byteLength":)" + std::to_string(bin.size()) +
                R"(},{"byteLength":72,)"
                R"("extensions":{"EXT_meshopt_compression":{"fallback":true}}}])";
    d.bufferViews =
        R"([{"buffer":1,"byteLength":48,"byteStride":12,"extensions":{"EXT_meshopt_compression":)"
        R"({"buffer":0,"byteLength":)" +
        std::to_string(vb.size()) +
        R"(,"byteStride":12,"count":4,"mode":"ATTRIBUTES"}}},)"
        R"({"buffer":1,"byteOffset":48,"byteLength":24,"extensions":{"EXT_meshopt_compression":)"
        R"({"buffer":0,"byteOffset":)" +
        std::to_string(indexOffset) + R"(,"byteLength":)" + std::to_string(ib.size()) +
        R"(,"byteStride":4,"count":6,"mode":"TRIANGLES"}}}])";
    d.accessors = R"([{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3"},)"
                  R"({"bufferView":1,"componentType":5125,"count":6,"type":"SCALAR"}])";
    d.extra = R"(,"extensionsRequired":["EXT_meshopt_compression"])";
    auto scene = test::sceneOf(d.json(), bin);
    const Geometry& g = *test::geometryNodes(*scene->rootNode).at(0)->geometry;
    EXPECT_EQ(test::sourceFloats(g, GeometrySemantic::vertex),
              std::vector<float>(std::begin(positions), std::end(positions)));
    auto decoded = test::elementIndices(g);
    EXPECT_EQ(decoded.size(), 6u);

    // The same data with a damaged header does not decode, and says so.
    bin[indexOffset] = 0;
    Error e = test::readError(d.json(), bin);
    EXPECT_EQ(e.code(), gltfErrorDecompressionFailed) << e.localizedDescription();
}

}  // namespace
}  // namespace kelvo

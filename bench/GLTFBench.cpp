// glTF load speed: the whole load of a generated sphere of about a million triangles
// (positions, normals, UVs, 32-bit indices) as a plain GLB and as its Draco and meshopt
// variants, against assimp's glTF 2 importer without post-processing on the plain one, and
// against the decoders' own speed on the compressed ones (decoding the same bytes straight into
// arrays). The files are written once to the temporary directory and left there, so that peak
// memory can be measured on them with /usr/bin/time (tools/dev bench prints it).
#include <benchmark/benchmark.h>
#include <draco/compression/decode.h>
#include <draco/compression/encode.h>
#include <meshoptimizer.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "extensions/Shared/SceneLoader.h"
#include "platform/Foundation/FileReading.h"

#ifdef KELVO_HAVE_ASSIMP
#include <assimp/scene.h>
#include <assimp/Importer.hpp>
#endif

namespace {

constexpr int rings = 707, segments = 707;  // 999,698 triangles, 501,264 vertices

struct Sphere {
    std::vector<float> positions, normals, uvs;
    std::vector<std::uint32_t> indices;
    std::uint32_t vertices = 0;
};

const Sphere& sphere() {
    static const Sphere s = [] {
        Sphere s;
        for (int i = 0; i <= rings; ++i) {
            for (int j = 0; j <= segments; ++j) {
                double theta = M_PI * i / rings, phi = 2 * M_PI * j / segments;
                float p[3] = {float(std::sin(theta) * std::cos(phi)), float(std::cos(theta)),
                              float(std::sin(theta) * std::sin(phi))};
                s.positions.insert(s.positions.end(), p, p + 3);
                s.normals.insert(s.normals.end(), p, p + 3);
                s.uvs.push_back(float(j) / segments);
                s.uvs.push_back(float(i) / rings);
            }
        }
        s.vertices = (rings + 1) * (segments + 1);
        for (int i = 0; i < rings; ++i) {
            for (int j = 0; j < segments; ++j) {
                std::uint32_t a = i * (segments + 1) + j, b = a + segments + 1;
                s.indices.insert(s.indices.end(), {a, b, a + 1, a + 1, b, b + 1});
            }
        }
        return s;
    }();
    return s;
}

void append(std::vector<std::uint8_t>& out, const void* data, size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), p, p + size);
    while (out.size() % 4)
        out.push_back(0);
}

void writeGLB(const std::filesystem::path& path, std::string json,
              const std::vector<std::uint8_t>& bin) {
    while (json.size() % 4)
        json.push_back(' ');
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    u32(0x46546C67);
    u32(2);
    u32(static_cast<std::uint32_t>(12 + 8 + json.size() + 8 + bin.size()));
    u32(static_cast<std::uint32_t>(json.size()));
    u32(0x4E4F534A);
    out.write(json.data(), static_cast<std::streamsize>(json.size()));
    u32(static_cast<std::uint32_t>(bin.size()));
    u32(0x004E4942);
    out.write(reinterpret_cast<const char*>(bin.data()), static_cast<std::streamsize>(bin.size()));
}

std::string accessorsJSON(const Sphere& s, bool withViews) {
    auto view = [&](int v) { return withViews ? "\"bufferView\":" + std::to_string(v) + "," : ""; };
    std::string n = std::to_string(s.vertices), t = std::to_string(s.indices.size());
    return R"("accessors":[{)" + view(0) + R"("componentType":5126,"count":)" + n +
           R"(,"type":"VEC3","min":[-1,-1,-1],"max":[1,1,1]},{)" + view(1) +
           R"("componentType":5126,"count":)" + n + R"(,"type":"VEC3"},{)" + view(2) +
           R"("componentType":5126,"count":)" + n + R"(,"type":"VEC2"},{)" + view(3) +
           R"("componentType":5125,"count":)" + t + R"(,"type":"SCALAR"}])";
}

const char* sceneJSON = R"("nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0)";

std::filesystem::path benchFile(const char* name) {
    return std::filesystem::temp_directory_path() /
           (std::string("kelvo-bench-sphere-") + name + ".glb");
}

std::filesystem::path plainGLB() {
    auto path = benchFile("plain");
    if (std::filesystem::exists(path)) return path;
    const Sphere& s = sphere();
    std::vector<std::uint8_t> bin;
    size_t offsets[5];
    offsets[0] = 0;
    append(bin, s.positions.data(), s.positions.size() * 4), offsets[1] = bin.size();
    append(bin, s.normals.data(), s.normals.size() * 4), offsets[2] = bin.size();
    append(bin, s.uvs.data(), s.uvs.size() * 4), offsets[3] = bin.size();
    append(bin, s.indices.data(), s.indices.size() * 4), offsets[4] = bin.size();
    std::string views = R"("bufferViews":[)";
    for (int i = 0; i < 4; ++i) {
        views += (i ? "," : "") + std::string(R"({"buffer":0,"byteOffset":)") +
                 std::to_string(offsets[i]) + R"(,"byteLength":)" +
                 std::to_string(offsets[i + 1] - offsets[i]) + "}";
    }
    views += "]";
    writeGLB(
        path,
        R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":)" + std::to_string(bin.size()) +
            "}]," + views + "," + accessorsJSON(s, true) +
            R"(,"meshes":[{"primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3}]}],)" +
            sceneJSON + "}",
        bin);
    return path;
}

// The Draco bytes, encoded as gltf-pipeline does by default (edgebreaker at speed 3,
// positions at 14 bits, normals at 10, UVs at 12).
const std::vector<std::uint8_t>& dracoBytes() {
    static const std::vector<std::uint8_t> bytes = [] {
        const Sphere& s = sphere();
        draco::Mesh mesh;
        mesh.set_num_points(s.vertices);
        auto add = [&](draco::GeometryAttribute::Type type, int components, const float* data) {
            draco::GeometryAttribute ga;
            ga.Init(type, nullptr, components, draco::DT_FLOAT32, false, 4 * components, 0);
            int id = mesh.AddAttribute(ga, true, s.vertices);
            for (std::uint32_t v = 0; v < s.vertices; ++v) {
                mesh.attribute(id)->SetAttributeValue(draco::AttributeValueIndex(v),
                                                      data + v * components);
            }
        };
        add(draco::GeometryAttribute::POSITION, 3, s.positions.data());
        add(draco::GeometryAttribute::NORMAL, 3, s.normals.data());
        add(draco::GeometryAttribute::TEX_COORD, 2, s.uvs.data());
        for (size_t t = 0; t < s.indices.size(); t += 3) {
            mesh.AddFace({draco::PointIndex(s.indices[t]), draco::PointIndex(s.indices[t + 1]),
                          draco::PointIndex(s.indices[t + 2])});
        }
        draco::Encoder encoder;
        encoder.SetSpeedOptions(3, 3);
        encoder.SetAttributeQuantization(draco::GeometryAttribute::POSITION, 14);
        encoder.SetAttributeQuantization(draco::GeometryAttribute::NORMAL, 10);
        encoder.SetAttributeQuantization(draco::GeometryAttribute::TEX_COORD, 12);
        draco::EncoderBuffer buffer;
        if (!encoder.EncodeMeshToBuffer(mesh, &buffer).ok()) std::abort();
        return std::vector<std::uint8_t>(buffer.data(), buffer.data() + buffer.size());
    }();
    return bytes;
}

std::filesystem::path dracoGLB() {
    auto path = benchFile("draco");
    if (std::filesystem::exists(path)) return path;
    const Sphere& s = sphere();
    const auto& bin = dracoBytes();
    writeGLB(
        path,
        R"({"asset":{"version":"2.0"},"extensionsUsed":["KHR_draco_mesh_compression"],)"
        R"("extensionsRequired":["KHR_draco_mesh_compression"],"buffers":[{"byteLength":)" +
            std::to_string(bin.size()) + R"(}],"bufferViews":[{"buffer":0,"byteLength":)" +
            std::to_string(bin.size()) + "}]," + accessorsJSON(s, false) +
            R"(,"meshes":[{"primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3,)"
            R"("extensions":{"KHR_draco_mesh_compression":{"bufferView":0,"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2}}}}]}],)" +
            sceneJSON + "}",
        std::vector<std::uint8_t>(bin.begin(), bin.end()));
    return path;
}

// Each stream encoded with meshopt's codecs, as gltfpack writes them without filters.
struct MeshoptStreams {
    std::vector<std::uint8_t> positions, normals, uvs, indices;
};

const MeshoptStreams& meshoptStreams() {
    static const MeshoptStreams streams = [] {
        const Sphere& s = sphere();
        MeshoptStreams m;
        auto vertices = [&](const float* data, size_t stride) {
            std::vector<std::uint8_t> out(meshopt_encodeVertexBufferBound(s.vertices, stride));
            out.resize(
                meshopt_encodeVertexBuffer(out.data(), out.size(), data, s.vertices, stride));
            return out;
        };
        m.positions = vertices(s.positions.data(), 12);
        m.normals = vertices(s.normals.data(), 12);
        m.uvs = vertices(s.uvs.data(), 8);
        m.indices.resize(meshopt_encodeIndexBufferBound(s.indices.size(), s.vertices));
        m.indices.resize(meshopt_encodeIndexBuffer(m.indices.data(), m.indices.size(),
                                                   s.indices.data(), s.indices.size()));
        return m;
    }();
    return streams;
}

std::filesystem::path meshoptGLB() {
    auto path = benchFile("meshopt");
    if (std::filesystem::exists(path)) return path;
    const Sphere& s = sphere();
    const MeshoptStreams& m = meshoptStreams();
    std::vector<std::uint8_t> bin;
    const std::vector<std::uint8_t>* streams[] = {&m.positions, &m.normals, &m.uvs, &m.indices};
    const size_t strides[] = {12, 12, 8, 4};
    const size_t counts[] = {s.vertices, s.vertices, s.vertices, s.indices.size()};
    std::string views = R"("bufferViews":[)";
    size_t fallback = 0;
    for (int i = 0; i < 4; ++i) {
        size_t offset = bin.size();
        append(bin, streams[i]->data(), streams[i]->size());
        views += (i ? "," : "") + std::string(R"({"buffer":1,"byteOffset":)") +
                 std::to_string(fallback) + R"(,"byteLength":)" +
                 std::to_string(counts[i] * strides[i]) +
                 R"(,"extensions":{"EXT_meshopt_compression":{"buffer":0,"byteOffset":)" +
                 std::to_string(offset) + R"(,"byteLength":)" + std::to_string(streams[i]->size()) +
                 R"(,"byteStride":)" + std::to_string(strides[i]) + R"(,"count":)" +
                 std::to_string(counts[i]) + R"(,"mode":")" +
                 (i == 3 ? "TRIANGLES" : "ATTRIBUTES") + R"("}}})";
        fallback += counts[i] * strides[i];
    }
    views += "]";
    writeGLB(
        path,
        R"({"asset":{"version":"2.0"},"extensionsUsed":["EXT_meshopt_compression"],)"
        R"("extensionsRequired":["EXT_meshopt_compression"],"buffers":[{"byteLength":)" +
            std::to_string(bin.size()) + R"(},{"byteLength":)" + std::to_string(fallback) +
            R"(,"extensions":{"EXT_meshopt_compression":{"fallback":true}}}],)" + views + "," +
            accessorsJSON(s, true) +
            R"(,"meshes":[{"primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3}]}],)" +
            sceneJSON + "}",
        bin);
    return path;
}

// The whole load as the hosts run it, checked once before timing.
void kelvoLoad(benchmark::State& state, const std::filesystem::path& path) {
    kelvo::SceneLoader loader;
    if (loader.load(path)->rootNode->boundingBox().isEmpty()) {
        state.SkipWithError("wrong load");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(loader.load(path));
    state.counters["triangles/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * sphere().indices.size() / 3,
                           benchmark::Counter::kIsRate);
}

void BM_KelvoGLTFPlain(benchmark::State& s) {
    kelvoLoad(s, plainGLB());
}
void BM_KelvoGLTFDraco(benchmark::State& s) {
    kelvoLoad(s, dracoGLB());
}
void BM_KelvoGLTFMeshopt(benchmark::State& s) {
    kelvoLoad(s, meshoptGLB());
}
// The load runs on a worker thread: wall-clock time is what counts.
BENCHMARK(BM_KelvoGLTFPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KelvoGLTFDraco)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KelvoGLTFMeshopt)->Unit(benchmark::kMillisecond)->UseRealTime();

// Draco's decoder alone on the same bytes. It runs on a fresh thread, as our load does, so
// that both meet the allocator in the same state (Draco allocates a great deal).
void BM_DracoDecoderAlone(benchmark::State& state) {
    const auto& bytes = dracoBytes();
    for (auto _ : state) {
        std::thread([&] {
            draco::DecoderBuffer buffer;
            buffer.Init(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            draco::Decoder decoder;
            auto mesh = decoder.DecodeMeshFromBuffer(&buffer);
            if (!mesh.ok()) state.SkipWithError("draco failed");
            benchmark::DoNotOptimize(mesh.value()->num_faces());
        }).join();
    }
}
BENCHMARK(BM_DracoDecoderAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

// meshopt's decoders alone on the same streams, into preallocated arrays.
void BM_MeshoptDecodersAlone(benchmark::State& state) {
    const Sphere& s = sphere();
    const MeshoptStreams& m = meshoptStreams();
    std::vector<float> positions(s.positions.size()), normals(s.normals.size()), uvs(s.uvs.size());
    std::vector<std::uint32_t> indices(s.indices.size());
    for (auto _ : state) {
        int r = meshopt_decodeVertexBuffer(positions.data(), s.vertices, 12, m.positions.data(),
                                           m.positions.size());
        r |= meshopt_decodeVertexBuffer(normals.data(), s.vertices, 12, m.normals.data(),
                                        m.normals.size());
        r |= meshopt_decodeVertexBuffer(uvs.data(), s.vertices, 8, m.uvs.data(), m.uvs.size());
        r |= meshopt_decodeIndexBuffer(indices.data(), indices.size(), 4, m.indices.data(),
                                       m.indices.size());
        if (r) state.SkipWithError("meshopt failed");
        benchmark::DoNotOptimize(indices.data());
    }
}
BENCHMARK(BM_MeshoptDecodersAlone)->Unit(benchmark::kMillisecond);

#ifdef KELVO_HAVE_ASSIMP
void BM_AssimpGLTFPlain(benchmark::State& state) {
    auto path = plainGLB();
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(path.string(), 0);
        if (!scene || scene->mNumMeshes == 0) state.SkipWithError("assimp failed");
        benchmark::DoNotOptimize(scene);
    }
}
BENCHMARK(BM_AssimpGLTFPlain)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();

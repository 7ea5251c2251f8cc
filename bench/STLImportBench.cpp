// STL import speed: our importer and the whole loadSTL path, against assimp on the same files.
// Inputs are generated (a finely tessellated sphere) and written to a temporary directory once;
// the output of our importer is checked before anything is timed. Figures are bytes of the
// input file per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "extensions/Shared/SceneLoader.h"
#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/STLImporter.h"

#ifdef KELVO_HAVE_ASSIMP
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#endif

namespace {

struct Vertex {
    float x, y, z;
};

Vertex spherePoint(int i, int j, int rings, int segments) {
    double theta = M_PI * i / rings, phi = 2 * M_PI * j / segments;
    return {static_cast<float>(std::sin(theta) * std::cos(phi)),
            static_cast<float>(std::sin(theta) * std::sin(phi)), static_cast<float>(std::cos(theta))};
}

// A sphere of about `triangles` triangles, as a binary or an ASCII STL file.
std::filesystem::path makeSphere(long triangles, bool ascii) {
    int rings = static_cast<int>(std::sqrt(triangles / 2.0));
    int segments = static_cast<int>(triangles / (2 * rings));
    auto path = std::filesystem::temp_directory_path() /
                ("kelvo-bench-sphere-" + std::to_string(triangles) + (ascii ? "-ascii" : "") + ".stl");
    if (std::filesystem::exists(path)) return path;
    std::ofstream out(path, std::ios::binary);
    std::uint32_t count = static_cast<std::uint32_t>(rings) * segments * 2;
    if (ascii) {
        out << "solid sphere\n";
    } else {
        char header[80] = "kelvo benchmark sphere";
        out.write(header, 80);
        out.write(reinterpret_cast<const char*>(&count), 4);
    }
    char line[512];
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            Vertex a = spherePoint(i, j, rings, segments), b = spherePoint(i + 1, j, rings, segments);
            Vertex c = spherePoint(i + 1, j + 1, rings, segments), d = spherePoint(i, j + 1, rings, segments);
            const Vertex tris[2][3] = {{a, b, c}, {a, c, d}};
            for (const auto& t : tris) {
                if (ascii) {
                    int n = std::snprintf(line, sizeof line,
                                          "facet normal 0 0 0\n outer loop\n  vertex %.7e %.7e %.7e\n"
                                          "  vertex %.7e %.7e %.7e\n  vertex %.7e %.7e %.7e\n endloop\nendfacet\n",
                                          t[0].x, t[0].y, t[0].z, t[1].x, t[1].y, t[1].z, t[2].x, t[2].y, t[2].z);
                    out.write(line, n);
                } else {
                    float record[12] = {0, 0, 0, t[0].x, t[0].y, t[0].z, t[1].x, t[1].y, t[1].z, t[2].x, t[2].y, t[2].z};
                    out.write(reinterpret_cast<const char*>(record), 48);
                    out.write("\0\0", 2);
                }
            }
        }
    }
    if (ascii) out << "endsolid sphere\n";
    return path;
}

void importFromMemory(benchmark::State& state, bool ascii) {
    kelvo::ByteBuffer bytes = kelvo::readFileContents(makeSphere(state.range(0), ascii));
    kelvo::ModelAsset check = kelvo::importSTL(bytes);
    if (check.meshes.size() != 1 || check.meshes[0].triangleCount < state.range(0) * 9 / 10) {
        state.SkipWithError("wrong import");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(kelvo::importSTL(bytes));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void loadFromFile(benchmark::State& state, bool ascii) {
    auto path = makeSphere(state.range(0), ascii);
    kelvo::SceneLoader loader;
    for (auto _ : state) benchmark::DoNotOptimize(loader.load(path));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

void BM_KelvoImportBinary(benchmark::State& s) { importFromMemory(s, false); }
void BM_KelvoImportASCII(benchmark::State& s) { importFromMemory(s, true); }
void BM_KelvoLoadSTLBinary(benchmark::State& s) { loadFromFile(s, false); }
void BM_KelvoLoadSTLASCII(benchmark::State& s) { loadFromFile(s, true); }
BENCHMARK(BM_KelvoImportBinary)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KelvoLoadSTLBinary)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KelvoImportASCII)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KelvoLoadSTLASCII)->Arg(100000)->Unit(benchmark::kMillisecond);

#ifdef KELVO_HAVE_ASSIMP
void assimpRead(benchmark::State& state, bool ascii, unsigned flags) {
    auto path = makeSphere(state.range(0), ascii);
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(path.string(), flags);
        if (!scene || scene->mNumMeshes == 0) state.SkipWithError("assimp failed");
        benchmark::DoNotOptimize(scene);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
// Post-processing as a full importer does it: joined vertices and smooth normals.
constexpr unsigned assimpFull = aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals;
void BM_AssimpBinaryRaw(benchmark::State& s) { assimpRead(s, false, 0); }
void BM_AssimpBinaryPostProcessed(benchmark::State& s) { assimpRead(s, false, assimpFull); }
void BM_AssimpASCIIRaw(benchmark::State& s) { assimpRead(s, true, 0); }
BENCHMARK(BM_AssimpBinaryRaw)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AssimpBinaryPostProcessed)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_AssimpASCIIRaw)->Arg(100000)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();

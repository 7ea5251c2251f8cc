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

#include "bench/SphereSTL.h"
#include "extensions/Shared/SceneLoader.h"
#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/STLImporter.h"

#ifdef KELVO_HAVE_ASSIMP
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>
#endif

namespace {

// A sphere of about `triangles` triangles as a binary or an ASCII STL file, written once.
std::filesystem::path makeSphere(long triangles, bool ascii) {
    auto path =
        std::filesystem::temp_directory_path() /
        ("kelvo-bench-sphere-" + std::to_string(triangles) + (ascii ? "-ascii" : "") + ".stl");
    if (!std::filesystem::exists(path)) kelvo::bench::writeSphereSTL(path, triangles, ascii);
    return path;
}

void importFromMemory(benchmark::State& state, bool ascii) {
    kelvo::ByteBuffer bytes = kelvo::readFileContents(makeSphere(state.range(0), ascii));
    kelvo::ModelAsset check = kelvo::importSTL(bytes);
    if (check.objects.size() != 1 || check.objects[0]->geometry->triangleCount() < state.range(0) * 9 / 10) {
        state.SkipWithError("wrong import");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::importSTL(bytes));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void loadFromFile(benchmark::State& state, bool ascii) {
    auto path = makeSphere(state.range(0), ascii);
    kelvo::SceneLoader loader;
    for (auto _ : state)
        benchmark::DoNotOptimize(loader.load(path));
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

void BM_KelvoImportBinary(benchmark::State& s) {
    importFromMemory(s, false);
}
void BM_KelvoImportASCII(benchmark::State& s) {
    importFromMemory(s, true);
}
void BM_KelvoLoadSTLBinary(benchmark::State& s) {
    loadFromFile(s, false);
}
void BM_KelvoLoadSTLASCII(benchmark::State& s) {
    loadFromFile(s, true);
}
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
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
// Post-processing as a full importer does it: joined vertices and smooth normals.
constexpr unsigned assimpFull = aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals;
void BM_AssimpBinaryRaw(benchmark::State& s) {
    assimpRead(s, false, 0);
}
void BM_AssimpBinaryPostProcessed(benchmark::State& s) {
    assimpRead(s, false, assimpFull);
}
void BM_AssimpASCIIRaw(benchmark::State& s) {
    assimpRead(s, true, 0);
}
BENCHMARK(BM_AssimpBinaryRaw)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AssimpBinaryPostProcessed)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_AssimpASCIIRaw)->Arg(100000)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();

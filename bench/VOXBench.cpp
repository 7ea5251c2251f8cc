// VOX loading and greedy meshing speed.
//
// Corpus files (skipped when the shared corpus is absent) are read into memory once and then
// loaded from bytes, so the figure is parsing, resolving and meshing without the disk. The
// synthetic 256^3 models are meshed directly: one colour filled solid (only six sides have
// faces), a 3D checkerboard of two colours filled solid (every outer face its own quad), and a
// 50 % random fill in 8 colours (faces everywhere: far past the output budget, so this measures
// how fast such a model is refused). Every output is checked before timing. Reported: time per
// model and quads per second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "extensions/Shared/VOX/VOXLoader.h"
#include "extensions/Shared/VOX/VOXReader.h"
#include "extensions/Shared/VOX/VoxelMesher.h"
#include "platform/Foundation/FileReading.h"

namespace {

std::filesystem::path corpusFile(const char* name) {
    const char* env = std::getenv("KELVO_CORPUS_DIR");
    std::filesystem::path dir = env ? env : KELVO_CORPUS_DIR;
    return dir / "vox" / name;
}

std::int64_t sceneQuads(const kelvo::Scene& scene) {
    std::int64_t quads = 0;
    for (const auto& node : scene.rootNode->childNodes())
        quads += node->geometry->triangleCount() / 2;
    return quads;
}

void loadCorpusFile(benchmark::State& state, const char* name, std::int64_t expectedQuads) {
    const std::filesystem::path path = corpusFile(name);
    if (!std::filesystem::exists(path)) {
        state.SkipWithError("corpus file absent");
        return;
    }
    const kelvo::ByteBuffer bytes = kelvo::readFileContents(path);
    if (sceneQuads(*kelvo::loadVOXScene(bytes)) != expectedQuads) {
        state.SkipWithError("wrong quad count");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::loadVOXScene(bytes));
    state.counters["quads/s"] = benchmark::Counter(static_cast<double>(expectedQuads),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

enum class Pattern { solid, checkerboard, randomHalf };

// The voxels of a 256^3 model, in file order (x fastest).
std::vector<kelvo::VOXVoxel> syntheticVoxels(Pattern pattern) {
    std::vector<kelvo::VOXVoxel> voxels;
    voxels.reserve(pattern == Pattern::randomHalf ? 256 * 256 * 128 + 65536 : 256 * 256 * 256);
    std::mt19937 random(7);
    for (int z = 0; z < 256; ++z) {
        for (int y = 0; y < 256; ++y) {
            for (int x = 0; x < 256; ++x) {
                int color = 1;
                if (pattern == Pattern::checkerboard) color = 1 + ((x + y + z) & 1);
                if (pattern == Pattern::randomHalf) {
                    unsigned r = random();
                    if (r & 1) continue;
                    color = 1 + (r >> 1) % 8;
                }
                voxels.push_back({static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                                  static_cast<std::uint8_t>(z), static_cast<std::uint8_t>(color)});
            }
        }
    }
    return voxels;
}

// `expectedQuads` < 0: the model must be refused by the budget.
void meshSynthetic(benchmark::State& state, Pattern pattern, std::int64_t expectedQuads) {
    const std::vector<kelvo::VOXVoxel> voxels = syntheticVoxels(pattern);
    const kelvo::VOXChunk chunk{256, 256, 256, voxels};
    auto quadsOf = [&](const std::shared_ptr<kelvo::Node>& node) {
        return node ? node->geometry->triangleCount() / 2 : -1;
    };
    if (quadsOf(kelvo::buildVoxelMesh(chunk, kelvo::defaultVOXPalette)) != expectedQuads) {
        state.SkipWithError("wrong quad count");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::buildVoxelMesh(chunk, kelvo::defaultVOXPalette));
    if (expectedQuads > 0) {
        state.counters["quads/s"] = benchmark::Counter(
            static_cast<double>(expectedQuads), benchmark::Counter::kIsIterationInvariantRate);
    }
}

void BM_LoadMonu3(benchmark::State& s) {
    loadCorpusFile(s, "monu3.vox", 1261);
}
void BM_LoadSceneStore8(benchmark::State& s) {
    loadCorpusFile(s, "scene_store8.vox", 4405);
}
void BM_LoadMenger(benchmark::State& s) {
    loadCorpusFile(s, "menger.vox", 179724);
}
void BM_MeshSolid256(benchmark::State& s) {
    meshSynthetic(s, Pattern::solid, 6);
}
void BM_MeshCheckerboard256(benchmark::State& s) {
    meshSynthetic(s, Pattern::checkerboard, 6 * 256 * 256);
}
void BM_MeshRandomHalf256(benchmark::State& s) {
    meshSynthetic(s, Pattern::randomHalf, -1);
}

BENCHMARK(BM_LoadMonu3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSceneStore8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadMenger)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeshSolid256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeshCheckerboard256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeshRandomHalf256)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// USD text speed and memory: the USDA reader alone (text to layer), and the whole import
// (composition and scene building) from bytes in memory, on a generated mesh of 1M
// triangles (a wavy grid of 708 x 708 points, written as an exporter writes it: one
// point3f[] array, faceVertexCounts and faceVertexIndices, normals per point, six
// decimals). Every output is checked before it is timed. Figures are bytes of the file per
// second (goal for the reader: at least 300 MB/s).
//
// Peak memory: one import in a fresh process (this program started again with
// --peak-memory FILE), its peak resident set reported as peakMiB.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/PeakMemory.h"
#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/USD/USDATextReader.h"
#include "platform/ModelIO/USD/USDImporter.h"

namespace {

namespace fs = std::filesystem;

constexpr int gridSide = 708;
constexpr std::int64_t gridTriangles = 2LL * (gridSide - 1) * (gridSide - 1);

fs::path generated() {
    const fs::path path = fs::temp_directory_path() / "kelvo-bench-grid-1m.usda";
    if (fs::exists(path)) return path;
    const int n = gridSide;
    std::string text = "#usda 1.0\n(\n    defaultPrim = \"Grid\"\n    upAxis = \"Y\"\n)\n\n"
                       "def Xform \"Grid\"\n{\n    def Mesh \"Surface\"\n    {\n";
    char number[96];
    text += "        int[] faceVertexCounts = [";
    for (std::int64_t t = 0; t < gridTriangles; ++t)
        text += t ? ", 3" : "3";
    text += "]\n        int[] faceVertexIndices = [";
    bool first = true;
    for (int i = 0; i + 1 < n; ++i) {
        for (int j = 0; j + 1 < n; ++j) {
            const int a = i * n + j, b = a + 1, c = a + n, d = c + 1;
            std::snprintf(number, sizeof number, "%s%d, %d, %d, %d, %d, %d", first ? "" : ", ", a, c, b, b, c, d);
            text += number;
            first = false;
        }
    }
    text += "]\n        normal3f[] normals = [";
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            std::snprintf(number, sizeof number, "%s(%.6f, %.6f, %.6f)", i + j ? ", " : "",
                          0.05 * std::sin(i * 0.1), 0.99, 0.05 * std::cos(j * 0.1));
            text += number;
        }
    }
    text += "] (\n            interpolation = \"vertex\"\n        )\n        point3f[] points = [";
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            std::snprintf(number, sizeof number, "%s(%.6f, %.6f, %.6f)", i + j ? ", " : "",
                          i / double(n), 0.05 * std::sin(i * 0.05) * std::cos(j * 0.07), j / double(n));
            text += number;
        }
    }
    text += "]\n        color3f[] primvars:displayColor = [(0.8, 0.4, 0.1)]\n    }\n}\n";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::int64_t triangles(const kelvo::ModelAsset& asset) {
    std::int64_t count = 0;
    for (const auto& object : asset.objects) {
        object->enumerateChildNodes([&](kelvo::Node& node, bool&) {
            if (node.geometry) count += node.geometry->triangleCount();
        });
    }
    return count;
}

void BM_USDATextReader(benchmark::State& state) {
    const fs::path file = generated();
    const kelvo::ByteBuffer bytes = kelvo::readFileContents(file);
    {
        kelvo::usd::Layer layer;
        if (!kelvo::usd::readUSDA(bytes, layer).empty() ||
            layer.root.children.at(0).children.at(0).property("faceVertexIndices")->value.ints.size() !=
                static_cast<std::size_t>(3 * gridTriangles)) {
            state.SkipWithError("wrong layer");
            return;
        }
    }
    for (auto _ : state) {
        kelvo::usd::Layer layer;
        kelvo::usd::readUSDA(bytes, layer);
        benchmark::DoNotOptimize(layer);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
    state.counters["fileMiB"] = bytes.size() / 1048576.0;
}


void BM_USDImport(benchmark::State& state) {
    const fs::path file = generated();
    const kelvo::ByteBuffer bytes = kelvo::readFileContents(file);
    if (triangles(kelvo::importUSD(bytes, file)) != gridTriangles) {
        state.SkipWithError("wrong import");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::importUSD(bytes, file));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
    const long kib = kelvo::bench::childPeakKiB({"--peak-memory", file.string()});
    state.counters["peakMiB"] = kib / 1024.0;
    state.counters["fileMiB"] = bytes.size() / 1048576.0;
}

BENCHMARK(BM_USDATextReader)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_USDImport)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peak-memory") == 0) {
        const bool right = triangles(kelvo::importModelAsset(argv[2])) == gridTriangles;
        std::printf("%ld\n", kelvo::bench::ownPeakKiB());
        return right ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

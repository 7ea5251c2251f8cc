// USD text speed and memory: the USDA reader alone (text to layer), and the whole import
// (composition and scene building) from bytes in memory, on a generated mesh of 1M
// triangles (a wavy grid of 708 x 708 points, written as an exporter writes it: one
// point3f[] array, faceVertexCounts and faceVertexIndices, normals per point, six
// decimals). Every output is checked before it is timed. Figures are bytes of the file per
// second (goal for the reader: at least 300 MB/s).
//
// Binary layers: the crate reader alone (file bytes to layer) on the corpus's crate layers
// (King_geom.usd, MotionCaptureROM.usdc, the layers inside CesiumMan.usdz and
// RoughnessTest.usdz) and on the same grid as a crate (points and normals plain, the face
// arrays as compressed integers, as exporters write them), and the whole import of that
// crate. Their figures are bytes of decoded data per second: the numbers, strings and arrays
// the layer holds once read (goal: at least 500 MB/s); fileMiB is the crate's own size.
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
#include "extensions/Shared/ZIP/ZIPReader.h"
#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/USD/USDATextReader.h"
#include "platform/ModelIO/USD/USDCrateReader.h"
#include "platform/ModelIO/USD/USDImporter.h"
#include "tests/support/CrateWriter.h"

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


// The whole import of the generated grid `file`, text or binary.
void importGrid(benchmark::State& state, const fs::path& file) {
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

using kelvo::test::CrateWriter;

fs::path generatedCrate() {
    const fs::path path = fs::temp_directory_path() / "kelvo-bench-grid-1m.usdc";
    if (fs::exists(path)) return path;
    const int n = gridSide;
    CrateWriter w;
    const std::uint32_t grid = w.child(0, "Grid");
    const std::uint32_t mesh = w.child(grid, "Surface");
    std::vector<float> points, normals;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            points.insert(points.end(), {static_cast<float>(i / double(n)),
                                         static_cast<float>(0.05 * std::sin(i * 0.05) * std::cos(j * 0.07)),
                                         static_cast<float>(j / double(n))});
            normals.insert(normals.end(), {static_cast<float>(0.05 * std::sin(i * 0.1)), 0.99f,
                                           static_cast<float>(0.05 * std::cos(j * 0.1))});
        }
    }
    std::vector<std::int32_t> indices;
    for (int i = 0; i + 1 < n; ++i) {
        for (int j = 0; j + 1 < n; ++j) {
            const int a = i * n + j, b = a + 1, c = a + n, d = c + 1;
            indices.insert(indices.end(), {a, c, b, b, c, d});
        }
    }
    auto type = [&](const char* name) { return CrateWriter::rep(kelvo::test::cToken, w.token(name), true); };
    w.entry(0, kelvo::test::sPseudoRoot, {{"defaultPrim", type("Grid")}, {"upAxis", type("Y")}});
    w.entry(grid, kelvo::test::sPrim, {{"specifier", CrateWriter::rep(kelvo::test::cSpecifier, 0, true)}, {"typeName", type("Xform")}});
    w.entry(mesh, kelvo::test::sPrim, {{"specifier", CrateWriter::rep(kelvo::test::cSpecifier, 0, true)}, {"typeName", type("Mesh")}});
    w.entry(w.child(mesh, "points", true), kelvo::test::sAttribute,
           {{"typeName", type("point3f[]")}, {"default", w.array(kelvo::test::cVec3f, points)}});
    w.entry(w.child(mesh, "normals", true), kelvo::test::sAttribute,
           {{"typeName", type("normal3f[]")}, {"default", w.array(kelvo::test::cVec3f, normals)},
            {"interpolation", type("vertex")}});
    w.entry(w.child(mesh, "faceVertexCounts", true), kelvo::test::sAttribute,
           {{"typeName", type("int[]")},
            {"default", w.compressedIntArray(std::vector<std::int32_t>(static_cast<std::size_t>(gridTriangles), 3))}});
    w.entry(w.child(mesh, "faceVertexIndices", true), kelvo::test::sAttribute,
           {{"typeName", type("int[]")}, {"default", w.compressedIntArray(indices)}});
    const std::vector<std::uint8_t> bytes = w.finish();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// The bytes the layer's values hold once decoded.
std::int64_t decodedBytes(const kelvo::usd::PrimOpinion& prim) {
    std::int64_t n = 0;
    for (const kelvo::usd::Property& p : prim.properties) {
        n += static_cast<std::int64_t>(4 * (p.value.floats.size() + p.value.ints.size()) + 8 * p.value.numbers.size());
        for (const std::string& s : p.value.strings)
            n += static_cast<std::int64_t>(s.size());
    }
    for (const kelvo::usd::PrimOpinion& c : prim.children)
        n += decodedBytes(c);
    return n;
}

// A corpus crate: the file itself, or the first entry of a package.
kelvo::ByteBuffer crateBytes(const fs::path& file) {
    kelvo::ByteBuffer bytes = kelvo::readFileContents(file);
    if (file.extension() != ".usdz") return bytes;
    const auto entries = kelvo::ZIPReader::readCentralDirectory(bytes);
    return kelvo::ZIPReader::extractEntry(entries.at(0), bytes);
}

void readCrate(benchmark::State& state, const fs::path& file) {
    if (!fs::exists(file)) {
        state.SkipWithError("missing file");
        return;
    }
    const kelvo::ByteBuffer bytes = crateBytes(file);
    std::int64_t decoded = 0;
    {
        kelvo::usd::Layer layer;
        const std::string error = kelvo::usd::readCrate(bytes, layer);
        decoded = decodedBytes(layer.root);
        if (!error.empty() || decoded == 0) {
            state.SkipWithError(("wrong layer: " + error).c_str());
            return;
        }
    }
    for (auto _ : state) {
        kelvo::usd::Layer layer;
        kelvo::usd::readCrate(bytes, layer);
        benchmark::DoNotOptimize(layer);
    }
    state.SetBytesProcessed(state.iterations() * decoded);
    state.counters["fileMiB"] = bytes.size() / 1048576.0;
    state.counters["decodedMiB"] = decoded / 1048576.0;
}

const fs::path corpus = fs::path(KELVO_CORPUS_DIR) / "other/usd";

void BM_CrateKingGeom(benchmark::State& state) { readCrate(state, corpus / "King/King_geom.usd"); }
void BM_CrateMotionCaptureROM(benchmark::State& state) { readCrate(state, corpus / "MotionCaptureROM.usdc"); }
void BM_CrateCesiumMan(benchmark::State& state) { readCrate(state, corpus / "CesiumMan.usdz"); }
void BM_CrateRoughnessTest(benchmark::State& state) { readCrate(state, corpus / "RoughnessTest.usdz"); }
void BM_CrateGrid1M(benchmark::State& state) { readCrate(state, generatedCrate()); }

void BM_USDImport(benchmark::State& state) { importGrid(state, generated()); }
void BM_CrateImportGrid1M(benchmark::State& state) { importGrid(state, generatedCrate()); }

BENCHMARK(BM_CrateKingGeom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrateMotionCaptureROM)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrateCesiumMan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrateRoughnessTest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrateGrid1M)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_CrateImportGrid1M)->Unit(benchmark::kMillisecond)->Iterations(3);

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

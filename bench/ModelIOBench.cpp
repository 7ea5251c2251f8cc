// OBJ and PLY import speed and memory, in one run: Kelvo's readers (from bytes in memory,
// and whole from the file through the model I/O layer) against assimp reading the same
// file without post-processing, and assimp with the post-processing a viewer would ask for.
//
// Inputs are generated once into the temporary directory: a wavy grid of about 1M
// triangles (500K vertices), as an OBJ with positions, texture coordinates and normals
// (faces "f a/a/a b/b/b c/c/c", six decimals), and as PLY in binary little-endian and ASCII
// (float x y z, faces as a uchar-counted int list). Every output is checked before it is
// timed. Figures are bytes of the input file per second.
//
// Peak memory: each reader also runs once in a fresh process (this program started again
// with --peak-memory READER FILE), whose peak resident set is reported as peakMiB and as a
// multiple of the file size (goal: at most 3 x file size + 30 MB).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/PeakMemory.h"
#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/OBJImporter.h"
#include "platform/ModelIO/PLYImporter.h"

#ifdef KELVO_HAVE_ASSIMP
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#endif

namespace {

namespace fs = std::filesystem;

constexpr int gridSide = 708;  // 708 x 708 vertices: 500K vertices, 1M triangles

float heightAt(int i, int j) {
    return static_cast<float>(0.05 * std::sin(i * 0.05) * std::cos(j * 0.07));
}

enum class Kind { obj, binaryPLY, asciiPLY };

fs::path generated(Kind kind) {
    const char* names[] = {"kelvo-bench-grid-1m.obj", "kelvo-bench-grid-1m-binary.ply",
                           "kelvo-bench-grid-1m-ascii.ply"};
    const fs::path path = fs::temp_directory_path() / names[static_cast<int>(kind)];
    if (fs::exists(path)) return path;
    const int n = gridSide;
    const long vertices = long{n} * n, triangles = 2L * (n - 1) * (n - 1);
    std::ofstream out(path, std::ios::binary);
    std::string text;
    char line[160];
    auto flush = [&] {
        out << text;
        text.clear();
    };
    auto corner = [&](int i, int j) { return static_cast<std::int32_t>(i * n + j); };
    if (kind != Kind::obj) {
        out << "ply\nformat " << (kind == Kind::binaryPLY ? "binary_little_endian" : "ascii")
            << " 1.0\ncomment kelvo benchmark grid\nelement vertex " << vertices
            << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << triangles
            << "\nproperty list uchar int vertex_indices\nend_header\n";
    } else {
        out << "# kelvo benchmark grid\nmtllib none.mtl\no grid\n";
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const float p[3] = {i / float(n), heightAt(i, j), j / float(n)};
            if (kind == Kind::binaryPLY) {
                out.write(reinterpret_cast<const char*>(p), 12);
                continue;
            }
            const char* format = kind == Kind::obj ? "v %.6f %.6f %.6f\n" : "%.6f %.6f %.6f\n";
            text.append(line, std::snprintf(line, sizeof line, format, p[0], p[1], p[2]));
        }
        flush();
    }
    if (kind == Kind::obj) {
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                text.append(line, std::snprintf(line, sizeof line, "vt %.6f %.6f\n", i / float(n),
                                                j / float(n)));
            }
            flush();
        }
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                const float dx = heightAt(i + 1, j) - heightAt(i - 1, j);
                const float dz = heightAt(i, j + 1) - heightAt(i, j - 1);
                const float len = std::sqrt(dx * dx + dz * dz + 4.0f / (n * n));
                text.append(line, std::snprintf(line, sizeof line, "vn %.6f %.6f %.6f\n", -dx / len,
                                                2.0f / n / len, -dz / len));
            }
            flush();
        }
        text += "usemtl grid\n";
    }
    for (int i = 0; i + 1 < n; ++i) {
        for (int j = 0; j + 1 < n; ++j) {
            const std::int32_t a = corner(i, j), b = corner(i + 1, j), c = corner(i + 1, j + 1),
                               d = corner(i, j + 1);
            const std::int32_t halves[2][3] = {{a, b, c}, {a, c, d}};
            for (const std::int32_t* t : halves) {
                if (kind == Kind::binaryPLY) {
                    out.put(3);
                    out.write(reinterpret_cast<const char*>(t), 12);
                } else if (kind == Kind::asciiPLY) {
                    text.append(line,
                                std::snprintf(line, sizeof line, "3 %d %d %d\n", t[0], t[1], t[2]));
                } else {
                    text.append(line,
                                std::snprintf(line, sizeof line, "f %d/%d/%d %d/%d/%d %d/%d/%d\n",
                                              t[0] + 1, t[0] + 1, t[0] + 1, t[1] + 1, t[1] + 1,
                                              t[1] + 1, t[2] + 1, t[2] + 1, t[2] + 1));
                }
            }
        }
        flush();
    }
    return path;
}

bool looksRight(const kelvo::ModelAsset& asset) {
    if (asset.objects.size() != 1 || !asset.objects[0]->geometry) return false;
    const kelvo::Geometry& g = *asset.objects[0]->geometry;
    return g.triangleCount() == 2L * (gridSide - 1) * (gridSide - 1) &&
           g.vertexCount() == long{gridSide} * gridSide;
}

kelvo::ModelAsset importBytes(Kind kind, const kelvo::ByteBuffer& bytes, const fs::path& url) {
    return kind == Kind::obj ? kelvo::importOBJ(bytes, url) : kelvo::importPLY(bytes, url);
}


void reportPeak(benchmark::State& state, const char* reader, const fs::path& file) {
    const long kib = kelvo::bench::childPeakKiB({"--peak-memory", reader, file.string()});
    const double fileMiB = fs::file_size(file) / 1048576.0;
    state.counters["peakMiB"] = kib / 1024.0;
    state.counters["peakPerFile"] = kib / 1024.0 / fileMiB;
    state.counters["fileMiB"] = fileMiB;
}

void kelvoFromMemory(benchmark::State& state, Kind kind) {
    const fs::path file = generated(kind);
    const kelvo::ByteBuffer bytes = kelvo::readFileContents(file);
    if (!looksRight(importBytes(kind, bytes, file))) {
        state.SkipWithError("wrong import");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(importBytes(kind, bytes, file));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void kelvoFromFile(benchmark::State& state, Kind kind) {
    const fs::path file = generated(kind);
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::importModelAsset(file));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(file)));
    reportPeak(state, "kelvo", file);
}

void BM_KelvoOBJ(benchmark::State& s) {
    kelvoFromMemory(s, Kind::obj);
}
void BM_KelvoBinaryPLY(benchmark::State& s) {
    kelvoFromMemory(s, Kind::binaryPLY);
}
void BM_KelvoASCIIPLY(benchmark::State& s) {
    kelvoFromMemory(s, Kind::asciiPLY);
}
void BM_KelvoOBJFile(benchmark::State& s) {
    kelvoFromFile(s, Kind::obj);
}
void BM_KelvoBinaryPLYFile(benchmark::State& s) {
    kelvoFromFile(s, Kind::binaryPLY);
}
void BM_KelvoASCIIPLYFile(benchmark::State& s) {
    kelvoFromFile(s, Kind::asciiPLY);
}
BENCHMARK(BM_KelvoOBJ)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KelvoOBJFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KelvoBinaryPLY)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KelvoBinaryPLYFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KelvoASCIIPLY)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KelvoASCIIPLYFile)->Unit(benchmark::kMillisecond);

#ifdef KELVO_HAVE_ASSIMP
bool assimpRead(const fs::path& file, unsigned flags) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(file.string(), flags);
    return scene && scene->mNumMeshes > 0;
}

void assimp(benchmark::State& state, Kind kind, unsigned flags, const char* reader) {
    const fs::path file = generated(kind);
    for (auto _ : state) {
        if (!assimpRead(file, flags)) state.SkipWithError("assimp failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(file)));
    reportPeak(state, reader, file);
}

// What a viewer would ask for: polygons cut, smooth normals where missing, vertices joined.
constexpr unsigned viewerSteps =
    aiProcess_Triangulate | aiProcess_GenSmoothNormals | aiProcess_JoinIdenticalVertices;
void BM_AssimpOBJRaw(benchmark::State& s) {
    assimp(s, Kind::obj, 0, "assimp");
}
void BM_AssimpOBJTriangulated(benchmark::State& s) {
    assimp(s, Kind::obj, aiProcess_Triangulate, "assimp-triangulated");
}
void BM_AssimpOBJViewerSteps(benchmark::State& s) {
    assimp(s, Kind::obj, viewerSteps, "assimp-viewer");
}
void BM_AssimpBinaryPLYRaw(benchmark::State& s) {
    assimp(s, Kind::binaryPLY, 0, "assimp");
}
void BM_AssimpASCIIPLYRaw(benchmark::State& s) {
    assimp(s, Kind::asciiPLY, 0, "assimp");
}
BENCHMARK(BM_AssimpOBJRaw)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AssimpOBJTriangulated)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_AssimpOBJViewerSteps)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_AssimpBinaryPLYRaw)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AssimpASCIIPLYRaw)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

// One import for --peak-memory; 0 when it read the grid.
int importOnce(const std::string& reader, const fs::path& file) {
#ifdef KELVO_HAVE_ASSIMP
    const unsigned flags = reader == "assimp-triangulated" ? aiProcess_Triangulate
                           : reader == "assimp-viewer"     ? viewerSteps
                                                           : 0;
    if (reader != "kelvo") return assimpRead(file, flags) ? 0 : 1;
#endif
    return looksRight(kelvo::importModelAsset(file)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--peak-memory") == 0) {
        const int status = importOnce(argv[2], argv[3]);
        std::printf("%ld\n", kelvo::bench::ownPeakKiB());
        return status;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

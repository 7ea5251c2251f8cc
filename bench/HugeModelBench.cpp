// Huge models: the whole thumbnailer process (broker and confined worker) on generated
// spheres. STL, OBJ and PLY files this large are drawn from the file.
// Goals: 16M triangles in at most 5 s with the file in the page cache, peak memory well
// under the 2 GiB budget.
//
//   BM_HugeSTLThumbnail/triangles:N/ascii:A   wall time per thumbnail; peak_MiB is the
//   BM_HugePLYThumbnail/triangles:N/ascii:A   largest resident set of the process tree,
//   BM_HugeOBJThumbnail/triangles:N           cpu_s its processor time (user and system)
//
// The files are generated once into the temporary folder (KELVO_HUGE_DIR overrides it) and
// kept for later runs; STL takes 50 bytes a triangle, ASCII STL about 200, PLY about 19,
// ASCII PLY about 36 and OBJ about 40.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/SphereSTL.h"

extern char** environ;

namespace {

// A UV sphere of about `triangles` triangles: shared vertices, as `vertex(x, y, z)` calls in
// order, then faces as `face(a, b, c)` calls with 0-based vertex numbers.
template <class Vertex, class Face>
void sphere(long triangles, const Vertex& vertex, const Face& face) {
    const int rings = static_cast<int>(std::sqrt(triangles / 2.0)), segments = rings;
    for (int i = 0; i <= rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            const double theta = M_PI * i / rings, phi = 2 * M_PI * j / segments;
            vertex(static_cast<float>(std::sin(theta) * std::cos(phi)),
                   static_cast<float>(std::sin(theta) * std::sin(phi)),
                   static_cast<float>(std::cos(theta)));
        }
    }
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < rings; ++i) {
            for (int j = 0; j < segments; ++j) {
                const std::int32_t a = i * segments + j, b = (i + 1) * segments + j,
                                   c = (i + 1) * segments + (j + 1) % segments,
                                   d = i * segments + (j + 1) % segments;
                face(a, half ? c : b, half ? d : c);
            }
        }
    }
}

long sphereVertices(long triangles) {
    const long rings = static_cast<long>(std::sqrt(triangles / 2.0));
    return (rings + 1) * rings;
}

// The sphere as PLY: faces as lists of three 32-bit indices.
void writeSpherePLY(const std::filesystem::path& path, long triangles, bool ascii) {
    std::ofstream out(path, std::ios::binary);
    const long rings = static_cast<long>(std::sqrt(triangles / 2.0));
    out << "ply\nformat " << (ascii ? "ascii" : "binary_little_endian") << " 1.0\nelement vertex "
        << sphereVertices(triangles)
        << "\nproperty float x\nproperty float y\nproperty float z\nelement face "
        << 2 * rings * rings << "\nproperty list uchar int vertex_indices\nend_header\n";
    char line[96];
    sphere(
        triangles,
        [&](float x, float y, float z) {
            if (ascii) {
                out.write(line, std::snprintf(line, sizeof line, "%.6g %.6g %.6g\n", x, y, z));
                return;
            }
            const float p[3] = {x, y, z};
            out.write(reinterpret_cast<const char*>(p), 12);
        },
        [&](std::int32_t a, std::int32_t b, std::int32_t c) {
            if (ascii) {
                out.write(line, std::snprintf(line, sizeof line, "3 %d %d %d\n", a, b, c));
                return;
            }
            const std::int32_t face[3] = {a, b, c};
            out.put(3);
            out.write(reinterpret_cast<const char*>(face), 12);
        });
}

// The sphere as OBJ: "v x y z" and "f a b c" lines.
void writeSphereOBJ(const std::filesystem::path& path, long triangles) {
    std::ofstream out(path, std::ios::binary);
    char line[96];
    sphere(
        triangles,
        [&](float x, float y, float z) {
            out.write(line, std::snprintf(line, sizeof line, "v %.6g %.6g %.6g\n", x, y, z));
        },
        [&](std::int32_t a, std::int32_t b, std::int32_t c) {
            out.write(line, std::snprintf(line, sizeof line, "f %d %d %d\n", a + 1, b + 1, c + 1));
        });
}

std::filesystem::path hugeModel(long triangles, const std::string& kind) {
    const char* dir = std::getenv("KELVO_HUGE_DIR");
    const std::filesystem::path path =
        std::filesystem::path(dir ? dir : std::filesystem::temp_directory_path().c_str()) /
        ("kelvo-huge-" + std::to_string(triangles) + "-" + kind);
    if (!std::filesystem::exists(path)) {
        const std::filesystem::path part = path.string() + ".part";
        if (kind == "binary.stl" || kind == "ascii.stl") {
            kelvo::bench::writeSphereSTL(part, triangles, kind == "ascii.stl");
        } else if (kind == "text.obj") {
            writeSphereOBJ(part, triangles);
        } else {
            writeSpherePLY(part, triangles, kind == "ascii.ply");
        }
        std::filesystem::rename(part, path);
    }
    return path;
}

// Runs the thumbnailer on `model`; its wall time, the peak resident set of it and its worker
// in MiB (wait4 reports the largest of the tree) and their processor time in seconds (what
// the wall time would be on one idle core). -1 when it failed.
double runThumbnailer(const std::filesystem::path& model, double& peakMiB, double& cpuSeconds) {
    std::string program = KELVO_THUMBNAILER_PATH, size = "-s", side = "256", input = model.string(),
                output = (std::filesystem::temp_directory_path() / "kelvo-huge.png").string();
    std::vector<char*> argv{program.data(), size.data(),   side.data(),
                            input.data(),   output.data(), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    peakMiB = usage.ru_maxrss / 1024.0;
    const auto seconds = [](timeval t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void thumbnailLoop(benchmark::State& state, const std::filesystem::path& model) {
    double peak = 0, cpu = 0;
    runThumbnailer(model, peak, cpu);  // brings the file into the page cache
    for (auto _ : state) {
        const double seconds = runThumbnailer(model, peak, cpu);
        if (seconds < 0) {
            state.SkipWithError("the thumbnailer failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["peak_MiB"] = peak;
    state.counters["cpu_s"] = cpu;
}

void BM_HugeSTLThumbnail(benchmark::State& state) {
    thumbnailLoop(state, hugeModel(state.range(0), state.range(1) ? "ascii.stl" : "binary.stl"));
}
BENCHMARK(BM_HugeSTLThumbnail)
    ->ArgNames({"triangles", "ascii"})
    ->Args({16'000'000, 0})
    ->Args({80'000'000, 0})
    ->Args({4'000'000, 1})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_HugePLYThumbnail(benchmark::State& state) {
    thumbnailLoop(state, hugeModel(state.range(0), state.range(1) ? "ascii.ply" : "binary.ply"));
}
BENCHMARK(BM_HugePLYThumbnail)
    ->ArgNames({"triangles", "ascii"})
    ->Args({16'000'000, 0})
    ->Args({80'000'000, 0})
    ->Args({16'000'000, 1})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_HugeOBJThumbnail(benchmark::State& state) {
    thumbnailLoop(state, hugeModel(state.range(0), "text.obj"));
}
BENCHMARK(BM_HugeOBJThumbnail)
    ->ArgName("triangles")
    ->Arg(16'000'000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

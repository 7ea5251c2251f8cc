// Huge models: the whole thumbnailer process (broker and confined worker) on generated
// spheres. STL files this large are drawn from the file; the PLY is loaded, and drawn whole.
// Goals: 16M triangles in at most 5 s with the file in the page cache, peak memory well
// under the 2 GiB budget.
//
//   BM_HugeSTLThumbnail/triangles:N/ascii:A   wall time per thumbnail; peak_MiB is the
//   BM_HugePLYThumbnail/triangles:N           largest resident set of the process tree,
//                                             cpu_s its processor time (user and system)
//
// The files are generated once into the temporary folder (KELVO_HUGE_DIR overrides it) and
// kept for later runs; STL takes 50 bytes a triangle, ASCII STL about 200, PLY about 19.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/SphereSTL.h"

extern char** environ;

namespace {

// A UV sphere of about `triangles` triangles as a binary PLY: shared vertices, faces as
// lists of three 32-bit indices.
void writeSpherePLY(const std::filesystem::path& path, long triangles) {
    const int rings = static_cast<int>(std::sqrt(triangles / 2.0)), segments = rings;
    std::ofstream out(path, std::ios::binary);
    out << "ply\nformat binary_little_endian 1.0\nelement vertex " << (rings + 1) * segments
        << "\nproperty float x\nproperty float y\nproperty float z\nelement face "
        << 2L * rings * segments << "\nproperty list uchar int vertex_indices\nend_header\n";
    for (int i = 0; i <= rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            const double theta = M_PI * i / rings, phi = 2 * M_PI * j / segments;
            const float p[3] = {static_cast<float>(std::sin(theta) * std::cos(phi)),
                                static_cast<float>(std::sin(theta) * std::sin(phi)),
                                static_cast<float>(std::cos(theta))};
            out.write(reinterpret_cast<const char*>(p), 12);
        }
    }
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < rings; ++i) {
            for (int j = 0; j < segments; ++j) {
                const std::int32_t a = i * segments + j, b = (i + 1) * segments + j,
                                   c = (i + 1) * segments + (j + 1) % segments,
                                   d = i * segments + (j + 1) % segments;
                const std::int32_t face[3] = {a, half ? c : b, half ? d : c};
                out.put(3);
                out.write(reinterpret_cast<const char*>(face), 12);
            }
        }
    }
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
        } else {
            writeSpherePLY(part, triangles);
        }
        std::filesystem::rename(part, path);
    }
    return path;
}

// Runs the thumbnailer on `model`; its wall time, the peak resident set of it and its worker
// in MiB (wait4 reports the largest of the tree) and their processor time in seconds (what
// the wall time would be on one idle core). -1 when it failed.
double runThumbnailer(const std::filesystem::path& model, double& peakMiB, double& cpuSeconds) {
    std::string program = KELVO_THUMBNAILER_PATH, size = "-s", side = "256",
                input = model.string(),
                output = (std::filesystem::temp_directory_path() / "kelvo-huge.png").string();
    std::vector<char*> argv{program.data(), size.data(), side.data(), input.data(), output.data(),
                            nullptr};
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
    thumbnailLoop(state, hugeModel(state.range(0), "binary.ply"));
}
BENCHMARK(BM_HugePLYThumbnail)
    ->ArgName("triangles")
    ->Arg(16'000'000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

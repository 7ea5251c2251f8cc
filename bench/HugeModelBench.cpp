// Huge models: the whole thumbnailer process (broker and confined worker) on generated STL
// spheres too large to load as a scene, drawn from the file. Goals: 16M triangles (800 MB)
// in at most 5 s with the file in the page cache, peak memory well under the 2 GiB budget.
//
//   BM_HugeSTLThumbnail/triangles:N/ascii:A   wall time per thumbnail; peak_MiB is the
//                                             largest resident set of the process tree
//
// The files are generated once into the temporary folder (KELVO_HUGE_DIR overrides it) and
// kept for later runs; they take 50 bytes a triangle, ASCII about 250.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/SphereSTL.h"

extern char** environ;

namespace {

std::filesystem::path hugeModel(long triangles, bool ascii) {
    const char* dir = std::getenv("KELVO_HUGE_DIR");
    const std::filesystem::path path =
        std::filesystem::path(dir ? dir : std::filesystem::temp_directory_path().c_str()) /
        ("kelvo-huge-" + std::to_string(triangles) + (ascii ? "-ascii" : "") + ".stl");
    if (!std::filesystem::exists(path)) {
        const std::filesystem::path part = path.string() + ".part";
        kelvo::bench::writeSphereSTL(part, triangles, ascii);
        std::filesystem::rename(part, path);
    }
    return path;
}

// Runs the thumbnailer on `model`; its wall time, and the peak resident set of it and its
// worker in MiB (wait4 reports the largest of the tree). -1 when it failed.
double runThumbnailer(const std::filesystem::path& model, double& peakMiB) {
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
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_HugeSTLThumbnail(benchmark::State& state) {
    const std::filesystem::path model = hugeModel(state.range(0), state.range(1) != 0);
    double peak = 0;
    runThumbnailer(model, peak);  // brings the file into the page cache
    for (auto _ : state) {
        const double seconds = runThumbnailer(model, peak);
        if (seconds < 0) {
            state.SkipWithError("the thumbnailer failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["peak_MiB"] = peak;
}
BENCHMARK(BM_HugeSTLThumbnail)
    ->ArgNames({"triangles", "ascii"})
    ->Args({16'000'000, 0})
    ->Args({80'000'000, 0})
    ->Args({4'000'000, 1})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

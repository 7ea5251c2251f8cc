// What the confined worker adds to a thumbnail. The goal: at most 2 ms per file over drawing
// in the thumbnailer's own process, which is the broker's fork, pipe and wait
// (BM_ForkPipeWait) plus the confinement itself (Confined minus Unconfined).
//
//   BM_ThumbnailInWorker/0/...  a generated 2,000-triangle STL sphere; /1/... a corpus 3MF
//   .../confined:1 with Landlock and the system-call filter, .../confined:0 without
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "bench/SphereSTL.h"
#include "extensions/KelvoThumbnail/ThumbnailWorker.h"

namespace {

std::filesystem::path benchModel(int which) {
    if (which == 1) return KELVO_CORPUS_DIR "/3mf/SphereInACage.3mf";
    static const std::filesystem::path sphere = [] {
        std::filesystem::path path = std::filesystem::temp_directory_path() / "kelvo-bench.stl";
        kelvo::bench::writeSphereSTL(path, 2000);
        return path;
    }();
    return sphere;
}

void BM_ThumbnailInWorker(benchmark::State& state) {
    const std::filesystem::path model = benchModel(static_cast<int>(state.range(0)));
    kelvo::ThumbnailerOptions options;
    options.size = 256;
    options.confined = state.range(1) != 0;
    const int input = ::open(model.c_str(), O_RDONLY | O_CLOEXEC);
    for (auto _ : state) {
        kelvo::WorkerResult result = kelvo::makeThumbnailInWorker(input, model, options);
        if (result.error) state.SkipWithError(result.error->localizedDescription().c_str());
        benchmark::DoNotOptimize(result.png.data());
    }
    ::close(input);
}
BENCHMARK(BM_ThumbnailInWorker)
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->ArgNames({"model", "confined"})
    ->Unit(benchmark::kMillisecond);

// The broker's fixed cost: a child that exits at once, its pipe read to the end, its status.
void BM_ForkPipeWait(benchmark::State& state) {
    for (auto _ : state) {
        int ends[2];
        if (::pipe(ends) != 0) std::abort();
        const pid_t child = ::fork();
        if (child == 0) ::_exit(0);
        ::close(ends[1]);
        char byte;
        while (::read(ends[0], &byte, 1) > 0) {
        }
        ::close(ends[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
    }
}
BENCHMARK(BM_ForkPipeWait)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// Huge models: the whole thumbnailer process (broker and confined worker) on generated
// spheres. STL files this large are drawn from the file; the PLY is loaded, and drawn whole;
// the 3MF package's model part is inflated and scanned in pieces, its meshes held.
// Goals: 16M triangles in at most 5 s with the file in the page cache, peak memory well
// under the 2 GiB budget.
//
//   BM_HugeSTLThumbnail/triangles:N/ascii:A   wall time per thumbnail; peak_MiB is the
//   BM_HugePLYThumbnail/triangles:N           largest resident set of the process tree,
//   BM_Huge3MFThumbnail/triangles:N           cpu_s its processor time (user and system)
//
// The files are generated once into the temporary folder (KELVO_HUGE_DIR overrides it) and
// kept for later runs; STL takes 50 bytes a triangle, ASCII STL about 200, PLY about 19, 3MF
// about 85 of model XML (deflated to some 25).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

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

// A UV sphere of about `triangles` triangles as a 3MF package: one mesh object placed by a
// build item that scales and moves it, its model part deflated as it is written (a stored
// local header is patched with the sizes afterwards; the CRC is left 0, as readers of
// packages this large do not check it).
void writeSphere3MF(const std::filesystem::path& path, long triangles) {
    const int rings = static_cast<int>(std::sqrt(triangles / 2.0)), segments = rings;
    const std::string name = "3D/3dmodel.model";
    std::ofstream out(path, std::ios::binary);
    auto le = [&](std::uint64_t v, int width) {
        for (int k = 0; k < width; ++k)
            out.put(static_cast<char>(v >> (8 * k)));
    };
    auto header = [&](std::uint32_t signature, bool central) {
        le(signature, 4);
        if (central) le(20, 2);
        le(20, 2), le(0, 2), le(8, 2), le(0, 4), le(0, 4);
    };
    header(0x04034B50, false);
    const std::streamoff sizes = out.tellp();
    le(0, 4), le(0, 4), le(name.size(), 2), le(0, 2);
    out << name;
    const std::streamoff dataStart = out.tellp();

    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<char> packed(1 << 20);
    std::uint64_t plain = 0;
    auto emit = [&](const std::string& text, int flush) {
        plain += text.size();
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        z.avail_in = static_cast<uInt>(text.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(packed.data());
            z.avail_out = static_cast<uInt>(packed.size());
            deflate(&z, flush);
            out.write(packed.data(), static_cast<std::streamsize>(packed.size() - z.avail_out));
        } while (z.avail_out == 0);
    };
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model unit=\"millimeter\" "
        "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n<resources>\n"
        "<object id=\"1\" type=\"model\"><mesh><vertices>\n";
    char line[128];
    for (int i = 0; i <= rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            const double theta = M_PI * i / rings, phi = 2 * M_PI * j / segments;
            std::snprintf(line, sizeof line, "<vertex x=\"%.6f\" y=\"%.6f\" z=\"%.6f\" />\n",
                          std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                          std::cos(theta));
            text += line;
        }
        if (text.size() > (1 << 20)) emit(text, Z_NO_FLUSH), text.clear();
    }
    text += "</vertices><triangles>\n";
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < rings; ++i) {
            for (int j = 0; j < segments; ++j) {
                const int a = i * segments + j, b = (i + 1) * segments + j,
                          c = (i + 1) * segments + (j + 1) % segments,
                          d = i * segments + (j + 1) % segments;
                std::snprintf(line, sizeof line, "<triangle v1=\"%d\" v2=\"%d\" v3=\"%d\" />\n", a,
                              half ? c : b, half ? d : c);
                text += line;
            }
            if (text.size() > (1 << 20)) emit(text, Z_NO_FLUSH), text.clear();
        }
    }
    text += "</triangles></mesh></object>\n</resources>\n<build><item objectid=\"1\" "
            "transform=\"20 0 0 0 20 0 0 0 10 5 5 0\" /></build>\n</model>\n";
    emit(text, Z_FINISH);
    deflateEnd(&z);
    const std::uint64_t packedSize = static_cast<std::uint64_t>(out.tellp() - dataStart);

    const std::streamoff directory = out.tellp();
    header(0x02014B50, true);
    le(packedSize, 4), le(plain, 4), le(name.size(), 2), le(0, 2), le(0, 2), le(0, 2), le(0, 2),
        le(0, 4), le(0, 4);
    out << name;
    const std::streamoff directoryEnd = out.tellp();
    le(0x06054B50, 4), le(0, 2), le(0, 2), le(1, 2), le(1, 2),
        le(static_cast<std::uint64_t>(directoryEnd - directory), 4),
        le(static_cast<std::uint64_t>(directory), 4), le(0, 2);
    out.seekp(sizes);
    le(packedSize, 4), le(plain, 4);
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
        } else if (kind == "sphere.3mf") {
            writeSphere3MF(part, triangles);
        } else {
            writeSpherePLY(part, triangles);
        }
        std::filesystem::rename(part, path);
    }
    return path;
}

// The largest peak resident set (VmHWM) among the children of `pid`, in KiB; 0 when none.
long childrenPeakKiB(pid_t pid) {
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    long peak = 0;
    for (pid_t worker; children >> worker;) {
        std::ifstream status("/proc/" + std::to_string(worker) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmHWM:", 0) == 0) peak = std::max(peak, std::atol(line.c_str() + 6));
        }
    }
    return peak;
}

// Runs the thumbnailer on `model`; its wall time, the peak resident set of it and its worker
// in MiB (wait4 reports the largest of the tree) and their processor time in seconds (what
// the wall time would be on one idle core; the worker's is missing, as it is not waited
// for). -1 when it failed.
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
    // The worker exits after its reply and is not waited for, so its peak does not reach
    // wait4: it is read from /proc while it runs.
    std::atomic<bool> running = true;
    std::atomic<long> workerPeakKiB = 0;
    std::thread watcher([&] {
        while (running) {
            workerPeakKiB = std::max(workerPeakKiB.load(), childrenPeakKiB(child));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    int status = 0;
    struct rusage usage {};
    const bool ok = ::wait4(child, &status, 0, &usage) == child && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0;
    running = false;
    watcher.join();
    if (!ok) return -1;
    peakMiB = std::max<double>(usage.ru_maxrss, workerPeakKiB) / 1024.0;
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

void BM_Huge3MFThumbnail(benchmark::State& state) {
    thumbnailLoop(state, hugeModel(state.range(0), "sphere.3mf"));
}
BENCHMARK(BM_Huge3MFThumbnail)
    ->ArgName("triangles")
    ->Arg(10'000'000)
    ->Arg(16'000'000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Whole-process thumbnail time: kelvo-thumbnailer against f3d, file by file, one table.
//
//   thumbnail-compare KELVO_THUMBNAILER CORPUS_DIR [RUNS]
//
// Each tool is started as a file manager starts it and timed from start to exit with its
// PNG written (256 px; f3d with --dry-run so no user configuration is read and with
// --no-background like a thumbnail). Every figure is the median of RUNS runs (default 7;
// 3 for the million-triangle file). Inputs: the corpus's STL, 3MF, VOX, OBJ and PLY files
// that kelvo-thumbnailer accepts (checked once, before timing), three glTF files
// (2CylinderEngine.glb: 75,730 triangles in 34 meshes; CesiumMilkTruck.glb: textured,
// animated; DamagedHelmet.glb: five 2048-pixel JPEG textures), and binary STL spheres of
// 12, 100K and 1M triangles generated here. f3d needs an X server: run this under xvfb-run (as
// bench/thumbnail-bench.sh does), or its column stays empty.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/SphereSTL.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Sample {
    double ms = 0;
    long peakKiB = 0;
    bool ok = false;
};

// Runs argv to completion with output discarded; wall time and peak resident memory.
Sample run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Sample sample;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        struct rusage usage {};
        ::wait4(pid, &status, 0, &usage);
        sample.ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        sample.peakKiB = usage.ru_maxrss;
        sample.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    return sample;
}

struct Timing {
    double medianMs = NAN;
    long peakKiB = 0;
};

Timing measure(const std::vector<std::string>& args, const fs::path& output, int runs) {
    std::vector<double> times;
    Timing timing;
    for (int i = 0; i < runs; ++i) {
        fs::remove(output);
        Sample s = run(args);
        if (!s.ok || !fs::exists(output)) return Timing{};
        times.push_back(s.ms);
        timing.peakKiB = std::max(timing.peakKiB, s.peakKiB);
    }
    std::sort(times.begin(), times.end());
    timing.medianMs = times[times.size() / 2];
    return timing;
}

// A UV sphere of about `triangles` triangles as a binary STL.
fs::path sphere(const fs::path& dir, long triangles) {
    const fs::path path = dir / ("sphere-" + std::to_string(triangles / 1000) + "k.stl");
    kelvo::bench::writeSphereSTL(path, triangles);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: thumbnail-compare KELVO_THUMBNAILER CORPUS_DIR [RUNS]\n");
        return 2;
    }
    const std::string kelvo = fs::absolute(argv[1]).string();
    const fs::path corpus = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    const bool haveF3D = std::getenv("DISPLAY") && run({"f3d", "--version"}).ok;

    char pattern[] = "/tmp/kelvo-thumbnail-bench.XXXXXX";
    const fs::path work = ::mkdtemp(pattern);
    const fs::path out = work / "out.png";

    std::vector<fs::path> inputs;
    for (const char* format : {"stl", "3mf", "vox", "obj", "ply", "other/usd"}) {
        if (!fs::is_directory(corpus / format)) continue;
        std::vector<fs::path> files;
        for (const auto& e : fs::recursive_directory_iterator(corpus / format)) {
            if (e.is_regular_file()) files.push_back(e.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& f : files) {
            // Only files that make a thumbnail; refusals are not what is measured here.
            if (run({kelvo, "-s", "256", f.string(), out.string()}).ok) inputs.push_back(f);
        }
    }
    for (const char* file :
         {"gltf/2CylinderEngine.glb", "gltf/CesiumMilkTruck.glb", "gltf/DamagedHelmet.glb"}) {
        if (run({kelvo, "-s", "256", (corpus / file).string(), out.string()}).ok) {
            inputs.push_back(corpus / file);
        }
    }
    // The smallest model: what is left is the process itself (start-up, staging, the mark).
    const fs::path tiny = work / "sphere-12.stl";
    kelvo::bench::writeSphereSTL(tiny, 12);
    inputs.push_back(tiny);
    inputs.push_back(sphere(work, 100000));
    inputs.push_back(sphere(work, 1000000));

    std::printf("Whole-process thumbnail time at 256 px, median of %d runs (1M: 3)\n", runs);
    std::printf("%-40s %10s %12s %10s %10s %8s\n", "file", "size KB", "kelvo ms", "peak MiB",
                "f3d ms", "speedup");
    std::vector<double> kelvoSmall, ratios, objPLYRatios;
    for (const auto& input : inputs) {
        const int n = fs::file_size(input) > (20u << 20) ? std::min(runs, 3) : runs;
        Timing k = measure({kelvo, "-s", "256", input.string(), out.string()}, out, n);
        Timing f;
        if (haveF3D) {
            f = measure({"f3d", "--dry-run", "--no-background", "--resolution=256,256",
                         "--output=" + out.string(), input.string()},
                        out, n);
        }
        const double ratio = f.medianMs / k.medianMs;
        std::string name = fs::relative(input, input.parent_path().parent_path()).string();
        if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
        // Padded by characters, not bytes, so UTF-8 names keep the columns straight.
        const auto characters =
            std::count_if(name.begin(), name.end(), [](char c) { return (c & 0xC0) != 0x80; });
        name.append(static_cast<size_t>(std::max<long>(0, 40 - characters)), ' ');
        std::printf("%s %10.1f %12.1f %10.1f %10.1f %7.1fx\n", name.c_str(),
                    fs::file_size(input) / 1024.0, k.medianMs, k.peakKiB / 1024.0, f.medianMs,
                    ratio);
        if (fs::file_size(input) < (1u << 20) && !std::isnan(k.medianMs)) {
            kelvoSmall.push_back(k.medianMs);
        }
        if (!std::isnan(ratio)) ratios.push_back(ratio);
        const std::string format = fs::relative(input, corpus).begin()->string();
        if (!std::isnan(ratio) && (format == "obj" || format == "ply")) objPLYRatios.push_back(ratio);
    }
    auto median = [](std::vector<double> v) -> double {
        if (v.empty()) return NAN;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("\nkelvo median over files under 1 MB: %.1f ms (goal: 20 ms or less)\n",
                median(kelvoSmall));
    std::printf("median speedup over f3d: %.1fx, smallest %.1fx (goal: 20x or better)\n",
                median(ratios),
                ratios.empty() ? NAN : *std::min_element(ratios.begin(), ratios.end()));
    std::printf("median speedup over f3d on OBJ and PLY: %.1fx (goal: 20x or better)\n",
                median(objPLYRatios));
    fs::remove_all(work);
    return 0;
}

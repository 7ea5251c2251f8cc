// kelvo-cache: fills the desktop's thumbnail cache for whole folder trees, on every core.
#include <getopt.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "extensions/KelvoCache/CacheRun.h"
#include "extensions/KelvoCache/ServeRequests.h"
#include "extensions/KelvoCache/TreeWalk.h"
#include "extensions/KelvoThumbnail/ThumbnailWorker.h"
#include "extensions/Shared/CommandLine.h"

namespace {

constexpr std::string_view program = "kelvo-cache";

constexpr const char* usageHead =
    "Usage: kelvo-cache [OPTION]... PATH...\n"
    "Make the thumbnails of every 3D model file in the PATHs (files, or folders and\n"
    "everything below them) and put them in the desktop's thumbnail cache, where\n"
    "GNOME Files, Thunar, Dolphin and other file managers find them, so that a folder\n"
    "of thousands of models shows its icons at once.\n"
    "\n"
    "Thumbnails go to $XDG_CACHE_HOME/thumbnails (else ~/.cache/thumbnails), named\n"
    "and tagged as the freedesktop thumbnail standard says. A thumbnail that is still\n"
    "valid (same file, same modification time and size) is left as it is, so a second\n"
    "run does next to nothing and an interrupted run resumes where it stopped. Files\n"
    "that cannot be thumbnailed are remembered under thumbnails/fail/kelvo-VERSION and\n"
    "not tried again until they change (or --retry-failed).\n"
    "\n"
    "Each file is drawn in a worker process of its own; a file that crashes or hangs\n"
    "its worker fails alone, and the batch goes on.\n"
    "\n"
    "Files are picked by extension, in any letter case:\n";
// Here the list of formats goes.
constexpr const char* usage =
    "\n"
    "Options:\n"
    "  -s, --size FLAVOUR       which thumbnails to make: normal (128 pixels), large\n"
    "                           (256), x-large (512) or xx-large (1024); repeat it or\n"
    "                           separate them with commas (default: large)\n"
    "  -j, --jobs N             worker processes (default: the number of cores)\n"
    "      --retry-failed       try again the files earlier runs could not thumbnail\n"
    "  -L, --follow-symlinks    follow symbolic links to folders (each folder is still\n"
    "                           visited once); links to files are always taken\n"
    "      --time-limit SECS    give up on a file after SECS seconds (default 20;\n"
    "                           0 means no limit)\n"
    "      --memory-limit MIB   memory budget of each worker (default 2048; 0 means\n"
    "                           no limit)\n"
    "      --no-sandbox         do not confine the workers (for debugging); confined,\n"
    "                           they can write no file, open no socket, start no\n"
    "                           program and read nothing outside the PATHs' folders\n"
    "                           but the system's and Kelvo's own (where the kernel\n"
    "                           has Landlock, and unless -L is given)\n"
    "      --serve              take no PATH: serve thumbnails to the program that\n"
    "                           started this one, one at a time, with one confined\n"
    "                           worker and the limits above (the Python module's\n"
    "                           isolated mode uses it). Each request on standard\n"
    "                           input is the size in pixels and the path's length\n"
    "                           as 32-bit numbers and the path; each reply on\n"
    "                           standard output a kind byte (P for a PNG, E for an\n"
    "                           error), the length of the rest as a 32-bit number\n"
    "                           and the PNG or the error\n"
    "  -n, --dry-run            say what would be made, make nothing\n"
    "  -q, --quiet              print nothing but errors\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "On a terminal a progress bar shows files done, files per second, the time left\n"
    "and the current file; otherwise a line is printed every 1000 files. The run ends\n"
    "with a summary and every failure with its reason.\n"
    "\n"
    "Exit status:\n"
    "  0  every file has a valid thumbnail\n"
    "  1  some files could not be thumbnailed (now or in an earlier run), or the\n"
    "     cache could not be written\n"
    "  2  the command line was wrong\n";

bool parseWhole(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

std::string formatDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return "--:--";
    const long s = std::lround(seconds);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

// One line that rewrites itself on a terminal; a line per 1000 thumbnails elsewhere.
class ProgressPrinter {
public:
    ProgressPrinter(bool quiet) : quiet_(quiet), terminal_(::isatty(STDERR_FILENO)) {}

    void operator()(const kelvo::CacheProgress& p) {
        if (quiet_) return;
        const double seconds = elapsed();
        const double rate = seconds > 0 ? (p.done - p.valid - p.failedBefore) / seconds : 0;
        if (!terminal_) {
            if (p.done % 1000 == 0 || p.done == p.total) {
                std::fprintf(stderr, "kelvo-cache: %zu of %zu done, %zu made, %zu failed\n", p.done,
                             p.total, p.made, p.failed.size());
            }
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (p.done != p.total && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
        lastDrawn_ = now;
        const size_t left = p.total - p.done;
        const int width = 24;
        const int filled = p.total ? static_cast<int>(width * p.done / p.total) : width;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(width, '.');
        std::string name = p.current ? p.current->filename().string() : "";
        if (name.size() > 28) name = name.substr(0, 27) + "~";
        std::fprintf(stderr, "\r\033[K[%s] %zu/%zu  %.1f files/s  %s left  %s", bar.c_str(), p.done,
                     p.total, rate, formatDuration(rate > 0 ? left / rate : NAN).c_str(),
                     name.c_str());
        if (p.done == p.total) std::fputc('\n', stderr);
    }

    double elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    bool quiet_, terminal_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace

int main(int argc, char** argv) {
    enum Long {
        retryOption = 256,
        timeLimitOption,
        memoryLimitOption,
        noSandboxOption,
        serveOption
    };
    static const option longOptions[] = {
        {"size", required_argument, nullptr, 's'},
        {"jobs", required_argument, nullptr, 'j'},
        {"retry-failed", no_argument, nullptr, retryOption},
        {"follow-symlinks", no_argument, nullptr, 'L'},
        {"time-limit", required_argument, nullptr, timeLimitOption},
        {"memory-limit", required_argument, nullptr, memoryLimitOption},
        {"no-sandbox", no_argument, nullptr, noSandboxOption},
        {"serve", no_argument, nullptr, serveOption},
        {"dry-run", no_argument, nullptr, 'n'},
        {"quiet", no_argument, nullptr, 'q'},
        kelvo::helpLongOption,
        kelvo::versionLongOption,
        kelvo::endOfLongOptions,
    };
    kelvo::CacheOptions options;
    options.jobs = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    bool quiet = false, followLinks = false, flavoursGiven = false, serve = false;
    opterr = 0;  // the messages are ours
    for (int code; (code = getopt_long(argc, argv, ":s:j:Lnqh", longOptions, nullptr)) != -1;) {
        if (std::optional<int> status =
                kelvo::statusOfSharedOption(code, program, usageHead, usage, argv)) {
            return *status;
        }
        long number = 0;
        switch (code) {
            case 's': {
                if (!flavoursGiven) options.flavours.clear();
                flavoursGiven = true;
                std::string_view list = optarg;
                while (!list.empty()) {
                    const size_t comma = list.find(',');
                    const std::string_view name = list.substr(0, comma);
                    std::optional<kelvo::ThumbnailFlavour> flavour = kelvo::flavourNamed(name);
                    if (!flavour) {
                        return kelvo::usageError(program, "unknown size '" + std::string(name) +
                                                              "': use normal, large, x-large or "
                                                              "xx-large");
                    }
                    options.flavours.push_back(*flavour);
                    list = comma == std::string_view::npos ? "" : list.substr(comma + 1);
                }
                break;
            }
            case 'j':
                if (!parseWhole(optarg, 1, 1024, number)) {
                    return kelvo::usageError(program,
                                             "--jobs must be a whole number from 1 to 1024");
                }
                options.jobs = static_cast<int>(number);
                break;
            case retryOption:
                options.retryFailed = true;
                break;
            case 'L':
                followLinks = true;
                break;
            case timeLimitOption: {
                char* end = nullptr;
                const double seconds = std::strtod(optarg, &end);
                if (end == optarg || *end != '\0' || !(seconds >= 0 && seconds <= 86400)) {
                    return kelvo::usageError(
                        program, "--time-limit must be a number of seconds from 0 to 86400");
                }
                options.worker.timeLimitSeconds = seconds;
                break;
            }
            case memoryLimitOption:
                if (!parseWhole(optarg, 0, 1 << 30, number)) {
                    return kelvo::usageError(program,
                                             "--memory-limit must be a whole number of MiB");
                }
                options.worker.memoryBudgetBytes = static_cast<std::uint64_t>(number) << 20;
                break;
            case noSandboxOption:
                options.worker.confined = false;
                break;
            case serveOption:
                serve = true;
                break;
            case 'n':
                options.dryRun = true;
                break;
            case 'q':
                quiet = true;
                break;
            default:
                return kelvo::usageError(program, kelvo::optionMistake(code, argv));
        }
    }
    if (serve) {
        if (optind < argc) return kelvo::usageError(program, "--serve takes no PATH");
        try {
            // The pipes are kept apart from descriptors 0 and 1, which the worker points
            // at /dev/null.
            return kelvo::serveRequests(::dup(STDIN_FILENO), ::dup(STDOUT_FILENO),
                                        options.worker);
        } catch (const std::system_error& error) {
            std::fprintf(stderr, "kelvo-cache: cannot start a worker: %s\n", error.what());
            return 1;
        }
    }
    if (optind >= argc) return kelvo::usageError(program, "missing PATH");
    std::optional<std::filesystem::path> cache = kelvo::thumbnailCacheDirectory();
    if (!cache) {
        std::fprintf(stderr, "kelvo-cache: neither XDG_CACHE_HOME nor HOME names a folder\n");
        return 1;
    }
    options.cacheDirectory = *cache;

    std::vector<std::filesystem::path> paths(argv + optind, argv + argc);
    kelvo::FoundFiles found = kelvo::findModelFiles(paths, followLinks);
    // Links may lead anywhere; without them the workers read only beneath the PATHs.
    if (options.worker.confined && !followLinks) {
        std::vector<std::filesystem::path> folders;
        for (const std::filesystem::path& path : paths) {
            std::error_code error;
            const std::filesystem::path absolute = std::filesystem::absolute(path, error);
            folders.push_back(std::filesystem::is_directory(absolute, error)
                                  ? absolute
                                  : absolute.parent_path());
        }
        options.worker.readable = kelvo::workerReadableFolders(std::move(folders));
    }
    for (const std::string& problem : found.problems)
        std::fprintf(stderr, "kelvo-cache: %s\n", problem.c_str());

    ProgressPrinter printer(quiet);
    kelvo::CacheProgress result;
    try {
        result = kelvo::fillThumbnailCache(found.models, options, std::ref(printer));
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "kelvo-cache: cannot start workers: %s\n", error.what());
        return 1;
    }
    for (const kelvo::CacheFailure& failure : result.failed)
        std::fprintf(stderr, "kelvo-cache: %s: %s\n", failure.file.c_str(), failure.reason.c_str());
    if (!quiet) {
        const size_t waiting =
            options.dryRun ? result.total - result.valid - result.failedBefore : 0;
        std::fprintf(stderr,
                     "kelvo-cache: %zu model files, %zu thumbnails: %zu made, %zu already valid, "
                     "%zu failed, %zu failed in earlier runs%s in %.1f s; cache %s\n",
                     found.models.size(), result.total, result.made, result.valid,
                     result.failed.size(), result.failedBefore,
                     options.dryRun ? (", " + std::to_string(waiting) + " to make").c_str() : "",
                     printer.elapsed(), options.cacheDirectory.c_str());
    }
    const bool failed =
        !result.failed.empty() || result.failedBefore > 0 || !found.problems.empty();
    return failed ? 1 : 0;
}

// kelvo-thumbnailer: the freedesktop thumbnailer command. A thin shell: the command line,
// messages and exit statuses; the work is makeThumbnail().
#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "extensions/KelvoThumbnail/Confinement.h"
#include "extensions/KelvoThumbnail/Thumbnailer.h"
#include "extensions/Shared/CommandLine.h"
#include "extensions/Shared/ErrorReport.h"

namespace {

constexpr const char* program = "kelvo-thumbnailer";

constexpr const char* usageHead =
    "Usage: kelvo-thumbnailer [OPTION]... -s SIZE INPUT OUTPUT\n"
    "Render a thumbnail of the 3D model file INPUT and write it to OUTPUT as a PNG.\n"
    "\n"
    "INPUT is a path or a file:// URI (percent-escapes are decoded). The PNG has an\n"
    "alpha channel and is square: SIZE x SCALE pixels on each side, rounded down,\n"
    "never larger than asked. File managers run this command through\n"
    "share/thumbnailers/kelvo.thumbnailer as 'kelvo-thumbnailer -s %s %i %o'.\n"
    "\n"
    "The loader is chosen by INPUT's extension, in any letter case:\n";
// Here the list of formats goes.
constexpr const char* usage =
    "\n"
    "OUTPUT is written atomically: the image goes to a hidden temporary file in\n"
    "OUTPUT's directory and is renamed to OUTPUT when complete. On failure nothing\n"
    "is written at OUTPUT.\n"
    "\n"
    "Options:\n"
    "  -s, --size SIZE          the thumbnail's longest edge in points (1 to 4096)\n"
    "      --scale S            pixels per point (default 1); SIZE x S is at most 4096\n"
    "      --time-limit SECS    give up after SECS seconds of wall-clock time\n"
    "                           (default 20; 0 means no limit)\n"
    "      --memory-limit MIB   fail cleanly instead of taking more than MIB mebibytes\n"
    "                           of memory (default 2048; 0 means no limit)\n"
    "      --max-triangles N    draw at most N triangles (default 50000000; 0 means\n"
    "                           no limit); larger models are thinned evenly, and\n"
    "                           their smallest parts left out, rather than refused;\n"
    "                           STL, OBJ and PLY files of over 2000000 triangles\n"
    "                           (by their header or their size) are drawn whole\n"
    "                           straight from the file\n"
    "      --no-sandbox         do not confine the child process that reads the model\n"
    "                           (for debugging; see below)\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "Nothing is read from the home directory, /etc or a display, so the command\n"
    "works inside the sandbox GNOME runs thumbnailers in.\n"
    "\n"
    "The model is read and drawn in a child process that is killed when the time\n"
    "limit is up and may crash without harm; this process writes OUTPUT. Unless\n"
    "--no-sandbox is given, the child can write no file, open no socket, start no\n"
    "program and read only the model's folder, /usr and the program's resources\n"
    "(the last where the kernel has Landlock). If this kernel has no seccomp\n"
    "filters, the child runs unconfined.\n";
// Here the confinement line goes.
constexpr const char* usageTail =
    "\n"
    "Exit status:\n"
    "  0  the thumbnail was written to OUTPUT\n"
    "  1  no thumbnail could be made; standard error says why in one line:\n"
    "       kelvo-thumbnailer: INPUT: DOMAIN CODE: MESSAGE\n"
    "     DOMAIN is SceneLoader (the file was refused by its loader), POSIX (the\n"
    "     operating system's error; CODE is errno), KelvoThumbnail (1 no triangles\n"
    "     to draw, 2 rendering failed, 3 time limit exceeded, 4 not a local file\n"
    "     URI, 5 reading or drawing the file crashed) or the domain of the library\n"
    "     that failed\n"
    "  2  the command line was wrong\n";

// A whole decimal number in [low, high], or nothing.
bool parseNumber(std::string_view text, double low, double high, double& value) {
    if (text.empty()) return false;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(copy.c_str(), &end);
    if (errno != 0 || end != copy.c_str() + copy.size() || !std::isfinite(parsed)) return false;
    if (parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    enum Long {
        scaleOption = 256,
        timeLimitOption,
        memoryLimitOption,
        maxTrianglesOption,
        noSandboxOption,
        testWorkerCrashOption,
        testWorkerHangOption,
    };
    static const option longOptions[] = {
        {"size", required_argument, nullptr, 's'},
        {"scale", required_argument, nullptr, scaleOption},
        {"time-limit", required_argument, nullptr, timeLimitOption},
        {"memory-limit", required_argument, nullptr, memoryLimitOption},
        {"max-triangles", required_argument, nullptr, maxTrianglesOption},
        {"no-sandbox", no_argument, nullptr, noSandboxOption},
        // For the tests alone, and so not in --help: the worker crashes or hangs once
        // confined, as one might on a hostile file.
        {"test-worker-crash", no_argument, nullptr, testWorkerCrashOption},
        {"test-worker-hang", no_argument, nullptr, testWorkerHangOption},
        kelvo::helpLongOption,
        kelvo::versionLongOption,
        kelvo::endOfLongOptions,
    };
    kelvo::ThumbnailerOptions options;
    bool haveSize = false;
    opterr = 0;  // the messages are ours
    for (int code; (code = getopt_long(argc, argv, ":s:h", longOptions, nullptr)) != -1;) {
        const std::string_view value = optarg ? optarg : "";
        double number = 0;
        // Help and version say what confinement this kernel allows.
        if (code == 'h' || code == kelvo::versionOption) {
            const std::string confinement =
                "confinement: " + kelvo::describeConfinement(kelvo::confinementSupport()) + "\n";
            if (code == 'h') {
                kelvo::printHelp(usageHead, usage + confinement + usageTail);
            } else {
                kelvo::printVersion(program);
                std::fputs(confinement.c_str(), stdout);
            }
            return 0;
        }
        if (std::optional<int> status =
                kelvo::statusOfSharedOption(code, program, usageHead, usage, argv)) {
            return *status;
        }
        switch (code) {
            case 's':
                if (!parseNumber(value, 1, 4096, number) || number != std::floor(number)) {
                    return kelvo::usageError(program, "SIZE must be a whole number from 1 to 4096");
                }
                options.size = static_cast<int>(number);
                haveSize = true;
                break;
            case scaleOption:
                if (!parseNumber(value, 0, 64, number) || number <= 0) {
                    return kelvo::usageError(program, "--scale must be a number greater than 0");
                }
                options.scale = number;
                break;
            case timeLimitOption:
                if (!parseNumber(value, 0, 86400, number)) {
                    return kelvo::usageError(
                        program, "--time-limit must be a number of seconds from 0 to 86400");
                }
                options.timeLimitSeconds = number;
                break;
            case memoryLimitOption:
                if (!parseNumber(value, 0, 1 << 30, number) || number != std::floor(number)) {
                    return kelvo::usageError(program,
                                             "--memory-limit must be a whole number of MiB");
                }
                options.memoryBudgetBytes = static_cast<std::uint64_t>(number) << 20;
                break;
            case maxTrianglesOption:
                if (!parseNumber(value, 0, 4e9, number) || number != std::floor(number)) {
                    return kelvo::usageError(program, "--max-triangles must be a whole number");
                }
                options.triangleBudget = static_cast<std::int64_t>(number);
                break;
            case noSandboxOption:
                options.confined = false;
                break;
            case testWorkerCrashOption:
                options.testFault = kelvo::WorkerFault::crash;
                break;
            case testWorkerHangOption:
                options.testFault = kelvo::WorkerFault::hang;
                break;
            default:
                return kelvo::usageError(program, kelvo::optionMistake(code, argv));
        }
    }
    if (!haveSize) return kelvo::usageError(program, "missing -s SIZE");
    if (argc - optind < 2) return kelvo::usageError(program, "missing INPUT and OUTPUT");
    if (argc - optind > 2) return kelvo::usageError(program, "too many arguments");
    const int pixels = kelvo::thumbnailPixelSize(options.size, options.scale);
    if (pixels < 1 || pixels > 4096) {
        return kelvo::usageError(program, "SIZE x SCALE must come to 1 to 4096 pixels");
    }
    options.input = argv[optind];
    options.output = argv[optind + 1];

    if (std::optional<kelvo::Error> error = kelvo::makeThumbnail(options)) {
        std::fputs(kelvo::errorLine(program, options.input, *error).c_str(), stderr);
        return 1;
    }
    return 0;
}

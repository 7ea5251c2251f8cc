// kelvo-preview: opens 3D model files in windows where the user turns them around with the
// mouse. A thin shell: argument parsing and the exit status; PreviewApplication does the rest.
#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "extensions/KelvoQuickLook/PreviewApplication.h"
#include "extensions/Shared/CommandLine.h"
#include "platform/Imaging/ImageDecoding.h"

namespace {

constexpr const char* usageHead =
    "Usage: kelvo-preview [OPTION]... FILE...\n"
    "Show 3D model files in windows, one window per file, and turn them around\n"
    "with the mouse.\n"
    "\n"
    "Each model is framed by a camera that looks down at it from the front right,\n"
    "lit by a key, a fill and an ambient light. The file's extension, in any letter\n"
    "case, decides how it is read:\n";
// Here the list of formats goes.
constexpr const char* usage =
    "\n"
    "Options:\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "      --screenshot=PNG   draw the first FILE once, write that frame (the 3D view\n"
    "                         alone, its background transparent) to the PNG file,\n"
    "                         and exit; for scripts and tests\n"
    "      --max-triangles=N  draw at most N triangles (default 20000000; 0 means no\n"
    "                         limit); a larger model is thinned evenly to N, its\n"
    "                         smallest parts left out first, and a note at the\n"
    "                         bottom of the window says from how many to how many\n"
    "      --timings          print on standard error when each file was loaded and\n"
    "                         when its first frame was drawn, in milliseconds since\n"
    "                         the start\n"
    "\n"
    "In the window:\n"
    "  drag                     orbit around the model\n"
    "  Shift+drag               pan (or middle-drag, two-finger touchpad scroll)\n"
    "  mouse wheel              zoom (or pinch, Ctrl+touchpad scroll)\n"
    "  double-click, R          back to the starting view\n"
    "  Escape, Space, Ctrl+W    close the window\n"
    "\n"
    "A file that cannot be shown gets a window with the reason, and the reason is\n"
    "printed on standard error as\n"
    "  kelvo-preview: FILE: DOMAIN CODE: MESSAGE\n"
    "\n"
    "Needs a graphical session (Wayland or X11) with OpenGL 3.3 or later.\n"
    "\n"
    "Exit status:\n"
    "  0  every file was shown (or the screenshot was written)\n"
    "  1  a file could not be shown, the screenshot could not be written, or there\n"
    "     is no display or no OpenGL 3.3\n"
    "  2  the command line was wrong\n";

// A whole decimal number of triangles, at most four billion (what a file can claim), or
// nothing.
std::optional<std::int64_t> triangleCount(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n > 4'000'000'000) return std::nullopt;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr std::string_view program = "kelvo-preview";
    enum Long { screenshotOption = 256, timingsOption, maxTrianglesOption };
    static const option longOptions[] = {
        {"screenshot", required_argument, nullptr, screenshotOption},
        {"timings", no_argument, nullptr, timingsOption},
        {"max-triangles", required_argument, nullptr, maxTrianglesOption},
        kelvo::helpLongOption,
        kelvo::versionLongOption,
        kelvo::endOfLongOptions,
    };
    kelvo::PreviewOptions options;
    opterr = 0;  // the messages are ours
    for (int code; (code = getopt_long(argc, argv, ":h", longOptions, nullptr)) != -1;) {
        if (std::optional<int> status =
                kelvo::statusOfSharedOption(code, program, usageHead, usage, argv)) {
            return *status;
        }
        switch (code) {
            case screenshotOption:
                if (*optarg == '\0')
                    return kelvo::usageError(program, "--screenshot needs a file name");
                options.screenshot = std::string(optarg);
                break;
            case timingsOption:
                options.timings = true;
                break;
            case maxTrianglesOption:
                if (std::optional<std::int64_t> n = triangleCount(optarg)) {
                    options.triangleLimit = *n;
                } else {
                    return kelvo::usageError(
                        program, "--max-triangles must be a whole number from 0 to 4000000000");
                }
                break;
            default:
                return kelvo::usageError(program, kelvo::optionMistake(code, argv));
        }
    }
    for (int i = optind; i < argc; ++i)
        options.files.emplace_back(argv[i]);
    if (options.files.empty()) return kelvo::usageError(program, "missing FILE");
    if (options.screenshot && options.files.size() != 1) {
        return kelvo::usageError(program, "--screenshot takes exactly one FILE");
    }
    // The view can be zoomed in close: textures keep up to this much detail.
    kelvo::setMaximumTextureSide(kelvo::previewTextureSide);
    return kelvo::runPreview(options);
}

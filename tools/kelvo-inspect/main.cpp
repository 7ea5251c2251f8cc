// kelvo-inspect: loads a model file the way the thumbnailer and the previewer do and prints
// the scene it produced as JSON, or renders it to a PNG the way the thumbnailer does. A thin
// shell: argument parsing, output, exit codes.
#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "extensions/Shared/CommandLine.h"
#include "extensions/Shared/ErrorReport.h"
#include "extensions/Shared/HostError.h"
#include "extensions/Shared/SceneLoader.h"
#include "platform/Foundation/Error.h"
#include "platform/Imaging/ImageDecoding.h"
#include "platform/Imaging/PNG.h"
#include "platform/Renderer/Renderer.h"
#include "tools/kelvo-inspect/SceneJSON.h"

namespace {

constexpr const char* usageHead =
    "Usage: kelvo-inspect [OPTION]... FILE\n"
    "Load a 3D model file with Kelvo's loaders and print the scene as JSON, or\n"
    "render it to a PNG as the thumbnailer does.\n"
    "\n"
    "The loader is chosen by the file's extension, in any letter case:\n";
// Here the list of formats goes.
constexpr const char* usage =
    "Every other extension is refused.\n"
    "\n"
    "Options:\n"
    "      --render OUT.png  stage the scene, render it with the watermark and\n"
    "                        write a PNG with alpha to OUT.png instead of the JSON\n"
    "      --size W H        the size of the rendering in pixels, 1 to 8192 on\n"
    "                        each side (default 256 256)\n"
    "      --no-mark         render without the watermark\n"
    "  -h, --help            show this help and exit\n"
    "      --version         show the version and exit\n"
    "\n"
    "Output (one JSON object on standard output):\n"
    "  file         the FILE argument\n"
    "  totals       nodes, geometryNodes, vertices, triangles and points in the\n"
    "               scene\n"
    "  boundingBox  {min, max} of all geometry in scene units (y up), or null\n"
    "  background   the scene's background contents, or null\n"
    "  root         the root node; every node has name, position, eulerAngles\n"
    "               (radians), transform (16 numbers, row by row, row-vector\n"
    "               convention), geometry (vertices, triangles, points, sources,\n"
    "               materials with their texture references), camera, light\n"
    "               and children; a texture reference gives its path, whether it\n"
    "               was found and decoded, and its decoded width and height, at\n"
    "               most 2048 (with --render, what a thumbnail of that size uses)\n"
    "\n"
    "Exit status:\n"
    "  0  the scene was printed or the PNG written\n"
    "  1  the file could not be loaded, rendered or written; standard output stays\n"
    "     empty and standard error says why: kelvo-inspect: FILE: DOMAIN CODE: MESSAGE; a\n"
    "     broken 3MF package gives the ZIP reader's error, for example\n"
    "     kelvo-inspect: FILE: KelvoInspect.ZIPReader.ZIPError 2: invalidArchive\n"
    "  2  the command line was wrong\n";

// The name this tool gives the error types of the library that it hands on.
constexpr std::string_view deliverableName = "KelvoInspect";

int fail(const std::string& file, const kelvo::Error& error) {
    std::fputs(kelvo::errorLine("kelvo-inspect", file, error).c_str(), stderr);
    return 1;
}

// A whole decimal number from 1 to maxRenderSide, or 0 for anything else.
long parseSide(std::string_view text) {
    if (text.empty() || text.size() > 9) return 0;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr std::string_view program = "kelvo-inspect";
    enum Long { renderOption = 256, sizeOption, noMarkOption };
    static const option longOptions[] = {
        {"render", required_argument, nullptr, renderOption},
        {"size", required_argument, nullptr, sizeOption},  // and the height after it
        {"no-mark", no_argument, nullptr, noMarkOption},
        kelvo::helpLongOption,
        kelvo::versionLongOption,
        kelvo::endOfLongOptions,
    };
    std::string renderPath;
    long width = 256, height = 256;
    bool mark = true;
    opterr = 0;  // the messages are ours
    for (int code; (code = getopt_long(argc, argv, ":h", longOptions, nullptr)) != -1;) {
        if (code == ':' && optopt == sizeOption) {
            return kelvo::usageError(program, "--size needs a width and a height");
        }
        if (code == ':' && optopt == renderOption) {
            return kelvo::usageError(program, "--render needs an output file");
        }
        if (std::optional<int> status =
                kelvo::statusOfSharedOption(code, program, usageHead, usage, argv)) {
            return *status;
        }
        switch (code) {
            case noMarkOption:
                mark = false;
                break;
            case renderOption:
                renderPath = optarg;
                if (renderPath.empty())
                    return kelvo::usageError(program, "--render needs an output file");
                break;
            case sizeOption: {
                // --size W H: the height is the next argument, which getopt_long leaves alone.
                if (optind >= argc) {
                    return kelvo::usageError(program, "--size needs a width and a height");
                }
                const char* widthText = optarg;
                const char* heightText = argv[optind++];
                width = parseSide(widthText);
                height = parseSide(heightText);
                if (width == 0 || height == 0) {
                    return kelvo::usageError(program,
                                             "size '" + std::string(widthText) + " " + heightText +
                                                 "' is not two whole numbers of pixels from 1 up");
                }
                if (width > kelvo::maxRenderSide || height > kelvo::maxRenderSide) {
                    return kelvo::usageError(
                        program, "size " + std::to_string(width) + " x " + std::to_string(height) +
                                     " is too large: at most " +
                                     std::to_string(kelvo::maxRenderSide) + " pixels on a side");
                }
                break;
            }
            default:
                return kelvo::usageError(program, kelvo::optionMistake(code, argv));
        }
    }
    if (optind >= argc) return kelvo::usageError(program, "missing FILE");
    if (argc - optind > 1) return kelvo::usageError(program, "only one FILE may be given");
    const std::string file = argv[optind];

    try {
        kelvo::SceneLoader loader;
        // Textures are decoded while loading, at the size the rendering can use.
        if (!renderPath.empty())
            kelvo::setMaximumTextureSide(kelvo::textureSideForThumbnail(std::max(width, height)));
        std::shared_ptr<kelvo::Scene> scene = loader.load(file);
        if (!renderPath.empty()) {
            const kelvo::Size size{static_cast<double>(width), static_cast<double>(height)};
            std::optional<kelvo::RGBAImage> image =
                mark ? loader.renderToImage(*scene, size) : loader.renderFrame(*scene, size);
            if (!image) {
                return fail(file, kelvo::makeError(std::string(kelvo::genericErrorDomain), -1,
                                                   "the scene could not be rendered"));
            }
            kelvo::writePNG(*image, renderPath);
            return 0;
        }
        std::string json = kelvo::sceneToJSON(*scene, file);
        std::fwrite(json.data(), 1, json.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (...) {
        // As the hosts hand it on; a broken package is named by the ZIP reader's case and
        // payload.
        return fail(file, kelvo::hostError(std::current_exception(), deliverableName));
    }
}

// kelvo-inspect: loads a model file the way the thumbnailer and the previewer do and prints
// the scene it produced as JSON. A thin shell: argument parsing, output, exit codes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/ZIPReader.h"
#include "platform/Foundation/Error.h"
#include "tools/kelvo-inspect/SceneJSON.h"

namespace {

constexpr const char* usage =
    "Usage: kelvo-inspect [OPTION]... FILE\n"
    "Load a 3D model file with Kelvo's loaders and print the scene as JSON.\n"
    "\n"
    "The loader is chosen by the file's extension: .stl (binary and ASCII),\n"
    ".3mf (ZIP packages of 3MF model parts) and .vox (voxel models); .glb,\n"
    ".gltf, .obj, .ply, .fbx and the USD family as their loaders become\n"
    "available. Every other extension is refused.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Output (one JSON object on standard output):\n"
    "  file         the FILE argument\n"
    "  totals       nodes, geometryNodes, vertices and triangles in the scene\n"
    "  boundingBox  {min, max} of all geometry in scene units (y up), or null\n"
    "  background   the scene's background contents, or null\n"
    "  root         the root node; every node has name, position, eulerAngles\n"
    "               (radians), transform (16 numbers, row by row, row-vector\n"
    "               convention), geometry (vertices, triangles, sources,\n"
    "               materials), camera, light and children\n"
    "\n"
    "Exit status:\n"
    "  0  the scene was printed\n"
    "  1  the file could not be loaded; standard output stays empty and standard\n"
    "     error says why: kelvo-inspect: FILE: DOMAIN CODE: MESSAGE; a broken 3MF\n"
    "     package gives the ZIP reader's error, for example\n"
    "     kelvo-inspect: FILE: KelvoInspect.ZIPReader.ZIPError 2: invalidArchive\n"
    "  2  the command line was wrong\n";

int fail(const std::string& file, const std::string& domain, long code, const std::string& message) {
    std::fprintf(stderr, "kelvo-inspect: %s: %s %ld: %s\n", file.c_str(), domain.c_str(), code,
                 message.c_str());
    return 1;
}

int usageError(const char* message) {
    std::fprintf(stderr, "kelvo-inspect: %s\nTry 'kelvo-inspect --help' for more information.\n",
                 message);
    return 2;
}

// The name this tool goes by as a deliverable, in the domains of errors it hands on.
constexpr std::string_view deliverableName = "KelvoInspect";

}  // namespace

int main(int argc, char** argv) {
    std::string file;
    bool haveFile = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (!optionsEnded && arg == "--version") {
            std::printf("kelvo-inspect %s\n", KELVO_VERSION);
            return 0;
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usageError(("unknown option '" + std::string(arg) + "'").c_str());
        }
        if (haveFile) return usageError("only one FILE may be given");
        file = std::string(arg);
        haveFile = true;
    }
    if (!haveFile) return usageError("missing FILE");

    try {
        kelvo::SceneLoader loader;
        std::shared_ptr<kelvo::Scene> scene = loader.load(file);
        std::string json = kelvo::sceneToJSON(*scene, file);
        std::fwrite(json.data(), 1, json.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const kelvo::ZIPReader::ZIPError& zipError) {
        // Hosts see the platform error, whose description is only generic; the tool adds
        // the case and payload so a user learns what is wrong with the package.
        kelvo::Error error = kelvo::platformError(zipError, deliverableName);
        return fail(file, error.domain(), error.code(), zipError.what());
    } catch (const kelvo::Error& error) {
        return fail(file, error.domain(), error.code(), error.localizedDescription());
    } catch (const std::bad_alloc&) {
        return fail(file, "POSIX", ENOMEM, "Cannot allocate memory");
    } catch (const std::exception& error) {
        return fail(file, "Kelvo", -1, error.what());
    }
}

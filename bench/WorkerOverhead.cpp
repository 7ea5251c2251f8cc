// One thumbnail per process, made the way kelvo-thumbnailer makes it (in its confined worker)
// or drawn in the process itself, so that bench/worker-overhead.py can time both as whole
// processes: the difference is all the worker costs, fork and confinement included.
//
//   worker-overhead worker|in-process MODEL OUTPUT.png
#include <cstdio>
#include <cstring>

#include "extensions/KelvoThumbnail/AtomicFile.h"
#include "extensions/KelvoThumbnail/ProcessLimits.h"
#include "extensions/KelvoThumbnail/Thumbnailer.h"
#include "extensions/Shared/ErrorReport.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: worker-overhead worker|in-process MODEL OUTPUT.png\n");
        return 2;
    }
    kelvo::ThumbnailerOptions options;
    options.input = argv[2];
    options.output = argv[3];
    if (std::strcmp(argv[1], "worker") == 0) {
        std::optional<kelvo::Error> error = kelvo::makeThumbnail(options);
        if (error) std::fprintf(stderr, "%s\n", kelvo::errorSummary(*error).c_str());
        return error ? 1 : 0;
    }
    kelvo::limitMemory(options.memoryBudgetBytes);
    auto made = kelvo::makeThumbnailPNG(options);
    if (const kelvo::Error* error = std::get_if<kelvo::Error>(&made)) {
        std::fprintf(stderr, "%s\n", kelvo::errorSummary(*error).c_str());
        return 1;
    }
    const auto& png = std::get<std::vector<std::uint8_t>>(made);
    kelvo::writeFileAtomically(options.output, kelvo::ByteSpan(png.data(), png.size()));
    return 0;
}

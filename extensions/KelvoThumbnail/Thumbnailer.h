// kelvo-thumbnailer's work: one ThumbnailProvider request, drawn into a bitmap context in a
// confined child process (ThumbnailWorker.h) and written as a PNG, with the limits a
// thumbnailer must set on itself.
//
// The executable only parses its command line, calls makeThumbnail(), and turns the outcome
// into a message and an exit status.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "extensions/KelvoThumbnail/ThumbnailerError.h"
#include "platform/Foundation/Error.h"

namespace kelvo {

// Test-only: what the worker does instead of its work, once confined.
enum class WorkerFault { none, crash, hang };

struct ThumbnailerOptions {
    std::string input;             // a path or a file: URI, as given
    std::filesystem::path output;  // where the PNG goes
    int size = 256;                // the longest edge in points; the thumbnail is square
    double scale = 1;              // pixels per point
    double timeLimitSeconds = 20;  // 0: none
    std::uint64_t memoryBudgetBytes = std::uint64_t{2048} << 20;  // 0: none
    // Loaded scenes that would draw more triangles are thinned (SceneBudget.h); 0: none. A
    // scene that fits the memory budget holds far fewer, so this only bounds the drawing of
    // instanced geometry.
    std::int64_t triangleBudget = 50'000'000;
    // Files past this many triangles that can be drawn from the file are, whole and in
    // bounded memory (SceneLoader::openStreamed); 0: none is.
    std::int64_t streamingThreshold = 2'000'000;
    bool confined = true;  // false: the worker runs without Landlock or the system-call filter
    WorkerFault testFault = WorkerFault::none;
};

// The pixel size of each side of the thumbnail: floor(size x scale), never more than asked.
int thumbnailPixelSize(int size, double scale);

// Loads the model at `path` and draws the thumbnail in this process, unconfined: its PNG
// bytes, or the error. Nothing is written; options.input, output, time limit and confinement
// are not used. Failures of allocation under a memory budget (which the caller sets, see
// ProcessLimits.h) say that the budget was exceeded. The confined worker's work.
std::variant<std::vector<std::uint8_t>, Error> drawThumbnailPNG(const std::filesystem::path& path,
                                                                const ThumbnailerOptions& options);

// The same for options.input, a path or a file: URI.
std::variant<std::vector<std::uint8_t>, Error> makeThumbnailPNG(const ThumbnailerOptions& options);

// Opens options.input, has a worker load it and draw the thumbnail within the time and memory
// limits, and writes the PNG to options.output atomically. Nothing on success; otherwise the
// error, and nothing was written at options.output. Failures of allocation under a memory
// budget say that the budget was exceeded; a worker that crashed gives KelvoThumbnail 5, one
// that ran out of time KelvoThumbnail 3. Call before anything has used the dispatch queues.
std::optional<Error> makeThumbnail(const ThumbnailerOptions& options);

}  // namespace kelvo

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
    std::int64_t triangleBudget = 2'000'000;                      // 0: none (SceneBudget.h)
    bool confined = true;  // false: the worker runs without Landlock or the system-call filter
    WorkerFault testFault = WorkerFault::none;
};

// The thumbnailer's own failures, in the domain "KelvoThumbnail".
inline constexpr std::string_view thumbnailerErrorDomain = "KelvoThumbnail";
enum ThumbnailerErrorCode : long {
    nothingToDraw = 1,      // the file loaded but holds no triangle or point
    renderFailed = 2,       // the drawing block drew nothing
    timeLimitExceeded = 3,  // the wall-clock limit ran out
    notALocalFile = 4,      // INPUT is a URI that does not name a local file
    crashed = 5,            // the worker reading or drawing the file crashed or was killed
};

// An error in the domain above.
Error thumbnailerError(ThumbnailerErrorCode code, std::string message);

// The pixel size of each side of the thumbnail: floor(size x scale), never more than asked.
int thumbnailPixelSize(int size, double scale);

// Opens options.input, has a worker load it and draw the thumbnail within the time and memory
// limits, and writes the PNG to options.output atomically. Nothing on success; otherwise the
// error, and nothing was written at options.output. Failures of allocation under a memory
// budget say that the budget was exceeded; a worker that crashed gives KelvoThumbnail 5, one
// that ran out of time KelvoThumbnail 3. Call before anything has used the dispatch queues.
std::optional<Error> makeThumbnail(const ThumbnailerOptions& options);

}  // namespace kelvo

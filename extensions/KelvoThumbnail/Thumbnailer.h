// kelvo-thumbnailer's work: one ThumbnailProvider request, drawn into a bitmap context and
// written as a PNG, with the limits a thumbnailer must set on itself.
//
// The executable only parses its command line, calls applyProcessLimits() and
// makeThumbnail(), and turns the outcome into a message and an exit status.
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

struct ThumbnailerOptions {
    std::string input;             // a path or a file: URI, as given
    std::filesystem::path output;  // where the PNG goes
    int size = 256;                // the longest edge in points; the thumbnail is square
    double scale = 1;              // pixels per point
    double timeLimitSeconds = 20;  // 0: none
    std::uint64_t memoryBudgetBytes = std::uint64_t{2048} << 20;  // 0: none
    std::int64_t triangleBudget = 2'000'000;                      // 0: none (SceneBudget.h)
};


// The pixel size of each side of the thumbnail: floor(size x scale), never more than asked.
int thumbnailPixelSize(int size, double scale);

// Sets the memory budget and arms the wall-clock limit of `options`. On expiry the process
// prints "PROGRAM: INPUT: KelvoThumbnail 3: ..." and exits with status 1; a crash, in a
// library that reads the file say, prints "PROGRAM: INPUT: KelvoThumbnail 5: ..." and exits
// with status 1 as well. Once per process.
void applyProcessLimits(const ThumbnailerOptions& options, std::string_view program);

// Loads options.input and draws the thumbnail: its PNG bytes, or the error; nothing is
// written and options.output is not used. Failures of allocation under a memory budget say
// that the budget was exceeded.
std::variant<std::vector<std::uint8_t>, Error> makeThumbnailPNG(const ThumbnailerOptions& options);

// Loads options.input, draws the thumbnail and writes it to options.output atomically.
// Nothing on success; otherwise the error, and nothing was written at options.output.
// Failures of allocation under a memory budget say that the budget was exceeded.
std::optional<Error> makeThumbnail(const ThumbnailerOptions& options);

}  // namespace kelvo

// The thumbnailer's own failures, in the domain "KelvoThumbnail".
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Foundation/Error.h"

namespace kelvo {

inline constexpr std::string_view thumbnailerErrorDomain = "KelvoThumbnail";
enum ThumbnailerErrorCode : long {
    nothingToDraw = 1,      // the file holds no triangle or point, or none can be seen
    renderFailed = 2,       // the drawing block drew nothing
    timeLimitExceeded = 3,  // the wall-clock limit ran out
    notALocalFile = 4,      // INPUT is a URI that does not name a local file
    crashed = 5,            // the worker reading or drawing the file crashed or was killed
};

inline Error thumbnailerError(ThumbnailerErrorCode code, std::string message) {
    return makeError(std::string(thumbnailerErrorDomain), code, std::move(message));
}

// The two failures a worker's parent sees for itself.
inline Error workerCrashedError() {
    return thumbnailerError(crashed, "Reading or drawing the file crashed");
}
inline Error timeLimitError(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return thumbnailerError(timeLimitExceeded, "Time limit of " + std::string(text) + " s exceeded");
}

}  // namespace kelvo

// The previewer application: one window per model file, each driven by its own
// PreviewViewController. Unlike the controller it tells the user when a file cannot be
// shown: the message goes into the file's window and to standard error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "extensions/KelvoQuickLook/PreviewViewController.h"

namespace kelvo {

// The desktop's name for the previewer: its desktop entry and icon are called this.
inline constexpr const char* previewApplicationID = "app.kelvo.Preview";

struct PreviewOptions {
    std::vector<std::filesystem::path> files;
    // Renders the first file's first frame, writes it to this PNG file and exits.
    std::optional<std::filesystem::path> screenshot;
    // Prints to standard error when each file is shown and drawn.
    bool timings = false;
    // Models of more triangles are drawn thinned to this many (0: no limit).
    std::int64_t triangleLimit = previewTriangleLimit;
};

// Runs the previewer until its last window closes (or the screenshot is written) and returns
// the exit status: 0 when every file was shown, 1 when any could not be, when there is no
// display, or when OpenGL 3.3 is not available. Every failure is reported on standard error
// as "kelvo-preview: FILE: DOMAIN CODE: MESSAGE" (or without FILE and code, for the display).
int runPreview(const PreviewOptions& options);

}  // namespace kelvo

// What a thumbnail host asks for and what it gets back.
//
// A request names a file and the largest thumbnail the host will show, in points, with the
// number of pixels per point it draws at. A reply promises a drawing of exactly that size:
// the host makes a bitmap graphics context of the reply's context size at its scale, makes
// it current and calls the drawing block, which draws into GraphicsContext::current() and
// says whether it drew.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include "platform/Imaging/RGBAImage.h"
#include "platform/Imaging/Size.h"

namespace kelvo {

struct ThumbnailRequest {
    std::filesystem::path fileURL;  // a local file path
    Size maximumSize;               // points
    double scale = 1;               // pixels per point
};

struct ThumbnailReply {
    Size contextSize;  // points
    // Draws into the current graphics context; false when nothing was drawn. May throw a
    // kelvo::Error that says why nothing can be drawn. May be called more than once and from
    // any thread, one call at a time.
    std::function<bool()> drawingBlock;
};

// Runs the reply's drawing block the way a host does: into a new transparent context of the
// reply's context size at `scale` pixels per point, current on this thread for the call.
// The bitmap when the block drew, nothing when it returned false or the size is empty.
std::optional<RGBAImage> drawThumbnailReply(const ThumbnailReply& reply, double scale);

}  // namespace kelvo

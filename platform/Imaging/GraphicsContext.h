// A bitmap graphics context: what a drawing block draws into. It measures in points with the
// origin at the bottom-left corner and y growing upwards; its bitmap has `scale` pixels per
// point, so a context of 128 x 128 points at scale 2 is backed by a 256 x 256 RGBAImage.
//
// Code that draws finds its target through current(), a per-thread slot that
// CurrentGraphicsContext fills for a scope, so a drawing block needs no parameters and
// returns false when it is called with no context at all.
//
// Thread safety: a context belongs to the thread that draws into it; the current-context
// slot is per thread.
#pragma once

#include <utility>

#include "platform/Imaging/RGBAImage.h"
#include "platform/Imaging/Rect.h"
#include "platform/Imaging/Size.h"

namespace kelvo {

class GraphicsContext {
public:
    // A transparent context of `size` points at `scale` pixels per point; the bitmap has
    // floor(size x scale) pixels on each axis, so it is never larger than asked. Sizes
    // that are not finite or not positive give an empty bitmap.
    GraphicsContext(Size size, double scale);

    Size size() const { return size_; }
    double scale() const { return scale_; }
    const RGBAImage& bitmap() const { return bitmap_; }
    RGBAImage takeBitmap() { return std::move(bitmap_); }

    // Draws `image` stretched (not tiled) to fill `rect` (in points, origin at its bottom-left
    // corner), upright, composited over what is there (source-over, straight alpha) as
    // Compositing.h's drawImage does. An image of exactly the rectangle's pixel size, on
    // pixel boundaries, is copied unchanged.
    void drawImage(const RGBAImage& image, Rect rect);

    // The context current on this thread, or null.
    static GraphicsContext* current();

private:
    Size size_;
    double scale_;
    RGBAImage bitmap_;
    bool blank_ = true;  // nothing drawn yet: every pixel is transparent
};

// Makes a context current on this thread for the lifetime of the object, then restores the
// one that was current before (contexts nest).
class CurrentGraphicsContext {
public:
    explicit CurrentGraphicsContext(GraphicsContext* context);
    ~CurrentGraphicsContext();
    CurrentGraphicsContext(const CurrentGraphicsContext&) = delete;
    CurrentGraphicsContext& operator=(const CurrentGraphicsContext&) = delete;

private:
    GraphicsContext* previous_;
};

}  // namespace kelvo

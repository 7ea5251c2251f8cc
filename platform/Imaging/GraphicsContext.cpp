#include "platform/Imaging/GraphicsContext.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/Imaging/Compositing.h"

namespace kelvo {

namespace {

thread_local GraphicsContext* currentContext = nullptr;

// The bitmaps this library draws stay far below this; it keeps int pixel arithmetic safe.
constexpr double maxPixelsPerAxis = 32768;

int pixelExtent(double points, double scale) {
    double pixels = std::floor(points * scale);
    if (!(pixels >= 1)) return 0;  // also catches NaN
    return static_cast<int>(std::min(pixels, maxPixelsPerAxis));
}

}  // namespace

GraphicsContext::GraphicsContext(Size size, double scale)
    : size_(size),
      scale_(scale),
      bitmap_(pixelExtent(size.width, scale), pixelExtent(size.height, scale)) {
    if (bitmap_.width == 0 || bitmap_.height == 0) bitmap_ = RGBAImage();
}

void GraphicsContext::drawImage(const RGBAImage& image, Rect rect) {
    if (image.width <= 0 || image.height <= 0 || bitmap_.width == 0) return;
    if (!(rect.width > 0 && rect.height > 0)) return;
    // The rectangle in pixels, with y flipped: bitmap rows run top to bottom.
    const double left = rect.x * scale_;
    const double right = (rect.x + rect.width) * scale_;
    const double top = (size_.height - rect.y - rect.height) * scale_;
    const double bottom = (size_.height - rect.y) * scale_;
    // Pixels whose centre lies inside the rectangle.
    const int x0 = std::max(0, static_cast<int>(std::ceil(left - 0.5)));
    const int x1 = std::min(bitmap_.width, static_cast<int>(std::ceil(right - 0.5)));
    const int y0 = std::max(0, static_cast<int>(std::ceil(top - 0.5)));
    const int y1 = std::min(bitmap_.height, static_cast<int>(std::ceil(bottom - 0.5)));
    // The usual case: an image of exactly the context's pixels onto a context nothing was
    // drawn on yet. Source-over onto transparent pixels is a copy, so copy whole rows.
    if (blank_ && left == x0 && top == y0 && right - left == image.width &&
        bottom - top == image.height && x1 - x0 == image.width && y1 - y0 == image.height) {
        for (int y = 0; y < image.height; ++y) {
            std::copy_n(image.pixel(0, y), static_cast<size_t>(image.width) * 4,
                        bitmap_.pixel(x0, y0 + y));
        }
        blank_ = false;
        return;
    }
    blank_ = false;
    kelvo::drawImage(bitmap_, image, Rect{left, top, right - left, bottom - top});
}

GraphicsContext* GraphicsContext::current() {
    return currentContext;
}

CurrentGraphicsContext::CurrentGraphicsContext(GraphicsContext* context)
    : previous_(currentContext) {
    currentContext = context;
}

CurrentGraphicsContext::~CurrentGraphicsContext() {
    currentContext = previous_;
}

}  // namespace kelvo

// The brand mark in the top-left corner of every thumbnail: the icon, then the maker's web
// address in white with a soft shadow. Icon and font are looked up and loaded on every
// call; either may be missing, and the mark is then drawn without it.
#include "extensions/Shared/Staging/Watermark.h"

#include <cmath>
#include <new>

#include "extensions/Shared/Brand.h"
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/Staging/RenderSize.h"
#include "platform/Foundation/Error.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Resources.h"
#include "platform/Imaging/Compositing.h"
#include "platform/Imaging/PNG.h"
#include "platform/Imaging/Text.h"
#include "platform/Renderer/Renderer.h"

namespace kelvo {

namespace {

// The icon is a small file; anything claiming more pixels than this is not it.
constexpr std::uint64_t maxIconPixels = 1024 * 1024;

std::optional<RGBAImage> loadIcon() {
    std::optional<std::filesystem::path> path = findResource(watermarkIconResource);
    if (!path) return std::nullopt;
    try {
        ByteBuffer bytes = readFileContents(*path);
        return decodePNG(ByteSpan(bytes.data(), bytes.size()), maxIconPixels);
    } catch (const Error&) {
        return std::nullopt;  // unreadable: drawn without the icon
    }
}

}  // namespace

void stampBrandMark(RGBAImage& canvas, Size size, const RGBAImage* icon,
                    const std::filesystem::path* fontFile) {
    const WatermarkLayout layout = watermarkLayout(size, icon != nullptr);
    if (icon) drawImage(canvas, *icon, toRaster(layout.iconRect, size.height));
    if (!fontFile) return;
    std::optional<CoverageMask> text = renderTextLine(*fontFile, brandText, layout.fontSize,
                                                      layout.textX, size.height - layout.textY);
    if (!text) return;
    CoverageMask cast = *text;
    for (float& v : cast.values)
        v *= brandTextAlpha;
    // A blur radius r is taken as a Gaussian of standard deviation r / 2.
    CoverageMask shadow = blurMask(cast, brandShadowBlurRadius / 2);
    const float black[3] = {0, 0, 0}, white[3] = {1, 1, 1};
    fillMask(canvas, shadow, black, brandShadowAlpha, 0, brandShadowOffsetDown);
    fillMask(canvas, *text, white, brandTextAlpha);
}

std::optional<RGBAImage> SceneLoader::drawWatermark(const RGBAImage& on, Size size) const {
    // The size is in pixels; the same limits as rendering keep a bad size from allocating.
    const std::optional<PixelSize> pixels = renderPixelSize(size);
    if (!pixels) return std::nullopt;
    const auto [width, height] = *pixels;
    try {
        // A copy of a frame of the right size, without clearing it first.
        const bool sameSize = on.width == width && on.height == height &&
                              on.pixels.size() == static_cast<size_t>(width) * height * 4;
        RGBAImage canvas = sameSize ? on : RGBAImage(width, height);
        if (!sameSize && on.pixels.size() == static_cast<size_t>(on.width) * on.height * 4) {
            drawImage(canvas, on, Rect{0, 0, size.width, size.height});
        }
        std::optional<RGBAImage> icon = loadIcon();
        std::optional<std::filesystem::path> font = findMediumSansFont();
        stampBrandMark(canvas, size, icon ? &*icon : nullptr, font ? &*font : nullptr);
        return canvas;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace kelvo

// One line of text rasterised with FreeType, for the watermark.
//
// The font is a file found by path: the thumbnailer runs in a sandbox that sees /usr but
// has no /etc/fonts, so fontconfig cannot be relied on there. findMediumSansFont() tries
// known files of Debian font packages with a medium weight (fonts-roboto-unhinted first,
// the one Kelvo depends on), then asks fontconfig where it is configured, then falls back
// to a regular-weight sans from fonts-dejavu-core. Each call looks again.
//
// Layout is simple on purpose: code points in order with their advances and the font's
// kerning, no shaping, one line. Glyphs are placed at fractional positions (the outline is
// moved before it is rendered), with light hinting of vertical positions only.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/Imaging/Compositing.h"

namespace kelvo {

std::optional<std::filesystem::path> findMediumSansFont();

// Rasterises `text` (UTF-8; an invalid byte stands for itself) in the font file at
// `fontFile`, `pixelSize` pixels to the em, as a coverage mask in raster space (y down).
// The text's line box (ascender plus descender of the font) has its lower-left corner at
// (x, lineBottom): the baseline lies the descender above lineBottom, as when text is drawn
// at a point in a y-up drawing space. Nothing when the font cannot be loaded or the size
// is not a positive number of at most 4096.
std::optional<CoverageMask> renderTextLine(const std::filesystem::path& fontFile,
                                           std::string_view text, double pixelSize, double x,
                                           double lineBottom);

}  // namespace kelvo

// The brand mark that both hosts show: the thumbnailer stamps it into every thumbnail, the
// previewer shows it as an overlay. One place, so the two never disagree.
#pragma once

#include <string_view>

namespace kelvo {

// The maker's web address, the text of the mark.
inline constexpr std::string_view brandText = "kelvo.app";

// The icon of the mark, a square PNG with transparency, found with findResource()
// (platform/Foundation/Resources.h) and made by tools/make-watermark-icon.
inline constexpr std::string_view watermarkIconResource = "watermark-icon.png";

}  // namespace kelvo

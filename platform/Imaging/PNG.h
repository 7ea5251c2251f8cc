// PNG files of RGBA images, 8 bits per channel with straight alpha.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/Imaging/RGBAImage.h"

namespace kelvo {

// The PNG encoding of `image`; empty when the image has no pixels or memory runs out.
std::vector<std::uint8_t> encodePNG(const RGBAImage& image);

// Decodes a PNG (any colour type libpng can convert) into RGBA; nothing when the bytes are
// not a PNG or describe more than `maxPixels` pixels.
std::optional<RGBAImage> decodePNG(ByteSpan bytes, std::uint64_t maxPixels = 64u << 20);

// Writes `image` as a PNG at `path`. Throws the operating system's error (domain "POSIX")
// when the file cannot be written.
void writePNG(const RGBAImage& image, const std::filesystem::path& path);

}  // namespace kelvo

// Decoding the images that materials sample: PNG, JPEG, WebP and TGA, into straight-alpha
// 8-bit RGBA, never larger than the render can use.
//
// Size. A thumbnail of 256 pixels cannot show more of a texture than about twice its own
// side, so the host sets one process-wide limit for the longer side of a decoded texture
// before it loads (setMaximumTextureSide) and every image is decoded at most that large:
// JPEG and WebP by their decoders' own scaled decoding (far cheaper than decoding in full),
// PNG rows by averaging them as they stream out of the decoder, TGA after decoding. Shrinking
// averages the source area under each pixel, colours weighted by their alpha, so that the
// colour of transparent texels does not bleed into their neighbours.
//
// Hostile input. The size an image declares is checked before anything is allocated for it:
// at most maxImagePixels declared, and at most maxImageSide each way; a format that must
// decode at full size (TGA, interlaced PNG) at most maxFullSizePixels. Truncated or corrupt
// data, unsupported features (CMYK or 12-bit JPEG, animated WebP, 16-bit colour-mapped TGA
// and the like) and bytes that are no image give nothing, never a partial image. Colour
// profiles and gamma chunks are ignored, as model formats ask: the bytes are taken as stored.
//
// Thread safety: every function may be called from several threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/Imaging/RGBAImage.h"

namespace kelvo {

enum class ImageFormat { unknown, png, jpeg, webp, tga, ktx2 };

inline constexpr std::uint64_t maxImagePixels = std::uint64_t{1} << 28;     // 16384 x 16384
inline constexpr std::uint64_t maxFullSizePixels = std::uint64_t{1} << 26;  // 8192 x 8192
inline constexpr std::uint32_t maxImageSide = 65535;

// The format of `bytes`, by their leading signature. TGA has none: it is recognised by its
// 2.0 footer, or when the MIME type or the path's extension says TGA and the header is
// plausible. KTX2 is recognised, but there is no decoder for it.
ImageFormat imageFormatOf(ByteSpan bytes, std::string_view mimeType = {},
                          std::string_view path = {});

// Decodes `bytes` as `format`, shrunk (aspect kept) so that neither side exceeds
// `maxSide` (at least 1). Nothing when the bytes are not a complete image of that format
// within the limits above.
std::optional<RGBAImage> decodeImage(ByteSpan bytes, ImageFormat format, int maxSide);

// Shrinks `image` to `width` x `height` (each at most the image's own, at least 1) by area
// averaging, colours weighted by alpha; a copy when it has that size already.
RGBAImage shrinkImage(const RGBAImage& image, int width, int height);

// `level0` followed by each further level at half the previous size (rounded down, at least
// 1) down to 1 x 1.
std::vector<RGBAImage> makeMipChain(RGBAImage level0);

// The process-wide limit for the longer side of a decoded texture; 2048 until set. Values
// are clamped to 1..16384.
void setMaximumTextureSide(int side);
int maximumTextureSide();
// The limit a thumbnail of `pixels` pixels asks for: the smallest power of two at least
// twice its side, at most 2048.
int textureSideForThumbnail(int pixels);
// The limit of the interactive preview.
inline constexpr int previewTextureSide = 4096;

}  // namespace kelvo

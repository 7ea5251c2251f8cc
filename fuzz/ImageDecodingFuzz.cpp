// Any byte string is a texture image to the decoders: PNG, JPEG, WebP by their signatures,
// TGA otherwise (as if the file were named so). A decoder returns nothing or an image within
// the size asked for, never crashes, hangs or allocates past its limits; the mip chain of
// what it returns ends at one pixel.
#include <cstddef>
#include <cstdint>

#include "platform/Imaging/ImageDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kelvo::ByteSpan bytes(data, size);
    // Odd lengths shrink, even ones decode at full size: both paths of every decoder.
    const int maxSide = size % 2 ? 16 : 4096;
    std::optional<kelvo::RGBAImage> image =
        kelvo::decodeImage(bytes, kelvo::imageFormatOf(bytes, "", "fuzz.tga"), maxSide);
    if (!image) return 0;
    if (image->width < 1 || image->height < 1 || image->width > maxSide ||
        image->height > maxSide ||
        image->pixels.size() != static_cast<size_t>(image->width) * image->height * 4) {
        __builtin_trap();
    }
    std::vector<kelvo::RGBAImage> levels = kelvo::makeMipChain(std::move(*image));
    if (levels.back().width != 1 || levels.back().height != 1) __builtin_trap();
    return 0;
}

// JPEG textures through TurboJPEG. When the image is at least twice as large as needed it is
// decoded at 1/2, 1/4 or 1/8 of its size, which the decoder does in the frequency domain for
// a fraction of the cost of a full decode; what remains is shrunk by area averaging.
#include <turbojpeg.h>

#include <cstring>

#include "platform/Imaging/ImageDecoders.h"

namespace kelvo::imaging {

namespace {

struct Handle {
    tjhandle handle = tjInitDecompress();
    ~Handle() {
        if (handle) tjDestroy(handle);
    }
};

// Warnings let a decode finish; most are harmless (stray bytes between markers), but data
// that ends early leaves grey blocks where the image was cut: such an image is refused.
bool acceptableWarning(tjhandle handle) {
    const char* message = tjGetErrorStr2(handle);
    return message && !strcasestr(message, "premature end");
}

}  // namespace

std::optional<RGBAImage> decodeJPEGImage(ByteSpan bytes, int maxSide) {
    if (bytes.size() < 3 || bytes.size() > 0xFFFFFFFFu) return std::nullopt;
    Handle decoder;
    if (!decoder.handle) return std::nullopt;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(decoder.handle, bytes.data(), static_cast<unsigned long>(bytes.size()),
                            &width, &height, &subsampling, &colorspace) != 0) {
        return std::nullopt;
    }
    // CMYK data would need a conversion TurboJPEG does not do.
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) return std::nullopt;
    if (!acceptableSize(std::uint64_t(width), std::uint64_t(height))) return std::nullopt;

    // The strongest reduction that still leaves the longer side at least maxSide.
    const int longer = std::max(width, height);
    tjscalingfactor chosen{1, 1};
    for (int denominator : {2, 4, 8}) {
        const tjscalingfactor factor{1, denominator};
        if (TJSCALED(longer, factor) >= maxSide) chosen = factor;
    }
    const int scaledWidth = TJSCALED(width, chosen), scaledHeight = TJSCALED(height, chosen);
    if (std::uint64_t(scaledWidth) * std::uint64_t(scaledHeight) > maxFullSizePixels) {
        return std::nullopt;
    }
    RGBAImage image(scaledWidth, scaledHeight);
    // Progressive files may hold any number of scans; a file of thousands is an attack on the
    // decoder's time, and the limit refuses it.
    if (tjDecompress2(decoder.handle, bytes.data(), static_cast<unsigned long>(bytes.size()),
                      image.pixels.data(), scaledWidth, 0, scaledHeight, TJPF_RGBA,
                      TJFLAG_LIMITSCANS) != 0) {
        if (tjGetErrorCode(decoder.handle) != TJERR_WARNING || !acceptableWarning(decoder.handle))
            return std::nullopt;
    }
    return shrinkToFit(std::move(image), maxSide);
}

}  // namespace kelvo::imaging

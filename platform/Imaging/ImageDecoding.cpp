#include "platform/Imaging/ImageDecoding.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/Foundation/Text.h"
#include "platform/Imaging/ImageDecoders.h"

namespace kelvo {

namespace {

bool startsWith(ByteSpan bytes, const char* signature, size_t length, size_t at = 0) {
    return bytes.size() >= at + length && std::memcmp(bytes.data() + at, signature, length) == 0;
}

bool endsWithTGAFooter(ByteSpan bytes) {
    static constexpr char footer[] = "TRUEVISION-XFILE.";  // with its NUL: 18 bytes
    return bytes.size() >= 26 &&
           std::memcmp(bytes.data() + bytes.size() - sizeof footer, footer, sizeof footer) == 0;
}

bool namedTGA(std::string_view mimeType, std::string_view path) {
    for (std::string_view tga : {"image/tga", "image/x-tga", "image/x-targa"})
        if (equalsIgnoringASCIICase(mimeType, tga)) return true;
    return endsWithIgnoringASCIICase(path, ".tga");
}

}  // namespace

ImageFormat imageFormatOf(ByteSpan bytes, std::string_view mimeType, std::string_view path) {
    if (startsWith(bytes, "\x89PNG\r\n\x1a\n", 8)) return ImageFormat::png;
    if (startsWith(bytes, "\xFF\xD8\xFF", 3)) return ImageFormat::jpeg;
    if (startsWith(bytes, "RIFF", 4) && startsWith(bytes, "WEBP", 4, 8)) return ImageFormat::webp;
    if (startsWith(bytes, "\xABKTX 20\xBB\r\n\x1A\n", 12)) return ImageFormat::ktx2;
    if ((endsWithTGAFooter(bytes) || namedTGA(mimeType, path)) &&
        imaging::plausibleTGAHeader(bytes)) {
        return ImageFormat::tga;
    }
    return ImageFormat::unknown;
}

std::optional<RGBAImage> decodeImage(ByteSpan bytes, ImageFormat format, int maxSide) {
    maxSide = std::max(maxSide, 1);
    try {
        switch (format) {
            case ImageFormat::png:
                return imaging::decodePNGImage(bytes, maxSide);
            case ImageFormat::jpeg:
                return imaging::decodeJPEGImage(bytes, maxSide);
            case ImageFormat::webp:
                return imaging::decodeWebPImage(bytes, maxSide);
            case ImageFormat::tga:
                return imaging::decodeTGAImage(bytes, maxSide);
            case ImageFormat::ktx2:
            case ImageFormat::unknown:
                return std::nullopt;
        }
    } catch (const std::bad_alloc&) {
        // A texture that does not fit in memory is a texture left out, not a failed load.
    }
    return std::nullopt;
}

}  // namespace kelvo

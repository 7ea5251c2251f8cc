// TGA textures (USDZ packages carry them): true-colour (15, 16, 24 and 32 bits), grey (8 bits,
// or 16 with alpha) and colour-mapped (8-bit indices into a map of 15 to 32-bit entries),
// each plain or run-length encoded; rows bottom-up or top-down, either direction across.
//
// Written here rather than taken from a library: of Debian's TGA readers, stb_image's has an
// open report of reading uninitialised memory, gdk-pixbuf's sits among the loaders its authors
// turned off as unsafe for untrusted files, and the rest (FreeImage, DevIL, SDL_image) would
// bring large libraries into the sandboxed thumbnailer for one small format.
#include <cstring>

#include "platform/Imaging/ImageDecoders.h"

namespace kelvo::imaging {

namespace {

constexpr size_t headerSize = 18;

struct TGAHeader {
    int idLength, colorMapType, imageType;
    int mapFirst, mapLength, mapEntryBits;
    int width, height, pixelBits, descriptor;

    bool runLength() const { return imageType >= 9; }
    int kind() const { return imageType & 7; }  // 1 colour-mapped, 2 true-colour, 3 grey
    int alphaBits() const { return descriptor & 15; }
};

int u16(const std::uint8_t* p) {
    return p[0] | p[1] << 8;
}

TGAHeader readHeader(const std::uint8_t* p) {
    return {p[0], p[1], p[2], u16(p + 3), u16(p + 5), p[7], u16(p + 12), u16(p + 14), p[16], p[17]};
}

bool validHeader(const TGAHeader& h) {
    if (h.colorMapType > 1 || h.width == 0 || h.height == 0) return false;
    const bool trueColorBits =
        h.pixelBits == 15 || h.pixelBits == 16 || h.pixelBits == 24 || h.pixelBits == 32;
    switch (h.imageType) {
        case 1:
        case 9:
            return h.colorMapType == 1 && h.pixelBits == 8 && h.mapLength > 0 &&
                   (h.mapEntryBits == 15 || h.mapEntryBits == 16 || h.mapEntryBits == 24 ||
                    h.mapEntryBits == 32);
        case 2:
        case 10:
            return trueColorBits;
        case 3:
        case 11:
            return h.pixelBits == 8 || h.pixelBits == 16;
        default:
            return false;
    }
}

// One stored colour (true-colour pixel or colour-map entry) of `bits` bits to RGBA.
void expandColor(const std::uint8_t* p, int bits, bool useAlpha, std::uint8_t out[4]) {
    if (bits <= 16) {
        const int v = u16(p);
        auto five = [](int c) { return static_cast<std::uint8_t>(c << 3 | c >> 2); };
        out[0] = five(v >> 10 & 31);
        out[1] = five(v >> 5 & 31);
        out[2] = five(v & 31);
        out[3] = useAlpha && bits == 16 ? (v & 0x8000 ? 255 : 0) : 255;
        return;
    }
    out[0] = p[2];
    out[1] = p[1];
    out[2] = p[0];
    out[3] = bits == 32 ? p[3] : 255;
}

}  // namespace

bool plausibleTGAHeader(ByteSpan bytes) {
    return bytes.size() >= headerSize && validHeader(readHeader(bytes.data()));
}

std::optional<RGBAImage> decodeTGAImage(ByteSpan bytes, int maxSide) {
    if (!plausibleTGAHeader(bytes)) return std::nullopt;
    const TGAHeader h = readHeader(bytes.data());
    if (std::uint64_t(h.width) * std::uint64_t(h.height) > maxFullSizePixels) return std::nullopt;
    const std::uint8_t* p = bytes.data() + headerSize;
    const std::uint8_t* const end = bytes.data() + bytes.size();
    auto remaining = [&] { return static_cast<size_t>(end - p); };

    if (remaining() < size_t(h.idLength)) return std::nullopt;
    p += h.idLength;
    // A colour map comes before the pixels whenever one is declared, used or not.
    const int entryBytes = (h.mapEntryBits + 7) / 8;
    const size_t mapBytes = h.colorMapType ? size_t(h.mapLength) * entryBytes : 0;
    if (remaining() < mapBytes) return std::nullopt;
    // 32-bit pixels carry alpha however the descriptor counts it; 16-bit ones only when it
    // says the top bit is alpha.
    const bool pixelAlpha = h.alphaBits() > 0;
    std::vector<std::uint8_t> palette;
    if (h.kind() == 1) {
        palette.resize(size_t(h.mapLength) * 4);
        for (int i = 0; i < h.mapLength; ++i)
            expandColor(p + size_t(i) * entryBytes, h.mapEntryBits, pixelAlpha,
                        &palette[size_t(i) * 4]);
    }
    p += mapBytes;

    const int pixelBytes = (h.pixelBits + 7) / 8;
    auto decodePixel = [&](const std::uint8_t* in, std::uint8_t out[4]) {
        switch (h.kind()) {
            case 1: {
                const int index = in[0] - h.mapFirst;
                if (index < 0 || index >= h.mapLength) return false;
                std::memcpy(out, &palette[size_t(index) * 4], 4);
                return true;
            }
            case 2:
                expandColor(in, h.pixelBits, pixelAlpha, out);
                return true;
            default:
                out[0] = out[1] = out[2] = in[0];
                out[3] = h.pixelBits == 16 ? in[1] : 255;
                return true;
        }
    };

    // Pixels in the order stored, then placed by the descriptor's direction bits.
    const size_t count = size_t(h.width) * size_t(h.height);
    RGBAImage stored(h.width, h.height);
    std::uint8_t* out = stored.pixels.data();
    if (!h.runLength()) {
        if (remaining() / size_t(pixelBytes) < count) return std::nullopt;
        for (size_t i = 0; i < count; ++i, p += pixelBytes, out += 4) {
            if (!decodePixel(p, out)) return std::nullopt;
        }
    } else {
        // Packets may run on from one row into the next; only the total counts.
        size_t done = 0;
        while (done < count) {
            if (remaining() < 1) return std::nullopt;
            const int packet = *p++;
            const size_t length = std::min<size_t>(size_t(packet & 127) + 1, count - done);
            if (packet & 128) {
                if (remaining() < size_t(pixelBytes)) return std::nullopt;
                std::uint8_t pixel[4];
                if (!decodePixel(p, pixel)) return std::nullopt;
                p += pixelBytes;
                for (size_t i = 0; i < length; ++i, out += 4)
                    std::memcpy(out, pixel, 4);
            } else {
                if (remaining() / size_t(pixelBytes) < length) return std::nullopt;
                for (size_t i = 0; i < length; ++i, p += pixelBytes, out += 4) {
                    if (!decodePixel(p, out)) return std::nullopt;
                }
            }
            done += length;
        }
    }

    // Many writers leave the alpha of 32-bit images at zero throughout, meaning opaque.
    bool anyAlpha = false;
    for (size_t i = 3; i < stored.pixels.size() && !anyAlpha; i += 4)
        anyAlpha = stored.pixels[i] != 0;
    if (!anyAlpha) {
        for (size_t i = 3; i < stored.pixels.size(); i += 4)
            stored.pixels[i] = 255;
    }

    const bool rightToLeft = h.descriptor & 16, topDown = h.descriptor & 32;
    if (topDown && !rightToLeft) return shrinkToFit(std::move(stored), maxSide);
    RGBAImage image(h.width, h.height);
    for (int y = 0; y < h.height; ++y) {
        const std::uint8_t* row = stored.pixel(0, topDown ? y : h.height - 1 - y);
        std::uint8_t* target = image.pixel(0, y);
        if (!rightToLeft) {
            std::memcpy(target, row, size_t(h.width) * 4);
            continue;
        }
        for (int x = 0; x < h.width; ++x)
            std::memcpy(target + size_t(x) * 4, row + size_t(h.width - 1 - x) * 4, 4);
    }
    return shrinkToFit(std::move(image), maxSide);
}

}  // namespace kelvo::imaging

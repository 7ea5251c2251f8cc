// Inside image decoding: one decoder per format and the row-by-row shrinker they share.
// ImageDecoding.h is the public face; these are its parts.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Imaging/ImageDecoding.h"

namespace kelvo::imaging {

// The size that fits `width` x `height` inside maxSide x maxSide with the aspect kept
// (each side at least 1); the size itself when it fits already.
struct FittedSize {
    int width = 0, height = 0;
};
FittedSize fitInside(std::uint32_t width, std::uint32_t height, int maxSide);

// `image` itself when it fits inside maxSide x maxSide, else shrunk to fit.
RGBAImage shrinkToFit(RGBAImage image, int maxSide);

// True when a declared size may be decoded at all (both sides 1..maxImageSide, at most
// maxImagePixels).
bool acceptableSize(std::uint64_t width, std::uint64_t height);

// Shrinks a stream of source rows, top to bottom, to a smaller image: each target pixel is
// the mean of the source area under it (fractional at its borders), colours weighted by
// alpha (where the area is wholly transparent, plainly averaged). Two target rows are kept
// in flight; everything is allocated by the constructor, so addRow never allocates.
class RowShrinker {
public:
    // Requires 1 <= width <= sourceWidth and 1 <= height <= sourceHeight. An `opaque`
    // source (every alpha 255) takes a faster path that ignores alpha.
    RowShrinker(int sourceWidth, int sourceHeight, int width, int height, bool opaque);

    // The next source row: sourceWidth RGBA pixels.
    void addRow(const std::uint8_t* rgba);
    // The image, once every source row was added.
    RGBAImage finish();

private:
    struct Span {
        int first;     // the target index the source pixel starts in
        float weight;  // its share there; the rest (1 - weight) goes to first + 1
    };
    template <int sums>
    void addColumns(const std::uint8_t* rgba);
    void emitRow();

    int sourceWidth_, sourceHeight_, width_, height_;
    int sums_;  // per target pixel
    std::vector<Span> columns_, rows_;
    std::vector<float> horizontal_;  // the current source row shrunk
    std::vector<float> accumulator_[2];
    int sourceRow_ = 0, targetRow_ = 0;
    RGBAImage image_;
};

std::optional<RGBAImage> decodePNGImage(ByteSpan bytes, int maxSide);
std::optional<RGBAImage> decodeJPEGImage(ByteSpan bytes, int maxSide);
std::optional<RGBAImage> decodeWebPImage(ByteSpan bytes, int maxSide);
std::optional<RGBAImage> decodeTGAImage(ByteSpan bytes, int maxSide);
// A TGA header that a decoder could take: known image type, depth and size.
bool plausibleTGAHeader(ByteSpan bytes);

}  // namespace kelvo::imaging

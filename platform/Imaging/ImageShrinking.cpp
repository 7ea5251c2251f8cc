// Area-averaging shrink, row by row, and the mip chain built from it.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "platform/Imaging/ImageDecoders.h"

namespace kelvo {

namespace imaging {

namespace {

// Sums per target pixel: with alpha, colour times alpha (3), alpha, and plain colour (3) for
// areas that turn out wholly transparent; opaque, the colour alone.
constexpr int alphaSums = 7, opaqueSums = 3;

}  // namespace

RowShrinker::RowShrinker(int sourceWidth, int sourceHeight, int width, int height, bool opaque)
    : sourceWidth_(sourceWidth),
      sourceHeight_(sourceHeight),
      width_(width),
      height_(height),
      sums_(opaque ? opaqueSums : alphaSums),
      image_(width, height) {
    assert(width >= 1 && width <= sourceWidth && height >= 1 && height <= sourceHeight);
    // Source pixel s covers [s, s + 1) * target / source in target units: less than one
    // target pixel, so it falls into at most two. Integer arithmetic finds where.
    auto spans = [](int source, int target) {
        std::vector<Span> out(static_cast<size_t>(source));
        for (int s = 0; s < source; ++s) {
            const std::int64_t start = std::int64_t{s} * target, end = start + target;
            const std::int64_t first = start / source, boundary = (first + 1) * source;
            const float weight =
                end <= boundary ? 1.0f : static_cast<float>(boundary - start) / target;
            out[static_cast<size_t>(s)] = {static_cast<int>(first), weight};
        }
        return out;
    };
    columns_ = spans(sourceWidth, width);
    rows_ = spans(sourceHeight, height);
    horizontal_.assign(static_cast<size_t>(width) * sums_, 0);
    for (auto& row : accumulator_)
        row.assign(static_cast<size_t>(width) * sums_, 0);
}

template <int sums>
void RowShrinker::addColumns(const std::uint8_t* rgba) {
    float* h = horizontal_.data();
    for (int s = 0; s < sourceWidth_; ++s, rgba += 4) {
        const Span span = columns_[static_cast<size_t>(s)];
        float v[sums];
        if constexpr (sums == opaqueSums) {
            for (int k = 0; k < 3; ++k)
                v[k] = rgba[k];
        } else {
            const float a = rgba[3];
            for (int k = 0; k < 3; ++k)
                v[k] = rgba[k] * a, v[4 + k] = rgba[k];
            v[3] = a;
        }
        float* first = h + static_cast<size_t>(span.first) * sums;
        if (span.weight == 1.0f) {
            for (int k = 0; k < sums; ++k)
                first[k] += v[k];
        } else {
            const float rest = 1 - span.weight;
            for (int k = 0; k < sums; ++k) {
                first[k] += v[k] * span.weight;
                first[sums + k] += v[k] * rest;
            }
        }
    }
}

void RowShrinker::addRow(const std::uint8_t* rgba) {
    if (sourceRow_ >= sourceHeight_) return;
    std::fill(horizontal_.begin(), horizontal_.end(), 0.0f);
    if (sums_ == opaqueSums) {
        addColumns<opaqueSums>(rgba);
    } else {
        addColumns<alphaSums>(rgba);
    }
    const Span span = rows_[static_cast<size_t>(sourceRow_++)];
    while (targetRow_ < span.first)
        emitRow();
    auto add = [&](int row, float weight) {
        float* acc = accumulator_[row & 1].data();
        for (size_t i = 0; i < horizontal_.size(); ++i)
            acc[i] += horizontal_[i] * weight;
    };
    add(span.first, span.weight);
    if (span.weight < 1.0f) add(span.first + 1, 1 - span.weight);
}

void RowShrinker::emitRow() {
    if (targetRow_ >= height_) return;
    std::vector<float>& acc = accumulator_[targetRow_ & 1];
    const float area = (float(sourceWidth_) / width_) * (float(sourceHeight_) / height_);
    auto byte = [](float v) {
        return static_cast<std::uint8_t>(std::clamp(std::lrint(v), 0L, 255L));
    };
    std::uint8_t* out = image_.pixel(0, targetRow_);
    for (int x = 0; x < width_; ++x, out += 4) {
        const float* p = acc.data() + static_cast<size_t>(x) * sums_;
        if (sums_ == opaqueSums) {
            for (int k = 0; k < 3; ++k)
                out[k] = byte(p[k] / area);
            out[3] = 255;
            continue;
        }
        if (p[3] > 0) {
            for (int k = 0; k < 3; ++k)
                out[k] = byte(p[k] / p[3]);
        } else {
            for (int k = 0; k < 3; ++k)
                out[k] = byte(p[4 + k] / area);
        }
        out[3] = byte(p[3] / area);
    }
    std::fill(acc.begin(), acc.end(), 0.0f);
    ++targetRow_;
}

RGBAImage RowShrinker::finish() {
    while (targetRow_ < height_)
        emitRow();
    return std::move(image_);
}

FittedSize fitInside(std::uint32_t width, std::uint32_t height, int maxSide) {
    const std::uint32_t side = static_cast<std::uint32_t>(std::max(maxSide, 1));
    if (width <= side && height <= side) return {int(width), int(height)};
    const double scale = double(side) / std::max(width, height);
    auto scaled = [&](std::uint32_t v) {
        return static_cast<int>(std::clamp<double>(std::lround(v * scale), 1, side));
    };
    return {scaled(width), scaled(height)};
}

RGBAImage shrinkToFit(RGBAImage image, int maxSide) {
    const FittedSize size =
        fitInside(std::uint32_t(image.width), std::uint32_t(image.height), maxSide);
    if (size.width == image.width && size.height == image.height) return image;
    return shrinkImage(image, size.width, size.height);
}

bool acceptableSize(std::uint64_t width, std::uint64_t height) {
    return width >= 1 && height >= 1 && width <= maxImageSide && height <= maxImageSide &&
           width * height <= maxImagePixels;
}

}  // namespace imaging

namespace {

bool isOpaque(const RGBAImage& image) {
    for (size_t i = 3; i < image.pixels.size(); i += 4)
        if (image.pixels[i] != 255) return false;
    return true;
}

// The next mip level of an image whose sides are even (or 1): each pixel the alpha-weighted
// mean of the 2 x 2 (or 2 x 1) under it, in integers. The general shrink gives the same
// within rounding; this is several times faster, and mip chains of preview-sized textures
// are most of their decoding's cost.
RGBAImage halve(const RGBAImage& image) {
    const int width = std::max(1, image.width / 2), height = std::max(1, image.height / 2);
    const int dx = image.width > 1 ? 1 : 0, dy = image.height > 1 ? 1 : 0;
    RGBAImage out(width, height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row0 = image.pixel(0, 2 * y * dy);
        const std::uint8_t* row1 = row0 + (dy ? static_cast<size_t>(image.width) * 4 : 0);
        std::uint8_t* target = out.pixel(0, y);
        for (int x = 0; x < width; ++x, target += 4) {
            const std::uint8_t* p[4] = {row0 + 8 * x * dx, row0 + 8 * x * dx + 4 * dx,
                                        row1 + 8 * x * dx, row1 + 8 * x * dx + 4 * dx};
            std::uint32_t alpha = 0, weighted[3] = {0, 0, 0}, plain[3] = {0, 0, 0};
            for (int i = 0; i < 4; ++i) {
                alpha += p[i][3];
                for (int k = 0; k < 3; ++k) {
                    weighted[k] += std::uint32_t{p[i][k]} * p[i][3];
                    plain[k] += p[i][k];
                }
            }
            // Duplicated corners (a side of 1) count twice in every sum: the means hold.
            for (int k = 0; k < 3; ++k) {
                target[k] = static_cast<std::uint8_t>(alpha ? (weighted[k] + alpha / 2) / alpha
                                                            : (plain[k] + 2) / 4);
            }
            target[3] = static_cast<std::uint8_t>((alpha + 2) / 4);
        }
    }
    return out;
}

}  // namespace

RGBAImage shrinkImage(const RGBAImage& image, int width, int height) {
    if (width == image.width && height == image.height) return image;
    imaging::RowShrinker shrinker(image.width, image.height, width, height, isOpaque(image));
    for (int y = 0; y < image.height; ++y)
        shrinker.addRow(image.pixel(0, y));
    return shrinker.finish();
}

std::vector<RGBAImage> makeMipChain(RGBAImage level0) {
    std::vector<RGBAImage> levels;
    levels.push_back(std::move(level0));
    while (levels.back().width > 1 || levels.back().height > 1) {
        const RGBAImage& last = levels.back();
        const bool even =
            (last.width == 1 || last.width % 2 == 0) && (last.height == 1 || last.height % 2 == 0);
        RGBAImage next =
            even ? halve(last)
                 : shrinkImage(last, std::max(1, last.width / 2), std::max(1, last.height / 2));
        levels.push_back(std::move(next));
    }
    return levels;
}

}  // namespace kelvo

// Resampling is separable: a list of source taps per destination column and per
// destination row, applied one axis after the other on premultiplied values so that
// transparent pixels carry no colour into the average.
#include "platform/Imaging/Compositing.h"

#include <algorithm>
#include <cmath>

namespace kelvo {

namespace {

struct Tap {
    int source;
    float weight;
};

// Taps along one axis for the destination pixels that [start, start + length) touches.
// Weights of a pixel add up to the share of it covered, so fractional edges fade.
struct AxisFilter {
    int first = 0;           // first destination pixel
    std::vector<int> begin;  // pixel i - first has taps [begin[i], begin[i + 1])
    std::vector<Tap> taps;

    int count() const { return static_cast<int>(begin.size()) - 1; }
};

AxisFilter axisFilter(double start, double length, int sourceSize, int destinationSize) {
    AxisFilter f;
    double end = start + length;
    int first = static_cast<int>(std::max(0.0, std::floor(start)));
    int last = static_cast<int>(std::min<double>(destinationSize, std::ceil(end)));
    f.first = first;
    f.begin.push_back(0);
    const double scale = sourceSize / length;  // source pixels per destination pixel
    auto clampSource = [&](double k) {
        return static_cast<int>(std::clamp(k, 0.0, static_cast<double>(sourceSize - 1)));
    };
    for (int i = first; i < last; ++i) {
        double a = std::max<double>(i, start), b = std::min<double>(i + 1, end);
        double coverage = b - a;
        if (coverage > 0) {
            double ua = (a - start) * scale, ub = (b - start) * scale;
            if (scale > 1) {
                // Shrinking: the average of the source under the pixel (a box filter).
                double span = ub - ua;
                for (double k = std::floor(ua); k < ub; ++k) {
                    double overlap = std::min(ub, k + 1) - std::max(ua, k);
                    if (overlap > 0) {
                        f.taps.push_back(
                            {clampSource(k), static_cast<float>(overlap / span * coverage)});
                    }
                }
            } else {
                // Enlarging: bilinear between the two nearest source centres.
                double u = (ua + ub) * 0.5 - 0.5;
                double k0 = std::floor(u), t = u - k0;
                f.taps.push_back({clampSource(k0), static_cast<float>((1 - t) * coverage)});
                f.taps.push_back({clampSource(k0 + 1), static_cast<float>(t * coverage)});
            }
        }
        f.begin.push_back(static_cast<int>(f.taps.size()));
    }
    return f;
}

// Source-over of a premultiplied sRGB colour (0..1) onto a straight-alpha pixel.
inline void blendOver(std::uint8_t* dst, float r, float g, float b, float a) {
    if (!(a > 0)) return;
    float da = dst[3] / 255.0f;
    float keep = da * (1 - a);
    float outA = a + keep;
    float src[3] = {r, g, b};
    for (int k = 0; k < 3; ++k) {
        float c = (src[k] + dst[k] / 255.0f * keep) / outA;
        dst[k] = static_cast<std::uint8_t>(std::lround(std::clamp(c, 0.0f, 1.0f) * 255));
    }
    dst[3] = static_cast<std::uint8_t>(std::lround(std::clamp(outA, 0.0f, 1.0f) * 255));
}

}  // namespace

void drawImage(RGBAImage& canvas, const RGBAImage& image, const Rect& rect) {
    if (image.width <= 0 || image.height <= 0 || canvas.width <= 0 || canvas.height <= 0) return;
    if (!(rect.width > 0 && rect.height > 0) || !std::isfinite(rect.x) || !std::isfinite(rect.y) ||
        !std::isfinite(rect.width) || !std::isfinite(rect.height)) {
        return;
    }
    const AxisFilter columns = axisFilter(rect.x, rect.width, image.width, canvas.width);
    const AxisFilter rows = axisFilter(rect.y, rect.height, image.height, canvas.height);
    const int w = columns.count();
    if (w <= 0 || rows.count() <= 0) return;

    // Horizontal pass over every source row, premultiplied.
    std::vector<float> across(static_cast<size_t>(image.height) * w * 4, 0.0f);
    for (int sy = 0; sy < image.height; ++sy) {
        float* out = &across[static_cast<size_t>(sy) * w * 4];
        for (int i = 0; i < w; ++i, out += 4) {
            for (int t = columns.begin[i]; t < columns.begin[i + 1]; ++t) {
                const std::uint8_t* p = image.pixel(columns.taps[t].source, sy);
                float a = p[3] / 255.0f * columns.taps[t].weight;
                out[0] += p[0] / 255.0f * a;
                out[1] += p[1] / 255.0f * a;
                out[2] += p[2] / 255.0f * a;
                out[3] += a;
            }
        }
    }
    // Vertical pass, straight onto the canvas.
    for (int j = 0; j < rows.count(); ++j) {
        std::uint8_t* dst = canvas.pixel(columns.first, rows.first + j);
        for (int i = 0; i < w; ++i, dst += 4) {
            float acc[4] = {0, 0, 0, 0};
            for (int t = rows.begin[j]; t < rows.begin[j + 1]; ++t) {
                const float* src = &across[(static_cast<size_t>(rows.taps[t].source) * w + i) * 4];
                for (int k = 0; k < 4; ++k)
                    acc[k] += src[k] * rows.taps[t].weight;
            }
            blendOver(dst, acc[0], acc[1], acc[2], std::min(acc[3], 1.0f));
        }
    }
}

void fillMask(RGBAImage& canvas, const CoverageMask& mask, const float rgb[3], float alpha, int dx,
              int dy) {
    for (int y = 0; y < mask.height; ++y) {
        int cy = mask.top + dy + y;
        if (cy < 0 || cy >= canvas.height) continue;
        for (int x = 0; x < mask.width; ++x) {
            int cx = mask.left + dx + x;
            if (cx < 0 || cx >= canvas.width) continue;
            float a = alpha * std::clamp(mask.at(x, y), 0.0f, 1.0f);
            blendOver(canvas.pixel(cx, cy), rgb[0] * a, rgb[1] * a, rgb[2] * a, a);
        }
    }
}

CoverageMask blurMask(const CoverageMask& mask, double sigma) {
    if (!(sigma > 0) || mask.width <= 0 || mask.height <= 0) return mask;
    const int radius = static_cast<int>(std::ceil(3 * std::min(sigma, 64.0)));
    std::vector<float> kernel(2 * radius + 1);
    float sum = 0;
    for (int i = -radius; i <= radius; ++i) {
        kernel[i + radius] = static_cast<float>(std::exp(-(i * i) / (2 * sigma * sigma)));
        sum += kernel[i + radius];
    }
    for (float& k : kernel)
        k /= sum;

    CoverageMask wide(mask.left - radius, mask.top, mask.width + 2 * radius, mask.height);
    for (int y = 0; y < mask.height; ++y) {
        for (int x = 0; x < mask.width; ++x) {
            float v = mask.at(x, y);
            if (v == 0) continue;
            for (int i = 0; i <= 2 * radius; ++i)
                wide.at(x + i, y) += v * kernel[i];
        }
    }
    CoverageMask out(wide.left, mask.top - radius, wide.width, mask.height + 2 * radius);
    for (int y = 0; y < wide.height; ++y) {
        for (int x = 0; x < wide.width; ++x) {
            float v = wide.at(x, y);
            if (v == 0) continue;
            for (int i = 0; i <= 2 * radius; ++i)
                out.at(x, y + i) += v * kernel[i];
        }
    }
    return out;
}

}  // namespace kelvo

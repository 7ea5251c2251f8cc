// Blended surfaces, after the opaque ones: each pixel's samples get a colour of their own
// (the opaque shade of the triangle that covers them, or the background), then every blended
// triangle, farthest first, is tested against the opaque depth without writing it, shaded
// once per pixel at the centre of the samples it covers, and composited over those samples.
// The pixel is the mean of its samples, as in the opaque resolve.
#include <algorithm>
#include <cmath>

#include "platform/Renderer/Frame.h"
#include "platform/Renderer/SRGBEncoding.h"
#include "platform/Renderer/ShaderInline.h"

namespace kelvo::render {

std::vector<std::uint32_t> sortBlendedTriangles(const FramePlan& plan) {
    struct Entry {
        float distance;
        std::uint32_t id;
    };
    std::vector<Entry> entries;
    for (const DrawCall& draw : plan.draws) {
        if (!draw.blended()) continue;
        for (std::int64_t t = 0; t < draw.primitiveCount; ++t) {
            Float3 sum;
            bool valid = true;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t i = draw.index(3 * t + k);
                if (i >= static_cast<std::uint64_t>(draw.positions.count)) valid = false;
                if (valid) sum = sum + draw.toView.apply(draw.positions[i] - draw.origin);
            }
            if (!valid) continue;
            // Along the view axis for parallel rays, from the eye for perspective ones.
            const float distance = plan.camera.orthographic ? -sum.z : std::sqrt(dot(sum, sum));
            entries.push_back({std::isfinite(distance) ? distance : 0,
                               draw.firstId + static_cast<std::uint32_t>(t)});
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.distance > b.distance; });
    std::vector<std::uint32_t> order(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        order[i] = entries[i].id;
    return order;
}

void resolveBlendedBand(const FramePlan& plan, const std::vector<std::uint32_t>& order,
                        const VisibilityBuffer& buffer, SampleColors& colors, RGBAImage& image) {
    Shader shader(plan);
    const int width = buffer.width, rows = buffer.rowEnd - buffer.rowBegin;
    const size_t pixels = static_cast<size_t>(rows) * width;
    colors.resize(pixels * samplesPerPixel);
    const float* bg = plan.background;

    // The opaque surfaces, one shade per pixel and triangle, kept per sample.
    for (size_t pixel = 0; pixel < pixels; ++pixel) {
        const std::uint32_t* ids = buffer.ids.data() + pixel * samplesPerPixel;
        std::array<float, 4>* out = colors.data() + pixel * samplesPerPixel;
        const float x = float(pixel % width), y = float(buffer.rowBegin + pixel / width);
        for (int q = 0; q < samplesPerPixel; ++q) {
            if (ids[q] == noTriangle) {
                out[q] = {bg[0], bg[1], bg[2], bg[3]};
                continue;
            }
            bool shaded = false;
            for (int p = 0; p < q; ++p)
                shaded = shaded || ids[p] == ids[q];
            if (shaded) continue;
            int count = 0, sumX = 0, sumY = 0;
            for (int p = q; p < samplesPerPixel; ++p) {
                if (ids[p] != ids[q]) continue;
                ++count, sumX += sampleX[p], sumY += sampleY[p];
            }
            const Float3 c = shader
                                 .shade(ids[q], x + sumX / (float(count) * subpixelScale),
                                        y + sumY / (float(count) * subpixelScale))
                                 .color;
            for (int p = q; p < samplesPerPixel; ++p)
                if (ids[p] == ids[q]) out[p] = {c.x, c.y, c.z, 1};
        }
    }

    std::vector<std::uint8_t> masks(pixels, 0);
    std::vector<std::uint32_t> touched;
    for (std::uint32_t id : order) {
        touched.clear();
        rasterizeBlended(plan, id, buffer, masks, touched);
        for (std::uint32_t pixel : touched) {
            const int mask = masks[pixel];
            masks[pixel] = 0;
            int count = 0, sumX = 0, sumY = 0;
            for (int q = 0; q < samplesPerPixel; ++q) {
                if (!(mask & (1 << q))) continue;
                ++count, sumX += sampleX[q], sumY += sampleY[q];
            }
            const float x = float(pixel % width), y = float(buffer.rowBegin + pixel / width);
            const ShadedSample s = shader.shade(id, x + sumX / (float(count) * subpixelScale),
                                                y + sumY / (float(count) * subpixelScale));
            const float a = shading::clamp01(s.alpha), keep = 1 - a;
            std::array<float, 4>* out = colors.data() + size_t(pixel) * samplesPerPixel;
            for (int q = 0; q < samplesPerPixel; ++q) {
                if (!(mask & (1 << q))) continue;
                std::array<float, 4>& c = out[q];
                c = {s.color.x * a + c[0] * keep, s.color.y * a + c[1] * keep,
                     s.color.z * a + c[2] * keep, a + c[3] * keep};
            }
        }
    }

    for (size_t pixel = 0; pixel < pixels; ++pixel) {
        const std::array<float, 4>* in = colors.data() + pixel * samplesPerPixel;
        float sum[4] = {0, 0, 0, 0};
        for (int q = 0; q < samplesPerPixel; ++q)
            for (int k = 0; k < 4; ++k)
                sum[k] += in[q][k];
        std::uint8_t* out = image.pixel(int(pixel % width), buffer.rowBegin + int(pixel / width));
        const float alpha = sum[3] / samplesPerPixel;
        for (int k = 0; k < 3; ++k)
            out[k] = alpha > 0 ? encode(sum[k] / sum[3]) : 0;
        out[3] = static_cast<std::uint8_t>(std::lrint(shading::clamp01(alpha) * 255));
    }
}

}  // namespace kelvo::render

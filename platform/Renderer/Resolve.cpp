// Shading after visibility: each pixel is shaded once for every distinct triangle among its
// four samples, at the centre of the samples that triangle covers, and the results are
// weighted by how many samples each covers. Triangles of one pixel that would shade alike
// (see shadeAlike) share one shade: on a finely tessellated model most pixels hold several
// tiny triangles of one smooth surface, and shading each would multiply the work.
//
// Shader.h says how one triangle is shaded at one point.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/Renderer/Frame.h"
#include "platform/Renderer/SRGBEncoding.h"
#include "platform/Renderer/ShaderInline.h"

namespace kelvo::render {

namespace {

// What decides whether two triangles in one pixel would shade alike.
struct ShadingKey {
    const DrawCall* draw;
    Float3 faceNormal;
    bool colored;
    Float3 color;  // mean of the corners
};

ShadingKey keyOf(const TriangleSetup& tri) {
    Float3 mean =
        tri.colored ? (tri.colors[0] + tri.colors[1] + tri.colors[2]) * (1.0f / 3) : Float3{};
    return {tri.draw, tri.faceNormal, tri.colored, mean};
}

// Neighbouring triangles of one smooth surface: same draw (so same material and
// matrices), normals within about 8 degrees, the same colour. With no shadows in the
// model, their colours then differ by less than the normals do, so one shade serves the
// samples of both. A crease, a silhouette against another part, or a colour boundary
// keeps its own shade and stays antialiased.
bool shadeAlike(const ShadingKey& a, const ShadingKey& b) {
    constexpr float cosLimit = 0.99f;
    constexpr float colorLimit = 1.0f / 512;
    if (a.draw != b.draw || dot(a.faceNormal, b.faceNormal) < cosLimit) return false;
    if (a.colored != b.colored) return false;
    if (!a.colored) return true;
    Float3 d = a.color - b.color;
    return std::fabs(d.x) < colorLimit && std::fabs(d.y) < colorLimit &&
           std::fabs(d.z) < colorLimit;
}

// A run of pixels wholly covered by one triangle whose shade varies slowly across it (see
// shadesSlowly) is shaded at every spanStep-th pixel and at the middle between two of them;
// where the middle agrees with the straight line between its neighbours to within
// spanTolerance, the pixels between are taken from that line, else shaded one by one. The
// tolerance is a third of the smallest step of the 8-bit sRGB encoding (at black), so a
// pixel differs from its own shade by at most one step, and mostly not at all.
constexpr int spanStep = 8;
constexpr float spanTolerance = 1.0f / (3 * 12.92f * 255);

// Flat (a facet's normal everywhere), untextured, and not glossy enough for a highlight
// narrower than a span: its shade is a smooth function of the view direction and, with
// vertex colours, of the barycentric weights. Rougher than 0.25, the specular lobe spans
// tens of pixels at thumbnail sizes.
bool shadesSlowly(const TriangleSetup& tri) {
    if (tri.point || tri.smooth || tri.draw->material.textured()) return false;
    const shading::Surface& surface = tri.draw->surface;
    return surface.model != shading::SurfaceModel::physicallyBased || surface.roughness >= 0.25f;
}

void writeOpaque(std::uint8_t* out, Float3 c) {
    out[0] = encode(c.x);
    out[1] = encode(c.y);
    out[2] = encode(c.z);
    out[3] = 255;
}

bool nearLine(Float3 shaded, Float3 a, Float3 b, float t) {
    Float3 d = shaded - (a + (b - a) * t);
    return std::fabs(d.x) <= spanTolerance && std::fabs(d.y) <= spanTolerance &&
           std::fabs(d.z) <= spanTolerance;
}

// Pixels [x, end) of row y, wholly covered by triangle `id`; `row` is the row's first pixel.
// Written as resolveBand writes a wholly covered pixel: its shade, opaque.
void shadeSpan(Shader& shader, std::uint32_t id, int x, int end, int y, std::uint8_t* row) {
    const float sy = y + 0.5f;  // the centre of the four samples, as for any covered pixel
    auto shadeAt = [&](int px) { return shader.shade(id, px + 0.5f, sy).color; };
    Float3 left = shadeAt(x);
    writeOpaque(row + 4 * x, left);
    while (x + 1 < end) {
        const int right = std::min(x + spanStep, end - 1), n = right - x;
        const Float3 last = shadeAt(right);
        writeOpaque(row + 4 * right, last);
        if (n >= 2) {
            const int middle = x + n / 2;
            const Float3 mid = shadeAt(middle);
            writeOpaque(row + 4 * middle, mid);
            const bool linear = nearLine(mid, left, last, float(n / 2) / n);
            for (int px = x + 1; px < right; ++px) {
                if (px == middle) continue;
                writeOpaque(row + 4 * px,
                            linear ? left + (last - left) * (float(px - x) / n) : shadeAt(px));
            }
        }
        left = last;
        x = right;
    }
}

}  // namespace

void resolveBand(const FramePlan& plan, const VisibilityBuffer& buffer, RGBAImage& image) {
    Shader shader(plan);
    const float* bg = plan.background;
    // Only a mesh denser than the pixels scatters its triangles enough for the prefetching
    // to pay; on a coarse one it would only cost.
    std::int64_t triangles = 0;
    for (const DrawCall& draw : plan.draws)
        triangles += draw.primitiveCount;
    const bool prefetching = triangles > std::int64_t{plan.camera.width} * plan.camera.height;
    for (int y = buffer.rowBegin; y < buffer.rowEnd; ++y) {
        const std::uint32_t* rowIds = buffer.ids.data() + static_cast<size_t>(y - buffer.rowBegin) *
                                                              buffer.width * samplesPerPixel;
        std::uint8_t* out = image.pixel(0, y);
        for (int x = 0; x < buffer.width; ++x, out += 4) {
            const std::uint32_t* ids = rowIds + static_cast<size_t>(x) * samplesPerPixel;
            if (prefetching && x + Shader::fetchIndicesAhead < buffer.width) {
                const std::uint32_t* ahead = ids + Shader::fetchIndicesAhead * samplesPerPixel;
                for (int q = 0; q < samplesPerPixel; ++q)
                    shader.prefetchIndices(ahead[q]);
            }
            if (prefetching && x + Shader::fetchVerticesAhead < buffer.width) {
                const std::uint32_t* ahead = ids + Shader::fetchVerticesAhead * samplesPerPixel;
                for (int q = 0; q < samplesPerPixel; ++q)
                    shader.prefetchVertices(ahead[q]);
            }
            if ((ids[0] & ids[1] & ids[2] & ids[3]) == noTriangle) continue;  // background
            if (!prefetching && ids[0] == ids[1] && ids[0] == ids[2] && ids[0] == ids[3] &&
                shadesSlowly(shader.setup(ids[0]))) {
                int end = x + 1;
                for (const std::uint32_t* next = ids + samplesPerPixel; end < buffer.width;
                     ++end, next += samplesPerPixel) {
                    if (next[0] != ids[0] || next[1] != ids[0] || next[2] != ids[0] ||
                        next[3] != ids[0])
                        break;
                }
                shadeSpan(shader, ids[0], x, end, y, image.pixel(0, y));
                out += 4 * (end - 1 - x);
                x = end - 1;
                continue;
            }

            // The distinct triangles among the samples, with the samples each covers.
            std::uint32_t unique[samplesPerPixel];
            int count[samplesPerPixel] = {}, sumX[samplesPerPixel] = {}, sumY[samplesPerPixel] = {};
            int distinct = 0, covered = 0;
            for (int q = 0; q < samplesPerPixel; ++q) {
                if (ids[q] == noTriangle) continue;
                ++covered;
                int j = 0;
                while (j < distinct && unique[j] != ids[q])
                    ++j;
                if (j == distinct) unique[distinct++] = ids[q];
                ++count[j];
                sumX[j] += sampleX[q];
                sumY[j] += sampleY[q];
            }
            if (distinct > 1) {
                // Largest share first, so that a merged group is shaded on the triangle
                // that covers most of it.
                for (int j = 1; j < distinct; ++j) {
                    for (int k = j; k > 0 && count[k] > count[k - 1]; --k) {
                        std::swap(unique[k], unique[k - 1]);
                        std::swap(count[k], count[k - 1]);
                        std::swap(sumX[k], sumX[k - 1]);
                        std::swap(sumY[k], sumY[k - 1]);
                    }
                }
                ShadingKey keys[samplesPerPixel];
                for (int j = 0; j < distinct; ++j)
                    keys[j] = keyOf(shader.setup(unique[j]));
                for (int j = 1; j < distinct; ++j) {
                    for (int k = 0; k < j; ++k) {
                        if (count[k] == 0 || !shadeAlike(keys[k], keys[j])) continue;
                        count[k] += count[j];
                        sumX[k] += sumX[j];
                        sumY[k] += sumY[j];
                        count[j] = 0;
                        break;
                    }
                }
            }
            float premultiplied[3] = {0, 0, 0};
            for (int j = 0; j < distinct; ++j) {
                if (count[j] == 0) continue;
                float sx = x + sumX[j] / (float(count[j]) * subpixelScale);
                float sy = y + sumY[j] / (float(count[j]) * subpixelScale);
                Float3 c = shader.shade(unique[j], sx, sy).color;
                float weight = count[j] / float(samplesPerPixel);
                premultiplied[0] += c.x * weight;
                premultiplied[1] += c.y * weight;
                premultiplied[2] += c.z * weight;
            }
            float coverage = covered / float(samplesPerPixel);
            float rest = 1 - coverage;
            float alpha = coverage + rest * bg[3];
            for (int k = 0; k < 3; ++k)
                out[k] = encode((premultiplied[k] + rest * bg[k]) / alpha);
            out[3] = static_cast<std::uint8_t>(std::lrint(alpha * 255));
        }
    }
}

}  // namespace kelvo::render

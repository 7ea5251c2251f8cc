// Visibility: the vertex step and the triangle step of the rasteriser.
//
// The vertex step maps vertices to raster fixed point: all of a draw's at once when its
// triangles share them, otherwise each triangle's corners as they come. The triangle step
// culls and then takes one of three paths by size: below a pixel, a walk over the few rows
// of samples in its box; up to eight pixels, 32-bit edge values per pixel; larger, runs of
// samples solved per row. At a million triangles on a small image most triangles cover no
// sample at all, so everything before the first edge function is a few integer
// operations, and a triangle whose box holds no sample row or column leaves right there.
//
// What happens to a covered sample is the sink's business: the plain one tests and writes
// depth and id; the masked one also asks for the surface's alpha there; the blended one
// only tests, and collects the samples. Each is a template argument, so the plain path
// compiles to what it always was.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/Renderer/Clipping.h"
#include "platform/Renderer/Frame.h"
#include "platform/Renderer/ShaderInline.h"

namespace kelvo::render {

namespace {

// Floor and ceiling of n / 2^shift, for either sign of n (arithmetic shifts round down).
template <int shift>
inline std::int64_t floorShift(std::int64_t n) {
    return n >> shift;
}
template <int shift>
inline std::int64_t ceilShift(std::int64_t n) {
    return -((-n) >> shift);
}

// Floor and ceiling of n / d for d > 0, for either sign of n.
inline std::int64_t floorDiv(std::int64_t n, std::int64_t d) {
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}
inline std::int64_t ceilDiv(std::int64_t n, std::int64_t d) {
    return n >= 0 ? (n + d - 1) / d : -((-n) / d);
}

// Rounds to the nearest 1/256 pixel (ties to even). Adding and taking away 1.5 * 2^23
// leaves a float with no fraction bits: rounding in two additions instead of a call to
// lrint. Valid while |v * 256| < 2^22, which the guard band ensures.
inline std::int32_t toFixed(float v) {
    constexpr float magic = 12582912.0f;
    float rounded = (v * subpixelScale + magic) - magic;
    return static_cast<std::int32_t>(rounded);
}

// An edge function A (x - x0) + B (y - y0), positive inside; `bias` is -1 on edges that
// are neither top nor left, so that "E + bias >= 0" is the fill rule.
struct Edge {
    std::int64_t a = 0, b = 0, x0 = 0, y0 = 0, bias = 0;

    Edge() = default;
    Edge(const RasterVertex& p, const RasterVertex& q)
        : a(std::int64_t{p.y} - q.y), b(std::int64_t{q.x} - p.x), x0(p.x), y0(p.y) {
        // Interior positive: moving right goes inside for a left edge (a > 0); a horizontal
        // edge with the interior below it (y grows downwards) is a top edge.
        bool topLeft = a > 0 || (a == 0 && b > 0);
        bias = topLeft ? 0 : -1;
    }
    std::int64_t at(std::int64_t x, std::int64_t y) const {
        return a * (x - x0) + b * (y - y0) + bias;
    }
};

// Sinks: called for every sample a primitive covers, with its index in the band's buffers,
// the primitive's depth there, and its pixel and sample number.
struct WriteSink {
    float* depth;
    std::uint32_t* ids;
    std::uint32_t id = noTriangle;

    void operator()(size_t index, float z, std::int64_t, std::int64_t, int) const {
        if (z > depth[index]) {
            depth[index] = z;
            ids[index] = id;
        }
    }
};

// Alpha-masked surfaces: a sample in front is covered only where the surface's alpha there
// reaches the cutoff.
struct MaskSink {
    float* depth;
    std::uint32_t* ids;
    Shader* shader;
    float cutoff;
    std::uint32_t id = noTriangle;

    void operator()(size_t index, float z, std::int64_t px, std::int64_t py, int q) const {
        if (!(z > depth[index])) return;
        const float sx = float(px) + sampleX[q] * (1.0f / subpixelScale);
        const float sy = float(py) + sampleY[q] * (1.0f / subpixelScale);
        if (!(shader->alphaAt(id, sx, sy) >= cutoff)) return;
        depth[index] = z;
        ids[index] = id;
    }
};

// Blended surfaces: the samples in front of what is drawn, as a mask per pixel; depth is
// not written.
struct CollectSink {
    const float* depth;
    std::uint8_t* masks;
    std::vector<std::uint32_t>* touched;
    std::uint32_t id = noTriangle;

    void operator()(size_t index, float z, std::int64_t, std::int64_t, int q) const {
        if (!(z > depth[index])) return;
        const size_t pixel = index / samplesPerPixel;
        if (masks[pixel] == 0) touched->push_back(static_cast<std::uint32_t>(pixel));
        masks[pixel] |= static_cast<std::uint8_t>(1 << q);
    }
};

}  // namespace

void VisibilityBuffer::reset(int rows, int begin, int end, float clearDepth) {
    assert(end - begin <= rows);
    rowBegin = begin;
    rowEnd = end;
    size_t samples = static_cast<size_t>(rows) * width * samplesPerPixel;
    depth.resize(samples);
    ids.resize(samples);
    size_t used = static_cast<size_t>(end - begin) * width * samplesPerPixel;
    std::fill_n(depth.begin(), used, clearDepth);
    std::fill_n(ids.begin(), used, noTriangle);
}

namespace {

// A triangle's box in raster fixed point, and the rows of samples inside it.
struct SampleBox {
    std::int32_t minX, maxX, minY, maxY;
    std::int64_t rowFirst, rowLast;
};

// False when the box holds no sample of the band: then the triangle covers none. Sample
// rows lie at y = 32 + 64 r and sample columns at x = 32 + 64 s (1/256 pixel); most
// triangles of a dense mesh fall between them and leave here, before any edge function.
inline bool findSamples(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                        const VisibilityBuffer& buffer, SampleBox& box) {
    box.minX = std::min(a.x, std::min(b.x, c.x));
    box.maxX = std::max(a.x, std::max(b.x, c.x));
    box.minY = std::min(a.y, std::min(b.y, c.y));
    box.maxY = std::max(a.y, std::max(b.y, c.y));
    if (box.maxX < 0 || box.minX >= buffer.width * subpixelScale) return false;
    if (ceilShift<6>(std::int64_t{box.minX} - 32) > floorShift<6>(std::int64_t{box.maxX} - 32))
        return false;
    box.rowFirst = std::max<std::int64_t>(ceilShift<6>(std::int64_t{box.minY} - 32),
                                          std::int64_t{buffer.rowBegin} * samplesPerPixel);
    box.rowLast = std::min<std::int64_t>(floorShift<6>(std::int64_t{box.maxY} - 32),
                                         std::int64_t{buffer.rowEnd} * samplesPerPixel - 1);
    return box.rowFirst <= box.rowLast;
}

// Triangles whose box spans at most this many pixels each way take the small path. Within
// such a box, coordinates relative to its corner stay below 2^12 and every edge value
// fits in 32 bits.
constexpr std::int32_t smallBoxPixels = 8;

// The small path, for the many triangles of a dense mesh that touch a few pixels: per
// pixel of the box, the four samples' edge values are the pixel's plus fixed offsets, all
// in 32-bit integers.
template <class Sink>
void rasterizeSmall(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                    std::int64_t area, const SampleBox& box, const VisibilityBuffer& buffer,
                    const Sink& sink) {
    const std::int32_t pxFirst = std::max(box.minX >> subpixelBits, 0);
    const std::int32_t pxLast = std::min(box.maxX >> subpixelBits, buffer.width - 1);
    const std::int32_t pyFirst = std::max(box.minY >> subpixelBits, buffer.rowBegin);
    const std::int32_t pyLast = std::min(box.maxY >> subpixelBits, buffer.rowEnd - 1);
    const std::int32_t ox = pxFirst * subpixelScale, oy = pyFirst * subpixelScale;

    const RasterVertex* corners[3][2] = {{&b, &c}, {&c, &a}, {&a, &b}};
    std::int32_t stepX[3], stepY[3], rowStart[3], offset[3][samplesPerPixel];
    for (int i = 0; i < 3; ++i) {
        const Edge e(*corners[i][0], *corners[i][1]);
        stepX[i] = static_cast<std::int32_t>(e.a * subpixelScale);
        stepY[i] = static_cast<std::int32_t>(e.b * subpixelScale);
        rowStart[i] = static_cast<std::int32_t>(e.at(ox, oy));
        for (int q = 0; q < samplesPerPixel; ++q) {
            offset[i][q] = static_cast<std::int32_t>(e.a * sampleX[q] + e.b * sampleY[q]);
        }
    }
    bool depthReady = false;
    float zOrigin = 0, dzdx = 0, dzdy = 0;
    for (std::int32_t py = pyFirst; py <= pyLast; ++py) {
        std::int32_t w[3] = {rowStart[0], rowStart[1], rowStart[2]};
        for (std::int32_t px = pxFirst; px <= pxLast; ++px) {
            int inside = 0;
            for (int q = 0; q < samplesPerPixel; ++q) {
                inside |=
                    ((w[0] + offset[0][q]) | (w[1] + offset[1][q]) | (w[2] + offset[2][q])) >= 0
                        ? 1 << q
                        : 0;
            }
            if (inside) {
                if (!depthReady) {
                    const double dx1 = double(b.x) - a.x, dy1 = double(b.y) - a.y;
                    const double dx2 = double(c.x) - a.x, dy2 = double(c.y) - a.y;
                    const double dz1 = double(b.depth) - a.depth, dz2 = double(c.depth) - a.depth;
                    const double zx = (dz1 * dy2 - dz2 * dy1) / double(area);
                    const double zy = (dx1 * dz2 - dx2 * dz1) / double(area);
                    zOrigin = static_cast<float>(a.depth + zx * (ox - a.x) + zy * (oy - a.y));
                    dzdx = static_cast<float>(zx), dzdy = static_cast<float>(zy);
                    depthReady = true;
                }
                const size_t pixel =
                    (static_cast<size_t>(py - buffer.rowBegin) * buffer.width + px) *
                    samplesPerPixel;
                for (int q = 0; q < samplesPerPixel; ++q) {
                    if (!(inside & (1 << q))) continue;
                    float z = zOrigin +
                              dzdx * static_cast<float>(px * subpixelScale + sampleX[q] - ox) +
                              dzdy * static_cast<float>(py * subpixelScale + sampleY[q] - oy);
                    sink(pixel + q, z, px, py, q);
                }
            }
            for (int i = 0; i < 3; ++i)
                w[i] += stepX[i];
        }
        for (int i = 0; i < 3; ++i)
            rowStart[i] += stepY[i];
    }
}

// Draws a triangle whose signed area (raster space) is `area` > 0, that is, with b and c
// in the order that makes the edge functions below positive inside.
template <class Sink>
void rasterizeOriented(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                       std::int64_t area, const SampleBox& box, const VisibilityBuffer& buffer,
                       const Sink& sink) {
    const std::int32_t minX = box.minX, maxX = box.maxX;
    const std::int64_t rowFirst = box.rowFirst, rowLast = box.rowLast;
    const std::int64_t width = buffer.width;

    // Edges and the depth plane are set up only once a sample is found in the box.
    bool edgesReady = false, depthReady = false;
    Edge e0, e1, e2;
    float dzdx = 0, dzdy = 0, zStep = 0;
    for (std::int64_t r = rowFirst; r <= rowLast; ++r) {
        const int q = static_cast<int>(r & 3);
        std::int64_t pxFirst =
            std::max<std::int64_t>(ceilShift<subpixelBits>(std::int64_t{minX} - sampleX[q]), 0);
        std::int64_t pxLast = std::min<std::int64_t>(
            floorShift<subpixelBits>(std::int64_t{maxX} - sampleX[q]), width - 1);
        if (pxFirst > pxLast) continue;
        if (!edgesReady) {
            e0 = Edge(b, c), e1 = Edge(c, a), e2 = Edge(a, b);
            edgesReady = true;
        }
        const std::int64_t ys = 64 * r + 32;
        const std::int64_t xs = pxFirst * subpixelScale + sampleX[q];
        std::int64_t w0 = e0.at(xs, ys), w1 = e1.at(xs, ys), w2 = e2.at(xs, ys);
        const std::int64_t s0 = e0.a * subpixelScale, s1 = e1.a * subpixelScale,
                           s2 = e2.a * subpixelScale;

        std::int64_t count = pxLast - pxFirst;
        std::int64_t kFirst = 0, kLast = count;
        if (count >= 8) {
            // A long row: solve each edge for the run of samples inside, instead of testing
            // every sample of the box.
            const std::int64_t w[3] = {w0, w1, w2}, s[3] = {s0, s1, s2};
            for (int i = 0; i < 3; ++i) {
                if (s[i] > 0) {
                    if (w[i] < 0) kFirst = std::max(kFirst, ceilDiv(-w[i], s[i]));
                } else if (s[i] < 0) {
                    kLast = std::min(kLast, w[i] < 0 ? -1 : floorDiv(w[i], -s[i]));
                } else if (w[i] < 0) {
                    kLast = -1;
                }
            }
        } else {
            // A short row: step in from both ends past the samples outside.
            while (kFirst <= kLast && (w0 | w1 | w2) < 0) {
                ++kFirst;
                w0 += s0, w1 += s1, w2 += s2;
            }
            std::int64_t l0 = w0 + (kLast - kFirst) * s0, l1 = w1 + (kLast - kFirst) * s1,
                         l2 = w2 + (kLast - kFirst) * s2;
            while (kLast >= kFirst && (l0 | l1 | l2) < 0) {
                --kLast;
                l0 -= s0, l1 -= s1, l2 -= s2;
            }
        }
        if (kFirst > kLast) continue;
        if (!depthReady) {
            // Depth, 1 / W, is affine in raster space.
            const double dx1 = double(b.x) - a.x, dy1 = double(b.y) - a.y;
            const double dx2 = double(c.x) - a.x, dy2 = double(c.y) - a.y;
            const double dz1 = double(b.depth) - a.depth, dz2 = double(c.depth) - a.depth;
            dzdx = static_cast<float>((dz1 * dy2 - dz2 * dy1) / double(area));
            dzdy = static_cast<float>((dx1 * dz2 - dx2 * dz1) / double(area));
            zStep = dzdx * subpixelScale;
            depthReady = true;
        }
        // A triangle is convex: every sample between the first and the last inside is inside.
        const float zRow =
            a.depth + dzdx * static_cast<float>(xs - a.x) + dzdy * static_cast<float>(ys - a.y);
        const size_t rowBase =
            (static_cast<size_t>((r >> 2) - buffer.rowBegin) * width) * samplesPerPixel + q;
        for (std::int64_t k = kFirst; k <= kLast; ++k) {
            size_t index = rowBase + static_cast<size_t>(pxFirst + k) * samplesPerPixel;
            float z = zRow + zStep * static_cast<float>(k);
            sink(index, z, pxFirst + k, r >> 2, q);
        }
    }
}

inline std::int64_t signedArea(const RasterVertex& a, const RasterVertex& b,
                               const RasterVertex& c) {
    return (std::int64_t{b.x} - a.x) * (std::int64_t{c.y} - a.y) -
           (std::int64_t{b.y} - a.y) * (std::int64_t{c.x} - a.x);
}

// Either orientation; zero area draws nothing.
template <class Sink>
inline void rasterizeEither(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                            std::int64_t area, const VisibilityBuffer& buffer, const Sink& sink) {
    SampleBox box;
    if (area == 0 || !findSamples(a, b, c, buffer, box)) return;
    // Below a pixel the row walk is cheaper: it sets up edges only for rows that hold a
    // sample inside the box, and most such triangles have none.
    const std::int32_t spanX = box.maxX - box.minX, spanY = box.maxY - box.minY;
    const bool small = (spanX >= subpixelScale || spanY >= subpixelScale) &&
                       spanX <= smallBoxPixels * subpixelScale &&
                       spanY <= smallBoxPixels * subpixelScale;
    auto draw = small ? rasterizeSmall<Sink> : rasterizeOriented<Sink>;
    if (area > 0) draw(a, b, c, area, box, buffer, sink);
    if (area < 0) draw(a, c, b, -area, box, buffer, sink);
}

}  // namespace

void rasterizeTriangle(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                       std::uint32_t id, VisibilityBuffer& buffer) {
    rasterizeEither(a, b, c, signedArea(a, b, c), buffer,
                    WriteSink{buffer.depth.data(), buffer.ids.data(), id});
}

namespace {

// Maps a vertex of a draw to raster fixed point; `outside` marks those the fast path
// cannot take.
class Projector {
public:
    Projector(const DrawCall& draw, const FrameCamera& camera)
        : orthographic_(camera.orthographic),
          zNear_(static_cast<float>(camera.zNear)),
          right_(static_cast<float>(camera.width) + guardBand),
          bottom_(static_cast<float>(camera.height) + guardBand),
          origin_(draw.origin),
          bytes_(draw.positions.bytes),
          stride_(draw.positions.stride) {
        for (int r = 0; r < 4; ++r) {
            for (int j = 0; j < 4; ++j)
                rows_[r][j] = draw.toClip.m[r][j];
        }
    }

    RasterVertex operator()(std::int64_t i) const {
        float p[3];
        std::memcpy(p, bytes_ + i * stride_, 12);
        // (X, Y, W) in one vector: three multiply-adds instead of nine scalar ones.
        Lanes clip = rows_[0] * (p[0] - origin_.x) + rows_[1] * (p[1] - origin_.y) +
                     rows_[2] * (p[2] - origin_.z) + rows_[3];
        RasterVertex v;
        // Comparisons with a non-number fail, so non-finite vertices land in `outside` too.
        if (orthographic_) {
            if (clip[2] >= zNear_ && clip[0] >= -guardBand && clip[0] <= right_ &&
                clip[1] >= -guardBand && clip[1] <= bottom_) {
                v.x = toFixed(clip[0]);
                v.y = toFixed(clip[1]);
                v.depth = -clip[2];
                return v;
            }
        } else if (clip[2] >= zNear_) {
            float inv = 1.0f / clip[2];
            float sx = clip[0] * inv, sy = clip[1] * inv;
            if (sx >= -guardBand && sx <= right_ && sy >= -guardBand && sy <= bottom_) {
                v.x = toFixed(sx);
                v.y = toFixed(sy);
                v.depth = inv;
                return v;
            }
        }
        v.outside = 1;
        return v;
    }

private:
    // Four float lanes (the vector extension of GCC and Clang): the compilers leave the
    // scalar form of this product unvectorised, and it runs three times per triangle.
    typedef float Lanes __attribute__((vector_size(16)));

    bool orthographic_;
    float zNear_, right_, bottom_;
    Float3 origin_;
    Lanes rows_[4];
    const std::uint8_t* bytes_;
    std::int64_t stride_;
};

// The slow path: clip in homogeneous space, then fan the polygon into triangles.
template <class Sink>
void rasterizeClipped(const DrawCall& draw, const FrameCamera& camera, const std::uint32_t index[3],
                      const VisibilityBuffer& buffer, const Sink& sink) {
    ClipVertex corners[3];
    for (int k = 0; k < 3; ++k) {
        Float3 c = draw.toClip.apply(draw.positions[index[k]] - draw.origin);
        if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.z)) return;
        corners[k] = {c.x, c.y, camera.orthographic ? 1.0 : c.z, c.z};
    }
    ClipVertex polygon[maxClippedCorners];
    int count =
        clipTriangle(corners, camera.zNear, camera.width, camera.height, guardBand, polygon);
    if (count < 3) return;
    RasterVertex v[maxClippedCorners];
    for (int k = 0; k < count; ++k) {
        double inv = 1.0 / polygon[k].w;
        v[k].x = toFixed(static_cast<float>(polygon[k].x * inv));
        v[k].y = toFixed(static_cast<float>(polygon[k].y * inv));
        v[k].depth = static_cast<float>(camera.orthographic ? -polygon[k].d : inv);
    }
    // Facing from the clipped polygon: the part in front of the camera has the orientation
    // the whole triangle would have on screen.
    std::int64_t area = 0;
    for (int k = 1; k + 1 < count; ++k)
        area += signedArea(v[0], v[k], v[k + 1]);
    bool front = (area < 0) != draw.mirrored;
    if (area == 0 || (draw.cullBackFaces && !front)) return;
    for (int k = 1; k + 1 < count; ++k)
        rasterizeEither(v[0], v[k], v[k + 1], signedArea(v[0], v[k], v[k + 1]), buffer, sink);
}

// One triangle of `draw`, corners given by index, projected here or beforehand.
template <class Sink>
inline void rasterizeOne(const DrawCall& draw, const FrameCamera& camera,
                         const std::uint32_t index[3], const RasterVertex& a, const RasterVertex& b,
                         const RasterVertex& c, const VisibilityBuffer& buffer, const Sink& sink) {
    if (a.outside | b.outside | c.outside) {
        rasterizeClipped(draw, camera, index, buffer, sink);
        return;
    }
    // Counter-clockwise as seen is negative area in raster space, whose y runs downwards.
    std::int64_t area = signedArea(a, b, c);
    if (draw.cullBackFaces && area != 0 && (area > 0) != draw.mirrored) return;
    rasterizeEither(a, b, c, area, buffer, sink);
}

// With `vertices`, the raster positions computed beforehand; without, each triangle's
// corners are projected as they come.
template <class Index, class Sink>
void rasterizeTriangles(const DrawCall& draw, const FrameCamera& camera,
                        const RasterVertex* vertices, const VisibilityBuffer& buffer, Sink sink) {
    const Projector project(draw, camera);
    const std::uint8_t* indexBytes = draw.indices;
    const std::uint64_t vertexCount = static_cast<std::uint64_t>(draw.positions.count);
    // Counter-clockwise as seen is negative area in raster space, whose y runs downwards.
    const bool cullNegative = draw.cullBackFaces && draw.mirrored;
    const bool cullPositive = draw.cullBackFaces && !draw.mirrored;
    for (std::int64_t t = 0; t < draw.primitiveCount; ++t) {
        Index raw[3];
        std::memcpy(raw, indexBytes + t * 3 * sizeof(Index), sizeof raw);
        const std::uint32_t index[3] = {raw[0], raw[1], raw[2]};
        if (index[0] >= vertexCount || index[1] >= vertexCount || index[2] >= vertexCount) continue;
        RasterVertex a, b, c;
        if (vertices) {
            a = vertices[index[0]], b = vertices[index[1]], c = vertices[index[2]];
        } else {
            a = project(index[0]), b = project(index[1]), c = project(index[2]);
        }
        sink.id = draw.firstId + static_cast<std::uint32_t>(t);
        if (a.outside | b.outside | c.outside) {
            rasterizeClipped(draw, camera, index, buffer, sink);
            continue;
        }
        std::int64_t area = signedArea(a, b, c);
        if ((area > 0 && cullPositive) || (area < 0 && cullNegative)) continue;
        rasterizeEither(a, b, c, area, buffer, sink);
    }
}

// Points: a disc of `radius` pixels around each projected vertex, at its depth.
void rasterizePoints(const DrawCall& draw, const FrameCamera& camera, float radius,
                     VisibilityBuffer& buffer) {
    const Projector project(draw, camera);
    const std::int64_t r = std::max<std::int64_t>(1, std::lround(radius * subpixelScale));
    WriteSink sink{buffer.depth.data(), buffer.ids.data()};
    for (std::int64_t t = 0; t < draw.primitiveCount; ++t) {
        const std::uint32_t i = draw.index(t);
        if (i >= static_cast<std::uint64_t>(draw.positions.count)) continue;
        const RasterVertex v = project(i);
        if (v.outside) continue;
        sink.id = draw.firstId + static_cast<std::uint32_t>(t);
        const std::int64_t rowFirst = std::max<std::int64_t>(
            ceilShift<6>(v.y - r - 32), std::int64_t{buffer.rowBegin} * samplesPerPixel);
        const std::int64_t rowLast = std::min<std::int64_t>(
            floorShift<6>(v.y + r - 32), std::int64_t{buffer.rowEnd} * samplesPerPixel - 1);
        for (std::int64_t row = rowFirst; row <= rowLast; ++row) {
            const int q = static_cast<int>(row & 3);
            const std::int64_t dy = 64 * row + 32 - v.y;
            const std::int64_t span2 = r * r - dy * dy;
            if (span2 < 0) continue;
            const std::int64_t half = static_cast<std::int64_t>(std::sqrt(double(span2)));
            const std::int64_t pxFirst =
                std::max<std::int64_t>(ceilShift<subpixelBits>(v.x - half - sampleX[q]), 0);
            const std::int64_t pxLast = std::min<std::int64_t>(
                floorShift<subpixelBits>(v.x + half - sampleX[q]), buffer.width - 1);
            const std::int64_t py = row >> 2;
            for (std::int64_t px = pxFirst; px <= pxLast; ++px) {
                const size_t index =
                    (static_cast<size_t>(py - buffer.rowBegin) * buffer.width + px) *
                        samplesPerPixel +
                    q;
                sink(index, v.depth, px, py, q);
            }
        }
    }
}

template <class Sink>
void rasterizeWith(const DrawCall& draw, const FrameCamera& camera, const RasterVertex* vertices,
                   const VisibilityBuffer& buffer, const Sink& sink) {
    switch (draw.bytesPerIndex) {
        case 1:
            rasterizeTriangles<std::uint8_t>(draw, camera, vertices, buffer, sink);
            break;
        case 2:
            rasterizeTriangles<std::uint16_t>(draw, camera, vertices, buffer, sink);
            break;
        case 4:
            rasterizeTriangles<std::uint32_t>(draw, camera, vertices, buffer, sink);
            break;
        default:
            break;
    }
}

}  // namespace

void rasterizeDraw(const DrawCall& draw, const FramePlan& plan, VisibilityBuffer& buffer,
                   std::vector<RasterVertex>& scratch, Shader* shader) {
    const FrameCamera& camera = plan.camera;
    if (draw.blended()) return;
    if (draw.points) {
        rasterizePoints(draw, camera, plan.pointRadius, buffer);
        return;
    }
    // Projecting every vertex once pays when triangles share vertices. Where they hardly
    // do (STL files keep three corners per triangle) it would only write and read back a
    // copy of the mesh, so the corners are projected where they are used.
    const RasterVertex* vertices = nullptr;
    if (draw.positions.count <= 2 * draw.primitiveCount) {
        const size_t count = static_cast<size_t>(draw.positions.count);
        if (scratch.size() < count) scratch.resize(count);
        const Projector project(draw, camera);
        for (size_t i = 0; i < count; ++i)
            scratch[i] = project(static_cast<std::int64_t>(i));
        vertices = scratch.data();
    }
    if (draw.masked()) {
        rasterizeWith(
            draw, camera, vertices, buffer,
            MaskSink{buffer.depth.data(), buffer.ids.data(), shader, draw.material.alphaCutoff});
    } else {
        rasterizeWith(draw, camera, vertices, buffer,
                      WriteSink{buffer.depth.data(), buffer.ids.data()});
    }
}

void rasterizeBlended(const FramePlan& plan, std::uint32_t id, const VisibilityBuffer& buffer,
                      std::vector<std::uint8_t>& masks, std::vector<std::uint32_t>& touched) {
    auto it = std::upper_bound(plan.draws.begin(), plan.draws.end(), id,
                               [](std::uint32_t v, const DrawCall& d) { return v < d.firstId; });
    if (it == plan.draws.begin()) return;
    const DrawCall& draw = *(it - 1);
    const std::int64_t t = static_cast<std::int64_t>(id - draw.firstId);
    if (t >= draw.primitiveCount || draw.points) return;
    std::uint32_t index[3];
    for (int k = 0; k < 3; ++k) {
        index[k] = draw.index(3 * t + k);
        if (index[k] >= static_cast<std::uint64_t>(draw.positions.count)) return;
    }
    const Projector project(draw, plan.camera);
    CollectSink sink{buffer.depth.data(), masks.data(), &touched, id};
    rasterizeOne(draw, plan.camera, index, project(index[0]), project(index[1]), project(index[2]),
                 buffer, sink);
}

}  // namespace kelvo::render

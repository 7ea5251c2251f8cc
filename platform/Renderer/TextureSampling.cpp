#include "platform/Renderer/TextureSampling.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kelvo::render {

namespace {

const std::array<float, 256>& srgbDecodeTable() {
    static const auto table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = shading::srgbToLinear(i / 255.0f);
        return t;
    }();
    return table;
}

const std::array<float, 256>& linearTable() {
    static const auto table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = i / 255.0f;
        return t;
    }();
    return table;
}

// Brings a coordinate into the range whose texels the wrap mode reads, so that what follows
// works on small numbers whatever the file gave (huge or non-finite UVs included).
float reduce(float t, TextureWrap wrap) {
    if (!std::isfinite(t)) return 0;
    switch (wrap) {
        case TextureWrap::repeat:
            return t - std::floor(t);
        case TextureWrap::mirroredRepeat:
            return t - 2 * std::floor(t * 0.5f);
        case TextureWrap::clampToEdge:
            return std::clamp(t, -1.0f, 2.0f);
    }
    return 0;
}

// Texel index i (any integer near the range) to one inside 0..size-1.
int wrapIndex(int i, int size, TextureWrap wrap) {
    switch (wrap) {
        case TextureWrap::repeat:
            return ((i % size) + size) % size;
        case TextureWrap::mirroredRepeat: {
            const int period = 2 * size;
            const int m = ((i % period) + period) % period;
            return m < size ? m : period - 1 - m;
        }
        case TextureWrap::clampToEdge:
            return std::clamp(i, 0, size - 1);
    }
    return 0;
}

}  // namespace

Float4 sampleTexture(const TextureBinding& binding, const UVFootprint& at) {
    const auto& m = binding.transform;
    const float u = m[0][0] * at.u + m[0][1] * at.v + m[0][2];
    const float v = m[1][0] * at.u + m[1][1] * at.v + m[1][2];
    const float dudx = m[0][0] * at.dudx + m[0][1] * at.dvdx;
    const float dvdx = m[1][0] * at.dudx + m[1][1] * at.dvdx;
    const float dudy = m[0][0] * at.dudy + m[0][1] * at.dvdy;
    const float dvdy = m[1][0] * at.dudy + m[1][1] * at.dvdy;

    const std::vector<RGBAImage>& levels = *binding.levels;
    const RGBAImage& base = levels[0];
    const float w0 = float(base.width), h0 = float(base.height);
    const float extentX = std::hypot(dudx * w0, dvdx * h0);
    const float extentY = std::hypot(dudy * w0, dvdy * h0);
    const float lod = std::log2(std::max(extentX, extentY));  // -inf for no footprint
    int level = 0;
    if (lod > 0.5f) level = std::min(int(levels.size()) - 1, int(lod + 0.5f));
    const RGBAImage& image = levels[static_cast<size_t>(level)];
    const int width = image.width, height = image.height;
    const auto& decode = binding.srgb ? srgbDecodeTable() : linearTable();
    const auto& alphaOf = linearTable();

    const float x = reduce(u, binding.wrapS) * width, y = reduce(v, binding.wrapT) * height;
    if (binding.nearestMagnification && !(lod > 0)) {
        const int i = wrapIndex(int(std::floor(x)), width, binding.wrapS);
        const int j = wrapIndex(int(std::floor(y)), height, binding.wrapT);
        const std::uint8_t* p = image.pixel(i, j);
        return {decode[p[0]], decode[p[1]], decode[p[2]], alphaOf[p[3]]};
    }
    const float fx = x - 0.5f, fy = y - 0.5f;
    const float x0 = std::floor(fx), y0 = std::floor(fy);
    const float tx = fx - x0, ty = fy - y0;
    const int i0 = wrapIndex(int(x0), width, binding.wrapS);
    const int i1 = wrapIndex(int(x0) + 1, width, binding.wrapS);
    const int j0 = wrapIndex(int(y0), height, binding.wrapT);
    const int j1 = wrapIndex(int(y0) + 1, height, binding.wrapT);
    const std::uint8_t* texels[4] = {image.pixel(i0, j0), image.pixel(i1, j0), image.pixel(i0, j1),
                                     image.pixel(i1, j1)};
    const float weights[4] = {(1 - tx) * (1 - ty), tx * (1 - ty), (1 - tx) * ty, tx * ty};
    Float4 out;
    for (int k = 0; k < 4; ++k) {
        const std::uint8_t* p = texels[k];
        out.x += decode[p[0]] * weights[k];
        out.y += decode[p[1]] * weights[k];
        out.z += decode[p[2]] * weights[k];
        out.w += alphaOf[p[3]] * weights[k];
    }
    return out;
}

}  // namespace kelvo::render

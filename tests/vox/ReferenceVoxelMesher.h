// The greedy mesher written the plain way, loop for loop as its contract describes it: a full
// mask per slice, every cell visited. The fast mesher must produce byte-identical buffers.
#pragma once

#include <cstring>
#include <span>
#include <vector>

#include "extensions/Shared/VOXReader.h"

namespace kelvo::test {

struct ReferenceMesh {
    std::vector<float> positions, normals, colors;
    std::vector<std::uint32_t> indices;
};

inline ReferenceMesh referenceVoxelMesh(const VOXChunk& chunk,
                                        std::span<const std::uint32_t> palette) {
    const std::int64_t ext[3] = {chunk.sx, chunk.sy, chunk.sz};
    std::vector<std::uint8_t> grid(static_cast<size_t>(ext[0] * ext[1] * ext[2]), 0);
    for (const VOXVoxel& v : chunk.voxels) {
        if (v.x < ext[0] && v.y < ext[1] && v.z < ext[2]) {
            grid[v.x + v.y * ext[0] + v.z * ext[0] * ext[1]] = v.colorIndex;
        }
    }
    auto at = [&](const std::int64_t c[3]) {
        return grid[c[0] + c[1] * ext[0] + c[2] * ext[0] * ext[1]];
    };
    const float hx = static_cast<float>(ext[0]) / 2, hy = static_cast<float>(ext[1]) / 2,
                hz = static_cast<float>(ext[2]) / 2;
    ReferenceMesh out;
    for (int d = 0; d < 3; ++d) {
        const int u = (d + 1) % 3, v = (d + 2) % 3;
        const std::int64_t D = ext[d], U = ext[u], V = ext[v];
        std::vector<std::int16_t> mask(static_cast<size_t>(U * V), 0);
        for (std::int64_t s = 0; s <= D; ++s) {
            for (std::int64_t b = 0; b < V; ++b) {
                for (std::int64_t a = 0; a < U; ++a) {
                    std::int64_t c[3];
                    c[d] = s, c[u] = a, c[v] = b;
                    std::int64_t below[3] = {c[0], c[1], c[2]};
                    below[d] -= 1;
                    int A = s > 0 ? at(below) : 0, B = s < D ? at(c) : 0;
                    mask[b * U + a] = static_cast<std::int16_t>(A != 0 && B == 0   ? A
                                                                : A == 0 && B != 0 ? -B
                                                                                   : 0);
                }
            }
            std::int64_t n = 0;
            for (std::int64_t j = 0; j < V; ++j) {
                for (std::int64_t i = 0; i < U;) {
                    const int k = mask[n];
                    if (k == 0) {
                        ++i, ++n;
                        continue;
                    }
                    std::int64_t w = 1, h = 1;
                    while (i + w < U && mask[n + w] == k)
                        ++w;
                    for (bool whole = true; whole && j + h < V; h += whole) {
                        for (std::int64_t q = 0; q < w; ++q)
                            whole = whole && mask[n + h * U + q] == k;
                    }
                    std::int64_t corner[4][3];
                    for (auto& p : corner)
                        p[d] = s, p[u] = i, p[v] = j;
                    corner[1][u] += w, corner[2][u] += w, corner[2][v] += h, corner[3][v] += h;
                    const int order[4] = {0, k > 0 ? 1 : 3, 2, k > 0 ? 3 : 1};
                    const auto base = static_cast<std::uint32_t>(out.positions.size() / 3);
                    const float sigma = k > 0 ? 1.0f : -1.0f;
                    const float normal[3][3] = {{sigma, 0, 0}, {0, 0, -sigma}, {0, sigma, 0}};
                    const std::uint32_t m = static_cast<std::uint32_t>(k > 0 ? k : -k);
                    const std::uint32_t color = m < palette.size() ? palette[m] : 0xFF808080;
                    for (int o : order) {
                        const std::int64_t* g = corner[o];
                        out.positions.insert(out.positions.end(), {static_cast<float>(g[0]) - hx,
                                                                   static_cast<float>(g[2]) - hz,
                                                                   hy - static_cast<float>(g[1])});
                    }
                    for (std::uint32_t t : {0u, 1u, 2u, 0u, 2u, 3u})
                        out.indices.push_back(base + t);
                    for (int r = 0; r < 4; ++r) {
                        out.normals.insert(out.normals.end(), normal[d], normal[d] + 3);
                        for (int shift : {0, 8, 16})
                            out.colors.push_back(static_cast<float>(color >> shift & 0xFF) /
                                                 255.0f);
                    }
                    for (std::int64_t r = 0; r < h; ++r) {
                        for (std::int64_t q = 0; q < w; ++q)
                            mask[n + q + r * U] = 0;
                    }
                    i += w, n += w;
                }
            }
        }
    }
    return out;
}

}  // namespace kelvo::test

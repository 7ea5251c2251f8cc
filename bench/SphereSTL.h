// The benchmarks' generated input: a UV sphere of about `triangles` triangles as an STL file,
// binary or ASCII, with zero facet normals (the importer computes them from the corners).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace kelvo::bench {

inline void writeSphereSTL(const std::filesystem::path& path, long triangles, bool ascii = false) {
    const int rings = static_cast<int>(std::sqrt(triangles / 2.0));
    const int segments = static_cast<int>(triangles / (2 * rings));
    std::ofstream out(path, std::ios::binary);
    const std::uint32_t count = static_cast<std::uint32_t>(rings) * segments * 2;
    if (ascii) {
        out << "solid sphere\n";
    } else {
        char header[80] = "kelvo benchmark sphere";
        out.write(header, 80);
        out.write(reinterpret_cast<const char*>(&count), 4);
    }
    auto point = [&](int i, int j, float* p) {
        const double theta = M_PI * i / rings, phi = 2 * M_PI * j / segments;
        p[0] = static_cast<float>(std::sin(theta) * std::cos(phi));
        p[1] = static_cast<float>(std::sin(theta) * std::sin(phi));
        p[2] = static_cast<float>(std::cos(theta));
    };
    char line[512];
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            float a[3], b[3], c[3], d[3];
            point(i, j, a), point(i + 1, j, b), point(i + 1, j + 1, c), point(i, j + 1, d);
            const float* corners[2][3] = {{a, b, c}, {a, c, d}};
            for (const auto& t : corners) {
                if (ascii) {
                    int n = std::snprintf(
                        line, sizeof line,
                        "facet normal 0 0 0\n outer loop\n  vertex %.7e %.7e %.7e\n"
                        "  vertex %.7e %.7e %.7e\n  vertex %.7e %.7e %.7e\n endloop\nendfacet\n",
                        t[0][0], t[0][1], t[0][2], t[1][0], t[1][1], t[1][2], t[2][0], t[2][1],
                        t[2][2]);
                    out.write(line, n);
                } else {
                    float record[12] = {0, 0, 0};
                    for (int k = 0; k < 3; ++k)
                        for (int m = 0; m < 3; ++m)
                            record[3 + 3 * k + m] = t[k][m];
                    out.write(reinterpret_cast<const char*>(record), 48);
                    out.write("\0\0", 2);
                }
            }
        }
    }
    if (ascii) out << "endsolid sphere\n";
}

}  // namespace kelvo::bench

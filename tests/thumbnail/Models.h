// Small model files for the thumbnail tests, built by code.
#pragma once

#include <vector>

#include "tests/support/TestFiles.h"

namespace kelvo::test {

// A binary STL of an axis-aligned cube from (0,0,0) to (s,s,s): 12 triangles.
inline Bytes cubeSTL(float s = 10) {
    const float p[8][3] = {{0, 0, 0}, {s, 0, 0}, {s, s, 0}, {0, s, 0},
                           {0, 0, s}, {s, 0, s}, {s, s, s}, {0, s, s}};
    const int faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                              {2, 3, 7}, {2, 7, 6}, {1, 2, 6}, {1, 6, 5}, {0, 4, 7}, {0, 7, 3}};
    std::vector<STLTriangle> triangles;
    for (const auto& f : faces) {
        STLTriangle t{};
        for (int v = 0; v < 3; ++v) {
            for (int k = 0; k < 3; ++k)
                t.v[v * 3 + k] = p[f[v]][k];
        }
        triangles.push_back(t);
    }
    return binarySTL(triangles);
}

// A binary STL of `count` small triangles strung along the x axis.
inline Bytes stripSTL(int count) {
    std::vector<STLTriangle> triangles(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const float x = static_cast<float>(i);
        triangles[static_cast<size_t>(i)] = STLTriangle{{0, 0, 1}, {x, 0, 0, x + 1, 0, 0, x, 1, 0}};
    }
    return binarySTL(triangles);
}

}  // namespace kelvo::test

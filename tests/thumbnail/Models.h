// Small model files for the thumbnail tests, built by code.
#pragma once

#include <algorithm>
#include <cmath>

#include "tests/support/TestFiles.h"

namespace kelvo::test {

// A binary STL of `count` small triangles strung along the x axis.
inline Bytes stripSTL(int count = 12) {
    std::vector<STLTriangle> triangles;
    for (float x = 0; x < static_cast<float>(count); ++x)
        triangles.push_back({{0, 0, 1}, {x, 0, 0, x + 1, 0, 0, x, 1, 0}});
    return binarySTL(triangles);
}

// A binary STL of about `count` small triangles tiled over a square, so that any share of
// them covers some of a thumbnail.
inline Bytes squareSTL(int count) {
    const int side = std::max(1, static_cast<int>(std::sqrt(count)));
    std::vector<STLTriangle> triangles;
    for (int i = 0; i < count; ++i) {
        const float x = static_cast<float>(i % side), y = static_cast<float>(i / side);
        triangles.push_back({{0, 0, 1}, {x, y, 0, x + 1, y, 0, x, y + 1, 0}});
    }
    return binarySTL(triangles);
}

}  // namespace kelvo::test

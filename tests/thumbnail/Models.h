// Small model files for the thumbnail tests, built by code.
#pragma once

#include "tests/support/TestFiles.h"

namespace kelvo::test {

// A binary STL of `count` small triangles strung along the x axis.
inline Bytes stripSTL(int count = 12) {
    std::vector<STLTriangle> triangles;
    for (float x = 0; x < static_cast<float>(count); ++x)
        triangles.push_back({{0, 0, 1}, {x, 0, 0, x + 1, 0, 0, x, 1, 0}});
    return binarySTL(triangles);
}

}  // namespace kelvo::test

// A size in points or pixels, in double precision, as images and views are measured.
#pragma once

namespace kelvo {

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

}  // namespace kelvo

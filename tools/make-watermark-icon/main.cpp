// make-watermark-icon: draws Kelvo's brand icon, watermark-icon.png: a rounded indigo
// square holding a white cube seen from a corner, its three faces in three strengths of
// white so that the cube reads even at 14 pixels.
//
//   make-watermark-icon OUT.png
//
// The picture is computed, not drawn by hand, so the committed icon can be made again
// exactly: every pixel averages 16 x 16 point samples of the shapes, in plain arithmetic
// with no library drawing involved. A test checks that this program reproduces the
// committed file pixel for pixel.
#include <cmath>
#include <cstdio>
#include <exception>

#include "platform/Imaging/PNG.h"

namespace {

constexpr int side = 128;
constexpr int subsamples = 16;

struct Point {
    double x, y;
};

// Inside the convex polygon `p` (corners in clockwise order on screen, y down).
bool insideConvex(const Point* p, int n, Point q) {
    for (int i = 0; i < n; ++i) {
        Point a = p[i], b = p[(i + 1) % n];
        if ((b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x) < 0) return false;
    }
    return true;
}

// Inside the square [inset, side - inset] with corners rounded by `radius`.
bool insideRoundedSquare(Point q, double inset, double radius) {
    double lo = inset + radius, hi = side - inset - radius;
    double dx = q.x < lo ? lo - q.x : q.x > hi ? q.x - hi : 0;
    double dy = q.y < lo ? lo - q.y : q.y > hi ? q.y - hi : 0;
    if (q.x < inset || q.x > side - inset || q.y < inset || q.y > side - inset) return false;
    return dx * dx + dy * dy <= radius * radius;
}

struct Rgba {
    double r, g, b, a;
};

// Straight colour of one point of the icon.
Rgba shade(Point q) {
    if (!insideRoundedSquare(q, 4, 26)) return {0, 0, 0, 0};
    // Indigo, a little lighter at the top.
    double t = (q.y - 4) / (side - 8);
    Rgba ground{(0x58 + (0x3A - 0x58) * t) / 255, (0x5C + (0x36 - 0x5C) * t) / 255,
                (0xF0 + (0xC8 - 0xF0) * t) / 255, 1};

    // The cube: a regular hexagon around (64, 66), split into three faces, with a narrow
    // gap along the inner edges so that the faces stay apart when small.
    const double cx = 64, cy = 66, r = 40, h = r * 0.8660254037844386, gap = 2.5;
    const Point top{cx, cy - r}, upperRight{cx + h, cy - r / 2}, lowerRight{cx + h, cy + r / 2};
    const Point bottom{cx, cy + r}, lowerLeft{cx - h, cy + r / 2}, upperLeft{cx - h, cy - r / 2};
    const Point centre{cx, cy};
    const Point topFace[4] = {top, upperRight, centre, upperLeft};
    const Point leftFace[4] = {upperLeft, centre, bottom, lowerLeft};
    const Point rightFace[4] = {centre, upperRight, lowerRight, bottom};
    auto nearInnerEdge = [&](Point p) {
        // Distance to the three inner edges from the centre (to top-left, top-right, down).
        const Point ends[3] = {upperLeft, upperRight, bottom};
        for (const Point& e : ends) {
            double ex = e.x - cx, ey = e.y - cy, len = std::sqrt(ex * ex + ey * ey);
            double along = ((p.x - cx) * ex + (p.y - cy) * ey) / len;
            double across = std::fabs((p.x - cx) * ey - (p.y - cy) * ex) / len;
            if (along > -gap && along < len && across < gap / 2) return true;
        }
        return false;
    };
    double white = 0;
    if (insideConvex(topFace, 4, q))
        white = 1.0;
    else if (insideConvex(leftFace, 4, q))
        white = 0.82;
    else if (insideConvex(rightFace, 4, q))
        white = 0.62;
    if (white > 0 && nearInnerEdge(q)) white = 0;
    return {ground.r + (1 - ground.r) * white, ground.g + (1 - ground.g) * white,
            ground.b + (1 - ground.b) * white, 1};
}

kelvo::RGBAImage makeIcon() {
    kelvo::RGBAImage image(side, side);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            // Premultiplied average of the samples, then back to straight alpha.
            double sum[4] = {0, 0, 0, 0};
            for (int j = 0; j < subsamples; ++j) {
                for (int i = 0; i < subsamples; ++i) {
                    Rgba c = shade({x + (i + 0.5) / subsamples, y + (j + 0.5) / subsamples});
                    sum[0] += c.r * c.a, sum[1] += c.g * c.a, sum[2] += c.b * c.a, sum[3] += c.a;
                }
            }
            std::uint8_t* p = image.pixel(x, y);
            double n = subsamples * subsamples;
            double alpha = sum[3] / n;
            for (int k = 0; k < 3; ++k)
                p[k] =
                    alpha > 0 ? static_cast<std::uint8_t>(std::lround(sum[k] / sum[3] * 255)) : 0;
            p[3] = static_cast<std::uint8_t>(std::lround(alpha * 255));
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: make-watermark-icon OUT.png\n", stderr);
        return 2;
    }
    try {
        kelvo::writePNG(makeIcon(), argv[1]);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-watermark-icon: %s: %s\n", argv[1], error.what());
        return 1;
    }
}

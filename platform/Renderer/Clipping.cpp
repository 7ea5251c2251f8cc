// Sutherland-Hodgman against one plane at a time. Every plane is linear in (X, Y, W), so
// the crossing point is a plain interpolation of the two corners.
#include "platform/Renderer/Clipping.h"

namespace kelvo::render {

namespace {

struct Plane {
    double a, b, c, e, d;  // a X + b Y + c W + e D + d >= 0 is kept
    double distance(const ClipVertex& v) const { return a * v.x + b * v.y + c * v.w + e * v.d + d; }
};

int clipAgainst(const Plane& plane, const ClipVertex* in, int count, ClipVertex* out) {
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const ClipVertex& p = in[i];
        const ClipVertex& q = in[(i + 1) % count];
        double dp = plane.distance(p), dq = plane.distance(q);
        if (dp >= 0) out[n++] = p;
        if ((dp >= 0) != (dq >= 0)) {
            double t = dp / (dp - dq);
            out[n++] = {p.x + (q.x - p.x) * t, p.y + (q.y - p.y) * t, p.w + (q.w - p.w) * t,
                        p.d + (q.d - p.d) * t};
        }
    }
    return n;
}

}  // namespace

int clipTriangle(const ClipVertex in[3], double zNear, double width, double height, double band,
                 ClipVertex out[maxClippedCorners]) {
    const Plane planes[5] = {
        {0, 0, 0, 1, -zNear},          // in front of the near plane
        {1, 0, band, 0, 0},            // X / W >= -band
        {-1, 0, width + band, 0, 0},   // X / W <= width + band
        {0, 1, band, 0, 0},            // Y / W >= -band
        {0, -1, height + band, 0, 0},  // Y / W <= height + band
    };
    // Each plane adds at most one corner: two buffers of 3 + 5 suffice.
    ClipVertex a[maxClippedCorners], b[maxClippedCorners];
    for (int i = 0; i < 3; ++i)
        a[i] = in[i];
    int count = 3;
    ClipVertex* src = a;
    ClipVertex* dst = b;
    for (const Plane& plane : planes) {
        count = clipAgainst(plane, src, count, dst);
        if (count < 3) return 0;
        ClipVertex* t = src;
        src = dst;
        dst = t;
    }
    for (int i = 0; i < count; ++i)
        out[i] = src[i];
    return count;
}

}  // namespace kelvo::render

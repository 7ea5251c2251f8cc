#include "platform/ModelIO/PolygonTriangulation.h"

#include <cmath>

namespace kelvo {

namespace {

// Twice the signed area of (a, b, c) in the plane: positive when they turn left.
double turn(double ax, double ay, double bx, double by, double cx, double cy) {
    return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
}

void writeFan(const std::uint32_t* ring, std::size_t n, std::uint32_t* out) {
    for (std::size_t k = 1; k + 1 < n; ++k) {
        *out++ = ring[0];
        *out++ = ring[k];
        *out++ = ring[k + 1];
    }
}

}  // namespace

void PolygonTriangulator::triangulate(std::span<const PolygonCorner> corners, std::uint32_t* out) {
    const std::size_t n = corners.size();
    // Newell's normal: the plane the corners best fit, whatever their order of convexity.
    double nx = 0, ny = 0, nz = 0;
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const PolygonCorner& a = corners[j];
        const PolygonCorner& b = corners[i];
        nx += (double(a.y) - b.y) * (double(a.z) + b.z);
        ny += (double(a.z) - b.z) * (double(a.x) + b.x);
        nz += (double(a.x) - b.x) * (double(a.y) + b.y);
    }
    const double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
    u_.resize(n);
    v_.resize(n);
    previous_.resize(n);
    next_.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        next_[i] = static_cast<std::uint32_t>(i);
    if (n == 3 || !(ax + ay + az > 0) || !std::isfinite(ax + ay + az)) {
        writeFan(next_.data(), n, out);
        return;
    }
    // Drop the axis the normal is most along; the other two, taken in cyclic order and
    // mirrored when the normal points down that axis, show the polygon counter-clockwise.
    const int drop = az >= ax && az >= ay ? 2 : (ay >= ax ? 1 : 0);
    const double sign = (drop == 0 ? nx : drop == 1 ? ny : nz) < 0 ? -1 : 1;
    for (std::size_t i = 0; i < n; ++i) {
        const PolygonCorner& c = corners[i];
        const double p[3] = {c.x, c.y, c.z};
        u_[i] = sign * p[(drop + 1) % 3];
        v_[i] = p[(drop + 2) % 3];
    }
    auto turnAt = [&](std::size_t i) {
        const std::size_t a = (i + n - 1) % n, c = (i + 1) % n;
        return turn(u_[a], v_[a], u_[i], v_[i], u_[c], v_[c]);
    };
    if (n == 4) {
        // A concave quad has one reflex corner, and only the diagonal through it lies inside.
        static constexpr std::uint32_t across02[6] = {0, 1, 2, 0, 2, 3};
        static constexpr std::uint32_t across13[6] = {1, 2, 3, 1, 3, 0};
        const bool reflexOn13 = turnAt(1) < 0 || turnAt(3) < 0;
        const std::uint32_t* pick = reflexOn13 ? across13 : across02;
        for (int k = 0; k < 6; ++k)
            out[k] = pick[k];
        return;
    }
    bool convex = true;
    for (std::size_t i = 0; i < n && convex; ++i)
        convex = turnAt(i) >= 0;
    if (convex || !clipEars(n, out)) writeFan(next_.data(), n, out);
}

// Ear clipping on the corners in u_, v_ (counter-clockwise). Returns false, having written
// nothing, when the budget cannot cover even one pass; otherwise cuts ears while it can and
// fans what is left when no ear remains (a polygon that is not simple).
bool PolygonTriangulator::clipEars(std::size_t n, std::uint32_t* out) {
    if (budget_ < n) return false;
    reflex_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        previous_[i] = static_cast<std::uint32_t>((i + n - 1) % n);
        next_[i] = static_cast<std::uint32_t>((i + 1) % n);
    }
    auto turnOf = [&](std::uint32_t i) {
        const std::uint32_t a = previous_[i], c = next_[i];
        return turn(u_[a], v_[a], u_[i], v_[i], u_[c], v_[c]);
    };
    for (std::uint32_t i = 0; i < n; ++i)
        reflex_[i] = !(turnOf(i) > 0);
    auto same = [&](std::uint32_t j, std::uint32_t k) { return u_[j] == u_[k] && v_[j] == v_[k]; };
    // An ear: a convex corner whose triangle holds no reflex corner (others cannot lie inside
    // without a reflex one doing so too).
    auto isEar = [&](std::uint32_t b, std::size_t remaining) {
        if (reflex_[b]) return false;
        budget_ -= remaining;
        const std::uint32_t a = previous_[b], c = next_[b];
        for (std::uint32_t j = next_[c]; j != a; j = next_[j]) {
            if (!reflex_[j] || same(j, a) || same(j, b) || same(j, c)) continue;
            if (turn(u_[a], v_[a], u_[b], v_[b], u_[j], v_[j]) >= 0 &&
                turn(u_[b], v_[b], u_[c], v_[c], u_[j], v_[j]) >= 0 &&
                turn(u_[c], v_[c], u_[a], v_[a], u_[j], v_[j]) >= 0) {
                return false;
            }
        }
        return true;
    };
    std::size_t remaining = n;
    std::uint32_t at = 0;
    std::size_t sinceLastEar = 0;
    while (remaining > 3 && sinceLastEar < remaining && budget_ >= remaining) {
        if (!isEar(at, remaining)) {
            at = next_[at];
            ++sinceLastEar;
            continue;
        }
        const std::uint32_t a = previous_[at], c = next_[at];
        *out++ = a;
        *out++ = at;
        *out++ = c;
        next_[a] = c;
        previous_[c] = a;
        reflex_[a] = !(turnOf(a) > 0);
        reflex_[c] = !(turnOf(c) > 0);
        --remaining;
        sinceLastEar = 0;
        at = c;
    }
    // What is left, the last triangle or a ring without ears, as a fan.
    const std::uint32_t first = at;
    for (std::uint32_t k = next_[first]; next_[k] != first; k = next_[k]) {
        *out++ = first;
        *out++ = k;
        *out++ = next_[k];
    }
    return true;
}

}  // namespace kelvo

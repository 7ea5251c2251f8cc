// Vectors, 4x4 matrices and boxes of the scene graph, all in double precision.
//
// Matrices follow the row-vector convention: a point p = (x, y, z, 1) maps to p * M, so the
// translation sits in row 3 (m[3][0..2]) and a child's world matrix is
// local * parentWorld. Euler angles are (pitch x, yaw y, roll z) in radians, applied roll
// first, then yaw, then pitch: in column-vector form R = Rx(pitch) * Ry(yaw) * Rz(roll).
#pragma once

#include <cmath>
#include <limits>

namespace kelvo {

// The pitch (turn about x, in radians) that stands a z-up model (STL, 3MF) upright in a y-up
// scene: -pi/2 as the double nearest to it.
inline constexpr double zUpToYUpPitch = -1.5707963267948966;

struct Vec3 {
    double x = 0, y = 0, z = 0;

    friend Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
    friend bool operator==(Vec3 a, Vec3 b) = default;
};

inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(Vec3 a) { return std::sqrt(dot(a, a)); }
// The unit vector along `a`, or (0, 0, 0) when `a` has no usable length.
inline Vec3 normalize(Vec3 a) {
    double len = length(a);
    return len > 0 && std::isfinite(len) ? a * (1.0 / len) : Vec3{};
}

struct Mat4 {
    double m[4][4];

    static constexpr Mat4 identity() {
        return {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    }
    friend bool operator==(const Mat4& a, const Mat4& b) = default;
};

// a * b: first a, then b (row-vector convention).
Mat4 operator*(const Mat4& a, const Mat4& b);

inline Vec3 transformPoint(const Mat4& t, Vec3 p) {
    return {p.x * t.m[0][0] + p.y * t.m[1][0] + p.z * t.m[2][0] + t.m[3][0],
            p.x * t.m[0][1] + p.y * t.m[1][1] + p.z * t.m[2][1] + t.m[3][1],
            p.x * t.m[0][2] + p.y * t.m[1][2] + p.z * t.m[2][2] + t.m[3][2]};
}
inline Vec3 transformDirection(const Mat4& t, Vec3 d) {
    return {d.x * t.m[0][0] + d.y * t.m[1][0] + d.z * t.m[2][0],
            d.x * t.m[0][1] + d.y * t.m[1][1] + d.z * t.m[2][1],
            d.x * t.m[0][2] + d.y * t.m[1][2] + d.z * t.m[2][2]};
}

// Inverse of an affine matrix (last column 0, 0, 0, 1). A singular linear part gives a
// matrix of non-numbers; callers that can meet one check with isFinite.
Mat4 affineInverse(const Mat4& t);
bool isFinite(const Mat4& t);

// The rotation part (rows of the upper 3x3, row-vector form) for the given Euler angles.
Mat4 rotationFromEuler(Vec3 euler);
// Euler angles of the rotation part of `t`, its rows first scaled to unit length.
Vec3 eulerFromMatrix(const Mat4& t);

// An axis-aligned box. An empty box has min > max; boxes containing a non-number are
// never produced by the scene graph.
struct BoundingBox {
    Vec3 min{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
             std::numeric_limits<double>::infinity()};
    Vec3 max{-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
             -std::numeric_limits<double>::infinity()};

    bool isEmpty() const { return !(min.x <= max.x && min.y <= max.y && min.z <= max.z); }
    void add(Vec3 p) {
        min = {std::fmin(min.x, p.x), std::fmin(min.y, p.y), std::fmin(min.z, p.z)};
        max = {std::fmax(max.x, p.x), std::fmax(max.y, p.y), std::fmax(max.z, p.z)};
    }
    void add(const BoundingBox& b) {
        if (b.isEmpty()) return;
        add(b.min);
        add(b.max);
    }
};

}  // namespace kelvo

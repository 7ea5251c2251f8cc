#include "platform/SceneKit/SceneMath.h"

namespace kelvo {

Mat4 operator*(const Mat4& a, const Mat4& b) {
    Mat4 r{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
        }
    }
    return r;
}

Mat4 affineInverse(const Mat4& t) {
    // Invert the 3x3 linear part by cofactors, then the translation.
    const double(*m)[4] = t.m;
    double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    double inv = 1.0 / det;
    Mat4 r = Mat4::identity();
    r.m[0][0] = c00 * inv;
    r.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * inv;
    r.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * inv;
    r.m[1][0] = c01 * inv;
    r.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * inv;
    r.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * inv;
    r.m[2][0] = c02 * inv;
    r.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * inv;
    r.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * inv;
    Vec3 translation{m[3][0], m[3][1], m[3][2]};
    Vec3 back = transformDirection(r, translation);
    r.m[3][0] = -back.x;
    r.m[3][1] = -back.y;
    r.m[3][2] = -back.z;
    return r;
}

bool isFinite(const Mat4& t) {
    for (const auto& row : t.m) {
        for (double v : row) {
            if (!std::isfinite(v)) return false;
        }
    }
    return true;
}

Mat4 rotationFromEuler(Vec3 e) {
    double cx = std::cos(e.x), sx = std::sin(e.x);
    double cy = std::cos(e.y), sy = std::sin(e.y);
    double cz = std::cos(e.z), sz = std::sin(e.z);
    // Column-vector R = Rx * Ry * Rz; the row-vector matrix is its transpose.
    double r[3][3] = {
        {cy * cz, -cy * sz, sy},
        {cx * sz + sx * sy * cz, cx * cz - sx * sy * sz, -sx * cy},
        {sx * sz - cx * sy * cz, sx * cz + cx * sy * sz, cx * cy},
    };
    Mat4 t = Mat4::identity();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) t.m[j][i] = r[i][j];
    }
    return t;
}

Vec3 eulerFromMatrix(const Mat4& t) {
    // Column-vector rotation r[i][j] = t.m[j][i] / |row j|.
    double scale[3];
    for (int j = 0; j < 3; ++j) {
        scale[j] = std::sqrt(t.m[j][0] * t.m[j][0] + t.m[j][1] * t.m[j][1] + t.m[j][2] * t.m[j][2]);
        if (!(scale[j] > 0)) scale[j] = 1;
    }
    auto r = [&](int i, int j) { return t.m[j][i] / scale[j]; };
    double sy = std::fmax(-1.0, std::fmin(1.0, r(0, 2)));
    Vec3 e;
    e.y = std::asin(sy);
    if (std::fabs(sy) < 0.9999999) {
        e.x = std::atan2(-r(1, 2), r(2, 2));
        e.z = std::atan2(-r(0, 1), r(0, 0));
    } else {
        // Gimbal lock: pitch and roll turn about the same axis; put it all in pitch.
        e.x = std::atan2(r(2, 1), r(1, 1));
        e.z = 0;
    }
    return e;
}

}  // namespace kelvo

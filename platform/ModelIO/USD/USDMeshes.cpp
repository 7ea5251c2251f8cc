#include "platform/ModelIO/USD/USDMeshes.h"

#include <cmath>
#include <numbers>

#include "platform/ModelIO/PolygonTriangulation.h"

namespace kelvo::usd {

namespace {

// Of the four, the one a primvar of `interpolation` goes by.
std::size_t byInterpolation(Interpolation interpolation, std::size_t constant, std::size_t face,
                            std::size_t point, std::size_t corner) {
    switch (interpolation) {
        case Interpolation::uniform: return face;
        case Interpolation::vertex: return point;
        case Interpolation::faceVarying: return corner;
        case Interpolation::constant: break;
    }
    return constant;
}

// A primvar that covers what its interpolation needs, or an absent one.
Primvar usable(const Primvar& p, std::size_t faces, std::size_t points, std::size_t corners) {
    if (!p.present() || p.components <= 0) return {};
    const std::size_t need = byInterpolation(p.interpolation, 1, faces, points, corners);
    const std::size_t values = p.values.size() / static_cast<std::size_t>(p.components);
    if (p.indices.empty()) return values >= need ? p : Primvar{};
    if (p.indices.size() < need) return {};
    for (std::size_t i = 0; i < need; ++i) {
        if (p.indices[i] < 0 || static_cast<std::size_t>(p.indices[i]) >= values) return {};
    }
    return p;
}

const float* valueAt(const Primvar& p, std::size_t face, std::size_t point, std::size_t corner) {
    std::size_t i = byInterpolation(p.interpolation, 0, face, point, corner);
    if (!p.indices.empty()) i = static_cast<std::size_t>(p.indices[i]);
    return p.values.data() + i * static_cast<std::size_t>(p.components);
}

// Appends one vertex's attributes (not its position).
struct AttributeWriter {
    Primvar normals, colors, opacities, texcoords;
    bool withColor = false;

    void write(MeshBuffers& mesh, std::size_t face, std::size_t point, std::size_t corner) const {
        if (normals.present()) appendValues(mesh.normals, valueAt(normals, face, point, corner), 3);
        if (withColor) {
            float c[4] = {1, 1, 1, 1};
            if (colors.present()) {
                const float* v = valueAt(colors, face, point, corner);
                for (int k = 0; k < 3; ++k)
                    c[k] = linearToSRGB(v[k]);
            }
            if (opacities.present()) c[3] = *valueAt(opacities, face, point, corner);
            appendValues(mesh.colors, c, static_cast<std::size_t>(mesh.colorComponents));
        }
        if (texcoords.present()) {
            const float* v = valueAt(texcoords, face, point, corner);
            const float uv[2] = {v[0], flipV(v[1])};
            appendValues(mesh.texcoords, uv, 2);
        }
    }
};

bool perCorner(const Primvar& p) {
    return p.present() &&
           (p.interpolation == Interpolation::uniform || p.interpolation == Interpolation::faceVarying);
}

}  // namespace

Interpolation interpolationNamed(std::string_view name, Interpolation fallback) {
    if (name == "constant") return Interpolation::constant;
    if (name == "uniform") return Interpolation::uniform;
    if (name == "vertex" || name == "varying") return Interpolation::vertex;
    if (name == "faceVarying") return Interpolation::faceVarying;
    return fallback;
}

float linearToSRGB(float c) {
    if (!(c > 0)) return 0;
    if (c >= 1) return c == 1 ? 1 : c;  // HDR values stay above one
    return c <= 0.0031308f ? c * 12.92f : 1.055f * std::pow(c, 1 / 2.4f) - 0.055f;
}

MeshBuffers buildMesh(const MeshInput& in) {
    const std::size_t points = in.points.size() / 3;
    const std::size_t faces = in.faceVertexCounts.size();
    const std::size_t corners = in.faceVertexIndices.size();
    AttributeWriter attributes;
    attributes.normals = usable(in.normals, faces, points, corners);
    if (attributes.normals.components != 3) attributes.normals = {};
    attributes.colors = usable(in.colors, faces, points, corners);
    if (attributes.colors.components != 3) attributes.colors = {};
    attributes.opacities = usable(in.opacities, faces, points, corners);
    attributes.texcoords = usable(in.texcoords, faces, points, corners);
    if (attributes.texcoords.components < 2) attributes.texcoords = {};
    attributes.withColor = attributes.colors.present() || attributes.opacities.present();

    MeshBuffers mesh;
    mesh.colorComponents = attributes.opacities.present() ? 4 : 3;
    mesh.elements.resize(in.elementCount);
    const bool split = perCorner(attributes.normals) || perCorner(attributes.colors) ||
                       perCorner(attributes.opacities) || perCorner(attributes.texcoords);
    if (!split) {
        mesh.vertexCount = static_cast<std::int64_t>(points);
        appendValues(mesh.positions, in.points.data(), points * 3);
        for (std::size_t p = 0; p < points; ++p)
            attributes.write(mesh, 0, p, 0);
    }

    PolygonTriangulator triangulator(32 * static_cast<std::uint64_t>(corners) + (1u << 20));
    std::vector<PolygonCorner> polygon;
    std::vector<std::uint32_t> vertex, cut;
    std::size_t offset = 0;
    for (std::size_t f = 0; f < faces; ++f) {
        const std::int32_t n = in.faceVertexCounts[f];
        // A count that runs past the indices leaves no way to find the faces after it.
        if (n < 0 || static_cast<std::size_t>(n) > corners - offset) break;
        const std::size_t first = offset;
        offset += static_cast<std::size_t>(n);
        const std::uint32_t element = in.faceElements.empty() ? 0
                                      : f < in.faceElements.size() ? in.faceElements[f]
                                                                   : in.elementCount;
        if (n < 3 || element >= in.elementCount) continue;
        bool valid = true;
        for (std::size_t c = first; c < offset && valid; ++c) {
            const std::int32_t p = in.faceVertexIndices[c];
            valid = p >= 0 && static_cast<std::size_t>(p) < points;
        }
        if (!valid) continue;
        if (split && static_cast<std::uint64_t>(mesh.vertexCount) + n > 0xF0000000u) break;
        vertex.resize(static_cast<std::size_t>(n));
        for (std::size_t c = first; c < offset; ++c) {
            const auto p = static_cast<std::size_t>(in.faceVertexIndices[c]);
            if (!split) {
                vertex[c - first] = static_cast<std::uint32_t>(p);
                continue;
            }
            vertex[c - first] = static_cast<std::uint32_t>(mesh.vertexCount++);
            appendValues(mesh.positions, in.points.data() + 3 * p, 3);
            attributes.write(mesh, f, p, c);
        }
        MeshElement& e = mesh.elements[element];
        auto triangle = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            const std::uint32_t t[3] = {vertex[a], in.leftHanded ? vertex[c] : vertex[b],
                                        in.leftHanded ? vertex[b] : vertex[c]};
            appendValues(e.indices, t, 3);
            ++e.primitiveCount;
        };
        if (n == 3) {
            triangle(0, 1, 2);
            continue;
        }
        polygon.resize(static_cast<std::size_t>(n));
        for (std::size_t c = first; c < offset; ++c) {
            const float* p = in.points.data() + 3 * static_cast<std::size_t>(in.faceVertexIndices[c]);
            polygon[c - first] = {p[0], p[1], p[2]};
        }
        cut.resize(3 * static_cast<std::size_t>(n - 2));
        triangulator.triangulate(polygon, cut.data());
        for (std::size_t t = 0; t < cut.size(); t += 3)
            triangle(cut[t], cut[t + 1], cut[t + 2]);
    }
    return mesh;
}

// ---- implicit shapes ------------------------------------------------------------------------

namespace {

// Shapes are made around the y axis, then turned so it is the one asked for; both turns
// are rotations (cyclic permutations), so windings stay outward.
void orient(float v[3], char axis) {
    const float x = v[0], y = v[1], z = v[2];
    if (axis == 'Z') {
        v[0] = z, v[1] = x, v[2] = y;
    } else if (axis == 'X') {
        v[0] = y, v[1] = z, v[2] = x;
    }
}

struct ShapeWriter {
    MeshBuffers mesh;
    char axis = 'Y';

    ShapeWriter() { mesh.elements.resize(1); }

    std::uint32_t vertex(float px, float py, float pz, float nx, float ny, float nz, float u,
                         float v) {
        float p[3] = {px, py, pz}, n[3] = {nx, ny, nz};
        orient(p, axis);
        orient(n, axis);
        appendValues(mesh.positions, p, 3);
        appendValues(mesh.normals, n, 3);
        const float uv[2] = {u, flipV(v)};
        appendValues(mesh.texcoords, uv, 2);
        return static_cast<std::uint32_t>(mesh.vertexCount++);
    }

    // A triangle facing the way its corners' normals point; degenerate ones are left out.
    void triangle(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
        const float* P = reinterpret_cast<const float*>(mesh.positions.data());
        const float* N = reinterpret_cast<const float*>(mesh.normals.data());
        const Vec3 pa{P[3 * a], P[3 * a + 1], P[3 * a + 2]}, pb{P[3 * b], P[3 * b + 1], P[3 * b + 2]},
            pc{P[3 * c], P[3 * c + 1], P[3 * c + 2]};
        const Vec3 normal = cross(pb - pa, pc - pa);
        if (length(normal) < 1e-12) return;
        const Vec3 n{N[3 * a] + N[3 * b] + N[3 * c], N[3 * a + 1] + N[3 * b + 1] + N[3 * c + 1],
                     N[3 * a + 2] + N[3 * b + 2] + N[3 * c + 2]};
        const std::uint32_t t[3] = {a, dot(normal, n) < 0 ? c : b, dot(normal, n) < 0 ? b : c};
        appendValues(mesh.elements[0].indices, t, 3);
        ++mesh.elements[0].primitiveCount;
    }
};

struct ProfilePoint {
    double radius, height, normalRadius, normalHeight;
};

constexpr int segments = 32;

// A surface of revolution about the y axis: each strip of profile points is swept round
// and its neighbouring rings joined.
void lathe(ShapeWriter& w, const std::vector<ProfilePoint>& strip) {
    const std::uint32_t base = static_cast<std::uint32_t>(w.mesh.vertexCount);
    for (std::size_t i = 0; i < strip.size(); ++i) {
        const ProfilePoint& p = strip[i];
        for (int s = 0; s <= segments; ++s) {
            const double a = 2 * std::numbers::pi * s / segments;
            const double c = std::cos(a), sn = std::sin(a);
            w.vertex(static_cast<float>(p.radius * c), static_cast<float>(p.height),
                     static_cast<float>(-p.radius * sn), static_cast<float>(p.normalRadius * c),
                     static_cast<float>(p.normalHeight), static_cast<float>(-p.normalRadius * sn),
                     static_cast<float>(s) / segments,
                     static_cast<float>(i) / static_cast<float>(strip.size() - 1));
        }
    }
    const std::uint32_t ring = segments + 1;
    for (std::uint32_t i = 0; i + 1 < strip.size(); ++i) {
        for (std::uint32_t s = 0; s < segments; ++s) {
            const std::uint32_t a = base + i * ring + s, b = a + 1, c = a + ring, d = c + 1;
            w.triangle(a, b, d);
            w.triangle(a, d, c);
        }
    }
}

std::vector<ProfilePoint> disc(double radius, double height, double facing) {
    return {{0, height, 0, facing}, {radius, height, 0, facing}};
}

// A half sphere's profile from latitude `from` to `to` (radians), centred at `height`.
void arc(std::vector<ProfilePoint>& strip, double radius, double height, double from, double to,
         int steps) {
    for (int i = 0; i <= steps; ++i) {
        const double lat = from + (to - from) * i / steps;
        strip.push_back({radius * std::cos(lat), height + radius * std::sin(lat), std::cos(lat),
                         std::sin(lat)});
    }
}

}  // namespace

MeshBuffers cubeMesh(double size) {
    ShapeWriter w;
    const float h = static_cast<float>(size / 2);
    for (int axis = 0; axis < 3; ++axis) {
        for (float sign : {-1.0f, 1.0f}) {
            float n[3] = {0, 0, 0};
            n[axis] = sign;
            const int u = (axis + 1) % 3, v = (axis + 2) % 3;
            std::uint32_t corner[4];
            for (int k = 0; k < 4; ++k) {
                float p[3];
                p[axis] = sign * h;
                p[u] = (k == 1 || k == 2) ? h : -h;
                p[v] = (k >= 2) ? h : -h;
                corner[k] = w.vertex(p[0], p[1], p[2], n[0], n[1], n[2], (k == 1 || k == 2) ? 1.0f : 0.0f,
                                     k >= 2 ? 1.0f : 0.0f);
            }
            w.triangle(corner[0], corner[1], corner[2]);
            w.triangle(corner[0], corner[2], corner[3]);
        }
    }
    return std::move(w.mesh);
}

MeshBuffers sphereMesh(double radius) {
    ShapeWriter w;
    std::vector<ProfilePoint> strip;
    arc(strip, radius, 0, -std::numbers::pi / 2, std::numbers::pi / 2, 16);
    lathe(w, strip);
    return std::move(w.mesh);
}

MeshBuffers cylinderMesh(double radius, double height, char axis) {
    ShapeWriter w;
    w.axis = axis;
    lathe(w, disc(radius, -height / 2, -1));
    lathe(w, {{radius, -height / 2, 1, 0}, {radius, height / 2, 1, 0}});
    lathe(w, disc(radius, height / 2, 1));
    return std::move(w.mesh);
}

MeshBuffers coneMesh(double radius, double height, char axis) {
    ShapeWriter w;
    w.axis = axis;
    lathe(w, disc(radius, -height / 2, -1));
    const double slope = std::hypot(height, radius);
    const double nr = slope > 0 ? height / slope : 1, nh = slope > 0 ? radius / slope : 0;
    lathe(w, {{radius, -height / 2, nr, nh}, {0, height / 2, nr, nh}});
    return std::move(w.mesh);
}

MeshBuffers capsuleMesh(double radius, double height, char axis) {
    ShapeWriter w;
    w.axis = axis;
    std::vector<ProfilePoint> strip;
    arc(strip, radius, -height / 2, -std::numbers::pi / 2, 0, 8);
    arc(strip, radius, height / 2, 0, std::numbers::pi / 2, 8);
    lathe(w, strip);
    return std::move(w.mesh);
}

}  // namespace kelvo::usd

#include "platform/SceneKit/Geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvo {

const char* semanticName(GeometrySemantic semantic) {
    switch (semantic) {
        case GeometrySemantic::vertex:
            return "vertex";
        case GeometrySemantic::normal:
            return "normal";
        case GeometrySemantic::color:
            return "color";
        case GeometrySemantic::texcoord:
            return "texcoord";
    }
    return "vertex";
}

GeometrySource GeometrySource::floatTriples(ByteBuffer bytes, GeometrySemantic semantic,
                                            std::int64_t vectorCount) {
    GeometrySource source;
    source.data = std::make_shared<const ByteBuffer>(std::move(bytes));
    source.semantic = semantic;
    source.vectorCount = vectorCount;
    return source;
}

GeometrySource GeometrySource::floats(ByteBuffer bytes, GeometrySemantic semantic,
                                      std::int64_t vectorCount, std::int64_t components) {
    GeometrySource source = floatTriples(std::move(bytes), semantic, vectorCount);
    source.componentsPerVector = components;
    source.dataStride = components * 4;
    return source;
}

std::int64_t GeometrySource::usableVectorCount() const {
    if (!data || vectorCount <= 0 || componentsPerVector <= 0 || bytesPerComponent <= 0 ||
        dataOffset < 0 || dataStride < 0) {
        return 0;
    }
    // All in 64 bits with the operands bounded first, so nothing here can overflow.
    constexpr std::int64_t limit = std::int64_t{1} << 40;
    if (componentsPerVector > 64 || bytesPerComponent > 8 || dataStride > limit ||
        dataOffset > limit) {
        return 0;
    }
    std::int64_t vectorBytes = componentsPerVector * bytesPerComponent;
    std::int64_t size = static_cast<std::int64_t>(data->size());
    if (dataOffset + vectorBytes > size) return 0;
    std::int64_t fitting =
        dataStride == 0 ? vectorCount : (size - dataOffset - vectorBytes) / dataStride + 1;
    return fitting < vectorCount ? fitting : vectorCount;
}

bool GeometrySource::hasFloat3Layout() const {
    return floatComponents && bytesPerComponent == 4 && componentsPerVector >= 3;
}

GeometryElement GeometryElement::triangles(ByteBuffer bytes, std::int64_t triangleCount) {
    GeometryElement element;
    element.data = std::make_shared<const ByteBuffer>(std::move(bytes));
    element.primitiveType = PrimitiveType::triangles;
    element.primitiveCount = triangleCount;
    element.bytesPerIndex = 4;
    return element;
}

GeometryElement GeometryElement::points(ByteBuffer bytes, std::int64_t pointCount) {
    GeometryElement element = triangles(std::move(bytes), pointCount);
    element.primitiveType = PrimitiveType::point;
    return element;
}

std::int64_t GeometryElement::usablePointCount() const {
    if (!data || primitiveType != PrimitiveType::point || primitiveCount <= 0) return 0;
    if (bytesPerIndex != 1 && bytesPerIndex != 2 && bytesPerIndex != 4) return 0;
    std::int64_t fitting = static_cast<std::int64_t>(data->size()) / bytesPerIndex;
    return fitting < primitiveCount ? fitting : primitiveCount;
}

std::int64_t GeometryElement::usableTriangleCount() const {
    if (!data || primitiveType != PrimitiveType::triangles || primitiveCount <= 0) return 0;
    if (bytesPerIndex != 1 && bytesPerIndex != 2 && bytesPerIndex != 4) return 0;
    std::int64_t fitting = static_cast<std::int64_t>(data->size()) / (3 * bytesPerIndex);
    return fitting < primitiveCount ? fitting : primitiveCount;
}

const GeometrySource* Geometry::source(GeometrySemantic semantic) const {
    for (const auto& s : sources) {
        if (s.semantic == semantic) return &s;
    }
    return nullptr;
}

std::int64_t Geometry::vertexCount() const {
    const GeometrySource* v = source(GeometrySemantic::vertex);
    return v ? v->vectorCount : 0;
}

std::int64_t Geometry::triangleCount() const {
    std::int64_t total = 0;
    for (const auto& e : elements) {
        if (e.primitiveType == PrimitiveType::triangles) total += e.primitiveCount;
    }
    return total;
}

std::int64_t Geometry::pointCount() const {
    std::int64_t total = 0;
    for (const auto& e : elements) {
        if (e.primitiveType == PrimitiveType::point) total += e.primitiveCount;
    }
    return total;
}

namespace {

bool finite3(const float v[3]) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// True when every row of the linear part has at most one entry that matters: then the box
// of the transformed corners is the box of the transformed points. An entry below 1e-12 of
// its row's largest does not matter: a quarter turn computed as cos(pi/2) leaves 6e-17
// where 0 is meant, and it moves a point by far less than a float's precision.
bool mapsBoxesExactly(const Mat4& t) {
    for (int i = 0; i < 3; ++i) {
        double largest =
            std::fmax(std::fabs(t.m[i][0]), std::fmax(std::fabs(t.m[i][1]), std::fabs(t.m[i][2])));
        int mattering = 0;
        for (int j = 0; j < 3; ++j)
            mattering += std::fabs(t.m[i][j]) > largest * 1e-12;
        if (mattering > 1) return false;
    }
    return true;
}

// The box of the finite points of a float-triple source, as float (lo, hi); false when it
// has none. A comparison with a non-number is false, so the fast pass (four vertices at a
// time when they are packed, which compilers turn into vector min and max) already skips
// NaN; only infinities need the careful second pass.
bool floatBox(const GeometrySource& v, float lo[3], float hi[3]) {
    const std::int64_t count = v.usableVectorCount();
    const float inf = std::numeric_limits<float>::infinity();
    float mn[12], mx[12];
    std::fill(mn, mn + 12, inf);
    std::fill(mx, mx + 12, -inf);
    const std::uint8_t* base = v.data ? v.data->data() + v.dataOffset : nullptr;
    std::int64_t i = 0;
    if (v.dataStride == 12) {
        for (; i + 4 <= count; i += 4) {
            float c[12];
            std::memcpy(c, base + i * 12, 48);
            for (int k = 0; k < 12; ++k) {
                mn[k] = c[k] < mn[k] ? c[k] : mn[k];
                mx[k] = c[k] > mx[k] ? c[k] : mx[k];
            }
        }
    }
    for (; i < count; ++i) {
        float c[3];
        std::memcpy(c, base + i * v.dataStride, 12);
        for (int k = 0; k < 3; ++k) {
            mn[k] = c[k] < mn[k] ? c[k] : mn[k];
            mx[k] = c[k] > mx[k] ? c[k] : mx[k];
        }
    }
    // Lane k of the packed pass holds component k % 3.
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::min({mn[k], mn[k + 3], mn[k + 6], mn[k + 9]});
        hi[k] = std::max({mx[k], mx[k + 3], mx[k + 6], mx[k + 9]});
    }
    if (!(lo[0] <= hi[0])) return false;
    if (finite3(lo) && finite3(hi)) return true;
    std::fill(lo, lo + 3, inf);
    std::fill(hi, hi + 3, -inf);
    for (i = 0; i < count; ++i) {
        float p[3];
        v.readFloat3(i, p);
        if (!finite3(p)) continue;
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    }
    return lo[0] <= hi[0];
}

}  // namespace

BoundingBox Geometry::boundingBox() const {
    BoundingBox box;
    const GeometrySource* v = source(GeometrySemantic::vertex);
    if (!v || !v->hasFloat3Layout()) return box;
    float lo[3], hi[3];
    if (floatBox(*v, lo, hi)) {
        box.min = {lo[0], lo[1], lo[2]};
        box.max = {hi[0], hi[1], hi[2]};
    }
    return box;
}

BoundingBox Geometry::boundingBox(const Mat4& transform) const {
    BoundingBox result;
    if (mapsBoxesExactly(transform)) {
        BoundingBox local = boundingBox();
        if (local.isEmpty()) return result;
        for (int corner = 0; corner < 8; ++corner) {
            Vec3 p{corner & 1 ? local.max.x : local.min.x, corner & 2 ? local.max.y : local.min.y,
                   corner & 4 ? local.max.z : local.min.z};
            result.add(transformPoint(transform, p));
        }
        return result;
    }
    const GeometrySource* v = source(GeometrySemantic::vertex);
    if (!v || !v->hasFloat3Layout()) return result;
    std::int64_t count = v->usableVectorCount();
    const double inf = std::numeric_limits<double>::infinity();
    double lo[3] = {inf, inf, inf}, hi[3] = {-inf, -inf, -inf};
    for (std::int64_t i = 0; i < count; ++i) {
        float p[3];
        v->readFloat3(i, p);
        if (!finite3(p)) continue;
        Vec3 q = transformPoint(transform, Vec3{p[0], p[1], p[2]});
        const double c[3] = {q.x, q.y, q.z};
        for (int k = 0; k < 3; ++k) {
            lo[k] = c[k] < lo[k] ? c[k] : lo[k];
            hi[k] = c[k] > hi[k] ? c[k] : hi[k];
        }
    }
    if (lo[0] <= hi[0]) {
        result.add(Vec3{lo[0], lo[1], lo[2]});
        result.add(Vec3{hi[0], hi[1], hi[2]});
    }
    return result;
}

}  // namespace kelvo

#include "platform/SceneKit/Geometry.h"

#include <cmath>
#include <limits>

namespace kelvo {

const char* semanticName(GeometrySemantic semantic) {
    switch (semantic) {
        case GeometrySemantic::vertex: return "vertex";
        case GeometrySemantic::normal: return "normal";
        case GeometrySemantic::color: return "color";
        case GeometrySemantic::texcoord: return "texcoord";
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

namespace {

bool finite3(const float v[3]) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// True when every row of the linear part has at most one non-zero entry: then the box of
// the transformed corners is the exact box of the transformed points.
bool mapsBoxesExactly(const Mat4& t) {
    for (int i = 0; i < 3; ++i) {
        int nonZero = (t.m[i][0] != 0) + (t.m[i][1] != 0) + (t.m[i][2] != 0);
        if (nonZero > 1) return false;
    }
    return true;
}

}  // namespace

BoundingBox Geometry::boundingBox() const {
    BoundingBox box;
    const GeometrySource* v = source(GeometrySemantic::vertex);
    if (!v || !v->hasFloat3Layout()) return box;
    std::int64_t count = v->usableVectorCount();
    float lo[3] = {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
                   std::numeric_limits<float>::infinity()};
    float hi[3] = {-lo[0], -lo[1], -lo[2]};
    for (std::int64_t i = 0; i < count; ++i) {
        float p[3];
        v->readFloat3(i, p);
        if (!finite3(p)) continue;
        for (int k = 0; k < 3; ++k) {
            lo[k] = p[k] < lo[k] ? p[k] : lo[k];
            hi[k] = p[k] > hi[k] ? p[k] : hi[k];
        }
    }
    if (lo[0] <= hi[0]) {
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
    for (std::int64_t i = 0; i < count; ++i) {
        float p[3];
        v->readFloat3(i, p);
        if (!finite3(p)) continue;
        result.add(transformPoint(transform, Vec3{p[0], p[1], p[2]}));
    }
    return result;
}

}  // namespace kelvo

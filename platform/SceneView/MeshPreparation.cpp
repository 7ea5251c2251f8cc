#include "platform/SceneView/MeshPreparation.h"

#include <cmath>

namespace kelvo {

namespace {

// The layout of `source` as the GPU reads it (`components` floats of each vector), or an
// absent attribute when it cannot.
VertexAttribute describe(const GeometrySource* source, int components = 3) {
    VertexAttribute attribute;
    if (!source || !source->data || !source->floatComponents || source->bytesPerComponent != 4 ||
        source->componentsPerVector < components) {
        return attribute;
    }
    // GL takes strides up to 2048 bytes (the least every implementation supports). A stride
    // of 0 means one vector repeated to the scene graph but a packed array to GL, which would
    // read past the buffer, so it is refused.
    if (source->dataStride <= 0 || source->dataStride > 2048) return attribute;
    attribute.buffer = source->data;
    attribute.offset = source->dataOffset;
    attribute.stride = source->dataStride;
    attribute.components = components;
    return attribute;
}

// True when index i is i for every index, all within the vertices and finite: a read-only
// pass that spares the copy for the commonest large input.
bool isSequential(const GeometryElement& element, std::int64_t triangles, std::int64_t vertices,
                  const std::vector<std::uint8_t>& finite) {
    if (triangles * 3 > vertices) return false;
    for (std::int64_t i = 0; i < triangles * 3; ++i) {
        if (element.index(i) != i || !finite[static_cast<size_t>(i)]) return false;
    }
    return true;
}

}  // namespace

std::int64_t PreparedGeometry::triangleCount() const {
    std::int64_t total = 0;
    for (const auto& e : elements)
        total += e.points ? 0 : e.triangleCount;
    return total;
}

std::int64_t PreparedGeometry::pointCount() const {
    std::int64_t total = 0;
    for (const auto& e : elements)
        total += e.points ? e.triangleCount : 0;
    return total;
}

std::int64_t PreparedGeometry::skippedTriangles() const {
    std::int64_t total = 0;
    for (const auto& e : elements)
        total += e.skippedTriangles;
    return total;
}

PreparedGeometry prepareGeometry(const Geometry& geometry) {
    PreparedGeometry prepared;
    const GeometrySource* positions = geometry.source(GeometrySemantic::vertex);
    // Positions are read on the CPU too (finiteness, bounds), so only float triples serve.
    if (!positions || !positions->hasFloat3Layout()) return prepared;
    prepared.position = describe(positions);
    if (!prepared.position.present()) return prepared;
    std::int64_t count = positions->usableVectorCount();
    // Indices are 32-bit; a vertex past that could never be reached.
    if (count > std::int64_t{UINT32_MAX}) count = UINT32_MAX;
    prepared.vertexCount = count;

    auto covering = [&](GeometrySemantic semantic) {
        const GeometrySource* source = geometry.source(semantic);
        return source && source->usableVectorCount() >= count ? source : nullptr;
    };
    prepared.normal = describe(covering(GeometrySemantic::normal));
    if (const GeometrySource* colors = covering(GeometrySemantic::color)) {
        prepared.color = describe(colors, colors->componentsPerVector >= 4 ? 4 : 3);
    }
    prepared.texcoord = describe(covering(GeometrySemantic::texcoord), 2);

    // One pass over the positions: which are finite, and their box. Millions of vertices
    // pass here before the first frame, so the box is kept in floats with plain compares
    // (the values are finite by then) rather than through the double-precision box.
    std::vector<std::uint8_t> finite(static_cast<size_t>(count));
    float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (std::int64_t i = 0; i < count; ++i) {
        float p[3];
        positions->readFloat3(i, p);
        bool ok = std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
        finite[static_cast<size_t>(i)] = ok;
        if (!ok) continue;
        for (int k = 0; k < 3; ++k) {
            lo[k] = p[k] < lo[k] ? p[k] : lo[k];
            hi[k] = p[k] > hi[k] ? p[k] : hi[k];
        }
    }
    if (lo[0] <= hi[0]) {
        prepared.bounds.add(Vec3{lo[0], lo[1], lo[2]});
        prepared.bounds.add(Vec3{hi[0], hi[1], hi[2]});
    }

    const std::int64_t materialCount = static_cast<std::int64_t>(geometry.materials.size());
    for (size_t e = 0; e < geometry.elements.size(); ++e) {
        const GeometryElement& element = geometry.elements[e];
        PreparedElement out;
        out.materialIndex =
            materialCount > 0 ? static_cast<int>(static_cast<std::int64_t>(e) % materialCount) : -1;
        if (element.primitiveType == PrimitiveType::point) {
            const std::int64_t points = element.usablePointCount();
            if (points == 0) continue;
            out.points = true;
            out.indices.reserve(static_cast<size_t>(points));
            for (std::int64_t i = 0; i < points; ++i) {
                const std::uint32_t v = element.index(i);
                if (v < count && finite[v]) {
                    out.indices.push_back(v);
                } else {
                    ++out.skippedTriangles;
                }
            }
            out.triangleCount = static_cast<std::int64_t>(out.indices.size());
            prepared.elements.push_back(std::move(out));
            continue;
        }
        std::int64_t triangles = element.usableTriangleCount();
        if (triangles == 0) continue;
        if (isSequential(element, triangles, count, finite)) {
            out.sequential = true;
            out.triangleCount = triangles;
            prepared.elements.push_back(std::move(out));
            continue;
        }
        out.indices.resize(static_cast<size_t>(triangles) * 3);
        std::uint32_t* write = out.indices.data();
        for (std::int64_t t = 0; t < triangles; ++t) {
            std::uint32_t a = element.index(3 * t), b = element.index(3 * t + 1),
                          c = element.index(3 * t + 2);
            if (a >= count || b >= count || c >= count || !finite[a] || !finite[b] || !finite[c]) {
                ++out.skippedTriangles;
                continue;
            }
            write[0] = a;
            write[1] = b;
            write[2] = c;
            write += 3;
        }
        out.indices.resize(static_cast<size_t>(write - out.indices.data()));
        out.triangleCount = static_cast<std::int64_t>(out.indices.size() / 3);
        prepared.elements.push_back(std::move(out));
    }
    return prepared;
}

}  // namespace kelvo

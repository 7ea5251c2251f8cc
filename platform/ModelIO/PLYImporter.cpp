#include "platform/ModelIO/PLYImporter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/MeshAssembly.h"
#include "platform/ModelIO/PLYHeader.h"
#include "platform/ModelIO/PLYRows.h"
#include "platform/ModelIO/PolygonTriangulation.h"
#include "platform/ModelIO/TextScanning.h"
#include "platform/ModelIO/TextureReferences.h"
#include "platform/ModelIO/VertexSplitter.h"

namespace kelvo {

namespace {

using namespace ply;

struct Vertices {
    ByteBuffer positions, normals, colors, texcoords;
    bool withNormals = false, withColors = false, withAlpha = false, withTexcoords = false;
    std::size_t count = 0;
};

struct Faces {
    ByteBuffer corners;  // unsigned 32-bit vertex numbers, invalidIndex for a bad one
    bool allTriangles = true;
    std::vector<std::uint32_t> sizes;  // corners per face, once a face is not a triangle
    std::size_t count = 0;
    std::vector<float> cornerTexcoords;  // u, v (turned) per corner, when the faces have them
    std::vector<std::uint32_t> colors;   // RGBA8 per face, when the faces have them
    bool withCornerTexcoords = false, withColors = false;
};

void setAttributes(const PLYElement& element, Vertices& out) {
    out.withNormals = hasRole(element, PLYRole::nx) || hasRole(element, PLYRole::ny) ||
                      hasRole(element, PLYRole::nz);
    out.withColors = hasRole(element, PLYRole::red) || hasRole(element, PLYRole::green) ||
                     hasRole(element, PLYRole::blue);
    out.withAlpha = out.withColors && hasRole(element, PLYRole::alpha);
    out.withTexcoords = hasRole(element, PLYRole::u) || hasRole(element, PLYRole::v);
}

// Reads the rows of the vertex element; false when the bytes ran out (or stopped being
// numbers) before the declared count.
template <class Cursor>
bool readVertices(Cursor& cursor, const PLYElement& element, Vertices& out, bool binary) {
    setAttributes(element, out);
    const std::uint64_t possible =
        cursor.remaining() / std::max<std::uint32_t>(1, minimumRowBytes(element, binary));
    const std::size_t expected = static_cast<std::size_t>(std::min(element.count, possible));
    out.positions.reserve(expected * 12);
    if (out.withNormals) out.normals.reserve(expected * 12);
    if (out.withColors) out.colors.reserve(expected * (out.withAlpha ? 16 : 12));
    if (out.withTexcoords) out.texcoords.reserve(expected * 8);
    const std::vector<double> scale = valueScales(element);
    for (std::uint64_t row = 0; row < element.count && out.count < maxCorners; ++row) {
        float values[roleCount];
        if (!readVertexRow(cursor, element, scale, values)) return false;
        appendValues(out.positions, &values[static_cast<int>(PLYRole::x)], 3);
        if (out.withNormals) appendValues(out.normals, &values[static_cast<int>(PLYRole::nx)], 3);
        if (out.withColors)
            appendValues(out.colors, &values[static_cast<int>(PLYRole::red)],
                         out.withAlpha ? 4 : 3);
        if (out.withTexcoords) {
            const float uv[2] = {values[static_cast<int>(PLYRole::u)],
                                 flipV(values[static_cast<int>(PLYRole::v)])};
            appendValues(out.texcoords, uv, 2);
        }
        ++out.count;
    }
    return true;
}

template <class Cursor>
bool readFaces(Cursor& cursor, const PLYElement& element, Faces& out, bool binary) {
    out.withCornerTexcoords = hasRole(element, PLYRole::cornerTexcoords);
    out.withColors = hasRole(element, PLYRole::red) || hasRole(element, PLYRole::green) ||
                     hasRole(element, PLYRole::blue);
    const std::uint64_t possible =
        cursor.remaining() / std::max<std::uint32_t>(1, minimumRowBytes(element, binary));
    const std::size_t expected = static_cast<std::size_t>(std::min(element.count, possible));
    out.corners.reserve(expected * 12);
    const std::vector<double> scale = valueScales(element);
    FaceRow face;
    for (std::uint64_t row = 0; row < element.count; ++row) {
        const std::size_t firstCorner = out.corners.size() / 4;
        if (!readFaceRow(cursor, element, scale, face, maxCorners - firstCorner)) return false;
        const std::size_t corners = face.corners.size();
        if (corners < 3) continue;
        appendValues(out.corners, face.corners.data(), corners);
        if (corners != 3 && out.allTriangles) {
            out.sizes.assign(out.count, 3);
            out.allTriangles = false;
        }
        if (!out.allTriangles) out.sizes.push_back(static_cast<std::uint32_t>(corners));
        if (out.withCornerTexcoords) {
            for (std::size_t c = 0; c < corners; ++c) {
                const bool given = 2 * c + 1 < face.texcoords.size();
                out.cornerTexcoords.push_back(given ? face.texcoords[2 * c] : 0);
                out.cornerTexcoords.push_back(flipV(given ? face.texcoords[2 * c + 1] : 0));
            }
        }
        if (out.withColors) out.colors.push_back(packedColor(face.color));
        ++out.count;
    }
    return true;
}

// Binary vertex rows without lists all have one size, so each value is read at its offset
// in the row; rows of nothing but x y z floats in the machine's byte order are copied
// whole. Nothing when the rows have lists (the general reader takes them); otherwise
// whether every declared row was there.
std::optional<bool> readFixedRowVertices(BinaryCursor& cursor, const PLYElement& element,
                                         Vertices& out) {
    std::size_t rowSize = 0;
    for (const PLYProperty& p : element.properties) {
        if (p.countType != PLYType::none) return std::nullopt;
        rowSize += static_cast<std::size_t>(plyTypeSize(p.type));
    }
    setAttributes(element, out);
    const std::size_t rows = static_cast<std::size_t>(
        std::min<std::uint64_t>(element.count, cursor.remaining() / rowSize));
    const std::uint8_t* data = cursor.at();
    const int colorComponents = out.withAlpha ? 4 : 3;
    out.positions.resize(rows * 12);
    if (out.withNormals) out.normals.resize(rows * 12);
    if (out.withColors) out.colors.resize(rows * 4 * colorComponents);
    if (out.withTexcoords) out.texcoords.resize(rows * 8);
    const auto& ps = element.properties;
    const bool packedXYZ = !cursor.swaps() && ps.size() == 3 && ps[0].role == PLYRole::x &&
                           ps[1].role == PLYRole::y && ps[2].role == PLYRole::z &&
                           ps[0].type == PLYType::float32 && ps[1].type == PLYType::float32 &&
                           ps[2].type == PLYType::float32;
    if (packedXYZ) {
        if (rows > 0) std::memcpy(out.positions.data(), data, rows * 12);
    } else {
        struct Read {
            std::size_t offset;
            PLYType type;
            int role;
            double scale;
        };
        std::vector<Read> reads;
        std::size_t offset = 0;
        for (const PLYProperty& p : ps) {
            if (p.role != PLYRole::skip) {
                const bool color = p.role >= PLYRole::red && p.role <= PLYRole::alpha;
                reads.push_back(
                    {offset, p.type, static_cast<int>(p.role), color ? colorScale(p.type) : 1.0});
            }
            offset += static_cast<std::size_t>(plyTypeSize(p.type));
        }
        for (std::size_t row = 0; row < rows; ++row) {
            float values[roleCount];
            defaultValues(values);
            const std::uint8_t* r = data + row * rowSize;
            for (const Read& read : reads) {
                values[read.role] = static_cast<float>(
                    loadValue(read.type, r + read.offset, cursor.swaps()) * read.scale);
            }
            std::memcpy(&out.positions[row * 12], &values[static_cast<int>(PLYRole::x)], 12);
            if (out.withNormals)
                std::memcpy(&out.normals[row * 12], &values[static_cast<int>(PLYRole::nx)], 12);
            if (out.withColors) {
                std::memcpy(&out.colors[row * 4 * colorComponents],
                            &values[static_cast<int>(PLYRole::red)],
                            4 * static_cast<std::size_t>(colorComponents));
            }
            if (out.withTexcoords) {
                const float uv[2] = {values[static_cast<int>(PLYRole::u)],
                                     flipV(values[static_cast<int>(PLYRole::v)])};
                std::memcpy(&out.texcoords[row * 8], uv, 8);
            }
        }
    }
    cursor.advance(rows * rowSize);
    out.count = rows;
    return rows == element.count;
}

// The commonest face element, "property list uchar int vertex_indices" alone in the
// machine's byte order: triangles are copied as they stand. Nothing for any other layout;
// otherwise whether every declared row was there.
std::optional<bool> readPackedFaces(BinaryCursor& cursor, const PLYElement& element, Faces& out) {
    if (cursor.swaps() || element.properties.size() != 1) return std::nullopt;
    const PLYProperty& p = element.properties[0];
    if (p.role != PLYRole::vertexIndices || p.countType != PLYType::uint8 ||
        (p.type != PLYType::int32 && p.type != PLYType::uint32)) {
        return std::nullopt;
    }
    const std::uint8_t* q = cursor.at();
    const std::uint8_t* end = q + cursor.remaining();
    const std::uint64_t expected = std::min<std::uint64_t>(element.count, cursor.remaining() / 13);
    out.corners.resize(static_cast<std::size_t>(expected) * 12);
    std::size_t used = 0;
    std::uint64_t row = 0;
    for (; row < element.count && q < end; ++row) {
        const std::size_t n = *q;
        if (static_cast<std::size_t>(end - q - 1) < 4 * n) break;
        if (n >= 3 && used / 4 + n <= maxCorners) {
            if (used + 4 * n > out.corners.size())
                out.corners.resize(std::max(2 * out.corners.size(), used + 4 * n));
            // Negative indices become values past any vertex count: bad faces, dropped later.
            std::memcpy(out.corners.data() + used, q + 1, 4 * n);
            used += 4 * n;
            if (n != 3 && out.allTriangles) {
                out.sizes.assign(out.count, 3);
                out.allTriangles = false;
            }
            if (!out.allTriangles) out.sizes.push_back(static_cast<std::uint32_t>(n));
            ++out.count;
        }
        q += 1 + 4 * n;
    }
    out.corners.resize(used);
    cursor.advance(static_cast<std::size_t>(q - cursor.at()));
    return row == element.count;
}

// Whether the `count` equal-sized records of `buffer` are all alike.
bool allTheSame(const ByteBuffer& buffer, std::size_t count) {
    if (count < 2) return true;
    const std::size_t size = buffer.size() / count;
    for (std::size_t i = 1; i < count; ++i) {
        if (std::memcmp(buffer.data(), buffer.data() + i * size, size) != 0) return false;
    }
    return true;
}

template <class Cursor>
void readBody(Cursor cursor, const PLYHeader& header, Vertices& vertices, Faces& faces,
              bool binary) {
    bool verticesRead = false, facesRead = false;
    for (const PLYElement& element : header.elements) {
        // An element without properties has rows of nothing, however many it declares.
        if (element.properties.empty()) continue;
        bool complete;
        if (element.kind == PLYElementKind::vertex && !verticesRead) {
            verticesRead = true;
            std::optional<bool> fast;
            if constexpr (std::is_same_v<Cursor, BinaryCursor>) {
                fast = readFixedRowVertices(cursor, element, vertices);
            }
            complete = fast ? *fast : readVertices(cursor, element, vertices, binary);
        } else if (element.kind == PLYElementKind::face && !facesRead) {
            facesRead = true;
            std::optional<bool> fast;
            if constexpr (std::is_same_v<Cursor, BinaryCursor>) {
                fast = readPackedFaces(cursor, element, faces);
            }
            complete = fast ? *fast : readFaces(cursor, element, faces, binary);
        } else {
            complete = skipElement(cursor, element);
        }
        if (!complete) return;
    }
}

}  // namespace

ModelAsset importPLY(ByteSpan bytes, const std::filesystem::path& url) {
    const PLYHeader header = parsePLYHeader(bytes);
    Vertices vertices;
    Faces faces;
    const std::uint8_t* body = bytes.data() + header.bodyOffset;
    const std::uint8_t* end = bytes.data() + bytes.size();
    if (header.format == PLYFormat::ascii) {
        readBody(TextCursor(body, end), header, vertices, faces, false);
    } else {
        readBody(BinaryCursor(body, end, header.format == PLYFormat::binaryBigEndian), header,
                 vertices, faces, true);
    }

    ModelAsset asset;
    TextureReferences textures;
    const std::size_t vertexCount = vertices.count;
    MeshBuffers mesh;
    MeshElement element;
    // Per-corner data makes vertices of their own. Face colours are used when the vertices
    // have none, or all one (MeshLab writes white vertices beside the faces' real colours).
    const bool cornerTexcoords = faces.withCornerTexcoords;
    const bool faceColors = faces.withColors && !cornerTexcoords &&
                            (!vertices.withColors || allTheSame(vertices.colors, vertexCount));
    if (faceColors) vertices.withColors = false;
    const bool split = faces.count > 0 && (cornerTexcoords || faceColors);
    VertexSplitter splitter(split ? vertexCount : 0);

    if (faces.count == 0) {
        // A point cloud.
        element.points = true;
        element.indices.resize(vertexCount * 4);
        auto* out = reinterpret_cast<std::uint32_t*>(element.indices.data());
        for (std::size_t i = 0; i < vertexCount; ++i)
            out[i] = static_cast<std::uint32_t>(i);
        element.primitiveCount = static_cast<std::int64_t>(vertexCount);
    } else if (!split && faces.allTriangles) {
        // Every face a triangle: the corner list is the index buffer once bad faces are out.
        auto* t = reinterpret_cast<std::uint32_t*>(faces.corners.data());
        std::size_t kept = 0;
        for (std::size_t f = 0; f < faces.count; ++f) {
            const std::uint32_t a = t[3 * f], b = t[3 * f + 1], c = t[3 * f + 2];
            if (a >= vertexCount || b >= vertexCount || c >= vertexCount) continue;
            t[3 * kept] = a, t[3 * kept + 1] = b, t[3 * kept + 2] = c;
            ++kept;
        }
        element.indices = std::move(faces.corners);
        element.primitiveCount = static_cast<std::int64_t>(kept);
    } else {
        const auto* corners = reinterpret_cast<const std::uint32_t*>(faces.corners.data());
        std::uint64_t triangles = 0;
        for (std::size_t f = 0; f < faces.count; ++f)
            triangles += (faces.allTriangles ? 3 : faces.sizes[f]) - 2;
        element.indices.resize(triangles * 12);
        auto* out = reinterpret_cast<std::uint32_t*>(element.indices.data());
        PolygonTriangulator triangulator(32 * static_cast<std::uint64_t>(bytes.size()) +
                                         (1u << 20));
        std::vector<PolygonCorner> polygon;
        std::vector<std::uint32_t> local, ids;
        std::size_t first = 0;
        for (std::size_t f = 0; f < faces.count; ++f) {
            const std::uint32_t n = faces.allTriangles ? 3 : faces.sizes[f];
            const std::uint32_t* c = corners + first;
            const std::size_t cornerBase = first;
            first += n;
            bool ok = true;
            for (std::uint32_t k = 0; k < n; ++k)
                ok &= c[k] < vertexCount;
            if (!ok) continue;
            ids.resize(n);
            for (std::uint32_t k = 0; k < n; ++k) {
                std::uint64_t key = 0;
                if (cornerTexcoords) {
                    std::uint32_t u, v;
                    std::memcpy(&u, &faces.cornerTexcoords[2 * (cornerBase + k)], 4);
                    std::memcpy(&v, &faces.cornerTexcoords[2 * (cornerBase + k) + 1], 4);
                    key = u | std::uint64_t{v} << 32;
                } else if (faceColors) {
                    key = faces.colors[f];
                }
                ids[k] = split ? splitter.vertexFor(c[k], key) : c[k];
            }
            std::uint32_t* t = out + 3 * element.primitiveCount;
            element.primitiveCount += n - 2;
            if (n == 3) {
                t[0] = ids[0], t[1] = ids[1], t[2] = ids[2];
                continue;
            }
            polygon.resize(n);
            for (std::uint32_t k = 0; k < n; ++k)
                std::memcpy(&polygon[k], &vertices.positions[std::size_t{c[k]} * 12], 12);
            local.resize(3 * (n - 2));
            triangulator.triangulate(polygon, local.data());
            for (std::size_t k = 0; k < local.size(); ++k)
                t[k] = ids[local[k]];
        }
    }

    if (!split) {
        mesh.vertexCount = static_cast<std::int64_t>(vertexCount);
        mesh.positions = std::move(vertices.positions);
        if (vertices.withNormals) mesh.normals = std::move(vertices.normals);
        if (vertices.withColors) mesh.colors = std::move(vertices.colors);
        if (vertices.withTexcoords) mesh.texcoords = std::move(vertices.texcoords);
        mesh.colorComponents = vertices.withAlpha ? 4 : 3;
    } else {
        const std::size_t count = splitter.vertexCount();
        const std::vector<std::uint32_t>& from = splitter.positions();
        const std::vector<std::uint64_t>& keys = splitter.keys();
        const int colorComponents = faceColors ? 4 : vertices.withAlpha ? 4 : 3;
        const bool withColors = faceColors || vertices.withColors;
        mesh.vertexCount = static_cast<std::int64_t>(count);
        mesh.colorComponents = colorComponents;
        mesh.positions.resize(count * 12);
        if (vertices.withNormals) mesh.normals.resize(count * 12);
        if (withColors) mesh.colors.resize(count * 4 * colorComponents);
        if (cornerTexcoords) mesh.texcoords.resize(count * 8);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t v = from[i];
            std::memcpy(&mesh.positions[i * 12], &vertices.positions[v * 12], 12);
            if (vertices.withNormals)
                std::memcpy(&mesh.normals[i * 12], &vertices.normals[v * 12], 12);
            if (faceColors) {
                const float rgba[4] = {
                    float(keys[i] & 0xFF) / 255, float(keys[i] >> 8 & 0xFF) / 255,
                    float(keys[i] >> 16 & 0xFF) / 255, float(keys[i] >> 24 & 0xFF) / 255};
                std::memcpy(&mesh.colors[i * 16], rgba, 16);
            } else if (vertices.withColors) {
                const std::size_t size = 4 * static_cast<std::size_t>(colorComponents);
                std::memcpy(&mesh.colors[i * size], &vertices.colors[v * size], size);
            }
            if (cornerTexcoords) std::memcpy(&mesh.texcoords[i * 8], &keys[i], 8);
        }
    }
    const bool withColors = !mesh.colors.empty();
    element.material = makeUnnamedMaterial(withColors);
    if (!header.textureFile.empty() && !mesh.texcoords.empty()) {
        element.material->diffuseTexture.texture = textures.reference(url, header.textureFile);
        element.material->diffuse = Color::white(1, 1);
    }
    mesh.elements.push_back(std::move(element));
    if (std::shared_ptr<Geometry> geometry = makeGeometry(std::move(mesh))) {
        asset.objects.push_back(Node::withGeometry(std::move(geometry)));
    }
    asset.textures = textures.take();
    return asset;
}

ModelAsset importPLYFile(const std::filesystem::path& url) {
    ByteBuffer bytes = readFileContents(url);
    return importPLY(bytes, url);
}

}  // namespace kelvo

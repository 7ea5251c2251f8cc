#include "platform/ModelIO/PLYStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "platform/ModelIO/MeshAssembly.h"
#include "platform/ModelIO/PLYRows.h"
#include "platform/ModelIO/PolygonTriangulation.h"
#include "platform/ModelIO/StreamPasses.h"

namespace kelvo {

namespace {

using namespace ply;

// Corners of one face row at most: a longer list ends the reading (where importPLY would
// cut it into a fan), so that no row makes memory grow without bound.
constexpr std::size_t maxFaceCorners = std::size_t{1} << 20;

// Runs f(cursor) with the cursor of the file's format over bytes [begin, end).
template <class F>
decltype(auto) withCursor(const PLYHeader& header, ByteSpan bytes, std::uint64_t begin,
                          std::uint64_t end, const F& f) {
    const std::uint8_t* b = bytes.data() + begin;
    const std::uint8_t* e = bytes.data() + end;
    if (header.format == PLYFormat::ascii) {
        TextCursor cursor(b, e);
        return f(cursor);
    }
    BinaryCursor cursor(b, e, header.format == PLYFormat::binaryBigEndian);
    return f(cursor);
}

bool hasColor(const PLYElement& element) {
    return hasRole(element, PLYRole::red) || hasRole(element, PLYRole::green) ||
           hasRole(element, PLYRole::blue);
}

bool hasNormal(const PLYElement& element) {
    return hasRole(element, PLYRole::nx) || hasRole(element, PLYRole::ny) ||
           hasRole(element, PLYRole::nz);
}

// One face row, by the packed reader where the rows allow.
template <class Cursor>
bool readFace(Cursor& cursor, const PLYElement& element, const std::vector<double>& scale,
              FaceRow& row) {
    if constexpr (std::is_same_v<Cursor, BinaryCursor>) {
        if (packedFaceRows(element, cursor)) return readPackedFaceRow(cursor, row);
    }
    return readFaceRow(cursor, element, scale, row, maxFaceCorners);
}

// Whether a face row makes triangles, as importPLY keeps them.
bool usable(const FaceRow& row, std::uint64_t vertices) {
    if (row.corners.size() < 3) return false;
    for (std::uint32_t c : row.corners)
        if (c >= vertices) return false;
    return true;
}

// Reads the positions of the vertex rows; whether every declared row was there. Also
// whether all vertices have one colour (importPLY then draws the faces' colours).
template <class Cursor>
bool readPositions(Cursor& cursor, const MappedFile& file, const PLYElement& element, bool binary,
                   PLYStreamSummary& s, bool& oneColor) {
    // The rows read are handed back every so often: they are not read again in order.
    const std::uint8_t* released = cursor.at();
    auto release = [&] {
        file.release(static_cast<std::uint64_t>(released - file.bytes().data()),
                     static_cast<std::uint64_t>(cursor.at() - released));
        released = cursor.at();
    };
    const std::uint64_t possible =
        cursor.remaining() / std::max<std::uint32_t>(1, minimumRowBytes(element, binary));
    s.positions.reserve(3 * static_cast<std::size_t>(std::min(element.count, possible)));
    const std::vector<double> scale = valueScales(element);
    const bool colors = hasColor(element);
    const int colorFloats = hasRole(element, PLYRole::alpha) ? 4 : 3;
    float firstColor[4] = {};
    oneColor = true;
    for (std::uint64_t row = 0; row < element.count; ++row) {
        float values[roleCount];
        if (!readVertexRow(cursor, element, scale, values)) return false;
        const float* p = &values[static_cast<int>(PLYRole::x)];
        s.positions.insert(s.positions.end(), p, p + 3);
        if (colors) {
            const float* c = &values[static_cast<int>(PLYRole::red)];
            if (row == 0) std::memcpy(firstColor, c, 4 * colorFloats);
            oneColor = oneColor && std::memcmp(firstColor, c, 4 * colorFloats) == 0;
        }
        if (++s.vertices % (1 << 20) == 0) release();
    }
    release();
    return true;
}

// Walks the face rows, cutting pieces and counting triangles; marks the vertices faces use.
template <class Cursor>
void cutFaces(Cursor& cursor, const MappedFile& file, const PLYElement& element,
              std::uint64_t pieceBytes, PLYStreamSummary& s, std::vector<bool>& used,
              bool& anyUsed) {
    const ByteSpan bytes = file.bytes();
    const std::vector<double> scale = valueScales(element);
    auto offset = [&] { return static_cast<std::uint64_t>(cursor.at() - bytes.data()); };
    PLYPiece piece{offset(), offset(), 0, 0, 0};
    FaceRow row;
    for (std::uint64_t r = 0; r < element.count; ++r) {
        if (!readFace(cursor, element, scale, row)) break;
        ++piece.rows;
        if (usable(row, s.vertices)) {
            if (!anyUsed) std::memcpy(s.firstVertex, &s.positions[3 * row.corners[0]], 12);
            anyUsed = true;
            piece.triangles += row.corners.size() - 2;
            for (std::uint32_t c : row.corners)
                used[c] = true;
        }
        if (offset() - piece.begin >= pieceBytes) {
            piece.end = offset();
            file.release(piece.begin, piece.end - piece.begin);
            s.pieces.push_back(piece);
            piece = {offset(), offset(), 0, 0, 0};
        }
    }
    piece.end = offset();
    file.release(piece.begin, piece.end - piece.begin);
    if (piece.rows > 0) s.pieces.push_back(piece);
}

// Calls visit(ordinal, three vertex numbers, row) for every triangle of `piece`, cutting
// polygons as importPLY does.
template <class Visit>
void visitPiece(ByteSpan bytes, const PLYStreamSummary& s, const PLYPiece& piece,
                const Visit& visit) {
    const PLYElement& element = s.header.elements[static_cast<std::size_t>(s.faceElement)];
    const std::vector<double> scale = valueScales(element);
    withCursor(s.header, bytes, piece.begin, piece.end, [&](auto& cursor) {
        FaceRow row;
        PolygonTriangulator triangulator(32 * (piece.end - piece.begin) + (1u << 20));
        std::vector<PolygonCorner> polygon;
        std::vector<std::uint32_t> local;
        std::uint64_t t = piece.firstTriangle;
        for (std::uint64_t r = 0; r < piece.rows; ++r) {
            if (!readFace(cursor, element, scale, row)) return;
            if (!usable(row, s.vertices)) continue;
            const std::size_t n = row.corners.size();
            if (n == 3) {
                visit(t++, row.corners.data(), row);
                continue;
            }
            polygon.resize(n);
            for (std::size_t k = 0; k < n; ++k)
                std::memcpy(&polygon[k], &s.positions[3 * std::size_t{row.corners[k]}], 12);
            local.resize(3 * (n - 2));
            triangulator.triangulate(polygon, local.data());
            for (std::size_t k = 0; k < local.size(); k += 3) {
                const std::uint32_t ids[3] = {row.corners[local[k]], row.corners[local[k + 1]],
                                              row.corners[local[k + 2]]};
                visit(t++, ids, row);
            }
        }
    });
}

}  // namespace

std::uint64_t plyTriangleEstimate(ByteSpan bytes) {
    PLYHeader header;
    try {
        header = parsePLYHeader(bytes);
    } catch (const Error&) {
        return 0;
    }
    const bool binary = header.format != PLYFormat::ascii;
    const std::uint64_t body = bytes.size() - header.bodyOffset;
    for (const PLYElement& element : header.elements) {
        if (element.kind != PLYElementKind::face || element.properties.empty()) continue;
        const std::uint64_t rowBytes = std::max<std::uint32_t>(1, minimumRowBytes(element, binary));
        return std::min(element.count, body / rowBytes);
    }
    return 0;
}

PLYStreamSummary summarizePLY(const MappedFile& file, std::uint64_t pieceBytes) {
    const ByteSpan bytes = file.bytes();
    PLYStreamSummary s;
    s.header = parsePLYHeader(bytes);
    const bool binary = s.header.format != PLYFormat::ascii;
    pieceBytes = std::max<std::uint64_t>(pieceBytes, 1);
    bool oneColor = true, anyUsed = false;
    std::vector<bool> used;
    withCursor(s.header, bytes, s.header.bodyOffset, bytes.size(), [&](auto& cursor) {
        std::uint64_t faceBegin = 0;
        bool facesWaiting = false;
        for (std::size_t i = 0; i < s.header.elements.size(); ++i) {
            const PLYElement& element = s.header.elements[i];
            // An element without properties has rows of nothing, however many it declares.
            if (element.properties.empty()) continue;
            bool complete = true;
            if (element.kind == PLYElementKind::vertex && s.vertexElement < 0) {
                s.vertexElement = static_cast<int>(i);
                s.vertexBegin = static_cast<std::uint64_t>(cursor.at() - bytes.data());
                complete = readPositions(cursor, file, element, binary, s, oneColor);
                used.assign(s.vertices, false);
            } else if (element.kind == PLYElementKind::face && s.faceElement < 0) {
                s.faceElement = static_cast<int>(i);
                if (s.vertexElement >= 0) {
                    cutFaces(cursor, file, element, pieceBytes, s, used, anyUsed);
                    break;  // nothing after the faces is read
                }
                // Faces before their vertices: read once the positions are known.
                faceBegin = static_cast<std::uint64_t>(cursor.at() - bytes.data());
                facesWaiting = true;
                complete = skipElement(cursor, element);
            } else {
                complete = skipElement(cursor, element);
            }
            // importPLY stops at the first element cut short.
            if (!complete) break;
        }
        if (facesWaiting && s.vertices > 0) {
            withCursor(s.header, bytes, faceBegin, bytes.size(), [&](auto& faces) {
                cutFaces(faces, file, s.header.elements[static_cast<std::size_t>(s.faceElement)],
                         pieceBytes, s, used, anyUsed);
            });
        }
    });
    for (PLYPiece& piece : s.pieces) {
        piece.firstTriangle = s.triangles;
        s.triangles += piece.triangles;
    }
    if (s.faceElement >= 0 && s.triangles > 0) {
        const PLYElement& faces = s.header.elements[static_cast<std::size_t>(s.faceElement)];
        const bool cornerTexcoords = hasRole(faces, PLYRole::cornerTexcoords);
        const bool vertexColors =
            s.vertexElement >= 0 &&
            hasColor(s.header.elements[static_cast<std::size_t>(s.vertexElement)]);
        s.faceColors = hasColor(faces) && !cornerTexcoords && (!vertexColors || oneColor);
        s.split = cornerTexcoords || s.faceColors;
    }
    if (!s.split && s.vertices > 0) std::memcpy(s.firstVertex, s.positions.data(), 12);
    s.bounded = boundsOfPositions(
        s.positions.data(), s.vertices, [&](std::size_t v) { return !s.split || used[v]; }, s.lo,
        s.hi);
    return s;
}

void streamPLYTriangles(const MappedFile& file, const PLYStreamSummary& summary,
                        std::size_t firstPiece, std::size_t lastPiece, const PLYBatchSink& sink) {
    const ByteSpan bytes = file.bytes();
    TriangleBatches batches(sink);
    lastPiece = std::min(lastPiece, summary.pieces.size());
    for (std::size_t i = firstPiece; i < lastPiece; ++i) {
        const PLYPiece& piece = summary.pieces[i];
        visitPiece(bytes, summary, piece,
                   [&](std::uint64_t ordinal, const std::uint32_t* ids, const FaceRow&) {
                       batches.add(ordinal, &summary.positions[3 * std::size_t{ids[0]}],
                                   &summary.positions[3 * std::size_t{ids[1]}],
                                   &summary.positions[3 * std::size_t{ids[2]}]);
                   });
        batches.flush();
        file.release(piece.begin, piece.end - piece.begin);
    }
}

ModelAsset gatherPLYTriangles(const MappedFile& file, const PLYStreamSummary& summary,
                              const std::vector<std::uint32_t>& ordinals) {
    const ByteSpan bytes = file.bytes();
    struct Picked {
        std::uint32_t ids[3];
        std::uint32_t color;  // RGBA8, when the faces' colours are drawn
    };
    std::vector<std::vector<Picked>> parts(summary.pieces.size());
    onTwoThreads(summary.pieces.size(), [&](std::size_t i) {
        const PLYPiece& piece = summary.pieces[i];
        auto wanted = std::lower_bound(ordinals.begin(), ordinals.end(), piece.firstTriangle);
        if (wanted == ordinals.end() || *wanted >= piece.firstTriangle + piece.triangles) return;
        visitPiece(bytes, summary, piece,
                   [&](std::uint64_t ordinal, const std::uint32_t* ids, const FaceRow& row) {
                       if (wanted == ordinals.end() || *wanted != ordinal) return;
                       parts[i].push_back({{ids[0], ids[1], ids[2]},
                                           summary.faceColors ? packedColor(row.color) : 0});
                       ++wanted;
                   });
        file.release(piece.begin, piece.end - piece.begin);
    });
    std::vector<Picked> picked;
    for (const std::vector<Picked>& part : parts)
        picked.insert(picked.end(), part.begin(), part.end());

    // The vertices' normals and colours, read again for the vertices picked triangles use.
    const PLYElement* vertexElement =
        summary.vertexElement >= 0
            ? &summary.header.elements[static_cast<std::size_t>(summary.vertexElement)]
            : nullptr;
    const bool normals = vertexElement && hasNormal(*vertexElement);
    const bool vertexColors = vertexElement && hasColor(*vertexElement) && !summary.faceColors;
    const bool alpha = vertexColors && hasRole(*vertexElement, PLYRole::alpha);
    const int colorFloats = summary.faceColors || alpha ? 4 : 3;
    std::vector<std::uint32_t> needed;
    std::vector<float> attributes;  // per needed vertex: normal (3), colour (4)
    if (normals || vertexColors) {
        for (const Picked& p : picked)
            needed.insert(needed.end(), p.ids, p.ids + 3);
        std::sort(needed.begin(), needed.end());
        needed.erase(std::unique(needed.begin(), needed.end()), needed.end());
        attributes.resize(needed.size() * 7);
        const std::vector<double> scale = valueScales(*vertexElement);
        withCursor(summary.header, bytes, summary.vertexBegin, bytes.size(), [&](auto& cursor) {
            std::size_t j = 0;
            float values[roleCount];
            for (std::uint64_t row = 0; row < summary.vertices && j < needed.size(); ++row) {
                if (!readVertexRow(cursor, *vertexElement, scale, values)) return;
                if (row != needed[j]) continue;
                std::memcpy(&attributes[7 * j], &values[static_cast<int>(PLYRole::nx)], 12);
                std::memcpy(&attributes[7 * j + 3], &values[static_cast<int>(PLYRole::red)], 16);
                ++j;
            }
            file.release(
                summary.vertexBegin,
                static_cast<std::uint64_t>(cursor.at() - bytes.data()) - summary.vertexBegin);
        });
    }

    MeshBuffers mesh;
    const bool colors = summary.faceColors || vertexColors;
    mesh.colorComponents = colorFloats;
    const std::size_t count = 3 + 3 * picked.size();
    mesh.vertexCount = static_cast<std::int64_t>(count);
    mesh.positions.resize(count * 12);
    if (normals) mesh.normals.resize(count * 12, 0);
    if (colors) mesh.colors.resize(count * 4 * colorFloats, 0);
    MeshElement element;
    element.indices.resize(12 * (1 + picked.size()), 0);
    element.primitiveCount = static_cast<std::int64_t>(1 + picked.size());
    // The framing: the first vertex (drawn as a triangle of no area) and the bounds.
    std::memcpy(&mesh.positions[0], summary.firstVertex, 12);
    std::memcpy(&mesh.positions[12], summary.bounded ? summary.lo : summary.firstVertex, 12);
    std::memcpy(&mesh.positions[24], summary.bounded ? summary.hi : summary.firstVertex, 12);
    auto* indices = reinterpret_cast<std::uint32_t*>(element.indices.data());
    for (std::size_t t = 0; t < picked.size(); ++t) {
        for (int k = 0; k < 3; ++k) {
            const std::size_t v = 3 + 3 * t + static_cast<std::size_t>(k);
            const std::uint32_t id = picked[t].ids[k];
            indices[v] = static_cast<std::uint32_t>(v);
            std::memcpy(&mesh.positions[12 * v], &summary.positions[3 * std::size_t{id}], 12);
            const std::size_t a = static_cast<std::size_t>(
                std::lower_bound(needed.begin(), needed.end(), id) - needed.begin());
            if (normals) std::memcpy(&mesh.normals[12 * v], &attributes[7 * a], 12);
            if (summary.faceColors) {
                const std::uint32_t c = picked[t].color;
                const float rgba[4] = {float(c & 0xFF) / 255, float(c >> 8 & 0xFF) / 255,
                                       float(c >> 16 & 0xFF) / 255, float(c >> 24 & 0xFF) / 255};
                std::memcpy(&mesh.colors[16 * v], rgba, 16);
            } else if (vertexColors) {
                std::memcpy(&mesh.colors[4 * colorFloats * v], &attributes[7 * a + 3],
                            4 * static_cast<std::size_t>(colorFloats));
            }
        }
    }
    element.material = makeUnnamedMaterial(colors);
    // A textured surface shows its material's colour alone where the texture is not read,
    // as importPLY's does when the texture file is missing.
    const bool texcoords =
        (vertexElement &&
         (hasRole(*vertexElement, PLYRole::u) || hasRole(*vertexElement, PLYRole::v))) ||
        (summary.faceElement >= 0 &&
         hasRole(summary.header.elements[static_cast<std::size_t>(summary.faceElement)],
                 PLYRole::cornerTexcoords));
    if (!summary.header.textureFile.empty() && texcoords)
        element.material->diffuse = Color::white(1, 1);
    mesh.elements.push_back(std::move(element));
    ModelAsset asset;
    if (std::shared_ptr<Geometry> geometry = makeGeometry(std::move(mesh))) {
        asset.objects.push_back(Node::withGeometry(std::move(geometry)));
    }
    return asset;
}

}  // namespace kelvo

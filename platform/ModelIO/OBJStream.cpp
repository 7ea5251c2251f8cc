#include "platform/ModelIO/OBJStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/ModelIO/MeshAssembly.h"
#include "platform/ModelIO/PolygonTriangulation.h"
#include "platform/ModelIO/StreamPasses.h"
#include "platform/ModelIO/TextScanning.h"

namespace kelvo {

namespace {

using obj::Corner;
using obj::ElementCounts;
using obj::Statement;

// Corners of one face at most: a longer face (a line of millions of numbers) is left out
// here, where importOBJ would cut it into a fan, so that no line makes memory grow without
// bound.
constexpr std::size_t maxFaceCorners = std::size_t{1} << 20;

const char* textOf(const MappedFile& file) {
    return reinterpret_cast<const char*>(file.bytes().data());
}

// Where a piece may end at or after `from`: just past a line terminator that ends a line
// not continued on the next; the end of the text when there is none.
std::uint64_t nextLineStart(const char* text, std::uint64_t from, std::uint64_t size,
                            char terminator) {
    std::uint64_t at = from;
    while (at < size) {
        const void* hit = std::memchr(text + at, terminator, static_cast<std::size_t>(size - at));
        if (!hit) return size;
        const std::uint64_t eol = static_cast<std::uint64_t>(static_cast<const char*>(hit) - text);
        std::uint64_t last = eol;
        while (last > 0 && text::isBlank(text[last - 1]))
            --last;
        if (last == 0 || text[last - 1] != '\\') return eol + 1;
        at = eol + 1;
    }
    return size;
}

bool usable(const std::vector<Corner>& corners, std::size_t positions) {
    if (corners.size() < 3 || corners.size() > maxFaceCorners) return false;
    for (const Corner& c : corners)
        if (c.v >= positions) return false;
    return true;
}

void count(Statement statement, ElementCounts& counts) {
    counts.positions += statement == Statement::vertex;
    counts.texcoords += statement == Statement::texcoord;
    counts.normals += statement == Statement::normal;
}

// Calls visit(ordinal, three vertex numbers, material name or null) for every triangle of
// `piece`, cutting polygons as importOBJ does.
template <class Visit>
void visitPiece(const char* text, const OBJStreamSummary& s, const OBJPiece& piece,
                const Visit& visit) {
    text::LineReader lines(text + piece.begin, text + piece.end, s.terminator);
    ElementCounts counts = piece.before;
    std::string material = piece.material;
    bool materialSet = piece.materialSet;
    PolygonTriangulator triangulator(32 * (piece.end - piece.begin) + (1u << 20));
    std::vector<Corner> corners;
    std::vector<PolygonCorner> polygon;
    std::vector<std::uint32_t> local;
    std::uint64_t t = piece.firstTriangle;
    const char* p;
    const char* end;
    while (lines.next(p, end)) {
        const Statement statement = obj::statementOf(p, end);
        if (statement == Statement::useMaterial) {
            material = text::trimmed(p, end);
            materialSet = true;
        }
        if (statement != Statement::face) {
            count(statement, counts);
            continue;
        }
        obj::readFaceCorners(p, end, counts, corners, maxFaceCorners);
        if (!usable(corners, s.totals.positions)) continue;
        const std::string* name = materialSet ? &material : nullptr;
        const std::size_t n = corners.size();
        if (n == 3) {
            const std::uint32_t ids[3] = {corners[0].v, corners[1].v, corners[2].v};
            visit(t++, ids, name);
            continue;
        }
        polygon.resize(n);
        for (std::size_t k = 0; k < n; ++k)
            std::memcpy(&polygon[k], &s.positions[3 * std::size_t{corners[k].v}], 12);
        local.resize(3 * (n - 2));
        triangulator.triangulate(polygon, local.data());
        for (std::size_t k = 0; k < local.size(); k += 3) {
            const std::uint32_t ids[3] = {corners[local[k]].v, corners[local[k + 1]].v,
                                          corners[local[k + 2]].v};
            visit(t++, ids, name);
        }
    }
}

}  // namespace

OBJStreamSummary summarizeOBJ(const MappedFile& file, std::uint64_t pieceBytes) {
    const ByteSpan bytes = file.bytes();
    const char* text = textOf(file);
    OBJStreamSummary s;
    s.textBegin = obj::textStart(bytes);
    s.terminator = text::LineReader::lineTerminator(text + s.textBegin, text + bytes.size());
    pieceBytes = std::max<std::uint64_t>(pieceBytes, 1);
    for (std::uint64_t at = s.textBegin; at < bytes.size();) {
        const std::uint64_t end =
            nextLineStart(text, std::min<std::uint64_t>(bytes.size(), at + pieceBytes),
                          bytes.size(), s.terminator);
        OBJPiece& piece = s.pieces.emplace_back();
        piece.begin = at;
        piece.end = end;
        at = end;
    }

    // Triangles of each piece; whether corners carry attributes (importOBJ then makes
    // vertices of the corners, and its first vertex is the first face's first corner).
    struct Faces {
        std::uint64_t triangles = 0;
        bool any = false, attributes = false;
        std::uint32_t firstCorner = 0;
        // Whether the first pass counted them right: it resolves indices against the
        // piece's own elements, so a face counting back past them, or naming a vertex past
        // the file's last, is counted again.
        bool settled = true;
        std::uint32_t highest = 0;  // the highest vertex faces named
    };
    std::vector<Faces> faces(s.pieces.size());

    // Positions, element counts, materials, libraries and (mostly) triangles of each piece.
    struct Scan {
        std::vector<float> positions;
        bool colors = false;
        std::vector<std::string> libraries;
        std::string material;
        bool materialSet = false;
    };
    std::vector<Scan> scans(s.pieces.size());
    onTwoThreads(s.pieces.size(), [&](std::size_t i) {
        OBJPiece& piece = s.pieces[i];
        Scan& scan = scans[i];
        text::LineReader lines(text + piece.begin, text + piece.end, s.terminator);
        const char* p;
        const char* end;
        Faces& f = faces[i];
        std::vector<Corner> corners;
        while (lines.next(p, end)) {
            const Statement statement = obj::statementOf(p, end);
            if (statement == Statement::face) {
                obj::readFaceCorners(p, end, piece.counts, corners, maxFaceCorners);
                if (corners.size() < 3 || corners.size() > maxFaceCorners) continue;
                bool valid = true;
                for (const Corner& c : corners) {
                    valid &= c.v != obj::invalid;
                    f.highest = std::max(f.highest, c.v);
                }
                if (!valid) {
                    f.settled = false;
                    continue;
                }
                if (!f.any) f.firstCorner = corners[0].v;
                f.any = true;
                f.triangles += corners.size() - 2;
                for (const Corner& c : corners)
                    f.attributes |= c.vt < obj::invalid || c.vn < obj::invalid;
                continue;
            }
            count(statement, piece.counts);
            if (statement == Statement::vertex) {
                float v[7] = {0, 0, 0, 1, 1, 1, 0};
                scan.colors |= obj::readVertex(p, end, v) >= 6;
                scan.positions.insert(scan.positions.end(), v, v + 3);
            } else if (statement == Statement::useMaterial) {
                scan.material = text::trimmed(p, end);
                scan.materialSet = true;
            } else if (statement == Statement::materialLibrary) {
                scan.libraries.emplace_back(text::trimmed(p, end));
            }
        }
        file.release(piece.begin, piece.end - piece.begin);
    });
    std::size_t positions = 0;
    for (const Scan& scan : scans)
        positions += scan.positions.size();
    s.positions.reserve(positions);
    std::string material;
    bool materialSet = false;
    for (std::size_t i = 0; i < s.pieces.size(); ++i) {
        OBJPiece& piece = s.pieces[i];
        Scan& scan = scans[i];
        piece.before = s.totals;
        s.totals.positions += piece.counts.positions;
        s.totals.texcoords += piece.counts.texcoords;
        s.totals.normals += piece.counts.normals;
        piece.material = material;
        piece.materialSet = materialSet;
        if (scan.materialSet) {
            material = scan.material;
            materialSet = true;
        }
        s.colors |= scan.colors;
        s.positions.insert(s.positions.end(), scan.positions.begin(), scan.positions.end());
        std::vector<float>().swap(scan.positions);
        s.libraries.insert(s.libraries.end(), scan.libraries.begin(), scan.libraries.end());
    }

    // The triangles of the pieces whose count the first pass could not settle, now that
    // every index can be resolved.
    std::vector<std::size_t> unsettled;
    for (std::size_t i = 0; i < s.pieces.size(); ++i) {
        if (!faces[i].settled || (faces[i].any && faces[i].highest >= s.totals.positions))
            unsettled.push_back(i);
    }
    onTwoThreads(unsettled.size(), [&](std::size_t u) {
        const std::size_t i = unsettled[u];
        const OBJPiece& piece = s.pieces[i];
        Faces& f = faces[i];
        f = Faces();
        text::LineReader lines(text + piece.begin, text + piece.end, s.terminator);
        ElementCounts counts = piece.before;
        std::vector<Corner> corners;
        const char* p;
        const char* end;
        while (lines.next(p, end)) {
            const Statement statement = obj::statementOf(p, end);
            if (statement != Statement::face) {
                count(statement, counts);
                continue;
            }
            obj::readFaceCorners(p, end, counts, corners, maxFaceCorners);
            if (!usable(corners, s.totals.positions)) continue;
            if (!f.any) f.firstCorner = corners[0].v;
            f.any = true;
            f.triangles += corners.size() - 2;
            for (const Corner& c : corners)
                f.attributes |= c.vt < s.totals.texcoords || c.vn < s.totals.normals;
        }
        file.release(piece.begin, piece.end - piece.begin);
    });
    bool attributes = false, anyFace = false;
    std::uint32_t firstCorner = 0;
    for (std::size_t i = 0; i < s.pieces.size(); ++i) {
        s.pieces[i].firstTriangle = s.triangles;
        s.pieces[i].triangles = faces[i].triangles;
        s.triangles += faces[i].triangles;
        attributes |= faces[i].attributes;
        if (faces[i].any && !anyFace) firstCorner = faces[i].firstCorner;
        anyFace |= faces[i].any;
    }
    if (s.totals.positions > 0) {
        const std::size_t first = attributes ? firstCorner : 0;
        std::memcpy(s.firstVertex, &s.positions[3 * first], 12);
    }
    // The bounds of every vertex: importOBJ's too, but where corners carry attributes and a
    // vertex no face or point uses is left out of its scene.
    s.bounded = boundsOfPositions(
        s.positions.data(), s.totals.positions, [](std::size_t) { return true; }, s.lo, s.hi);
    for (const OBJPiece& piece : s.pieces)
        if (piece.triangles > 0) s.facePieces.push_back(piece);
    return s;
}

void streamOBJTriangles(const MappedFile& file, const OBJStreamSummary& summary,
                        std::size_t firstPiece, std::size_t lastPiece, const OBJBatchSink& sink) {
    const char* text = textOf(file);
    TriangleBatches batches(sink);
    lastPiece = std::min(lastPiece, summary.facePieces.size());
    for (std::size_t i = firstPiece; i < lastPiece; ++i) {
        const OBJPiece& piece = summary.facePieces[i];
        visitPiece(text, summary, piece,
                   [&](std::uint64_t ordinal, const std::uint32_t* ids, const std::string*) {
                       batches.add(ordinal, &summary.positions[3 * std::size_t{ids[0]}],
                                   &summary.positions[3 * std::size_t{ids[1]}],
                                   &summary.positions[3 * std::size_t{ids[2]}]);
                   });
        batches.flush();
        file.release(piece.begin, piece.end - piece.begin);
    }
}

ModelAsset gatherOBJTriangles(const MappedFile& file, const OBJStreamSummary& summary,
                              const std::vector<std::uint32_t>& ordinals,
                              const std::filesystem::path& url) {
    const char* text = textOf(file);
    struct Picked {
        std::uint32_t ids[3];
        std::uint32_t material;  // in the piece's own list of names
    };
    struct Part {
        std::vector<Picked> picked;
        std::vector<const std::string*> names;  // null: no usemtl yet
        std::vector<std::string> kept;
    };
    std::vector<Part> parts(summary.facePieces.size());
    onTwoThreads(summary.facePieces.size(), [&](std::size_t i) {
        const OBJPiece& piece = summary.facePieces[i];
        auto wanted = std::lower_bound(ordinals.begin(), ordinals.end(), piece.firstTriangle);
        if (wanted == ordinals.end() || *wanted >= piece.firstTriangle + piece.triangles) return;
        Part& part = parts[i];
        std::vector<std::string> names;  // the piece's names, in order of use
        std::vector<bool> unset;
        visitPiece(
            text, summary, piece,
            [&](std::uint64_t ordinal, const std::uint32_t* ids, const std::string* name) {
                if (wanted == ordinals.end() || *wanted != ordinal) return;
                ++wanted;
                std::size_t m = 0;
                while (m < names.size() && (unset[m] != !name || (name && names[m] != *name)))
                    ++m;
                if (m == names.size()) {
                    names.push_back(name ? *name : std::string());
                    unset.push_back(!name);
                }
                part.picked.push_back({{ids[0], ids[1], ids[2]}, static_cast<std::uint32_t>(m)});
            });
        part.kept = std::move(names);
        for (std::size_t m = 0; m < part.kept.size(); ++m)
            part.names.push_back(unset[m] ? nullptr : &part.kept[m]);
        file.release(piece.begin, piece.end - piece.begin);
    });

    // The vertices' colours, read again for the vertices picked triangles use.
    std::vector<std::uint32_t> needed;
    std::vector<float> colors;
    if (summary.colors) {
        for (const Part& part : parts)
            for (const Picked& p : part.picked)
                needed.insert(needed.end(), p.ids, p.ids + 3);
        std::sort(needed.begin(), needed.end());
        needed.erase(std::unique(needed.begin(), needed.end()), needed.end());
        colors.assign(3 * needed.size(), 1.0f);
        onTwoThreads(summary.pieces.size(), [&](std::size_t i) {
            const OBJPiece& piece = summary.pieces[i];
            auto next = std::lower_bound(needed.begin(), needed.end(), piece.before.positions);
            const std::size_t last = piece.before.positions + piece.counts.positions;
            if (next == needed.end() || *next >= last) return;
            text::LineReader lines(text + piece.begin, text + piece.end, summary.terminator);
            std::size_t vertex = piece.before.positions;
            const char* p;
            const char* end;
            while (next != needed.end() && *next < last && lines.next(p, end)) {
                if (obj::statementOf(p, end) != Statement::vertex) continue;
                if (vertex++ != *next) continue;
                float v[7] = {0, 0, 0, 1, 1, 1, 0};
                if (obj::readVertex(p, end, v) >= 6)
                    std::memcpy(&colors[3 * static_cast<std::size_t>(next - needed.begin())], v + 3,
                                12);
                ++next;
            }
        });
    }

    // The materials, as importOBJ finds them by name (the first definition wins).
    TextureReferences textures;
    std::map<std::string, std::shared_ptr<Material>, std::less<>> byName;
    for (const auto& m : obj::readMaterialLibraries(url, summary.libraries, textures))
        byName.try_emplace(m->name, m);

    // One element per material, in the order the picked triangles first use them, after
    // the framing: a triangle of no area at the first vertex, and the bounds.
    MeshBuffers mesh;
    std::size_t picked = 0;
    for (const Part& part : parts)
        picked += part.picked.size();
    const std::size_t count = 3 + 3 * picked;
    mesh.vertexCount = static_cast<std::int64_t>(count);
    mesh.positions.resize(count * 12);
    if (summary.colors) {
        mesh.colors.resize(count * 12);
        const float white[3] = {1, 1, 1};
        for (std::size_t v = 0; v < 3; ++v)
            std::memcpy(&mesh.colors[12 * v], white, 12);
    }
    std::memcpy(&mesh.positions[0], summary.firstVertex, 12);
    std::memcpy(&mesh.positions[12], summary.bounded ? summary.lo : summary.firstVertex, 12);
    std::memcpy(&mesh.positions[24], summary.bounded ? summary.hi : summary.firstVertex, 12);
    MeshElement& framing = mesh.elements.emplace_back();
    framing.indices.resize(12, 0);
    framing.primitiveCount = 1;
    std::vector<std::pair<const std::string*, std::size_t>> elementOf;  // name, element
    std::size_t v = 3;
    for (const Part& part : parts) {
        std::vector<std::size_t> elements;
        for (const std::string* name : part.names) {
            auto it = std::find_if(elementOf.begin(), elementOf.end(), [&](const auto& e) {
                return (!e.first && !name) || (e.first && name && *e.first == *name);
            });
            if (it == elementOf.end()) {
                MeshElement& element = mesh.elements.emplace_back();
                if (name && !name->empty()) {
                    if (auto m = byName.find(*name); m != byName.end())
                        element.material = m->second;
                }
                elementOf.emplace_back(name, mesh.elements.size() - 1);
                it = elementOf.end() - 1;
            }
            elements.push_back(it->second);
        }
        for (const Picked& p : part.picked) {
            MeshElement& element = mesh.elements[elements[p.material]];
            for (int k = 0; k < 3; ++k, ++v) {
                const std::uint32_t index = static_cast<std::uint32_t>(v);
                appendValues(element.indices, &index, 1);
                std::memcpy(&mesh.positions[12 * v], &summary.positions[3 * std::size_t{p.ids[k]}],
                            12);
                if (summary.colors) {
                    const std::size_t c = static_cast<std::size_t>(
                        std::lower_bound(needed.begin(), needed.end(), p.ids[k]) - needed.begin());
                    std::memcpy(&mesh.colors[12 * v], &colors[3 * c], 12);
                }
            }
            ++element.primitiveCount;
        }
    }
    ModelAsset asset;
    if (std::shared_ptr<Geometry> geometry = makeGeometry(std::move(mesh))) {
        asset.objects.push_back(Node::withGeometry(std::move(geometry)));
    }
    return asset;
}

}  // namespace kelvo

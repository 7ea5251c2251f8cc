#include "platform/ModelIO/OBJImporter.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/ReferencedFile.h"
#include "platform/ModelIO/MTLReader.h"
#include "platform/ModelIO/MeshAssembly.h"
#include "platform/ModelIO/PolygonTriangulation.h"
#include "platform/ModelIO/TextScanning.h"
#include "platform/ModelIO/TextureReferences.h"
#include "platform/ModelIO/VertexSplitter.h"

namespace kelvo {

namespace {

using text::isBlank;
using text::readFloat;
using text::readInteger;
using text::skipBlanks;

// Index values after resolution: 0-based, or one of these.
constexpr std::uint32_t absent = 0xFFFFFFFF;   // none given (v//vn)
constexpr std::uint32_t invalid = 0xFFFFFFFE;  // zero, or counting back past the start
// Output vertices and indices are 32-bit: corners beyond this are not read.
constexpr std::size_t maxCorners = 0xF0000000;
constexpr std::uint64_t materialLibrarySizeLimit = std::uint64_t{64} << 20;

struct Corner {
    std::uint32_t v, vt, vn;
};

// Faces from `firstFace` on (and points from `firstPoint` on) use material `material`.
struct Run {
    std::size_t firstFace;
    std::uint32_t material;
};

std::uint32_t resolve(std::int64_t index, std::size_t count) {
    if (index > 0) return index - 1 < invalid ? static_cast<std::uint32_t>(index - 1) : invalid;
    if (index < 0 && static_cast<std::uint64_t>(-index) <= count) {
        return static_cast<std::uint32_t>(static_cast<std::int64_t>(count) + index);
    }
    return invalid;
}

void readFloats(ByteBuffer& from, std::size_t index, float* out, std::size_t n) {
    std::memcpy(out, from.data() + index * n * 4, n * 4);
}

class OBJReader {
public:
    void read(const char* begin, const char* end) {
        text::LineReader lines(begin, end);
        const char* p;
        const char* lineEnd;
        while (lines.next(p, lineEnd)) {
            p = skipBlanks(p, lineEnd);
            if (lineEnd - p < 2) continue;
            const char c0 = p[0], c1 = p[1];
            if (c0 == 'v') {
                if (isBlank(c1)) {
                    vertex(p + 2, lineEnd);
                } else if (c1 == 't' && lineEnd - p > 2 && isBlank(p[2])) {
                    texcoord(p + 3, lineEnd);
                } else if (c1 == 'n' && lineEnd - p > 2 && isBlank(p[2])) {
                    normal(p + 3, lineEnd);
                }
            } else if (c0 == 'f' && isBlank(c1)) {
                face(p + 2, lineEnd);
            } else if (c0 == 'p' && isBlank(c1)) {
                pointStatement(p + 2, lineEnd);
            } else if (keyword(p, lineEnd, "usemtl")) {
                useMaterial(text::trimmed(p + 6, lineEnd));
            } else if (keyword(p, lineEnd, "mtllib")) {
                libraries_.emplace_back(text::trimmed(p + 6, lineEnd));
            }
        }
    }

    ModelAsset finish(const std::filesystem::path& url, std::size_t fileSize);

private:
    static bool keyword(const char* p, const char* end, std::string_view word) {
        return static_cast<std::size_t>(end - p) > word.size() &&
               std::memcmp(p, word.data(), word.size()) == 0 && isBlank(p[word.size()]);
    }

    void vertex(const char* p, const char* end) {
        float v[6] = {0, 0, 0, 1, 1, 1};
        int n = 0;
        float extra;
        while (n < 6 && readFloat(p, end, v[n]))
            ++n;
        // "x y z w" has no colour; seven numbers are read as x y z r g b and one more.
        if (n == 6 && readFloat(p, end, extra)) n = 7;
        appendValues(positions_, v, 3);
        if (n >= 6) {
            if (colors_.empty()) {
                colors_.resize(positionCount_ * 12);
                const float white[3] = {1, 1, 1};
                for (std::size_t i = 0; i < positionCount_; ++i)
                    std::memcpy(&colors_[i * 12], white, 12);
            }
            appendValues(colors_, v + 3, 3);
        } else if (!colors_.empty()) {
            const float white[3] = {1, 1, 1};
            appendValues(colors_, white, 3);
        }
        ++positionCount_;
    }

    void texcoord(const char* p, const char* end) {
        float uv[2] = {0, 0};
        if (readFloat(p, end, uv[0])) readFloat(p, end, uv[1]);
        uv[1] = flipV(uv[1]);
        appendValues(texcoords_, uv, 2);
        ++texcoordCount_;
    }

    void normal(const char* p, const char* end) {
        float n[3] = {0, 0, 0};
        if (readFloat(p, end, n[0]) && readFloat(p, end, n[1])) readFloat(p, end, n[2]);
        appendValues(normals_, n, 3);
        ++normalCount_;
    }

    // Corners until the end of the line or the first word that is not one.
    void face(const char* p, const char* end) {
        std::uint32_t n = 0;
        for (;;) {
            p = skipBlanks(p, end);
            std::int64_t v, vt = 0, vn = 0;
            if (p >= end || corners_.size() >= maxCorners || !readInteger(p, end, v)) break;
            if (p < end && *p == '/') {
                ++p;
                readInteger(p, end, vt);
                if (p < end && *p == '/') {
                    ++p;
                    readInteger(p, end, vn);
                }
            }
            corners_.push_back({resolve(v, positionCount_),
                                vt ? resolve(vt, texcoordCount_) : absent,
                                vn ? resolve(vn, normalCount_) : absent});
            ++n;
        }
        if (n >= 3) {
            faceSizes_.push_back(n);
        } else {
            corners_.resize(corners_.size() - n);
        }
    }

    void pointStatement(const char* p, const char* end) {
        std::int64_t v;
        while ((p = skipBlanks(p, end)) < end && readInteger(p, end, v)) {
            points_.push_back(resolve(v, positionCount_));
        }
    }

    void useMaterial(std::string_view name) {
        if (name == materialNames_[runs_.back().material]) return;
        auto it = materialIndex_.find(name);
        if (it == materialIndex_.end()) {
            it = materialIndex_.emplace(name, static_cast<std::uint32_t>(materialNames_.size()))
                     .first;
            materialNames_.emplace_back(name);
        }
        const std::uint32_t material = it->second;
        if (runs_.back().firstFace == faceSizes_.size()) {
            runs_.back().material = material;  // the last run had no face yet
        } else {
            runs_.push_back({faceSizes_.size(), material});
        }
    }

    std::vector<std::shared_ptr<Material>> readLibraries(const std::filesystem::path& url,
                                                         TextureReferences& textures) const;

    ByteBuffer positions_, colors_, texcoords_, normals_;  // float triples, pairs for texcoords
    std::size_t positionCount_ = 0, texcoordCount_ = 0, normalCount_ = 0;
    std::vector<Corner> corners_;
    std::vector<std::uint32_t> faceSizes_;
    std::vector<std::uint32_t> points_;
    // Material 0 stands for faces before any usemtl.
    std::vector<Run> runs_{{0, 0}};
    std::vector<std::string> materialNames_{std::string()};
    std::map<std::string, std::uint32_t, std::less<>> materialIndex_;
    std::vector<std::string> libraries_;
};

std::vector<std::shared_ptr<Material>> OBJReader::readLibraries(const std::filesystem::path& url,
                                                                TextureReferences& textures) const {
    std::vector<std::shared_ptr<Material>> materials;
    std::vector<std::string> tried;
    auto readLibrary = [&](std::string_view reference) {
        if (std::find(tried.begin(), tried.end(), reference) != tried.end()) return true;
        tried.emplace_back(reference);
        ReferencedFile file =
            readReferencedFile(url, reference, ReferenceSyntax::path, materialLibrarySizeLimit);
        if (file.outcome != ReferenceOutcome::read) return false;
        readMaterialLibrary(file.contents, file.path, textures, materials);
        return true;
    };
    for (const std::string& line : libraries_) {
        if (line.empty() || readLibrary(line)) continue;
        // Several names on one line.
        const char* p = line.data();
        const char* end = p + line.size();
        while ((p = skipBlanks(p, end)) < end) {
            const char* wordEnd = text::skipWord(p, end);
            readLibrary(std::string_view(p, static_cast<std::size_t>(wordEnd - p)));
            p = wordEnd;
        }
    }
    return materials;
}

ModelAsset OBJReader::finish(const std::filesystem::path& url, std::size_t fileSize) {
    ModelAsset asset;
    TextureReferences textures;
    std::vector<std::shared_ptr<Material>> library = readLibraries(url, textures);
    std::map<std::string_view, std::shared_ptr<Material>> byName;
    for (const auto& m : library)
        byName.try_emplace(m->name, m);

    // Which faces are drawn, how many triangles each material gets, and which attributes
    // every drawn corner has.
    const std::size_t faceCount = faceSizes_.size();
    std::vector<std::uint8_t> drawn(faceCount);
    std::vector<std::uint64_t> trianglesOf(materialNames_.size());
    bool anyTexcoord = false, everyNormal = true;
    {
        std::size_t corner = 0;
        for (std::size_t r = 0; r < runs_.size(); ++r) {
            const std::size_t last = r + 1 < runs_.size() ? runs_[r + 1].firstFace : faceCount;
            for (std::size_t f = runs_[r].firstFace; f < last; ++f) {
                const std::uint32_t n = faceSizes_[f];
                bool ok = true;
                for (std::uint32_t k = 0; k < n; ++k)
                    ok &= corners_[corner + k].v < positionCount_;
                if (ok) {
                    drawn[f] = 1;
                    trianglesOf[runs_[r].material] += n - 2;
                    for (std::uint32_t k = 0; k < n; ++k) {
                        anyTexcoord |= corners_[corner + k].vt < texcoordCount_;
                        everyNormal &= corners_[corner + k].vn < normalCount_;
                    }
                }
                corner += n;
            }
        }
    }
    std::uint64_t triangleTotal = 0;
    for (std::uint64_t t : trianglesOf)
        triangleTotal += t;
    std::size_t drawnPoints = 0;
    for (std::uint32_t v : points_)
        drawnPoints += v < positionCount_;
    const bool pointCloud = triangleTotal == 0 && drawnPoints == 0 && positionCount_ > 0;
    const bool withTexcoords = anyTexcoord && !pointCloud;
    const bool withNormals =
        pointCloud ? normalCount_ == positionCount_ : triangleTotal > 0 && everyNormal;
    const bool split = !pointCloud && (withTexcoords || withNormals);

    VertexSplitter splitter(split ? positionCount_ : 0);
    auto vertexOf = [&](const Corner& c) -> std::uint32_t {
        if (!split) return c.v;
        const std::uint64_t vt = withTexcoords && c.vt < texcoordCount_ ? c.vt + 1 : 0;
        const std::uint64_t vn = withNormals ? c.vn + 1 : 0;
        return splitter.vertexFor(c.v, vt | vn << 32);
    };

    MeshBuffers mesh;
    // Elements in the order their materials are first used.
    std::vector<std::int64_t> elementOf(materialNames_.size(), -1);
    for (const Run& run : runs_) {
        if (trianglesOf[run.material] == 0 || elementOf[run.material] >= 0) continue;
        elementOf[run.material] = static_cast<std::int64_t>(mesh.elements.size());
        MeshElement& e = mesh.elements.emplace_back();
        e.indices.resize(trianglesOf[run.material] * 12);
        if (auto it = byName.find(materialNames_[run.material]);
            run.material != 0 && it != byName.end()) {
            e.material = it->second;
        }
    }
    PolygonTriangulator triangulator(32 * static_cast<std::uint64_t>(fileSize) + (1u << 20));
    std::vector<PolygonCorner> polygon;
    std::vector<std::uint32_t> local, ids;
    std::size_t corner = 0;
    for (std::size_t r = 0; r < runs_.size(); ++r) {
        const std::size_t last = r + 1 < runs_.size() ? runs_[r + 1].firstFace : faceCount;
        MeshElement* e =
            elementOf[runs_[r].material] >= 0
                ? &mesh.elements[static_cast<std::size_t>(elementOf[runs_[r].material])]
                : nullptr;
        for (std::size_t f = runs_[r].firstFace; f < last; ++f) {
            const std::uint32_t n = faceSizes_[f];
            const Corner* c = &corners_[corner];
            corner += n;
            if (!drawn[f]) continue;
            auto* out = reinterpret_cast<std::uint32_t*>(e->indices.data()) + e->primitiveCount * 3;
            e->primitiveCount += n - 2;
            if (n == 3) {
                out[0] = vertexOf(c[0]);
                out[1] = vertexOf(c[1]);
                out[2] = vertexOf(c[2]);
                continue;
            }
            polygon.resize(n);
            for (std::uint32_t k = 0; k < n; ++k)
                readFloats(positions_, c[k].v, &polygon[k].x, 3);
            local.resize(3 * (n - 2));
            triangulator.triangulate(polygon, local.data());
            // Each corner's vertex once, whatever the number of triangles it is in.
            ids.resize(n);
            for (std::uint32_t k = 0; k < n; ++k)
                ids[k] = vertexOf(c[k]);
            for (std::size_t k = 0; k < local.size(); ++k)
                out[k] = ids[local[k]];
        }
    }
    if (drawnPoints > 0 || pointCloud) {
        MeshElement& e = mesh.elements.emplace_back();
        e.points = true;
        if (pointCloud) {
            e.indices.resize(positionCount_ * 4);
            auto* out = reinterpret_cast<std::uint32_t*>(e.indices.data());
            for (std::size_t i = 0; i < positionCount_; ++i)
                out[i] = static_cast<std::uint32_t>(i);
            e.primitiveCount = static_cast<std::int64_t>(positionCount_);
        } else {
            e.indices.resize(drawnPoints * 4);
            auto* out = reinterpret_cast<std::uint32_t*>(e.indices.data());
            for (std::uint32_t v : points_) {
                if (v < positionCount_) out[e.primitiveCount++] = vertexOf({v, absent, absent});
            }
        }
    }

    if (!split) {
        mesh.vertexCount = static_cast<std::int64_t>(positionCount_);
        mesh.positions = std::move(positions_);
        mesh.colors = std::move(colors_);
        if (withNormals) mesh.normals = std::move(normals_);
    } else {
        const std::size_t count = splitter.vertexCount();
        mesh.vertexCount = static_cast<std::int64_t>(count);
        mesh.positions.resize(count * 12);
        if (!colors_.empty()) mesh.colors.resize(count * 12);
        if (withNormals) mesh.normals.resize(count * 12);
        if (withTexcoords) mesh.texcoords.resize(count * 8);
        const std::vector<std::uint32_t>& from = splitter.positions();
        const std::vector<std::uint64_t>& keys = splitter.keys();
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t position = from[i];
            std::memcpy(&mesh.positions[i * 12], &positions_[position * 12], 12);
            if (!colors_.empty()) std::memcpy(&mesh.colors[i * 12], &colors_[position * 12], 12);
            const std::uint32_t vt = static_cast<std::uint32_t>(keys[i]);
            const std::uint32_t vn = static_cast<std::uint32_t>(keys[i] >> 32);
            if (withNormals) {
                if (vn > 0) {
                    std::memcpy(&mesh.normals[i * 12], &normals_[(vn - 1) * std::size_t{12}], 12);
                } else {
                    std::memset(&mesh.normals[i * 12], 0, 12);  // a point's corner
                }
            }
            if (withTexcoords) {
                if (vt > 0) {
                    std::memcpy(&mesh.texcoords[i * 8], &texcoords_[(vt - 1) * std::size_t{8}], 8);
                } else {
                    std::memset(&mesh.texcoords[i * 8], 0, 8);
                }
            }
        }
    }
    if (std::shared_ptr<Geometry> geometry = makeGeometry(std::move(mesh))) {
        asset.objects.push_back(Node::withGeometry(std::move(geometry)));
    }
    asset.textures = textures.take();
    return asset;
}

}  // namespace

ModelAsset importOBJ(ByteSpan bytes, const std::filesystem::path& url) {
    const char* begin = reinterpret_cast<const char*>(bytes.data());
    const char* end = begin + bytes.size();
    if (bytes.size() >= 2 &&
        ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        throw modelIOError("The OBJ file is UTF-16 text; OBJ files are read as ASCII or UTF-8");
    }
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) begin += 3;
    OBJReader reader;
    reader.read(begin, end);
    return reader.finish(url, bytes.size());
}

ModelAsset importOBJFile(const std::filesystem::path& url) {
    ByteBuffer bytes = readFileContents(url);
    return importOBJ(bytes, url);
}

}  // namespace kelvo

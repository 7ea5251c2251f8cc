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
#include "platform/ModelIO/OBJSyntax.h"
#include "platform/ModelIO/PolygonTriangulation.h"
#include "platform/ModelIO/TextScanning.h"
#include "platform/ModelIO/TextureReferences.h"
#include "platform/ModelIO/VertexSplitter.h"

namespace kelvo {

namespace {

using text::readFloat;
using text::readInteger;
using text::skipBlanks;

// Output vertices and indices are 32-bit: corners beyond this are not read.
constexpr std::uint64_t maxCorners = 0xF0000000;
constexpr std::uint64_t materialLibrarySizeLimit = std::uint64_t{64} << 20;

using obj::absent;
using obj::Corner;
using obj::invalid;
using obj::resolve;
using obj::Statement;

// Reads the statements in one pass. A face whose corners name elements already read (the
// way every exporter writes them) becomes triangles at once; the rare face that names
// elements further down waits in `deferred` until the end.
class OBJReader {
public:
    explicit OBJReader(std::size_t fileSize)
        : triangulator_(32 * static_cast<std::uint64_t>(fileSize) + (1u << 20)) {}

    void read(const char* begin, const char* end) {
        text::LineReader lines(begin, end);
        const char* p;
        const char* lineEnd;
        while (lines.next(p, lineEnd)) {
            switch (obj::statementOf(p, lineEnd)) {
                case Statement::vertex:
                    vertex(p, lineEnd);
                    break;
                case Statement::texcoord:
                    texcoord(p, lineEnd);
                    break;
                case Statement::normal:
                    normal(p, lineEnd);
                    break;
                case Statement::face:
                    face(p, lineEnd);
                    break;
                case Statement::point:
                    pointStatement(p, lineEnd);
                    break;
                case Statement::useMaterial:
                    useMaterial(text::trimmed(p, lineEnd));
                    break;
                case Statement::materialLibrary:
                    libraries_.emplace_back(text::trimmed(p, lineEnd));
                    break;
                case Statement::other:
                    break;
            }
        }
    }

    ModelAsset finish(const std::filesystem::path& url);

private:
private:
    void vertex(const char* p, const char* end) {
        float v[7] = {0, 0, 0, 1, 1, 1, 0};
        const int n = obj::readVertex(p, end, v);
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
        ++faceStatements_;
        obj::readFaceCorners(p, end, {positionCount_, texcoordCount_, normalCount_}, corners_);
        bool later = false, bad = false;
        for (const Corner& c : corners_) {
            bad |= c.v == invalid;
            later |= (c.v != invalid && c.v >= positionCount_) ||
                     (c.vt < invalid && c.vt >= texcoordCount_) ||
                     (c.vn < invalid && c.vn >= normalCount_);
        }
        const std::size_t n = corners_.size();
        if (n < 3 || bad || cornersRead_ + n > maxCorners) return;
        cornersRead_ += n;
        if (!later) {
            emitFace(corners_.data(), static_cast<std::uint32_t>(n), material_);
            return;
        }
        deferredCorners_.insert(deferredCorners_.end(), corners_.begin(), corners_.end());
        deferredFaces_.push_back({static_cast<std::uint32_t>(n), material_});
    }

    void pointStatement(const char* p, const char* end) {
        ++pointStatements_;
        std::int64_t v;
        while ((p = skipBlanks(p, end)) < end && readInteger(p, end, v)) {
            const std::uint32_t position = resolve(v, positionCount_);
            if (position != invalid) points_.push_back(position);
        }
    }

    void useMaterial(std::string_view name) {
        if (name == materialNames_[material_]) return;
        auto it = materialIndex_.find(name);
        if (it == materialIndex_.end()) {
            it = materialIndex_.emplace(name, static_cast<std::uint32_t>(materialNames_.size()))
                     .first;
            materialNames_.emplace_back(name);
        }
        material_ = it->second;
    }

    // The vertex a corner stands for: its position until some corner brings a texture
    // coordinate or a normal, then one vertex per distinct (v, vt, vn).
    std::uint32_t vertexOf(const Corner& c) {
        if (!split_) return c.v;
        const std::uint64_t vt = c.vt < texcoordCount_ ? c.vt + 1 : 0;
        const std::uint64_t vn = c.vn < normalCount_ ? c.vn + 1 : 0;
        return splitter_.vertexFor(c.v, vt | vn << 32);
    }

    void startSplitting() {
        split_ = true;
        splitter_.growPositions(positionCount_);
        // Triangles written so far named positions; each becomes the vertex of its position
        // without attributes.
        for (MeshElement& e : elements_) {
            auto* index = reinterpret_cast<std::uint32_t*>(e.indices.data());
            for (std::size_t i = 0, n = e.indices.size() / 4; i < n; ++i)
                index[i] = splitter_.vertexFor(index[i], 0);
        }
    }

    // A face whose corners all name elements that exist.
    void emitFace(const Corner* c, std::uint32_t n, std::uint32_t material) {
        bool attributes = false;
        for (std::uint32_t k = 0; k < n; ++k) {
            const bool hasTexcoord = c[k].vt < texcoordCount_, hasNormal = c[k].vn < normalCount_;
            anyTexcoord_ |= hasTexcoord;
            cornersWithoutNormal_ += !hasNormal;
            attributes |= hasTexcoord || hasNormal;
        }
        if (attributes && !split_) startSplitting();
        if (split_) splitter_.growPositions(positionCount_);
        MeshElement& e = element(material);
        const std::size_t at = e.indices.size();
        e.indices.resize(at + 12 * std::size_t{n - 2});
        auto* out = reinterpret_cast<std::uint32_t*>(e.indices.data() + at);
        e.primitiveCount += n - 2;
        if (n == 3) {
            out[0] = vertexOf(c[0]);
            out[1] = vertexOf(c[1]);
            out[2] = vertexOf(c[2]);
            return;
        }
        polygon_.resize(n);
        for (std::uint32_t k = 0; k < n; ++k)
            std::memcpy(&polygon_[k], &positions_[std::size_t{c[k].v} * 12], 12);
        local_.resize(3 * (n - 2));
        triangulator_.triangulate(polygon_, local_.data());
        // Each corner's vertex once, whatever the number of triangles it is in.
        ids_.resize(n);
        for (std::uint32_t k = 0; k < n; ++k)
            ids_[k] = vertexOf(c[k]);
        for (std::size_t k = 0; k < local_.size(); ++k)
            out[k] = ids_[local_[k]];
    }

    MeshElement& element(std::uint32_t material) {
        if (material >= elementOf_.size()) elementOf_.resize(material + 1, -1);
        if (elementOf_[material] < 0) {
            elementOf_[material] = static_cast<std::int64_t>(elements_.size());
            elements_.emplace_back();
            elementMaterials_.push_back(material);
        }
        return elements_[static_cast<std::size_t>(elementOf_[material])];
    }

    ByteBuffer positions_, colors_, texcoords_, normals_;  // float triples; pairs for texcoords
    std::size_t positionCount_ = 0, texcoordCount_ = 0, normalCount_ = 0;
    std::uint64_t faceStatements_ = 0, pointStatements_ = 0, cornersRead_ = 0;
    std::vector<Corner> corners_;  // of the face being read
    std::vector<Corner> deferredCorners_;
    struct DeferredFace {
        std::uint32_t size, material;
    };
    std::vector<DeferredFace> deferredFaces_;
    std::vector<std::uint32_t> points_;  // positions, checked at the end

    bool split_ = false;
    VertexSplitter splitter_;
    bool anyTexcoord_ = false;
    std::uint64_t cornersWithoutNormal_ = 0;

    // Material 0 stands for faces before any usemtl.
    std::uint32_t material_ = 0;
    std::vector<std::string> materialNames_{std::string()};
    std::map<std::string, std::uint32_t, std::less<>> materialIndex_;
    std::vector<std::string> libraries_;
    std::vector<MeshElement> elements_;  // in the order their materials are first drawn
    std::vector<std::uint32_t> elementMaterials_;
    std::vector<std::int64_t> elementOf_;  // per material

    PolygonTriangulator triangulator_;
    std::vector<PolygonCorner> polygon_;
    std::vector<std::uint32_t> local_, ids_;
};

ModelAsset OBJReader::finish(const std::filesystem::path& url) {
    // The faces that named elements further down, now that every element is known.
    const Corner* c = deferredCorners_.data();
    for (const DeferredFace& f : deferredFaces_) {
        corners_.assign(c, c + f.size);
        c += f.size;
        bool ok = true;
        for (Corner& k : corners_) {
            ok &= k.v < positionCount_;
            if (k.vt >= texcoordCount_) k.vt = absent;
            if (k.vn >= normalCount_) k.vn = absent;
        }
        if (ok) emitFace(corners_.data(), f.size, f.material);
    }

    ModelAsset asset;
    TextureReferences textures;
    std::map<std::string_view, std::shared_ptr<Material>> byName;
    std::vector<std::shared_ptr<Material>> library =
        obj::readMaterialLibraries(url, libraries_, textures);
    for (const auto& m : library)
        byName.try_emplace(m->name, m);

    MeshBuffers mesh;
    for (std::size_t e = 0; e < elements_.size(); ++e) {
        const std::uint32_t material = elementMaterials_[e];
        auto it = byName.find(materialNames_[material]);
        if (material != 0 && it != byName.end()) elements_[e].material = it->second;
        mesh.elements.push_back(std::move(elements_[e]));
    }
    // Vertices and nothing else: a point cloud.
    const bool pointCloud = faceStatements_ == 0 && pointStatements_ == 0 && positionCount_ > 0;
    if (pointCloud || !points_.empty()) {
        MeshElement& e = mesh.elements.emplace_back();
        e.points = true;
        if (pointCloud) {
            for (std::size_t i = 0; i < positionCount_; ++i)
                points_.push_back(static_cast<std::uint32_t>(i));
        }
        for (std::uint32_t v : points_) {
            if (v >= positionCount_) continue;
            const std::uint32_t vertex = vertexOf({v, absent, absent});
            appendValues(e.indices, &vertex, 1);
            ++e.primitiveCount;
        }
    }
    const bool withNormals = pointCloud ? normalCount_ == positionCount_
                                        : split_ && normalCount_ > 0 && cornersWithoutNormal_ == 0;
    if (!split_) {
        mesh.vertexCount = static_cast<std::int64_t>(positionCount_);
        mesh.positions = std::move(positions_);
        mesh.colors = std::move(colors_);
        if (withNormals) mesh.normals = std::move(normals_);
    } else {
        const std::size_t count = splitter_.vertexCount();
        mesh.vertexCount = static_cast<std::int64_t>(count);
        mesh.positions.resize(count * 12);
        if (!colors_.empty()) mesh.colors.resize(count * 12);
        if (withNormals) mesh.normals.resize(count * 12);
        if (anyTexcoord_) mesh.texcoords.resize(count * 8);
        const std::vector<std::uint32_t>& from = splitter_.positions();
        const std::vector<std::uint64_t>& keys = splitter_.keys();
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t position = from[i];
            std::memcpy(&mesh.positions[i * 12], &positions_[position * 12], 12);
            if (!colors_.empty()) std::memcpy(&mesh.colors[i * 12], &colors_[position * 12], 12);
            const std::size_t vt = static_cast<std::uint32_t>(keys[i]);
            const std::size_t vn = static_cast<std::uint32_t>(keys[i] >> 32);
            // A point's vertex has neither: zeros.
            if (withNormals) {
                if (vn > 0) {
                    std::memcpy(&mesh.normals[i * 12], &normals_[(vn - 1) * 12], 12);
                } else {
                    std::memset(&mesh.normals[i * 12], 0, 12);
                }
            }
            if (anyTexcoord_) {
                if (vt > 0) {
                    std::memcpy(&mesh.texcoords[i * 8], &texcoords_[(vt - 1) * 8], 8);
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

std::size_t obj::textStart(ByteSpan bytes) {
    if (bytes.size() >= 2 &&
        ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        throw modelIOError("The OBJ file is UTF-16 text; OBJ files are read as ASCII or UTF-8");
    }
    return bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
}

std::vector<std::shared_ptr<Material>> obj::readMaterialLibraries(
    const std::filesystem::path& url, const std::vector<std::string>& lines,
    TextureReferences& textures) {
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
    for (const std::string& line : lines) {
        if (line.empty() || readLibrary(line)) continue;
        // Several names on one line.
        const char* p = line.data();
        const char* end = p + line.size();
        while ((p = text::skipBlanks(p, end)) < end) {
            const char* wordEnd = text::skipWord(p, end);
            readLibrary(std::string_view(p, static_cast<std::size_t>(wordEnd - p)));
            p = wordEnd;
        }
    }
    return materials;
}

ModelAsset importOBJ(ByteSpan bytes, const std::filesystem::path& url) {
    const char* begin = reinterpret_cast<const char*>(bytes.data());
    const char* end = begin + bytes.size();
    begin += obj::textStart(bytes);
    OBJReader reader(bytes.size());
    reader.read(begin, end);
    return reader.finish(url);
}

ModelAsset importOBJFile(const std::filesystem::path& url) {
    ByteBuffer bytes = readFileContents(url);
    return importOBJ(bytes, url);
}

}  // namespace kelvo

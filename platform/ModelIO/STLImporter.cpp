#include "platform/ModelIO/STLImporter.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "fast_float/fast_float.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Text.h"

namespace kelvo {

namespace {

constexpr size_t binaryHeaderSize = stlBinaryHeaderSize;
constexpr size_t binaryTriangleSize = stlBinaryTriangleSize;
// From this many triangles a binary file is converted on two threads.
constexpr size_t twoThreadTriangles = 200000;

std::uint32_t readUInt32LE(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The facet normal to store: the file's, made unit length, or the one the vertices give
// when the file's is zero or not finite. A triangle without area gets (0, 0, 0).
void facetNormal(const float fileNormal[3], const float v[9], float out[3]) {
    float nx = fileNormal[0], ny = fileNormal[1], nz = fileNormal[2];
    float len2 = nx * nx + ny * ny + nz * nz;
    if (!(len2 > 0) || !std::isfinite(len2)) {
        float ax = v[3] - v[0], ay = v[4] - v[1], az = v[5] - v[2];
        float bx = v[6] - v[0], by = v[7] - v[1], bz = v[8] - v[2];
        nx = ay * bz - az * by;
        ny = az * bx - ax * bz;
        nz = ax * by - ay * bx;
        len2 = nx * nx + ny * ny + nz * nz;
        if (!(len2 > 0) || !std::isfinite(len2)) {
            out[0] = out[1] = out[2] = 0;
            return;
        }
    }
    float inv = 1.0f / std::sqrt(len2);
    out[0] = nx * inv;
    out[1] = ny * inv;
    out[2] = nz * inv;
}

// One object holding one mesh of unshared vertices, its indices counting up.
void addObject(ModelAsset& asset, std::string name, ByteBuffer positions, ByteBuffer normals,
               std::size_t triangles) {
    ByteBuffer indices(triangles * 12);
    auto* index = reinterpret_cast<std::uint32_t*>(indices.data());
    for (std::uint32_t i = 0, n = static_cast<std::uint32_t>(triangles * 3); i < n; ++i)
        index[i] = i;
    const auto vertices = static_cast<std::int64_t>(triangles * 3);
    std::vector<GeometrySource> sources;
    sources.push_back(
        GeometrySource::floatTriples(std::move(positions), GeometrySemantic::vertex, vertices));
    sources.push_back(
        GeometrySource::floatTriples(std::move(normals), GeometrySemantic::normal, vertices));
    std::vector<GeometryElement> elements;
    elements.push_back(
        GeometryElement::triangles(std::move(indices), static_cast<std::int64_t>(triangles)));
    auto node =
        Node::withGeometry(std::make_shared<Geometry>(std::move(sources), std::move(elements)));
    node->name = std::move(name);
    asset.objects.push_back(std::move(node));
}

// Appends triangles to one mesh's three buffers, which are sized up front for binary files
// and grow geometrically for ASCII ones.
class MeshBuilder {
public:
    explicit MeshBuilder(size_t reserveTriangles = 0) {
        positions_.resize(reserveTriangles * 36);
        normals_.resize(reserveTriangles * 36);
    }

    void addTriangle(const float fileNormal[3], const float v[9]) {
        size_t needed = (triangles_ + 1) * 36;
        if (positions_.size() < needed) {
            size_t grown = positions_.size() < 36 * 64 ? 36 * 64 : positions_.size() * 2;
            positions_.resize(grown);
            normals_.resize(grown);
        }
        float n[3];
        facetNormal(fileNormal, v, n);
        float normals[9] = {n[0], n[1], n[2], n[0], n[1], n[2], n[0], n[1], n[2]};
        std::memcpy(positions_.data() + triangles_ * 36, v, 36);
        std::memcpy(normals_.data() + triangles_ * 36, normals, 36);
        ++triangles_;
    }

    size_t triangleCount() const { return triangles_; }

    // Moves the mesh into `asset` as a top-level object; nothing when empty.
    void finish(ModelAsset& asset, std::string name) {
        if (triangles_ == 0) return;
        positions_.resize(triangles_ * 36);
        normals_.resize(triangles_ * 36);
        addObject(asset, std::move(name), std::move(positions_), std::move(normals_), triangles_);
        positions_ = {};
        normals_ = {};
        triangles_ = 0;
    }

private:
    ByteBuffer positions_;
    ByteBuffer normals_;
    size_t triangles_ = 0;
};

ModelAsset importBinary(ByteSpan bytes, size_t triangleCount) {
    // The hot path of the common case: the three corners are copied as they stand (the file
    // is little-endian, as is every host we build for) and only the normal is computed.
    static_assert(std::endian::native == std::endian::little);
    ModelAsset asset;
    if (triangleCount == 0) return asset;
    ByteBuffer positionBuffer(triangleCount * 36), normalBuffer(triangleCount * 36);
    const std::uint8_t* records = bytes.data() + binaryHeaderSize;
    std::uint8_t* positions = positionBuffer.data();
    std::uint8_t* normals = normalBuffer.data();
    // Triangles [first, last): each is independent of the others.
    auto copy = [&](size_t first, size_t last) {
        const std::uint8_t* p = records + first * binaryTriangleSize;
        for (size_t t = first; t < last; ++t, p += binaryTriangleSize) {
            float fileNormal[3], v[9], n[3];
            std::memcpy(fileNormal, p, 12);
            std::memcpy(v, p + 12, 36);
            facetNormal(fileNormal, v, n);
            float corners[9] = {n[0], n[1], n[2], n[0], n[1], n[2], n[0], n[1], n[2]};
            std::memcpy(positions + t * 36, v, 36);
            std::memcpy(normals + t * 36, corners, 36);
        }
    };
    // A large file's second half goes to a second core; a thread costs more than it saves
    // on a small one, and where none can be started the first does all.
    const size_t half = triangleCount >= twoThreadTriangles ? triangleCount / 2 : triangleCount;
    std::optional<std::thread> second;
    if (half < triangleCount) {
        try {
            second.emplace(copy, half, triangleCount);
        } catch (const std::system_error&) {
        }
    }
    copy(0, half);
    if (second) {
        second->join();
    } else {
        copy(half, triangleCount);
    }
    addObject(asset, {}, std::move(positionBuffer), std::move(normalBuffer), triangleCount);
    return asset;
}

bool isSpace(std::uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A cursor over ASCII STL text. Every read stops at the end of the buffer.
class Tokenizer {
public:
    explicit Tokenizer(ByteSpan bytes)
        : p_(reinterpret_cast<const char*>(bytes.data())), end_(p_ + bytes.size()) {}

    // The next white-space separated word, or an empty view at the end.
    std::string_view next() {
        while (p_ < end_ && isSpace(static_cast<std::uint8_t>(*p_)))
            ++p_;
        const char* start = p_;
        while (p_ < end_ && !isSpace(static_cast<std::uint8_t>(*p_)))
            ++p_;
        return {start, static_cast<size_t>(p_ - start)};
    }

    // The rest of the current line, without surrounding white space.
    std::string_view restOfLine() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t'))
            ++p_;
        const char* start = p_;
        while (p_ < end_ && *p_ != '\n' && *p_ != '\r')
            ++p_;
        const char* stop = p_;
        while (stop > start && isSpace(static_cast<std::uint8_t>(stop[-1])))
            --stop;
        return {start, static_cast<size_t>(stop - start)};
    }

    // The next word as a number in C-locale notation; a word that does not start with one
    // gives a non-number, so the vertex or normal it belongs to is recognisably broken.
    float number() {
        std::string_view word = next();
        const char* first = word.data();
        const char* last = first + word.size();
        if (first < last && *first == '+') ++first;  // from_chars takes no leading '+'
        float value = std::numeric_limits<float>::quiet_NaN();
        fast_float::from_chars(first, last, value);
        return value;
    }

    bool atEnd() {
        while (p_ < end_ && isSpace(static_cast<std::uint8_t>(*p_)))
            ++p_;
        return p_ >= end_;
    }

private:
    const char* p_;
    const char* end_;
};

// Lenient ASCII reading: keywords may come in any case, words between them that are not
// understood are skipped, a facet without "endfacet" ends at the next facet or solid, and a
// facet with more than three vertices is cut into a fan of triangles. Calls
// triangle(fileNormal, corners) for each triangle and endSolid(name) where a solid ends.
template <class OnTriangle, class OnEndSolid>
void walkASCII(ByteSpan bytes, const OnTriangle& triangle, const OnEndSolid& endSolid) {
    Tokenizer tokens(bytes);
    std::string_view solidName;
    float fileNormal[3] = {0, 0, 0};
    float corners[9];
    int cornerCount = 0;

    auto endFacet = [&] {
        cornerCount = 0;
        fileNormal[0] = fileNormal[1] = fileNormal[2] = 0;
    };

    while (!tokens.atEnd()) {
        std::string_view word = tokens.next();
        if (equalsIgnoringASCIICase(word, "vertex")) {
            float v[3] = {tokens.number(), tokens.number(), tokens.number()};
            if (cornerCount < 3) {
                std::memcpy(corners + 3 * cornerCount, v, 12);
                ++cornerCount;
                if (cornerCount == 3) triangle(fileNormal, corners);
            } else {
                // Fan: (first, previous, this).
                std::memcpy(corners + 3, corners + 6, 12);
                std::memcpy(corners + 6, v, 12);
                triangle(fileNormal, corners);
            }
        } else if (equalsIgnoringASCIICase(word, "facet")) {
            endFacet();
        } else if (equalsIgnoringASCIICase(word, "normal")) {
            for (float& n : fileNormal)
                n = tokens.number();
        } else if (equalsIgnoringASCIICase(word, "endfacet")) {
            endFacet();
        } else if (equalsIgnoringASCIICase(word, "solid")) {
            endFacet();
            endSolid(solidName);
            solidName = tokens.restOfLine();
        } else if (equalsIgnoringASCIICase(word, "endsolid")) {
            endFacet();
            endSolid(solidName);
            tokens.restOfLine();
            solidName = {};
        }
    }
    endSolid(solidName);
}

ModelAsset importASCII(ByteSpan bytes) {
    ModelAsset asset;
    MeshBuilder builder;
    walkASCII(
        bytes,
        [&](const float fileNormal[3], const float corners[9]) {
            builder.addTriangle(fileNormal, corners);
        },
        [&](std::string_view name) { builder.finish(asset, std::string(name)); });
    return asset;
}

bool startsWithSolid(ByteSpan bytes) {
    size_t i = 0;
    while (i < bytes.size() && isSpace(bytes[i]))
        ++i;
    return bytes.size() - i >= 5 && std::memcmp(bytes.data() + i, "solid", 5) == 0;
}

}  // namespace

STLLayout stlLayout(ByteSpan bytes) {
    if (bytes.size() >= binaryHeaderSize) {
        std::uint64_t declared = readUInt32LE(bytes.data() + 80);
        std::uint64_t held = (bytes.size() - binaryHeaderSize) / binaryTriangleSize;
        if (binaryHeaderSize + declared * binaryTriangleSize == bytes.size()) {
            return {STLLayout::binary, declared};
        }
        if (!startsWithSolid(bytes)) {
            return {STLLayout::binary, declared < held ? declared : held};
        }
    }
    if (startsWithSolid(bytes)) return {STLLayout::ascii, 0};
    return {};
}

void visitASCIISTLTriangles(ByteSpan bytes, const STLTriangleVisitor& visit) {
    walkASCII(bytes, visit, [](std::string_view) {});
}

ModelAsset importSTL(ByteSpan bytes) {
    const STLLayout layout = stlLayout(bytes);
    if (layout.kind == STLLayout::binary) {
        return importBinary(bytes, static_cast<size_t>(layout.binaryTriangles));
    }
    if (layout.kind == STLLayout::ascii) return importASCII(bytes);
    return {};
}

ModelAsset importSTLFile(const std::filesystem::path& url) {
    ByteBuffer bytes = readFileContents(url);
    return importSTL(bytes);
}

}  // namespace kelvo

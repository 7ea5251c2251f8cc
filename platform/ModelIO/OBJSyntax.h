// The statements of OBJ text as the importer reads them (OBJImporter.h says which and how),
// shared with the streaming reader (OBJStream.h) so that both read every line alike.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/TextScanning.h"
#include "platform/ModelIO/TextureReferences.h"
#include "platform/SceneKit/Material.h"

namespace kelvo::obj {

// Index values after resolution: 0-based, or one of these.
inline constexpr std::uint32_t absent = 0xFFFFFFFF;   // none given (v//vn)
inline constexpr std::uint32_t invalid = 0xFFFFFFFE;  // zero, or counting back past the start

struct Corner {
    std::uint32_t v, vt, vn;
};

// A written index (1-based; negative counts back from the latest of `count` elements).
inline std::uint32_t resolve(std::int64_t index, std::size_t count) {
    if (index > 0) return index - 1 < invalid ? static_cast<std::uint32_t>(index - 1) : invalid;
    if (index < 0 && static_cast<std::uint64_t>(-index) <= count) {
        return static_cast<std::uint32_t>(static_cast<std::int64_t>(count) + index);
    }
    return invalid;
}

enum class Statement { other, vertex, texcoord, normal, face, point, useMaterial, materialLibrary };

inline bool keyword(const char* p, const char* end, std::string_view word) {
    return static_cast<std::size_t>(end - p) > word.size() &&
           std::memcmp(p, word.data(), word.size()) == 0 && text::isBlank(p[word.size()]);
}

// What the line [p, end) says; `p` is moved past leading blanks and the keyword.
inline Statement statementOf(const char*& p, const char* end) {
    p = text::skipBlanks(p, end);
    if (end - p < 2) return Statement::other;
    const char c0 = p[0], c1 = p[1];
    if (c0 == 'v') {
        if (text::isBlank(c1)) {
            p += 2;
            return Statement::vertex;
        }
        if (end - p > 2 && text::isBlank(p[2]) && (c1 == 't' || c1 == 'n')) {
            p += 3;
            return c1 == 't' ? Statement::texcoord : Statement::normal;
        }
        return Statement::other;
    }
    if (c0 == 'f' && text::isBlank(c1)) {
        p += 2;
        return Statement::face;
    }
    if (c0 == 'p' && text::isBlank(c1)) {
        p += 2;
        return Statement::point;
    }
    if (keyword(p, end, "usemtl")) {
        p += 6;
        return Statement::useMaterial;
    }
    if (keyword(p, end, "mtllib")) {
        p += 6;
        return Statement::materialLibrary;
    }
    return Statement::other;
}

// The numbers of a v statement: x y z, then a colour from the fourth to the sixth ("x y z
// w" has none; seven numbers are read as x y z r g b and one more). How many were read.
inline int readVertex(const char* p, const char* end, float (&v)[7]) {
    int n = 0;
    while (n < 7 && text::readFloat(p, end, v[n]))
        ++n;
    return n;
}

// How many elements of each kind come before a statement: what indices resolve against.
struct ElementCounts {
    std::size_t positions = 0, texcoords = 0, normals = 0;
};

// The corners of an f statement, until the end of the line or the first word that is not
// one, resolved against `counts`; no more than one past `limit`.
inline void readFaceCorners(const char* p, const char* end, const ElementCounts& counts,
                            std::vector<Corner>& corners, std::size_t limit = SIZE_MAX) {
    corners.clear();
    while (corners.size() <= limit) {
        p = text::skipBlanks(p, end);
        std::int64_t v, vt = 0, vn = 0;
        if (p >= end || !text::readInteger(p, end, v)) break;
        if (p < end && *p == '/') {
            ++p;
            text::readInteger(p, end, vt);
            if (p < end && *p == '/') {
                ++p;
                text::readInteger(p, end, vn);
            }
        }
        corners.push_back({resolve(v, counts.positions),
                           vt ? resolve(vt, counts.texcoords) : absent,
                           vn ? resolve(vn, counts.normals) : absent});
    }
}

// Where the text of an OBJ file starts (past a UTF-8 byte order mark); throws a ModelIO
// error for UTF-16 text, of which nothing could be read as OBJ.
std::size_t textStart(ByteSpan bytes);

// The materials of the libraries named by the mtllib lines `lines` (each the rest of its
// line) of the OBJ file at `url`, in order; textures they name go to `textures`.
std::vector<std::shared_ptr<Material>> readMaterialLibraries(const std::filesystem::path& url,
                                                             const std::vector<std::string>& lines,
                                                             TextureReferences& textures);

}  // namespace kelvo::obj

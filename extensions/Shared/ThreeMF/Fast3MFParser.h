// Fast3MFParser: turns the bytes of one 3MF model part into flat vertex and index buffers
// without a document tree, an XML parser or a string per number.
//
// It recognises seven element openings by byte comparison at each '<' (the constants
// below; all but "<mesh" end in a blank, and names are compared byte for byte, so other
// letter cases, namespace prefixes and the container elements are skipped) and reads the few
// attributes it needs by looking for a white-space byte, the name, '=' and '"'. It never
// fails: what it does not recognise is skipped, and at worst the result is empty.
//
// Quirks that are part of the contract (tests pin them down):
//   - Tag end: just after the first '>' at or after the element's '<' + 1, quotes not
//     looked at; the data length when there is none.
//   - Vertex coordinates x, y, z and triangle indices v1, v2, v3 follow a blank, tab, line
//     feed or carriage return; other attributes (id, objectid, path, p:path, transform)
//     only a blank or tab. Values must be written name="value": no blanks around '=', no
//     single quotes. A repeated attribute gives its first occurrence; a missing coordinate
//     is 0, a missing index 0.
//   - The current object id is set by each <object with a usable id and never reset; a
//     mesh is filed under the id current when it ends. A mesh opens at "<mesh" followed by
//     white space, '/' or '>' (so a self-closing mesh stays open) and closes at "</mesh" or
//     at the end of the data. Meshes without a vertex or without a triangle are dropped.
//   - Components and build items are recognised anywhere, inside meshes too.
//   - Numbers are read as the C library reads them in the C locale (ThreeMFNumbers.h);
//     a coordinate or transform number may run past its closing quote only where the
//     C library would.
//
// Cost: two linear passes; the first counts vertex and triangle openings so that the two
// output buffers are allocated once, at their final size, and written in place. Memory
// beyond the result: nothing of the size of the input (the input is neither copied nor
// modified). A large part is cut in two at an element boundary and the second piece scanned
// on a second thread, assuming it starts inside a mesh (it is scanned again in the rare
// case it does not); the pieces' results are joined in document order, the same result as
// one scan gives.
//
// Thread safety: no shared mutable state; calls may run concurrently on any threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

// Twelve numbers as the 3MF transform attribute writes them: the 3x3 linear part row by
// row (m00 m01 m02 m10 m11 m12 m20 m21 m22), then the translation (m30 m31 m32).
using ThreeMFTransform = std::array<float, 12>;
inline constexpr ThreeMFTransform threeMFIdentityTransform = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};

// One mesh: `positionData` holds vertexCount x (x, y, z) as little-endian 32-bit floats,
// stride 12; `indexData` holds triangleCount x (v1, v2, v3) as little-endian unsigned 32-bit
// integers, stride 12. Both counts are at least 1. Indices are zero-based within this mesh
// and NOT checked against vertexCount: every consumer must check them.
struct ThreeMFMesh {
    ByteBuffer positionData;
    ByteBuffer indexData;
    std::int64_t vertexCount = 0;
    std::int64_t triangleCount = 0;
    // Its place among the meshes the part closes, dropped ones included (0 for the first):
    // what names it when the part is read once more (Stream::handTrianglesTo).
    std::int64_t partOrdinal = 0;
};

// A <component>: `path` from p:path, else from path, else absent (an object of the same
// part); `transform` the attribute's twelve numbers or the identity.
struct ThreeMFComponent {
    std::optional<std::string> path;
    std::uint32_t objectId = 0;
    ThreeMFTransform transform = threeMFIdentityTransform;
};

// A build <item>.
struct ThreeMFBuildItem {
    std::uint32_t objectId = 0;
    ThreeMFTransform transform = threeMFIdentityTransform;
};

struct Fast3MFParser {
    Fast3MFParser() = delete;

    struct ParseResult {
        // For each object id, the meshes that ended while it was current, in document order.
        std::map<std::uint32_t, std::vector<ThreeMFMesh>> meshes;
        // Every accepted <component and <item, wherever it stands, in document order.
        std::vector<ThreeMFComponent> components;
        std::vector<ThreeMFBuildItem> buildItems;
    };

    // The byte patterns, compared at each '<'.
    static constexpr std::string_view objectTag = "<object ";
    static constexpr std::string_view meshStart = "<mesh";
    static constexpr std::string_view meshEnd = "</mesh";
    static constexpr std::string_view vertexTag = "<vertex ";
    static constexpr std::string_view triangleTag = "<triangle ";
    static constexpr std::string_view componentTag = "<component ";
    static constexpr std::string_view itemTag = "<item ";

    // Scans one model part. Never fails (only running out of memory throws).
    static ParseResult parse(ByteSpan data);
    // The same, cut in two pieces at `cut` whatever the part's size when `cut` is a '<' that
    // follows a '>' and white space only (so that one scan would start an element there);
    // at any other `cut` in one piece. For tests.
    static ParseResult parseInTwoPieces(ByteSpan data, size_t cut);

    // parse() of a model part that is handed over in pieces and never held whole (a part
    // inflated as it is read, ZIPReader::streamEntry): feed() the pieces in order, then
    // finish() gives the result parse() gives for all of them joined. Bytes are kept until
    // some `scanBytes` have come, then scanned up to the last point where one scan would
    // start an element (as parseInTwoPieces cuts); the rest waits for the next piece. When
    // no such point comes within `longestElement` bytes (an element or text that long),
    // feed() throws the "SceneLoader" error longElementIn3MF. Memory: what is kept, the
    // records of the meshes found so far, and nothing else of the size of the part.
    class Stream {
    public:
        explicit Stream(size_t scanBytes = size_t{8} << 20,
                        size_t longestElement = size_t{64} << 20);
        void feed(ByteSpan piece);
        ParseResult finish();

        // The triangles of the mesh numbered `mesh` (ThreeMFMesh::partOrdinal), some at a
        // time and in order, as vertex index triples.
        using TriangleSink =
            std::function<void(std::int64_t mesh, const std::uint32_t* indices, size_t count)>;
        // From now on triangles are handed to `sink` (which may be empty) and not kept:
        // the meshes of the result count them but hold no indices, and hold no positions
        // either unless `keepVertices`. So a part too large to hold as triangles is read
        // once for its vertices and again for its triangles, in bounded memory.
        void handTrianglesTo(TriangleSink sink, bool keepVertices);

    private:
        void scan(size_t end);
        ParseResult result_;
        ByteBuffer pending_;
        ByteBuffer positions_, indices_;  // the records of one scan
        size_t scanBytes_, waitFor_, longestElement_;
        bool inMesh_ = false;
        std::uint32_t objectId_ = 0;
        ThreeMFMesh open_;         // the records of the mesh open at the end of the last scan
        std::int64_t closed_ = 0;  // meshes closed so far
        bool keepTriangles_ = true, keepVertices_ = true;
        TriangleSink sink_;
    };

    // The helpers below work on an element that starts (at its '<') at `from` and whose tag
    // ends at `to` (from < to <= bytes.size()).

    // The value of attribute `name`: found after a blank or tab as name="; absent when not
    // found, when empty, or when not valid UTF-8. The value ends at the next '"' or at `to`;
    // it is not trimmed and no entity is decoded.
    static std::optional<std::string> parseStringAttr(ByteSpan bytes, size_t from, size_t to,
                                                      std::string_view name);
    // The transform attribute: exactly 12 numbers separated by blanks or tabs (numbers after
    // the twelfth are ignored), else the identity.
    static ThreeMFTransform parseTransformAttr(ByteSpan bytes, size_t from, size_t to);
    // The record, or nothing when objectid is missing or not a whole 32-bit decimal.
    static std::optional<ThreeMFComponent> parseComponent(ByteSpan bytes, size_t from, size_t to);
    static std::optional<ThreeMFBuildItem> parseBuildItem(ByteSpan bytes, size_t from, size_t to);
};

}  // namespace kelvo

#include "extensions/Shared/ThreeMF/Fast3MFParser.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/ThreeMF/ThreeMFNumbers.h"
#include "platform/Foundation/UTF8.h"

namespace kelvo {

static_assert(std::endian::native == std::endian::little,
              "the output buffers are written as little-endian machine words");

namespace {

using Index = std::int64_t;

// Blank or tab: the separators before id, objectid, path, p:path and transform.
bool isBlankOrTab(std::uint8_t c) {
    return c == ' ' || c == '\t';
}
// The four separators before vertex coordinates and triangle indices.
bool isAttributeSpace(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool matches(const std::uint8_t* at, std::string_view pattern) {
    return std::memcmp(at, pattern.data(), pattern.size()) == 0;
}

Index find(const std::uint8_t* b, Index from, Index end, std::uint8_t c);

// Just after the first '>' at or after from + 1, or `end` when there is none.
Index tagEnd(const std::uint8_t* b, Index from, Index end) {
    if (from + 1 >= end) return end;
    const Index gt = find(b, from + 1, end, '>');
    return gt < end ? gt + 1 : end;
}

// The index of the blank or tab before `name="` in [from, to), or -1.
Index findAttribute(const std::uint8_t* b, Index from, Index to, std::string_view name) {
    const Index length = static_cast<Index>(name.size());
    const Index limit = to - length - 2;
    for (Index k = from; k < limit; ++k) {
        if (isBlankOrTab(b[k]) && b[k + 1 + length] == '=' && b[k + 2 + length] == '"' &&
            std::memcmp(b + k + 1, name.data(), name.size()) == 0) {
            return k;
        }
    }
    return -1;
}

// The attribute's value as bytes (no copy), or nothing (absent, empty or not UTF-8).
std::optional<std::string_view> stringAttribute(const std::uint8_t* b, Index from, Index to,
                                                std::string_view name) {
    const Index k = findAttribute(b, from, to, name);
    if (k < 0) return std::nullopt;
    const Index start = k + static_cast<Index>(name.size()) + 3;
    if (start >= to || b[start] == '"') return std::nullopt;
    const void* quote = std::memchr(b + start, '"', static_cast<size_t>(to - start));
    const Index end = quote ? static_cast<const std::uint8_t*>(quote) - b : to;
    ByteSpan value(b + start, static_cast<size_t>(end - start));
    if (!isValidUTF8(value)) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(value.data()), value.size());
}

// `dataEnd` bounds the number reader, which may run past the tag where strtof would.
ThreeMFTransform transformAttribute(const std::uint8_t* b, Index from, Index to, Index dataEnd) {
    const Index k = findAttribute(b, from, to, "transform");
    if (k < 0) return threeMFIdentityTransform;
    ThreeMFTransform values{};
    const std::uint8_t* p = b + k + 12;  // after ` transform="`
    const std::uint8_t* end = b + dataEnd;
    int count = 0;
    while (count < 12) {
        CFloatParse number = parseCFloat(p, end);
        if (number.next == p) break;
        values[count++] = number.value;
        p = number.next;
        while (p < end && isBlankOrTab(*p))
            ++p;
    }
    return count == 12 ? values : threeMFIdentityTransform;
}

std::optional<std::uint32_t> objectIdAttribute(const std::uint8_t* b, Index from, Index to) {
    std::optional<std::string_view> text = stringAttribute(b, from, to, "objectid");
    return text ? parseWholeUInt32(*text) : std::nullopt;
}

std::optional<ThreeMFComponent> component(const std::uint8_t* b, Index from, Index to,
                                          Index dataEnd) {
    std::optional<std::uint32_t> objectId = objectIdAttribute(b, from, to);
    if (!objectId) return std::nullopt;
    ThreeMFComponent record;
    std::optional<std::string_view> path = stringAttribute(b, from, to, "p:path");
    if (!path) path = stringAttribute(b, from, to, "path");
    if (path) record.path = std::string(*path);
    record.objectId = *objectId;
    record.transform = transformAttribute(b, from, to, dataEnd);
    return record;
}

std::optional<ThreeMFBuildItem> buildItem(const std::uint8_t* b, Index from, Index to,
                                          Index dataEnd) {
    std::optional<std::uint32_t> objectId = objectIdAttribute(b, from, to);
    if (!objectId) return std::nullopt;
    return ThreeMFBuildItem{*objectId, transformAttribute(b, from, to, dataEnd)};
}

// Pass 1: upper bounds of the vertices and triangles pass 2 can write at the openings in
// [from, to). Pass 2 recognises an opening only at an index that passes the same test here,
// so it never writes more.
void countOpenings(const std::uint8_t* b, Index n, Index from, Index to, Index& vertices,
                   Index& triangles) {
    vertices = triangles = 0;
    const Index bound = std::min(to, n - 8);
    auto count = [&](Index i) {
        if (matches(b + i, Fast3MFParser::vertexTag)) {
            ++vertices;
        } else if (i < n - 10 && matches(b + i, Fast3MFParser::triangleTag)) {
            ++triangles;
        }
    };
    Index i = from;
#if defined(__SSE2__)
    // Sixteen bytes per step: a bit mask of the '<' among them, then only those are tested.
    const __m128i opening = _mm_set1_epi8('<');
    for (; i + 16 <= bound; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, opening)));
        for (; mask != 0; mask &= mask - 1)
            count(i + std::countr_zero(mask));
    }
#endif
    for (; i < bound; ++i) {
        if (b[i] == '<') count(i);
    }
}

// The first index at or after `from` holding `c`, or `end`. Elements of a model part are
// mostly a few bytes apart, where a plain loop beats the call to memchr.
Index find(const std::uint8_t* b, Index from, Index end, std::uint8_t c) {
    const Index near = from + 16 < end ? from + 16 : end;
    for (; from < near; ++from) {
        if (b[from] == c) return from;
    }
    if (from >= end) return end;
    const void* hit = std::memchr(b + from, c, static_cast<size_t>(end - from));
    return hit ? static_cast<const std::uint8_t*>(hit) - b : end;
}

// The state the bytes before a piece of the part leave for it. The part's first piece starts
// outside a mesh under object id 0. A later piece scanned while the one before it is still
// being scanned assumes it starts inside a mesh, under an object id not yet known.
struct PieceStart {
    bool inMesh = false;
    bool objectKnown = true;
    std::uint32_t objectId = 0;
};

// A mesh as the scan closed it: its records in the shared buffers.
struct MeshRange {
    Index firstVertex, vertexEnd, firstTriangle, triangleEnd;
    std::uint32_t objectId;
    bool objectKnown;  // false: closed in a later piece before any <object there
    bool continued;    // opened before its piece
};

// Pass 2's state over one piece [begin, end) of a model part: it writes its records into the
// shared buffers from the record indices it starts with, below the limits.
struct Piece {
    Index begin = 0, end = 0;
    Index vertexCount = 0, vertexLimit = 0;  // record indices in the shared buffers
    Index triangleCount = 0, triangleLimit = 0;
    bool inMesh = false;
    bool meshContinued = false;
    Index meshFirstVertex = 0, meshFirstTriangle = 0;
    bool objectKnown = true;
    std::uint32_t objectId = 0;
    std::vector<MeshRange> meshes;
    std::vector<ThreeMFComponent> components;
    std::vector<ThreeMFBuildItem> buildItems;

    Piece(Index from, Index to, PieceStart start, Index vertexBase, Index vertexCapacity,
          Index triangleBase, Index triangleCapacity)
        : begin(from),
          end(to),
          vertexCount(vertexBase),
          vertexLimit(vertexBase + vertexCapacity),
          triangleCount(triangleBase),
          triangleLimit(triangleBase + triangleCapacity),
          inMesh(start.inMesh),
          meshContinued(start.inMesh),
          meshFirstVertex(vertexBase),
          meshFirstTriangle(triangleBase),
          objectKnown(start.objectKnown),
          objectId(start.objectId) {}

    void closeMesh() {
        meshes.push_back({meshFirstVertex, vertexCount, meshFirstTriangle, triangleCount, objectId,
                          objectKnown, meshContinued});
        inMesh = false;
    }
};

// Pass 2 over one piece.
class Scanner {
public:
    Scanner(ByteSpan data, std::uint8_t* positions, std::uint8_t* indices, Piece& piece)
        : b_(data.data()),
          n_(static_cast<Index>(data.size())),
          positions_(positions),
          indices_(indices),
          p_(piece) {}

    void run() {
        Index i = p_.begin;
        while ((i = find(b_, i, p_.end, '<')) < p_.end)
            i = step(i);
    }

private:
    // One element at the '<' at i; returns where scanning goes on. The seven patterns
    // differ in their second byte, so at most one can match and the order of the tests
    // cannot matter; each is tried only below its own bound.
    Index step(Index i) {
        const std::uint8_t second = i + 1 < n_ ? b_[i + 1] : 0;
        switch (second) {
            case 'o':
                if (i < n_ - 8 && matches(b_ + i, Fast3MFParser::objectTag)) return object(i);
                break;
            case '/':
                if (p_.inMesh && i < n_ - 6 && matches(b_ + i, Fast3MFParser::meshEnd)) {
                    p_.closeMesh();
                    return i + 6;
                }
                break;
            case 'v':
                if (p_.inMesh && i < n_ - 8 && matches(b_ + i, Fast3MFParser::vertexTag)) {
                    return vertex(i);
                }
                break;
            case 't':
                if (p_.inMesh && i < n_ - 10 && matches(b_ + i, Fast3MFParser::triangleTag)) {
                    return triangle(i);
                }
                break;
            case 'm':
                if (!p_.inMesh && i < n_ - 5 && matches(b_ + i, Fast3MFParser::meshStart)) {
                    return openMesh(i + 5);
                }
                break;
            case 'c':
                if (i < n_ - 12 && matches(b_ + i, Fast3MFParser::componentTag)) {
                    const Index e = tagEnd(b_, i, n_);
                    if (auto c = component(b_, i, e, n_)) p_.components.push_back(std::move(*c));
                    return e;
                }
                break;
            case 'i':
                if (i < n_ - 6 && matches(b_ + i, Fast3MFParser::itemTag)) {
                    const Index e = tagEnd(b_, i, n_);
                    if (auto item = buildItem(b_, i, e, n_)) p_.buildItems.push_back(*item);
                    return e;
                }
                break;
            default:
                break;
        }
        return i + 1;
    }

    Index object(Index i) {
        const Index e = tagEnd(b_, i, n_);
        if (std::optional<std::string_view> id = stringAttribute(b_, i, e, "id")) {
            if (std::optional<std::uint32_t> value = parseWholeUInt32(*id)) {
                p_.objectId = *value;
                p_.objectKnown = true;
            }
        }
        return e;
    }

    // `i` is just after "<mesh".
    Index openMesh(Index i) {
        const std::uint8_t c = b_[i];
        if (c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '/' || c == '>') {
            p_.inMesh = true;
            p_.meshContinued = false;
            p_.meshFirstVertex = p_.vertexCount;
            p_.meshFirstTriangle = p_.triangleCount;
        }
        return i;
    }

    // The usual spelling, <vertex x="X" y="Y" z="Z", with each value starting at a number
    // byte, is read straight through. For it the general rule finds the same values: no
    // white space precedes these three matches, so each is its letter's first; and no '>'
    // precedes them, so they lie inside the tag. Any other spelling takes the general path.
    Index vertex(Index i) {
        float xyz[3] = {0, 0, 0};
        Index e;
        if (!usualVertex(i, xyz, e)) e = anyVertex(i, xyz);
        if (p_.vertexCount < p_.vertexLimit) {
            std::memcpy(positions_ + p_.vertexCount * 12, xyz, 12);
            ++p_.vertexCount;
        }
        return e;
    }

    bool usualVertex(Index i, float xyz[3], Index& e) const {
        const std::uint8_t* p = b_ + i + 8;  // after "<vertex "
        const std::uint8_t* end = b_ + n_;
        for (int axis = 0; axis < 3; ++axis) {
            if (axis > 0) {
                if (end - p < 2 || p[0] != '"' || p[1] != ' ') return false;
                p += 2;
            }
            if (end - p < 4 || p[0] != 'x' + axis || p[1] != '=' || p[2] != '"' ||
                cNumberDetail::isCSpace(p[3])) {
                return false;
            }
            CFloatParse number = parseCFloat(p + 3, end);
            xyz[axis] = number.value;
            p = number.next;
        }
        e = tagEnd(b_, p - b_ - 1, n_);
        return true;
    }

    // The attribute values are found through their '=' (a few per element, so the search
    // skips the rest): a match at k (white space, name, '=', '"') has its '=' at k + name
    // length + 1, and taking the '=' in order takes the matches in order of k.
    Index anyVertex(Index i, float xyz[3]) const {
        const Index e = tagEnd(b_, i, n_);
        int found = 0;  // bit per coordinate
        for (Index q = i + 2; q + 1 < e && found != 7; ++q) {
            q = find(b_, q, e - 1, '=');
            if (q >= e - 1) break;
            const unsigned axis = static_cast<unsigned>(b_[q - 1]) - 'x';
            if (axis < 3 && !(found & (1 << axis)) && isAttributeSpace(b_[q - 2]) &&
                b_[q + 1] == '"') {
                found |= 1 << axis;
                xyz[axis] = parseCFloat(b_ + q + 2, b_ + n_).value;
            }
        }
        return e;
    }

    // As for vertices: <triangle v1="A" v2="B" v3="C" with each value starting at a digit is
    // read straight through, anything else by the general rule.
    Index triangle(Index i) {
        std::uint32_t v[3] = {0, 0, 0};
        Index e;
        if (!usualTriangle(i, v, e)) e = anyTriangle(i, v);
        if (p_.triangleCount < p_.triangleLimit) {
            std::memcpy(indices_ + p_.triangleCount * 12, v, 12);
            ++p_.triangleCount;
        }
        return e;
    }

    bool usualTriangle(Index i, std::uint32_t v[3], Index& e) const {
        const std::uint8_t* p = b_ + i + 10;  // after "<triangle "
        const std::uint8_t* end = b_ + n_;
        for (int which = 0; which < 3; ++which) {
            if (which > 0) {
                if (end - p < 2 || p[0] != '"' || p[1] != ' ') return false;
                p += 2;
            }
            if (end - p < 5 || p[0] != 'v' || p[1] != '1' + which || p[2] != '=' || p[3] != '"' ||
                !cNumberDetail::isDigit(p[4])) {
                return false;
            }
            p += 4;
            const std::uint8_t* digits = p;
            std::uint64_t value = 0;  // may wrap past 19 digits; then read again below
            while (p < end && cNumberDetail::isDigit(*p))
                value = value * 10 + (*p++ - '0');
            // Nine digits cannot exceed 32 bits; longer values take the careful reader.
            v[which] = p - digits <= 9 ? static_cast<std::uint32_t>(value)
                                       : parseTriangleIndex(digits, end);
        }
        e = tagEnd(b_, p - b_ - 1, n_);
        return true;
    }

    Index anyTriangle(Index i, std::uint32_t v[3]) const {
        const Index e = tagEnd(b_, i, n_);
        int found = 0;
        for (Index q = i + 3; q + 1 < e && found != 7; ++q) {
            q = find(b_, q, e - 1, '=');
            if (q >= e - 1) break;
            const unsigned which = static_cast<unsigned>(b_[q - 1]) - '1';
            if (which < 3 && !(found & (1 << which)) && b_[q - 2] == 'v' &&
                isAttributeSpace(b_[q - 3]) && b_[q + 1] == '"') {
                found |= 1 << which;
                v[which] = parseTriangleIndex(b_ + q + 2, b_ + n_);
            }
        }
        return e;
    }

    const std::uint8_t* b_;
    const Index n_;
    std::uint8_t* positions_;
    std::uint8_t* indices_;
    Piece& p_;
};

// The mesh's records [first, first + count) of a shared buffer. A mesh that covers the
// whole buffer (the usual single-mesh part) takes it without a copy; no later mesh can have
// records then, since the capacity is used up.
ByteBuffer takeRange(ByteBuffer& shared, Index first, Index count, Index capacity) {
    if (first == 0 && count == capacity) return std::move(shared);
    const std::uint8_t* begin = shared.data() + first * 12;
    return ByteBuffer(begin, begin + count * 12);
}

// Files the closed meshes, in document order, under the object id current at their end;
// meshes without a vertex or without a triangle are dropped.
void fileMeshes(const std::vector<MeshRange>& ranges, ByteBuffer& positions, Index vertexCapacity,
                ByteBuffer& indices, Index triangleCapacity, Fast3MFParser::ParseResult& result) {
    for (const MeshRange& range : ranges) {
        const Index vertices = range.vertexEnd - range.firstVertex;
        const Index triangles = range.triangleEnd - range.firstTriangle;
        if (vertices < 1 || triangles < 1) continue;
        ThreeMFMesh mesh;
        mesh.positionData = takeRange(positions, range.firstVertex, vertices, vertexCapacity);
        mesh.indexData = takeRange(indices, range.firstTriangle, triangles, triangleCapacity);
        mesh.vertexCount = vertices;
        mesh.triangleCount = triangles;
        result.meshes[range.objectId].push_back(std::move(mesh));
    }
}

// Parts from this size are scanned in two pieces on two threads.
constexpr size_t twoPieceBytes = size_t{4} << 20;

// Whether the sequential scan reaches the '<' at `cut` as an element's start, whatever came
// before: it follows a '>' with only white space between. Every element that starts before
// that '>' ends at it at the latest (tags end at their first '>', and nothing the scanner
// reads inside a tag runs past one), so no jump crosses the cut.
bool isCut(ByteSpan data, size_t cut) {
    if (cut == 0 || cut >= data.size() || data[cut] != '<') return false;
    size_t j = cut;
    while (j > 0 && isAttributeSpace(data[j - 1]))
        --j;
    return j > 0 && data[j - 1] == '>';
}

// A cut after the middle at a vertex or triangle, so that the second piece most likely
// starts inside a mesh, as it assumes; 0 when there is none near.
size_t findCut(ByteSpan data) {
    const std::uint8_t* b = data.data();
    const Index n = static_cast<Index>(data.size());
    const Index limit = std::min(n - 10, n / 2 + (Index{1} << 20));
    for (Index i = n / 2; (i = find(b, i, limit, '<')) < limit; ++i) {
        if ((matches(b + i, Fast3MFParser::vertexTag) ||
             matches(b + i, Fast3MFParser::triangleTag)) &&
            isCut(data, static_cast<size_t>(i))) {
            return static_cast<size_t>(i);
        }
    }
    return 0;
}

Fast3MFParser::ParseResult scanInOne(ByteSpan data) {
    Fast3MFParser::ParseResult result;
    const Index n = static_cast<Index>(data.size());
    Index vertexCapacity, triangleCapacity;
    countOpenings(data.data(), n, 0, n, vertexCapacity, triangleCapacity);
    ByteBuffer positions(static_cast<size_t>(vertexCapacity) * 12);
    ByteBuffer indices(static_cast<size_t>(triangleCapacity) * 12);
    Piece piece(0, n, {}, 0, vertexCapacity, 0, triangleCapacity);
    Scanner(data, positions.data(), indices.data(), piece).run();
    if (piece.inMesh) piece.closeMesh();  // a mesh still open ends with the data
    fileMeshes(piece.meshes, positions, vertexCapacity, indices, triangleCapacity, result);
    result.components = std::move(piece.components);
    result.buildItems = std::move(piece.buildItems);
    return result;
}

// The same result as scanInOne, from the pieces before and after `cut` (isCut), the second
// scanned on its own thread while the first is. The second assumes it starts inside a mesh;
// when the first ends outside one (or no thread could be started), the second is scanned
// again, knowing. Each piece writes
// into its own part of the shared buffers, sized by its own openings; records the first
// piece left unwritten (openings outside a mesh) are closed up afterwards.
Fast3MFParser::ParseResult scanInTwo(ByteSpan data, size_t cutAt) {
    Fast3MFParser::ParseResult result;
    const std::uint8_t* b = data.data();
    const Index n = static_cast<Index>(data.size()), cut = static_cast<Index>(cutAt);
    Index vertexCapacity[2], triangleCapacity[2];
    countOpenings(b, n, 0, cut, vertexCapacity[0], triangleCapacity[0]);
    countOpenings(b, n, cut, n, vertexCapacity[1], triangleCapacity[1]);
    const Index vertexTotal = vertexCapacity[0] + vertexCapacity[1];
    const Index triangleTotal = triangleCapacity[0] + triangleCapacity[1];
    ByteBuffer positions(static_cast<size_t>(vertexTotal) * 12);
    ByteBuffer indices(static_cast<size_t>(triangleTotal) * 12);
    Piece first(0, cut, {}, 0, vertexCapacity[0], 0, triangleCapacity[0]);
    auto secondPiece = [&](PieceStart start) {
        return Piece(cut, n, start, vertexCapacity[0], vertexCapacity[1], triangleCapacity[0],
                     triangleCapacity[1]);
    };
    Piece second = secondPiece({true, false, 0});
    std::exception_ptr failure;
    bool guessed = true;  // the second piece is scanned on the assumption
    {
        std::optional<std::jthread> other;
        try {
            other.emplace([&] {
                try {
                    Scanner(data, positions.data(), indices.data(), second).run();
                } catch (...) {
                    failure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            guessed = false;  // no thread to be had (a memory limit, say): one after the other
        }
        Scanner(data, positions.data(), indices.data(), first).run();
    }
    if (failure) std::rethrow_exception(failure);
    if (!guessed || !first.inMesh) {
        second = secondPiece({first.inMesh, true, first.objectId});
        Scanner(data, positions.data(), indices.data(), second).run();
    }
    if (second.inMesh) second.closeMesh();

    const Index vertexGap = vertexCapacity[0] - first.vertexCount;
    const Index triangleGap = triangleCapacity[0] - first.triangleCount;
    if (vertexGap > 0) {
        std::memmove(positions.data() + first.vertexCount * 12,
                     positions.data() + vertexCapacity[0] * 12,
                     static_cast<size_t>(second.vertexCount - vertexCapacity[0]) * 12);
    }
    if (triangleGap > 0) {
        std::memmove(indices.data() + first.triangleCount * 12,
                     indices.data() + triangleCapacity[0] * 12,
                     static_cast<size_t>(second.triangleCount - triangleCapacity[0]) * 12);
    }
    std::vector<MeshRange> meshes = std::move(first.meshes);
    for (MeshRange range : second.meshes) {
        range.firstVertex -= vertexGap;
        range.vertexEnd -= vertexGap;
        range.firstTriangle -= triangleGap;
        range.triangleEnd -= triangleGap;
        if (!range.objectKnown) range.objectId = first.objectId;
        if (range.continued) {  // the mesh the first piece left open
            range.firstVertex = first.meshFirstVertex;
            range.firstTriangle = first.meshFirstTriangle;
        }
        meshes.push_back(range);
    }
    fileMeshes(meshes, positions, vertexTotal, indices, triangleTotal, result);
    result.components = std::move(first.components);
    result.components.insert(result.components.end(),
                             std::make_move_iterator(second.components.begin()),
                             std::make_move_iterator(second.components.end()));
    result.buildItems = std::move(first.buildItems);
    result.buildItems.insert(result.buildItems.end(), second.buildItems.begin(),
                             second.buildItems.end());
    return result;
}

// The last cut (isCut) in `data`, or 0 when there is none.
size_t lastCut(ByteSpan data) {
    for (size_t end = data.size(); end > 1;) {
        const void* hit = memrchr(data.data(), '<', end);
        if (!hit) return 0;
        const size_t at = static_cast<size_t>(static_cast<const std::uint8_t*>(hit) - data.data());
        if (isCut(data, at)) return at;
        end = at;
    }
    return 0;
}

void appendRecords(ByteBuffer& to, const ByteBuffer& from, Index first, Index count) {
    const std::uint8_t* begin = from.data() + first * 12;
    to.insert(to.end(), begin, begin + count * 12);
}

void fileMesh(ThreeMFMesh&& mesh, std::uint32_t objectId, std::int64_t number,
              Fast3MFParser::ParseResult& result) {
    mesh.partOrdinal = number;
    if (mesh.vertexCount < 1 || mesh.triangleCount < 1) return;
    result.meshes[objectId].push_back(std::move(mesh));
}

}  // namespace

Fast3MFParser::Stream::Stream(size_t scanBytes, size_t longestElement)
    : scanBytes_(std::max<size_t>(scanBytes, 1)),
      waitFor_(scanBytes_),
      longestElement_(longestElement) {}

void Fast3MFParser::Stream::feed(ByteSpan piece) {
    pending_.insert(pending_.end(), piece.begin(), piece.end());
    if (pending_.size() < waitFor_) return;
    const size_t cut = lastCut(pending_);
    if (cut == 0) {
        if (pending_.size() > longestElement_) {
            throw sceneLoaderError(longElementIn3MF, SceneLoaderMessage::longElementIn3MF);
        }
        // Looked for again when as much again has come, not at every piece.
        waitFor_ = std::min(pending_.size() * 2, longestElement_ + 1);
        return;
    }
    waitFor_ = scanBytes_;
    scan(cut);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(cut));
}

void Fast3MFParser::Stream::handTrianglesTo(TriangleSink sink, bool keepVertices) {
    keepTriangles_ = false;
    keepVertices_ = keepVertices;
    sink_ = std::move(sink);
}

Fast3MFParser::ParseResult Fast3MFParser::Stream::finish() {
    if (!pending_.empty()) scan(pending_.size());
    pending_ = {}, positions_ = {}, indices_ = {};
    if (inMesh_) fileMesh(std::move(open_), objectId_, closed_, result_);  // ends with the data
    inMesh_ = false;
    return std::move(result_);
}

// The pending bytes [0, end) as one piece, which starts in the state the pieces before it
// left; its meshes are joined to the one left open before and filed as they close.
void Fast3MFParser::Stream::scan(size_t end) {
    const ByteSpan data(pending_.data(), end);
    const Index n = static_cast<Index>(end);
    Index vertices, triangles;
    countOpenings(data.data(), n, 0, n, vertices, triangles);
    // Kept from scan to scan: fresh blocks of this size would be fresh pages, each cleared
    // by the system on first touch.
    ByteBuffer& positions = positions_;
    ByteBuffer& indices = indices_;
    if (positions.size() < static_cast<size_t>(vertices) * 12) positions.resize(vertices * 12);
    if (indices.size() < static_cast<size_t>(triangles) * 12) indices.resize(triangles * 12);
    Piece piece(0, n, {inMesh_, true, objectId_}, 0, vertices, 0, triangles);
    Scanner(data, positions.data(), indices.data(), piece).run();

    auto extend = [&](ThreeMFMesh& mesh, std::int64_t number, Index firstVertex, Index vertexEnd,
                      Index firstTriangle, Index triangleEnd) {
        if (keepVertices_)
            appendRecords(mesh.positionData, positions, firstVertex, vertexEnd - firstVertex);
        if (keepTriangles_) {
            appendRecords(mesh.indexData, indices, firstTriangle, triangleEnd - firstTriangle);
        } else if (sink_ && triangleEnd > firstTriangle) {
            std::vector<std::uint32_t> triples(static_cast<size_t>(triangleEnd - firstTriangle) *
                                               3);
            std::memcpy(triples.data(), indices.data() + firstTriangle * 12, triples.size() * 4);
            sink_(number, triples.data(), static_cast<size_t>(triangleEnd - firstTriangle));
        }
        mesh.vertexCount += vertexEnd - firstVertex;
        mesh.triangleCount += triangleEnd - firstTriangle;
    };
    for (const MeshRange& range : piece.meshes) {
        ThreeMFMesh mesh;
        if (range.continued) mesh = std::move(open_), open_ = {};
        extend(mesh, closed_, range.firstVertex, range.vertexEnd, range.firstTriangle,
               range.triangleEnd);
        fileMesh(std::move(mesh), range.objectId, closed_++, result_);
    }
    if (piece.inMesh) {
        if (!piece.meshContinued) open_ = {};
        extend(open_, closed_, piece.meshFirstVertex, piece.vertexCount, piece.meshFirstTriangle,
               piece.triangleCount);
    }
    for (ThreeMFComponent& c : piece.components)
        result_.components.push_back(std::move(c));
    result_.buildItems.insert(result_.buildItems.end(), piece.buildItems.begin(),
                              piece.buildItems.end());
    inMesh_ = piece.inMesh;
    objectId_ = piece.objectId;
}

Fast3MFParser::ParseResult Fast3MFParser::parse(ByteSpan data) {
    if (data.size() >= twoPieceBytes && std::thread::hardware_concurrency() > 1) {
        if (const size_t cut = findCut(data)) return scanInTwo(data, cut);
    }
    return scanInOne(data);
}

Fast3MFParser::ParseResult Fast3MFParser::parseInTwoPieces(ByteSpan data, size_t cut) {
    return isCut(data, cut) ? scanInTwo(data, cut) : scanInOne(data);
}

std::optional<std::string> Fast3MFParser::parseStringAttr(ByteSpan bytes, size_t from, size_t to,
                                                          std::string_view name) {
    std::optional<std::string_view> value =
        stringAttribute(bytes.data(), static_cast<Index>(from), static_cast<Index>(to), name);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

ThreeMFTransform Fast3MFParser::parseTransformAttr(ByteSpan bytes, size_t from, size_t to) {
    return transformAttribute(bytes.data(), static_cast<Index>(from), static_cast<Index>(to),
                              static_cast<Index>(bytes.size()));
}

std::optional<ThreeMFComponent> Fast3MFParser::parseComponent(ByteSpan bytes, size_t from,
                                                              size_t to) {
    return component(bytes.data(), static_cast<Index>(from), static_cast<Index>(to),
                     static_cast<Index>(bytes.size()));
}

std::optional<ThreeMFBuildItem> Fast3MFParser::parseBuildItem(ByteSpan bytes, size_t from,
                                                              size_t to) {
    return buildItem(bytes.data(), static_cast<Index>(from), static_cast<Index>(to),
                     static_cast<Index>(bytes.size()));
}

}  // namespace kelvo

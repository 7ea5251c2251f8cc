#include "platform/ModelIO/STLStream.h"

#include "platform/ModelIO/StreamPasses.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kelvo {

namespace {

bool isSpace(std::uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Where an ASCII piece may start at or after `from`: the start of a line whose first word is
// "facet" (any case). The end of the file when there is none.
std::uint64_t nextFacetLine(ByteSpan bytes, std::uint64_t from) {
    const std::uint8_t* data = bytes.data();
    const std::uint64_t size = bytes.size();
    std::uint64_t at = from;
    while (at < size) {
        const void* newline = std::memchr(data + at, '\n', static_cast<size_t>(size - at));
        if (!newline) return size;
        const std::uint64_t line =
            static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(newline) - data + 1);
        std::uint64_t word = line;
        while (word < size && (data[word] == ' ' || data[word] == '\t'))
            ++word;
        if (size - word > 5 && isSpace(data[word + 5])) {
            char lower[5];
            for (int k = 0; k < 5; ++k)
                lower[k] = static_cast<char>(data[word + k] | 0x20);
            if (std::memcmp(lower, "facet", 5) == 0) return line;
        }
        at = line;
    }
    return size;
}

std::vector<STLPiece> cutPieces(ByteSpan bytes, const STLLayout& layout, std::uint64_t pieceBytes) {
    std::vector<STLPiece> pieces;
    if (layout.kind == STLLayout::binary) {
        const std::uint64_t perPiece =
            std::max<std::uint64_t>(1, pieceBytes / stlBinaryTriangleSize);
        for (std::uint64_t t = 0; t < layout.binaryTriangles; t += perPiece) {
            const std::uint64_t n = std::min(perPiece, layout.binaryTriangles - t);
            const std::uint64_t begin = stlBinaryHeaderSize + t * stlBinaryTriangleSize;
            pieces.push_back({begin, begin + n * stlBinaryTriangleSize, t, n});
        }
    } else if (layout.kind == STLLayout::ascii) {
        std::uint64_t begin = 0;
        while (begin < bytes.size()) {
            const std::uint64_t end =
                nextFacetLine(bytes, std::min<std::uint64_t>(bytes.size(), begin + pieceBytes));
            pieces.push_back({begin, end, 0, 0});
            begin = end;
        }
    }
    return pieces;
}

// Calls visit(ordinal, fileNormal, corners) for every triangle of `piece`.
template <class Visit>
void visitPiece(ByteSpan bytes, const STLStreamSummary& summary, const STLPiece& piece,
                const Visit& visit) {
    if (summary.layout.kind == STLLayout::binary) {
        const std::uint8_t* p = bytes.data() + piece.begin;
        for (std::uint64_t t = 0; t < piece.triangles; ++t, p += stlBinaryTriangleSize) {
            float normal[3], corners[9];
            std::memcpy(normal, p, 12);
            std::memcpy(corners, p + 12, 36);
            visit(piece.firstTriangle + t, normal, corners);
        }
        return;
    }
    std::uint64_t t = piece.firstTriangle;
    visitASCIISTLTriangles(
        bytes.subspan(piece.begin, piece.end - piece.begin),
        [&](const float normal[3], const float corners[9]) { visit(t++, normal, corners); });
}

struct PieceBounds {
    std::uint64_t triangles = 0;
    float lo[3], hi[3];
    float first[3];  // the first corner
};

bool finite3(const float* p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

}  // namespace

STLStreamSummary summarizeSTL(const MappedFile& file, std::uint64_t pieceBytes) {
    STLStreamSummary summary;
    const ByteSpan bytes = file.bytes();
    summary.layout = stlLayout(bytes);
    summary.pieces = cutPieces(bytes, summary.layout, std::max<std::uint64_t>(pieceBytes, 1));
    const float inf = INFINITY;
    std::vector<PieceBounds> bounds(summary.pieces.size(),
                                    PieceBounds{0, {inf, inf, inf}, {-inf, -inf, -inf}, {0, 0, 0}});
    onTwoThreads(summary.pieces.size(), [&](std::size_t i) {
        PieceBounds& b = bounds[i];
        STLPiece piece = summary.pieces[i];
        piece.firstTriangle = 0;
        // A comparison with a non-number is false, so the fast pass skips those; only a
        // piece with an infinite corner is read again, corner by corner.
        // One running minimum and maximum per float of a triangle, so that no comparison
        // waits for the one before; folded to three at the end.
        float lo[9], hi[9];
        std::fill(lo, lo + 9, inf);
        std::fill(hi, hi + 9, -inf);
        visitPiece(bytes, summary, piece, [&](std::uint64_t, const float*, const float* corners) {
            if (b.triangles++ == 0) std::memcpy(b.first, corners, 12);
            for (int k = 0; k < 9; ++k) {
                lo[k] = corners[k] < lo[k] ? corners[k] : lo[k];
                hi[k] = corners[k] > hi[k] ? corners[k] : hi[k];
            }
        });
        for (int k = 0; k < 9; ++k) {
            b.lo[k % 3] = std::min(b.lo[k % 3], lo[k]);
            b.hi[k % 3] = std::max(b.hi[k % 3], hi[k]);
        }
        if (!(finite3(b.lo) && finite3(b.hi)) && b.lo[0] <= b.hi[0]) {
            std::fill(b.lo, b.lo + 3, inf);
            std::fill(b.hi, b.hi + 3, -inf);
            visitPiece(bytes, summary, piece,
                       [&](std::uint64_t, const float*, const float* corners) {
                           for (int k = 0; k < 3; ++k) {
                               const float* c = corners + 3 * k;
                               if (!finite3(c)) continue;
                               for (int a = 0; a < 3; ++a) {
                                   b.lo[a] = std::min(b.lo[a], c[a]);
                                   b.hi[a] = std::max(b.hi[a], c[a]);
                               }
                           }
                       });
        }
        file.release(piece.begin, piece.end - piece.begin);
    });
    std::fill(summary.lo, summary.lo + 3, inf);
    std::fill(summary.hi, summary.hi + 3, -inf);
    for (std::size_t i = bounds.size(); i-- > 0;) {
        if (bounds[i].triangles > 0) std::memcpy(summary.firstCorner, bounds[i].first, 12);
    }
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        summary.pieces[i].firstTriangle = summary.triangles;
        summary.pieces[i].triangles = bounds[i].triangles;
        summary.triangles += bounds[i].triangles;
        for (int a = 0; a < 3; ++a) {
            summary.lo[a] = std::min(summary.lo[a], bounds[i].lo[a]);
            summary.hi[a] = std::max(summary.hi[a], bounds[i].hi[a]);
        }
    }
    summary.bounded = summary.lo[0] <= summary.hi[0];
    if (!summary.bounded) {
        std::fill(summary.lo, summary.lo + 3, 0.0f);
        std::fill(summary.hi, summary.hi + 3, 0.0f);
    }
    // Empty pieces (ASCII text between solids, say) are dropped: nothing reads them again.
    std::erase_if(summary.pieces, [](const STLPiece& piece) { return piece.triangles == 0; });
    return summary;
}

void streamSTLTriangles(const MappedFile& file, const STLStreamSummary& summary,
                        std::size_t firstPiece, std::size_t lastPiece, const STLBatchSink& sink) {
    const ByteSpan bytes = file.bytes();
    TriangleBatches batches(sink);
    lastPiece = std::min(lastPiece, summary.pieces.size());
    for (std::size_t i = firstPiece; i < lastPiece; ++i) {
        const STLPiece& piece = summary.pieces[i];
        visitPiece(bytes, summary, piece,
                   [&](std::uint64_t ordinal, const float*, const float* corners) {
                       batches.add(ordinal, corners, corners + 3, corners + 6);
                   });
        batches.flush();
        file.release(piece.begin, piece.end - piece.begin);
    }
}

std::vector<STLRecord> gatherSTLTriangles(const MappedFile& file, const STLStreamSummary& summary,
                                          const std::vector<std::uint32_t>& ordinals) {
    const ByteSpan bytes = file.bytes();
    // Each piece picks its own triangles, two pieces at a time; then they are joined in order.
    std::vector<std::vector<STLRecord>> picked(summary.pieces.size());
    onTwoThreads(summary.pieces.size(), [&](std::size_t i) {
        const STLPiece& piece = summary.pieces[i];
        const std::uint64_t pieceEnd = piece.firstTriangle + piece.triangles;
        auto wanted = std::lower_bound(ordinals.begin(), ordinals.end(), piece.firstTriangle);
        if (wanted == ordinals.end() || *wanted >= pieceEnd) return;
        std::vector<STLRecord>& records = picked[i];
        if (summary.layout.kind == STLLayout::binary) {
            // Records are found by their number alone.
            for (; wanted != ordinals.end() && *wanted < pieceEnd; ++wanted) {
                const std::uint8_t* p = bytes.data() + stlBinaryHeaderSize +
                                        std::uint64_t{*wanted} * stlBinaryTriangleSize;
                STLRecord& record = records.emplace_back();
                std::memcpy(record.normal, p, 12);
                std::memcpy(record.corners, p + 12, 36);
            }
        } else {
            visitPiece(bytes, summary, piece,
                       [&](std::uint64_t ordinal, const float* normal, const float* corners) {
                           if (wanted == ordinals.end() || *wanted != ordinal) return;
                           STLRecord& record = records.emplace_back();
                           std::memcpy(record.normal, normal, 12);
                           std::memcpy(record.corners, corners, 36);
                           ++wanted;
                       });
        }
        file.release(piece.begin, piece.end - piece.begin);
    });
    std::vector<STLRecord> records;
    records.reserve(ordinals.size());
    for (const std::vector<STLRecord>& part : picked)
        records.insert(records.end(), part.begin(), part.end());
    return records;
}

ByteBuffer binarySTLFile(const std::vector<STLRecord>& records) {
    ByteBuffer bytes(stlBinaryHeaderSize + records.size() * stlBinaryTriangleSize, 0);
    const auto count = static_cast<std::uint32_t>(records.size());
    for (int k = 0; k < 4; ++k)
        bytes[80 + k] = static_cast<std::uint8_t>(count >> (8 * k));
    std::uint8_t* p = bytes.data() + stlBinaryHeaderSize;
    for (const STLRecord& record : records) {
        std::memcpy(p, record.normal, 12);
        std::memcpy(p + 12, record.corners, 36);
        p += stlBinaryTriangleSize;
    }
    return bytes;
}

}  // namespace kelvo

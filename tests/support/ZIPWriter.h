// Test-only ZIP writer: builds packages record by record and remembers where each record
// starts, so a test can overwrite exactly one field (poke16/poke32 at record + field
// offset) and see what the reader makes of it.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

namespace kelvo::test {

// Raw DEFLATE (no zlib wrapper), as ZIP method 8 stores it.
inline Bytes rawDeflate(const Bytes& data, int level = 6) {
    z_stream s{};
    if (deflateInit2(&s, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    Bytes out(deflateBound(&s, static_cast<uLong>(data.size())));
    s.next_in = const_cast<Bytef*>(data.data());
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    if (deflate(&s, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}
inline Bytes rawDeflate(const std::string& text, int level = 6) {
    return rawDeflate(Bytes(text.begin(), text.end()), level);
}

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline void poke16(Bytes& b, size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
inline void poke32(Bytes& b, size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
        b.at(at + k) = static_cast<std::uint8_t>(v >> (8 * k));
}

struct ZIPTestEntry {
    ZIPTestEntry(std::string n, Bytes c, std::uint16_t m = 8, bool descriptor = false,
                 Bytes extra = {})
        : name(std::move(n)),
          content(std::move(c)),
          method(m),
          dataDescriptor(descriptor),
          localExtra(std::move(extra)) {}

    std::string name;
    Bytes content;             // uncompressed
    std::uint16_t method = 8;  // 8: content is deflated; any other: content is written as is
    // Local header written as streaming writers do: CRC and sizes 0, a data descriptor
    // (signed) after the data.
    bool dataDescriptor = false;
    Bytes localExtra, centralExtra, comment;
};

struct ZIPTestPackage {
    Bytes bytes;
    std::vector<size_t> localHeaders;    // offset of each entry's local header
    std::vector<size_t> centralRecords;  // offset of each entry's central record
    size_t endRecord = 0;
};

// Field offsets inside the records, as the ZIP format lays them out.
namespace zipField {
inline constexpr size_t centralMethod = 10, centralCompressedSize = 20,
                        centralUncompressedSize = 24, centralNameLength = 28,
                        centralExtraLength = 30, centralCommentLength = 32,
                        centralLocalHeaderOffset = 42;
inline constexpr size_t localMethod = 8, localCompressedSize = 18, localNameLength = 26,
                        localExtraLength = 28;
inline constexpr size_t endEntryCount = 10, endDirectoryOffset = 16, endCommentLength = 20;
}  // namespace zipField

inline ZIPTestPackage writeZIP(const std::vector<ZIPTestEntry>& entries,
                               const Bytes& archiveComment = {}) {
    ZIPTestPackage p;
    Bytes& b = p.bytes;
    struct Written {
        std::uint32_t crc, compressed, uncompressed;
    };
    std::vector<Written> written;
    for (const ZIPTestEntry& e : entries) {
        Bytes data = e.method == 8 ? rawDeflate(e.content) : e.content;
        Written w{static_cast<std::uint32_t>(
                      crc32(0, e.content.data(), static_cast<uInt>(e.content.size()))),
                  static_cast<std::uint32_t>(data.size()),
                  static_cast<std::uint32_t>(e.content.size())};
        written.push_back(w);
        p.localHeaders.push_back(b.size());
        appendUInt32(b, 0x04034B50);
        appendUInt16(b, 20);
        appendUInt16(b, e.dataDescriptor ? 8 : 0);
        appendUInt16(b, e.method);
        appendUInt32(b, 0);  // time and date
        appendUInt32(b, e.dataDescriptor ? 0 : w.crc);
        appendUInt32(b, e.dataDescriptor ? 0 : w.compressed);
        appendUInt32(b, e.dataDescriptor ? 0 : w.uncompressed);
        appendUInt16(b, static_cast<std::uint16_t>(e.name.size()));
        appendUInt16(b, static_cast<std::uint16_t>(e.localExtra.size()));
        b.insert(b.end(), e.name.begin(), e.name.end());
        b.insert(b.end(), e.localExtra.begin(), e.localExtra.end());
        b.insert(b.end(), data.begin(), data.end());
        if (e.dataDescriptor) {
            appendUInt32(b, 0x08074B50);
            appendUInt32(b, w.crc);
            appendUInt32(b, w.compressed);
            appendUInt32(b, w.uncompressed);
        }
    }
    const size_t directory = b.size();
    for (size_t k = 0; k < entries.size(); ++k) {
        const ZIPTestEntry& e = entries[k];
        p.centralRecords.push_back(b.size());
        appendUInt32(b, 0x02014B50);
        appendUInt16(b, 20);
        appendUInt16(b, 20);
        appendUInt16(b, e.dataDescriptor ? 8 : 0);
        appendUInt16(b, e.method);
        appendUInt32(b, 0);
        appendUInt32(b, written[k].crc);
        appendUInt32(b, written[k].compressed);
        appendUInt32(b, written[k].uncompressed);
        appendUInt16(b, static_cast<std::uint16_t>(e.name.size()));
        appendUInt16(b, static_cast<std::uint16_t>(e.centralExtra.size()));
        appendUInt16(b, static_cast<std::uint16_t>(e.comment.size()));
        appendUInt16(b, 0);
        appendUInt16(b, 0);
        appendUInt32(b, 0);
        appendUInt32(b, static_cast<std::uint32_t>(p.localHeaders[k]));
        b.insert(b.end(), e.name.begin(), e.name.end());
        b.insert(b.end(), e.centralExtra.begin(), e.centralExtra.end());
        b.insert(b.end(), e.comment.begin(), e.comment.end());
    }
    p.endRecord = b.size();
    appendUInt32(b, 0x06054B50);
    appendUInt16(b, 0);
    appendUInt16(b, 0);
    appendUInt16(b, static_cast<std::uint16_t>(entries.size()));
    appendUInt16(b, static_cast<std::uint16_t>(entries.size()));
    appendUInt32(b, static_cast<std::uint32_t>(p.endRecord - directory));
    appendUInt32(b, static_cast<std::uint32_t>(directory));
    appendUInt16(b, static_cast<std::uint16_t>(archiveComment.size()));
    b.insert(b.end(), archiveComment.begin(), archiveComment.end());
    return p;
}

// A 3MF-like package: the given parts (name, text), deflated, in order.
inline Bytes threeMFPackage(const std::vector<std::pair<std::string, std::string>>& parts) {
    std::vector<ZIPTestEntry> entries;
    for (const auto& [name, text] : parts)
        entries.push_back({name, bytesOf(text)});
    return writeZIP(entries).bytes;
}

}  // namespace kelvo::test

// Test-only ZIP writer: builds packages record by record and remembers where each record
// starts, so a test can overwrite exactly one field (poke16/poke32 at the record's offset
// plus the field's) and see what the reader makes of it.
#pragma once

#include <zlib.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

namespace kelvo::test {

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

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

inline void poke16(Bytes& b, size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
inline void poke32(Bytes& b, size_t at, std::uint32_t v) {
    for (size_t k = 0; k < 4; ++k)
        b.at(at + k) = static_cast<std::uint8_t>(v >> (8 * k));
}

struct ZIPTestEntry {
    ZIPTestEntry(std::string n, Bytes c, std::uint16_t m = 8)
        : name(std::move(n)), content(std::move(c)), method(m) {}
    std::string name;
    Bytes content;             // uncompressed
    std::uint16_t method = 8;  // 8: written deflated; any other: written as it is
    // Written as streaming writers do: local CRC and sizes 0, a data descriptor after the data.
    bool dataDescriptor = false;
    Bytes localExtra, centralExtra, comment;
};

// Field offsets inside the records.
namespace zipField {
inline constexpr size_t centralMethod = 10, centralCompressedSize = 20,
                        centralUncompressedSize = 24, centralNameLength = 28,
                        centralCommentLength = 32, centralLocalHeaderOffset = 42;
inline constexpr size_t localMethod = 8, localNameLength = 26;
inline constexpr size_t endEntryCount = 10, endDirectoryOffset = 16;
}  // namespace zipField

struct ZIPTestPackage {
    Bytes bytes;
    std::vector<size_t> localHeaders, centralRecords;  // where each entry's records start
    size_t endRecord = 0;
};

inline ZIPTestPackage writeZIP(const std::vector<ZIPTestEntry>& entries,
                               const Bytes& archiveComment = {}) {
    ZIPTestPackage p;
    Bytes& b = p.bytes;
    std::vector<Bytes> stored;
    auto crcAndSizes = [&](const ZIPTestEntry& e, const Bytes& data) {
        appendUInt32(b, static_cast<std::uint32_t>(
                            crc32(0, e.content.data(), static_cast<uInt>(e.content.size()))));
        appendUInt32(b, static_cast<std::uint32_t>(data.size()));
        appendUInt32(b, static_cast<std::uint32_t>(e.content.size()));
    };
    auto fields = [&](const ZIPTestEntry& e, const Bytes& data, bool local) {
        appendUInt16(b, e.dataDescriptor ? 8 : 0);
        appendUInt16(b, e.method);
        appendUInt32(b, 0);  // time and date
        if (local && e.dataDescriptor) {
            for (int k = 0; k < 3; ++k)
                appendUInt32(b, 0);
        } else {
            crcAndSizes(e, data);
        }
        appendUInt16(b, static_cast<std::uint16_t>(e.name.size()));
        appendUInt16(
            b, static_cast<std::uint16_t>(local ? e.localExtra.size() : e.centralExtra.size()));
    };
    for (const ZIPTestEntry& e : entries) {
        stored.push_back(e.method == 8 ? rawDeflate(e.content) : e.content);
        p.localHeaders.push_back(b.size());
        appendUInt32(b, 0x04034B50);
        appendUInt16(b, 20);
        fields(e, stored.back(), true);
        for (const Bytes& part : {bytesOf(e.name), e.localExtra, stored.back()})
            b.insert(b.end(), part.begin(), part.end());
        if (e.dataDescriptor) {
            appendUInt32(b, 0x08074B50);
            crcAndSizes(e, stored.back());
        }
    }
    const size_t directory = b.size();
    for (size_t k = 0; k < entries.size(); ++k) {
        const ZIPTestEntry& e = entries[k];
        p.centralRecords.push_back(b.size());
        appendUInt32(b, 0x02014B50);
        appendUInt16(b, 20);
        appendUInt16(b, 20);
        fields(e, stored[k], false);
        appendUInt16(b, static_cast<std::uint16_t>(e.comment.size()));
        for (int field = 0; field < 4; ++field)
            appendUInt16(b, 0);  // disk, internal and external attributes
        appendUInt32(b, static_cast<std::uint32_t>(p.localHeaders[k]));
        for (const Bytes& part : {bytesOf(e.name), e.centralExtra, e.comment})
            b.insert(b.end(), part.begin(), part.end());
    }
    p.endRecord = b.size();
    appendUInt32(b, 0x06054B50);
    appendUInt32(b, 0);  // disk numbers
    appendUInt16(b, static_cast<std::uint16_t>(entries.size()));
    appendUInt16(b, static_cast<std::uint16_t>(entries.size()));
    appendUInt32(b, static_cast<std::uint32_t>(p.endRecord - directory));
    appendUInt32(b, static_cast<std::uint32_t>(directory));
    appendUInt16(b, static_cast<std::uint16_t>(archiveComment.size()));
    b.insert(b.end(), archiveComment.begin(), archiveComment.end());
    return p;
}

// A package of the given parts (name, text), deflated, in order.
inline Bytes threeMFPackage(const std::vector<std::pair<std::string, std::string>>& parts) {
    std::vector<ZIPTestEntry> entries;
    for (const auto& [name, text] : parts)
        entries.emplace_back(name, bytesOf(text));
    return writeZIP(entries).bytes;
}

}  // namespace kelvo::test

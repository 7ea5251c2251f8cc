// Test-only ZIP writer: builds packages record by record and remembers where each record
// starts, so a test can overwrite exactly one field and see what the reader makes of it.
#pragma once

#include <zlib.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "extensions/Shared/ZIPReader.h"
#include "tests/support/TestFiles.h"

namespace kelvo {

inline void PrintTo(const ZIPReader::ZIPError& e, std::ostream* os) {
    *os << e.what();
}

namespace test {

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The exception of type E that `operation` throws.
template <class E, class F>
E thrown(F&& operation) {
    try {
        operation();
    } catch (const E& e) {
        return e;
    }
    throw std::runtime_error("nothing thrown");
}

// Raw DEFLATE (no zlib wrapper), as ZIP method 8 stores it.
inline Bytes rawDeflate(const Bytes& data, int level = 6) {
    z_stream s{};
    deflateInit2(&s, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
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

// Writes the low `width` bytes of v at `at`, little-endian.
inline void poke(Bytes& b, size_t at, std::uint32_t v, int width = 4) {
    for (int k = 0; k < width; ++k)
        b.at(at + k) = static_cast<std::uint8_t>(v >> (8 * k));
}

struct ZIPTestEntry {
    // method 8: written deflated; any other: written as it is. dataDescriptor: as streaming
    // writers do, local CRC and sizes 0 and a data descriptor after the data. extra: in the
    // local and the central record.
    ZIPTestEntry(std::string n, Bytes c, std::uint16_t m = 8, bool d = false, Bytes x = {})
        : name(std::move(n)), content(std::move(c)), method(m), dataDescriptor(d), extra(x) {}
    std::string name;
    Bytes content;  // uncompressed
    std::uint16_t method;
    bool dataDescriptor;
    Bytes extra;
};

// Field offsets inside the records.
namespace zipField {
inline constexpr size_t centralMethod = 10, centralCompressedSize = 20, centralSize = 24,
                        centralNameLength = 28, centralCommentLength = 32, centralLocalOffset = 42,
                        localNameLength = 26, endEntryCount = 10, endDirectoryOffset = 16;
}

struct ZIPTestPackage {
    Bytes bytes;
    std::vector<size_t> localHeaders, centralRecords;  // where each entry's records start
    size_t endRecord = 0;
};

inline ZIPTestPackage writeZIP(const std::vector<ZIPTestEntry>& entries,
                               const Bytes& archiveComment = {}) {
    ZIPTestPackage p;
    Bytes& b = p.bytes;
    auto put = [&](const Bytes& part) { b.insert(b.end(), part.begin(), part.end()); };
    std::vector<Bytes> stored;
    auto crcAndSizes = [&](const ZIPTestEntry& e, const Bytes& data, bool zero) {
        const uLong crc = crc32(0, e.content.data(), static_cast<uInt>(e.content.size()));
        appendUInt32(b, zero ? 0 : static_cast<std::uint32_t>(crc));
        appendUInt32(b, zero ? 0 : static_cast<std::uint32_t>(data.size()));
        appendUInt32(b, zero ? 0 : static_cast<std::uint32_t>(e.content.size()));
    };
    auto record = [&](std::uint32_t signature, const ZIPTestEntry& e, const Bytes& data,
                      bool local) {
        appendUInt32(b, signature);
        appendUInt16(b, 20);
        if (!local) appendUInt16(b, 20);
        appendUInt16(b, e.dataDescriptor ? 8 : 0);
        appendUInt16(b, e.method);
        appendUInt32(b, 0);  // time and date
        crcAndSizes(e, data, local && e.dataDescriptor);
        appendUInt16(b, static_cast<std::uint16_t>(e.name.size()));
        appendUInt16(b, static_cast<std::uint16_t>(e.extra.size()));
    };
    for (const ZIPTestEntry& e : entries) {
        stored.push_back(e.method == 8 ? rawDeflate(e.content) : e.content);
        p.localHeaders.push_back(b.size());
        record(0x04034B50, e, stored.back(), true);
        for (const Bytes& part : {bytesOf(e.name), e.extra, stored.back()})
            put(part);
        if (e.dataDescriptor) {
            appendUInt32(b, 0x08074B50);
            crcAndSizes(e, stored.back(), false);
        }
    }
    const size_t directory = b.size();
    for (size_t k = 0; k < entries.size(); ++k) {
        p.centralRecords.push_back(b.size());
        record(0x02014B50, entries[k], stored[k], false);
        for (int field = 0; field < 5; ++field)
            appendUInt16(b, 0);  // comment length, disk, internal and external attributes
        appendUInt32(b, static_cast<std::uint32_t>(p.localHeaders[k]));
        put(bytesOf(entries[k].name));
        put(entries[k].extra);
    }
    p.endRecord = b.size();
    appendUInt32(b, 0x06054B50);
    appendUInt32(b, 0);  // disk numbers
    appendUInt16(b, static_cast<std::uint16_t>(entries.size()));
    appendUInt16(b, static_cast<std::uint16_t>(entries.size()));
    appendUInt32(b, static_cast<std::uint32_t>(p.endRecord - directory));
    appendUInt32(b, static_cast<std::uint32_t>(directory));
    appendUInt16(b, static_cast<std::uint16_t>(archiveComment.size()));
    put(archiveComment);
    return p;
}

// A package of the given parts (name, text), deflated, in order.
inline Bytes threeMFPackage(const std::vector<std::pair<std::string, std::string>>& parts) {
    std::vector<ZIPTestEntry> entries;
    for (const auto& [name, text] : parts)
        entries.push_back({name, bytesOf(text)});
    return writeZIP(entries).bytes;
}

}  // namespace test
}  // namespace kelvo

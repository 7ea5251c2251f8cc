// Test-only ZIP writer: builds packages record by record and remembers where each record
// starts, so a test can overwrite exactly one field and see what the reader makes of it.
#pragma once

#include <zlib.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "extensions/Shared/ZIP/ZIPReader.h"
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

// Raw DEFLATE, as ZIP method 8 stores it: zlib's stream without its header and checksum.
inline Bytes rawDeflate(const Bytes& data, int level = 6) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
        throw std::runtime_error("compress2");
    return Bytes(out.begin() + 2, out.begin() + static_cast<std::ptrdiff_t>(size) - 4);
}

// Writes the low `width` bytes of v at `at`, little-endian.
inline void poke(Bytes& b, size_t at, std::uint64_t v, int width = 4) {
    for (int k = 0; k < width; ++k)
        b.at(at + k) = static_cast<std::uint8_t>(v >> (8 * k));
}

// Written as most writers do; the corpus holds packages with data descriptors and extra
// fields.
struct ZIPTestEntry {
    ZIPTestEntry(std::string n, Bytes c, std::uint16_t m = 8)
        : name(std::move(n)), content(std::move(c)), method(m) {}
    std::string name;
    Bytes content;         // uncompressed
    std::uint16_t method;  // 8: written deflated; any other: written as it is
};

// Field offsets inside the records.
namespace zipField {
inline constexpr size_t centralMethod = 10, centralCompressedSize = 20, centralSize = 24,
                        centralNameLength = 28, centralCommentLength = 32, centralLocalOffset = 42,
                        localNameLength = 26, endEntryCount = 10, endDirectoryOffset = 16;
}

// The fields a ZIP64 writer marks (FFFF or FFFFFFFF) and writes again in 64 bits: those of
// the end record in a ZIP64 end record with its locator between the directory and the end
// record; those of the central records in an extra block 0x0001 of every record.
struct ZIP64Fields {
    bool entryCount = false, directorySize = false, directoryOffset = false;
    bool uncompressedSize = false, compressedSize = false, localHeaderOffset = false;
    bool otherBlockFirst = false;  // an empty extra block before 0x0001, as writers add others

    bool inEndRecord() const { return entryCount || directorySize || directoryOffset; }
};

// Field offsets inside the ZIP64 records.
namespace zip64Field {
inline constexpr size_t locatorRecordOffset = 8, endEntryCount = 32, endDirectoryOffset = 48,
                        extraSize = 2, extraFirstValue = 4;
}

struct ZIPTestPackage {
    Bytes bytes;
    std::vector<size_t> localHeaders, centralRecords;  // where each entry's records start
    std::vector<size_t> zip64Extras;                   // each central record's extra block
    std::vector<size_t> compressedSizes;
    size_t zip64EndRecord = 0, zip64Locator = 0;
    size_t endRecord = 0;
};

// CRCs are 0: the reader does not check them.
inline ZIPTestPackage writeZIP(const std::vector<ZIPTestEntry>& entries,
                               const Bytes& archiveComment = {}, ZIP64Fields zip64 = {}) {
    ZIPTestPackage p;
    Bytes& b = p.bytes;
    auto put = [&](const Bytes& part) { b.insert(b.end(), part.begin(), part.end()); };
    auto le = [&](int width, std::initializer_list<size_t> fields) {  // little-endian fields
        for (size_t v : fields)
            for (int k = 0; k < width; ++k)
                b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    };
    std::vector<Bytes> stored;
    for (const ZIPTestEntry& e : entries) {
        stored.push_back(e.method == 8 ? rawDeflate(e.content) : e.content);
        p.localHeaders.push_back(b.size());
        le(4, {0x04034B50});
        le(2, {20, 0, e.method, 0, 0});  // version, flags, method, time, date
        le(4, {0, stored.back().size(), e.content.size()});
        le(2, {e.name.size(), 0});
        put(bytesOf(e.name));
        put(stored.back());
    }
    const size_t directory = b.size();
    for (size_t k = 0; k < entries.size(); ++k) {
        p.compressedSizes.push_back(stored[k].size());
        // The marked values, in the order of the extra block.
        std::vector<size_t> wide;
        auto field = [&](bool marked, size_t value) {
            if (marked) wide.push_back(value);
            return marked ? 0xFFFFFFFF : value;
        };
        const size_t size = field(zip64.uncompressedSize, entries[k].content.size()),
                     compressed = field(zip64.compressedSize, stored[k].size()),
                     offset = field(zip64.localHeaderOffset, p.localHeaders[k]);
        const size_t first = zip64.otherBlockFirst ? 4 : 0;
        const size_t extra = wide.empty() ? 0 : first + 4 + 8 * wide.size();
        p.centralRecords.push_back(b.size());
        le(4, {0x02014B50});
        le(2, {20, 20, 0, entries[k].method, 0, 0});
        le(4, {0, compressed, size});
        le(2, {entries[k].name.size(), extra, 0, 0, 0});  // name, extra, comment, disk, attributes
        le(4, {0, offset});
        put(bytesOf(entries[k].name));
        if (extra && first) le(2, {0xCAFE, 0});
        p.zip64Extras.push_back(b.size());
        if (extra) {
            le(2, {0x0001, 8 * wide.size()});
            for (size_t v : wide)
                le(8, {v});
        }
    }
    const size_t directoryEnd = b.size();
    if (zip64.inEndRecord()) {
        p.zip64EndRecord = b.size();
        le(4, {0x06064B50});
        le(8, {44});
        le(2, {45, 45});
        le(4, {0, 0});
        le(8, {entries.size(), entries.size(), directoryEnd - directory, directory});
        p.zip64Locator = b.size();
        le(4, {0x07064B50, 0});
        le(8, {p.zip64EndRecord});
        le(4, {1});
    }
    p.endRecord = b.size();
    le(4, {0x06054B50, 0});
    const size_t count = zip64.entryCount ? 0xFFFF : entries.size();
    le(2, {count, count});
    le(4, {zip64.directorySize ? 0xFFFFFFFF : directoryEnd - directory,
           zip64.directoryOffset ? 0xFFFFFFFF : directory});
    le(2, {archiveComment.size()});
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

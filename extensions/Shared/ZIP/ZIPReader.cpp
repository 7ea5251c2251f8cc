#include "extensions/Shared/ZIP/ZIPReader.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>

#include <zlib.h>

#include "platform/Compression/RawDeflate.h"
#include "platform/Foundation/Text.h"
#include "platform/Foundation/UTF8.h"

namespace kelvo {

namespace {

constexpr std::uint32_t endRecordSignature = 0x06054B50;      // "PK\5\6"
constexpr std::uint32_t centralRecordSignature = 0x02014B50;  // "PK\1\2"
constexpr std::uint32_t localHeaderSignature = 0x04034B50;    // "PK\3\4"
constexpr std::int64_t endRecordSize = 22;
constexpr std::int64_t largestComment = 65535;
constexpr std::int64_t centralRecordSize = 46;
constexpr std::int64_t localHeaderSize = 30;
constexpr std::uint16_t methodStored = 0;
constexpr std::uint16_t methodDeflated = 8;

// ZIP64: a 16- or 32-bit field holding its marker says that the real value lies in a ZIP64
// structure: the end record's in the ZIP64 end record (found through the locator right
// before the end record), a central record's in its extra field of header 0x0001.
constexpr std::uint16_t countMarker = 0xFFFF;
constexpr std::uint32_t fieldMarker = 0xFFFFFFFF;
constexpr std::uint32_t zip64LocatorSignature = 0x07064B50;    // "PK\6\7"
constexpr std::uint32_t zip64EndRecordSignature = 0x06064B50;  // "PK\6\6"
constexpr std::int64_t zip64LocatorSize = 20;
constexpr std::int64_t zip64EndRecordSize = 56;
constexpr std::uint16_t zip64ExtraFieldId = 0x0001;
constexpr std::int64_t largestValue = std::numeric_limits<std::int64_t>::max();

std::int64_t length(ByteSpan data) {
    return static_cast<std::int64_t>(data.size());
}

std::uint64_t readUInt64(ByteSpan data, std::int64_t at) {
    return ZIPReader::readUInt32(data, at) |
           static_cast<std::uint64_t>(ZIPReader::readUInt32(data, at + 4)) << 32;
}

// Where the directory walk starts and how many records it may read.
struct DirectoryPlace {
    std::uint64_t count;
    std::int64_t offset;
};

// The entry count and directory offset of the ZIP64 end record, for the end record at `end`.
// Nothing when the locator is not right before the end record, or the record it points to
// does not lie whole inside the package or is not signed: the 32-bit values then stay in
// use, so such a package fails as one without ZIP64 would.
std::optional<DirectoryPlace> zip64DirectoryPlace(ByteSpan data, std::int64_t end) {
    const std::int64_t size = length(data);
    const std::int64_t locator = end - zip64LocatorSize;
    if (locator < 0 || ZIPReader::readUInt32(data, locator) != zip64LocatorSignature) {
        return std::nullopt;
    }
    const std::uint64_t record = readUInt64(data, locator + 8);
    if (size < zip64EndRecordSize || record > static_cast<std::uint64_t>(size - zip64EndRecordSize))
        return std::nullopt;
    const auto at = static_cast<std::int64_t>(record);
    if (ZIPReader::readUInt32(data, at) != zip64EndRecordSignature) return std::nullopt;
    // A directory past the end ends the walk at once, as a 32-bit offset past the end does.
    const std::uint64_t offset =
        std::min(readUInt64(data, at + 48), static_cast<std::uint64_t>(size));
    return DirectoryPlace{readUInt64(data, at + 32), static_cast<std::int64_t>(offset)};
}

// Replaces the sizes and offset of `entry` that hold the 32-bit marker with the values of
// its ZIP64 extra field, found among the extra blocks in [from, to): 8 bytes for each marked
// field, in the order uncompressed size, compressed size, local header offset. Without
// such a block, or with one too short for the marked fields or holding a value beyond
// signed 64 bits, the markers stay, and extracting the entry fails as it would without
// ZIP64.
void applyZIP64ExtraField(ByteSpan data, std::int64_t from, std::int64_t to, CentralEntry& entry) {
    std::int64_t* marked[3];
    int count = 0;
    for (std::int64_t* field :
         {&entry.uncompressedSize, &entry.compressedSize, &entry.localHeaderOffset}) {
        if (*field == fieldMarker) marked[count++] = field;
    }
    if (count == 0) return;
    for (std::int64_t block = from; block + 4 <= to;) {
        const std::int64_t blockSize = ZIPReader::readUInt16(data, block + 2);
        if (ZIPReader::readUInt16(data, block) == zip64ExtraFieldId) {
            if (8 * count > blockSize || block + 4 + 8 * count > to) return;
            std::uint64_t values[3];
            for (int k = 0; k < count; ++k) {
                values[k] = readUInt64(data, block + 4 + 8 * k);
                if (values[k] > static_cast<std::uint64_t>(largestValue)) return;
            }
            for (int k = 0; k < count; ++k)
                *marked[k] = static_cast<std::int64_t>(values[k]);
            return;
        }
        block += 4 + blockSize;
    }
}

// The name, with the case, as the platform would print the enumeration value.
std::string describe(ZIPReader::ZIPError::Case c, const std::string& name, std::uint16_t method) {
    std::string text = zipErrorCaseName(c);
    // Appended piece by piece: gcc 12 at -O3 warns falsely on chained string additions.
    if (c == ZIPReader::ZIPError::Case::entryNotFound) {
        text.append("(\"").append(name).append("\")");
    } else if (c == ZIPReader::ZIPError::Case::unsupportedCompression) {
        text.append("(").append(std::to_string(method)).append(")");
    }
    return text;
}

// ASCII lower-casing is exact here: no non-ASCII character lower-cases to one of the
// letters of ".model", so a Unicode-aware comparison would choose the same entries.
bool endsWithModelSuffix(const std::string& name) {
    return endsWithIgnoringASCIICase(name, ".model");
}

std::int64_t inflateCapacity(std::int64_t compressedLength, std::int64_t expectedSize) {
    // A ZIP64 size can be far beyond any real package; the products then saturate instead
    // of overflowing (such an entry cannot be extracted anyway).
    std::int64_t wanted = compressedLength > largestValue / 4
                              ? largestValue
                              : std::max(4 * compressedLength, expectedSize);
    auto bound = compressedLength > (largestValue - 1024) / 1032
                     ? largestValue
                     : static_cast<std::int64_t>(
                           rawDeflateOutputBound(static_cast<std::uint64_t>(compressedLength)));
    return std::min(wanted, bound);
}

}  // namespace

ZIPReader::ZIPError::ZIPError(Case c, std::string name, std::uint16_t method)
    : case_(c), name_(std::move(name)), method_(method), description_(describe(c, name_, method)) {}

ZIPReader::ZIPError ZIPReader::ZIPError::entryNotFound(std::string name) {
    return ZIPError(Case::entryNotFound, std::move(name), 0);
}
ZIPReader::ZIPError ZIPReader::ZIPError::unsupportedCompression(std::uint16_t method) {
    return ZIPError(Case::unsupportedCompression, {}, method);
}
ZIPReader::ZIPError ZIPReader::ZIPError::invalidArchive() {
    return ZIPError(Case::invalidArchive, {}, 0);
}
ZIPReader::ZIPError ZIPReader::ZIPError::decompressionFailed() {
    return ZIPError(Case::decompressionFailed, {}, 0);
}

const char* zipErrorCaseName(ZIPReader::ZIPError::Case errorCase) {
    switch (errorCase) {
        case ZIPReader::ZIPError::Case::entryNotFound:
            return "entryNotFound";
        case ZIPReader::ZIPError::Case::unsupportedCompression:
            return "unsupportedCompression";
        case ZIPReader::ZIPError::Case::invalidArchive:
            return "invalidArchive";
        case ZIPReader::ZIPError::Case::decompressionFailed:
            return "decompressionFailed";
    }
    return "invalidArchive";
}

Error platformError(const ZIPReader::ZIPError& error, std::string_view deliverable) {
    return Error(std::string(deliverable) + ".ZIPReader.ZIPError", error.code())
        .bridging(std::make_shared<ZIPReader::ZIPError>(error));
}

std::uint16_t ZIPReader::readUInt16(ByteSpan data, std::int64_t at) {
    assert(at >= 0 && at + 2 <= length(data));
    const std::uint8_t* p = data.data() + at;
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t ZIPReader::readUInt32(ByteSpan data, std::int64_t at) {
    assert(at >= 0 && at + 4 <= length(data));
    const std::uint8_t* p = data.data() + at;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::vector<CentralEntry> ZIPReader::readCentralDirectory(ByteSpan data) {
    const std::int64_t size = length(data);
    // A bare 22-byte end record is refused as well: a package needs more than that.
    if (size < endRecordSize + 1) throw ZIPError::invalidArchive();

    // Backwards, so the signature nearest the end wins (one inside a comment loses).
    std::int64_t end = -1;
    const std::int64_t lowest = std::max<std::int64_t>(0, size - (endRecordSize + largestComment));
    for (std::int64_t at = size - endRecordSize; at >= lowest; --at) {
        if (data[at] == 0x50 && readUInt32(data, at) == endRecordSignature) {
            end = at;
            break;
        }
    }
    if (end < 0) throw ZIPError::invalidArchive();

    DirectoryPlace place{readUInt16(data, end + 10), readUInt32(data, end + 16)};
    if (place.count == countMarker || readUInt32(data, end + 12) == fieldMarker ||
        place.offset == fieldMarker) {
        if (std::optional<DirectoryPlace> zip64 = zip64DirectoryPlace(data, end)) place = *zip64;
    }
    const std::uint64_t count = place.count;
    std::int64_t offset = place.offset;
    std::vector<CentralEntry> entries;
    if (count == 0) return entries;
    // Each record takes at least 46 bytes, so the package bounds the reservation too.
    entries.reserve(static_cast<size_t>(
        std::min<std::uint64_t>(count, static_cast<std::uint64_t>(size / centralRecordSize))));

    for (std::uint64_t k = 0; k < count; ++k) {
        if (offset + centralRecordSize > size) break;
        if (readUInt32(data, offset) != centralRecordSignature) break;
        const std::int64_t nameLength = readUInt16(data, offset + 28);
        // A name running past the end ends the walk like a record that does not fit: it
        // cannot be read, and nothing after it can be trusted to be a record.
        if (offset + centralRecordSize + nameLength > size) break;
        CentralEntry entry;
        entry.compressionMethod = readUInt16(data, offset + 10);
        entry.compressedSize = readUInt32(data, offset + 20);
        entry.uncompressedSize = readUInt32(data, offset + 24);
        entry.localHeaderOffset = readUInt32(data, offset + 42);
        ByteSpan name = data.subspan(static_cast<size_t>(offset + centralRecordSize),
                                     static_cast<size_t>(nameLength));
        if (isValidUTF8(name)) entry.name.assign(name.begin(), name.end());
        const std::int64_t extra = offset + centralRecordSize + nameLength;
        const std::int64_t extraLength = readUInt16(data, offset + 30);
        applyZIP64ExtraField(data, extra, std::min(extra + extraLength, size), entry);
        entries.push_back(std::move(entry));
        offset = extra + extraLength + readUInt16(data, offset + 32);
    }
    return entries;
}

namespace {

// The stored bytes of `entry` inside `from`, after the checks extractEntry makes first.
ByteSpan entryData(const CentralEntry& entry, ByteSpan from) {
    const std::int64_t size = length(from);
    const std::int64_t header = entry.localHeaderOffset;
    // Compared by subtraction: ZIP64 offsets and sizes reach the top of the 64-bit range.
    if (header < 0 || header > size - localHeaderSize) throw ZIPReader::ZIPError::invalidArchive();
    if (ZIPReader::readUInt32(from, header) != localHeaderSignature) {
        throw ZIPReader::ZIPError::invalidArchive();
    }
    const std::int64_t start = header + localHeaderSize + ZIPReader::readUInt16(from, header + 26) +
                               ZIPReader::readUInt16(from, header + 28);
    if (entry.compressedSize < 0 || entry.compressedSize > size - start) {
        throw ZIPReader::ZIPError::invalidArchive();
    }
    return from.subspan(static_cast<size_t>(start), static_cast<size_t>(entry.compressedSize));
}

// A raw inflate stream of zlib, ended however its owner leaves.
struct ZStream {
    z_stream z{};
    bool open = false;
    ZStream() {
        open = inflateInit2(&z, -MAX_WBITS) == Z_OK;
        if (!open) throw ZIPReader::ZIPError::decompressionFailed();
    }
    ~ZStream() {
        if (open) inflateEnd(&z);
    }
    ZStream(const ZStream&) = delete;
    ZStream& operator=(const ZStream&) = delete;
};

void inflateInPieces(ByteSpan data, std::int64_t capacity, size_t pieceBytes,
                     const ZIPReader::PieceSink& sink) {
    ZStream stream;
    ByteBuffer piece(pieceBytes);
    const std::uint8_t* next = data.data();
    std::uint64_t inputLeft = data.size();
    std::int64_t outputLeft = capacity;
    std::int64_t written = 0;
    while (outputLeft > 0) {
        // zlib counts in 32 bits: the input goes in by slices.
        if (stream.z.avail_in == 0 && inputLeft > 0) {
            const auto slice = static_cast<uInt>(std::min<std::uint64_t>(inputLeft, 1u << 30));
            stream.z.next_in = const_cast<Bytef*>(next);
            stream.z.avail_in = slice;
            next += slice;
            inputLeft -= slice;
        }
        const auto room = static_cast<uInt>(std::min<std::int64_t>(outputLeft, piece.size()));
        stream.z.next_out = piece.data();
        stream.z.avail_out = room;
        const int status = inflate(&stream.z, Z_NO_FLUSH);
        const size_t produced = room - stream.z.avail_out;
        if (status != Z_OK && status != Z_STREAM_END && !(status == Z_BUF_ERROR && inputLeft > 0)) {
            throw ZIPReader::ZIPError::decompressionFailed();
        }
        if (produced > 0) {
            written += static_cast<std::int64_t>(produced);
            outputLeft -= static_cast<std::int64_t>(produced);
            sink(ByteSpan(piece.data(), produced));
        }
        if (status == Z_STREAM_END) break;
        // No progress and no input left: the stream ends before its last block.
        if (produced == 0 && stream.z.avail_in == 0 && inputLeft == 0) {
            throw ZIPReader::ZIPError::decompressionFailed();
        }
    }
    if (written < 1) throw ZIPReader::ZIPError::decompressionFailed();
}

}  // namespace

ByteBuffer ZIPReader::extractEntry(const CentralEntry& entry, ByteSpan from) {
    ByteSpan bytes = entryData(entry, from);
    switch (entry.compressionMethod) {
        case methodStored:
            return ByteBuffer(bytes.begin(), bytes.end());
        // Decoded straight from the package: a copy of the compressed bytes would be
        // thrown away at once.
        case methodDeflated:
            return inflateData(bytes, entry.uncompressedSize);
        default:
            throw ZIPError::unsupportedCompression(entry.compressionMethod);
    }
}

void ZIPReader::streamEntry(const CentralEntry& entry, ByteSpan from, size_t pieceBytes,
                            const PieceSink& sink) {
    ByteSpan bytes = entryData(entry, from);
    pieceBytes = std::clamp<size_t>(pieceBytes, 1, size_t{1} << 30);
    switch (entry.compressionMethod) {
        case methodStored:
            for (size_t at = 0; at < bytes.size(); at += pieceBytes)
                sink(bytes.subspan(at, std::min(pieceBytes, bytes.size() - at)));
            return;
        case methodDeflated:
            inflateInPieces(bytes, inflateCapacity(length(bytes), entry.uncompressedSize),
                            pieceBytes, sink);
            return;
        default:
            throw ZIPError::unsupportedCompression(entry.compressionMethod);
    }
}

ByteBuffer ZIPReader::inflateData(ByteSpan data, std::int64_t expectedSize) {
    const std::int64_t capacity = inflateCapacity(length(data), expectedSize);
    ByteBuffer output;
    try {
        // Left unwritten (no zero fill): only the decoded prefix is ever kept, so the pages
        // beyond it are never touched and cost no memory.
        output.resize(static_cast<size_t>(capacity));
    } catch (const std::bad_alloc&) {
        throw ZIPError::decompressionFailed();
    } catch (const std::length_error&) {
        throw ZIPError::decompressionFailed();
    }
    const size_t written = decodeRawDeflate(output, data);
    if (written < 1) throw ZIPError::decompressionFailed();
    output.resize(written);
    // A declared size far above the real one would leave a large, mostly unused block
    // behind; hand back a tight buffer instead.
    if (output.capacity() - written > written / 8 + 4096) output.shrink_to_fit();
    return output;
}

std::int64_t ZIPReader::extractionCapacity(const CentralEntry& entry) {
    return entry.compressionMethod == methodDeflated
               ? inflateCapacity(entry.compressedSize, entry.uncompressedSize)
               : entry.compressedSize;
}

size_t ZIPReader::modelEntryIndex(const std::vector<CentralEntry>& entries) {
    for (size_t k = 0; k < entries.size(); ++k) {
        if (entries[k].name == rootModelName) return k;
    }
    for (size_t k = 0; k < entries.size(); ++k) {
        if (endsWithModelSuffix(entries[k].name)) return k;
    }
    throw ZIPError::entryNotFound(std::string(rootModelName));
}

ByteBuffer ZIPReader::extractModelFile(const Archive& from) {
    return extractEntry(from.entries[modelEntryIndex(from.entries)], from.data);
}

}  // namespace kelvo

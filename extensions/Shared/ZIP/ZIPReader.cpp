#include "extensions/Shared/ZIP/ZIPReader.h"

#include <algorithm>
#include <cassert>
#include <new>
#include <stdexcept>

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

std::int64_t length(ByteSpan data) {
    return static_cast<std::int64_t>(data.size());
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
    std::int64_t wanted = std::max(4 * compressedLength, expectedSize);
    auto bound = static_cast<std::int64_t>(
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

    const std::uint16_t count = readUInt16(data, end + 10);
    std::int64_t offset = readUInt32(data, end + 16);
    std::vector<CentralEntry> entries;
    if (count == 0) return entries;
    // Each record takes at least 46 bytes, so the package bounds the reservation too.
    entries.reserve(std::min<std::int64_t>(count, size / centralRecordSize));

    for (std::uint32_t k = 0; k < count; ++k) {
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
        entries.push_back(std::move(entry));
        offset += centralRecordSize + nameLength + readUInt16(data, offset + 30) +
                  readUInt16(data, offset + 32);
    }
    return entries;
}

ByteBuffer ZIPReader::extractEntry(const CentralEntry& entry, ByteSpan from) {
    const std::int64_t size = length(from);
    const std::int64_t header = entry.localHeaderOffset;
    if (header < 0 || header + localHeaderSize > size) throw ZIPError::invalidArchive();
    if (readUInt32(from, header) != localHeaderSignature) throw ZIPError::invalidArchive();
    const std::int64_t start =
        header + localHeaderSize + readUInt16(from, header + 26) + readUInt16(from, header + 28);
    if (entry.compressedSize < 0 || start + entry.compressedSize > size) {
        throw ZIPError::invalidArchive();
    }
    ByteSpan bytes =
        from.subspan(static_cast<size_t>(start), static_cast<size_t>(entry.compressedSize));
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

ByteBuffer ZIPReader::extractModelFile(const Archive& from) {
    for (const CentralEntry& entry : from.entries) {
        if (entry.name == rootModelName) return extractEntry(entry, from.data);
    }
    for (const CentralEntry& entry : from.entries) {
        if (endsWithModelSuffix(entry.name)) return extractEntry(entry, from.data);
    }
    throw ZIPError::entryNotFound(std::string(rootModelName));
}

}  // namespace kelvo

// ZIPReader: the minimal, read-only ZIP reader under the 3MF loader.
//
// It works on a whole package held in memory: finds the end-of-central-directory record,
// lists the central directory, cuts single entries out (stored or raw DEFLATE) and picks the
// package's root model part by name. Nothing else: no writing, no encryption, no multi-disk
// archives, no CRC-32 check, no package metadata. Sizes, method and offsets are taken from
// the central directory only, so entries written with a trailing data descriptor read
// correctly.
//
// ZIP64 is read where a field says so, and only there: an end record field holding its
// marker (entry count FFFF, directory size or offset FFFFFFFF) sends the reader to the ZIP64
// end record for the entry count and directory offset, a central record's size or offset
// holding FFFFFFFF to the record's ZIP64 extra field for that value (see
// readCentralDirectory). Writers mark fields so even when the values would fit, and many 3MF
// packages are written that way. A package without markers is read exactly as if ZIP64 did
// not exist.
//
// Every size and offset comes from the file and is distrusted: each read is checked against
// the package length before it is made, and a DEFLATE output buffer is never larger than the
// compressed bytes could fill (see inflateData).
//
// Thread safety: static functions over caller-owned bytes, no state; any thread, also
// concurrently on the same package.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/Foundation/Error.h"

namespace kelvo {

// One central directory record, as kept. The 32-bit size and offset fields are
// zero-extended, or the ZIP64 values where they hold the marker. `name` is the entry's file
// name when its bytes are valid UTF-8, else empty.
struct CentralEntry {
    std::string name;
    std::uint16_t compressionMethod = 0;
    std::int64_t compressedSize = 0;
    std::int64_t uncompressedSize = 0;
    std::int64_t localHeaderOffset = 0;

    friend bool operator==(const CentralEntry&, const CentralEntry&) = default;
};

struct ZIPReader {
    ZIPReader() = delete;

    // The reader's own error: a case (its number is the code a host sees) and, for two of
    // the cases, a payload. It carries no message of its own; what() names the case and
    // payload for logs and tools, for example `entryNotFound("3D/3dmodel.model")`.
    class ZIPError : public std::exception {
    public:
        enum class Case : int {
            entryNotFound = 0,           // payload: the name that was sought
            unsupportedCompression = 1,  // payload: the method number found
            invalidArchive = 2,          // the package structure is broken
            decompressionFailed = 3,     // DEFLATE decoding produced nothing
        };

        static ZIPError entryNotFound(std::string name);
        static ZIPError unsupportedCompression(std::uint16_t method);
        static ZIPError invalidArchive();
        static ZIPError decompressionFailed();

        Case errorCase() const noexcept { return case_; }
        long code() const noexcept { return static_cast<long>(case_); }
        // The payload of entryNotFound; empty for the other cases.
        const std::string& entryName() const noexcept { return name_; }
        // The payload of unsupportedCompression; 0 for the other cases.
        std::uint16_t method() const noexcept { return method_; }
        const char* what() const noexcept override { return description_.c_str(); }

        friend bool operator==(const ZIPError& a, const ZIPError& b) {
            return a.case_ == b.case_ && a.name_ == b.name_ && a.method_ == b.method_;
        }

    private:
        ZIPError(Case c, std::string name, std::uint16_t method);
        Case case_;
        std::string name_;
        std::uint16_t method_;
        std::string description_;
    };

    // What extractModelFile works on: the whole package and its central directory, in
    // directory order. The caller builds it and keeps it for the whole load.
    struct Archive {
        ByteBuffer data;
        std::vector<CentralEntry> entries;
    };

    // The name of the root model part, which extractModelFile looks for first and names in
    // its entryNotFound error.
    static constexpr std::string_view rootModelName = "3D/3dmodel.model";

    // Little-endian reads at `at`, no alignment needed. Precondition (asserted, not
    // checked): the bytes lie inside `data`; every caller checks the bounds first.
    static std::uint16_t readUInt16(ByteSpan data, std::int64_t at);
    static std::uint32_t readUInt32(ByteSpan data, std::int64_t at);

    // The central directory of `data`, in order. Throws invalidArchive when the package is
    // shorter than 23 bytes or no end record signature lies in its last 65557 bytes (the
    // one nearest the end wins). The walk stops quietly, keeping what it read, at a record
    // whose fixed 46 bytes or whose name would run past the end, or whose signature is
    // wrong. A name that is not UTF-8 is listed as the empty name.
    //
    // ZIP64: when a field of the end record holds its marker, the entry count and directory
    // offset come from the ZIP64 end record that the locator right before the end record
    // points to; when that locator or record is missing, cut short or outside the package,
    // the 32-bit values stay (a directory offset past the end lists nothing). A central
    // record's sizes and local header offset that hold FFFFFFFF come from its extra block
    // 0x0001, which holds 8 bytes for each of them that is marked, in the order
    // uncompressed size, compressed size, offset; when that block is missing or too short,
    // or a value exceeds signed 64 bits, the markers stay and extraction fails.
    static std::vector<CentralEntry> readCentralDirectory(ByteSpan data);

    // The uncompressed bytes of `entry`, cut from `from` (the whole package). Checks, in
    // this order: local header inside the package and signed (else invalidArchive), entry
    // data inside the package (else invalidArchive), method 0 (stored: the bytes as they
    // are, whatever the declared size) or 8 (inflateData), else unsupportedCompression.
    static ByteBuffer extractEntry(const CentralEntry& entry, ByteSpan from);

    // Raw DEFLATE decoding into one buffer of capacity max(4 x compressed length,
    // expectedSize), clamped to what the stream could ever fill (1032 x compressed length +
    // 1 KiB), so a forged size cannot make us allocate gigabytes; the clamp changes no
    // result. Output beyond the capacity is cut without error. Throws decompressionFailed
    // when decoding fails, yields no byte, or the buffer cannot be allocated. The decoded
    // length is not compared with expectedSize.
    static ByteBuffer inflateData(ByteSpan data, std::int64_t expectedSize);

    // The most bytes extractEntry can allocate for `entry`: its compressed size when
    // stored, inflateData's capacity when deflated. Lets a caller budget its work before
    // extracting.
    static std::int64_t extractionCapacity(const CentralEntry& entry);

    // The bytes extractEntry gives for `entry`, handed to `sink` in order in pieces of at most
    // `pieceBytes` (at least 1), so that they never need to be held at once: a stored entry is
    // handed over from `from` itself, a deflated one is inflated as it goes, by zlib. Same
    // checks, errors and capacity as extractEntry (output past inflateData's capacity is cut
    // without error), except that a DEFLATE stream found broken after some pieces went out
    // throws decompressionFailed then: the caller drops what it made of them. zlib and the
    // decoder of inflateData agree on every stream a compressor writes; on some broken ones
    // (codes no compressor writes) one of them fails where the other does not. Exceptions
    // of the sink pass through.
    using PieceSink = std::function<void(ByteSpan piece)>;
    static void streamEntry(const CentralEntry& entry, ByteSpan from, size_t pieceBytes,
                            const PieceSink& sink);

    // The index in `entries` of the root model part extractModelFile picks, or
    // entryNotFound("3D/3dmodel.model").
    static size_t modelEntryIndex(const std::vector<CentralEntry>& entries);

    // The bytes of the package's root model part: the first entry named exactly
    // "3D/3dmodel.model", else the first whose name ends in ".model" in any letter case,
    // else entryNotFound("3D/3dmodel.model"). Errors of the chosen entry's extraction pass
    // through; no other candidate is tried.
    static ByteBuffer extractModelFile(const Archive& from);
};

// The readable name of a case: "entryNotFound", "unsupportedCompression", ...
const char* zipErrorCaseName(ZIPReader::ZIPError::Case errorCase);

// The platform error a host hands on for a ZIPError: domain "<deliverable>.ZIPReader.ZIPError"
// (the deliverable's own name, such as "KelvoThumbnail"), the case number as code, and no
// user info, so a user sees the generic description for that domain and code. The ZIPError
// rides along as the error's bridgedError(), for the readable text of ErrorReport.h.
Error platformError(const ZIPReader::ZIPError& error, std::string_view deliverable);

}  // namespace kelvo

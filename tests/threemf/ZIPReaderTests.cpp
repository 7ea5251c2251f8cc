// The ZIP reader on packages built field by field: where the end record is found, how the
// directory walk ends, the order of an extraction's checks, the DEFLATE capacity, and which
// entry is the root model part. (How its errors reach hosts: the host error and inspect tests.)
#include <gtest/gtest.h>

#include <limits>

#include "platform/Compression/RawDeflate.h"
#include "tests/support/ZIPWriter.h"

namespace kelvo {
namespace {

using ZIPError = ZIPReader::ZIPError;
using test::Bytes;
using test::ZIPTestPackage;
namespace field = test::zipField;

ZIPError thrown(const std::function<void()>& operation) {
    return test::thrown<ZIPError>(operation);
}

std::vector<std::string> names(const Bytes& package) {
    std::vector<std::string> out;
    for (const CentralEntry& e : ZIPReader::readCentralDirectory(package))
        out.push_back(e.name);
    return out;
}

const std::vector<test::ZIPTestEntry> threeParts = {
    {"[Content_Types].xml", test::bytesOf("<Types/>")},
    {"3D/3dmodel.model", test::bytesOf("<model>root</model>")},
    {"Metadata/thumbnail.png", test::bytesOf("png"), 0},
};
const std::vector<std::string> threeNames = {"[Content_Types].xml", "3D/3dmodel.model",
                                             "Metadata/thumbnail.png"};

TEST(ZIPReader, endRecordIsTheLastSignatureWithinTheLargestCommentOfAPackageOfMoreThan22Bytes) {
    Bytes bare = test::writeZIP({}).bytes;
    EXPECT_EQ(thrown([&] { ZIPReader::readCentralDirectory(bare); }), ZIPError::invalidArchive());
    bare.insert(bare.begin(), 0);
    EXPECT_TRUE(names(bare).empty());
    Bytes farthest = test::writeZIP(threeParts, Bytes(65535, 'c')).bytes;
    EXPECT_EQ(names(farthest), threeNames);
    farthest.push_back('x');
    EXPECT_EQ(thrown([&] { ZIPReader::readCentralDirectory(farthest); }),
              ZIPError::invalidArchive());
    // A comment holding an end record that declares no entries: the later one counts.
    Bytes fake = test::writeZIP({}).bytes;
    fake.push_back(0);
    EXPECT_TRUE(names(test::writeZIP(threeParts, fake).bytes).empty());
}

// One field of a package overwritten: in the end record, or in the second entry's records.
struct Poke {
    enum Record { end, central, local } record;
    size_t field;
    int width;
    std::uint32_t value;
};
using enum Poke::Record;
ZIPTestPackage threePartsWith(std::initializer_list<Poke> pokes) {
    ZIPTestPackage p = test::writeZIP(threeParts);
    for (const Poke& k : pokes) {
        const size_t at[] = {p.endRecord, p.centralRecords[1], p.localHeaders[1]};
        test::poke(p.bytes, at[k.record] + k.field, k.value, k.width);
    }
    return p;
}

TEST(ZIPReader, directoryWalkKeepsWhatItReadBeforeItEnds) {
    const std::tuple<const char*, Poke, size_t> rows[] = {
        {"no entries declared", {end, field::endEntryCount, 2, 0}, 0},
        {"more declared than written", {end, field::endEntryCount, 2, 9}, 3},
        {"one declared", {end, field::endEntryCount, 2, 1}, 1},
        {"second signature broken", {central, 0, 1, 'X'}, 1},
        {"second name past the end", {central, field::centralNameLength, 2, 0xFFFF}, 1},
        {"third record past the end", {central, field::centralCommentLength, 2, 0xFFFF}, 2},
        {"offset marked, no ZIP64 records", {end, field::endDirectoryOffset, 4, 0xFFFFFFFF}, 0},
    };
    for (const auto& [what, poke, entries] : rows) {
        EXPECT_EQ(names(threePartsWith({poke}).bytes),
                  std::vector<std::string>(threeNames.begin(), threeNames.begin() + entries))
            << what;
    }
}

TEST(ZIPReader, extractionChecksBoundsBeforeTheMethod) {
    const Poke method12 = {central, field::centralMethod, 2, 12},
               dataPastEnd = {central, field::centralCompressedSize, 4, 0xFFFFFFF0};
    const ZIPError invalid = ZIPError::invalidArchive(), failed = ZIPError::decompressionFailed();
    const struct {
        const char* what;
        std::initializer_list<Poke> pokes;  // an aggregate member: the list lives as long
        ZIPError expected;
    } rows[] = {
        {"local header past the end", {{central, field::centralLocalOffset, 4, ~0u}}, invalid},
        {"local signature wrong", {{local, 3, 1, 9}}, invalid},
        {"data past the end", {dataPastEnd}, invalid},
        {"local name past the end", {{local, field::localNameLength, 2, 0xFFFF}}, invalid},
        {"method 12", {method12}, ZIPError::unsupportedCompression(12)},
        {"method 12, data past the end", {method12, dataPastEnd}, invalid},
        {"block of the reserved type", {{local, 30 + 16, 1, 7}}, failed},
        {"stream cut short", {{central, field::centralCompressedSize, 4, 3}}, failed},
    };
    for (const auto& row : rows) {
        ZIPTestPackage p = threePartsWith(row.pokes);
        std::vector<CentralEntry> entries = ZIPReader::readCentralDirectory(p.bytes);
        ASSERT_EQ(entries.size(), 3u) << row.what;
        EXPECT_EQ(thrown([&] { ZIPReader::extractEntry(entries[1], p.bytes); }), row.expected)
            << row.what;
        EXPECT_EQ(thrown([&] { ZIPReader::streamEntry(entries[1], p.bytes, 4, [](ByteSpan) {}); }),
                  row.expected)
            << row.what << ", streamed";
    }
}

// The pieces joined, or extractEntry's error.
Bytes streamed(const CentralEntry& entry, const Bytes& package, size_t pieceBytes) {
    Bytes joined;
    ZIPReader::streamEntry(entry, package, pieceBytes, [&](ByteSpan piece) {
        EXPECT_LE(piece.size(), std::max<size_t>(pieceBytes, 1));
        joined.insert(joined.end(), piece.begin(), piece.end());
    });
    return joined;
}

TEST(ZIPReader, streamedEntriesGiveWhatExtractionGivesPieceByPiece) {
    const Bytes text = test::bytesOf("the quick brown fox jumps over the lazy dog");
    Bytes noise(300000);
    for (size_t k = 0; k < noise.size(); ++k)
        noise[k] = static_cast<std::uint8_t>((k * 2654435761u) >> 13);
    const Bytes compressed = test::rawDeflate(Bytes(100000, 'a'));
    const auto c = static_cast<std::int64_t>(compressed.size());
    ZIPTestPackage p = test::writeZIP(
        {{"stored", noise, 0}, {"text", text}, {"noise", noise}, {"as", Bytes(100000, 'a')}});
    std::vector<CentralEntry> entries = ZIPReader::readCentralDirectory(p.bytes);
    ASSERT_EQ(entries.size(), 4u);
    // Declared sizes that lie: output is cut at the capacity an extraction has, no error.
    CentralEntry small = entries[3], large = entries[3];
    small.uncompressedSize = 10;
    large.uncompressedSize = 0xFFFFFFFFll;
    entries.push_back(small);
    entries.push_back(large);
    for (const CentralEntry& entry : entries) {
        const ByteBuffer extracted = ZIPReader::extractEntry(entry, p.bytes);
        const Bytes whole(extracted.begin(), extracted.end());
        for (size_t piece : {0, 1, 1000, 1 << 20})
            EXPECT_EQ(streamed(entry, p.bytes, piece), whole) << entry.name << " " << piece;
    }
    EXPECT_EQ(static_cast<std::int64_t>(streamed(small, p.bytes, 7).size()), 4 * c);
    // A stream found cut short after pieces went out fails then.
    CentralEntry cut = entries[2];
    cut.compressedSize /= 2;
    size_t handed = 0;
    EXPECT_EQ(thrown([&] {
                  ZIPReader::streamEntry(cut, p.bytes, 1000,
                                         [&](ByteSpan piece) { handed += piece.size(); });
              }),
              ZIPError::decompressionFailed());
    EXPECT_GT(handed, 10000u);
}

// (Data descriptors and extra fields: the corpus holds packages with them.)
TEST(ZIPReader, entriesAreReadFromTheCentralFieldsOnly) {
    const std::vector<test::ZIPTestEntry> entries = {
        {"stored", test::bytesOf("as is"), 0},
        {"3D/\xff.model", {}, 0},  // not UTF-8: no name
        {"deflated", Bytes(5000, 'z')}};
    ZIPTestPackage p = test::writeZIP(entries);
    test::poke(p.bytes, p.localHeaders[2] + 8, 0, 2);  // the local method is never read
    test::poke(p.bytes, p.centralRecords[1] + field::centralSize, 0xFFFFFFFF);
    std::vector<CentralEntry> read = ZIPReader::readCentralDirectory(p.bytes);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[1],
              (CentralEntry{"", 0, 0, 0xFFFFFFFFll, static_cast<std::int64_t>(p.localHeaders[1])}));
    read[0].uncompressedSize = 999;  // a stored entry is not compared with it
    for (size_t k = 0; k < 3; ++k) {
        ByteBuffer bytes = ZIPReader::extractEntry(read[k], p.bytes);
        EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), entries[k].content) << k;
    }
}

// ZIP64: each field marked alone, and all at once, reads as the entries that were written.
TEST(ZIPReader, zip64ValuesStandInForTheMarkedFields) {
    using F = test::ZIP64Fields;
    const F rows[] = {
        {.entryCount = true},
        {.directorySize = true},
        {.directoryOffset = true},
        {.uncompressedSize = true},
        {.compressedSize = true},
        {.localHeaderOffset = true},
        {.uncompressedSize = true, .localHeaderOffset = true, .otherBlockFirst = true},
        {true, true, true, true, true, true},
    };
    for (size_t row = 0; row < std::size(rows); ++row) {
        ZIPTestPackage p = test::writeZIP(threeParts, {}, rows[row]);
        std::vector<CentralEntry> read = ZIPReader::readCentralDirectory(p.bytes);
        ASSERT_EQ(read.size(), 3u) << row;
        for (size_t k = 0; k < 3; ++k) {
            const test::ZIPTestEntry& e = threeParts[k];
            EXPECT_EQ(read[k], (CentralEntry{e.name, e.method, std::int64_t(p.compressedSizes[k]),
                                             std::int64_t(e.content.size()),
                                             std::int64_t(p.localHeaders[k])}))
                << row << " " << k;
            ByteBuffer bytes = ZIPReader::extractEntry(read[k], p.bytes);
            EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), e.content) << row << " " << k;
        }
    }
}

// A ZIP64 end record that is missing or out of place leaves the 32-bit values in use: the
// end record's marked directory offset then lists nothing, as it always did. The ZIP64
// values themselves are taken as they are, and only when a field is marked.
TEST(ZIPReader, zip64EndRecordIsUsedOnlyWhenMarkedFoundAndWhole) {
    using Change = std::function<void(ZIPTestPackage&)>;
    auto set = [](size_t ZIPTestPackage::*record, size_t at, int width, std::uint64_t value) {
        return Change(
            [=](ZIPTestPackage& p) { test::poke(p.bytes, p.*record + at, value, width); });
    };
    constexpr auto locator = &ZIPTestPackage::zip64Locator;
    constexpr auto record = &ZIPTestPackage::zip64EndRecord;
    namespace f64 = test::zip64Field;
    const struct {
        const char* what;
        Change change;
        size_t entries;  // listed, from the first
    } rows[] = {
        {"as written", [](ZIPTestPackage&) {}, 3},
        {"no locator", set(locator, 0, 1, 'X'), 0},
        {"locator not right before the end record",
         [](ZIPTestPackage& p) {
             p.bytes.insert(p.bytes.begin() + std::ptrdiff_t(p.endRecord), 0);
         },
         0},
        {"record signature broken", set(record, 0, 1, 'X'), 0},
        {"record past the end", set(locator, f64::locatorRecordOffset, 8, 1 << 20), 0},
        {"record at 2^64 - 1", set(locator, f64::locatorRecordOffset, 8, ~0ull), 0},
        {"record cut short by the end",
         [](ZIPTestPackage& p) {
             test::poke(p.bytes, p.zip64Locator + f64::locatorRecordOffset, p.bytes.size() - 55, 8);
         },
         0},
        {"directory past the end", set(record, f64::endDirectoryOffset, 8, 1ull << 63), 0},
        {"directory at 2^64 - 1", set(record, f64::endDirectoryOffset, 8, ~0ull), 0},
        {"one entry", set(record, f64::endEntryCount, 8, 1), 1},
        {"count 2^64 - 1", set(record, f64::endEntryCount, 8, ~0ull), 3},
        {"nothing marked: ZIP64 saying no entries is not read",
         [](ZIPTestPackage& p) {
             test::poke(p.bytes, p.endRecord + field::endDirectoryOffset, p.centralRecords[0]);
             test::poke(p.bytes, p.zip64EndRecord + f64::endEntryCount, 0, 8);
         },
         3},
    };
    for (const auto& row : rows) {
        ZIPTestPackage p = test::writeZIP(threeParts, {}, {.directoryOffset = true});
        row.change(p);
        EXPECT_EQ(names(p.bytes),
                  std::vector<std::string>(threeNames.begin(), threeNames.begin() + row.entries))
            << row.what;
    }
}

// An entry's marked field without a usable ZIP64 value keeps its marker, and extracting it
// fails as it always did; a ZIP64 value that lies is checked like any other.
TEST(ZIPReader, zip64EntryValuesMissingShortOrLyingFailTheExtraction) {
    namespace f64 = test::zip64Field;
    const std::uint64_t top = std::numeric_limits<std::int64_t>::max();
    const struct {
        const char* what;
        size_t at;  // in the second entry's extra block, which holds all three values
        int width;
        std::uint64_t value;
    } rows[] = {
        {"another block id", 0, 2, 0x0002},
        {"block too short", f64::extraSize, 2, 16},
        {"offset beyond signed 64 bits", f64::extraFirstValue + 16, 8, top + 1},
        {"offset past the end", f64::extraFirstValue + 16, 8, 1 << 20},
        {"offset at the top", f64::extraFirstValue + 16, 8, top},
        {"compressed size at the top", f64::extraFirstValue + 8, 8, top},
    };
    for (const auto& row : rows) {
        ZIPTestPackage p = test::writeZIP(
            threeParts, {},
            {.uncompressedSize = true, .compressedSize = true, .localHeaderOffset = true});
        test::poke(p.bytes, p.zip64Extras[1] + row.at, row.value, row.width);
        std::vector<CentralEntry> entries = ZIPReader::readCentralDirectory(p.bytes);
        ASSERT_EQ(entries.size(), 3u) << row.what;
        EXPECT_EQ(thrown([&] { ZIPReader::extractEntry(entries[1], p.bytes); }),
                  ZIPError::invalidArchive())
            << row.what;
        EXPECT_GE(ZIPReader::extractionCapacity(entries[1]), 0) << row.what;
    }
}

TEST(ZIPReader, inflateCapacityFollowsTheDeclaredSizeWithinWhatTheStreamCanFill) {
    const Bytes text = test::bytesOf("the quick brown fox");
    EXPECT_EQ(ZIPReader::inflateData(test::rawDeflate(text), 1).size(), text.size());  // 4 x c
    const Bytes compressed = test::rawDeflate(Bytes(100000, 'a'));
    const auto c = static_cast<std::int64_t>(compressed.size());
    EXPECT_EQ(static_cast<std::int64_t>(ZIPReader::inflateData(compressed, 10).size()),
              4 * c);  // cut, no error
    EXPECT_EQ(ZIPReader::inflateData(compressed, 100000).size(), 100000u);
    EXPECT_EQ(ZIPReader::inflateData(compressed, 0xFFFFFFFFll).size(), 100000u);
    EXPECT_EQ(ZIPReader::extractionCapacity({"m", 8, c, 0xFFFFFFFFll, 0}), 1032 * c + 1024);
    EXPECT_EQ(thrown([&] { ZIPReader::inflateData(test::rawDeflate(Bytes{}), 0); }),
              ZIPError::decompressionFailed());
    // The clamp is safe: the densest stream zlib can make of 20 MB stays inside the bound.
    const Bytes zeros(20 << 20, 0), dense = test::rawDeflate(zeros, 9);
    EXPECT_GT(zeros.size() / dense.size(), 1000u);
    EXPECT_EQ(ZIPReader::inflateData(dense, 0xFFFFFFFFll).size(), zeros.size());
    EXPECT_LE(zeros.size(), rawDeflateOutputBound(dense.size()));
}

TEST(ZIPReader, rootModelPartIsChosenByNameThenBySuffix) {
    auto archiveOf = [](const std::vector<std::string>& partNames) {
        std::vector<test::ZIPTestEntry> entries;
        for (const std::string& n : partNames)
            entries.push_back({n, test::bytesOf(n)});
        const Bytes bytes = test::writeZIP(entries).bytes;
        return ZIPReader::Archive{{bytes.begin(), bytes.end()},
                                  ZIPReader::readCentralDirectory(bytes)};
    };
    auto chosen = [&](const std::vector<std::string>& partNames) {
        ByteBuffer b = ZIPReader::extractModelFile(archiveOf(partNames));
        return std::string(b.begin(), b.end());
    };
    EXPECT_EQ(chosen({"3D/other.model", "3D/3dmodel.model"}), "3D/3dmodel.model");
    EXPECT_EQ(chosen({"a.txt", "3D/3DModel.model"}), "3D/3DModel.model");
    EXPECT_EQ(chosen({"Metadata/thumb.MODEL", "3D/3DModel.model"}), "Metadata/thumb.MODEL");
    EXPECT_EQ(thrown([&] {
                  chosen({"3D/3dmodel.custom", "model", "3D/3dmodel.model.rels"});
              }),
              ZIPError::entryNotFound("3D/3dmodel.model"));
    // The chosen entry's failure is final: the suffix candidate is not tried.
    ZIPReader::Archive a = archiveOf({"3D/3dmodel.model", "3D/good.model"});
    a.entries[0].compressionMethod = 14;
    EXPECT_EQ(thrown([&] { ZIPReader::extractModelFile(a); }),
              ZIPError::unsupportedCompression(14));
}

}  // namespace
}  // namespace kelvo

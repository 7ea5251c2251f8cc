// The ZIP reader on packages built field by field: how the end record is found, how the
// central directory walk ends, which checks an extraction makes in which order, and which
// entry is the root model part.
#include <gtest/gtest.h>

#include "extensions/Shared/ZIPReader.h"
#include "tests/support/ZIPWriter.h"

namespace kelvo {

// Failures name the case and payload instead of dumping bytes.
inline void PrintTo(const ZIPReader::ZIPError& e, std::ostream* os) {
    *os << e.what();
}

namespace {

using ZIPError = ZIPReader::ZIPError;
using Case = ZIPError::Case;
using test::Bytes;
using test::ZIPTestEntry;
namespace field = test::zipField;

ByteSpan span(const Bytes& b) {
    return ByteSpan(b.data(), b.size());
}

std::vector<std::string> names(const Bytes& package) {
    std::vector<std::string> out;
    for (const CentralEntry& e : ZIPReader::readCentralDirectory(span(package)))
        out.push_back(e.name);
    return out;
}

// The error an operation throws; fails the test when it throws none.
template <class F>
ZIPError thrown(F&& operation) {
    try {
        operation();
    } catch (const ZIPError& e) {
        return e;
    }
    ADD_FAILURE() << "no ZIPError";
    return ZIPError::invalidArchive();
}

const std::vector<ZIPTestEntry> threeParts = {
    {"[Content_Types].xml", test::bytesOf("<Types/>")},
    {"3D/3dmodel.model", test::bytesOf("<model>root</model>")},
    {"Metadata/thumbnail.png", test::bytesOf("png"), 0},
};

TEST(ZIPReader, endRecordNeedsMoreThanItsOwn22Bytes) {
    test::ZIPTestPackage empty = test::writeZIP({});
    ASSERT_EQ(empty.bytes.size(), 22u);
    EXPECT_EQ(thrown([&] { ZIPReader::readCentralDirectory(span(empty.bytes)); }),
              ZIPError::invalidArchive());
    Bytes padded = empty.bytes;
    padded.insert(padded.begin(), 0);  // 23 bytes: an empty package
    EXPECT_TRUE(names(padded).empty());
    for (size_t n : {0u, 1u, 21u}) {
        Bytes tiny(empty.bytes.begin(), empty.bytes.begin() + n);
        EXPECT_EQ(thrown([&] { ZIPReader::readCentralDirectory(span(tiny)); }).errorCase(),
                  Case::invalidArchive);
    }
}

TEST(ZIPReader, endRecordIsSearchedOnlyThroughTheLargestComment) {
    Bytes longest = test::writeZIP(threeParts, Bytes(65535, 'c')).bytes;
    EXPECT_EQ(names(longest).size(), 3u);
    Bytes tooFar = test::writeZIP(threeParts, Bytes(65535, 'c')).bytes;
    tooFar.push_back('x');  // one byte more than any comment can explain
    EXPECT_EQ(thrown([&] { ZIPReader::readCentralDirectory(span(tooFar)); }).errorCase(),
              Case::invalidArchive);
    Bytes notZIP(4096, 0x50);
    EXPECT_EQ(thrown([&] { ZIPReader::readCentralDirectory(span(notZIP)); }).errorCase(),
              Case::invalidArchive);
}

TEST(ZIPReader, theEndRecordNearestTheEndWins) {
    // A comment holding a second end record that declares no entries.
    Bytes fake = test::writeZIP({}).bytes;
    fake.push_back(0);
    Bytes package = test::writeZIP(threeParts, fake).bytes;
    EXPECT_TRUE(names(package).empty());
}

TEST(ZIPReader, directoryWalkKeepsWhatItReadBeforeAnEnd) {
    struct Row {
        const char* what;
        void (*corrupt)(test::ZIPTestPackage&);
        std::vector<std::string> expected;
    } rows[] = {
        {"as written",
         [](test::ZIPTestPackage&) {},
         {"[Content_Types].xml", "3D/3dmodel.model", "Metadata/thumbnail.png"}},
        {"no entries declared",
         [](test::ZIPTestPackage& p) {
             test::poke16(p.bytes, p.endRecord + field::endEntryCount, 0);
         },
         {}},
        {"more entries declared than written",
         [](test::ZIPTestPackage& p) {
             test::poke16(p.bytes, p.endRecord + field::endEntryCount, 9);
         },
         {"[Content_Types].xml", "3D/3dmodel.model", "Metadata/thumbnail.png"}},
        {"fewer entries declared",
         [](test::ZIPTestPackage& p) {
             test::poke16(p.bytes, p.endRecord + field::endEntryCount, 1);
         },
         {"[Content_Types].xml"}},
        {"second record's signature broken",
         [](test::ZIPTestPackage& p) { p.bytes[p.centralRecords[1]] = 'X'; },
         {"[Content_Types].xml"}},
        {"second record's name runs past the end",
         [](test::ZIPTestPackage& p) {
             test::poke16(p.bytes, p.centralRecords[1] + field::centralNameLength, 0xFFFF);
         },
         {"[Content_Types].xml"}},
        {"third record's fixed part does not fit",
         [](test::ZIPTestPackage& p) {
             test::poke16(
                 p.bytes, p.centralRecords[1] + field::centralCommentLength,
                 static_cast<std::uint16_t>(p.bytes.size() - p.centralRecords[1] - 46 - 16 - 40));
         },
         {"[Content_Types].xml", "3D/3dmodel.model"}},
        {"directory offset past the end",
         [](test::ZIPTestPackage& p) {
             test::poke32(p.bytes, p.endRecord + field::endDirectoryOffset, 0xFFFFFFFF);
         },
         {}},
    };
    for (const Row& row : rows) {
        test::ZIPTestPackage p = test::writeZIP(threeParts);
        row.corrupt(p);
        EXPECT_EQ(names(p.bytes), row.expected) << row.what;
    }
}

TEST(ZIPReader, recordsAreReadFieldByField) {
    std::vector<ZIPTestEntry> entries = threeParts;
    entries[0].centralExtra = Bytes(7, 'e');
    entries[0].comment = test::bytesOf("a comment");
    entries[1].name =
        "3D/\xff"
        "bad.model";  // not UTF-8
    entries[2].method = 12;
    test::ZIPTestPackage p = test::writeZIP(entries);
    std::vector<CentralEntry> read = ZIPReader::readCentralDirectory(span(p.bytes));
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].name, "[Content_Types].xml");
    EXPECT_EQ(read[0].compressionMethod, 8);
    EXPECT_EQ(read[0].uncompressedSize, 8);
    EXPECT_EQ(read[0].localHeaderOffset, 0);
    EXPECT_EQ(read[1].name, "");
    EXPECT_EQ(read[1].localHeaderOffset, static_cast<std::int64_t>(p.localHeaders[1]));
    EXPECT_EQ(read[2].name, "Metadata/thumbnail.png");
    EXPECT_EQ(read[2].compressionMethod, 12);
    EXPECT_EQ(read[2].compressedSize, 3);
    // 32-bit fields are zero-extended, not sign-extended.
    test::poke32(p.bytes, p.centralRecords[2] + field::centralUncompressedSize, 0xFFFFFFFF);
    EXPECT_EQ(ZIPReader::readCentralDirectory(span(p.bytes))[2].uncompressedSize, 0xFFFFFFFFll);
}

TEST(ZIPReader, extractionChecksInOrder) {
    struct Row {
        const char* what;
        void (*corrupt)(test::ZIPTestPackage&);
        ZIPError expected;
    } rows[] = {
        {"local header offset past the end",
         [](test::ZIPTestPackage& p) {
             test::poke32(p.bytes, p.centralRecords[1] + field::centralLocalHeaderOffset,
                          0xFFFFFFFF);
         },
         ZIPError::invalidArchive()},
        {"local header cut by the end",
         [](test::ZIPTestPackage& p) {
             test::poke32(p.bytes, p.centralRecords[1] + field::centralLocalHeaderOffset,
                          static_cast<std::uint32_t>(p.bytes.size() - 29));
         },
         ZIPError::invalidArchive()},
        {"local signature wrong",
         [](test::ZIPTestPackage& p) { p.bytes[p.localHeaders[1] + 3] = 9; },
         ZIPError::invalidArchive()},
        {"data past the end",
         [](test::ZIPTestPackage& p) {
             test::poke32(p.bytes, p.centralRecords[1] + field::centralCompressedSize, 0xFFFFFFF0);
         },
         ZIPError::invalidArchive()},
        {"local name length past the end",
         [](test::ZIPTestPackage& p) {
             test::poke16(p.bytes, p.localHeaders[1] + field::localNameLength, 0xFFFF);
         },
         ZIPError::invalidArchive()},
        {"method 12",
         [](test::ZIPTestPackage& p) {
             test::poke16(p.bytes, p.centralRecords[1] + field::centralMethod, 12);
         },
         ZIPError::unsupportedCompression(12)},
        {"method 12 and truncated: the bounds come first",
         [](test::ZIPTestPackage& p) {
             test::poke16(p.bytes, p.centralRecords[1] + field::centralMethod, 12);
             test::poke32(p.bytes, p.centralRecords[1] + field::centralCompressedSize, 0xFFFFFFF0);
         },
         ZIPError::invalidArchive()},
        {"deflated garbage",
         [](test::ZIPTestPackage& p) {
             p.bytes[p.localHeaders[1] + 30 + 16] = 0x07;  // first block: the reserved type
         },
         ZIPError::decompressionFailed()},
    };
    for (const Row& row : rows) {
        test::ZIPTestPackage p = test::writeZIP(threeParts);
        row.corrupt(p);
        std::vector<CentralEntry> entries = ZIPReader::readCentralDirectory(span(p.bytes));
        ASSERT_EQ(entries.size(), 3u) << row.what;
        EXPECT_EQ(thrown([&] { ZIPReader::extractEntry(entries[1], span(p.bytes)); }), row.expected)
            << row.what;
    }
}

TEST(ZIPReader, storedAndDeflatedEntriesExtractFromTheCentralFields) {
    std::vector<ZIPTestEntry> entries = {
        {"stored", test::bytesOf("as is"), 0},
        {"empty stored", {}, 0},
        {"streamed", test::bytesOf(std::string(5000, 'z') + "tail"), 8, true, Bytes(9, 'x')},
    };
    test::ZIPTestPackage p = test::writeZIP(entries);
    // The local header's method is never read.
    test::poke16(p.bytes, p.localHeaders[2] + field::localMethod, 0);
    std::vector<CentralEntry> read = ZIPReader::readCentralDirectory(span(p.bytes));
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(ZIPReader::extractEntry(read[0], span(p.bytes)),
              ByteBuffer(entries[0].content.begin(), entries[0].content.end()));
    EXPECT_TRUE(ZIPReader::extractEntry(read[1], span(p.bytes)).empty());
    EXPECT_EQ(ZIPReader::extractEntry(read[2], span(p.bytes)),
              ByteBuffer(entries[2].content.begin(), entries[2].content.end()));
    // A stored entry is not compared with its declared size.
    read[0].uncompressedSize = 999;
    EXPECT_EQ(ZIPReader::extractEntry(read[0], span(p.bytes)).size(), 5u);
}

TEST(ZIPReader, inflateCapacityFollowsTheDeclaredSizeWithinWhatTheStreamCanFill) {
    Bytes content(100000, 'a');
    content.back() = 'b';
    Bytes compressed = test::rawDeflate(content);
    const auto c = static_cast<std::int64_t>(compressed.size());
    // A declared size that is too small still decodes completely when 4 x the compressed
    // length suffices...
    Bytes text = test::bytesOf("the quick brown fox");
    Bytes textCompressed = test::rawDeflate(text);
    EXPECT_EQ(ZIPReader::inflateData(span(textCompressed), 1).size(), text.size());
    // ...and is cut at that capacity, without error, when it does not.
    ByteBuffer cut = ZIPReader::inflateData(span(compressed), 10);
    EXPECT_EQ(static_cast<std::int64_t>(cut.size()), 4 * c);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), content.begin()));
    // A true declared size decodes everything; a forged huge one too, from a buffer no
    // larger than the stream could ever fill.
    EXPECT_EQ(ZIPReader::inflateData(span(compressed), 100000).size(), 100000u);
    EXPECT_EQ(ZIPReader::inflateData(span(compressed), 0xFFFFFFFFll).size(), 100000u);
    CentralEntry forged{"m", 8, c, 0xFFFFFFFFll, 0};
    EXPECT_EQ(ZIPReader::extractionCapacity(forged), 1032 * c + 1024);
    forged.uncompressedSize = 100000;
    EXPECT_EQ(ZIPReader::extractionCapacity(forged), 100000);
    forged.compressionMethod = 0;
    EXPECT_EQ(ZIPReader::extractionCapacity(forged), c);
    // Decoding to nothing is a failure.
    Bytes nothing = test::rawDeflate(Bytes{});
    EXPECT_EQ(thrown([&] { ZIPReader::inflateData(span(nothing), 0); }),
              ZIPError::decompressionFailed());
}

TEST(ZIPReader, rootModelPartIsChosenByNameThenBySuffix) {
    auto archiveOf = [](const std::vector<std::string>& partNames) {
        std::vector<ZIPTestEntry> entries;
        for (const std::string& n : partNames)
            entries.push_back({n, test::bytesOf("part " + n)});
        ZIPReader::Archive a;
        if (partNames.empty()) return a;
        Bytes bytes = test::writeZIP(entries).bytes;
        a.data.assign(bytes.begin(), bytes.end());
        a.entries = ZIPReader::readCentralDirectory(a.data);
        return a;
    };
    auto chosen = [](const ZIPReader::Archive& a) {
        ByteBuffer b = ZIPReader::extractModelFile(a);
        return std::string(b.begin(), b.end());
    };
    EXPECT_EQ(chosen(archiveOf({"3D/other.model", "3D/3dmodel.model"})), "part 3D/3dmodel.model");
    EXPECT_EQ(chosen(archiveOf({"a.txt", "3D/3DModel.model"})), "part 3D/3DModel.model");
    EXPECT_EQ(chosen(archiveOf({"Metadata/thumb.MODEL", "3D/3DModel.model"})),
              "part Metadata/thumb.MODEL");
    for (const auto& parts :
         {std::vector<std::string>{}, {"3D/3dmodel.custom", "model", "3D/3dmodel.model.rels"}}) {
        EXPECT_EQ(thrown([&] { ZIPReader::extractModelFile(archiveOf(parts)); }),
                  ZIPError::entryNotFound("3D/3dmodel.model"));
    }
    // The chosen entry's failure is final: the suffix candidate is not tried.
    ZIPReader::Archive a = archiveOf({"3D/3dmodel.model", "3D/good.model"});
    a.entries[0].compressionMethod = 14;
    EXPECT_EQ(thrown([&] { ZIPReader::extractModelFile(a); }),
              ZIPError::unsupportedCompression(14));
}

TEST(ZIPReader, errorsReachHostsAsPlatformErrorsOfTheirDeliverable) {
    struct Row {
        ZIPError error;
        long code;
        const char* what;
    } rows[] = {
        {ZIPError::entryNotFound("3D/3dmodel.model"), 0, "entryNotFound(\"3D/3dmodel.model\")"},
        {ZIPError::unsupportedCompression(12), 1, "unsupportedCompression(12)"},
        {ZIPError::invalidArchive(), 2, "invalidArchive"},
        {ZIPError::decompressionFailed(), 3, "decompressionFailed"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.error.code(), row.code);
        EXPECT_STREQ(row.error.what(), row.what);
        Error e = platformError(row.error, "KelvoThumbnail");
        EXPECT_EQ(e.domain(), "KelvoThumbnail.ZIPReader.ZIPError");
        EXPECT_EQ(e.code(), row.code);
        EXPECT_TRUE(e.userInfo().empty());
    }
    EXPECT_EQ(ZIPError::entryNotFound("a").entryName(), "a");
    EXPECT_EQ(ZIPError::unsupportedCompression(12).method(), 12);
}

}  // namespace
}  // namespace kelvo

// The ZIP reader on packages built field by field: where the end record is found, how the
// directory walk ends, the order of an extraction's checks, the DEFLATE capacity, and which
// entry is the root model part. (How its errors reach hosts: the host error and inspect tests.)
#include <gtest/gtest.h>

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
        {"ZIP64 directory offset", {end, field::endDirectoryOffset, 4, 0xFFFFFFFF}, 0},
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
    }
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

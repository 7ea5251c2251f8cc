// The chunk walk: the three errors, the rules for each chunk, lying sizes and counts, the
// palettes and the dictionaries.
#include <gtest/gtest.h>

#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/VOXReader.h"
#include "tests/support/VOXWriter.h"

namespace kelvo {
namespace {

using test::Bytes;
using test::VOXWriter;
using test::operator<<;

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(VOXReader, tooSmallBadMagicAndNoModelAreTheOnlyErrors) {
    Bytes header = VOXWriter().file();  // signature, version and MAIN header: 20 bytes
    Bytes thirtyOne = header;
    thirtyOne.resize(31, 'x');
    struct {
        const char* name;
        Bytes bytes;
        long code;
        std::string_view message;
    } cases[] = {
        {"empty", {}, -20, SceneLoaderMessage::voxFileTooSmall},
        {"7 bytes", text("VOX 150"), -20, SceneLoaderMessage::voxFileTooSmall},
        {"8 bytes", text("VOX \xff\xff\xff\xff"), -22, SceneLoaderMessage::voxNoVoxelData},
        {"8 bytes, other signature", text("VOY 1234"), -21, SceneLoaderMessage::voxBadMagic},
        {"lower case", text("vox 1234"), -21, SceneLoaderMessage::voxBadMagic},
        {"20 bytes", header, -22, SceneLoaderMessage::voxNoVoxelData},
        {"31 bytes", thirtyOne, -22, SceneLoaderMessage::voxNoVoxelData},
        {"XYZI only", VOXWriter().xyzi({{0, 0, 0, 1}}).file(), -22,
         SceneLoaderMessage::voxNoVoxelData},
        {"SIZE of 8 bytes", VOXWriter().chunk("SIZE", test::u32s({1, 1})).file(), -22,
         SceneLoaderMessage::voxNoVoxelData},
    };
    for (const auto& c : cases) {
        try {
            readVOXFile(test::span(c.bytes));
            ADD_FAILURE() << c.name << " was read";
        } catch (const Error& e) {
            EXPECT_EQ(e, sceneLoaderError(static_cast<SceneLoaderErrorCode>(c.code), c.message))
                << c.name;
        }
    }
}

TEST(VOXReader, versionAndMainHeaderAreNeverChecked) {
    for (std::uint32_t version : {0u, 150u, 200u, 0xFFFFFFFFu}) {
        Bytes file = VOXWriter().model(1, 1, 1, {{0, 0, 0, 1}}).file(version);
        std::fill(file.begin() + 8, file.begin() + 20, 0xEE);  // MAIN id and sizes
        EXPECT_EQ(readVOXFile(test::span(file)).models.size(), 1u) << version;
    }
}

TEST(VOXReader, chunkRulesDecideWhichVoxelsAModelGets) {
    const std::vector<VOXVoxel> one = {{1, 2, 3, 4}}, two = {{5, 6, 7, 8}};
    struct {
        const char* name;
        Bytes file;
        std::vector<std::vector<VOXVoxel>> models;
    } cases[] = {
        {"XYZI before SIZE is ignored",
         VOXWriter().xyzi({{1, 2, 3, 4}}).size(9, 9, 9).file(),
         {{}}},
        {"the second XYZI wins",
         VOXWriter().size(9, 9, 9).xyzi({{1, 2, 3, 4}}).xyzi({{5, 6, 7, 8}}).file(),
         {two}},
        {"SIZE without XYZI counts", VOXWriter().size(9, 9, 9).file(), {{}}},
        {"short SIZE: XYZI goes to the model before",
         VOXWriter()
             .model(9, 9, 9, {})
             .chunk("SIZE", test::u32s({1, 1}))
             .xyzi({{1, 2, 3, 4}})
             .file(),
         {one}},
        {"non-ASCII id is unknown",
         VOXWriter()
             .size(9, 9, 9)
             .chunk("SIZ\xd3", test::u32s({1, 1, 1}))
             .xyzi({{1, 2, 3, 4}})
             .file(),
         {one}},
        {"a chunk past the end stops the walk",
         VOXWriter().model(9, 9, 9, {{1, 2, 3, 4}}).chunk("SIZE", test::u32s({1, 1, 1}), 13).file(),
         {one}},
    };
    for (const auto& c : cases) {
        VOXFile file = readVOXFile(test::span(c.file));
        ASSERT_EQ(file.models.size(), c.models.size()) << c.name;
        for (size_t i = 0; i < c.models.size(); ++i)
            EXPECT_EQ(
                std::vector<VOXVoxel>(file.models[i].voxels.begin(), file.models[i].voxels.end()),
                c.models[i])
                << c.name;
    }
}

TEST(VOXReader, voxelCountsAreBoundedByTheFileNotTheChunk) {
    std::vector<std::array<std::uint8_t, 4>> ten(10, {1, 1, 1, 1});
    // n says 50, the chunk holds 10: at the end of the file 10 are read.
    Bytes atEnd = VOXWriter().size(9, 9, 9).xyzi(ten, 50).file();
    EXPECT_EQ(readVOXFile(test::span(atEnd)).models[0].voxels.size(), 10u);

    // Followed by another chunk, the voxels go on into its bytes; the walk still finds it.
    Bytes followed = VOXWriter().size(9, 9, 9).xyzi(ten, 50).size(2, 3, 4).file();
    VOXFile file = readVOXFile(test::span(followed));
    ASSERT_EQ(file.models.size(), 2u);
    EXPECT_EQ(file.models[1].sx, 2);
    ASSERT_EQ(file.models[0].voxels.size(), 10u + 6);  // the 24 bytes of the SIZE chunk
    EXPECT_EQ(file.models[0].voxels[10], (VOXVoxel{'S', 'I', 'Z', 'E'}));
    EXPECT_EQ(file.models[0].voxels[13], (VOXVoxel{2, 0, 0, 0}));

    // A count of 2^32 - 1 reserves nothing beyond the bytes present.
    Bytes lying = VOXWriter().size(9, 9, 9).xyzi({{1, 1, 1, 1}}, 0xFFFFFFFF).file();
    EXPECT_EQ(readVOXFile(test::span(lying)).models[0].voxels.size(), 1u);
}

TEST(VOXReader, paletteIsTheLastRGBAChunkOrTheDefault) {
    std::vector<std::uint32_t> whole(256);
    for (std::uint32_t k = 0; k < 256; ++k)
        whole[k] = 0x01000000u * k + k;
    VOXFile full =
        readVOXFile(test::span(VOXWriter().model(1, 1, 1, {}).rgba({7}).rgba(whole).file()));
    ASSERT_EQ(full.palette.size(), 257u);
    EXPECT_EQ(full.palette[0], 0u);
    EXPECT_EQ(full.palette[1], whole[0]);  // colour index 1 takes file entry 0
    EXPECT_EQ(full.palette[256], whole[255]);

    // Cut after 10 entries at the end of the file: 11 entries, the rest are grey to the mesher.
    VOXFile cut = readVOXFile(
        test::span(VOXWriter().model(1, 1, 1, {}).rgba(std::vector<std::uint32_t>(10, 5)).file()));
    EXPECT_EQ(cut.palette.size(), 11u);

    VOXFile none = readVOXFile(test::span(VOXWriter().model(1, 1, 1, {}).file()));
    ASSERT_EQ(none.palette.size(), 256u);
    const std::pair<int, std::uint32_t> samples[] = {
        {0, 0x00000000},   {1, 0xFFFFFFFF},   {2, 0xFFCCFFFF},   {6, 0xFF00FFFF},
        {7, 0xFFFFCCFF},   {36, 0xFF0000FF},  {37, 0xFFFFFFCC},  {215, 0xFF330000},
        {216, 0xFF0000EE}, {225, 0xFF000011}, {226, 0xFF00EE00}, {236, 0xFFEE0000},
        {246, 0xFFEEEEEE}, {255, 0xFF111111}};
    for (auto [index, color] : samples) {
        EXPECT_EQ(none.palette[index], color) << index;
        EXPECT_EQ(defaultVOXPalette[index], color) << index;
    }
}

TEST(VOXReader, dictionariesStopAtTheLastWholeField) {
    const Bytes pair = test::voxDict({{"ab", "xyz"}});  // 4 + (4 + 2) + (4 + 3) = 17 bytes
    Bytes three = test::voxDict({{"ab", "xyz"}, {"k", "v"}, {"k", "w"}});
    Bytes invalid = test::voxDict({{"\xc0\xaf", "ok"}, {"s", "\xed\xa0\x80"}, {"e", "\xc3\xa9"}});
    struct {
        const char* name;
        Bytes bytes;
        std::uint64_t limit;
        size_t pairs;
        std::uint64_t consumed;
    } cases[] = {
        {"no room for the count", pair, 3, 0, 0},
        {"count 0", test::voxDict({}), 4, 0, 4},
        {"whole", pair, 17, 1, 17},
        {"count says 3, one pair present", test::voxDict({{"ab", "xyz"}}, 3), 17, 1, 17},
        {"key length cut", pair, 7, 0, 4},
        {"key cut", pair, 9, 0, 8},
        {"value length missing", pair, 11, 0, 10},
        {"value cut", pair, 16, 0, 14},
        {"repeated key keeps the last value", three, three.size(), 2, three.size()},
        {"limit past the data", pair, 1000, 1, 17},
    };
    for (const auto& c : cases) {
        auto [dictionary, consumed] = parseVOXDict(test::span(c.bytes), 0, c.limit);
        EXPECT_EQ(dictionary.size(), c.pairs) << c.name;
        EXPECT_EQ(consumed, c.consumed) << c.name;
    }
    EXPECT_EQ(parseVOXDict(test::span(three), 0, three.size()).first.at("k"), "w");
    // Invalid UTF-8 (an overlong form, a surrogate) decodes to the empty string.
    VOXDictionary decoded = parseVOXDict(test::span(invalid), 0, invalid.size()).first;
    EXPECT_EQ(decoded, (VOXDictionary{{"", "ok"}, {"s", ""}, {"e", "\xc3\xa9"}}));
}

}  // namespace
}  // namespace kelvo

// The chunk walk and the scene-graph chunks: the three errors, the rules for each chunk, lying
// sizes and counts, palettes, dictionaries, the "_t" rule and descents that must end however
// the graph is knotted.
#include <gtest/gtest.h>

#include <limits>

#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/VOX/VOXLoader.h"
#include "extensions/Shared/VOX/VOXReader.h"
#include "extensions/Shared/VOX/VOXSceneGraph.h"
#include "tests/support/VOXWriter.h"

namespace kelvo {
namespace {

using test::Bytes;
using test::text;
using test::u32s;
using test::VOXWriter;
using test::operator<<;

constexpr std::int64_t maxI64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t minI64 = std::numeric_limits<std::int64_t>::min();

// The reader names the failure; the loader makes it the front door's error.
TEST(VOXReader, tooSmallBadMagicAndNoModelAreTheOnlyErrors) {
    namespace M = SceneLoaderMessage;
    const Error small = sceneLoaderError(voxFileTooSmall, M::voxFileTooSmall),
                magic = sceneLoaderError(voxBadMagic, M::voxBadMagic),
                none = sceneLoaderError(voxNoVoxelData, M::voxNoVoxelData);
    auto failureOf = [&](const Error& e) {
        return e == small ? VOXReadFailure::fileTooSmall
               : e == magic ? VOXReadFailure::badMagic
                            : VOXReadFailure::noVoxelData;
    };
    Bytes header = VOXWriter().file();  // signature, version and MAIN header: 20 bytes
    Bytes thirtyOne = header;
    thirtyOne.resize(31, 'x');
    const struct {
        const char* name;
        Bytes bytes;
        const Error& error;
    } cases[] = {
        {"empty", {}, small},
        {"7 bytes", text("VOX 150"), small},
        {"8 bytes", text("VOX \xff\xff\xff\xff"), none},
        {"other signature", text("VOY 1234"), magic},
        {"lower case", text("vox 1234"), magic},
        {"20 bytes", header, none},
        {"31 bytes", thirtyOne, none},
        {"XYZI only", VOXWriter().xyzi({{0, 0, 0, 1}}).file(), none},
        {"SIZE of 8 bytes", VOXWriter().chunk("SIZE", u32s({1, 1})).file(), none},
    };
    for (const auto& c : cases) {
        auto read = test::caught<VOXReadError>([&] { readVOXFile(test::span(c.bytes)); });
        ASSERT_TRUE(read) << c.name << " was read";
        EXPECT_EQ(read->failure, failureOf(c.error)) << c.name;
        EXPECT_EQ(test::caught<Error>([&] { loadVOXScene(test::span(c.bytes)); }), c.error) << c.name;
    }
}

TEST(VOXReader, chunkRulesAndLyingCountsDecideWhichVoxelsAModelGets) {
    using Vox = VOXWriter;
    const Vox::Voxels v = {{1, 2, 3, 4}};
    const Bytes one = {1, 2, 3, 4};  // each model's voxels, as the bytes {x, y, z, colour}
    Bytes oddHeader = Vox().model(9, 9, 9, v).file(0xFFFFFFFF);
    std::fill(oddHeader.begin() + 8, oddHeader.begin() + 20, 0xEE);  // MAIN id and sizes
    const struct {
        const char* name;
        Bytes file;
        std::vector<Bytes> models;
    } cases[] = {
        {"version and MAIN header are never read", oddHeader, {one}},
        {"XYZI before SIZE is ignored", Vox().xyzi(v).size(9, 9, 9).file(), {{}}},
        {"the second XYZI wins", Vox().size(9, 9, 9).xyzi({{5, 5, 5, 5}}).xyzi(v).file(), {one}},
        {"SIZE without XYZI counts", Vox().size(9, 9, 9).file(), {{}}},
        {"short SIZE: XYZI goes to the model before",
         Vox().model(9, 9, 9, {}).chunk("SIZE", u32s({1, 1})).xyzi(v).file(),
         {one}},
        {"non-ASCII id is unknown",
         Vox().size(9, 9, 9).chunk("SIZ\xd3", u32s({1, 1, 1})).xyzi(v).file(),
         {one}},
        {"a chunk past the end stops the walk",
         Vox().model(9, 9, 9, v).chunk("SIZE", u32s({1, 1, 1}), 13).file(),
         {one}},
        {"count past the file: only the bytes present",
         Vox().size(9, 9, 9).xyzi(Vox::Voxels(10, {1, 1, 1, 1}), 50).file(),
         {Bytes(40, 1)}},
        {"count 2^32 - 1", Vox().size(9, 9, 9).xyzi(v, 0xFFFFFFFF).file(), {one}},
        // Voxels run on into the next chunk's bytes, up to the file's end; the walk still finds
        // that chunk.
        {"voxels read on into the next chunk",
         Vox().size(9, 9, 9).xyzi(v, 50).size(2, 3, 4).file(),
         {Bytes(one) << text("SIZE") << u32s({12, 0, 2, 3, 4}), {}}},
    };
    for (const auto& c : cases) {
        VOXFile file = readVOXFile(test::span(c.file));
        ASSERT_EQ(file.models.size(), c.models.size()) << c.name;
        for (size_t i = 0; i < c.models.size(); ++i) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.models[i].voxels.data());
            EXPECT_EQ(Bytes(bytes, bytes + file.models[i].voxels.size_bytes()), c.models[i])
                << c.name;
        }
    }
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
    Bytes cut = VOXWriter().model(1, 1, 1, {}).rgba(std::vector<std::uint32_t>(10, 5)).file();
    EXPECT_EQ(readVOXFile(test::span(cut)).palette.size(), 11u);
    // An empty chunk, only its 12-byte header, ending the file at its last byte is walked.
    EXPECT_EQ(readVOXFile(test::span(VOXWriter().model(1, 1, 1, {}).rgba({}).file())).palette,
              VOXPalette{0});

    VOXFile none = readVOXFile(test::span(VOXWriter().model(1, 1, 1, {}).file()));
    EXPECT_EQ(none.palette, VOXPalette(defaultVOXPalette.begin(), defaultVOXPalette.end()));
    const std::pair<int, std::uint32_t> samples[] = {
        {0, 0x00000000},   {1, 0xFFFFFFFF},   {2, 0xFFCCFFFF},   {6, 0xFF00FFFF},
        {7, 0xFFFFCCFF},   {36, 0xFF0000FF},  {37, 0xFFFFFFCC},  {215, 0xFF330000},
        {216, 0xFF0000EE}, {225, 0xFF000011}, {226, 0xFF00EE00}, {236, 0xFFEE0000},
        {246, 0xFFEEEEEE}, {255, 0xFF111111}};
    for (auto [index, color] : samples)
        EXPECT_EQ(defaultVOXPalette[index], color) << index;
}

TEST(VOXReader, dictionariesStopAtTheLastWholeField) {
    const Bytes pair = test::voxDict({{"ab", "xyz"}});  // 4 + (4 + 2) + (4 + 3) = 17 bytes
    const Bytes three = test::voxDict({{"ab", "xyz"}, {"k", "v"}, {"k", "w"}});
    const struct {
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
    Bytes invalid = test::voxDict({{"\xc0\xaf", "ok"}, {"s", "\xed\xa0\x80"}, {"e", "\xc3\xa9"}});
    EXPECT_EQ(parseVOXDict(test::span(invalid), 0, invalid.size()).first,
              (VOXDictionary{{"", "ok"}, {"s", ""}, {"e", "\xc3\xa9"}}));
}

TEST(VOXSceneGraph, translationTextNeedsExactlyThreeIntegers) {
    const struct {
        const char* text;
        VOXTranslation t;
    } cases[] = {
        {"10 -20 30", {10, -20, 30}},
        {"1 2", {}},
        {"1 2 3 4", {}},
        {"1.5 2 3", {}},
        {"  1   2  3 ", {1, 2, 3}},
        {"1 2 x 3", {1, 2, 3}},
        {"+4 -5 6", {4, -5, 6}},
        {"1\t2 3", {}},
        {"+-5 - + 1 2 3", {1, 2, 3}},
        {"9223372036854775807 -9223372036854775808 0", {maxI64, minI64, 0}},
        {"9223372036854775808 1 2 3", {1, 2, 3}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseVOXTranslation(c.text), c.t) << '"' << c.text << '"';
}

TEST(VOXSceneGraph, decodersNeedTheirFieldsWhole) {
    // Every prefix of a transform's content: nothing until the frame count is in; then a node
    // whose translation appears once the frame's dictionary is whole.
    Bytes transform = u32s({9}) << test::voxDict({{"_name", "x"}});
    const size_t header = transform.size() + 16;
    transform << u32s({4, 0xFFFFFFFF, 0, 1}) << test::voxDict({{"_t", "1 2 3"}});
    for (size_t cut = 0; cut <= transform.size(); ++cut) {
        auto node = parseNTRN(test::span(transform), 0, cut);
        ASSERT_EQ(node.has_value(), cut >= header) << cut;
        if (node) {
            EXPECT_EQ(node->nodeId, 9);
            EXPECT_EQ(node->childNodeId, 4);
            EXPECT_EQ(node->translation,
                      (cut == transform.size() ? VOXTranslation{1, 2, 3} : VOXTranslation{}))
                << cut;
        }
    }
    // Without frames: no translation, the child still named.
    Bytes noFrame = u32s({0}) << test::voxDict({}) << u32s({1, 0, 0, 0});
    EXPECT_EQ(parseNTRN(test::span(noFrame), 0, noFrame.size())->childNodeId, 1);
    // A group keeps the child ids that are whole; a shape needs its first model id.
    Bytes group = u32s({3}) << test::voxDict({}) << u32s({1000, 7, 8});
    Bytes shape = u32s({3}) << test::voxDict({}) << u32s({2, 6});
    for (size_t cut = 0; cut <= group.size(); ++cut) {
        auto g = parseNGRP(test::span(group), 0, cut);
        ASSERT_EQ(g.has_value(), cut >= 12) << cut;
        EXPECT_EQ(g ? g->childIds.size() : 0u, cut < 16 ? 0u : cut < 20 ? 1u : 2u) << cut;
        auto s = parseNSHP(test::span(shape), 0, cut);
        EXPECT_EQ(s ? s->modelId : -1, cut >= 16 ? 6 : -1) << cut;
    }
    Bytes noModel = u32s({3}) << test::voxDict({}) << u32s({0, 0});
    EXPECT_FALSE(parseNSHP(test::span(noModel), 0, noModel.size()));
}

VOXTranslationTable resolve(const std::vector<VOXTransformNode>& nodes, VOXGroupTable groups,
                            VOXShapeTable shapes) {
    VOXTransformTable transforms;
    for (const auto& node : nodes)
        transforms[node.nodeId] = node;
    VOXTranslationTable result;
    resolveVOXTransforms(0, {}, transforms, shapes, groups, result);
    return result;
}

// Transforms 0 to `levels`, each moving x by 1; the groups between them name the next
// transform `fanOut` times; the last places model 0.
VOXTranslationTable ladder(int levels, int fanOut) {
    std::vector<VOXTransformNode> nodes;
    VOXGroupTable groups;
    for (int level = 0; level < levels; ++level) {
        nodes.push_back({level, 1000 + level, {1, 0, 0}});
        groups[1000 + level] = std::vector<std::int64_t>(fanOut, level + 1);
    }
    nodes.push_back({levels, 5000, {1, 0, 0}});
    return resolve(nodes, groups, {{5000, 0}});
}

TEST(VOXSceneGraph, descentsEndOnKnottedGraphsAndSumsSaturate) {
    const struct {
        const char* name;
        VOXTranslationTable got, want;
    } cases[] = {
        {"a group holding its own transform",
         resolve({{0, 100, {1, 0, 0}}, {1, 200, {0, 1, 0}}}, {{100, {0, 1, 0}}}, {{200, 0}}),
         {{0, {1, 1, 0}}}},
        {"a loop through two groups",
         resolve({{0, 100, {}}, {1, 101, {0, 0, 3}}, {2, 200, {}}}, {{100, {1}}, {101, {0, 2}}},
                 {{200, 7}}),
         {{7, {0, 0, 3}}}},
        {"the shape visited last decides",
         resolve({{0, 100, {}}, {1, 200, {1, 1, 1}}, {2, 201, {2, 2, 2}}}, {{100, {1, 2}}},
                 {{200, 0}, {201, 0}}),
         {{0, {2, 2, 2}}}},
        {"no transform 0", resolve({{5, 200, {1, 1, 1}}}, {}, {{200, 0}}), {}},
        {"sums saturate",
         resolve({{0, 100, {maxI64, minI64, 5}}, {1, 200, {1, -1, -5}}}, {{100, {1}}}, {{200, 0}}),
         {{0, {maxI64, minI64, 0}}}},
        // 2^200 paths unless bounded; the first path down places the model.
        {"groups sharing children", ladder(200, 2), {{0, {201, 0, 0}}}},
        {"a chain as deep as the bound",
         ladder(voxMaxTransformDepth - 1, 1),
         {{0, {voxMaxTransformDepth, 0, 0}}}},
        {"one level deeper", ladder(voxMaxTransformDepth, 1), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.want) << c.name;
}

}  // namespace
}  // namespace kelvo

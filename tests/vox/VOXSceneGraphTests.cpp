// Scene-graph chunks and translations: the "_t" rule, the placement of models, and descents
// that must end however the graph is knotted.
#include <gtest/gtest.h>

#include <limits>

#include "extensions/Shared/VOXLoader.h"
#include "extensions/Shared/VOXSceneGraph.h"
#include "tests/support/VOXWriter.h"

namespace kelvo {
namespace {

using test::Bytes;
using test::VOXWriter;
using test::operator<<;

constexpr std::int64_t maxI64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t minI64 = std::numeric_limits<std::int64_t>::min();

std::vector<Vec3> positions(const Bytes& file) {
    std::vector<Vec3> out;
    auto scene = loadVOXScene(test::span(file));
    for (const auto& node : scene->rootNode->childNodes())
        out.push_back(node->position());
    return out;
}

TEST(VOXSceneGraph, translationTextNeedsExactlyThreeIntegers) {
    struct {
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
        {"", {}},
        {"1\t2 3", {}},
        {"+-5 - + 1 2 3", {1, 2, 3}},
        {"9223372036854775807 -9223372036854775808 0", {maxI64, minI64, 0}},
        {"9223372036854775808 1 2 3", {1, 2, 3}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseVOXTranslation(c.text), c.t) << '"' << c.text << '"';
}

TEST(VOXSceneGraph, transformsPlaceModelsYUp) {
    Bytes file = VOXWriter()
                     .model(1, 1, 1, {{0, 0, 0, 1}})
                     .model(1, 1, 1, {{0, 0, 0, 2}})
                     .transform(0, 1)
                     .group(1, {2, 4})
                     .transform(2, 3, "10 -20 30")
                     .shape(3, 0)
                     .transform(4, 5, "0 0 5")
                     .shape(5, 1)
                     .file();
    EXPECT_EQ(positions(file), (std::vector<Vec3>{{10, 30, 20}, {0, 5, 0}}));
}

TEST(VOXSceneGraph, placementRules) {
    const auto one = VOXWriter().model(1, 1, 1, {{0, 0, 0, 1}});
    struct {
        const char* name;
        Bytes file;
        std::vector<Vec3> positions;
    } cases[] = {
        {"translations add along the path",
         VOXWriter(one)
             .transform(0, 1, "1 0 0")
             .group(1, {2})
             .transform(2, 3, "0 2 0")
             .shape(3, 0)
             .file(),
         {{1, 0, -2}}},
        {"no frame: no translation, child still followed",
         VOXWriter(one)
             .chunk("nTRN", test::u32s({0}) << test::voxDict({}) << test::u32s({1, 0, 0, 0}))
             .group(1, {2})
             .transform(2, 3, "4 0 0")
             .shape(3, 0)
             .file(),
         {{4, 0, 0}}},
        {"the shape visited last decides",
         VOXWriter(one)
             .transform(0, 1)
             .group(1, {2, 4})
             .transform(2, 3, "1 1 1")
             .shape(3, 0)
             .transform(4, 5, "2 2 2")
             .shape(5, 0)
             .file(),
         {{2, 2, -2}}},
        {"a shape of no model is ignored",
         VOXWriter(one)
             .transform(0, 3, "1 1 1")
             .chunk("nSHP", test::u32s({3}) << test::voxDict({}) << test::u32s({0, 0}))
             .file(),
         {{0, 0, 0}}},
        {"an empty group ends the descent",
         VOXWriter(one)
             .transform(0, 1, "1 1 1")
             .group(1, {})
             .transform(2, 3, "5 5 5")
             .shape(3, 0)
             .file(),
         {{0, 0, 0}}},
        {"no transform 0: all at the origin",
         VOXWriter(one).transform(5, 3, "1 1 1").shape(3, 0).file(),
         {{0, 0, 0}}},
        {"the lowest y is negated without overflow",
         VOXWriter(one).transform(0, 3, "0 -9223372036854775808 0").shape(3, 0).file(),
         {{0, 0, 9223372036854775808.0}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(positions(c.file), c.positions) << c.name;
}

// Tables for the resolver: transform i -> group 100 + i or shape 200 + i.
struct Graph {
    VOXTransformTable transforms;
    VOXShapeTable shapes;
    VOXGroupTable groups;

    void transform(std::int64_t id, std::int64_t child, VOXTranslation t = {}) {
        transforms[id] = {id, child, t};
    }
    VOXTranslationTable resolve() const {
        VOXTranslationTable result;
        resolveVOXTransforms(0, {}, transforms, shapes, groups, result);
        return result;
    }
};

TEST(VOXSceneGraph, cyclesEndAtTheFirstRepeat) {
    Graph self;  // transform 0's group holds transform 0 itself, then the model
    self.transform(0, 100, {1, 0, 0});
    self.groups[100] = {0, 1, 0};
    self.transform(1, 200, {0, 1, 0});
    self.shapes[200] = 0;
    EXPECT_EQ(self.resolve(), (VOXTranslationTable{{0, {1, 1, 0}}}));

    Graph loop;  // 0 -> 1 -> 0 through two groups
    loop.transform(0, 100);
    loop.groups[100] = {1};
    loop.transform(1, 101, {0, 0, 3});
    loop.groups[101] = {0, 2};
    loop.transform(2, 200);
    loop.shapes[200] = 7;
    EXPECT_EQ(loop.resolve(), (VOXTranslationTable{{7, {0, 0, 3}}}));
}

TEST(VOXSceneGraph, sharedGroupsAndDeepChainsStayBounded) {
    // Each level's group names the next transform twice: 2^200 paths unless bounded. The first
    // path down places the model.
    Graph fan;
    for (int level = 0; level < 200; ++level) {
        fan.transform(level, 100 + level, {1, 0, 0});
        fan.groups[100 + level] = {level + 1, level + 1};
    }
    fan.transform(200, 400);
    fan.shapes[400] = 0;
    EXPECT_EQ(fan.resolve(), (VOXTranslationTable{{0, {200, 0, 0}}}));

    // A chain as deep as the bound still places its model; one level deeper does not.
    for (int depth : {voxMaxTransformDepth, voxMaxTransformDepth + 1}) {
        Graph chain;
        for (int level = 0; level + 1 < depth; ++level) {
            chain.transform(level, 1000 + level, {1, 0, 0});
            chain.groups[1000 + level] = {level + 1};
        }
        chain.transform(depth - 1, 5000, {1, 0, 0});
        chain.shapes[5000] = 0;
        EXPECT_EQ(chain.resolve().size(), depth == voxMaxTransformDepth ? 1u : 0u) << depth;
    }
}

TEST(VOXSceneGraph, translationSumsSaturate) {
    Graph g;
    g.transform(0, 100, {maxI64, minI64, 5});
    g.groups[100] = {1};
    g.transform(1, 200, {1, -1, -5});
    g.shapes[200] = 0;
    EXPECT_EQ(g.resolve().at(0), (VOXTranslation{maxI64, minI64, 0}));
}

TEST(VOXSceneGraph, decodersNeedTheirFieldsWhole) {
    // Every prefix of a transform's content: nothing until the frame count is in; then a node
    // whose translation appears once the frame's dictionary is whole.
    const Bytes frame = test::voxDict({{"_t", "1 2 3"}});
    Bytes content = test::u32s({9}) << test::voxDict({{"_name", "x"}});
    const size_t header = content.size();
    content << test::u32s({4, 0xFFFFFFFF, 0, 1}) << frame;
    for (size_t cut = 0; cut <= content.size(); ++cut) {
        auto node = parseNTRN(test::span(content), 0, cut);
        ASSERT_EQ(node.has_value(), cut >= header + 16) << cut;
        if (!node) continue;
        EXPECT_EQ(node->nodeId, 9);
        EXPECT_EQ(node->childNodeId, 4);
        EXPECT_EQ(node->translation,
                  (cut == content.size() ? VOXTranslation{1, 2, 3} : VOXTranslation{}))
            << cut;
    }

    Bytes group = test::u32s({3}) << test::voxDict({}) << test::u32s({1000, 7, 8});
    for (size_t cut = 0; cut <= group.size(); ++cut) {
        auto g = parseNGRP(test::span(group), 0, cut);
        ASSERT_EQ(g.has_value(), cut >= 12) << cut;
        if (g) {
            EXPECT_EQ(g->childIds.size(), cut < 16 ? 0u : cut < 20 ? 1u : 2u) << cut;
        }
    }

    Bytes shape = test::u32s({3}) << test::voxDict({}) << test::u32s({2, 6});
    for (size_t cut = 0; cut <= shape.size(); ++cut) {
        EXPECT_EQ(parseNSHP(test::span(shape), 0, cut).has_value(), cut >= 16) << cut;
    }
    EXPECT_EQ(parseNSHP(test::span(shape), 0, shape.size())->modelId, 6);
}

}  // namespace
}  // namespace kelvo

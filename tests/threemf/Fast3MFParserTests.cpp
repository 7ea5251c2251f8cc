// The model scanner's rules beyond the spelling of single attributes (which the reference
// test covers): which openings count, how meshes open, close and are filed under object
// ids, components and build items, transforms, and string attributes.
#include <gtest/gtest.h>

#include <cstring>

#include "extensions/Shared/Fast3MFParser.h"

namespace kelvo {
namespace {

using Result = Fast3MFParser::ParseResult;

Result parse(const std::string& xml) {
    return Fast3MFParser::parse(
        ByteSpan(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
}

template <class T>
std::vector<T> values(const ByteBuffer& b) {
    std::vector<T> v(b.size() / sizeof(T));
    std::memcpy(v.data(), b.data(), b.size());
    return v;
}

const std::string vertex = R"(<vertex x="1" y="2" z="3"/>)";
const std::string triangle = R"(<triangle v1="0" v2="1" v3="2"/>)";
const std::string mesh = "<mesh>" + vertex + triangle + "</mesh>";

// The triangle counts of the meshes under `id`, in order.
std::vector<std::int64_t> triangleCounts(const Result& r, std::uint32_t id) {
    std::vector<std::int64_t> counts;
    if (auto found = r.meshes.find(id); found != r.meshes.end()) {
        for (const ThreeMFMesh& m : found->second)
            counts.push_back(m.triangleCount);
    }
    return counts;
}

TEST(Fast3MFParser, meshesCopyTheirOwnRangeOfTheSharedBuffers) {
    Result r = parse(
        R"(<object id="1"><mesh><vertices><vertex x="1.5" y="-2" z="3e2"/><vertex x="0" y="0" z="0"/>)"
        R"(</vertices><triangles><triangle v1="1" v2="0" v3="99"/></triangles></mesh></object>)"
        R"(<object id="2"><mesh><vertex x="7" y="8" z="9"/><triangle v1="0" v2="0" v3="0"/>)"
        R"(<triangle v1="4294967296" v2="-1" v3="-0"/></mesh></object>)");
    const ThreeMFMesh& first = r.meshes.at(1).at(0);
    EXPECT_EQ(values<float>(first.positionData), (std::vector<float>{1.5f, -2, 300, 0, 0, 0}));
    EXPECT_EQ(values<std::uint32_t>(first.indexData),
              (std::vector<std::uint32_t>{1, 0, 99}));  // unchecked
    const ThreeMFMesh& second = r.meshes.at(2).at(0);
    EXPECT_EQ(second.vertexCount, 1);
    EXPECT_EQ(values<float>(second.positionData), (std::vector<float>{7, 8, 9}));
    // Indices stay relative to the mesh; what does not fit 32 bits becomes 4294967295.
    EXPECT_EQ(values<std::uint32_t>(second.indexData),
              (std::vector<std::uint32_t>{0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0}));
}

TEST(Fast3MFParser, onlyTheExactOpeningsCount) {
    for (const std::string& xml : {
             "<object id=\"1\"><mesh><vertex\tx=\"1\"/>" + triangle + "</mesh>",
             "<object id=\"1\"><mesh><VERTEX x=\"1\"/>" + triangle + "</mesh>",
             "<object id=\"1\"><mesh><m:vertex x=\"1\"/>" + triangle + "</mesh>",
             "<object id=\"1\"><mesh>" + vertex + "<triangle\tv1=\"0\"/></mesh>",
             "<object id=\"1\"><meshes>" + vertex + triangle + "</meshes>",
             "<object id=\"1\"><MESH>" + vertex + triangle + "</MESH>",
         }) {
        EXPECT_TRUE(parse(xml).meshes.empty()) << xml;
    }
    Result r =
        parse("<object id=\"1\"><mesh><vertices>" + vertex + "</vertices><triangles>" + triangle +
              "</triangles></mesh><components><component objectid=\"1\"/></components></object>");
    EXPECT_EQ(triangleCounts(r, 1), std::vector<std::int64_t>{1});
    EXPECT_EQ(r.components.size(), 1u);
}

TEST(Fast3MFParser, meshesOpenAndCloseByTheirOwnRules) {
    struct Row {
        std::string xml;
        std::vector<std::int64_t> counts;
    } rows[] = {
        {"<mesh>" + vertex + triangle, {1}},                 // never closed
        {"<mesh/>" + vertex + triangle + "</object>", {1}},  // self-closing stays open
        {"<mesh\n>" + vertex + triangle + "</mesh>", {1}},
        {"<meshy>" + vertex + triangle + "</meshy>", {}},
        {"<mesh>" + vertex + "</mesh><mesh>" + triangle + "</mesh>", {}},
        {"<mesh>" + vertex + triangle + "<mesh>" + triangle + "</mesh>", {2}},  // no nesting
        {vertex + triangle + mesh, {1}},  // outside a mesh: not written
        {mesh + "<mesh>" + vertex + triangle + triangle + "</mesh>", {1, 2}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(triangleCounts(parse("<object id=\"1\">" + row.xml), 1), row.counts) << row.xml;
}

TEST(Fast3MFParser, meshesAreFiledUnderTheObjectIdCurrentWhenTheyEnd) {
    Result r = parse(mesh +                                            // no object yet: 0
                     "<object id=\"5\">" + mesh + "</object>" +        //
                     "<object type=\"model\">" + mesh + "</object>" +  // no id: still 5
                     "<object type=\"model\"\nid=\"6\">" + mesh +      // id after a line feed: 5
                     "<object id=\"+7\"><mesh>" + vertex + triangle + triangle +
                     "<object id=\"8\"></mesh>" + "<object id=\" 9\">" + mesh);  // unusable id: 8
    EXPECT_EQ(triangleCounts(r, 0), std::vector<std::int64_t>{1});
    EXPECT_EQ(triangleCounts(r, 5), (std::vector<std::int64_t>{1, 1, 1}));
    EXPECT_EQ(triangleCounts(r, 8), (std::vector<std::int64_t>{2, 1}));
    EXPECT_EQ(r.meshes.size(), 3u);
}

TEST(Fast3MFParser, componentsAndItemsNeedAnObjectIdAndPreferPPath) {
    Result r = parse(R"(<component objectid="+7"/><component objectid=" 7"/><component id="3"/>)"
                     "<component objectid=\"8\"\tpath=\"/a.model\"/>"
                     R"(<component objectid="9" path="/b.model" p:path="/c.model"/>)"
                     R"(<component objectid="11" p:path="/x>y.model"/>)"
                     R"(<mesh><item objectid="3"/></mesh><item objectid="x"/>)");
    std::vector<std::string> seen;
    for (const ThreeMFComponent& c : r.components)
        seen.push_back(std::to_string(c.objectId) + " " + c.path.value_or("-"));
    EXPECT_EQ(seen, (std::vector<std::string>{"7 -", "8 /a.model", "9 /c.model", "11 /x>"}));
    ASSERT_EQ(r.buildItems.size(), 1u);  // recognised inside a mesh too
    EXPECT_EQ(r.buildItems[0].objectId, 3u);
    EXPECT_EQ(r.buildItems[0].transform, threeMFIdentityTransform);
    EXPECT_TRUE(r.meshes.empty());
}

TEST(Fast3MFParser, transformsNeedTwelveBlankSeparatedNumbers) {
    const ThreeMFTransform shifted = {1, 0, 0, 0, 1, 0, 0, 0, 1, 10, 20, 30};
    struct Row {
        const char* attribute;
        ThreeMFTransform expected;
    } rows[] = {
        {R"(transform="1 0 0 0 1 0 0 0 1 10 20 30")", shifted},
        {"transform=\"1\t0  0 0 1 0 0 0 1 10 20 30 \"", shifted},
        {R"(transform="1 0 0 0 1 0 0 0 1 10 20 30 99")", shifted},  // the 13th is ignored
        {"transform=\"1 0 0 0 1 0 0 0 1\n10 20 30\"", shifted},     // the C library skips it
        {R"(transform="1 0 0 0 1 0 0 0 1 10 20")", threeMFIdentityTransform},
        {R"(transform="1,0,0,0,1,0,0,0,1,10,20,30")", threeMFIdentityTransform},
        {R"(transform = "1 0 0 0 1 0 0 0 1 10 20 30")", threeMFIdentityTransform},
        {R"(transform="2 0 0 0 2 0 0 0 2 1e1 0x14 +30.0")",
         {2, 0, 0, 0, 2, 0, 0, 0, 2, 10, 20, 30}},
    };
    for (const Row& row : rows) {
        Result r = parse(std::string("<item objectid=\"1\" ") + row.attribute + "/>");
        ASSERT_EQ(r.buildItems.size(), 1u) << row.attribute;
        EXPECT_EQ(r.buildItems[0].transform, row.expected) << row.attribute;
    }
}

TEST(Fast3MFParser, stringAttributesAreTakenAsWritten) {
    const std::string tag =
        "<c objectid=\"1\" path=\"a&amp;b \" p:path=\"\" bad=\"\xff\" open=\"xyz";
    ByteSpan b(reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size());
    auto attr = [&](const char* name, size_t to) {
        return Fast3MFParser::parseStringAttr(b, 0, to, name);
    };
    EXPECT_EQ(attr("path", tag.size()), "a&amp;b ");      // no decoding, no trimming
    EXPECT_EQ(attr("p:path", tag.size()), std::nullopt);  // empty
    EXPECT_EQ(attr("bad", tag.size()), std::nullopt);     // not UTF-8
    EXPECT_EQ(attr("open", tag.size()), "xyz");           // runs to the end of the tag
    EXPECT_EQ(attr("objectid", 10), std::nullopt);        // beyond the tag
}

TEST(Fast3MFParser, inputsTooShortForAnyElementGiveNothing) {
    for (const std::string& xml :
         {std::string(), std::string("<mesh>"), std::string("<vertex "), std::string(1000, '<'),
          std::string("<item objectid="), std::string("<object id=\"1\"><mesh><vertex x=\"1")}) {
        Result r = parse(xml);
        EXPECT_TRUE(r.meshes.empty() && r.components.empty() && r.buildItems.empty()) << xml;
    }
    EXPECT_EQ(parse(R"(<item objectid="12)").buildItems.at(0).objectId,
              12u);  // a value may run to the end
    EXPECT_TRUE(parse(R"(<mesh><vertex x="1"/><triangle )")
                    .meshes.empty());  // an opening needs a byte after it
}

}  // namespace
}  // namespace kelvo

// The model scanner's byte-level rules: which openings it recognises, how it finds
// attributes and numbers, how meshes are filed under object ids, and what it makes of
// broken input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "extensions/Shared/Fast3MFParser.h"

namespace kelvo {
namespace {

using Result = Fast3MFParser::ParseResult;

Result parse(const std::string& xml) {
    return Fast3MFParser::parse(
        ByteSpan(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
}

std::vector<float> positions(const ThreeMFMesh& m) {
    std::vector<float> v(m.positionData.size() / 4);
    std::memcpy(v.data(), m.positionData.data(), m.positionData.size());
    return v;
}
std::vector<std::uint32_t> indices(const ThreeMFMesh& m) {
    std::vector<std::uint32_t> v(m.indexData.size() / 4);
    std::memcpy(v.data(), m.indexData.data(), m.indexData.size());
    return v;
}

// One mesh object around the given vertex and triangle elements.
std::string meshObject(const std::string& inside, const std::string& id = "1") {
    return "<object id=\"" + id + "\" type=\"model\"><mesh><vertices>" + inside +
           "</vertices></mesh></object>";
}
const std::string oneTriangle = R"(<triangle v1="0" v2="1" v3="2"/>)";

// The first vertex of the only mesh of `xml`.
std::vector<float> firstVertex(const std::string& xml) {
    Result r = parse(xml);
    if (r.meshes.size() != 1 || r.meshes.begin()->second.size() != 1) return {};
    std::vector<float> p = positions(r.meshes.begin()->second[0]);
    return std::vector<float>(p.begin(), p.begin() + 3);
}

TEST(Fast3MFParser, meshesCarryTheirBuffersExactly) {
    Result r = parse(meshObject(R"(<vertex x="1.5" y="-2" z="3e2"/><vertex x="0" y="0" z="0"/>)"
                                R"(<vertex x="1" y="1" z="1"/>)" +
                                oneTriangle + R"(<triangle v1="2" v2="1" v3="0" />)"));
    ASSERT_EQ(r.meshes.count(1), 1u);
    ASSERT_EQ(r.meshes[1].size(), 1u);
    const ThreeMFMesh& m = r.meshes[1][0];
    EXPECT_EQ(m.vertexCount, 3);
    EXPECT_EQ(m.triangleCount, 2);
    EXPECT_EQ(positions(m), (std::vector<float>{1.5f, -2, 300, 0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(indices(m), (std::vector<std::uint32_t>{0, 1, 2, 2, 1, 0}));
}

TEST(Fast3MFParser, vertexAttributesAreFoundByTheirExactSpelling) {
    struct Row {
        const char* vertex;
        std::vector<float> expected;
    } rows[] = {
        {R"(<vertex x="1" y="2" z="3"/>)", {1, 2, 3}},
        {R"(<vertex z="3" y="2" x="1"/>)", {1, 2, 3}},
        {"<vertex x=\"1\"\ny=\"2\"\r\nz=\"3\"/>", {1, 2, 3}},
        {"<vertex x=\"1\"\ny=\"2\"\tz=\"3\"/>", {1, 2, 3}},
        {R"(<vertex x = "1" y="2" z="3"/>)", {0, 2, 3}},  // blanks around '='
        {R"(<vertex x='1' y="2" z="3"/>)", {0, 2, 3}},    // single quotes
        {R"(<vertex x="1" x="9" z="3"/>)", {1, 0, 3}},    // first occurrence; y missing
        {R"(<vertex xx="7" ax="8" x="1" y="" z="junk"/>)", {1, 0, 0}},
        {R"(<vertex x="1" y="2>" z="3"/>)", {1, 2, 0}},  // '>' in a value ends the tag
        {R"(<vertex x="  +4.5" y="0x1p-2" z="-INF"/>)", {4.5f, 0.25f, -INFINITY}},
        {R"(<vertex x="1e39" y="1,5" z=".5e1x"/>)", {INFINITY, 1, 5}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(firstVertex(meshObject(row.vertex + oneTriangle)), row.expected) << row.vertex;
    }
}

TEST(Fast3MFParser, onlyTheExactOpeningsAreRecognised) {
    const std::string good = R"(<vertex x="1" y="1" z="1"/>)";
    for (const std::string& xml : {
             meshObject("<vertex\tx=\"1\" y=\"1\" z=\"1\"/>" + oneTriangle),  // tab after the name
             meshObject(R"(<VERTEX x="1" y="1" z="1"/>)" + oneTriangle),
             meshObject(R"(<m:vertex x="1" y="1" z="1"/>)" + oneTriangle),
             meshObject(good + R"(<triangle	v1="0"/>)"),
             std::string("<object id=\"1\"><meshes>") + good + oneTriangle + "</meshes></object>",
             std::string("<object id=\"1\"><MESH>") + good + oneTriangle + "</MESH></object>",
         }) {
        EXPECT_TRUE(parse(xml).meshes.empty()) << xml;
    }
    // The container elements share a prefix with the elements, and are skipped.
    Result r =
        parse("<object id=\"1\"><mesh><vertices>" + good + "</vertices><triangles>" + oneTriangle +
              "</triangles></mesh><components><component objectid=\"1\"/></components></object>");
    EXPECT_EQ(r.meshes[1].at(0).vertexCount, 1);
    EXPECT_EQ(r.components.size(), 1u);
}

TEST(Fast3MFParser, meshesAreFiledUnderTheObjectIdCurrentWhenTheyEnd) {
    const std::string mesh = R"(<mesh><vertex x="1" y="1" z="1"/>)" + oneTriangle + "</mesh>";
    Result r =
        parse(mesh +                                                      // before any object: 0
              "<object id=\"5\">" + mesh + "</object>" +                  //
              "<object type=\"model\">" + mesh + "</object>" +            // no id: still 5
              "<object type=\"model\"\nid=\"6\">" + mesh + "</object>" +  // id after a line feed
              "<object id=\"+7\"><mesh><vertex x=\"2\" y=\"2\" z=\"2\"/>" + oneTriangle +
              "<object id=\"8\"></mesh>" +   // ends under 8
              "<object id=\" 9\">" + mesh);  // unusable id
    ASSERT_EQ(r.meshes.size(), 3u);
    EXPECT_EQ(r.meshes[0].size(), 1u);
    EXPECT_EQ(r.meshes[5].size(), 3u);
    EXPECT_EQ(r.meshes[8].size(), 2u);
    EXPECT_EQ(positions(r.meshes[8][0])[0], 2.0f);
    EXPECT_EQ(r.meshes.count(7), 0u);
}

TEST(Fast3MFParser, eachMeshIndexesItsOwnVertices) {
    // Triangle indices stay as written: relative to the mesh, unchecked, and narrowed to 32
    // bits by one rule (what does not fit becomes 4294967295, which no mesh can reach).
    Result r = parse(
        meshObject(R"(<vertex x="0" y="0" z="0"/><vertex x="1" y="0" z="0"/>)" + oneTriangle, "1") +
        meshObject(R"(<vertex x="7" y="0" z="0"/>)"
                   R"(<triangle v1="0" v2="99" v3="4294967295"/>)"
                   R"(<triangle v1="4294967296" v2="-1" v3="-0"/>)"
                   R"(<triangle v1=" +3" v2="18446744073709551617" v3="2x"/>)"
                   R"(<triangle v3="1" v1="2"/>)",
                   "2"));
    EXPECT_EQ(indices(r.meshes[1].at(0)), (std::vector<std::uint32_t>{0, 1, 2}));
    const ThreeMFMesh& second = r.meshes[2].at(0);
    EXPECT_EQ(positions(second), (std::vector<float>{7, 0, 0}));
    EXPECT_EQ(indices(second),
              (std::vector<std::uint32_t>{0, 99, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, 3,
                                          0xFFFFFFFF, 2, 2, 0, 1}));
}

TEST(Fast3MFParser, meshesOpenAndCloseByTheirOwnRules) {
    const std::string v = R"(<vertex x="1" y="1" z="1"/>)";
    struct Row {
        std::string xml;
        std::vector<std::int64_t> triangleCounts;  // of the meshes under id 1, in order
    } rows[] = {
        {"<object id=\"1\"><mesh>" + v + oneTriangle, {1}},                 // never closed
        {"<object id=\"1\"><mesh/>" + v + oneTriangle + "</object>", {1}},  // self-closing
        {"<object id=\"1\"><mesh\n>" + v + oneTriangle + "</mesh>", {1}},
        {"<object id=\"1\"><meshy>" + v + oneTriangle + "</meshy>", {}},
        {"<object id=\"1\"><mesh>" + v + "</mesh><mesh>" + oneTriangle + "</mesh>", {}},
        {"<object id=\"1\"><mesh>" + v + oneTriangle + "<mesh>" + oneTriangle + "</mesh>", {2}},
        {"<object id=\"1\">" + v + oneTriangle + "<mesh>" + v + oneTriangle + "</mesh>", {1}},
        {"<object id=\"1\"><mesh>" + v + oneTriangle + "</mesh><mesh>" + v + oneTriangle +
             oneTriangle + "</mesh>",
         {1, 2}},
    };
    for (const Row& row : rows) {
        Result r = parse(row.xml);
        std::vector<std::int64_t> counts;
        for (const ThreeMFMesh& m : r.meshes[1])
            counts.push_back(m.triangleCount);
        EXPECT_EQ(counts, row.triangleCounts) << row.xml;
    }
}

TEST(Fast3MFParser, componentsAndBuildItemsNeedAWholeObjectId) {
    Result r =
        parse(R"(<component objectid="+7"/><component objectid=" 7"/><component objectid="-0"/>)"
              R"(<component objectid="-1"/><component objectid="4294967295"/>)"
              R"(<component objectid="4294967296"/><component objectid=""/><component id="3"/>)"
              "<component objectid=\"8\"\tpath=\"/a.model\"/>"
              R"(<component objectid="9" path="/b.model" p:path="/c.model"/>)"
              R"(<component p:path="/3D/Ü.model" objectid="10" path="/d.model"/>)"
              R"(<component objectid="11" p:path="/x>y.model"/>)"
              R"(<mesh><item objectid="3"/></mesh><item objectid="x"/>)");
    std::vector<std::uint32_t> ids;
    std::vector<std::string> paths;
    for (const ThreeMFComponent& c : r.components) {
        ids.push_back(c.objectId);
        paths.push_back(c.path.value_or("-"));
    }
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{7, 0, 4294967295u, 8, 9, 10, 11}));
    EXPECT_EQ(paths, (std::vector<std::string>{"-", "-", "-", "/a.model", "/c.model", "/3D/Ü.model",
                                               "/x>"}));
    ASSERT_EQ(r.buildItems.size(), 1u);
    EXPECT_EQ(r.buildItems[0].objectId, 3u);
    EXPECT_EQ(r.buildItems[0].transform, threeMFIdentityTransform);
    EXPECT_TRUE(r.meshes.empty());
}

TEST(Fast3MFParser, transformsNeedExactlyTwelveBlankSeparatedNumbers) {
    const ThreeMFTransform shifted = {1, 0, 0, 0, 1, 0, 0, 0, 1, 10, 20, 30};
    struct Row {
        const char* attribute;
        ThreeMFTransform expected;
    } rows[] = {
        {R"(transform="1 0 0 0 1 0 0 0 1 10 20 30")", shifted},
        {"transform=\"1\t0  0 0 1 0 0 0 1 10 20 30 \"", shifted},
        {R"(transform="1 0 0 0 1 0 0 0 1 10 20 30 99")", shifted},  // the 13th is ignored
        {R"(transform="1 0 0 0 1 0 0 0 1 10 20")", threeMFIdentityTransform},
        {R"(transform="1,0,0,0,1,0,0,0,1,10,20,30")", threeMFIdentityTransform},
        {R"(transform="1 0 0 0 1 0 0 0 1 10 20 x30")", threeMFIdentityTransform},
        {"transform=\"1 0 0 0 1 0 0 0 1\n10 20 30\"", shifted},  // the C library skips it
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

TEST(Fast3MFParser, stringAttributesAreReadAsWritten) {
    const std::string tag =
        "<component objectid=\"1\" path=\"a&amp;b \" p:path=\"\" empty=\"\" bad=\"\xff\" "
        "open=\"xyz";
    ByteSpan b(reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size());
    auto attr = [&](const char* name) {
        return Fast3MFParser::parseStringAttr(b, 0, tag.size(), name);
    };
    EXPECT_EQ(attr("path"), "a&amp;b ");      // no decoding, no trimming
    EXPECT_EQ(attr("p:path"), std::nullopt);  // empty means absent
    EXPECT_EQ(attr("bad"), std::nullopt);     // not UTF-8
    EXPECT_EQ(attr("open"), "xyz");           // runs to the end of the tag
    EXPECT_EQ(attr("objectid"), "1");
    EXPECT_EQ(attr("missing"), std::nullopt);
    EXPECT_EQ(Fast3MFParser::parseStringAttr(b, 0, 10, "objectid"), std::nullopt);  // beyond `to`
}

TEST(Fast3MFParser, shortOrUnrecognisedInputGivesAnEmptyResult) {
    for (const std::string& xml :
         {std::string(), std::string("<mesh>"), std::string("<vertex "), std::string(1000, '<'),
          std::string("<item objectid="), std::string("<object id=\"1\"><mesh><vertex x=\"1")}) {
        Result r = parse(xml);
        EXPECT_TRUE(r.meshes.empty() && r.components.empty() && r.buildItems.empty()) << xml;
    }
    // Near the end each opening needs at least one byte after it.
    EXPECT_EQ(parse(R"(<item objectid="1" )").buildItems.size(), 1u);
    EXPECT_EQ(parse(R"(<item objectid="12)").buildItems.at(0).objectId,
              12u);  // value runs to the end
    EXPECT_EQ(parse(R"(<mesh><vertex x="1"/><triangle )").meshes.size(), 0u);
}

}  // namespace
}  // namespace kelvo

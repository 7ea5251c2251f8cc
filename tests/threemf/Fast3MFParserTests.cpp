// The model scanner's rules: which openings count, how meshes open, close and are filed under
// object ids, components and build items, transforms, string attributes, and every spelling
// of vertices and triangles against a plain transcription of the general attribute rule.
// Its numbers are the C library's numbers in the C locale: bit for bit against strtof_l and
// strtoul on tricky and random texts, and under a decimal-comma locale.
#include <gtest/gtest.h>

#include <locale.h>
#include <stdlib.h>
#include <map>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/ThreeMF/Fast3MFParser.h"
#include "extensions/Shared/ThreeMF/ThreeMFNumbers.h"
#include "fuzz/ThreeMFResultBytes.h"

namespace kelvo {
namespace {

using Result = Fast3MFParser::ParseResult;

const std::uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}
Result parse(const std::string& xml) {
    return Fast3MFParser::parse(ByteSpan(bytes(xml), xml.size()));
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
    for (const ThreeMFMesh& m :
         r.meshes.contains(id) ? r.meshes.at(id) : std::vector<ThreeMFMesh>())
        counts.push_back(m.triangleCount);
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

// Ten digits in the usual spelling, where a value past 32 bits would wrap to a real vertex
// (4294967296 to 0, 4294967297 to 1): it becomes 4294967295, past every mesh's vertices.
TEST(Fast3MFParser, tenDigitIndicesInTheUsualSpellingNeverWrapToAVertex) {
    const std::pair<std::string, std::vector<std::uint32_t>> rows[] = {
        {R"(v1="4294967296" v2="1" v3="2")", {4294967295, 1, 2}},
        {R"(v1="0" v2="4294967297" v3="2")", {0, 4294967295, 2}},
        {R"(v1="0" v2="1" v3="9999999999")", {0, 1, 4294967295}},
        {R"(v1="4294967295" v2="1000000000" v3="0000000002")", {4294967295, 1000000000, 2}},
    };
    for (const auto& [attributes, indices] : rows) {
        Result r =
            parse("<mesh>" + vertex + vertex + vertex + "<triangle " + attributes + "/></mesh>");
        EXPECT_EQ(values<std::uint32_t>(r.meshes.at(0).at(0).indexData), indices) << attributes;
    }
}

TEST(Fast3MFParser, meshesOpenAndCloseByTheirOwnRules) {
    struct Row {
        std::string xml;
        std::vector<std::int64_t> counts;
    } rows[] = {
        {"<mesh>" + vertex + triangle, {1}},                 // never closed
        {"<mesh/>" + vertex + triangle + "</object>", {1}},  // self-closing stays open
        {"<mesh\n>" + vertex + triangle + "</mesh>", {1}},
        {"<mesh><vertices>" + vertex + "</vertices><triangles>" + triangle + "</triangles>", {1}},
        {"<meshy>" + vertex + triangle + "</meshy>", {}},
        {"<meshes>" + vertex + triangle + "</meshes>", {}},
        {"<MESH>" + vertex + triangle + "</MESH>", {}},
        {"<mesh>" + vertex + "</mesh><mesh>" + triangle + "</mesh>", {}},
        {"<mesh>" + vertex + triangle + "<mesh>" + triangle + "</mesh>", {2}},  // no nesting
        {vertex + triangle + mesh, {1}},  // outside a mesh: not written
        {mesh + "<mesh>" + vertex + triangle + triangle + "</mesh>", {1, 2}},
        // Only the exact openings of vertices and triangles count.
        {"<mesh><vertex\tx=\"1\"/>" + triangle, {}},
        {"<mesh><VERTEX x=\"1\"/>" + triangle, {}},
        {"<mesh><m:vertex x=\"1\"/>" + triangle, {}},
        {"<mesh>" + vertex + "<triangle\tv1=\"0\"/>", {}},
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

TEST(Fast3MFParser, componentsAndItemsNeedAnObjectIdAndTakePathsAsWritten) {
    Result r = parse(
        R"(<component objectid="+7"/><component objectid=" 7"/><component id="3"/>)"
        R"(<component objectid="4294967296"/><component objectid="-0004294967295"/>)"
        R"(<component objectid="0004294967295"/><component objectid="1e3"/><component objectid="-0"/>)"
        "<component objectid=\"8\"\tpath=\"/a.model\"/>"
        R"(<component objectid="9" path="/b.model" p:path="/c.model"/>)"
        R"(<component objectid="10" path="a&amp;b " p:path=""/>)"
        "<component objectid=\"11\" p:path=\"\xff\"/>"
        R"(<component objectid="12" p:path="/x>y.model"/>)"
        R"(<mesh><item objectid="3"/></mesh><item objectid="x"/><item objectid="12)");
    std::vector<std::string> seen;
    for (const ThreeMFComponent& c : r.components)
        seen.push_back(std::to_string(c.objectId) + " " + c.path.value_or("-"));
    // p:path first; no decoding or trimming; not UTF-8: none; a value ends at the tag end.
    EXPECT_EQ(seen, (std::vector<std::string>{"7 -", "4294967295 -", "0 -", "8 /a.model",
                                              "9 /c.model", "10 a&amp;b ", "11 -", "12 /x>"}));
    // Items are recognised inside a mesh too; a value may run to the end of the part.
    ASSERT_EQ(r.buildItems.size(), 2u);
    EXPECT_EQ(std::pair(r.buildItems[0].objectId, r.buildItems[1].objectId), std::pair(3u, 12u));
    EXPECT_EQ(r.buildItems[0].transform, threeMFIdentityTransform);
    EXPECT_TRUE(r.meshes.empty());
}

TEST(Fast3MFParser, transformsNeedTwelveBlankSeparatedNumbers) {
    auto transform = [](const std::string& attribute) {
        return parse("<item objectid=\"1\" " + attribute + "/>").buildItems.at(0).transform;
    };
    const ThreeMFTransform shifted = {1, 0, 0, 0, 1, 0, 0, 0, 1, 10, 20, 30};
    for (const char* attribute :
         {R"(transform="1 0 0 0 1 0 0 0 1 10 20 30")",
          "transform=\"1\t0  0 0 1 0 0 0 1 10 20 30 \"",
          R"(transform="1 0 0 0 1 0 0 0 1 10 20 30 99")",  // 13th ignored
          "transform=\"1 0 0 0 1 0 0 0 1\n10 20 30\""})    // the C library skips \n
        EXPECT_EQ(transform(attribute), shifted) << attribute;
    for (const char* attribute :
         {R"(transform="1 0 0 0 1 0 0 0 1 10 20")", R"(transform="1,0,0,0,1,0,0,0,1,10,20,30")",
          R"(transform = "1 0 0 0 1 0 0 0 1 10 20 30")"})
        EXPECT_EQ(transform(attribute), threeMFIdentityTransform) << attribute;
    EXPECT_EQ(transform(R"(transform="2 0 0 0 2 0 0 0 2 1e1 0x14 +30.0")"),
              (ThreeMFTransform{2, 0, 0, 0, 2, 0, 0, 0, 2, 10, 20, 30}));
}

// The first `name` attribute of `tag` as the general rule finds it (white space, the name,
// '=', '"', all before the tag end): its value, or nullptr.
const char* ruleValue(const std::string& tag, const std::string& name) {
    const std::string head = tag.substr(0, tag.find('>') + 1);
    size_t at = std::string::npos;
    for (char space : {' ', '\t', '\n', '\r'})
        at = std::min(at, head.find(space + name + "=\""));
    return at == std::string::npos ? nullptr : tag.c_str() + at + name.size() + 3;
}

// The usual spelling takes a shortcut, every other one the general rule; both must agree
// with it, with the C library's numbers.
TEST(Fast3MFParser, everySpellingOfVerticesAndTrianglesReadsAsTheGeneralRuleSays) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    std::mt19937 random(2024);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    auto one = [&](std::initializer_list<const char*> choices) {
        return std::string(choices.begin()[pick(choices.size())]);
    };
    auto element = [&](std::string tag, std::vector<std::string> names, bool floats) {
        std::shuffle(names.begin(), names.end(), random);
        if (pick(4) == 0) names.erase(names.begin() + pick(3));        // one missing
        if (pick(6) == 0) names.push_back(names[pick(names.size())]);  // one repeated
        tag += " ";
        for (const std::string& name : names) {
            if (pick(5) == 0) tag += one({"pid=\"1\" ", "p1=\"0\" ", "xx=\"5\" ", "v=\"7\" "});
            char number[64];
            std::snprintf(number, sizeof number, "%.*g", static_cast<int>(pick(12)),
                          std::ldexp(static_cast<double>(random()) - 2e9, -int(pick(60))));
            std::string value = floats ? number : std::to_string(pick(100000));
            if (pick(6) == 0)
                value = floats ? one({"", "+1.5", " 2", "0x1p-3", "-inf", "nan", "1e", ".", "-0",
                                      "1,5", "123456789012345678901234", "1e-46", "16777217"})
                               : one({"", "+3", "-0", "-1", " 4", "4294967295", "4294967296",
                                      "0000000000000000000000012", "99999999999999999999", "7x"});
            tag += name + one({"=\"", "=\"", "=\"", "= \"", "='"}) + value +
                   one({"\"", "\"", "\"", "'"}) + one({" ", " ", "\t", "\n", "\r\n", ""});
        }
        return tag + one({"/>", "/>", " />", ">"}) + one({"\n     ", "", " "});
    };
    for (int round = 0; round < 200 && !HasFailure(); ++round) {
        std::vector<std::string> vertices, triangles;
        std::string xml = "<object id=\"1\"><mesh>\n";
        for (int k = 0; k < 50; ++k) {
            xml += vertices.emplace_back(element("<vertex", {"x", "y", "z"}, true));
            xml += triangles.emplace_back(element("<triangle", {"v1", "v2", "v3"}, false));
        }
        const Result r = parse(xml + "</mesh></object>");
        const ThreeMFMesh& m = r.meshes.at(1).at(0);
        ASSERT_EQ(std::pair(m.vertexCount, m.triangleCount), std::pair(50l, 50l));
        const std::vector<float> positions = values<float>(m.positionData);
        const std::vector<std::uint32_t> indices = values<std::uint32_t>(m.indexData);
        for (size_t k = 0; k < 150; ++k) {
            const char* x = ruleValue(vertices[k / 3], std::string(1, "xyz"[k % 3]));
            const float want = x ? strtof_l(x, nullptr, c) : 0.0f;
            EXPECT_EQ(std::memcmp(&positions[k], &want, 4), 0) << vertices[k / 3];
            const char* v = ruleValue(triangles[k / 3], "v" + std::to_string(k % 3 + 1));
            const unsigned long index = v ? std::strtoul(v, nullptr, 10) : 0;
            EXPECT_EQ(indices[k], std::min(index, 0xFFFFFFFFul)) << triangles[k / 3];
        }
    }
}

void expectSameAsCLibrary(const std::string& text) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char* stop = nullptr;
    const float expected = strtof_l(text.c_str(), &stop, c);
    CFloatParse got = parseCFloat(bytes(text), bytes(text) + text.size());
    EXPECT_EQ(std::memcmp(&got.value, &expected, 4), 0) << '"' << text << "\" gives " << got.value;
    EXPECT_EQ(got.next - bytes(text), stop - text.c_str()) << '"' << text << '"';
}

// Cuts inside and outside meshes, vertices outside any mesh before a cut (records the
// first piece leaves unwritten), an object opening inside a mesh, a self-closing mesh that
// stays open, a mesh open at the end, and nan in a transform.
std::vector<std::string> cutDocuments() {
    const std::string v = "\n   " + vertex, t = "\n\t" + triangle;
    return {
        R"(<object id="1">)" + ("<mesh>" + v + v + v + t + t + "\n</mesh>") + R"(</object>
<object id="2"><mesh>)" +
            v + t + t + R"(</mesh></object>
<component objectid="1" path="/a.model"/> <item objectid="2" transform="nan 0 0 0 1 0 0 0 1 0 0 0"/>)",
        v + v + "<object id=\"3\">" + "<mesh>" + v + v + t + "</mesh>" + v + "<mesh/>" + v + t,
        "<mesh>" + v + t + v + R"(<object id="9"> <item objectid="4"/>)" + t + "</mesh>" + v +
            "<mesh>" + t + v,
        R"(<object id="5"/>)" + mesh + R"(<object id="6"> <component objectid="5"/>)" + mesh +
            R"( <item objectid="6"/>)",
    };
}

TEST(Fast3MFParser, twoPiecesGiveWhatOneScanGivesAtEveryCut) {
    // A part cut at an element boundary is scanned in two pieces, the second assuming it
    // starts inside a mesh under an object id it does not know yet.
    for (const std::string& xml : cutDocuments()) {
        SCOPED_TRACE(xml);
        const ByteSpan data(bytes(xml), xml.size());
        const std::string whole = resultBytes(Fast3MFParser::parse(data));
        int boundaries = 0;
        for (size_t cut = 0; cut <= xml.size(); ++cut) {
            const size_t before = xml.find_last_not_of(" \t\r\n", cut == 0 ? 0 : cut - 1);
            boundaries += cut > 0 && cut < xml.size() && xml[cut] == '<' &&
                          before != std::string::npos && xml[before] == '>';
            EXPECT_EQ(resultBytes(Fast3MFParser::parseInTwoPieces(data, cut)), whole) << cut;
        }
        EXPECT_GE(boundaries, 5);
    }
}

// Two meshes, the second of 60000 vertices and triangles on lines of their own.
std::string largePart() {
    std::string xml = R"(<model><resources><object id="1"><mesh><vertices>)";
    for (int k = 0; k < 3; ++k)
        xml += vertex;
    xml += R"(</vertices><triangles>)" + triangle + R"(</triangles></mesh></object>
<object id="2"><mesh><vertices>)";
    for (int k = 0; k < 60000; ++k) {
        xml += "\n<vertex x=\"" + std::to_string(k) + ".5\" y=\"" + std::to_string(-k) +
               "\" z=\"1e-3\"/>";
    }
    xml += "</vertices><triangles>";
    for (int k = 0; k < 60000; ++k) {
        xml += "\n<triangle v1=\"" + std::to_string(k) + "\" v2=\"" +
               std::to_string((k + 1) % 60000) + "\" v3=\"" + std::to_string((k + 7) % 60000) +
               "\"/>";
    }
    xml += R"(</triangles></mesh></object></resources><build><item objectid="2"/></build></model>)";
    return xml;
}

TEST(Fast3MFParser, largePartsScannedOnTwoThreadsGiveWhatOneScanGives) {
    // Above a few megabytes the part is cut near its middle, inside the second mesh here.
    const std::string xml = largePart();
    ASSERT_GT(xml.size(), size_t{4} << 20);
    const ByteSpan data(bytes(xml), xml.size());
    const Result two = Fast3MFParser::parse(data);
    EXPECT_EQ(resultBytes(two), resultBytes(Fast3MFParser::parseInTwoPieces(data, 0)));
    EXPECT_EQ(triangleCounts(two, 2), std::vector<std::int64_t>{60000});
    EXPECT_EQ(two.meshes.at(2)[0].vertexCount, 60000);
}

// The stream's result for `xml` handed over in pieces of `pieceBytes`.
Result streamed(const std::string& xml, size_t pieceBytes, size_t scanBytes,
                size_t longestElement = size_t{64} << 20) {
    Fast3MFParser::Stream stream(scanBytes, longestElement);
    for (size_t at = 0; at < xml.size(); at += pieceBytes)
        stream.feed(ByteSpan(bytes(xml) + at, std::min(pieceBytes, xml.size() - at)));
    return stream.finish();
}

TEST(Fast3MFParser, aPartHandedOverInPiecesGivesWhatOneScanGives) {
    // Pieces of one byte up, scanned as soon as a few bytes have come or after many: meshes
    // are joined across any number of scans, and the object id and the open mesh carry over.
    std::vector<std::string> documents = cutDocuments();
    documents.push_back("");
    documents.push_back("<mesh>" + std::string(100, ' '));
    for (const std::string& xml : documents) {
        SCOPED_TRACE(xml);
        const std::string whole = resultBytes(parse(xml));
        for (size_t piece : {1, 2, 5, 13, 4096}) {
            for (size_t scan : {1, 30, 100000})
                EXPECT_EQ(resultBytes(streamed(xml, piece, scan)), whole) << piece << ' ' << scan;
        }
    }
    const std::string large = largePart();
    const std::string whole = resultBytes(parse(large));
    for (size_t piece : {1000, 1 << 20})
        EXPECT_EQ(resultBytes(streamed(large, piece, 64 << 10)), whole) << piece;
}

TEST(Fast3MFParser, aStreamedPartHandsItsTrianglesOutInsteadOfKeepingThem) {
    // Read once for the vertices and once more for the triangles, a part gives what one scan
    // gives: meshes numbered in document order, dropped ones included, their triangles in
    // order whatever the pieces; and nothing of the triangles is kept.
    std::vector<std::string> documents = cutDocuments();
    documents.push_back(largePart());
    for (const std::string& xml : documents) {
        SCOPED_TRACE(xml.substr(0, 200));
        const Result whole = parse(xml);
        for (size_t piece : {7, 1000}) {
            Fast3MFParser::Stream vertices(64 << 10);
            vertices.handTrianglesTo({}, true);
            std::map<std::int64_t, std::vector<std::uint32_t>> handed;
            Fast3MFParser::Stream triangles(100);
            triangles.handTrianglesTo(
                [&](std::int64_t mesh, const std::uint32_t* indices, size_t count) {
                    handed[mesh].insert(handed[mesh].end(), indices, indices + 3 * count);
                },
                false);
            for (size_t at = 0; at < xml.size(); at += piece) {
                const ByteSpan bytesNow(bytes(xml) + at, std::min(piece, xml.size() - at));
                vertices.feed(bytesNow);
                triangles.feed(bytesNow);
            }
            const Result positions = vertices.finish();
            for (const auto& [id, meshes] : triangles.finish().meshes) {
                for (const ThreeMFMesh& mesh : meshes)
                    EXPECT_TRUE(mesh.positionData.empty() && mesh.indexData.empty());
            }
            ASSERT_EQ(positions.meshes.size(), whole.meshes.size());
            for (const auto& [id, meshes] : whole.meshes) {
                const std::vector<ThreeMFMesh>& kept = positions.meshes.at(id);
                ASSERT_EQ(kept.size(), meshes.size());
                for (size_t k = 0; k < meshes.size(); ++k) {
                    EXPECT_EQ(kept[k].positionData, meshes[k].positionData);
                    EXPECT_TRUE(kept[k].indexData.empty());
                    EXPECT_EQ(kept[k].triangleCount, meshes[k].triangleCount);
                    const std::vector<std::uint32_t>& indices = handed[kept[k].partOrdinal];
                    EXPECT_EQ(ByteBuffer(reinterpret_cast<const std::uint8_t*>(indices.data()),
                                         reinterpret_cast<const std::uint8_t*>(indices.data() +
                                                                               indices.size())),
                              meshes[k].indexData);
                }
            }
        }
    }
}

TEST(Fast3MFParser, aStreamedPartFailsOnAnElementLongerThanItsBound) {
    const std::string xml = "<object id=\"1\">" + mesh + "<metadata name=\"" +
                            std::string(5000, 'x') + "\"/>" + mesh + "</object>";
    try {
        streamed(xml, 100, 100, 4000);
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), longElementIn3MF);
    }
    // Within the bound the long element is skipped as one scan skips it.
    EXPECT_EQ(resultBytes(streamed(xml, 100, 100, 6000)), resultBytes(parse(xml)));
}

TEST(ThreeMFNumbers, floatsMatchTheCLibraryOnTrickyAndRandomTexts) {
    // Limits, subnormals, exact halfway cases, hexadecimal, inf and nan, broken texts.
    std::stringstream tricky(
        "0|-0|+0|1.|.5|-.5|.|-|e5|1e|1e+|1e-3x|  \t\n\v\f\r2.5|3.4028235e38|3.4028236e38|1e39|"
        "1e-46|7e-46|1.17549435e-38|16777217|16777217.0|0.1|33554431.0|"
        "123456789012345678901234567890|1.000000059604644775390625|1.0000000596046447753906250|"
        "1.00000005960464477539062500001|2.5e-4294967296|1e99999999999999999999|0x1p3|-0X1.8P+1|"
        "0x|0x.8|inf|-Infinity|INFINITE|nan|-NaN|nan(123)|nan(x|1,5|\xff|12.5\"|1e5.5");
    for (std::string text; std::getline(tricky, text, '|');)
        expectSameAsCLibrary(text);
    expectSameAsCLibrary("0." + std::string(400, '0') + "1e400");
    const std::string alphabet = "01234567890123456789..eE+-xXpPaAfFinINtyT()_ \t\n\"";
    std::mt19937 random(1234);
    for (int k = 0; k < 200000 && !HasFailure(); ++k) {
        std::string text(1 + random() % 24, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        expectSameAsCLibrary(text);
        char decimal[64];  // the decimals slicers write
        std::snprintf(decimal, sizeof decimal, "%.*f", static_cast<int>(random() % 12),
                      std::ldexp(static_cast<double>(random()), -static_cast<int>(random() % 40)));
        expectSameAsCLibrary(decimal);
    }
}

TEST(ThreeMFNumbers, readersNeverLookPastTheirEnd) {
    const std::string text = "12.34", hex = "0x1p3";
    EXPECT_EQ(parseCFloat(bytes(text), bytes(text) + 3).value, 12.0f);
    EXPECT_EQ(parseCFloat(bytes(hex), bytes(hex) + 3).value, 1.0f);
    EXPECT_EQ(parseTriangleIndex(bytes(text), bytes(text) + 1), 1u);
}

TEST(ThreeMFNumbers, numbersKeepTheDecimalPointUnderADecimalCommaLocale) {
    const std::string saved = setlocale(LC_ALL, nullptr);
    if (!setlocale(LC_ALL, "de_DE.UTF-8") && !setlocale(LC_ALL, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma is installed (tools/dev test makes one)";
    EXPECT_EQ(std::strtof("1.5", nullptr), 1.0f);  // the locale is in force
    const std::string xml =
        R"(<object id="1"><mesh><vertex x="1.5" y="-2.25e1" z="0x1.8p1"/><vertex x="1,5"/>)"
        R"(<triangle v1="0" v2="1" v3="1"/></mesh></object>)"
        R"(<item objectid="1" transform="0.5 0 0 0 0.5 0 0 0 0.5 1.25 2.5 3.75"/>)";
    const Result r = parse(xml);
    setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(values<float>(r.meshes.at(1).at(0).positionData),
              (std::vector<float>{1.5f, -22.5f, 3.0f, 1.0f, 0, 0}));
    EXPECT_EQ(r.buildItems.at(0).transform,
              (ThreeMFTransform{0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f, 1.25f, 2.5f, 3.75f}));
}

}  // namespace
}  // namespace kelvo

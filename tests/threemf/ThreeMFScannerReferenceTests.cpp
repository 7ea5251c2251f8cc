// The scanner reads the usual spelling of vertices and triangles by a shortcut and every
// other spelling by the general rule; both must give what the rule gives. Checked against
// a plain transcription of the rule (with the C library's own number parsers) on many
// randomly spelled elements.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "extensions/Shared/Fast3MFParser.h"

namespace kelvo {
namespace {

bool isAttributeSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The value of the first `name` attribute of the element `tag` as the rule finds it, or
// nullptr: white space, the name, '=', '"', all before the tag end.
const char* ruleValue(const std::string& tag, const std::string& name) {
    const size_t end = tag.find('>') + 1;
    for (size_t k = 0; k + name.size() + 2 < end; ++k) {
        if (isAttributeSpace(tag[k]) && tag.compare(k + 1, name.size(), name) == 0 &&
            tag[k + 1 + name.size()] == '=' && tag[k + 2 + name.size()] == '"') {
            return tag.c_str() + k + name.size() + 3;
        }
    }
    return nullptr;
}

float ruleCoordinate(const std::string& tag, const char* letter) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const char* value = ruleValue(tag, letter);
    return value ? strtof_l(value, nullptr, c) : 0.0f;
}

std::uint32_t ruleIndex(const std::string& tag, const char* name) {
    const char* value = ruleValue(tag, name);
    if (!value) return 0;
    unsigned long v = std::strtoul(value, nullptr, 10);
    return v > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

class RandomSpelling {
public:
    explicit RandomSpelling(unsigned start) : random_(start) {}

    std::string vertex() { return element("<vertex", {"x", "y", "z"}, true); }
    std::string triangle() { return element("<triangle", {"v1", "v2", "v3"}, false); }

private:
    std::string element(const char* opening, std::vector<std::string> names, bool floats) {
        std::shuffle(names.begin(), names.end(), random_);
        if (pick(4) == 0) names.erase(names.begin() + pick(3));        // one missing
        if (pick(6) == 0) names.push_back(names[pick(names.size())]);  // one repeated
        std::string tag = opening;
        tag += " ";
        for (const std::string& name : names) {
            if (pick(5) == 0) tag += one({"pid=\"1\" ", "p1=\"0\" ", "xx=\"5\" ", "v=\"7\" "});
            tag += name + one({"=\"", "=\"", "=\"", "= \"", "='"}) +
                   (floats ? floatText() : indexText()) + one({"\"", "\"", "\"", "'"}) +
                   one({" ", " ", "\t", "\n", "\r\n", ""});
        }
        return tag + one({"/>", "/>", " />", ">"}) + one({"\n     ", "", " "});
    }
    std::string floatText() {
        char text[64];
        switch (pick(8)) {
            case 0:
                std::snprintf(text, sizeof text, "%d", static_cast<int>(pick(2000)) - 1000);
                break;
            case 1:
                std::snprintf(text, sizeof text, "%.9g", uniform(-1e6, 1e6));
                break;
            case 2:
                std::snprintf(text, sizeof text, "%.3e", uniform(-1e30, 1e30));
                break;
            case 3:
                return one({"", "+1.5", " 2", "0x1p-3", "-inf", "nan", "1e", ".", "-0", "1,5",
                            "0.1e+2", "123456789012345678901234", "0.000000000000000000001",
                            "16777217"});
            default:
                std::snprintf(text, sizeof text, "%.6f", uniform(-500, 500));
                break;
        }
        return text;
    }
    std::string indexText() {
        if (pick(6) != 0) return std::to_string(pick(100000));
        return one({"", "+3", "-0", "-1", " 4", "4294967295", "4294967296",
                    "0000000000000000000000012", "99999999999999999999", "7x", "x"});
    }
    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(random_);
    }
    std::string one(std::initializer_list<const char*> choices) {
        return *(choices.begin() + pick(choices.size()));
    }

    std::mt19937 random_;
};

TEST(ThreeMFScannerReference, everySpellingReadsAsTheRuleSays) {
    RandomSpelling spell(2024);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> vertices, triangles;
        std::string xml = "<object id=\"1\"><mesh>\n";
        for (int k = 0; k < 50; ++k) {
            vertices.push_back(spell.vertex());
            xml += vertices.back();
        }
        for (int k = 0; k < 50; ++k) {
            triangles.push_back(spell.triangle());
            xml += triangles.back();
        }
        xml += "</mesh></object>";
        Fast3MFParser::ParseResult r = Fast3MFParser::parse(
            ByteSpan(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
        const ThreeMFMesh& mesh = r.meshes.at(1).at(0);
        ASSERT_EQ(mesh.vertexCount, 50);
        ASSERT_EQ(mesh.triangleCount, 50);
        for (int k = 0; k < 50; ++k) {
            float got[3];
            std::memcpy(got, mesh.positionData.data() + 12 * k, 12);
            const float want[3] = {ruleCoordinate(vertices[k], "x"),
                                   ruleCoordinate(vertices[k], "y"),
                                   ruleCoordinate(vertices[k], "z")};
            ASSERT_EQ(std::memcmp(got, want, 12), 0) << vertices[k];
            std::uint32_t index[3];
            std::memcpy(index, mesh.indexData.data() + 12 * k, 12);
            ASSERT_EQ(index[0], ruleIndex(triangles[k], "v1")) << triangles[k];
            ASSERT_EQ(index[1], ruleIndex(triangles[k], "v2")) << triangles[k];
            ASSERT_EQ(index[2], ruleIndex(triangles[k], "v3")) << triangles[k];
        }
    }
}

}  // namespace
}  // namespace kelvo

// The scanner's numbers are the C library's numbers in the C locale: checked bit for bit
// against strtof_l and strtoul on tricky and random texts, and under a decimal-comma locale.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <climits>
#include <cstring>
#include <random>

#include "extensions/Shared/Fast3MFParser.h"
#include "extensions/Shared/ThreeMFNumbers.h"

namespace kelvo {
namespace {

const std::uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}
const std::uint8_t* bytes(const char* s) {
    return reinterpret_cast<const std::uint8_t*>(s);
}

std::uint32_t bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

// The reference: strtof_l on the zero-terminated text. Returns the value and the count of
// bytes converted (0 when nothing was).
std::pair<float, size_t> referenceFloat(const std::string& text) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char* end = nullptr;
    float v = strtof_l(text.c_str(), &end, c);
    return {v, static_cast<size_t>(end - text.c_str())};
}

void expectSameAsCLibrary(const std::string& text) {
    auto [expected, length] = referenceFloat(text);
    CFloatParse got = parseCFloat(bytes(text), bytes(text) + text.size());
    EXPECT_EQ(bits(got.value), bits(expected)) << '"' << text << '"';
    EXPECT_EQ(static_cast<size_t>(got.next - bytes(text)), length) << '"' << text << '"';
}

TEST(ThreeMFNumbers, floatsMatchTheCLibraryOnTrickyTexts) {
    for (const char* text : {"0",
                             "-0",
                             "+0",
                             "1",
                             "1.",
                             ".5",
                             "-.5",
                             ".",
                             "-",
                             "+",
                             "-.",
                             "e5",
                             "1e",
                             "1e+",
                             "1e-3x",
                             "1.5E+03",
                             "  \t\n\v\f\r2.5",
                             "3.4028235e38",
                             "3.4028236e38",
                             "1e39",
                             "-1e39",
                             "1e-46",
                             "1.4e-45",
                             "7e-46",
                             "1.17549435e-38",
                             "0.000000000000000000000000000000000000000000001",
                             "16777217",
                             "16777216.5",
                             "0.1",
                             "0.30000001192092896",
                             "123456789012345678901234567890",
                             "1.00000005960464477539062500000000000000000001",
                             "1.000000059604644775390625",
                             "2.5e-4294967296",
                             "1e99999999999999999999",
                             "0e99999999999",
                             "0x1p3",
                             "-0X1.8P+1",
                             "0x",
                             "0xg",
                             "0x.8",
                             "0x1p",
                             "inf",
                             "-Infinity",
                             "INFINITE",
                             "nan",
                             "-NaN",
                             "nan(123)",
                             "nan(x",
                             "in",
                             "1,5",
                             "1_000",
                             "٣",
                             "\xff",
                             "12.5\"",
                             "1e5.5"}) {
        expectSameAsCLibrary(text);
    }
    expectSameAsCLibrary("0." + std::string(400, '0') + "1e400");
    expectSameAsCLibrary(std::string(300, '9') + ".5");
}

TEST(ThreeMFNumbers, floatsMatchTheCLibraryOnRandomTexts) {
    const std::string alphabet =
        "0123456789012345678901234567890123456789..eE+-xXpPaAfFinINtyT()_ \t\n\"";
    std::mt19937 random(1234);
    for (int k = 0; k < 200000; ++k) {
        std::string text(1 + random() % 24, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        expectSameAsCLibrary(text);
        if (HasFailure()) return;
    }
}

TEST(ThreeMFNumbers, readersNeverLookPastTheirEnd) {
    // The text continues past `end`; a reader that looked there would read 1234.
    const std::string text = "12.34";
    EXPECT_EQ(parseCFloat(bytes(text), bytes(text) + 2).value, 12.0f);
    EXPECT_EQ(parseCFloat(bytes(text), bytes(text) + 3).value, 12.0f);
    const std::string hex = "0x1p3";
    EXPECT_EQ(parseCFloat(bytes(hex), bytes(hex) + 3).value, 1.0f);
    EXPECT_EQ(parseTriangleIndex(bytes(text), bytes(text) + 1), 1u);
    EXPECT_EQ(parseCFloat(bytes(text), bytes(text)).next, bytes(text));
}

TEST(ThreeMFNumbers, indicesFollowStrtoulWithinThirtyTwoBits) {
    for (const char* text : {"0", "7", " \t\n+12x", "-0", "4294967295", "00000000004294967295", "",
                             "x", "+", "-", " 42 43"}) {
        unsigned long expected = std::strtoul(text, nullptr, 10);
        ASSERT_LE(expected, 0xFFFFFFFFul) << text;
        EXPECT_EQ(parseTriangleIndex(bytes(text), bytes(text) + std::strlen(text)), expected)
            << text;
    }
    // Everything strtoul gives beyond 32 bits, negative values included, becomes the one
    // index no mesh can reach.
    for (const char* text : {"4294967296", "-1", "-4294967295", "18446744073709551615",
                             "99999999999999999999999", "-99999999999999999999999"}) {
        EXPECT_GT(std::strtoul(text, nullptr, 10), 0xFFFFFFFFul) << text;
        EXPECT_EQ(parseTriangleIndex(bytes(text), bytes(text) + std::strlen(text)), 0xFFFFFFFFu)
            << text;
    }
}

TEST(ThreeMFNumbers, objectIdsAreWholeDecimalTexts) {
    struct Row {
        const char* text;
        std::optional<std::uint32_t> expected;
    } rows[] = {
        {"0", 0},
        {"7", 7},
        {"+7", 7},
        {"-0", 0},
        {"-000", 0},
        {"0004294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"-1", std::nullopt},
        {" 7", std::nullopt},
        {"7 ", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"1e3", std::nullopt},
        {"٣", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(parseWholeUInt32(row.text), row.expected) << row.text;
}

// Sets the first installed locale whose decimal separator is a comma, for one test.
class DecimalCommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = setlocale(LC_ALL, nullptr);
        for (const char* name :
             {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8",
              "nl_NL.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8", "pt_BR.UTF-8"}) {
            if (setlocale(LC_ALL, name) && std::strcmp(localeconv()->decimal_point, ",") == 0)
                return;
        }
        setlocale(LC_ALL, saved_.c_str());
        GTEST_SKIP()
            << "no locale with a decimal comma is installed (tools/dev test makes de_DE.UTF-8)";
    }
    void TearDown() override { setlocale(LC_ALL, saved_.c_str()); }
    std::string saved_;
};

TEST_F(DecimalCommaLocale, numbersKeepTheDecimalPoint) {
    // Proof that the locale is in force: the plain C library now stops at the point.
    EXPECT_EQ(std::strtof("1.5", nullptr), 1.0f);
    const std::string xml =
        R"(<object id="1"><mesh><vertex x="1.5" y="-2.25e1" z="0x1.8p1"/><vertex x="1,5" y="2" z="3"/>)"
        R"(<triangle v1="0" v2="1" v3="1"/></mesh></object>)"
        R"(<item objectid="1" transform="0.5 0 0 0 0.5 0 0 0 0.5 1.25 2.5 3.75"/>)";
    Fast3MFParser::ParseResult r = Fast3MFParser::parse(ByteSpan(bytes(xml), xml.size()));
    const ThreeMFMesh& mesh = r.meshes.at(1).at(0);
    float p[6];
    std::memcpy(p, mesh.positionData.data(), sizeof p);
    EXPECT_EQ(p[0], 1.5f);
    EXPECT_EQ(p[1], -22.5f);
    EXPECT_EQ(p[2], 3.0f);
    EXPECT_EQ(p[3], 1.0f);  // a comma ends the number, as in the C locale
    EXPECT_EQ(r.buildItems.at(0).transform,
              (ThreeMFTransform{0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f, 1.25f, 2.5f, 3.75f}));
}

}  // namespace
}  // namespace kelvo

// The scanner's numbers are the C library's numbers in the C locale: bit for bit against
// strtof_l and strtoul on tricky and random texts, and under a decimal-comma locale.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <cstring>
#include <random>
#include <sstream>

#include "extensions/Shared/Fast3MFParser.h"
#include "extensions/Shared/ThreeMFNumbers.h"

namespace kelvo {
namespace {

const std::uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

void expectSameAsCLibrary(const std::string& text) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char* stop = nullptr;
    const float expected = strtof_l(text.c_str(), &stop, c);
    CFloatParse got = parseCFloat(bytes(text), bytes(text) + text.size());
    EXPECT_EQ(std::memcmp(&got.value, &expected, 4), 0) << '"' << text << "\" gives " << got.value;
    EXPECT_EQ(got.next - bytes(text), stop - text.c_str()) << '"' << text << '"';
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

TEST(ThreeMFNumbers, indicesAreStrtoulNarrowedSafely) {
    // What strtoul gives beyond 32 bits, negative values included, becomes the one index no
    // mesh can reach.
    const std::uint32_t none = 0xFFFFFFFF;
    const std::pair<std::string, std::uint32_t> rows[] = {{"0", 0},
                                                          {" \t\n+12x", 12},
                                                          {"-0", 0},
                                                          {"4294967295", none},
                                                          {"0000000000004294967295", none},
                                                          {"", 0},
                                                          {"x", 0},
                                                          {" 42 43", 42},
                                                          {"4294967296", none},
                                                          {"-1", none},
                                                          {"-4294967295", none},
                                                          {"18446744073709551615", none},
                                                          {"-99999999999999999999999", none}};
    for (const auto& [text, index] : rows)
        EXPECT_EQ(parseTriangleIndex(bytes(text), bytes(text) + text.size()), index) << text;
}

TEST(ThreeMFNumbers, objectIdsAreWholeDecimalTexts) {
    const std::pair<const char*, std::optional<std::uint32_t>> rows[] = {
        {"0", 0},           {"+7", 7},  {"-0", 0},   {"-000", 0}, {"0004294967295", 4294967295u},
        {"4294967296", {}}, {"-1", {}}, {" 7", {}},  {"7 ", {}},  {"", {}},
        {"+", {}},          {"-", {}},  {"+-1", {}}, {"1e3", {}}, {"99999999999999999999", {}}};
    for (const auto& [text, id] : rows)
        EXPECT_EQ(parseWholeUInt32(text), id) << text;
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
    Fast3MFParser::ParseResult r = Fast3MFParser::parse(ByteSpan(bytes(xml), xml.size()));
    setlocale(LC_ALL, saved.c_str());
    float p[4];
    std::memcpy(p, r.meshes.at(1).at(0).positionData.data(), sizeof p);
    EXPECT_EQ(std::vector<float>(p, p + 4), (std::vector<float>{1.5f, -22.5f, 3.0f, 1.0f}));
    EXPECT_EQ(r.buildItems.at(0).transform,
              (ThreeMFTransform{0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f, 1.25f, 2.5f, 3.75f}));
}

}  // namespace
}  // namespace kelvo

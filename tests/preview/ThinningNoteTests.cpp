// What the preview's note over a thinned model says.
#include <gtest/gtest.h>

#include "extensions/KelvoQuickLook/ThinningNote.h"

namespace kelvo {
namespace {

TEST(ThinningNote, groupsDigitsInThreesAndSaysFromHowManyToHowMany) {
    EXPECT_EQ(groupedDigits(0), "0");
    EXPECT_EQ(groupedDigits(999), "999");
    EXPECT_EQ(groupedDigits(1000), "1,000");
    EXPECT_EQ(groupedDigits(20'000'000), "20,000,000");
    EXPECT_EQ(groupedDigits(4'000'000'000), "4,000,000,000");
    EXPECT_EQ(groupedDigits(-1234), "-1,234");
    SceneBudgetOutcome outcome;
    outcome.trianglesBefore = 80'123'456;
    outcome.trianglesAfter = 19'999'998;
    const std::string text = thinningNoteText(outcome);
    EXPECT_EQ(text.rfind("Thinned from 80,123,456 to 19,999,998 triangles", 0), 0u) << text;
    EXPECT_NE(text.find("--max-triangles"), std::string::npos) << text;
}

}  // namespace
}  // namespace kelvo

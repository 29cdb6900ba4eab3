#include "core/model/Translate.h"

#include <gtest/gtest.h>

#include <cstring>

namespace orvane {
namespace {

std::string pirateCatalogue(const char *context, const char *sourceText, int count) {
    if (std::strcmp(context, "Status") == 0 && std::strcmp(sourceText, "Project saved") == 0)
        return "Ship's log written";
    if (std::strcmp(context, "Status") == 0 && std::strcmp(sourceText, "%n file(s)") == 0)
        return count == 1 ? "%n chest" : count < 0 ? "" : "%n chests, %n in all";
    return {};
}

class TranslateTest : public ::testing::Test {
  protected:
    void TearDown() override { installTranslationLookup(nullptr); }
};

TEST_F(TranslateTest, readsTheInstalledCatalogueAndFallsBackToTheSourceText) {
    EXPECT_EQ(translate("Status", "Project saved"), "Project saved");
    installTranslationLookup(&pirateCatalogue);
    EXPECT_EQ(translate("Status", "Project saved"), "Ship's log written");
    // Same text in another context, and a text the catalogue lacks, stay as written.
    EXPECT_EQ(translate("Menu", "Project saved"), "Project saved");
    EXPECT_EQ(translate("Status", "Export cancelled"), "Export cancelled");
    installTranslationLookup(nullptr);
    EXPECT_EQ(translate("Status", "Project saved"), "Project saved");
}

TEST_F(TranslateTest, givesTheFormThatSuitsTheCountWithTheCountInIt) {
    struct Case {
        bool catalogue;
        int count;
        const char *expected;
    };
    const Case cases[] = {
        {false, 1, "1 file(s)"},
        {false, 12, "12 file(s)"},
        {true, 1, "1 chest"},
        {true, 12, "12 chests, 12 in all"},
        {true, 0, "0 chests, 0 in all"},
    };
    for (const Case &c : cases) {
        installTranslationLookup(c.catalogue ? &pirateCatalogue : nullptr);
        EXPECT_EQ(translate("Status", "%n file(s)", nullptr, c.count), c.expected) << c.count;
    }
    // A plural text the catalogue lacks keeps its source, with the count put in.
    EXPECT_EQ(translate("Menu", "%n file(s)", nullptr, 3), "3 file(s)");
}

TEST(WithArguments, placesEachArgumentWhereThePatternSays) {
    struct Case {
        const char *pattern;
        std::initializer_list<std::string_view> arguments;
        const char *expected;
    };
    const Case cases[] = {
        {"Opened: %1", {"song.halvora"}, "Opened: song.halvora"},
        {"%2 файлов на %1", {"дорожку", "3"}, "3 файлов на дорожку"},
        {"%1 and %1 again", {"x"}, "x and x again"},
        {"100% done, %3 missing", {"a"}, "100% done, %3 missing"},
        {"argument with a marker: %1, %2", {"%2", "b"}, "argument with a marker: %2, b"},
        {"trailing %", {"a"}, "trailing %"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(withArguments(c.pattern, c.arguments), c.expected) << c.pattern;
}

} // namespace
} // namespace orvane

#include "core/project_io/JsonReader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace orvane::project_io {
namespace {

struct Parsed {
    JsonValue value;
    std::string error;
    std::size_t position = 0;
};

Parsed parse(std::string_view text) {
    Parser parser(text);
    parser.skipWhitespace();
    Parsed parsed;
    parsed.value = parser.parseValue();
    parsed.error = parser.error();
    parsed.position = parser.position();
    return parsed;
}

double parseNumber(std::string_view text) {
    const Parsed parsed = parse(text);
    EXPECT_TRUE(parsed.value.isNumber()) << text;
    return parsed.value.number;
}

TEST(JsonReaderStructure, EmptyContainersParseWithoutError) {
    const Parsed object = parse("{}");
    EXPECT_TRUE(object.value.isObject());
    EXPECT_TRUE(object.value.members.empty());
    EXPECT_EQ(object.error, "");
    const Parsed array = parse(" [ ] ");
    EXPECT_TRUE(array.value.isArray());
    EXPECT_TRUE(array.value.elements.empty());
    EXPECT_EQ(array.error, "");
}

TEST(JsonReaderStructure, KeepsMembersInDocumentOrderWithDuplicatesAndFindsTheFirst) {
    const Parsed parsed = parse(R"({"b":1,"a":2,"b":3})");
    ASSERT_EQ(parsed.value.members.size(), 3u);
    EXPECT_EQ(parsed.value.members[0].key, "b");
    EXPECT_EQ(parsed.value.members[1].key, "a");
    EXPECT_EQ(parsed.value.members[2].value.number, 3.0);
    ASSERT_NE(parsed.value.find("b"), nullptr);
    EXPECT_EQ(parsed.value.find("b")->number, 1.0);
    EXPECT_EQ(parsed.value.find("c"), nullptr);
}

TEST(JsonReaderStructure, NestedValuesOfEveryKind) {
    const Parsed parsed = parse("{\"a\" : [1, true, false, null, \"x\", {\"k\": -2.5e1}]}");
    EXPECT_EQ(parsed.error, "");
    const JsonValue *list = parsed.value.find("a");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->elements.size(), 6u);
    EXPECT_EQ(list->elements[0].number, 1.0);
    EXPECT_TRUE(list->elements[1].boolean);
    EXPECT_TRUE(list->elements[2].isBoolean());
    EXPECT_FALSE(list->elements[2].boolean);
    EXPECT_TRUE(list->elements[3].isNull());
    EXPECT_EQ(list->elements[4].string, "x");
    EXPECT_EQ(list->elements[5].find("k")->number, -25.0);
}

TEST(JsonReaderErrors, MissingArraySeparatorKeepsTheFirstElement) {
    const Parsed parsed = parse("[1 2]");
    EXPECT_EQ(parsed.error, "expected ',' or ']'");
    ASSERT_EQ(parsed.value.elements.size(), 1u);
    EXPECT_EQ(parsed.value.elements[0].number, 1.0);
}

TEST(JsonReaderErrors, MissingColonAndMissingCommaInObjects) {
    EXPECT_EQ(parse(R"({"a" 1})").error, "expected ':'");
    const Parsed parsed = parse(R"({"a":1 "b":2})");
    EXPECT_EQ(parsed.error, "expected ',' or '}'");
    ASSERT_EQ(parsed.value.members.size(), 1u);
    EXPECT_EQ(parsed.value.members[0].key, "a");
}

TEST(JsonReaderErrors, UnclosedContainersAtTheEndOfTheTextFail) {
    EXPECT_EQ(parse(R"({"a":1)").error, "expected ',' or '}'");
    EXPECT_EQ(parse("[1,2").error, "expected ',' or ']'");
    EXPECT_EQ(parse("[").error, "expected ',' or ']'");
}

TEST(JsonReaderErrors, AnInnerErrorEndsOnlyItsContainerAndTheLastMessageWins) {
    // The inner array fails at "}", which then closes the outer object without a new error.
    const Parsed parsed = parse(R"({"a":[1}, "b":2})");
    EXPECT_EQ(parsed.error, "expected ',' or ']'");
    ASSERT_EQ(parsed.value.members.size(), 1u);
    EXPECT_EQ(parsed.value.members[0].value.elements.size(), 1u);
    EXPECT_EQ(parsed.position, 8u);
    EXPECT_EQ(parse(R"([{"a" 1}, 2 3])").error, "expected ',' or ']'");
}

TEST(JsonReaderNesting, DepthAtTheBoundParsesAndOneMoreFails) {
    const std::string atBound =
        std::string(Parser::maxDepth, '[') + std::string(Parser::maxDepth, ']');
    EXPECT_EQ(parse(atBound).error, "");
    const std::string beyond =
        std::string(Parser::maxDepth + 1, '[') + std::string(Parser::maxDepth + 1, ']');
    EXPECT_EQ(parse(beyond).error, "nesting too deep");
}

TEST(JsonReaderNesting, AMillionLevelsFailCleanlyWithTheDepthMessage) {
    std::string deep;
    for (int level = 0; level < 1000000; ++level)
        deep += level % 2 == 0 ? "{\"k\":" : "[";
    const Parsed parsed = parse(deep);
    EXPECT_EQ(parsed.error, "nesting too deep");
}

TEST(JsonReaderNumbers, AcceptsTheLenientForms) {
    EXPECT_EQ(parseNumber("+5"), 5.0);
    EXPECT_EQ(parseNumber(".5"), 0.5);
    EXPECT_EQ(parseNumber("5."), 5.0);
    EXPECT_EQ(parseNumber("007"), 7.0);
    EXPECT_EQ(parseNumber("-0.25"), -0.25);
    EXPECT_EQ(parseNumber("1E3"), 1000.0);
    EXPECT_EQ(parseNumber("2e-2"), 0.02);
    EXPECT_EQ(parseNumber("0.800000011920929"), 0.800000011920929);
}

TEST(JsonReaderNumbers, ReadsTheLongestValidPrefixOfTheRun) {
    EXPECT_EQ(parseNumber("1e5e3"), 100000.0);
    EXPECT_EQ(parseNumber("1.5.5"), 1.5);
    EXPECT_EQ(parseNumber("3e"), 3.0);
    // The whole run is consumed even where only a prefix converts.
    EXPECT_EQ(parse("1.5.5").position, 5u);
}

TEST(JsonReaderNumbers, MalformedAndOutOfRangeNumbersAreZero) {
    EXPECT_EQ(parseNumber("1e999"), 0.0);
    EXPECT_EQ(parseNumber("-1e999"), 0.0);
    EXPECT_EQ(parseNumber("-"), 0.0);
    EXPECT_EQ(parseNumber("--5"), 0.0);
    EXPECT_EQ(parseNumber("+-5"), 0.0);
    EXPECT_EQ(parseNumber("e5"), 0.0);
}

TEST(JsonReaderNumbers, HexadecimalStopsAfterTheZero) {
    const Parsed parsed = parse("0x10");
    EXPECT_EQ(parsed.value.number, 0.0);
    EXPECT_EQ(parsed.position, 1u);
    EXPECT_EQ(parse("[0x10]").error, "expected ',' or ']'");
}

TEST(JsonReaderNumbers, AStrayByteConsumesNothingAndFailsTheContainer) {
    const Parsed parsed = parse("[@]");
    EXPECT_EQ(parsed.error, "expected ',' or ']'");
    ASSERT_EQ(parsed.value.elements.size(), 1u);
    EXPECT_EQ(parsed.value.elements[0].number, 0.0);
}

TEST(JsonReaderNumbers, IgnoreAProcessLocaleWithADecimalComma) {
    const char *previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    const bool switched = std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") != nullptr ||
                          std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    const double value = parseNumber("0.75");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(value, 0.75);
    if (!switched) GTEST_SKIP() << "no locale with a decimal comma is installed";
}

TEST(JsonReaderLiterals, TrueNeedsAllFourLettersAndOtherWordsAreFalse) {
    EXPECT_TRUE(parse("true").value.boolean);
    const Parsed shortTrue = parse("tru");
    EXPECT_TRUE(shortTrue.value.isBoolean());
    EXPECT_FALSE(shortTrue.value.boolean);
    EXPECT_EQ(shortTrue.position, 3u);
    const Parsed fake = parse("[fxxxx,1]");
    EXPECT_EQ(fake.error, "");
    ASSERT_EQ(fake.value.elements.size(), 2u);
    EXPECT_FALSE(fake.value.elements[0].boolean);
}

TEST(JsonReaderLiterals, NullSkipsFourBytesUncheckedButNeverPassesTheEnd) {
    const Parsed parsed = parse("[nope,1]");
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.value.elements[0].isNull());
    const Parsed shortNull = parse("n");
    EXPECT_TRUE(shortNull.value.isNull());
    EXPECT_EQ(shortNull.position, 1u);
    EXPECT_EQ(parse("[n").error, "expected ',' or ']'");
}

TEST(JsonReaderStrings, DecodesEveryStandardEscape) {
    EXPECT_EQ(parse(R"("a\tb\nc\rd")").value.string, "a\tb\nc\rd");
    EXPECT_EQ(parse(R"("\"\\\/")").value.string, "\"\\/");
    EXPECT_EQ(parse(R"("\b\f")").value.string, "\b\f");
    EXPECT_EQ(parse(R"("\u0041")").value.string, "A");
}

TEST(JsonReaderStrings, UnicodeEscapesBecomeUtf8WithSurrogatePairsJoined) {
    struct Case {
        const char *json;
        std::string expected;
    };
    const std::vector<Case> cases{
        {R"("Caf\u00e9.wav")", "Caf\xC3\xA9.wav"},
        {R"("\u0437\u0432\u0443\u043A")", "\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA"},
        {R"("\u20AC")", "\xE2\x82\xAC"},
        {R"("\ud83c\udfb5")", "\xF0\x9F\x8E\xB5"},
        {R"("\ud83c!")", "\xEF\xBF\xBD!"}, // a lone high surrogate
        {R"("\udfb5")", "\xEF\xBF\xBD"},   // a lone low surrogate
        {R"("\ud83c\u0041")", "\xEF\xBF\xBD"
                              "A"}, // a high surrogate before no low one
        {R"("\u0000x")", std::string("\0x", 2)},
        {R"("\u00zz")", "u00zz"}, // not hexadecimal: the plain rule
        {R"("\u12")", "u12"},     // cut short by the end
    };
    for (const Case &test : cases)
        EXPECT_EQ(parse(test.json).value.string, test.expected) << test.json;
}

TEST(JsonReaderStrings, KeepsRawBytesAndEmbeddedZeros) {
    const std::string text = std::string("\"\x01\xD0\xBF", 4) + std::string(1, '\0') + "x\"";
    EXPECT_EQ(parse(text).value.string,
              std::string("\x01\xD0\xBF", 3) + std::string(1, '\0') + "x");
}

TEST(JsonReaderStrings, UnterminatedStringsRunToTheEndWithoutError) {
    const Parsed parsed = parse("\"abc");
    EXPECT_EQ(parsed.value.string, "abc");
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parse("\"abc\\").value.string, "abc\\");
    EXPECT_EQ(parse("\"abc\\\"").value.string, "abc\"");
}

TEST(JsonReaderStrings, AnEmptyTextIsNull) {
    EXPECT_TRUE(parse("").value.isNull());
    EXPECT_TRUE(parse(" \t\r\n").value.isNull());
}

} // namespace
} // namespace orvane::project_io

#include "core/music/ScalaFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

namespace orvane {
namespace {

namespace fs = std::filesystem;

/// A scratch folder per test, removed afterwards.
class TuningFileFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ =
            fs::temp_directory_path() / (std::string("halvora_music_") + info->name() + "_" +
                                         std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path write(const std::string &name, const std::string &content) const {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    fs::path folder_;
};

CentTable centsOf(std::string_view text) {
    std::string error;
    const auto scale = parseScalaText(text, &error);
    EXPECT_TRUE(scale.has_value()) << error;
    return scale ? scale->cents : CentTable{};
}

std::string scalaError(std::string_view text) {
    std::string error;
    EXPECT_FALSE(parseScalaText(text, &error).has_value());
    return error;
}

std::string kbmError(std::string_view text) {
    std::string error;
    EXPECT_FALSE(parseKbmText(text, &error).has_value());
    return error;
}

void expectCents(const CentTable &actual, const CentTable &expected) {
    for (std::size_t index = 0; index < 12; ++index)
        EXPECT_NEAR(actual[index], expected[index], 1e-3f) << "pitch class " << index;
}

TEST(ParseScalaText, EqualTemperamentGivesZeroCents) {
    std::string text = "! et.scl\n!\nTwelve tone equal\n 12\n!\n";
    for (int step = 1; step <= 12; ++step)
        text += " " + std::to_string(step * 100) + ".0\n";
    std::string error;
    const auto scale = parseScalaText(text, &error);
    ASSERT_TRUE(scale.has_value()) << error;
    EXPECT_EQ(scale->description, "Twelve tone equal");
    EXPECT_EQ(scale->degreeCount, 12);
    expectCents(scale->cents, CentTable{});
}

TEST(ParseScalaText, ShortScalesRepeatTheirLastValueUpward) {
    expectCents(centsOf("Pentatonic\n5\n200\n400\n700\n900\n1200\n"),
                {0, 100, 200, 400, 500, 700, 600, 500, 400, 300, 200, 100});
}

TEST(ParseScalaText, ReadsRatiosAndPlainNumbersAsCents) {
    const CentTable cents = centsOf("Ratios\n3\n3/2\n2\n 9 / 8 \n");
    EXPECT_NEAR(cents[1], 1200.0 * std::log2(1.5) - 100.0, 1e-3);
    EXPECT_NEAR(cents[2], 2.0 - 200.0, 1e-3); // a bare "2" is 2 cents, not an octave
    EXPECT_NEAR(cents[3], 1200.0 * std::log2(9.0 / 8.0) - 300.0, 1e-3);
    // A ratio with a denominator of 0 or below counts as 0 cents.
    EXPECT_NEAR(centsOf("Zero\n1\n3/0\n")[1], -100.0, 1e-3);
    EXPECT_NEAR(centsOf("Negative\n1\n3/-2\n")[1], -100.0, 1e-3);
    // Extreme ratios whose quotient would overflow still give their finite size in cents.
    EXPECT_NEAR(centsOf("Wide\n1\n1e300/1e-300\n")[1], 2400.0 * std::log2(1e300) - 100.0, 1.0);
}

TEST(ParseScalaText, StripsCommentsBlanksAndCarriageReturns) {
    std::string error;
    const auto scale =
        parseScalaText("\r\n  ! header\r\n\tMy scale ! with a note \r\n\r\n 2 ! count\r\n"
                       "150.0 cents\r\n!250\r\n  350\t\r\n",
                       &error);
    ASSERT_TRUE(scale.has_value()) << error;
    EXPECT_EQ(scale->description, "My scale");
    EXPECT_EQ(scale->degreeCount, 2);
    EXPECT_NEAR(scale->cents[1], 50.0f, 1e-4f);
    EXPECT_NEAR(scale->cents[2], 150.0f, 1e-4f);
    EXPECT_NEAR(scale->cents[3], 50.0f, 1e-4f); // the commented 250 is gone
}

TEST(ParseScalaText, SkipsLinesThatCannotBecomeFiniteCents) {
    // Each of these would otherwise put −∞, NaN or ∞ into the table, which a saved project
    // could not read back.
    const CentTable cents = centsOf("Bad lines\n3\n0/1\n-3/2\ninf\nnan\n-inf\n1e400\nabc\n1/inf\n"
                                    "1e39\n100\n200\n");
    for (float value : cents)
        EXPECT_TRUE(std::isfinite(value));
    EXPECT_NEAR(cents[1], 0.0f, 1e-4f);
    EXPECT_NEAR(cents[2], 0.0f, 1e-4f);
}

TEST(ParseScalaText, ReadsACountOfZeroAgainFromTheNextLine) {
    std::string error;
    const auto scale = parseScalaText("Recount\n0\n3\n100\n", &error);
    ASSERT_TRUE(scale.has_value()) << error;
    EXPECT_EQ(scale->degreeCount, 3);
    EXPECT_NEAR(scale->cents[1], 0.0f, 1e-4f);
}

TEST(ParseScalaText, ReportsEachFailure) {
    EXPECT_EQ(scalaError("Name\ntwelve\n100\n"), "invalid degree count");
    EXPECT_EQ(scalaError(""), "empty scala scale");
    EXPECT_EQ(scalaError("Only a description\n"), "empty scala scale");
    EXPECT_EQ(scalaError("No values\n5\n! none\nnot a number\n"), "empty scala scale");
    EXPECT_EQ(scalaError("Negative count\n-4\n100\n"), "empty scala scale");
    EXPECT_EQ(scalaError("Too big a count\n99999999999\n100\n"), "invalid degree count");
    EXPECT_FALSE(parseScalaText("Name\nx\n").has_value()); // no error string wanted
}

TEST(ParseScalaText, LongScalesNeedNoMemoryForUnusedValues) {
    std::string text = "Long\n100000\n";
    for (int line = 1; line <= 100000; ++line)
        text += std::to_string(line * 100) + "\n";
    expectCents(centsOf(text), CentTable{});
}

TEST(ParseKbmText, ReadsNameAndDegrees) {
    std::string error;
    const auto map = parseKbmText("! map\nWhite keys\n 7\n0\n1\nx\n2\n-3 trailing\n\n+4\n", &error);
    ASSERT_TRUE(map.has_value()) << error;
    EXPECT_EQ(map->name, "White keys");
    EXPECT_EQ(map->degrees, (std::vector<int32_t>{0, 1, 2, -3, 4}));
}

TEST(ParseKbmText, ReadsASizeOfZeroAgainFromTheNextLine) {
    const auto map = parseKbmText("Name\n0\n5\n6\n");
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ(map->degrees, (std::vector<int32_t>{6}));
}

TEST(ParseKbmText, ReportsEachFailure) {
    EXPECT_EQ(kbmError("Name\nsize\n1\n"), "invalid kbm size");
    EXPECT_EQ(kbmError(""), "empty kbm map");
    EXPECT_EQ(kbmError("Name\n3\nx\ny\n"), "empty kbm map");
    EXPECT_EQ(kbmError("Name\n3\n99999999999\n"), "empty kbm map"); // does not fit 32 bits
}

TEST_F(TuningFileFolder, ReadsFilesFromDisk) {
    std::string error;
    const auto scale = parseScalaFile(write("a.scl", "Disk scale\n1\n150\n"), &error);
    ASSERT_TRUE(scale.has_value()) << error;
    EXPECT_NEAR(scale->cents[1], 50.0f, 1e-4f);
    const auto map = parseKbmFile(write("a.kbm", "Disk map\n1\n4\n"), &error);
    ASSERT_TRUE(map.has_value()) << error;
    EXPECT_EQ(map->degrees, (std::vector<int32_t>{4}));
}

TEST_F(TuningFileFolder, ReportsFilesThatCannotBeRead) {
    std::string error;
    EXPECT_FALSE(parseScalaFile(folder_ / "missing.scl", &error).has_value());
    EXPECT_EQ(error, "cannot open file");
    error.clear();
    EXPECT_FALSE(parseKbmFile(folder_, &error).has_value()); // a folder, not a file
    EXPECT_EQ(error, "cannot open file");
    error.clear();
    const std::string oversized = "Huge\n1\n100\n" + std::string(maxTuningFileBytes, ' ');
    EXPECT_FALSE(parseScalaFile(write("huge.scl", oversized), &error).has_value());
    EXPECT_EQ(error, "cannot open file");
}

TEST_F(TuningFileFolder, AFileOfExactlyTheLimitIsRead) {
    std::string text = "Limit\n1\n100\n";
    text += std::string(maxTuningFileBytes - text.size(), '\n');
    std::string error;
    EXPECT_TRUE(parseScalaFile(write("limit.scl", text), &error).has_value()) << error;
}

} // namespace
} // namespace orvane

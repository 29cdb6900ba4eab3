#include "core/model/SampleBuffer.h"
#include "tests/support/StreamedTestMedia.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <unistd.h>

using namespace orvane;
namespace fs = std::filesystem;

namespace {

/// A scratch file of raw 16-bit samples, opened whole as one file-backed buffer.
class FileSamplesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("halvora_samples_" + std::to_string(::getpid()) + "_" + info->name());
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }

    SharedSamples openSamples(const std::vector<int16_t> &samples) {
        return orvane::testing::pcmFileSamples(path_, samples);
    }

    fs::path path_;
};

TEST_F(FileSamplesTest, FileSamplesReadAsTheHeapFloatsTheWriterScaleGives) {
    const std::vector<int16_t> pcm{0, 32767, -32767, -32768, 1234, -1};
    std::vector<float> floats;
    for (const int16_t value : pcm)
        floats.push_back(static_cast<float>(value) / 32767.0f);
    const SharedSamples fromFile = openSamples(pcm);
    const SharedSamples heap = makeSampleBuffer(floats);
    ASSERT_TRUE(fromFile);
    ASSERT_NE(fromFile->file(), nullptr);
    EXPECT_EQ(fromFile->file()->path(), path_.string());
    EXPECT_EQ(heap->file(), nullptr);
    EXPECT_EQ(fromFile->floats(), nullptr);
    EXPECT_EQ(fromFile->size(), 6);
    for (int64_t i = 0; i < fromFile->size(); ++i)
        EXPECT_EQ(fromFile->at(i), floats[static_cast<std::size_t>(i)]) << i;
    EXPECT_EQ(*fromFile, *heap);
    EXPECT_EQ(*fromFile, floats);
    EXPECT_EQ(fromFile->toVector(), floats);
    std::vector<float> middle(3);
    fromFile->copyTo(2, 3, middle.data());
    EXPECT_EQ(middle, (std::vector<float>{floats[2], floats[3], floats[4]}));
    // The heap's floats are used in place; a file's are read and converted once.
    EXPECT_EQ(FloatSamples(*heap).data(), heap->floats());
    const FloatSamples converted(*fromFile);
    EXPECT_EQ(std::vector<float>(converted.data(), converted.data() + converted.size()), floats);
    floats.back() = 0.5f;
    EXPECT_FALSE(*fromFile == floats);
}

TEST(SharedSamples, CompareByTheStorageTheyHold) {
    const auto floats = std::make_shared<const std::vector<float>>(std::vector<float>{1, 2});
    const SharedSamples first = floats;
    const SharedSamples second = floats;
    const SharedSamples sameValues = makeSampleBuffer({1, 2});
    EXPECT_EQ(first, second);
    EXPECT_EQ(first.owner(), second.owner());
    EXPECT_NE(first, sameValues);
    EXPECT_EQ(*first, *sameValues);
    EXPECT_TRUE(SharedSamples() == nullptr);
    EXPECT_FALSE(SharedSamples(std::shared_ptr<const std::vector<float>>()));
    EXPECT_TRUE(makeSampleBuffer({})->empty());
}

/// What became of the file while it was open, and what the buffer reads afterwards.
struct FileChange {
    const char *name;
    std::function<void(const fs::path &)> change;
    bool readsSilence; // at its old end; false: what was opened plays on
    const char *reason;
};

TEST_F(FileSamplesTest, AFileChangedWhileOpenIsReportedOnceByNameAndNothingCrashes) {
    const FileChange changes[] = {
        {"cutShort", [](const fs::path &path) { fs::resize_file(path, 2 * 1000); }, true,
         "shorter"},
        {"replacedInPlaceByAShorterFile",
         [](const fs::path &path) {
             std::ofstream(path, std::ios::binary | std::ios::trunc) << "short";
         },
         true, "shorter"},
        {"deleted", [](const fs::path &path) { fs::remove(path); }, false, "deleted"},
        {"renamedOver",
         [](const fs::path &path) {
             const fs::path other = path.string() + ".new";
             std::ofstream(other, std::ios::binary) << "other";
             fs::rename(other, path);
         },
         false, "replaced"},
    };
    for (const FileChange &c : changes) {
        SCOPED_TRACE(c.name);
        takeMediaFailures();
        const SharedSamples opened = openSamples(std::vector<int16_t>(100000, 1000));
        ASSERT_TRUE(opened);
        c.change(path_);
        opened->file()->checkStillThere();
        std::vector<float> tail(1000, 7.0f);
        opened->copyTo(90000, 1000, tail.data());
        const float expected = c.readsSilence ? 0.0f : 1000.0f / 32767.0f;
        EXPECT_EQ(tail.front(), expected);
        EXPECT_EQ(tail.back(), expected);
        EXPECT_EQ(opened->file()->failed(), c.readsSilence);
        opened->copyTo(0, 1000, tail.data());
        opened->file()->checkStillThere();
        const std::vector<MediaFailure> failures = takeMediaFailures();
        ASSERT_EQ(failures.size(), 1u) << "reported once";
        EXPECT_EQ(failures[0].path, path_.string());
        EXPECT_NE(failures[0].reason.find(c.reason), std::string::npos) << failures[0].reason;
    }
}

} // namespace

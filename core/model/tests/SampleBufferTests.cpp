#include "core/model/SampleBuffer.h"
#include "tests/support/MappedTestMedia.h"
#include "tests/support/ResidentMemory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

using namespace orvane;
using orvane::testing::residentBytesAround;
namespace fs = std::filesystem;

namespace {

/// A scratch file of raw 16-bit samples, mapped whole as one buffer.
class MappedSamplesTest : public ::testing::Test {
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

    SharedSamples mapSamples(const std::vector<int16_t> &samples) {
        return orvane::testing::mapPcmFile(path_, samples);
    }

    fs::path path_;
};

TEST_F(MappedSamplesTest, MappedSamplesReadAsTheHeapFloatsTheWriterScaleGives) {
    const std::vector<int16_t> pcm{0, 32767, -32767, -32768, 1234, -1};
    std::vector<float> floats;
    for (const int16_t value : pcm)
        floats.push_back(static_cast<float>(value) / 32767.0f);
    const SharedSamples mapped = mapSamples(pcm);
    const SharedSamples heap = makeSampleBuffer(floats);
    ASSERT_TRUE(mapped);
    EXPECT_TRUE(mapped->isMapped());
    EXPECT_FALSE(heap->isMapped());
    EXPECT_EQ(mapped->floats(), nullptr);
    EXPECT_EQ(heap->pcm16(), nullptr);
    EXPECT_EQ(mapped->size(), 6);
    for (int64_t i = 0; i < mapped->size(); ++i)
        EXPECT_EQ(mapped->at(i), floats[static_cast<std::size_t>(i)]) << i;
    EXPECT_EQ(*mapped, *heap);
    EXPECT_EQ(*mapped, floats);
    EXPECT_EQ(mapped->toVector(), floats);
    std::vector<float> middle(3);
    mapped->copyTo(2, 3, middle.data());
    EXPECT_EQ(middle, (std::vector<float>{floats[2], floats[3], floats[4]}));
    // The heap's floats are used in place; mapped ones are converted once.
    EXPECT_EQ(FloatSamples(*heap).data(), heap->floats());
    const FloatSamples converted(*mapped);
    EXPECT_EQ(std::vector<float>(converted.data(), converted.data() + converted.size()), floats);
    floats.back() = 0.5f;
    EXPECT_FALSE(*mapped == floats);
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

TEST_F(MappedSamplesTest, AFileCutShortUnderTheMappingReadsSilenceInsteadOfCrashing) {
    const auto page = static_cast<int64_t>(::sysconf(_SC_PAGESIZE)) / 2;
    const SharedSamples mapped = mapSamples(std::vector<int16_t>(3 * page, 1000));
    ASSERT_TRUE(mapped);
    const uint64_t faultsBefore = MappedFile::faultedPages();
    fs::resize_file(path_, static_cast<uintmax_t>(page) * 2);
    EXPECT_EQ(mapped->at(3 * page - 1), 0.0f);
    EXPECT_EQ(mapped->at(2 * page), 0.0f);
    EXPECT_EQ(mapped->at(page - 1), 1000.0f / 32767.0f);
    EXPECT_GE(MappedFile::faultedPages(), faultsBefore + 1);
}

TEST_F(MappedSamplesTest, ReleasedPagesLeaveTheResidentSetAndReadBackUnchanged) {
    const int64_t count = 2 * 1024 * 1024; // 4 MiB
    std::vector<int16_t> pcm(static_cast<std::size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        pcm[static_cast<std::size_t>(i)] = static_cast<int16_t>(i % 30000);
    const SharedSamples mapped = mapSamples(pcm);
    ASSERT_TRUE(mapped);
    const void *start = mapped->pcm16();
    mapped->prefetch(0, count);
    EXPECT_GE(residentBytesAround(start), 2 * count * 9 / 10);
    mapped->release(0, count);
    EXPECT_LT(residentBytesAround(start), 2 * count / 10);
    EXPECT_EQ(mapped->at(count - 1), static_cast<float>((count - 1) % 30000) / 32767.0f);
    EXPECT_EQ(mapped->at(12345), 12345.0f / 32767.0f);
}

} // namespace

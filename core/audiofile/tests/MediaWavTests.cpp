#include "core/audiofile/AudioFile.h"
#include "core/audiofile/tests/TestTone.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace orvane {
namespace {

namespace fs = std::filesystem;

/// Stereo noise at `level` (a -110 dBFS recording is 3.2e-6).
std::vector<float> noise(int frames, double level, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-level, level);
    std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
    for (float &sample : samples)
        sample = static_cast<float>(uniform(random));
    return samples;
}

std::string soxi(const std::string &option, const std::string &path) {
    std::FILE *pipe = ::popen(("soxi " + option + " '" + path + "' 2>/dev/null").c_str(), "r");
    if (!pipe) return {};
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    std::string text = read ? line : "";
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

std::string bytesOf(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MediaWavTest : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = testing::makeScratchFolder("media"); }
    void TearDown() override { fs::remove_all(folder_); }
    std::string path(const std::string &name) const { return (fs::path(folder_) / name).string(); }
    std::string folder_;
};

TEST_F(MediaWavTest, EveryDepthStreamsAndDecodesToTheSameSamples) {
    struct Case {
        MediaEncoding encoding;
        const char *bits;
        double tolerance; // of the samples against what was written
    };
    const std::array<Case, 3> cases{{
        {MediaEncoding::Float32, "32", 0.0},
        {MediaEncoding::Pcm24, "24", 0.5 / 8388608.0},
        {MediaEncoding::Pcm16, "16", 0.5 / 32767.0},
    }};
    const std::vector<float> written = noise(3000, 0.9, 7);
    for (const Case &row : cases) {
        SCOPED_TRACE(row.bits);
        const std::string file = path(std::string("m") + row.bits + ".wav");
        ASSERT_TRUE(
            exportMediaWav(file, SampleBuffer(std::make_shared<const std::vector<float>>(written)),
                           2, 48000.0, row.encoding));
        EXPECT_EQ(soxi("-b", file), row.bits) << "an independent reader sees the depth";
        EXPECT_EQ(soxi("-s", file), "3000");

        StreamedMedia streamed;
        std::string error;
        ASSERT_TRUE(openStreamedMedia(file, 48000.0, streamed, &error)) << error;
        EXPECT_EQ(streamed.frames, 3000);
        const std::vector<float> played = streamed.samples->toVector();
        DecodedAudio decoded;
        ASSERT_TRUE(readMediaFile(file, 48000.0, decoded, &error)) << error;
        EXPECT_EQ(played, *decoded.samples) << "streamed and decoded agree bit for bit";
        ASSERT_EQ(played.size(), written.size());
        for (std::size_t index = 0; index < written.size(); ++index)
            ASSERT_NEAR(played[index], written[index], row.tolerance) << index;

        // Audio read from the file is written back to the same bytes.
        const std::string again = path(std::string("again") + row.bits + ".wav");
        ASSERT_TRUE(exportMediaWav(again, *streamed.samples, 2, 48000.0, row.encoding));
        EXPECT_EQ(bytesOf(again), bytesOf(file));
    }
}

TEST_F(MediaWavTest, AVeryQuietRecordingSurvivesInFloatBitForBit) {
    const std::vector<float> quiet = noise(48000, 3.16e-6, 3); // -110 dBFS
    const std::string file = path("quiet.wav");
    ASSERT_TRUE(exportMediaWav(file,
                               SampleBuffer(std::make_shared<const std::vector<float>>(quiet)), 2,
                               48000.0, MediaEncoding::Float32));
    StreamedMedia streamed;
    ASSERT_TRUE(openStreamedMedia(file, 48000.0, streamed));
    EXPECT_EQ(streamed.samples->toVector(), quiet);
    // In 16 bits the same recording is gone.
    ASSERT_TRUE(exportMediaWav(path("q16.wav"),
                               SampleBuffer(std::make_shared<const std::vector<float>>(quiet)), 2,
                               48000.0, MediaEncoding::Pcm16));
    ASSERT_TRUE(openStreamedMedia(path("q16.wav"), 48000.0, streamed));
    const std::vector<float> rounded = streamed.samples->toVector();
    EXPECT_TRUE(std::all_of(rounded.begin(), rounded.end(), [](float v) { return v == 0.0f; }));
}

TEST_F(MediaWavTest, ReadsAreExactAcrossChunkEdgesAndRefuseNothingTheyWrote) {
    // Longer than one read of the streaming reader, so pieces meet inside the file.
    const std::vector<float> recording = noise(200000, 0.5, 11);
    const std::string file = path("long.wav");
    ASSERT_TRUE(exportMediaWav(file,
                               SampleBuffer(std::make_shared<const std::vector<float>>(recording)),
                               2, 44100.0, MediaEncoding::Pcm24));
    StreamedMedia streamed;
    ASSERT_TRUE(openStreamedMedia(file, 44100.0, streamed));
    std::vector<float> middle(5001);
    streamed.samples->copyTo(131070, 5001, middle.data());
    for (std::size_t index = 0; index < middle.size(); ++index)
        ASSERT_NEAR(middle[index], recording[131070 + index], 0.5 / 8388608.0) << index;
    std::string error;
    EXPECT_FALSE(openStreamedMedia(file, 48000.0, streamed, &error)) << "another rate";
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace orvane

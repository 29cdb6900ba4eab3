#include "core/audiofile/AudioFile.h"
#include "core/audiofile/tests/TestTone.h"
#include "tests/support/TestWavFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr int sourceRate = 44100;
constexpr int sourceFrames = 44100;
constexpr double targetRate = 48000.0;
constexpr double toneHz = 1000.0;
constexpr int64_t expectedFrames = 48000; // 48000 × 44100 / 44100

struct EncodedCase {
    const char *name;
    const char *file;
    int format;
    int channels;
    int64_t frameTolerance;
};

class AudioDecoderTest : public ::testing::TestWithParam<EncodedCase> {
  protected:
    void SetUp() override { folder_ = testing::makeScratchFolder("decode"); }
    void TearDown() override { fs::remove_all(folder_); }
    std::string path(const std::string &name) const { return (fs::path(folder_) / name).string(); }

    void expectToneAtTargetRate(const DecodedAudio &decoded, int64_t frameTolerance) {
        EXPECT_EQ(decoded.channels, 2);
        EXPECT_EQ(decoded.sampleRate, targetRate);
        EXPECT_NEAR(static_cast<double>(decoded.frames), static_cast<double>(expectedFrames),
                    static_cast<double>(frameTolerance));
        ASSERT_NE(decoded.samples, nullptr);
        EXPECT_EQ(decoded.samples->size(), 2 * static_cast<std::size_t>(decoded.frames));
        EXPECT_NEAR(testing::measureFrequency(*decoded.samples, 0, targetRate), toneHz, 5.0);
        EXPECT_NEAR(testing::measureFrequency(*decoded.samples, 1, targetRate), toneHz, 5.0);
    }

    std::string folder_;
};

TEST_P(AudioDecoderTest, DecodesToStereoAtTheTargetRateKeepingTheTone) {
    const EncodedCase &encoded = GetParam();
    const std::string file = path(encoded.file);
    const auto tone = testing::makeTone(toneHz, sourceRate, sourceFrames, encoded.channels);
    if (!testing::writeWithSndfile(file, tone, encoded.channels, sourceRate, encoded.format))
        GTEST_SKIP() << "libsndfile cannot write " << encoded.name << " here";
    DecodedAudio decoded;
    std::string error;
    ASSERT_TRUE(decodeAudioFile(file, targetRate, decoded, &error)) << error;
    expectToneAtTargetRate(decoded, encoded.frameTolerance);
}

// Clip media takes the same road as an import: every encoding, converted to the project rate.
TEST_P(AudioDecoderTest, ReadsAsClipMediaAtTheProjectRate) {
    const EncodedCase &encoded = GetParam();
    const std::string file = path(encoded.file);
    const auto tone = testing::makeTone(toneHz, sourceRate, sourceFrames, encoded.channels);
    if (!testing::writeWithSndfile(file, tone, encoded.channels, sourceRate, encoded.format))
        GTEST_SKIP() << "libsndfile cannot write " << encoded.name << " here";
    DecodedAudio read;
    std::string error;
    ASSERT_TRUE(readMediaFile(file, targetRate, read, &error)) << error;
    expectToneAtTargetRate(read, encoded.frameTolerance);
}

// MP3 keeps its encoder delay and padding (libsndfile does not trim them): up to about two
// codec frames of 1152 samples.
INSTANTIATE_TEST_SUITE_P(
    Formats, AudioDecoderTest,
    ::testing::Values(
        EncodedCase{"Wav16", "a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 4},
        EncodedCase{"Wav24", "b.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 4},
        EncodedCase{"Wav8", "b8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2, 4},
        EncodedCase{"Wav32", "b32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, 4},
        EncodedCase{"WavDouble", "c64.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 2, 4},
        EncodedCase{"WavExtensible16", "x16.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 6, 4},
        EncodedCase{"WavExtensible24", "x24.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2, 4},
        EncodedCase{"WavFloat", "c.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 4},
        EncodedCase{"WavMono", "d.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 4},
        EncodedCase{"WavFourChannels", "e.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4, 4},
        EncodedCase{"Aiff", "f.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 4},
        EncodedCase{"Caf", "g.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 2, 4},
        EncodedCase{"Flac", "h.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 4},
        EncodedCase{"OggVorbis", "i.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 4},
        EncodedCase{"Mp3", "j.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 2600}),
    [](const ::testing::TestParamInfo<EncodedCase> &info) { return info.param.name; });

TEST_F(AudioDecoderTest, DecodesM4aThroughTheFallbackDecoder) {
    const std::string file = path("k.m4a");
    const auto tone = testing::makeTone(toneHz, sourceRate, sourceFrames, 2);
    if (!testing::writeM4a(file, tone, sourceRate)) GTEST_SKIP() << "FFmpeg cannot write M4A here";
    DecodedAudio decoded;
    std::string error;
    ASSERT_TRUE(decodeAudioFile(file, targetRate, decoded, &error)) << error;
    // AAC adds its priming samples (1024) and pads the last frame.
    expectToneAtTargetRate(decoded, 2300);
}

TEST_F(AudioDecoderTest, MonoIsDuplicatedAndExtraChannelsAreDropped) {
    std::vector<float> quad(4 * 1000);
    for (std::size_t frame = 0; frame < 1000; ++frame)
        for (int channel = 0; channel < 4; ++channel)
            quad[4 * frame + channel] = 0.125f * static_cast<float>(channel + 1);
    ASSERT_TRUE(
        testing::writeWithSndfile(path("q.wav"), quad, 4, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    DecodedAudio decoded;
    ASSERT_TRUE(decodeAudioFile(path("q.wav"), 48000, decoded));
    ASSERT_EQ(decoded.frames, 1000);
    EXPECT_EQ((*decoded.samples)[500], 0.125f);
    EXPECT_EQ((*decoded.samples)[501], 0.25f);

    const std::vector<float> mono{0.5f, -0.25f};
    ASSERT_TRUE(
        testing::writeWithSndfile(path("m.wav"), mono, 1, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    ASSERT_TRUE(decodeAudioFile(path("m.wav"), 48000, decoded));
    EXPECT_EQ(*decoded.samples, (std::vector<float>{0.5f, 0.5f, -0.25f, -0.25f}));
}

TEST_F(AudioDecoderTest, TwentyFourBitWavFailsToImportButDecodes) {
    const auto tone = testing::makeTone(toneHz, 48000, 4800, 2);
    ASSERT_TRUE(testing::writeWithSndfile(path("deep.wav"), tone, 2, 48000,
                                          SF_FORMAT_WAV | SF_FORMAT_PCM_24));
    ImportedWav imported;
    EXPECT_FALSE(importWav(path("deep.wav"), imported));
    DecodedAudio decoded;
    ASSERT_TRUE(decodeAudioFile(path("deep.wav"), 48000, decoded));
    EXPECT_EQ(decoded.frames, 4800);
    EXPECT_NEAR((*decoded.samples)[200], tone[200], 1e-6);
}

TEST_F(AudioDecoderTest, ReportsTheFailuresWithTheirMessages) {
    DecodedAudio decoded;
    std::string error;
    EXPECT_FALSE(decodeAudioFile("", 48000, decoded, &error));
    EXPECT_EQ(error, "bad path");
    EXPECT_FALSE(decodeAudioFile(path("absent.wav"), 48000, decoded, &error));
    EXPECT_EQ(error, "sf_open failed");
    std::ofstream(path("notes.txt")) << "this is not audio, only text\n";
    EXPECT_FALSE(decodeAudioFile(path("notes.txt"), 48000, decoded, &error));
    EXPECT_EQ(error, "sf_open failed");
    EXPECT_FALSE(decodeAudioFile(folder_, 48000, decoded, &error));
    EXPECT_EQ(error, "sf_open failed");
    const auto tone = testing::makeTone(toneHz, 48000, 480, 2);
    ASSERT_TRUE(
        testing::writeWithSndfile(path("t.wav"), tone, 2, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    EXPECT_FALSE(decodeAudioFile(path("t.wav"), 0.0, decoded, &error));
    EXPECT_EQ(error, "set client format failed");
    EXPECT_EQ(decoded.samples, nullptr);
}

TEST_F(AudioDecoderTest, MediaThatIsNoRegularFileOrNoAudioIsRefusedWithItsReason) {
    ASSERT_EQ(::mkfifo(path("pipe.wav").c_str(), 0600), 0);
    std::ofstream(path("notes.wav")) << "this is not audio, only text\n";
    const std::vector<std::pair<std::string, std::string>> cases{
        {path("pipe.wav"), "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {folder_, "not a regular file"},
        {path("absent.wav"), "No such file or directory"},
        {path("notes.wav"), "not an audio file that can be read"},
    };
    for (const auto &[file, reason] : cases) {
        DecodedAudio read;
        std::string error;
        EXPECT_FALSE(readMediaFile(file, targetRate, read, &error)) << file;
        EXPECT_EQ(error, reason) << file;
        EXPECT_EQ(read.samples, nullptr);
    }
    DecodedAudio decoded;
    EXPECT_FALSE(decodeAudioFile(path("pipe.wav"), targetRate, decoded)) << "never blocks";
}

TEST_F(AudioDecoderTest, SixteenBitMediaIsReadOnTheExportGrid) {
    const auto tone = testing::makeTone(toneHz, 48000, 480, 2);
    ASSERT_TRUE(exportWav(path("grid.wav"), tone.data(), 480, 2, 48000));
    DecodedAudio read;
    ASSERT_TRUE(readMediaFile(path("grid.wav"), 48000, read));
    ImportedWav imported;
    ASSERT_TRUE(importWav(path("grid.wav"), imported));
    EXPECT_EQ(*read.samples, *imported.samples);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A legal file can need more memory than there is; that is an error message, not an abort.
TEST_F(AudioDecoderTest, RunningOutOfMemoryWhileReadingMediaIsAnError) {
    const std::string file = path("huge.wav");
    const uint32_t dataBytes = 1u << 30; // mono 16-bit: 2 GiB of stereo floats
    testing::RiffBuilder()
        .format(1, 1, 48000, 16)
        .chunk("data", dataBytes, {})
        .sealed(dataBytes)
        .writeTo(file);
    fs::resize_file(file, 44 + (uint64_t{1} << 30)); // sparse: no disk used
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{uint64_t{1} << 30, uint64_t{1} << 30};
        ::setrlimit(RLIMIT_AS, &limit);
        DecodedAudio read;
        std::string error;
        const bool ok = readMediaFile(file, 48000, read, &error);
        ::_exit(!ok && error == "not enough memory to read it" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the reader aborted";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

TEST_F(AudioDecoderTest, AFileWithASingleSampleDecodesToNothingUseful) {
    const std::vector<float> one{0.5f};
    ASSERT_TRUE(
        testing::writeWithSndfile(path("one.wav"), one, 1, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    DecodedAudio decoded;
    std::string error = "untouched";
    // One mono frame becomes two stereo samples, which is enough.
    EXPECT_TRUE(decodeAudioFile(path("one.wav"), 48000, decoded, &error));
    const std::vector<float> none;
    SF_INFO info{};
    info.channels = 1;
    info.samplerate = 48000;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *empty = sf_open(path("none.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(empty, nullptr);
    sf_close(empty);
    EXPECT_FALSE(decodeAudioFile(path("none.wav"), 48000, decoded, &error));
    EXPECT_EQ(error, "untouched");
}

} // namespace
} // namespace orvane

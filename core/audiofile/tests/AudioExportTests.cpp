#include "core/audiofile/AudioExport.h"
#include "core/audiofile/Loudness.h"
#include "core/audiofile/tests/TestTone.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr double renderRate = 48000.0;

struct ReadBack {
    SF_INFO info{};
    std::vector<double> samples;
};

ReadBack readWithSndfile(const std::string &path) {
    ReadBack result;
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &result.info);
    if (!file) return result;
    result.samples.resize(static_cast<std::size_t>(result.info.frames * result.info.channels));
    result.samples.resize(static_cast<std::size_t>(
        sf_readf_double(file, result.samples.data(), result.info.frames) * result.info.channels));
    sf_close(file);
    return result;
}

/// What the independent reader says: `soxi -OPTION file`.
std::string soxi(const std::string &option, const std::string &path) {
    const std::string command = "soxi " + option + " '" + path + "' 2>/dev/null";
    std::FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    std::string text = read ? line : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

/// Amplitude of the `frequency` component in channel 0 of interleaved `samples`.
double amplitudeAt(const std::vector<double> &samples, int channels, double frequency,
                   double sampleRate) {
    double inPhase = 0.0, quadrature = 0.0;
    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double angle =
            2.0 * std::numbers::pi * frequency * static_cast<double>(frame) / sampleRate;
        inPhase += samples[frame * static_cast<std::size_t>(channels)] * std::sin(angle);
        quadrature += samples[frame * static_cast<std::size_t>(channels)] * std::cos(angle);
    }
    return 2.0 * std::hypot(inPhase, quadrature) / static_cast<double>(frames);
}

std::vector<float> sine(double amplitude, double frequency, int frames) {
    std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
    for (int frame = 0; frame < frames; ++frame) {
        const auto value = static_cast<float>(
            amplitude * std::sin(2.0 * std::numbers::pi * frequency * frame / renderRate));
        samples[2 * static_cast<std::size_t>(frame)] = value;
        samples[2 * static_cast<std::size_t>(frame) + 1] = value;
    }
    return samples;
}

class AudioExportTest : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = testing::makeScratchFolder("export"); }
    void TearDown() override { fs::remove_all(folder_); }

    std::string path(const std::string &name) const { return (fs::path(folder_) / name).string(); }

    /// Writes `samples` in blocks of 512 frames, as a render hands them over.
    bool write(const std::string &file, const ExportFormat &format,
               const std::vector<float> &samples, int64_t origin = 0, ExportTap *tap = nullptr) {
        const int descriptor = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (descriptor < 0) return false;
        AudioExportWriter writer;
        std::string error;
        bool written = writer.open(descriptor, format, 2, renderRate, origin, error);
        EXPECT_TRUE(written) << error;
        writer.setTap(tap);
        const auto frames = static_cast<int64_t>(samples.size() / 2);
        for (int64_t at = 0; written && at < frames; at += 512)
            written = writer.append(samples.data() + at * 2, std::min<int64_t>(512, frames - at));
        written = written && writer.finish();
        EXPECT_TRUE(written) << writer.error();
        ::close(descriptor);
        return written;
    }

    std::string folder_;
};

struct FormatCase {
    const char *name;
    ExportContainer container;
    int32_t bits;
    double rate;
    int subtype;
    const char *soxBits; // as soxi -b reports it
    int64_t lengthSlack; // frames a lossy codec may add or drop at the ends
};

// Every encoder's writes are checked, those its library lets pass without a word included
// (MP3): onto a device where every write fails, each export fails with the reason.
TEST_F(AudioExportTest, EveryFormatReportsAWriteThatFailed) {
    const std::vector<float> tone = testing::makeTone(1000.0, renderRate, 48000, 2);
    for (const ExportContainer container : {ExportContainer::Wav, ExportContainer::Flac,
                                            ExportContainer::Ogg, ExportContainer::Mp3}) {
        SCOPED_TRACE(std::string(exportContainerName(container)));
        const int full = ::open("/dev/full", O_RDWR | O_CLOEXEC);
        ASSERT_GE(full, 0);
        ExportFormat format;
        format.container = container;
        format.bits = defaultExportBits(container);
        AudioExportWriter writer;
        std::string error;
        bool written = writer.open(full, format, 2, renderRate, 0, error);
        for (int64_t at = 0; written && at < 48000; at += 512)
            written = writer.append(tone.data() + at * 2, 512);
        written = written && writer.finish();
        ::close(full);
        EXPECT_FALSE(written);
        EXPECT_NE((error + writer.error()).find(std::strerror(ENOSPC)), std::string::npos)
            << error << writer.error();
    }
}

TEST_F(AudioExportTest, EveryFormatReadsBackWithItsRateDepthAndLength) {
    const std::array<FormatCase, 9> cases{{
        {"wav16.wav", ExportContainer::Wav, 16, 44100, SF_FORMAT_PCM_16, "16", 0},
        {"wav24.wav", ExportContainer::Wav, 24, 96000, SF_FORMAT_PCM_24, "24", 0},
        {"wav32.wav", ExportContainer::Wav, 32, 48000, SF_FORMAT_FLOAT, "32", 0},
        {"wav24.wav", ExportContainer::Wav, 24, 88200, SF_FORMAT_PCM_24, "24", 0},
        {"flac16.flac", ExportContainer::Flac, 16, 48000, SF_FORMAT_PCM_16, "16", 0},
        {"flac24.flac", ExportContainer::Flac, 24, 88200, SF_FORMAT_PCM_24, "24", 0},
        {"vorbis.ogg", ExportContainer::Ogg, 32, 96000, SF_FORMAT_VORBIS, "0", 0},
        {"mp3-44.mp3", ExportContainer::Mp3, 32, 44100, SF_FORMAT_MPEG_LAYER_III, "0", 2304},
        {"mp3-48.mp3", ExportContainer::Mp3, 32, 48000, SF_FORMAT_MPEG_LAYER_III, "0", 2304},
    }};
    const std::vector<float> tone = testing::makeTone(1000.0, renderRate, 48000, 2);
    for (const FormatCase &row : cases) {
        SCOPED_TRACE(row.name);
        const ExportFormat format{row.container, row.bits, row.rate, true, 0.7};
        ASSERT_TRUE(write(path(row.name), format, tone));
        const auto expectedFrames = static_cast<int64_t>(row.rate);
        const ReadBack back = readWithSndfile(path(row.name));
        EXPECT_EQ(back.info.samplerate, static_cast<int>(row.rate));
        EXPECT_EQ(back.info.channels, 2);
        EXPECT_EQ(back.info.format & SF_FORMAT_SUBMASK, row.subtype);
        EXPECT_NEAR(static_cast<double>(back.info.frames), static_cast<double>(expectedFrames),
                    static_cast<double>(row.lengthSlack));
        std::vector<float> asFloat(back.samples.begin(), back.samples.end());
        EXPECT_NEAR(testing::measureFrequency(asFloat, 0, row.rate), 1000.0, 2.0);

        EXPECT_EQ(soxi("-r", path(row.name)), std::to_string(static_cast<int>(row.rate)));
        EXPECT_EQ(soxi("-c", path(row.name)), "2");
        if (row.lengthSlack == 0) {
            EXPECT_EQ(soxi("-b", path(row.name)), row.soxBits);
            EXPECT_EQ(soxi("-s", path(row.name)), std::to_string(expectedFrames));
        } else {
            EXPECT_NEAR(std::stod("0" + soxi("-s", path(row.name))),
                        static_cast<double>(expectedFrames), static_cast<double>(row.lengthSlack));
        }
    }
}

TEST_F(AudioExportTest, AQuietSineSurvivesOnlyWhereTheDepthOrTheDitherKeepsIt) {
    constexpr double quiet = 1e-5; // -100 dBFS
    constexpr double frequency = 997.0;
    const std::vector<float> tone = sine(quiet, frequency, 96000);
    struct Case {
        const char *name;
        ExportContainer container;
        int32_t bits;
        bool dither;
        bool keeps;
    };
    const std::array<Case, 5> cases{{
        {"f32.wav", ExportContainer::Wav, 32, true, true},
        {"i24.wav", ExportContainer::Wav, 24, true, true},
        {"i24.flac", ExportContainer::Flac, 24, false, true},
        {"i16d.wav", ExportContainer::Wav, 16, true, true},
        {"i16.wav", ExportContainer::Wav, 16, false, false},
    }};
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(write(path(row.name), {row.container, row.bits, 0.0, row.dither, 0.7}, tone));
        const ReadBack back = readWithSndfile(path(row.name));
        const double line = amplitudeAt(back.samples, 2, frequency, renderRate);
        if (row.keeps) {
            EXPECT_NEAR(line, quiet, row.bits == 16 ? quiet * 0.2 : quiet * 0.01);
            // The line stands above the noise a few hundred hertz away.
            EXPECT_GT(line, 8.0 * amplitudeAt(back.samples, 2, frequency + 301.0, renderRate));
        } else {
            EXPECT_EQ(line, 0.0);
            EXPECT_TRUE(std::all_of(back.samples.begin(), back.samples.end(),
                                    [](double sample) { return sample == 0.0; }));
        }
    }
}

TEST_F(AudioExportTest, DitherDependsOnThePlaceSoAPartMatchesTheWhole) {
    const std::vector<float> tone = sine(0.3, 440.0, 20000);
    const ExportFormat format{ExportContainer::Wav, 16, 0.0, true, 0.7};
    ASSERT_TRUE(write(path("whole.wav"), format, tone, 1000));
    const std::vector<float> part(tone.begin() + 2 * 7000, tone.begin() + 2 * 9000);
    ASSERT_TRUE(write(path("part.wav"), format, part, 8000));
    const ReadBack whole = readWithSndfile(path("whole.wav"));
    const ReadBack alone = readWithSndfile(path("part.wav"));
    ASSERT_EQ(alone.samples.size(), 4000u);
    EXPECT_TRUE(
        std::equal(alone.samples.begin(), alone.samples.end(), whole.samples.begin() + 2 * 7000));
    // Undithered, the same samples are rounded and differ from the dithered ones.
    ASSERT_TRUE(write(path("plain.wav"), {ExportContainer::Wav, 16, 0.0, false, 0.7}, tone, 1000));
    EXPECT_NE(readWithSndfile(path("plain.wav")).samples, whole.samples);
}

TEST(QuantiseSample, RoundsSaturatesAndDithersWithinOneStep) {
    EXPECT_EQ(quantiseSample(1.0f, 16, false, 0, 0), 32767);
    EXPECT_EQ(quantiseSample(-2.0f, 16, false, 0, 0), -32767);
    EXPECT_EQ(quantiseSample(2.6f / 32767.0f, 16, false, 0, 0), 3);
    EXPECT_EQ(quantiseSample(-2.4f / 32767.0f, 16, false, 0, 0), -2);
    EXPECT_EQ(quantiseSample(1.0f, 24, false, 0, 0), 8388607);
    EXPECT_EQ(quantiseSample(std::nanf(""), 24, true, 3, 1), 0);
    EXPECT_EQ(quantiseSample(0.0f, 16, true, 5, 0), 0) << "silence is not dithered";
    double sum = 0.0;
    for (int64_t frame = 0; frame < 10000; ++frame) {
        const int32_t value = quantiseSample(1e-9f, 16, true, frame, 0);
        ASSERT_GE(value, -1);
        ASSERT_LE(value, 1);
        sum += value;
    }
    EXPECT_NEAR(sum / 10000.0, 0.0, 0.05);
}

TEST_F(AudioExportTest, BlocksRoundExactlyAsOneSampleDoes) {
    // Halves, the floats either side of them, full scale, and what is not a number: the
    // writer's block loop must round each as `quantiseSample` does, dithered or not, at the
    // sample's own place on the timeline.
    std::vector<float> edges{0.0f,
                             -0.0f,
                             1.0f,
                             -1.0f,
                             2.0f,
                             -7.5f,
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::nanf("")};
    for (const int32_t bits : {16, 24}) {
        const auto scale = static_cast<float>((int64_t{1} << (bits - 1)) - 1);
        for (const float steps : {0.5f, 1.5f, 2.5f, 1000.5f, 0.49999997f, 3.0f})
            for (const float sign : {1.0f, -1.0f}) {
                const float sample = sign * steps / scale;
                edges.insert(edges.end(), {sample, std::nextafter(sample, 0.0f),
                                           std::nextafter(sample, 2.0f * sample)});
            }
    }
    const std::vector<float> tone = sine(0.3, 997.0, 2000);
    edges.insert(edges.end(), tone.begin(), tone.end());
    if (edges.size() % 2) edges.push_back(0.25f);
    constexpr int64_t origin = 777;
    for (const int32_t bits : {16, 24})
        for (const bool dither : {false, true}) {
            const std::string file =
                path("edges" + std::to_string(bits) + (dither ? "d" : "") + ".wav");
            ASSERT_TRUE(write(file, ExportFormat{ExportContainer::Wav, bits, 0.0, dither, 0.7},
                              edges, origin));
            SF_INFO info{};
            SNDFILE *sound = sf_open(file.c_str(), SFM_READ, &info);
            ASSERT_NE(sound, nullptr);
            std::vector<int32_t> read(edges.size());
            ASSERT_EQ(sf_readf_int(sound, read.data(), info.frames), info.frames);
            sf_close(sound);
            int mismatches = 0;
            for (std::size_t index = 0; index < edges.size(); ++index) {
                const int64_t frame = origin + static_cast<int64_t>(index / 2);
                const int32_t expected = quantiseSample(edges[index], bits, dither, frame,
                                                        static_cast<int32_t>(index % 2));
                if (read[index] >> (32 - bits) != expected && ++mismatches <= 5)
                    ADD_FAILURE() << bits << " bits, dither " << dither << ", sample "
                                  << edges[index] << " at " << index;
            }
            EXPECT_EQ(mismatches, 0);
        }
}

TEST(ExportFormatCheck, RefusesWhatCannotBeWritten) {
    struct Case {
        ExportFormat format;
        bool accepted;
    };
    const std::array<Case, 8> cases{{
        {{ExportContainer::Wav, 24, 96000, true, 0.7}, true},
        {{ExportContainer::Wav, 8, 0, true, 0.7}, false},
        {{ExportContainer::Flac, 32, 0, true, 0.7}, false},
        {{ExportContainer::Flac, 24, 44100, true, 0.7}, true},
        {{ExportContainer::Mp3, 32, 96000, true, 0.7}, false},
        {{ExportContainer::Mp3, 32, 0, true, 1.5}, false},
        {{ExportContainer::Ogg, 32, 22050, true, 0.7}, false},
        {{ExportContainer::Ogg, 32, 88200, true, 0.2}, true},
    }};
    for (const Case &row : cases) {
        std::string error;
        EXPECT_EQ(checkExportFormat(row.format, renderRate, error), row.accepted) << error;
        EXPECT_EQ(error.empty(), row.accepted);
    }
    ExportContainer container{};
    EXPECT_TRUE(parseExportContainer("flac", container));
    EXPECT_EQ(container, ExportContainer::Flac);
    EXPECT_FALSE(parseExportContainer("aiff", container));
}

TEST(Normalization, ParsesTargetsAndCeilings) {
    struct Case {
        const char *text;
        bool accepted;
        NormalizeMode mode;
        double target;
        double ceiling;
    };
    const std::array<Case, 9> cases{{
        {"off", true, NormalizeMode::Off, 0.0, -1.0},
        {"peak:-1", true, NormalizeMode::Peak, -1.0, -1.0},
        {"truepeak:-0.5", true, NormalizeMode::TruePeak, -0.5, -1.0},
        {"lufs:-14", true, NormalizeMode::Loudness, -14.0, -1.0},
        {"lufs:-23:-2", true, NormalizeMode::Loudness, -23.0, -2.0},
        {"lufs:", false, NormalizeMode::Off, 0.0, 0.0},
        {"peak:3", false, NormalizeMode::Off, 0.0, 0.0},
        {"lufs:-14:x", false, NormalizeMode::Off, 0.0, 0.0},
        {"loud", false, NormalizeMode::Off, 0.0, 0.0},
    }};
    for (const Case &row : cases) {
        SCOPED_TRACE(row.text);
        Normalization parsed;
        std::string error;
        ASSERT_EQ(parseNormalization(row.text, parsed, error), row.accepted);
        if (!row.accepted) {
            EXPECT_NE(error.find("--normalize"), std::string::npos);
            continue;
        }
        EXPECT_EQ(parsed.mode, row.mode);
        EXPECT_DOUBLE_EQ(parsed.target, row.target);
        EXPECT_DOUBLE_EQ(parsed.ceilingDb, row.ceiling);
    }
}

TEST(Normalization, LoudnessGainStopsAtTheCeiling) {
    const LoudnessFigures measured{-20.0, -6.0, -6.5};
    const auto decibels = [](double gain) { return 20.0 * std::log10(gain); };
    EXPECT_NEAR(decibels(normalizationGain(measured, {NormalizeMode::Loudness, -23.0, -1.0})), -3.0,
                1e-9);
    EXPECT_NEAR(decibels(normalizationGain(measured, {NormalizeMode::Loudness, -14.0, -1.0})), 5.0,
                1e-9);
    EXPECT_NEAR(decibels(normalizationGain(measured, {NormalizeMode::Peak, -1.0, -1.0})), 5.5,
                1e-9);
    EXPECT_NEAR(decibels(normalizationGain(measured, {NormalizeMode::TruePeak, -1.0, -1.0})), 5.0,
                1e-9);
    const LoudnessFigures silence{-INFINITY, -INFINITY, -INFINITY};
    EXPECT_EQ(normalizationGain(silence, {NormalizeMode::Loudness, -14.0, -1.0}), 1.0);
}

// Near-silence has no integrated loudness and a tiny peak: only the limit stops the gain from
// raising a click or the dither of an empty mix to full scale.
TEST(Normalization, NeverRaisesByMoreThanTheLargestGain) {
    const auto decibels = [](double gain) { return 20.0 * std::log10(gain); };
    struct Case {
        LoudnessFigures measured;
        Normalization normalization;
        double wantedDb;
    };
    const Case cases[] = {
        {{-INFINITY, -78.0, -79.0}, {NormalizeMode::Loudness, -14.0, -1.0}, 77.0},
        {{-INFINITY, -78.0, -79.0}, {NormalizeMode::Peak, -1.0, -1.0}, 78.0},
        {{-50.0, -30.0, -31.0}, {NormalizeMode::Loudness, -14.0, -1.0}, 29.0},
        {{-40.0, -21.5, -22.0}, {NormalizeMode::TruePeak, -1.0, -1.0}, 20.5},
        {{-33.0, -20.0, -21.0}, {NormalizeMode::Loudness, -14.0, -1.0}, 19.0},
    };
    for (const Case &row : cases) {
        EXPECT_NEAR(wantedNormalizationGainDb(row.measured, row.normalization), row.wantedDb, 1e-9);
        EXPECT_NEAR(decibels(normalizationGain(row.measured, row.normalization)),
                    std::min(row.wantedDb, largestNormalizationGainDb), 1e-9);
    }
}

// What the written file measures tells whether the ceiling, not the target, set the level.
TEST(Normalization, SaysWhenTheTruePeakCeilingStoppedItShortOfTheTarget) {
    const Normalization loudness{NormalizeMode::Loudness, -14.0, -1.0};
    struct Case {
        LoudnessFigures written;
        Normalization normalization;
        bool stopped;
    };
    const Case cases[] = {
        {{-19.1, -1.0, -1.2}, loudness, true},
        {{-14.0, -3.0, -3.5}, loudness, false}, // reached
        {{-14.3, -1.0, -1.1}, loudness, false}, // within half a unit
        {{-19.1, -6.0, -6.5}, loudness, false}, // short, but not for the ceiling
        {{-INFINITY, -70.0, -71.0}, loudness, false},
        {{-19.1, -1.0, -1.2}, {NormalizeMode::TruePeak, -1.0, -1.0}, false},
    };
    for (const Case &row : cases)
        EXPECT_EQ(stoppedAtTruePeakCeiling(row.written, row.normalization), row.stopped)
            << row.written.integratedLufs << " LUFS, " << row.written.truePeakDb << " dBTP";
}

TEST_F(AudioExportTest, MeterReadsASineAsTheStandardSays) {
    // A 997 Hz sine peaking at -20 dBFS in one channel reads -23.01 LUFS; both channels add
    // 3.01 dB.
    const std::vector<float> tone = sine(0.1, 997.0, 5 * 48000);
    LoudnessMeter meter(2, renderRate);
    ASSERT_TRUE(
        write(path("meter.wav"), {ExportContainer::Wav, 32, 0.0, false, 0.7}, tone, 0, &meter));
    const LoudnessFigures figures = meter.figures();
    EXPECT_NEAR(figures.samplePeakDb, -20.0, 0.01);
    EXPECT_NEAR(figures.truePeakDb, -20.0, 0.1);
    EXPECT_NEAR(figures.integratedLufs, -20.0 - 3.01 + 3.01, 0.1);
    EXPECT_NEAR(figures.loudnessRangeLu, 0.0, 0.1) << "a steady tone does not move";
}

// The standard's first range case: 20 s of a 1 kHz tone at -20 dBFS, then 20 s at -30 dBFS,
// spans 10 LU (within 1 LU).
TEST_F(AudioExportTest, MeterReadsTheLoudnessRangeOfTwoLevels) {
    LoudnessMeter meter(2, renderRate);
    const std::vector<float> loud = sine(0.1, 1000.0, 20 * 48000);
    const std::vector<float> soft = sine(0.1 / std::sqrt(10.0), 1000.0, 20 * 48000);
    meter.take(loud.data(), 20 * 48000);
    meter.take(soft.data(), 20 * 48000);
    EXPECT_NEAR(meter.figures().loudnessRangeLu, 10.0, 1.0);
}

} // namespace
} // namespace orvane

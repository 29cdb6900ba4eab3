#include "app/cli/tests/RunProgram.h"
#include "app/shell/DocumentOperations.h"
#include "core/project_io/ProjectFolder.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;
constexpr int64_t songFrames = 5 * 48000;

/// Two audio tracks, one of them sending to the first return, and no processing on the
/// master: the mix is the plain sum of what every track and return adds.
fs::path saveSong(const fs::path &scratch) {
    Project project;
    project.sampleRate = rate;
    const std::array<double, 2> pitches{220.0, 587.0};
    for (std::size_t index = 0; index < pitches.size(); ++index) {
        auto track = project.addTrack(TrackType::Audio, index == 0 ? "Bass/Low" : "Lead");
        track->gain = index == 0 ? 0.7f : 0.5f;
        track->pan = index == 0 ? -0.3f : 0.4f;
        track->eq.enabled = false;
        auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = stereoTone(pitches[index], songFrames, 0.4f, rate);
        clip->channels = 2;
        clip->arrangeStart = static_cast<int64_t>(index) * 12000;
        clip->length = songFrames - clip->arrangeStart;
    }
    HVEnsureReturnTracks(project);
    project.tracks[1]->sends[0].level = 0.5f;
    for (const auto &track : project.tracks)
        track->eq.enabled = false;
    project.masterEq.enabled = false;
    project.mastering.enabled = false;
    const fs::path folder = scratch / "song.halvora";
    const auto saved = project_io::saveProject(project, folder.string(), false);
    EXPECT_TRUE(saved.ok) << saved.error;
    return folder;
}

std::string runText(const std::string &command) {
    std::string text;
    std::FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) return text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, got);
    ::pclose(pipe);
    return text;
}

/// The samples as sox, an independent reader, decodes them.
std::vector<float> readWithSox(const fs::path &file) {
    const std::string raw =
        runText("sox '" + file.string() + "' -t raw -e floating-point -b 32 - 2>/dev/null");
    std::vector<float> samples(raw.size() / sizeof(float));
    std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(float));
    return samples;
}

/// A figure after `label` in `text`, NaN when it is not there.
double figureAfter(const std::string &text, const std::string &label) {
    std::smatch match;
    const std::regex pattern(label + R"(\s*(-?[0-9]+(\.[0-9]+)?))");
    return std::regex_search(text, match, pattern) ? std::stod(match[1]) : NAN;
}

struct FfmpegLoudness {
    double integrated = NAN;
    double truePeak = NAN;
};

/// FFmpeg's own EBU R128 meter, independent of the one the program uses.
FfmpegLoudness measureWithFfmpeg(const fs::path &file) {
    const std::string report = runText("ffmpeg -nostats -hide_banner -i '" + file.string() +
                                       "' -af ebur128=peak=true -f null - 2>&1");
    const std::size_t summary = report.rfind("Summary:");
    if (summary == std::string::npos) return {};
    const std::string tail = report.substr(summary);
    return {figureAfter(tail, "I:"), figureAfter(tail, "Peak:")};
}

class ExportCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch = makeScratchFolder("export");
        song = saveSong(scratch);
    }
    void TearDown() override { fs::remove_all(scratch); }

    ProgramRun render(std::vector<std::string> options) {
        options.insert(options.begin(), {"render", song.string()});
        ProgramRun run = runHalvora(options, scratch);
        EXPECT_EQ(run.exitStatus, 0) << run.errors;
        return run;
    }

    fs::path scratch;
    fs::path song;
};

} // namespace

TEST_F(ExportCommand, NormalisesToTheLoudnessTargetUnderTheCeiling) {
    struct Case {
        const char *normalize;
        double target;
        double ceiling;
        bool reachesTarget;
    };
    const std::array<Case, 3> cases{{
        {"lufs:-14", -14.0, -1.0, true},
        {"lufs:-23", -23.0, -1.0, true},
        {"lufs:-14:-12", -14.0, -12.0, false}, // the ceiling holds the gain back
    }};
    for (const Case &row : cases) {
        SCOPED_TRACE(row.normalize);
        const fs::path out = scratch / "loud.wav";
        const ProgramRun run =
            render({"-o", out.string(), "--bits", "24", "--normalize", row.normalize});
        const double measured = figureAfter(run.output, "integrated");
        const double truePeak = figureAfter(run.output, "true peak");
        const FfmpegLoudness independent = measureWithFfmpeg(out);
        ASSERT_FALSE(std::isnan(independent.integrated)) << "ffmpeg measured nothing";
        EXPECT_LE(truePeak, row.ceiling + 0.01) << run.output;
        EXPECT_LE(independent.truePeak, row.ceiling + 0.1);
        const bool toldOfCeiling =
            run.errors.find("the true-peak ceiling of") != std::string::npos;
        if (row.reachesTarget) {
            EXPECT_NEAR(measured, row.target, 0.1) << run.output;
            EXPECT_NEAR(independent.integrated, row.target, 0.1);
            EXPECT_FALSE(toldOfCeiling) << run.errors;
        } else {
            EXPECT_NEAR(truePeak, row.ceiling, 0.02) << run.output;
            EXPECT_LT(independent.integrated, row.target - 0.5);
            EXPECT_TRUE(toldOfCeiling) << "the user learns why the target was not reached";
        }
    }
}

TEST_F(ExportCommand, PeakNormalisationReachesItsPeak) {
    const fs::path out = scratch / "peak.flac";
    const ProgramRun run =
        render({"-o", out.string(), "--format", "flac", "--bits", "24", "--normalize", "peak:-3"});
    const std::vector<float> samples = readWithSox(out);
    ASSERT_FALSE(samples.empty());
    EXPECT_NEAR(20.0 * std::log10(peakOf(samples)), -3.0, 0.01);
    EXPECT_NEAR(figureAfter(run.output, "peak"), -3.0, 0.01) << run.output;
}

TEST_F(ExportCommand, StemsAddUpToTheMixWithinOneStepEach) {
    const fs::path stems = scratch / "stems";
    fs::create_directory(stems);
    const fs::path mix = scratch / "mix.wav";
    const ProgramRun run =
        render({"-o", mix.string(), "--stems", stems.string(), "--dither", "off"});
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(stems))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    // Two tracks and the returns, named after them; a slash cannot be part of a file name.
    ASSERT_GE(files.size(), 3u) << run.output;
    EXPECT_TRUE(fs::exists(stems / "Bass_Low.wav"));
    EXPECT_TRUE(fs::exists(stems / "Lead.wav"));
    const WrittenWav whole = readWrittenWav(mix);
    ASSERT_TRUE(whole.valid);
    std::vector<int64_t> sum(whole.samples.size(), 0);
    bool returnSounds = false;
    for (const fs::path &file : files) {
        const WrittenWav stem = readWrittenWav(file);
        ASSERT_TRUE(stem.valid) << file;
        ASSERT_EQ(stem.samples.size(), whole.samples.size()) << file << ": same length";
        bool sounds = false;
        for (std::size_t index = 0; index < sum.size(); ++index) {
            sum[index] += stem.samples[index];
            sounds = sounds || stem.samples[index] != 0;
        }
        if (file.filename() != "Bass_Low.wav" && file.filename() != "Lead.wav")
            returnSounds = returnSounds || sounds;
    }
    EXPECT_TRUE(returnSounds) << "the return's stem holds what the send fed it";
    int64_t worst = 0;
    for (std::size_t index = 0; index < sum.size(); ++index)
        worst = std::max<int64_t>(worst, std::abs(sum[index] - whole.samples[index]));
    EXPECT_LE(worst, static_cast<int64_t>(files.size()));
}

TEST_F(ExportCommand, FormatRateAndDepthReachTheFile) {
    struct Case {
        std::vector<std::string> options;
        const char *name;
        const char *soxRate;
        const char *soxBits;
        const char *soxSamples;
    };
    const std::array<Case, 3> cases{{
        {{"--format", "flac", "--bits", "24", "--rate", "96000"},
         "a.flac",
         "96000",
         "24",
         "480000"},
        {{"--bits", "32", "--rate", "44.1"}, "b.wav", "44100", "32", "220500"},
        {{"--format", "ogg", "--quality", "0.4"}, "c.ogg", "48000", "0", "240000"},
    }};
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        const fs::path out = scratch / row.name;
        std::vector<std::string> options{"-o", out.string(), "--length",
                                         std::to_string(songFrames)};
        options.insert(options.end(), row.options.begin(), row.options.end());
        render(options);
        const auto soxi = [&](const char *option) {
            std::string text = runText(std::string("soxi ") + option + " '" + out.string() + "'");
            while (!text.empty() && text.back() == '\n')
                text.pop_back();
            return text;
        };
        EXPECT_EQ(soxi("-r"), row.soxRate);
        EXPECT_EQ(soxi("-b"), row.soxBits);
        EXPECT_EQ(soxi("-s"), row.soxSamples);
    }
}

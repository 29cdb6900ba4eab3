#include "core/music/AudioAnalysis.h"
#include "core/music/tests/AudioSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orvane {
namespace {

using testing::clickFrame;
using testing::clickTrack;
using testing::silenceThenNoise;
using testing::sine;

int64_t framesOf(const std::vector<float> &samples, int32_t channels) {
    return static_cast<int64_t>(samples.size()) / channels;
}

std::optional<double> tempoOf(const std::vector<float> &samples, int32_t channels, double rate) {
    return detectTempoBpm(samples.data(), framesOf(samples, channels), channels, rate);
}

TEST(TempoDetection, ClickTracksGiveTheirTempoWhateverTheirLength) {
    for (const double rate : {44100.0, 48000.0})
        for (const int32_t channels : {1, 2})
            for (const double bpm : {90.0, 120.0, 150.0}) {
                SCOPED_TRACE(::testing::Message()
                             << bpm << " BPM, " << rate << " Hz, " << channels << " channels");
                const auto shorter = tempoOf(clickTrack(bpm, 20.0, rate, channels), channels, rate);
                const auto longer = tempoOf(clickTrack(bpm, 40.0, rate, channels), channels, rate);
                ASSERT_TRUE(shorter && longer);
                EXPECT_NEAR(*shorter, bpm, 1.0);
                EXPECT_NEAR(*longer, bpm, 1.0);
                EXPECT_NEAR(*shorter, *longer, 1.0);
            }
}

TEST(TempoDetection, StaysInItsRangeAndNeedsEnoughAudio) {
    constexpr double rate = 48000.0;
    // Beats faster than the searched range are found at a multiple of their period.
    for (const double bpm : {210.0, 250.0, 300.0}) {
        const auto tempo = tempoOf(clickTrack(bpm, 20.0, rate, 2), 2, rate);
        ASSERT_TRUE(tempo) << bpm;
        EXPECT_GE(*tempo, 60.0);
        EXPECT_LE(*tempo, 200.0);
    }
    // Slower beats leave the searched lags empty or fold into range.
    for (const double bpm : {40.0, 55.0}) {
        const auto tempo = tempoOf(clickTrack(bpm, 20.0, rate, 2), 2, rate);
        if (tempo) {
            EXPECT_TRUE(*tempo >= 60.0 && *tempo <= 200.0) << bpm << ": " << *tempo;
        }
    }
    const auto clicks = clickTrack(120.0, 20.0, rate, 1);
    EXPECT_FALSE(detectTempoBpm(clicks.data(), 8191, 1, rate));
    // Too short for two beats at the slowest tempo searched, yet long enough to be searched.
    EXPECT_FALSE(detectTempoBpm(clicks.data(), 20000, 1, rate));
    EXPECT_TRUE(detectTempoBpm(clicks.data(), 60000, 1, rate));
    EXPECT_FALSE(detectTempoBpm(nullptr, 60000, 1, rate));
    EXPECT_FALSE(detectTempoBpm(clicks.data(), 60000, 1, 0.0));
    EXPECT_FALSE(detectTempoBpm(clicks.data(), 60000, 1, 1e300));
    EXPECT_EQ(estimateAudioFundamentalHz(clicks.data(), 60000, 1, 1e300), 0.0);
    EXPECT_TRUE(detectAudioTransients(clicks.data(), 60000, 1, 1e300, 0.1f, 4).empty());
    const std::vector<float> silence(480000, 0.0f);
    EXPECT_FALSE(tempoOf(silence, 1, rate));
}

TEST(FundamentalEstimate, FindsThePeriodOfATone) {
    const auto tone441 = sine(441.0, 8000, 44100.0, 2);
    EXPECT_NEAR(estimateAudioFundamentalHz(tone441.data(), 8000, 2, 44100.0), 441.0, 0.05);
    const auto tone220 = sine(220.0, 8000, 48000.0, 1);
    EXPECT_NEAR(estimateAudioFundamentalHz(tone220.data(), 8000, 1, 48000.0), 220.0, 1.5);
    EXPECT_EQ(estimateAudioFundamentalHz(tone441.data(), 255, 2, 44100.0), 0.0);
    const std::vector<float> silence(8000, 0.0f);
    EXPECT_EQ(estimateAudioFundamentalHz(silence.data(), 8000, 1, 44100.0), 0.0);
}

TEST(OnsetDetection, ReportsTheFrameWhereTheSoundStarts) {
    constexpr int64_t frames = 48000;
    for (const int32_t channels : {1, 2})
        for (const int64_t start : {int64_t{20000}, int64_t{720}, int64_t{120}}) {
            const auto samples = silenceThenNoise(start, frames, channels);
            EXPECT_EQ(detectAudioOnset(samples.data(), frames, channels, 1e-4f), start) << start;
        }
    const auto fromTheStart = silenceThenNoise(0, frames, 1);
    EXPECT_EQ(detectAudioOnset(fromTheStart.data(), frames, 1, 1e-4f), 0);
    const auto quiet = silenceThenNoise(20000, frames, 1, 0.001f);
    EXPECT_EQ(detectAudioOnset(quiet.data(), frames, 1, 1e-4f), 0);
    // A louder stretch of a sound already playing is an onset too.
    auto louder = silenceThenNoise(0, frames, 1, 0.01f);
    const auto loud = silenceThenNoise(30000, frames, 1, 0.5f);
    for (std::size_t i = 30000; i < louder.size(); ++i)
        louder[i] = loud[i];
    EXPECT_NEAR(static_cast<double>(detectAudioOnset(louder.data(), frames, 1, 1e-4f)), 30000.0,
                2.0);
}

TEST(TransientDetection, FindsEachClickOnceAndKeepsThemApart) {
    constexpr double rate = 48000.0;
    const auto clicks = clickTrack(120.0, 4.0, rate, 2);
    const auto found =
        detectAudioTransients(clicks.data(), framesOf(clicks, 2), 2, rate, 0.015f, 32);
    // Frame 0 has no frame before it to rise from.
    const std::vector<int64_t> expected{clickFrame(120.0, 1, rate), clickFrame(120.0, 2, rate),
                                        clickFrame(120.0, 3, rate), clickFrame(120.0, 4, rate),
                                        clickFrame(120.0, 5, rate), clickFrame(120.0, 6, rate),
                                        clickFrame(120.0, 7, rate)};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(detectAudioTransients(clicks.data(), framesOf(clicks, 2), 2, rate, 0.015f, 3),
              std::vector<int64_t>(expected.begin(), expected.begin() + 3));

    // Two rises 20 ms apart: the second is within 30 ms of the first.
    std::vector<float> pair(48000, 0.0f);
    pair[1000] = 0.5f;
    pair[1960] = 0.9f;
    pair[4000] = 0.3f;
    EXPECT_EQ(detectAudioTransients(pair.data(), 48000, 1, rate, 0.015f, 32),
              (std::vector<int64_t>{1000, 4000}));
    EXPECT_TRUE(detectAudioTransients(pair.data(), 48000, 1, rate, 0.015f, 0).empty());
}

TEST(StemSplit, StemsAddUpToTheInput) {
    auto input = sine(60.0, 4000, 48000.0, 2, 0.4f);
    const auto noise = silenceThenNoise(0, 4000, 2, 0.3f);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] += (i % 2 ? 0.5f : 1.0f) * noise[i];
    SimpleStemBuffers stems;
    ASSERT_TRUE(splitSimpleStems(input.data(), 4000, 2, stems));
    ASSERT_EQ(stems.bass.size(), input.size());
    double bassEnergy = 0.0;
    double highEnergy = 0.0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        EXPECT_NEAR(stems.bass[i] + stems.mid[i] + stems.high[i], input[i], 1e-6f);
        bassEnergy += stems.bass[i] * stems.bass[i];
        highEnergy += stems.high[i] * stems.high[i];
    }
    EXPECT_GT(bassEnergy, 0.0);
    EXPECT_GT(highEnergy, 0.0);

    const std::vector<float> constant(3 * 2000, 0.25f);
    ASSERT_TRUE(splitSimpleStems(constant.data(), 2000, 3, stems));
    EXPECT_NEAR(stems.bass[3 * 1999], 0.25f, 1e-5f);
    EXPECT_NEAR(stems.mid[3 * 1999 + 1], 0.0f, 1e-5f);
    EXPECT_NEAR(stems.high[3 * 1999 + 1], 0.0f, 1e-5f);
    EXPECT_EQ(stems.bass[3 * 1999 + 2], 0.0f); // a third channel is not split
    EXPECT_FALSE(splitSimpleStems(constant.data(), 0, 3, stems));
}

TEST(Resampling, StretchAndPitchShiftChangeTheFrameCount) {
    std::vector<float> ramp(100);
    for (int i = 0; i < 100; ++i)
        ramp[static_cast<std::size_t>(i)] = static_cast<float>(i);
    std::vector<float> stretched(200, -1.0f);
    stretchAudio(ramp.data(), 100, stretched.data(), 200, 1);
    EXPECT_EQ(stretched[198], 99.0f);
    EXPECT_EQ(stretched[199], 99.0f);
    EXPECT_EQ(stretched[1], 0.5f);

    auto up = sine(441.0, 4410, 44100.0, 2);
    ASSERT_TRUE(pitchShiftInterleaved(up, 2, 12.0f));
    EXPECT_EQ(up.size(), 2u * 2205u);
    EXPECT_NEAR(estimateAudioFundamentalHz(up.data(), 2205, 2, 44100.0), 882.0, 1.0);
    auto down = sine(441.0, 4410, 44100.0, 1);
    ASSERT_TRUE(pitchShiftInterleaved(down, 1, -12.0f));
    EXPECT_EQ(down.size(), 8820u);
    auto unchanged = down;
    EXPECT_FALSE(pitchShiftInterleaved(unchanged, 1, 0.00001f));
    EXPECT_FALSE(pitchShiftInterleaved(unchanged, 0, 3.0f));
    EXPECT_FALSE(pitchShiftInterleaved(unchanged, 1, -60.0f));
    EXPECT_FALSE(pitchShiftInterleaved(unchanged, 1, std::numeric_limits<float>::quiet_NaN()));
    std::vector<float> oneFrame{0.1f, 0.2f};
    EXPECT_FALSE(pitchShiftInterleaved(oneFrame, 2, 3.0f));
    EXPECT_EQ(unchanged, down);
}

TEST(Fingerprints, MeasureHowAlikeClipsSound) {
    const auto tone = sine(441.0, 8192, 44100.0, 2);
    const auto print = computeAudioFingerprint(tone.data(), 8192, 2);
    EXPECT_EQ(fingerprintDistance(print, print), 0.0f);
    EXPECT_NEAR(print.rms, 0.5f / std::sqrt(2.0f), 1e-3f);
    EXPECT_NEAR(print.zeroCrossingRate, 2.0f * 441.0f / 44100.0f, 1e-3f);
    EXPECT_NEAR(print.energyCentroid, 0.5f, 0.01f);
    const auto silent = computeAudioFingerprint(nullptr, 100, 2);
    EXPECT_EQ(silent.evenOddRatio, 1.0f);
    EXPECT_EQ(computeAudioFingerprint(std::vector<float>(64, 0.0f).data(), 64, 1).energyCentroid,
              0.5f);

    Project project;
    const auto track = project.addTrack(TrackType::Audio, "");
    const auto addAudio = [&](std::vector<float> samples) {
        auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = std::make_shared<const std::vector<float>>(std::move(samples));
        return clip->id;
    };
    const uint64_t reference = addAudio(tone);
    const uint64_t near = addAudio(sine(450.0, 8192, 44100.0, 2));
    const uint64_t far = addAudio(silenceThenNoise(0, 8192, 2));
    project.addClip(track->id, ClipKind::Midi);
    const auto matches = findSimilarAudioClips(project, reference, 5);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].clipId, near);
    EXPECT_EQ(matches[1].clipId, far);
    EXPECT_EQ(findSimilarAudioClips(project, reference, 1).size(), 1u);
    EXPECT_TRUE(findSimilarAudioClips(project, 999, 5).empty());
}

TEST(ClipWindow, CoversOnlyTheAudioThatTheClipPlays) {
    Clip clip;
    clip.channels = 2;
    clip.audio = std::make_shared<const std::vector<float>>(2 * 1000, 0.0f);
    struct Case {
        int64_t sourceOffset, length, expectedFrames;
    };
    for (const Case &c :
         {Case{0, 400, 400}, Case{300, 400, 400}, Case{800, 400, 200}, Case{0, 5000, 1000},
          Case{1000, 10, 0}, Case{4000, 10, 0}, Case{-5, 10, 0}, Case{10, 0, 0}}) {
        clip.sourceOffset = c.sourceOffset;
        clip.length = c.length;
        const auto window = clipAnalysisWindow(clip);
        EXPECT_EQ(window.frames, c.expectedFrames) << c.sourceOffset << ", " << c.length;
        EXPECT_EQ(window.samples == nullptr, c.expectedFrames == 0);
        if (window.samples) {
            EXPECT_EQ(window.samples, clip.audio->floats() + 2 * c.sourceOffset);
        }
    }
    clip.audio.reset();
    EXPECT_EQ(clipAnalysisWindow(clip).frames, 0);
}

TEST(TempoAdaptation, SlowsAFasterClipDownToTheProjectTempo) {
    EXPECT_NEAR(tempoAdaptationStretchRatio(120.0, 140.0), 120.0 / 140.0, 1e-12);
    EXPECT_NEAR(tempoAdaptationStretchRatio(0.0, 100.0), 0.01, 1e-12);
    EXPECT_EQ(tempoAdaptationStretchRatio(120.0, 0.0), 1.0);
}

} // namespace
} // namespace orvane

// What the detectors must hear in music-like signals, beyond the small cases above.
namespace orvane {
namespace {

using testing::drumLoop;
using testing::drumLoopHits;
using testing::pad;
using testing::squareClicks;

TEST(MusicalSignals, PureTonesFromTheLowBassUpGiveTheirPitch) {
    for (const double rate : {44100.0, 48000.0})
        for (const double hz : {41.0, 55.0, 82.41, 110.0, 440.0, 1760.0}) {
            const auto tone = sine(hz, 16384, rate, 2);
            EXPECT_NEAR(estimateAudioFundamentalHz(tone.data(), 16384, 2, rate), hz, hz * 0.005)
                << hz << " Hz at " << rate;
        }
}

TEST(MusicalSignals, ClicksOfAnyLengthGiveTheirTempo) {
    constexpr double rate = 48000.0;
    for (const int64_t clickFrames : {int64_t{1}, int64_t{240}, int64_t{1920}})
        for (const double bpm : {70.0, 93.0, 120.0, 128.0, 140.0, 174.0}) {
            const auto clicks = squareClicks(bpm, 30.0, rate, 2, clickFrames);
            const auto tempo = tempoOf(clicks, 2, rate);
            ASSERT_TRUE(tempo) << bpm << " BPM, clicks of " << clickFrames;
            EXPECT_NEAR(*tempo, bpm, 0.5) << "clicks of " << clickFrames << " frames";
        }
}

TEST(MusicalSignals, DrumLoopsGiveTheirTempoAndEveryHit) {
    for (const double rate : {44100.0, 48000.0})
        for (const double bpm : {96.0, 128.0}) {
            SCOPED_TRACE(::testing::Message() << bpm << " BPM at " << rate);
            const auto loop = drumLoop(bpm, 20.0, rate, 2);
            const auto tempo = tempoOf(loop, 2, rate);
            ASSERT_TRUE(tempo);
            EXPECT_NEAR(*tempo, bpm, 0.5);

            const auto hits = drumLoopHits(bpm, 20.0, rate);
            const auto found =
                detectAudioTransients(loop.data(), framesOf(loop, 2), 2, rate, 0.015f, 1000);
            // The first hit has no frame before it to rise from.
            ASSERT_EQ(found.size(), hits.size() - 1);
            const auto within = static_cast<int64_t>(0.005 * rate);
            for (std::size_t i = 0; i < found.size(); ++i)
                EXPECT_LE(std::abs(found[i] - hits[i + 1]), within) << "hit " << i + 1;
        }
}

TEST(MusicalSignals, HeldTonesAndPadsHaveNoTransients) {
    constexpr double rate = 48000.0;
    for (const double hz : {41.0, 82.41, 440.0, 1760.0}) {
        const auto tone = sine(hz, 48000, rate, 2);
        EXPECT_TRUE(detectAudioTransients(tone.data(), 48000, 2, rate, 0.015f, 32).empty()) << hz;
    }
    const auto swell = pad(110.0, 4.0, rate, 2, 0.5);
    EXPECT_TRUE(
        detectAudioTransients(swell.data(), framesOf(swell, 2), 2, rate, 0.015f, 32).empty());
}

TEST(MusicalSignals, OnsetsAnywhereInAMinuteAreFoundWithinFiveMilliseconds) {
    constexpr double rate = 48000.0;
    constexpr auto frames = static_cast<int64_t>(60 * rate);
    for (const double seconds : {0.5, 10.0, 30.0}) {
        const auto start = static_cast<int64_t>(seconds * rate);
        const auto noise = silenceThenNoise(start, frames, 2);
        EXPECT_NEAR(static_cast<double>(detectAudioOnset(noise.data(), frames, 2, 1e-4f)),
                    static_cast<double>(start), 0.005 * rate)
            << seconds << " s";
        // A drum loop that starts there.
        auto loop = std::vector<float>(static_cast<std::size_t>(start * 2), 0.0f);
        const auto drums = drumLoop(120.0, 2.0, rate, 2);
        loop.insert(loop.end(), drums.begin(), drums.end());
        EXPECT_NEAR(static_cast<double>(detectAudioOnset(loop.data(), framesOf(loop, 2), 2, 1e-4f)),
                    static_cast<double>(start), 0.005 * rate)
            << seconds << " s";
    }
}

} // namespace
} // namespace orvane

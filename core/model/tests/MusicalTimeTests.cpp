#include "core/model/MusicalTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace orvane;

namespace {
const std::vector<TempoMarker> noMarkers;
const std::vector<MeterMarker> noMeters;
} // namespace

TEST(TempoMap, OneBeatAt120BpmIs24000Samples) {
    EXPECT_EQ(musicalBeatsToSamples(1.0, 48000, noMarkers, 120), 24000);
    EXPECT_DOUBLE_EQ(samplesToMusicalBeats(24000, 48000, noMarkers, 120), 1.0);
    EXPECT_EQ(musicalBeatsToSamples(0.0, 48000, noMarkers, 120), 0);
    EXPECT_EQ(samplesToMusicalBeats(0, 48000, noMarkers, 120), 0.0);
}

TEST(TempoMap, MarkerAtZeroOverridesTheBaseAndConversionsInvert) {
    const std::vector<TempoMarker> markers{{0, 90.0}};
    EXPECT_DOUBLE_EQ(samplesToMusicalBeats(48000, 48000, markers, 120), 1.5);
    EXPECT_EQ(musicalBeatsToSamples(1.5, 48000, markers, 120), 48000);
}

TEST(TempoMap, TwoSegmentsPlaceBeatTwoAfterTheTempoChange) {
    const std::vector<TempoMarker> markers{{48000, 120.0}, {0, 60.0}}; // unsorted on purpose
    EXPECT_EQ(musicalBeatsToSamples(2.0, 48000, markers, 100), 72000);
    EXPECT_DOUBLE_EQ(samplesToMusicalBeats(72000, 48000, markers, 100), 2.0);
}

TEST(TempoMap, RoundTripHoldsAcrossManyMarkers) {
    const std::vector<TempoMarker> markers{
        {0, 100.0}, {30000, 140.0}, {90000, 75.5}, {200000, 180.0}};
    for (int64_t samples = 1; samples < 400000; samples += 7919) {
        const double beats = samplesToMusicalBeats(samples, 44100, markers, 120);
        const int64_t back = musicalBeatsToSamples(beats, 44100, markers, 120);
        EXPECT_NEAR(static_cast<double>(back), static_cast<double>(samples), 1.0) << samples;
    }
}

TEST(TempoMap, MarkerLookupTakesTheLastMarkerAtOrBefore) {
    const std::vector<TempoMarker> markers{{0, 90.0}, {1000, 140.0}, {5000, 60.0}};
    EXPECT_EQ(tempoAtPosition(-1, markers, 120), 120.0);
    EXPECT_EQ(tempoAtPosition(999, markers, 120), 90.0);
    EXPECT_EQ(tempoAtPosition(1000, markers, 120), 140.0);
    EXPECT_EQ(tempoAtPosition(100000, markers, 120), 60.0);
    const std::vector<MeterMarker> meters{{0, 3, 4}, {96000, 7, 8}};
    EXPECT_EQ(meterAtPosition(95999, meters, TimeSignature{}), (TimeSignature{3, 4}));
    EXPECT_EQ(meterAtPosition(96000, meters, TimeSignature{}), (TimeSignature{7, 8}));
}

TEST(DamagedDocument, ZeroOrNonFiniteTempoAndZeroMeterGiveFinitePositions) {
    const double bad[] = {0.0, -30.0, std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN()};
    for (double bpm : bad) {
        EXPECT_EQ(musicalBeatsToSamples(1.0, 48000, noMarkers, bpm), 24000);
        EXPECT_DOUBLE_EQ(samplesToMusicalBeats(24000, 48000, noMarkers, bpm), 1.0);
        const std::vector<TempoMarker> markers{{0, bpm}};
        EXPECT_EQ(musicalBeatsToSamples(1.0, 48000, markers, 120), 24000);
    }
    EXPECT_EQ(beatsPerBar(TimeSignature{3, 0}), 3.0);
    EXPECT_EQ(beatsPerBar(TimeSignature{0, 8}), 2.0);
    EXPECT_EQ(gridBeats(GridQuantize::Bar, TimeSignature{0, 0}), 4.0);
    EXPECT_EQ(musicalBeatsToSamples(1e300, 48000, noMarkers, 120),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(saturatingToInt64(-1e300), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(saturatingToInt64(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(GridQuantizeSnap, SwingMovesTheSecondHalfOfTheCell) {
    // 0.3 beats into a beat with a 1/8 grid and swing 0.5 lands on 0.375 beats.
    const int64_t at03 = musicalBeatsToSamples(0.3, 48000, noMarkers, 120);
    EXPECT_EQ(
        quantizeSamples(at03, GridQuantize::Eighth, 0.5f, 48000, noMarkers, 120, noMeters, {}),
        musicalBeatsToSamples(0.375, 48000, noMarkers, 120));
    const int64_t at02 = musicalBeatsToSamples(0.2, 48000, noMarkers, 120);
    EXPECT_EQ(
        quantizeSamples(at02, GridQuantize::Eighth, 0.5f, 48000, noMarkers, 120, noMeters, {}), 0);
    // Full swing pushes to the next grid line; no swing rounds to the nearest line.
    EXPECT_EQ(
        quantizeSamples(at03, GridQuantize::Eighth, 1.0f, 48000, noMarkers, 120, noMeters, {}),
        musicalBeatsToSamples(0.5, 48000, noMarkers, 120));
    EXPECT_EQ(
        quantizeSamples(at03, GridQuantize::Eighth, 0.0f, 48000, noMarkers, 120, noMeters, {}),
        musicalBeatsToSamples(0.5, 48000, noMarkers, 120));
    EXPECT_EQ(quantizeSamples(12345, GridQuantize::Off, 0.0f, 48000, noMarkers, 120, noMeters, {}),
              12345);
}

TEST(GridQuantizeSnap, BarGridUsesTheMeterInForceAtThePosition) {
    const std::vector<MeterMarker> meters{{0, 3, 4}};
    // 3/4 bars at 120 BPM are 72000 samples; 130000 is nearer 2 bars than 1.
    EXPECT_EQ(quantizeSamples(130000, GridQuantize::Bar, 0.0f, 48000, noMarkers, 120, meters, {}),
              144000);
    EXPECT_EQ(quantizeSamples(130000, GridQuantize::Bar, 0.0f, 48000, noMarkers, 120, noMeters, {}),
              96000);
}

TEST(LaunchQuantizeBoundary, PositionsOnABoundaryLaunchOneUnitLater) {
    EXPECT_EQ(quantizeLaunchPosition(0, LaunchQuantize::OneBar, 24000, 96000), 96000);
    EXPECT_EQ(quantizeLaunchPosition(95999, LaunchQuantize::OneBar, 24000, 96000), 96000);
    EXPECT_EQ(quantizeLaunchPosition(96000, LaunchQuantize::OneBar, 24000, 96000), 192000);
    EXPECT_EQ(quantizeLaunchPosition(1, LaunchQuantize::OneBeat, 24000, 96000), 24000);
    EXPECT_EQ(quantizeLaunchPosition(1, LaunchQuantize::EightBars, 24000, 96000), 768000);
    EXPECT_EQ(quantizeLaunchPosition(777, LaunchQuantize::Immediate, 24000, 96000), 777);
    EXPECT_EQ(quantizeLaunchPosition(5, LaunchQuantize::OneBar, 24000, 0), 6);
}

TEST(WarpMapping, StretchWithoutMarkersScalesTheTimeline) {
    Clip clip;
    clip.length = 1000;
    clip.stretchRatio = 2.0;
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 0), 0.0);
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 250), 500.0);
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 5000), 2000.0); // clamped to the end
}

TEST(WarpMapping, MarkersBendTheMapPiecewiseLinearly) {
    Clip clip;
    clip.length = 1000;
    clip.sourceOffset = 100;
    clip.warpMarkers = {{500, 200}};
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 0), 100.0);
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 250), 150.0);
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 500), 200.0);
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 750), 650.0);
}

TEST(WarpMapping, ClipWithoutLengthOrAudioMapsToItsOffset) {
    Clip clip;
    clip.sourceOffset = 42;
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 10), 42.0);
    clip.channels = 1;
    clip.audio = std::make_shared<std::vector<float>>(100, 0.0f);
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 10), 52.0);
}

TEST(WarpMapping, OnlyTheFirst63MarkersCount) {
    Clip clip;
    clip.length = 10000;
    for (int i = 1; i <= 64; ++i)
        clip.warpMarkers.push_back({i * 100, i * 100});
    clip.warpMarkers.back() = {6450, 0}; // the 64th would fold the map back if it counted
    EXPECT_DOUBLE_EQ(clipTimelineToSource(clip, 6450), 6450.0);
}

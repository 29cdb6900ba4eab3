#pragma once

#include "core/model/Project.h"
#include "core/model/SaturatingMath.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orvane {

// A beat is a quarter note; tempo is in beats per minute. Values read from a damaged
// document (zero, negative or non-finite tempos, meters below 1) are replaced at the point
// of use by 120 BPM and 4, and doubles become positions with saturation, so no conversion
// divides by zero or turns infinity into an integer. The stored values stay as read.

/// 120 when `bpm` is zero, negative or not finite; `bpm` otherwise.
double usableBpm(double bpm);
/// Numerator and denominator below 1 become 4.
TimeSignature usableMeter(TimeSignature meter);
/// Truncates toward zero, saturating at the int64 limits; NaN gives 0.
int64_t saturatingToInt64(double value);
/// Beats in one bar of `meter`: 4 / d × n.
double beatsPerBar(TimeSignature meter);

/// The last tempo marker at or before `position` (front-to-back walk), else `baseBpm`.
double tempoAtPosition(int64_t position, const std::vector<TempoMarker> &markers, double baseBpm);
/// The last meter marker at or before `position`, else `baseMeter`.
TimeSignature meterAtPosition(int64_t position, const std::vector<MeterMarker> &markers,
                              TimeSignature baseMeter);

double samplesToMusicalBeats(int64_t samples, double sampleRate,
                             const std::vector<TempoMarker> &markers, double baseBpm);
int64_t musicalBeatsToSamples(double beats, double sampleRate,
                              const std::vector<TempoMarker> &markers, double baseBpm);

/// The same conversions on markers already sorted by position. They allocate nothing, so
/// the audio thread can use them on a snapshot whose markers were sorted when published.
double samplesToMusicalBeatsSorted(int64_t samples, double sampleRate,
                                   std::span<const TempoMarker> sortedMarkers, double baseBpm);
int64_t musicalBeatsToSamplesSorted(double beats, double sampleRate,
                                    std::span<const TempoMarker> sortedMarkers, double baseBpm);
/// A copy sorted by position; markers at the same position keep their order.
std::vector<TempoMarker> sortedTempoMarkers(const std::vector<TempoMarker> &markers);

/// Grid size in beats; the bar grid uses `meter`.
double gridBeats(GridQuantize grid, TimeSignature meter);

/// Snap `position` to `grid` with swing, under the given tempo and meter maps.
int64_t quantizeSamples(int64_t position, GridQuantize grid, float swing, double sampleRate,
                        const std::vector<TempoMarker> &tempoMarkers, double baseBpm,
                        const std::vector<MeterMarker> &meterMarkers, TimeSignature baseMeter);
/// The same on tempo markers already sorted by position, for callers that snap many
/// positions under one map.
int64_t quantizeSamplesSorted(int64_t position, GridQuantize grid, float swing, double sampleRate,
                              std::span<const TempoMarker> sortedTempoMarkers, double baseBpm,
                              const std::vector<MeterMarker> &meterMarkers,
                              TimeSignature baseMeter);

/// The next launch boundary strictly after the start of the unit holding `position`.
/// `beatSamples` and `barSamples` are one beat and one bar; units below 1 count as 1.
int64_t quantizeLaunchPosition(int64_t position, LaunchQuantize quantize, int64_t beatSamples,
                               int64_t barSamples);

/// The clip's warp map as (timeline, source) points sorted by timeline: the start, at most
/// the first 63 warp markers, and the end. Built once per block by the renderers.
struct ClipWarpTable {
    struct Point {
        double timeline = 0.0;
        double source = 0.0;
    };
    static constexpr std::size_t maxWarpMarkers = 63;
    std::array<Point, maxWarpMarkers + 2> points{};
    std::size_t count = 0;
    int64_t length = 0; // 0 when the clip has neither a length nor audio
    double sourceOffset = 0.0;

    /// Source frame for timeline offset `t`; the same value `clipTimelineToSource` gives.
    double sourceAt(int64_t t) const;
};
ClipWarpTable buildClipWarpTable(const Clip &clip);

/// Source frame for timeline offset `t` (samples from the clip's start) through the warp
/// markers and stretch ratio. Allocates nothing.
double clipTimelineToSource(const Clip &clip, int64_t t);

} // namespace orvane

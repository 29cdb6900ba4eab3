#pragma once

#include "core/model/MusicalTime.h"

#include <cstdint>
#include <vector>

namespace orvane {

/// A tempo map prepared for many conversions: the markers sorted once, with the beats
/// reached at each, so that each conversion is a binary search rather than a walk over every
/// marker. Gives the results of `musicalBeatsToSamples` and `samplesToMusicalBeats` on the
/// same markers (beats to samples may differ by a rounding step where a position falls on a
/// sample boundary).
class TempoMapIndex {
  public:
    TempoMapIndex(double sampleRate, double baseBpm);
    TempoMapIndex(double sampleRate, const std::vector<TempoMarker> &markers, double baseBpm);

    /// Adds a marker; in time order (at or after the last) it costs O(1), otherwise the
    /// markers are sorted again.
    void add(TempoMarker marker);

    int64_t beatsToSamples(double beats) const;
    double samplesToBeats(int64_t samples) const;

  private:
    void rebuild();
    void extend(const TempoMarker &marker);

    double sampleRate = 0.0;
    double baseBpm = 120.0;
    std::vector<TempoMarker> sorted;
    /// Beats counted up to each sorted marker, as `samplesToMusicalBeats` counts them.
    std::vector<double> beatsAtMarker;
    /// Segments of constant tempo from position 0 on: where each starts, the beats before it
    /// and its tempo. Markers at or before a segment's start only change its tempo.
    struct Segment {
        int64_t start = 0;
        double beats = 0.0;
        double bpm = 120.0;
    };
    std::vector<Segment> segments;
};

} // namespace orvane

#include "core/model/MusicalTime.h"
#include "core/model/TempoMapIndex.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace orvane {

double usableBpm(double bpm) { return (std::isfinite(bpm) && bpm > 0.0) ? bpm : 120.0; }

TimeSignature usableMeter(TimeSignature meter) {
    if (meter.numerator < 1) meter.numerator = 4;
    if (meter.denominator < 1) meter.denominator = 4;
    return meter;
}

int64_t saturatingToInt64(double value) {
    if (std::isnan(value)) return 0;
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (value >= limit) return std::numeric_limits<int64_t>::max();
    if (value <= -limit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

double beatsPerBar(TimeSignature meter) {
    const TimeSignature usable = usableMeter(meter);
    return 4.0 / usable.denominator * usable.numerator;
}

double tempoAtPosition(int64_t position, const std::vector<TempoMarker> &markers, double baseBpm) {
    double result = baseBpm;
    for (const auto &marker : markers)
        if (marker.position <= position) result = marker.bpm;
    return result;
}

TimeSignature meterAtPosition(int64_t position, const std::vector<MeterMarker> &markers,
                              TimeSignature baseMeter) {
    TimeSignature result = baseMeter;
    for (const auto &marker : markers)
        if (marker.position <= position) result = TimeSignature{marker.num, marker.den};
    return result;
}

std::vector<TempoMarker> sortedTempoMarkers(const std::vector<TempoMarker> &markers) {
    std::vector<TempoMarker> sorted = markers;
    std::stable_sort(sorted.begin(), sorted.end(), [](const TempoMarker &a, const TempoMarker &b) {
        return a.position < b.position;
    });
    return sorted;
}

double samplesToMusicalBeatsSorted(int64_t samples, double sampleRate,
                                   std::span<const TempoMarker> sortedMarkers, double baseBpm) {
    if (samples < 1 || !(sampleRate > 0.0)) return 0.0;
    double bpm = usableBpm(baseBpm);
    if (sortedMarkers.empty()) return static_cast<double>(samples) / sampleRate * bpm / 60.0;
    double beats = 0.0;
    int64_t previous = 0;
    for (const auto &marker : sortedMarkers) {
        if (marker.position >= samples) break;
        beats += static_cast<double>(marker.position - previous) / sampleRate * bpm / 60.0;
        bpm = usableBpm(marker.bpm);
        previous = marker.position;
    }
    return beats + static_cast<double>(samples - previous) / sampleRate * bpm / 60.0;
}

int64_t musicalBeatsToSamplesSorted(double beats, double sampleRate,
                                    std::span<const TempoMarker> sortedMarkers, double baseBpm) {
    if (!(beats > 0.0) || !(sampleRate > 0.0)) return 0;
    double bpm = usableBpm(baseBpm);
    if (sortedMarkers.empty()) return saturatingToInt64(60.0 / bpm * beats * sampleRate);
    if (beats <= 1e-9) return 0;
    constexpr int64_t endOfTime = 0x3FFFFFFFFFFFFFFF;
    double remaining = beats;
    int64_t segmentStart = 0;
    std::size_t index = 0;
    while (true) {
        const int64_t segmentEnd =
            index < sortedMarkers.size() ? sortedMarkers[index].position : endOfTime;
        if (segmentEnd <= segmentStart) {
            bpm = usableBpm(sortedMarkers[index].bpm);
            ++index;
            continue;
        }
        const double segmentBeats =
            bpm / 60.0 * static_cast<double>(segmentEnd - segmentStart) / sampleRate;
        if (segmentBeats >= remaining || index >= sortedMarkers.size()) break;
        remaining -= segmentBeats;
        bpm = usableBpm(sortedMarkers[index].bpm);
        ++index;
        segmentStart = segmentEnd;
        if (remaining <= 1e-9) return segmentStart;
    }
    const int64_t offset = saturatingToInt64(remaining * 60.0 / bpm * sampleRate);
    if (offset > std::numeric_limits<int64_t>::max() - segmentStart)
        return std::numeric_limits<int64_t>::max();
    return segmentStart + offset;
}

double samplesToMusicalBeats(int64_t samples, double sampleRate,
                             const std::vector<TempoMarker> &markers, double baseBpm) {
    if (markers.empty()) return samplesToMusicalBeatsSorted(samples, sampleRate, {}, baseBpm);
    const auto sorted = sortedTempoMarkers(markers);
    return samplesToMusicalBeatsSorted(samples, sampleRate, sorted, baseBpm);
}

int64_t musicalBeatsToSamples(double beats, double sampleRate,
                              const std::vector<TempoMarker> &markers, double baseBpm) {
    if (markers.empty()) return musicalBeatsToSamplesSorted(beats, sampleRate, {}, baseBpm);
    const auto sorted = sortedTempoMarkers(markers);
    return musicalBeatsToSamplesSorted(beats, sampleRate, sorted, baseBpm);
}

TempoMapIndex::TempoMapIndex(double rate, double bpm) : sampleRate(rate), baseBpm(bpm) {
    rebuild();
}

TempoMapIndex::TempoMapIndex(double rate, const std::vector<TempoMarker> &markers, double bpm)
    : sampleRate(rate), baseBpm(bpm), sorted(sortedTempoMarkers(markers)) {
    rebuild();
}

void TempoMapIndex::rebuild() {
    std::vector<TempoMarker> markers;
    markers.swap(sorted);
    beatsAtMarker.clear();
    segments.assign(1, Segment{0, 0.0, usableBpm(baseBpm)});
    sorted.reserve(markers.size());
    beatsAtMarker.reserve(markers.size());
    for (const TempoMarker &marker : markers)
        extend(marker);
}

void TempoMapIndex::extend(const TempoMarker &marker) {
    // The same sums, in the same order, as the walk in `samplesToMusicalBeatsSorted`.
    const double bpmBefore = sorted.empty() ? usableBpm(baseBpm) : usableBpm(sorted.back().bpm);
    const int64_t previous = sorted.empty() ? 0 : sorted.back().position;
    const double before = beatsAtMarker.empty() ? 0.0 : beatsAtMarker.back();
    beatsAtMarker.push_back(before + static_cast<double>(marker.position - previous) / sampleRate *
                                         bpmBefore / 60.0);
    sorted.push_back(marker);
    Segment &last = segments.back();
    if (marker.position <= last.start) {
        last.bpm = usableBpm(marker.bpm);
        return;
    }
    const double segmentBeats =
        last.bpm / 60.0 * static_cast<double>(marker.position - last.start) / sampleRate;
    segments.push_back({marker.position, last.beats + segmentBeats, usableBpm(marker.bpm)});
}

void TempoMapIndex::add(TempoMarker marker) {
    if (sorted.empty() || marker.position >= sorted.back().position) {
        extend(marker);
        return;
    }
    sorted.push_back(marker);
    sorted = sortedTempoMarkers(sorted);
    rebuild();
}

int64_t TempoMapIndex::beatsToSamples(double beats) const {
    if (!(beats > 0.0) || !(sampleRate > 0.0)) return 0;
    if (sorted.empty()) return saturatingToInt64(60.0 / usableBpm(baseBpm) * beats * sampleRate);
    if (beats <= 1e-9) return 0;
    // The first segment that reaches `beats` holds the position.
    const auto reaching = std::lower_bound(
        segments.begin() + 1, segments.end(), beats,
        [](const Segment &segment, double wanted) { return segment.beats < wanted; });
    const Segment &segment = *(reaching - 1);
    const double remaining = beats - segment.beats;
    if (reaching - 1 != segments.begin() && remaining <= 1e-9) return segment.start;
    const int64_t offset = saturatingToInt64(remaining * 60.0 / segment.bpm * sampleRate);
    if (offset > std::numeric_limits<int64_t>::max() - segment.start)
        return std::numeric_limits<int64_t>::max();
    return segment.start + offset;
}

double TempoMapIndex::samplesToBeats(int64_t samples) const {
    if (samples < 1 || !(sampleRate > 0.0)) return 0.0;
    if (sorted.empty())
        return static_cast<double>(samples) / sampleRate * usableBpm(baseBpm) / 60.0;
    // Markers at or after `samples` play no part.
    const auto before =
        static_cast<std::size_t>(std::lower_bound(sorted.begin(), sorted.end(), samples,
                                                  [](const TempoMarker &marker, int64_t position) {
                                                      return marker.position < position;
                                                  }) -
                                 sorted.begin());
    if (before == 0) return static_cast<double>(samples) / sampleRate * usableBpm(baseBpm) / 60.0;
    const TempoMarker &last = sorted[before - 1];
    return beatsAtMarker[before - 1] +
           static_cast<double>(samples - last.position) / sampleRate * usableBpm(last.bpm) / 60.0;
}

double gridBeats(GridQuantize grid, TimeSignature meter) {
    switch (grid) {
    case GridQuantize::Off: return 0.0;
    case GridQuantize::Quarter: return 1.0;
    case GridQuantize::Eighth: return 0.5;
    case GridQuantize::Sixteenth: return 0.25;
    case GridQuantize::Bar: return beatsPerBar(meter);
    case GridQuantize::QuarterTriplet: return 2.0 / 3.0;
    case GridQuantize::EighthTriplet: return 1.0 / 3.0;
    case GridQuantize::SixteenthTriplet: return 1.0 / 6.0;
    }
    return 1.0;
}

int64_t quantizeSamples(int64_t position, GridQuantize grid, float swing, double sampleRate,
                        const std::vector<TempoMarker> &tempoMarkers, double baseBpm,
                        const std::vector<MeterMarker> &meterMarkers, TimeSignature baseMeter) {
    if (grid == GridQuantize::Off) return position;
    const auto sorted = sortedTempoMarkers(tempoMarkers);
    return quantizeSamplesSorted(position, grid, swing, sampleRate, sorted, baseBpm, meterMarkers,
                                 baseMeter);
}

int64_t quantizeSamplesSorted(int64_t position, GridQuantize grid, float swing, double sampleRate,
                              std::span<const TempoMarker> sortedTempoMarkers, double baseBpm,
                              const std::vector<MeterMarker> &meterMarkers,
                              TimeSignature baseMeter) {
    if (grid == GridQuantize::Off) return position;
    const double cell = gridBeats(grid, meterAtPosition(position, meterMarkers, baseMeter));
    if (!(cell > 0.0)) return position;
    const double beat =
        samplesToMusicalBeatsSorted(position, sampleRate, sortedTempoMarkers, baseBpm);
    const auto toSamples = [&](double target) {
        return musicalBeatsToSamplesSorted(std::max(target, 0.0), sampleRate, sortedTempoMarkers,
                                           baseBpm);
    };
    if (swing > 0.0f) {
        const double half = cell / 2.0;
        const double k = std::floor(beat / half + 1e-9);
        if (k > 0.0 && std::fmod(k, 2.0) == 1.0)
            return toSamples(half * (k - 1.0) +
                             cell * (0.5 + 0.5 * std::min(static_cast<double>(swing), 1.0)));
    }
    return toSamples(cell * std::round(beat / cell));
}

int64_t quantizeLaunchPosition(int64_t position, LaunchQuantize quantize, int64_t beatSamples,
                               int64_t barSamples) {
    int64_t unit = 0;
    switch (quantize) {
    case LaunchQuantize::Immediate: return position;
    case LaunchQuantize::OneBeat: unit = beatSamples; break;
    case LaunchQuantize::OneBar: unit = barSamples; break;
    case LaunchQuantize::EightBars:
        unit = barSamples > std::numeric_limits<int64_t>::max() / 8
                   ? std::numeric_limits<int64_t>::max()
                   : barSamples * 8;
        break;
    default: return position;
    }
    unit = std::max<int64_t>(unit, 1);
    const int64_t boundary = (position / unit) * unit;
    if (boundary > std::numeric_limits<int64_t>::max() - unit)
        return std::numeric_limits<int64_t>::max();
    return boundary + unit;
}

ClipWarpTable buildClipWarpTable(const Clip &clip) {
    ClipWarpTable table;
    table.sourceOffset = static_cast<double>(clip.sourceOffset);
    int64_t length = clip.length;
    if (length < 1) length = clip.audioFrameCount();
    if (length < 1) return table;
    table.length = length;
    using Point = ClipWarpTable::Point;
    auto &points = table.points;
    const double ratio = std::max(clip.stretchRatio, 0.01);
    points[table.count++] = Point{0.0, static_cast<double>(clip.sourceOffset)};
    for (std::size_t i = 0; i < clip.warpMarkers.size() && i < ClipWarpTable::maxWarpMarkers; ++i)
        points[table.count++] = Point{static_cast<double>(clip.warpMarkers[i].dest),
                                      static_cast<double>(clip.warpMarkers[i].source)};
    points[table.count++] =
        Point{static_cast<double>(length), static_cast<double>(clip.sourceOffset + length) * ratio};
    // Insertion sort: stable, allocation-free, and the table is tiny.
    for (std::size_t i = 1; i < table.count; ++i)
        for (std::size_t j = i; j > 0 && points[j].timeline < points[j - 1].timeline; --j)
            std::swap(points[j], points[j - 1]);
    return table;
}

double ClipWarpTable::sourceAt(int64_t t) const {
    if (length < 1) return sourceOffset;
    const double clamped = static_cast<double>(std::clamp<int64_t>(t, 0, length));
    for (std::size_t i = 1; i < count; ++i) {
        if (points[i].timeline >= clamped) {
            const Point &a = points[i - 1];
            const Point &b = points[i];
            return a.source + (b.source - a.source) * (clamped - a.timeline) /
                                  std::max(b.timeline - a.timeline, 1.0);
        }
    }
    return points[count - 1].source;
}

double clipTimelineToSource(const Clip &clip, int64_t t) {
    return buildClipWarpTable(clip).sourceAt(t);
}

} // namespace orvane

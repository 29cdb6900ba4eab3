#include "core/engine/Engine.h"

#include "core/model/MusicalTime.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace orvane {

int64_t Engine::beatsToSamples(double beats) const {
    std::lock_guard lock(projectMutex);
    return musicalBeatsToSamples(beats, sampleRate.load(), project.tempoMarkers, project.tempoBpm);
}

double Engine::samplesToBeats(int64_t samples) const {
    std::lock_guard lock(projectMutex);
    return samplesToMusicalBeats(samples, sampleRate.load(), project.tempoMarkers,
                                 project.tempoBpm);
}

TimeSignature Engine::timeSignatureAt(int64_t position) const {
    std::lock_guard lock(projectMutex);
    return meterAtPosition(position, project.meterMarkers, project.timeSignature);
}

int64_t Engine::barLengthSamplesAt(int64_t position) const {
    std::lock_guard lock(projectMutex);
    return musicalBeatsToSamples(beatsPerBar(timeSignatureAt(position)), sampleRate.load(),
                                 project.tempoMarkers, project.tempoBpm);
}

int64_t Engine::barLengthSamples() const { return barLengthSamplesAt(transport.playhead.load()); }

void Engine::applyTempoAtPosition(int64_t position) {
    std::lock_guard lock(projectMutex);
    const double inForce = tempoAtPosition(position, project.tempoMarkers, project.tempoBpm);
    if (std::abs(inForce - tempo.load()) > 0.01) {
        tempo.store(usableBpm(inForce));
        project.tempoBpm = inForce;
    }
}

void Engine::applyMeterAtPosition(int64_t position) {
    std::lock_guard lock(projectMutex);
    const TimeSignature inForce = timeSignatureAt(position);
    meter.store(inForce.packed());
    project.timeSignature = inForce;
}

double Engine::gridBeats(GridQuantize grid) const {
    return orvane::gridBeats(grid, currentMeter());
}

int64_t Engine::quantizeSamples(int64_t position, GridQuantize grid, float swing) const {
    std::lock_guard lock(projectMutex);
    return orvane::quantizeSamples(position, grid, swing, sampleRate.load(), project.tempoMarkers,
                                   project.tempoBpm, project.meterMarkers, project.timeSignature);
}

int64_t Engine::quantizeLaunchSamples(int64_t position, LaunchQuantize quantize) const {
    std::lock_guard lock(projectMutex);
    return quantizeLaunchPosition(position, quantize, beatsToSamples(1.0), barLengthSamples());
}

int64_t Engine::beatsToSamplesRt(const GraphSnapshot &snapshot, double beats) {
    return musicalBeatsToSamplesSorted(beats, snapshot.sampleRate, snapshot.sortedTempoMarkers,
                                       snapshot.tempoBpm);
}

int64_t Engine::barLengthSamplesRt(const GraphSnapshot &snapshot, int64_t position) {
    const TimeSignature inForce =
        meterAtPosition(position, snapshot.meterMarkers, snapshot.timeSignature);
    return beatsToSamplesRt(snapshot, beatsPerBar(inForce));
}

int64_t Engine::quantizeLaunchSamplesRt(const GraphSnapshot &snapshot, int64_t position,
                                        LaunchQuantize quantize) const {
    return quantizeLaunchPosition(position, quantize, beatsToSamplesRt(snapshot, 1.0),
                                  barLengthSamplesRt(snapshot, transport.playhead.load()));
}

namespace {

/// The first meter marker after `after` (or at it, when `inclusive`) and no later than
/// `limit`, in position order whatever order the document keeps them in; null when none.
const MeterMarker *nextMeterMarker(const std::vector<MeterMarker> &markers, int64_t after,
                                   bool inclusive, int64_t limit) {
    const MeterMarker *next = nullptr;
    for (const auto &marker : markers) {
        const bool later = inclusive ? marker.position >= after : marker.position > after;
        if (!later || marker.position > limit) continue;
        if (!next || marker.position < next->position) next = &marker;
    }
    return next;
}

double quarterBpmAt(const GraphSnapshot &snapshot, int64_t position) {
    double bpm = snapshot.tempoBpm;
    for (const auto &marker : snapshot.sortedTempoMarkers) {
        if (marker.position > position) break;
        bpm = marker.bpm;
    }
    return usableBpm(bpm);
}

} // namespace

MusicalPosition Engine::musicalPositionRt(int64_t position) const noexcept {
    MusicalPosition where;
    const auto snapshot = publication.graphs.read();
    if (!snapshot) return where;
    const auto beatsAt = [&](int64_t samples) {
        return samplesToMusicalBeatsSorted(samples, snapshot->sampleRate,
                                           snapshot->sortedTempoMarkers, snapshot->tempoBpm);
    };
    // A meter change starts a new bar, also where the previous bar was not complete.
    constexpr double slack = 1e-9;
    TimeSignature meter = usableMeter(snapshot->timeSignature);
    double segmentStart = 0.0;
    int64_t barsBefore = 0;
    int64_t from = 0;
    bool inclusive = true;
    while (const MeterMarker *marker =
               nextMeterMarker(snapshot->meterMarkers, from, inclusive, position)) {
        const double markerBeats = beatsAt(marker->position);
        const double bars = (markerBeats - segmentStart) / beatsPerBar(meter);
        barsBefore += static_cast<int64_t>(std::ceil(bars - slack));
        meter = usableMeter(TimeSignature{marker->num, marker->den});
        segmentStart = markerBeats;
        from = marker->position;
        inclusive = false;
    }
    const double quarters = beatsAt(position);
    const double barBeats = beatsPerBar(meter);
    const auto barsIn = std::max<int64_t>(
        0, static_cast<int64_t>(std::floor((quarters - segmentStart) / barBeats + slack)));
    const double barStart = segmentStart + static_cast<double>(barsIn) * barBeats;
    const double beatUnit = 4.0 / meter.denominator;
    const double beatsIntoBar = std::max(0.0, (quarters - barStart) / beatUnit);
    const double wholeBeats = std::floor(beatsIntoBar + slack);
    where.bar = static_cast<int32_t>(std::min<int64_t>(barsBefore + barsIn + 1, INT32_MAX));
    where.beat = static_cast<int32_t>(wholeBeats) + 1;
    where.beatFraction = std::clamp(beatsIntoBar - wholeBeats, 0.0, 1.0 - 1e-12);
    where.quarterBeats = quarters;
    where.barStartQuarterBeats = barStart;
    where.meter = meter;
    where.quarterBpm = quarterBpmAt(*snapshot, position);
    return where;
}

int64_t Engine::quarterBeatsToSamplesRt(double quarterBeats) const noexcept {
    const auto snapshot = publication.graphs.read();
    if (!snapshot) return 0;
    // The conversion truncates: a position that lands on a whole frame must not fall a frame
    // short through the rounding of the tempo map's arithmetic.
    const double forgiving = quarterBeats + 1e-9 * std::max(1.0, std::abs(quarterBeats));
    return beatsToSamplesRt(*snapshot, forgiving);
}

} // namespace orvane

#include "core/engine/Engine.h"

#include "core/model/MusicalTime.h"

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

} // namespace orvane

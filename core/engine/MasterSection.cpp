#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace orvane {

namespace {

constexpr float downbeatOmega = 11938.053f; // 1900 Hz
constexpr float beatOmega = 7853.982f;      // 1250 Hz

} // namespace

// --- Audio thread -----------------------------------------------------------------------

void Engine::renderMetronomeRt(const GraphSnapshot &snapshot, float *const *channels,
                               int32_t channelCount, int32_t frames, int64_t position) {
    if (!channels || channelCount < 1 || !channels[0] || !metronomeOn.load()) return;
    float *left = channels[0];
    float *right = channelCount >= 2 ? channels[1] : nullptr;
    const float volume = std::clamp(snapshot.metronomeVolume, 0.0f, 2.0f);
    const double rate = snapshot.sampleRate > 0.0 ? snapshot.sampleRate : 48000.0;
    const int64_t beatLength = std::max<int64_t>(beatsToSamplesRt(snapshot, 1.0), 1);
    const int64_t clickLength =
        std::max<int64_t>(static_cast<int64_t>(std::floor(rate * 0.012)), 1);
    const int64_t beatsInBar = std::max<int32_t>(currentMeter().numerator, 1);
    for (int32_t i = 0; i < frames; ++i) {
        const int64_t at = position + i;
        const int64_t beat = at / beatLength;
        const int64_t phase = at % beatLength;
        if (phase < 0 || phase >= clickLength) continue;
        const float seconds = static_cast<float>(static_cast<double>(phase) / rate);
        const float envelope = 1.0f - static_cast<float>(phase) / static_cast<float>(clickLength);
        const bool downbeat = beat % beatsInBar == 0;
        const float click = envelope * volume * (downbeat ? 0.3f : 0.17f) *
                            std::sin(seconds * (downbeat ? downbeatOmega : beatOmega));
        left[i] += click;
        if (right) right[i] += click;
    }
}

void Engine::updateMasterMeters(const GraphSnapshot &snapshot, const float *left,
                                const float *right, int32_t frames) {
    if (!left || !right || frames < 1) return;
    float peakLeft = 0.0f;
    float peakRight = 0.0f;
    double sumOfSquares = 0.0;
    for (int32_t i = 0; i < frames; ++i) {
        peakLeft = std::max(peakLeft, std::abs(left[i]));
        peakRight = std::max(peakRight, std::abs(right[i]));
        const double mid = (static_cast<double>(left[i]) + right[i]) / 2.0;
        sumOfSquares += mid * mid;
    }
    masterPeakL.store(peakLeft, std::memory_order_relaxed);
    masterPeakR.store(peakRight, std::memory_order_relaxed);
    const double meanSquare = sumOfSquares / frames;
    const double rate = std::max(snapshot.sampleRate, 1.0);
    const double smoothing = 1.0 - std::exp(-(frames / rate) * 1000.0 / 400.0);
    loudnessState += static_cast<float>(smoothing * (meanSquare - loudnessState));
    const float loudness =
        loudnessState > 1e-12f ? 10.0f * std::log10(loudnessState) - 0.691f : -60.0f;
    masterLoudness.store(std::clamp(loudness, -70.0f, 0.0f), std::memory_order_relaxed);
}

void Engine::pushFlashback(const GraphSnapshot &snapshot, const float *left, const float *right,
                           int32_t frames) {
    FlashbackRing *ring = snapshot.flashback.get();
    if (!ring || !left || !right || frames < 1 || ring->capacity == 0) return;
    uint64_t write = ring->writePos.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < frames; ++i) {
        ring->left[write].store(left[i], std::memory_order_relaxed);
        ring->right[write].store(right[i], std::memory_order_relaxed);
        write = (write + 1) % ring->capacity;
    }
    const uint64_t filled = ring->filled.load(std::memory_order_relaxed);
    ring->filled.store(std::min(filled + static_cast<uint64_t>(frames), ring->capacity),
                       std::memory_order_release);
    ring->writePos.store(write, std::memory_order_release);
}

// --- Main thread --------------------------------------------------------------------------

uint64_t Engine::flashbackAvailableSamples() const {
    std::lock_guard lock(projectMutex);
    if (!flashback) return 0;
    return std::min(flashback->capacity, flashback->filled.load(std::memory_order_acquire));
}

bool Engine::readFlashback(uint64_t frames, std::vector<float> &out) const {
    std::shared_ptr<FlashbackRing> ring;
    {
        std::lock_guard lock(projectMutex);
        ring = flashback;
    }
    if (frames == 0 || !ring || ring->capacity == 0) return false;
    if (ring->filled.load(std::memory_order_acquire) < frames) return false;
    out.resize(static_cast<std::size_t>(frames) * 2);
    const uint64_t write = ring->writePos.load(std::memory_order_acquire);
    for (uint64_t i = 0; i < frames; ++i) {
        const uint64_t index = (write - frames + ring->capacity + i) % ring->capacity;
        out[static_cast<std::size_t>(2 * i)] = ring->left[index].load(std::memory_order_relaxed);
        out[static_cast<std::size_t>(2 * i + 1)] =
            ring->right[index].load(std::memory_order_relaxed);
    }
    return true;
}

void Engine::resizeFlashbackBuffer(int32_t seconds) {
    std::lock_guard lock(projectMutex);
    const int32_t clamped = std::clamp(seconds, 5, 120);
    project.flashbackBufferSeconds = clamped;
    const double rate = sampleRate.load() > 0.0 ? sampleRate.load() : project.sampleRate;
    // A new ring reaches the audio thread with the next snapshot; the old one is freed here
    // once no block uses it.
    flashback = std::make_shared<FlashbackRing>(FlashbackRing::framesFor(rate, clamped));
    publishGraph();
}

void Engine::tickTempoFollower(double estimate) {
    if (!(estimate > 0.0)) return;
    std::lock_guard lock(projectMutex);
    const double smoothing = std::clamp<double>(project.tempoFollowerSmoothing, 0.01, 1.0);
    followedBpm =
        followedBpm <= 0.0 ? estimate : followedBpm * (1.0 - smoothing) + smoothing * estimate;
    project.tempoBpm = followedBpm;
    tempo.store(followedBpm);
}

// The main thread never touches the recording state: its calls become requests.

bool Engine::pushRecordingRequest(const Request &request) {
    if (pushRequest(RequestProducer::MainThread, request)) return true;
    // A full ring with no device to empty it: carry the waiting requests out here.
    return drainRequestsWhileIdle() && pushRequest(RequestProducer::MainThread, request);
}

void Engine::beginMidiRecording(int64_t start) {
    pushRecordingRequest(Request{RequestType::beginMidiRecording, start, 0, 0});
}

void Engine::recordMidiNoteOn(int32_t note, float velocity, int64_t position) {
    pushRecordingRequest(
        Request{RequestType::recordMidiNoteOn, note, velocity, static_cast<double>(position)});
}

void Engine::recordMidiNoteOff(int32_t note, float velocity, int64_t position) {
    pushRecordingRequest(
        Request{RequestType::recordMidiNoteOff, note, velocity, static_cast<double>(position)});
}

std::vector<MidiNote> Engine::endMidiRecording(int64_t end) {
    const uint64_t take = midiTakesRequested.fetch_add(1) + 1;
    if (!pushRecordingRequest(
            Request{RequestType::endMidiRecording, end, static_cast<double>(take), 0}))
        return {};
    // Wait for the rendering thread to close the take, or close it here when nothing renders.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (midiTakesHandedOver.load(std::memory_order_acquire) < take) {
        if (!drainRequestsWhileIdle()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (std::chrono::steady_clock::now() > giveUp) return {};
    }
    return std::vector<MidiNote>(handOverNotes.begin(), handOverNotes.begin() + handOverCount);
}

// --- Recording on the rendering thread --------------------------------------------------

void Engine::beginMidiRecordingRt(int64_t start) {
    recordedCount = 0;
    midiRecordStart = start;
    noteOnPending.fill(false);
    midiRecordActive.store(true);
}

void Engine::recordNoteOnRt(int32_t note, int64_t position) {
    if (note < 0 || note >= 128) return;
    noteOnPending[static_cast<std::size_t>(note)] = true;
    noteOnPosition[static_cast<std::size_t>(note)] = position;
}

void Engine::recordNoteOffRt(int32_t note, float velocity, int64_t position) {
    if (note < 0 || note > 127) return;
    const auto index = static_cast<std::size_t>(note);
    if (!noteOnPending[index]) return;
    noteOnPending[index] = false;
    if (position <= noteOnPosition[index] || recordedCount >= maxRecordedNotes) return;
    MidiNote &recorded = recordedNotes[static_cast<std::size_t>(recordedCount++)];
    recorded.pitch = note;
    recorded.velocity = std::clamp(velocity, 0.05f, 1.0f);
    recorded.start = noteOnPosition[index] - midiRecordStart;
    recorded.length = position - noteOnPosition[index];
    recorded.expression = 1.0f;
    recorded.bendCents = 0.0f;
}

void Engine::endMidiRecordingRt(int64_t end, uint64_t take) {
    midiRecordActive.store(false);
    for (int32_t note = 0; note < 128; ++note)
        recordNoteOffRt(note, heldVelocity[static_cast<std::size_t>(note)], end);
    std::copy_n(recordedNotes.begin(), recordedCount, handOverNotes.begin());
    handOverCount = recordedCount;
    recordedCount = 0;
    midiTakesHandedOver.store(take, std::memory_order_release);
}

} // namespace orvane

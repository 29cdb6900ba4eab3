#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"
#include "core/rt/RtThread.h"

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
    if (!channels || channelCount < 1 || !channels[0] || !transport.metronomeOn.load()) return;
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

// --- Main thread --------------------------------------------------------------------------

uint64_t Engine::flashbackAvailableSamples() const {
    std::lock_guard lock(projectMutex);
    const LatestFramesRing *ring = publication.builder.flashback.get();
    return ring ? ring->available() : 0;
}

bool Engine::readFlashback(uint64_t frames, std::vector<float> &out) const {
    std::shared_ptr<LatestFramesRing> ring;
    {
        std::lock_guard lock(projectMutex);
        ring = publication.builder.flashback;
    }
    if (frames == 0 || !ring || ring->available() < frames) return false;
    // The ring refuses a copy the master lapped; its headroom makes that rare, and a new copy
    // is as recent as the refused one would have been.
    constexpr int attempts = 4;
    for (int attempt = 0; attempt < attempts; ++attempt)
        if (ring->readInterleaved(out, frames)) return true;
    return false;
}

void Engine::resizeFlashbackBuffer(int32_t seconds) {
    std::lock_guard lock(projectMutex);
    const int32_t clamped = std::clamp(seconds, 5, 120);
    project.flashbackBufferSeconds = clamped;
    const double rate = sampleRate.load() > 0.0 ? sampleRate.load() : project.sampleRate;
    // A new ring reaches the audio thread with the next snapshot; the old one is freed here
    // once no block uses it.
    publication.builder.flashback = newFlashbackRing(rate, clamped);
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

namespace {

/// Whether the renderer that owns the engine still renders: a device that stopped calling
/// back without saying so (a stopped server) must not freeze the main thread waiting on it.
class RendererWatch {
  public:
    explicit RendererWatch(const std::atomic<uint64_t> &blocks)
        : blocks_(blocks), seen_(blocks.load()), since_(std::chrono::steady_clock::now()) {}
    /// True once no block has come for longer than the longest period or export block.
    bool stalled() {
        const auto now = std::chrono::steady_clock::now();
        if (const uint64_t blocks = blocks_.load(); blocks != seen_) {
            seen_ = blocks;
            since_ = now;
            return false;
        }
        return now - since_ > std::chrono::seconds(2);
    }

  private:
    const std::atomic<uint64_t> &blocks_;
    uint64_t seen_;
    std::chrono::steady_clock::time_point since_;
};

} // namespace

bool Engine::pushRecordingRequest(const Request &request) {
    expectMainThread("Engine::pushRecordingRequest");
    RendererWatch renderer(blocks.rendered);
    while (!pushRequest(RequestProducer::MainThread, request)) {
        // A full ring: with nothing rendering, carry the waiting requests out here; while a
        // device or an export renders, wait for it to take them.
        if (drainRequestsWhileIdle()) continue;
        if (!renderSlot.anyoneRenders()) return false; // nobody will ever empty the ring
        if (renderer.stalled()) return false;
        std::this_thread::yield();
    }
    return true;
}

bool Engine::beginMidiRecording(int64_t start) {
    return pushRecordingRequest(Request::beginMidiRecording(start));
}

bool Engine::recordMidiNoteOn(int32_t note, float, int64_t position) {
    return pushRecordingRequest(Request::recordNoteOn(note, position));
}

bool Engine::recordMidiNoteOff(int32_t note, float velocity, int64_t position) {
    return pushRecordingRequest(Request::recordNoteOff(note, velocity, position));
}

bool Engine::endMidiRecording(int64_t end, std::vector<MidiNote> &take) {
    take.clear();
    const uint64_t number = midiRecorder.nextTake();
    if (!pushRecordingRequest(Request::endMidiRecording(end, number))) return false;
    // A device or an export that owns the engine closes the take in its next block; without
    // one, this thread closes it. A renderer that stopped rendering never will.
    RendererWatch renderer(blocks.rendered);
    while (!midiRecorder.takeReady(number)) {
        if (drainRequestsWhileIdle()) continue;
        if (renderer.stalled()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    take = midiRecorder.handedOver();
    return true;
}

std::vector<MidiNote> Engine::endMidiRecording(int64_t end) {
    std::vector<MidiNote> take;
    if (!endMidiRecording(end, take)) return {};
    return take;
}

} // namespace orvane

#pragma once

#include "core/model/Project.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace orvane {

struct LiveMidiState;

/// MIDI recording into a fixed table. Only the thread that holds the rendering slot writes
/// the table: the main thread's calls arrive as requests, and a finished take is handed back
/// through a second table published with a release store of its take number.
class MidiRecorder {
  public:
    static constexpr int32_t maxRecordedNotes = 4096;

    std::atomic<bool> active{false};
    int64_t start = 0;
    int32_t count = 0;
    std::array<MidiNote, maxRecordedNotes> notes{};

    void beginRt(int64_t startPosition);
    void noteOnRt(int32_t note, int64_t position);
    void noteOffRt(int32_t note, float velocity, int64_t position);
    /// Closes every held note at `end` with its held velocity and hands the take over.
    void endRt(int64_t end, uint64_t take, const LiveMidiState &live);
    /// The transport jumped back `frames` at the cycle's end. Positions given from then on
    /// are taken that much later, so that a take's notes stay in the order they were played
    /// across the cycle's passes and a note held over the jump keeps its length.
    void cycleWrappedRt(int64_t frames) {
        if (active.load(std::memory_order_relaxed)) cycleOffset += frames;
    }

    /// Main thread: the number of the next take to ask for.
    uint64_t nextTake() { return takesRequested.fetch_add(1) + 1; }
    bool takeReady(uint64_t take) const {
        return takesHandedOver.load(std::memory_order_acquire) >= take;
    }
    /// Main thread, after `takeReady`.
    std::vector<MidiNote> handedOver() const {
        return std::vector<MidiNote>(handOverNotes.begin(), handOverNotes.begin() + handOverCount);
    }
    /// Main thread, after `takeReady`: frames from the take's start to its end, the cycle's
    /// jumps unrolled.
    int64_t handedOverFrames() const { return handOverFrames; }

  private:
    std::array<bool, 128> noteOnPending{};
    std::array<int64_t, 128> noteOnPosition{};
    std::array<MidiNote, maxRecordedNotes> handOverNotes{};
    int32_t handOverCount = 0;
    int64_t handOverFrames = 0;
    int64_t cycleOffset = 0;
    std::atomic<uint64_t> takesRequested{0};
    std::atomic<uint64_t> takesHandedOver{0};
};

} // namespace orvane

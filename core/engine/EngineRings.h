#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace orvane {

/// One request from a producer thread to the audio thread: type byte at 0, `a` at 8,
/// `b` at 16, `c` at 24. Payload fields a request does not use stay zero.
struct Request {
    uint8_t type = 0;
    int64_t a = 0;
    double b = 0.0;
    double c = 0.0;
};
static_assert(sizeof(Request) == 32 && offsetof(Request, a) == 8 && offsetof(Request, b) == 16 &&
                  offsetof(Request, c) == 24,
              "request slots are 32 bytes");

/// One notification from the audio thread to the user-interface tick.
struct Notification {
    uint8_t kind = 0;
    uint64_t id = 0;
    float value = 0.0f;
};
static_assert(sizeof(Notification) == 24 && offsetof(Notification, id) == 8 &&
                  offsetof(Notification, value) == 16,
              "notification slots are 24 bytes");

namespace RequestType {
inline constexpr uint8_t play = 0;
inline constexpr uint8_t stop = 1;
inline constexpr uint8_t pause = 2;
inline constexpr uint8_t recordToggle = 3;
inline constexpr uint8_t setTempo = 5;
inline constexpr uint8_t setCycle = 6;
inline constexpr uint8_t locate = 7;
inline constexpr uint8_t launchSessionClip = 12;
inline constexpr uint8_t launchScene = 13;
inline constexpr uint8_t releaseSessionClip = 14;
inline constexpr uint8_t midiNoteOn = 16;
inline constexpr uint8_t midiNoteOff = 17;
inline constexpr uint8_t midiPitchBend = 18;
inline constexpr uint8_t midiPressure = 19;
// The main thread's MIDI recording calls, carried out by the rendering thread so that the
// recording state has one writer: `a` = note or position, `b` = velocity or take number,
// `c` = position.
inline constexpr uint8_t beginMidiRecording = 20;
inline constexpr uint8_t recordMidiNoteOn = 21;
inline constexpr uint8_t recordMidiNoteOff = 22;
inline constexpr uint8_t endMidiRecording = 23;
// Empties the session table and leaves session mode; sent when the project is replaced.
inline constexpr uint8_t resetSession = 24;
} // namespace RequestType

namespace NotificationKind {
inline constexpr uint8_t transport = 0;
inline constexpr uint8_t deviceUnderrun = 1;
inline constexpr uint8_t sessionClipLaunched = 2;
inline constexpr uint8_t sceneLaunched = 3;
inline constexpr uint8_t sessionClipEnded = 4;
} // namespace NotificationKind

/// Fixed ring of 1024 slots for exactly one producer thread and one consumer thread.
/// It is empty when the indices are equal and full when one more push would make them
/// equal, so it holds at most 1023 entries; a push into a full ring drops the entry.
template <typename Slot> class SpscRing {
  public:
    static constexpr uint64_t slotCount = 1024;
    static constexpr uint64_t indexMask = slotCount - 1;

    /// Producer side. Returns false when the ring was full and the entry was dropped.
    bool push(const Slot &slot) {
        const uint64_t write = writeIndex.load(std::memory_order_relaxed);
        const uint64_t next = (write + 1) & indexMask;
        if (next == readIndex.load(std::memory_order_acquire)) return false;
        slots[write] = slot;
        writeIndex.store(next, std::memory_order_release);
        return true;
    }

    /// Consumer side. Returns false when the ring is empty.
    bool pop(Slot &slot) {
        const uint64_t read = readIndex.load(std::memory_order_relaxed);
        if (read == writeIndex.load(std::memory_order_acquire)) return false;
        slot = slots[read];
        readIndex.store((read + 1) & indexMask, std::memory_order_release);
        return true;
    }

    /// Entries waiting; exact only when called from one of the two sides.
    uint64_t size() const {
        return (writeIndex.load(std::memory_order_acquire) -
                readIndex.load(std::memory_order_acquire)) &
               indexMask;
    }

  private:
    std::array<Slot, slotCount> slots{};
    std::atomic<uint64_t> readIndex{0};
    std::atomic<uint64_t> writeIndex{0};
};

using RequestRing = SpscRing<Request>;
using NotificationRing = SpscRing<Notification>;

/// Every thread that sends requests owns one ring; the audio thread drains them in this
/// order at the top of every block, so no two producers ever share a ring's write index.
enum class RequestProducer : uint8_t { MainThread = 0, MidiInput = 1, SecondMidiInput = 2 };
inline constexpr std::size_t requestProducerCount = 3;

} // namespace orvane

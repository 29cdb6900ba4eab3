#pragma once

#include "core/engine/Engine.h"
#include "device/TransportSyncSettings.h"

#include <array>
#include <cstdint>

namespace orvane {

inline constexpr int32_t midiClocksPerQuarter = 24;
inline constexpr uint8_t midiClockByte = 0xF8;
inline constexpr uint8_t midiStartByte = 0xFA;
inline constexpr uint8_t midiContinueByte = 0xFB;
inline constexpr uint8_t midiStopByte = 0xFC;
inline constexpr uint8_t midiSongPositionByte = 0xF2;

/// One message of the clock output, `frame` frames into the period.
struct ClockMessage {
    int32_t frame = 0;
    std::array<uint8_t, 3> bytes{};
    uint8_t size = 1;
};

/// The song position pointer for a timeline position: whole sixteenth notes, held to the
/// 14 bits the message carries.
int32_t songPositionSixteenths(double quarterBeats);

/// Writes MIDI clock for what the engine rendered: a clock at every 24th of a quarter note of
/// the tempo map, at its own frame of the period; start, continue and stop as the transport
/// starts and stops; a song position after every jump (a locate, or the cycle wrapping).
///
/// Threads: the audio thread, after each period has rendered. Allocates nothing.
class MidiClockWriter {
  public:
    /// At most this many messages a period: a 4096-frame period at 999 BPM and 8 kHz holds
    /// far fewer clocks.
    static constexpr std::size_t maxMessagesPerPeriod = 256;
    using Messages = std::array<ClockMessage, maxMessagesPerPeriod>;

    /// `blockStart` is where the period rendered from once its requests were carried out;
    /// `playing` whether the transport rolled through it. Returns how many messages of `out`
    /// the period carries, in frame order.
    std::size_t periodRt(const Engine &engine, bool playing, int64_t blockStart, int32_t frames,
                         Messages &out) noexcept;
    /// Forgets the previous period: the next one is a first one again (sends nothing for the
    /// position it starts at unless it starts playing).
    void resetRt() noexcept { known = false; }

  private:
    bool known = false;
    bool wasPlaying = false;
    int64_t expectedStart = 0;
};

/// Turns a followed transport's state at the start of a period into the engine's requests,
/// so that the period renders from exactly the followed frame.
///
/// Threads: the audio thread, before each period renders; the only user of
/// `RequestProducer::DeviceSync`, which it shares with `MidiClockFollower`.
class TransportFollower {
  public:
    void periodRt(Engine &engine, bool rolling, int64_t frame) noexcept;
    void resetRt() noexcept { known = false; }

  private:
    bool known = false;
    bool lastRolling = false;
    int64_t lastFrame = 0;
};

/// Follows an external MIDI clock: start, stop, continue and song position move the engine's
/// transport; the clocks give the sender's tempo.
///
/// Threads: `messageRt` on the audio thread; `measuredBpm` anywhere.
class MidiClockFollower {
  public:
    /// One system real-time or song position message, `frameTime` the server's running frame
    /// count at which it arrived.
    void messageRt(Engine &engine, const uint8_t *bytes, std::size_t size, int64_t frameTime,
                   double sampleRate) noexcept;
    /// The sender's tempo over the last 24 clocks, 0 until 24 clocks have arrived in a row.
    double measuredBpm() const { return bpm.load(std::memory_order_relaxed); }
    void resetRt() noexcept { clocksSeen = 0; }

  private:
    std::array<int64_t, midiClocksPerQuarter + 1> clockTimes{};
    std::size_t clocksSeen = 0;
    std::atomic<double> bpm{0.0};
};

} // namespace orvane

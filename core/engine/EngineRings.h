#pragma once

#include "core/rt/SpscRing.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace orvane {

enum class RequestType : uint8_t {
    play = 0,
    stop = 1,
    pause = 2,
    recordToggle = 3,
    setTempo = 5,
    setCycle = 6,
    locate = 7,
    launchSessionClip = 12,
    launchScene = 13,
    releaseSessionClip = 14,
    midiNoteOn = 16,
    midiNoteOff = 17,
    midiPitchBend = 18,
    midiPressure = 19,
    // The main thread's MIDI recording calls, carried out by the rendering thread so that the
    // recording state has one writer.
    beginMidiRecording = 20,
    recordMidiNoteOn = 21,
    recordMidiNoteOff = 22,
    endMidiRecording = 23,
    /// Pressure of every key held on one channel, as a keyboard without per-key sensors sends.
    midiChannelPressure = 24,
    /// Empties the session table and leaves session mode; sent when the project is replaced.
    resetSession = 25,
    /// Live keys sound also on one MIDI track that is not armed (0: on armed tracks only).
    auditionTrack = 26,
    /// A control change from a source outside the audio server: it plays nothing, and moves
    /// what a learned mapping ties to it (or is learned).
    midiControlChange = 27,
};

enum class NotificationKind : uint8_t {
    transport = 0,
    deviceUnderrun = 1,
    sessionClipLaunched = 2,
    sceneLaunched = 3,
    sessionClipEnded = 4,
    /// A track produced a sample that is not a finite number; `id` is the track, and the
    /// track was silenced for that block. Posted once per track until the next publication.
    trackSilenced = 5,
};

/// One request from a producer thread to the audio thread: type byte at 0, `a` at 8,
/// `b` at 16, `c` at 24. Payload fields a request does not use stay zero. Build requests
/// with the named constructors and read them with the accessors: the meaning of `a`, `b`
/// and `c` changes with the type.
struct Request {
    RequestType type = RequestType::play;
    int64_t a = 0;
    double b = 0.0;
    double c = 0.0;

    static constexpr Request play() { return {RequestType::play}; }
    /// Stops and rewinds to 0.
    static constexpr Request stop() { return {RequestType::stop}; }
    /// Stops where the playhead is.
    static constexpr Request pause() { return {RequestType::pause}; }
    static constexpr Request recordToggle() { return {RequestType::recordToggle}; }
    static constexpr Request setTempo(double bpm) { return {RequestType::setTempo, 0, bpm}; }
    static constexpr Request setCycle(int64_t start, int64_t end, bool enabled) {
        return {RequestType::setCycle, end, enabled ? 1.0 : 0.0, static_cast<double>(start)};
    }
    static constexpr Request locate(int64_t samples) {
        return {RequestType::locate, 0, static_cast<double>(samples)};
    }
    static constexpr Request launchClip(uint64_t clipId) {
        return {RequestType::launchSessionClip, static_cast<int64_t>(clipId)};
    }
    static constexpr Request launchScene(uint64_t sceneId) {
        return {RequestType::launchScene, static_cast<int64_t>(sceneId)};
    }
    /// The piano roll plays its notes through the live keys on the track of the clip it edits.
    static constexpr Request auditionOn(uint64_t trackId) {
        return {RequestType::auditionTrack, static_cast<int64_t>(trackId)};
    }
    /// Gate mode: the key that launched the clip went up.
    static constexpr Request releaseClip(uint64_t clipId) {
        return {RequestType::releaseSessionClip, static_cast<int64_t>(clipId)};
    }
    /// `velocity` 0..1; a velocity of 0 does nothing, as the table of requests says.
    static constexpr Request noteOn(int32_t channel, int32_t note, double velocity) {
        return {RequestType::midiNoteOn, channelAndNote(channel, note), velocity};
    }
    static constexpr Request noteOff(int32_t channel, int32_t note) {
        return {RequestType::midiNoteOff, channelAndNote(channel, note)};
    }
    /// Bends the last key pressed on `channel`, in cents (-200..+200).
    static constexpr Request pitchBend(int32_t channel, double cents) {
        return {RequestType::midiPitchBend, channel & 15, 0.0, cents};
    }
    /// Pressure 0..1 of one key.
    static constexpr Request notePressure(int32_t note, double pressure) {
        return {RequestType::midiPressure, note & 127, pressure};
    }
    /// Pressure 0..1 of every key held on `channel`.
    static constexpr Request channelPressure(int32_t channel, double pressure) {
        return {RequestType::midiChannelPressure, channel & 15, pressure};
    }

    /// Controller `controller` (0..127) of `channel` set to `value` (0..127).
    static constexpr Request controlChange(int32_t channel, int32_t controller, int32_t value) {
        return {RequestType::midiControlChange, channel & 15, static_cast<double>(controller & 127),
                static_cast<double>(value & 127)};
    }

    static constexpr Request resetSession() { return {RequestType::resetSession}; }

    static constexpr Request beginMidiRecording(int64_t start) {
        return {RequestType::beginMidiRecording, start};
    }
    static constexpr Request recordNoteOn(int32_t note, int64_t position) {
        return {RequestType::recordMidiNoteOn, note, 0.0, static_cast<double>(position)};
    }
    static constexpr Request recordNoteOff(int32_t note, float velocity, int64_t position) {
        return {RequestType::recordMidiNoteOff, note, velocity, static_cast<double>(position)};
    }
    static constexpr Request endMidiRecording(int64_t end, uint64_t take) {
        return {RequestType::endMidiRecording, end, static_cast<double>(take)};
    }

    double bpm() const { return b; }
    /// Positions arrive as doubles (a locate may come from any arithmetic); the transport
    /// holds them to the timeline when it applies them.
    double position() const { return b; }
    double cycleStart() const { return c; }
    int64_t cycleEnd() const { return a; }
    bool cycleEnabled() const { return b > 0.5; }
    uint64_t clipId() const { return static_cast<uint64_t>(a); }
    uint64_t sceneId() const { return static_cast<uint64_t>(a); }
    int32_t note() const { return static_cast<int32_t>(a & 127); }
    int32_t channel() const {
        return type == RequestType::midiNoteOn || type == RequestType::midiNoteOff
                   ? static_cast<int32_t>((a >> 8) & 15)
                   : static_cast<int32_t>(a & 15);
    }
    double velocity() const { return b; }
    double bendCents() const { return c; }
    double pressure() const { return b; }

  private:
    static constexpr int64_t channelAndNote(int32_t channel, int32_t note) {
        return static_cast<int64_t>(channel & 15) * 256 + (note & 127);
    }
};
static_assert(sizeof(Request) == 32 && offsetof(Request, a) == 8 && offsetof(Request, b) == 16 &&
                  offsetof(Request, c) == 24,
              "request slots are 32 bytes");

/// One notification from the audio thread to the user-interface tick.
struct Notification {
    NotificationKind kind = NotificationKind::transport;
    uint64_t id = 0;
    float value = 0.0f;
};
static_assert(sizeof(Notification) == 24 && offsetof(Notification, id) == 8 &&
                  offsetof(Notification, value) == 16,
              "notification slots are 24 bytes");

/// 1,023 requests from one producer, or notifications from one block, wait at most.
using RequestRing = SpscRing<Request, 1024>;
using NotificationRing = SpscRing<Notification, 1024>;

/// Every thread that sends requests owns one ring; the audio thread drains them in this
/// order at the top of every block, so no two producers ever share a ring's write index.
/// `DeviceSync`: the device's own period, before it renders, carrying out what a JACK
/// transport or an external MIDI clock it follows asked for.
enum class RequestProducer : uint8_t {
    MainThread = 0,
    MidiInput = 1,
    SecondMidiInput = 2,
    DeviceSync = 3
};
inline constexpr std::size_t requestProducerCount = 4;

} // namespace orvane

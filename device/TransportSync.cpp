#include "device/TransportSync.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

constexpr std::array<std::pair<JackTransportMode, const char *>, 3> jackModeNames{{
    {JackTransportMode::off, "off"},
    {JackTransportMode::lead, "lead"},
    {JackTransportMode::follow, "follow"},
}};
constexpr std::array<std::pair<MidiClockMode, const char *>, 3> clockModeNames{{
    {MidiClockMode::off, "off"},
    {MidiClockMode::out, "out"},
    {MidiClockMode::in, "in"},
}};

/// Song position counts sixteenths in 14 bits.
constexpr int32_t largestSongPosition = 0x3FFF;

/// A clock arriving this long after the previous one starts a new measurement: the sender
/// stopped its clock in between, and the gap is no tempo.
constexpr double clockGapSeconds = 1.0;

ClockMessage single(int32_t frame, uint8_t status) { return {frame, {status, 0, 0}, 1}; }

ClockMessage songPosition(int32_t frame, double quarterBeats) {
    const int32_t sixteenths = songPositionSixteenths(quarterBeats);
    return {frame,
            {midiSongPositionByte, static_cast<uint8_t>(sixteenths & 0x7F),
             static_cast<uint8_t>((sixteenths >> 7) & 0x7F)},
            3};
}

void push(Engine &engine, const Request &request) {
    // A full ring drops the request; the follower compares again next period and repeats it.
    (void)engine.pushRequest(RequestProducer::DeviceSync, request);
}

} // namespace

const char *jackTransportModeName(JackTransportMode mode) {
    for (const auto &[value, name] : jackModeNames)
        if (value == mode) return name;
    return "off";
}

std::optional<JackTransportMode> parseJackTransportMode(std::string_view word) {
    for (const auto &[value, name] : jackModeNames)
        if (word == name) return value;
    return std::nullopt;
}

const char *midiClockModeName(MidiClockMode mode) {
    for (const auto &[value, name] : clockModeNames)
        if (value == mode) return name;
    return "off";
}

std::optional<MidiClockMode> parseMidiClockMode(std::string_view word) {
    for (const auto &[value, name] : clockModeNames)
        if (word == name) return value;
    return std::nullopt;
}

int32_t songPositionSixteenths(double quarterBeats) {
    if (!(quarterBeats > 0.0)) return 0;
    // A position a hair below a sixteenth through rounding still names that sixteenth.
    const double sixteenths = std::floor(quarterBeats * 4.0 + 1e-6);
    return static_cast<int32_t>(std::min(sixteenths, static_cast<double>(largestSongPosition)));
}

// --- MidiClockWriter -------------------------------------------------------------------------

std::size_t MidiClockWriter::periodRt(const Engine &engine, bool playing, int64_t blockStart,
                                      int32_t frames, Messages &out) noexcept {
    std::size_t count = 0;
    const auto add = [&](const ClockMessage &message) {
        if (count < out.size()) out[count++] = message;
    };
    const bool jumped = known && blockStart != expectedStart;
    const auto quartersAtStart = [&] { return engine.musicalPositionRt(blockStart).quarterBeats; };
    if (playing && (!known || !wasPlaying)) {
        if (blockStart == 0) {
            add(single(0, midiStartByte));
        } else {
            add(songPosition(0, quartersAtStart()));
            add(single(0, midiContinueByte));
        }
    } else if (playing && jumped) {
        // A receiver takes a new position only while stopped.
        add(single(0, midiStopByte));
        add(songPosition(0, quartersAtStart()));
        add(single(0, midiContinueByte));
    } else if (!playing && known && wasPlaying) {
        add(single(0, midiStopByte));
        if (jumped) add(songPosition(0, quartersAtStart()));
    } else if (!playing && jumped) {
        add(songPosition(0, quartersAtStart()));
    }
    if (playing && frames > 0) {
        const double ticksAtStart = quartersAtStart() * midiClocksPerQuarter;
        auto tick = static_cast<int64_t>(std::floor(ticksAtStart));
        const auto frameOf = [&](int64_t index) {
            return engine.quarterBeatsToSamplesRt(static_cast<double>(index) /
                                                  midiClocksPerQuarter);
        };
        // The conversions round to whole frames: settle on the first clock at or after the
        // period's start by the frames themselves.
        while (tick > 0 && frameOf(tick - 1) >= blockStart)
            --tick;
        while (frameOf(tick) < blockStart)
            ++tick;
        for (int64_t at = frameOf(tick); at < blockStart + frames; at = frameOf(++tick))
            add(single(static_cast<int32_t>(at - blockStart), midiClockByte));
    }
    known = true;
    wasPlaying = playing;
    expectedStart = playing ? blockStart + frames : blockStart;
    return count;
}

// --- TransportFollower -------------------------------------------------------------------------

void TransportFollower::periodRt(Engine &engine, bool rolling, int64_t frame) noexcept {
    const bool playing = engine.transport.playing.load();
    const int64_t playhead = engine.transport.playhead.load();
    if (rolling) {
        // While the followed transport rolls, every period starts where it says.
        if (playhead != frame) push(engine, Request::locate(frame));
        if (!playing) push(engine, Request::play());
    } else {
        // While it stands, only its own moves count: the user may move Halvora meanwhile.
        const bool stopped = !known || lastRolling;
        if (stopped && playing) push(engine, Request::pause());
        if ((stopped || frame != lastFrame) && playhead != frame)
            push(engine, Request::locate(frame));
    }
    known = true;
    lastRolling = rolling;
    lastFrame = frame;
}

// --- MidiClockFollower -------------------------------------------------------------------------

void MidiClockFollower::messageRt(Engine &engine, const uint8_t *bytes, std::size_t size,
                                  int64_t frameTime, double sampleRate) noexcept {
    if (size == 0 || !bytes) return;
    switch (bytes[0]) {
    case midiStartByte:
        push(engine, Request::locate(0));
        push(engine, Request::play());
        clocksSeen = 0;
        break;
    case midiContinueByte: push(engine, Request::play()); break;
    case midiStopByte: push(engine, Request::pause()); break;
    case midiSongPositionByte:
        if (size >= 3) {
            const int32_t sixteenths = (bytes[1] & 0x7F) | ((bytes[2] & 0x7F) << 7);
            push(engine, Request::locate(engine.quarterBeatsToSamplesRt(sixteenths / 4.0)));
        }
        break;
    case midiClockByte: {
        const std::size_t slots = clockTimes.size();
        if (clocksSeen > 0) {
            const int64_t previous = clockTimes[(clocksSeen - 1) % slots];
            if (frameTime <= previous ||
                static_cast<double>(frameTime - previous) > clockGapSeconds * sampleRate)
                clocksSeen = 0;
        }
        clockTimes[clocksSeen % slots] = frameTime;
        ++clocksSeen;
        if (clocksSeen >= slots) {
            const int64_t quarterAgo = clockTimes[(clocksSeen - slots) % slots];
            const double quarterFrames = static_cast<double>(frameTime - quarterAgo);
            if (quarterFrames > 0.0)
                bpm.store(60.0 * sampleRate / quarterFrames, std::memory_order_relaxed);
        }
        break;
    }
    default: break;
    }
}

} // namespace orvane

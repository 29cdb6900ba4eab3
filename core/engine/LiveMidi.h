#pragma once

#include <array>
#include <cstdint>

namespace orvane {

/// The keys played live, as the rendering thread last heard them. Requests change it at the
/// start of a block; MIDI events of a device block change it at their frame, and
/// `soundFrom`/`soundUntil` say which frames of the current block each key sounds.
struct LiveMidiState {
    std::array<float, 128> heldVelocity{};
    std::array<float, 128> noteBend{};
    std::array<float, 128> notePressure{};
    /// Channel of each key's last note-on.
    std::array<uint8_t, 128> noteChannel{};
    std::array<int32_t, 16> lastNoteOnChannel{};
    /// A MIDI track the keys sound on although it is not armed; 0 for none.
    uint64_t auditionTrackId = 0;

    /// Within the current block: the key sounds on frames [soundFrom, soundUntil) at
    /// `blockVelocity`, which outlives a release inside the block.
    std::array<int32_t, 128> soundFrom{};
    std::array<int32_t, 128> soundUntil{};
    std::array<float, 128> blockVelocity{};

    LiveMidiState() {
        notePressure.fill(1.0f);
        lastNoteOnChannel.fill(-1);
    }

    static constexpr float audibleVelocity = 0.001f;

    bool held(int32_t note) const { return heldVelocity[note & 127] > audibleVelocity; }

    /// Keys held from the previous block sound through this one until released.
    void beginBlockRt(int32_t frames) {
        for (std::size_t note = 0; note < 128; ++note) {
            blockVelocity[note] = heldVelocity[note];
            soundFrom[note] = 0;
            soundUntil[note] = heldVelocity[note] > audibleVelocity ? frames : 0;
        }
    }

    void noteOnRt(int32_t channel, int32_t note, float velocity, int32_t frame, int32_t frames) {
        const auto key = static_cast<std::size_t>(note & 127);
        const bool sounding = soundUntil[key] > soundFrom[key];
        heldVelocity[key] = velocity;
        notePressure[key] = 1.0f;
        noteChannel[key] = static_cast<uint8_t>(channel & 15);
        lastNoteOnChannel[static_cast<std::size_t>(channel & 15)] = note & 127;
        blockVelocity[key] = velocity;
        if (!sounding) soundFrom[key] = frame;
        soundUntil[key] = frames;
    }

    void noteOffRt(int32_t channel, int32_t note, int32_t frame) {
        const auto key = static_cast<std::size_t>(note & 127);
        if (soundUntil[key] > frame) soundUntil[key] = frame;
        heldVelocity[key] = 0.0f;
        noteBend[key] = 0.0f;
        notePressure[key] = 1.0f;
        auto &last = lastNoteOnChannel[static_cast<std::size_t>(channel & 15)];
        if (last == (note & 127)) last = -1;
    }

    void pitchBendRt(int32_t channel, float cents) {
        const int32_t note = lastNoteOnChannel[static_cast<std::size_t>(channel & 15)];
        // -1 means no key is held on that channel: there is nothing to bend.
        if (note >= 0 && note < 128) noteBend[static_cast<std::size_t>(note)] = cents;
    }

    void notePressureRt(int32_t note, float pressure) {
        notePressure[static_cast<std::size_t>(note & 127)] = pressure;
    }

    void channelPressureRt(int32_t channel, float pressure) {
        for (std::size_t note = 0; note < 128; ++note)
            if (heldVelocity[note] > audibleVelocity && noteChannel[note] == (channel & 15))
                notePressure[note] = pressure;
    }
};

} // namespace orvane

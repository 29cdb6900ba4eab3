#include "core/music/Chords.h"

#include "core/music/Scales.h"

#include <array>
#include <bit>
#include <cstdlib>
#include <vector>

namespace orvane {

namespace {

struct ChordTemplate {
    const char *suffix;
    uint32_t intervalMask; // bit i set: the interval of i semitones above the root
    int32_t size;
};

constexpr uint32_t intervals(std::initializer_list<int> semitones) {
    uint32_t mask = 0;
    for (int semitone : semitones)
        mask |= 1u << semitone;
    return mask;
}

// Table order decides between equal scores, so it must not be sorted.
constexpr std::array<ChordTemplate, 9> chordTemplates{{
    {"", intervals({0, 4, 7}), 3},
    {"m", intervals({0, 3, 7}), 3},
    {"dim", intervals({0, 3, 6}), 3},
    {"aug", intervals({0, 4, 8}), 3},
    {"7", intervals({0, 4, 7, 10}), 4},
    {"maj7", intervals({0, 4, 7, 11}), 4},
    {"m7", intervals({0, 3, 7, 10}), 4},
    {"sus2", intervals({0, 2, 7}), 3},
    {"sus4", intervals({0, 5, 7}), 3},
}};

/// The template's intervals moved up to `root`, wrapping within the octave.
uint32_t transposedMask(uint32_t mask, int32_t root) {
    return ((mask << root) | (mask >> (12 - root))) & 0xFFFu;
}

// A note with no length still names a chord at its start.
bool noteSoundsAt(const MidiNote &note, int64_t position) {
    if (position < note.start) return false;
    const auto elapsed = static_cast<uint64_t>(position) - static_cast<uint64_t>(note.start);
    const auto length = static_cast<uint64_t>(std::max<int64_t>(note.length, 1));
    return elapsed < length;
}

} // namespace

const char *pitchClassName(int64_t pitch) {
    static constexpr std::array<const char *, 12> names{"C",  "C#", "D",  "D#", "E",  "F",
                                                        "F#", "G",  "G#", "A",  "A#", "B"};
    return names[static_cast<std::size_t>(pitchClassOf(pitch))];
}

std::string detectChordFromPitches(std::span<const int32_t> pitches) {
    if (pitches.empty()) return "?";
    uint32_t present = 0;
    for (int32_t pitch : pitches)
        present |= 1u << pitchClassOf(pitch);
    const int32_t count = std::popcount(present);
    if (count < 2) return pitchClassName(pitches.front());

    std::string answer;
    int32_t bestScore = -1;
    for (int32_t root = 0; root < 12; ++root) {
        if ((present & (1u << root)) == 0) continue;
        for (const ChordTemplate &chord : chordTemplates) {
            const uint32_t needed = transposedMask(chord.intervalMask, root);
            if ((present & needed) != needed) continue;
            const int32_t score = 10 * chord.size - std::abs(count - chord.size);
            if (score > bestScore) {
                bestScore = score;
                answer = std::string(pitchClassName(root)) + chord.suffix;
            }
        }
    }
    if (bestScore < 0) return std::string(pitchClassName(std::countr_zero(present))) + "?";
    return answer;
}

std::string detectChordFromMidiClip(const Clip &clip, int64_t position) {
    if (clip.kind != ClipKind::Midi) return "?";
    std::vector<int32_t> sounding;
    for (const MidiNote &note : clip.notes)
        if (noteSoundsAt(note, position)) sounding.push_back(note.pitch);
    return detectChordFromPitches(sounding);
}

} // namespace orvane

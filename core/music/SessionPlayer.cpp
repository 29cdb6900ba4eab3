#include "core/music/SessionPlayer.h"

#include "core/music/NoteArithmetic.h"
#include "core/music/Scales.h"
#include "core/music/SeededRandom.h"

#include <algorithm>
#include <optional>

namespace orvane {

namespace {

using note_arithmetic::clampToMidi;

constexpr int32_t kindCount = 4;

/// Positions inside one bar; `sixteenth` is a sixteenth of the bar, at least one sample.
struct BarFrame {
    int64_t start = 0;
    int64_t length = 0;
    int64_t sixteenth = 1;

    int64_t at(int64_t step) const { return start + step * sixteenth; }
    int64_t stepCount() const { return length / sixteenth; }
};

void addDrumsFourFour(std::vector<MidiNote> &notes, const BarFrame &bar, SeededRandom &random) {
    const int64_t g = bar.sixteenth;
    for (int64_t step = 0; step < bar.stepCount(); ++step) {
        if (step % 4 == 0) addDrumHit(notes, 36, bar.at(step), g / 2, 0.95f);
        if (step % 8 == 4) addDrumHit(notes, 38, bar.at(step), g / 2, 0.88f);
        if (step % 2 == 0)
            addDrumHit(notes, 42, bar.at(step), g / 3, 0.55f + 0.15f * random.draw());
    }
}

void addDrumsBreak(std::vector<MidiNote> &notes, const BarFrame &bar, SeededRandom &random) {
    const int64_t g = bar.sixteenth;
    for (int64_t step : {0, 6, 10, 14})
        addDrumHit(notes, 36, bar.at(step), g / 2, 0.92f);
    for (int64_t step : {4, 12})
        addDrumHit(notes, 38, bar.at(step), g / 2, 0.85f);
    for (int64_t step = 0; step < bar.stepCount(); step += 2)
        addDrumHit(notes, 42, bar.at(step), g / 4, 0.45f + 0.2f * random.draw());
}

void addBassRoot(std::vector<MidiNote> &notes, const BarFrame &bar, int32_t barIndex, int32_t root,
                 bool minor) {
    const int64_t step = scaleStepOffsets(minor)[static_cast<std::size_t>(barIndex % 7)];
    const int32_t pitch = clampToMidi(static_cast<int64_t>(root) + 36 + step);
    addDrumHit(notes, pitch, bar.start, 2 * bar.sixteenth, 0.82f);
    addDrumHit(notes, pitch, bar.at(8), 2 * bar.sixteenth, 0.78f);
}

void addChordsPad(std::vector<MidiNote> &notes, const BarFrame &bar, int32_t root, bool minor) {
    const int64_t length = std::max(bar.length - bar.sixteenth / 2, bar.sixteenth);
    const int64_t third = minor ? 3 : 4;
    addDrumHit(notes, clampToMidi(static_cast<int64_t>(root) + 48), bar.start, length, 0.65f);
    addDrumHit(notes, clampToMidi(static_cast<int64_t>(root) + 48 + third), bar.start, length,
               0.57f);
    addDrumHit(notes, clampToMidi(static_cast<int64_t>(root) + 55), bar.start, length, 0.49f);
}

/// Start of bar `index`, or nothing when that bar would end beyond the last sample position.
std::optional<int64_t> barStart(int64_t barLength, int32_t index) {
    int64_t start = 0;
    int64_t end = 0;
    if (__builtin_mul_overflow(barLength, static_cast<int64_t>(index), &start) ||
        __builtin_add_overflow(start, barLength, &end))
        return std::nullopt;
    return start;
}

/// Note length 3/4 of a step, written so that no intermediate product can overflow.
int64_t threeQuarters(int64_t step) { return step / 4 * 3 + step % 4 * 3 / 4; }

} // namespace

int32_t sessionPlayerKindCount() { return kindCount; }

const char *sessionPlayerKindName(SessionPlayerKind kind) { return sessionPlayerKindLabel(kind); }

SessionPlayerKind nextSessionPlayerKind(SessionPlayerKind kind) {
    return static_cast<SessionPlayerKind>((static_cast<int32_t>(kind) + 1) % kindCount);
}

void addDrumHit(std::vector<MidiNote> &notes, int32_t pitch, int64_t start, int64_t length,
                float velocity) {
    MidiNote note;
    note.pitch = pitch;
    note.velocity = velocity;
    note.start = start;
    note.length = length;
    notes.push_back(note);
}

std::vector<MidiNote> generateSessionPlayerNotes(SessionPlayerKind kind, int64_t barLength,
                                                 int32_t barCount, int32_t root, bool minor,
                                                 uint32_t seed) {
    std::vector<MidiNote> notes;
    if (barLength < 1 || barCount < 1) return notes;
    SeededRandom random{seed};
    for (int32_t index = 0; index < barCount; ++index) {
        const auto start = barStart(barLength, index);
        if (!start) break;
        const BarFrame bar{*start, barLength, std::max<int64_t>(barLength / 16, 1)};
        switch (kind) {
        case SessionPlayerKind::DrumsFourFour: addDrumsFourFour(notes, bar, random); break;
        case SessionPlayerKind::DrumsBreak: addDrumsBreak(notes, bar, random); break;
        case SessionPlayerKind::BassRoot: addBassRoot(notes, bar, index, root, minor); break;
        case SessionPlayerKind::ChordsPad: addChordsPad(notes, bar, root, minor); break;
        default: return notes;
        }
    }
    return notes;
}

std::vector<MidiNote> generateMidiClipNotes(int64_t length, int64_t step, int32_t root, bool minor,
                                            uint32_t seed, float density) {
    std::vector<MidiNote> notes;
    if (length < 1 || step < 1 || step > length) return notes;
    const float chance = note_arithmetic::clampVelocity(density, 0.05f, 1.0f);
    const int64_t noteLength = std::max<int64_t>(threeQuarters(step), 1);
    const auto &steps = scaleStepOffsets(minor);
    SeededRandom random{seed};
    int32_t degree = 0;
    int32_t octave = 0;
    // Compared as position ≤ length − step so that the last position cannot overflow.
    for (int64_t position = 0; position <= length - step; position += step) {
        if (random.draw() > chance) continue;
        const float moveChance = random.draw();
        const float direction = random.draw();
        if (moveChance < 0.18f) {
            degree = direction < 0.5f ? (degree + 1) % 7 : (degree + 6) % 7;
        } else if (direction < 0.12f) {
            octave += random.draw() < 0.5f ? 1 : -1;
        }
        octave = std::clamp(octave, -1, 2);
        const int64_t pitch =
            static_cast<int64_t>(root) + 48 + steps[static_cast<std::size_t>(degree)] + 12 * octave;
        addDrumHit(notes, clampToMidi(pitch), position, noteLength, 0.55f + 0.35f * random.draw());
    }
    return notes;
}

} // namespace orvane

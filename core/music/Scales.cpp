#include "core/music/Scales.h"

#include "core/music/NoteArithmetic.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace orvane {

namespace {

using note_arithmetic::floorMod;

constexpr uint32_t majorMask = 0xAB5;
constexpr uint32_t minorMask = 0x5AD;

int32_t relativePitchClass(int64_t pitch, int32_t root) {
    return static_cast<int32_t>(floorMod(pitch - static_cast<int64_t>(root), 12));
}

// Frequencies that cannot become a finite pitch are treated as silence.
bool usableFrequency(float hz) { return std::isfinite(hz) && hz > 0.0f; }

double exactMidiPitch(float hz) { return 69.0 + 12.0 * std::log2(static_cast<double>(hz) / 440.0); }

} // namespace

int32_t pitchClassOf(int64_t pitch) { return static_cast<int32_t>(floorMod(pitch, 12)); }

const std::array<int32_t, 7> &scaleStepOffsets(bool minor) {
    static constexpr std::array<int32_t, 7> major{0, 2, 4, 5, 7, 9, 11};
    static constexpr std::array<int32_t, 7> naturalMinor{0, 2, 3, 5, 7, 8, 10};
    return minor ? naturalMinor : major;
}

bool isPitchInScale(int64_t pitch, int32_t root, bool minor) {
    const uint32_t mask = minor ? minorMask : majorMask;
    return ((mask >> relativePitchClass(pitch, root)) & 1u) != 0;
}

namespace {

/// The member of the scale nearest `pitch` among lowest..highest, the lower one on a tie.
int32_t nearestMemberWithin(int32_t pitch, int32_t root, bool minor, int64_t lowest,
                            int64_t highest) {
    if (isPitchInScale(pitch, root, minor)) return pitch;
    int32_t best = pitch;
    int32_t bestDistance = 7;
    for (int32_t offset = -6; offset <= 6; ++offset) {
        const int64_t candidate = static_cast<int64_t>(pitch) + offset;
        // At the ends of the range a neighbour may not exist; the other side wins.
        if (candidate < lowest || candidate > highest || !isPitchInScale(candidate, root, minor))
            continue;
        if (std::abs(offset) < bestDistance) {
            bestDistance = std::abs(offset);
            best = static_cast<int32_t>(candidate);
        }
    }
    return best;
}

} // namespace

int32_t snapPitchToScale(int32_t pitch, int32_t root, bool minor) {
    return nearestMemberWithin(pitch, root, minor, std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max());
}

void snapMidiNotesToScale(std::span<MidiNote> notes, int32_t root, bool minor) {
    // A note snapped below 0 or above 127 would be stored as another pitch than it plays.
    for (MidiNote &note : notes)
        note.pitch = nearestMemberWithin(note.pitch, root, minor, 0, 127);
}

int32_t scaleDegreeIndex(int32_t pitchClass, int32_t root, bool minor) {
    const int32_t relative = relativePitchClass(pitchClass, root);
    const auto &positions = scaleStepOffsets(minor);
    int32_t bestIndex = 0;
    int32_t bestDistance = 13;
    for (int32_t index = 0; index < 7; ++index) {
        const int32_t gap = std::abs(relative - positions[static_cast<std::size_t>(index)]);
        const int32_t distance = std::min(gap, 12 - gap);
        if (distance < bestDistance) {
            bestDistance = distance;
            bestIndex = index;
        }
    }
    return bestIndex;
}

float hzToMidiPitch(float hz) {
    if (!usableFrequency(hz)) return 0.0f;
    return static_cast<float>(exactMidiPitch(hz));
}

float pitchCorrectSemitones(float hz, int32_t root, bool minor) {
    if (!usableFrequency(hz)) return 0.0f;
    const double pitch = exactMidiPitch(hz);
    if (pitch <= 0.0) return 0.0f;
    // A finite float frequency stays below pitch 1600, so the rounding cannot overflow.
    const auto nearest = static_cast<int32_t>(std::lround(pitch));
    return static_cast<float>(snapPitchToScale(nearest, root, minor) - pitch);
}

} // namespace orvane

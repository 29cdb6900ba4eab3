#include "core/music/Tuning.h"

#include "core/music/NoteArithmetic.h"
#include "core/music/Scales.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

using note_arithmetic::clampToMidi;
using note_arithmetic::floorDiv;
using note_arithmetic::floorMod;

// Truncated toward zero on purpose: pitch-quantising commands move keyboard-map targets
// between octaves with the same rule, and both must agree on which octave a pitch is in.
int64_t octaveAboveRoot(int64_t pitch, int32_t root) { return (pitch - root) / 12; }

/// Unclamped pitch of map entry `entry`: whole octaves by floor division, so a negative
/// entry such as −1 is the seventh step one octave down, not a negative table index.
int64_t kbmEntryPitch(int32_t entry, int32_t root, bool minor) {
    const auto &steps = scaleStepOffsets(minor);
    const int64_t step = steps[static_cast<std::size_t>(floorMod(entry, 7))];
    return static_cast<int64_t>(root) + 48 + 12 * floorDiv(entry, 7) + step;
}

int32_t kbmEntryAt(int64_t index, std::span<const int32_t> kbmDegrees) {
    const auto size = static_cast<int64_t>(kbmDegrees.size());
    return kbmDegrees[static_cast<std::size_t>(floorMod(index, size))];
}

// Keeps the integer part of a pitch representable; far beyond any audible range anyway.
constexpr double pitchLimit = 1.0e6;

} // namespace

double midiNoteFrequency(int64_t pitch, const CentTable &cents) {
    const float offset = cents[static_cast<std::size_t>(pitchClassOf(pitch))];
    return 440.0 * std::exp2((static_cast<double>(pitch) - 69.0) / 12.0) *
           std::exp2(static_cast<double>(offset) / 1200.0);
}

double midiNoteFrequencyBent(double pitch, const CentTable &cents) {
    if (!std::isfinite(pitch)) return 0.0;
    const double whole = std::floor(std::clamp(pitch, -pitchLimit, pitchLimit));
    const double fraction = pitch - std::floor(pitch);
    return midiNoteFrequency(static_cast<int64_t>(whole), cents) * std::exp2(fraction / 12.0);
}

double midiNoteFrequencyTuned(double pitch, int32_t root, bool minor,
                              std::span<const int32_t> kbmDegrees, const CentTable &cents) {
    if (kbmDegrees.empty() || !std::isfinite(pitch)) return midiNoteFrequencyBent(pitch, cents);
    const double bounded = std::clamp(pitch, -pitchLimit, pitchLimit);
    const auto nearest = static_cast<int64_t>(std::round(bounded));
    const int32_t degree = scaleDegreeIndex(pitchClassOf(nearest), root, minor);
    const int64_t target = clampToMidi(kbmEntryPitch(kbmEntryAt(degree, kbmDegrees), root, minor));
    const int64_t moved =
        target + 12 * (octaveAboveRoot(nearest, root) - octaveAboveRoot(target, root));
    const double fraction = bounded - std::floor(bounded);
    return midiNoteFrequencyBent(static_cast<double>(clampToMidi(moved)) + fraction, cents);
}

int32_t midiPitchFromKbmDegree(int32_t degree, std::span<const int32_t> kbmDegrees, int32_t root,
                               bool minor) {
    if (kbmDegrees.empty()) return 60;
    return clampToMidi(kbmEntryPitch(kbmEntryAt(degree, kbmDegrees), root, minor));
}

} // namespace orvane

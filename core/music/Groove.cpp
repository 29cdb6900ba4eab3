#include "core/music/Groove.h"

#include "core/model/MusicalTime.h"
#include "core/music/NoteArithmetic.h"
#include "core/music/SeededRandom.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

using note_arithmetic::clampVelocity;
using note_arithmetic::floorDiv;
using note_arithmetic::floorMod;
using note_arithmetic::saturatingAdd;

constexpr int64_t patternSteps = 16;

/// Step of the 16-step pattern that a start falls in; floor division keeps notes before
/// the clip's start (negative starts) on valid steps.
std::size_t patternStep(int64_t start, int64_t grid) {
    return static_cast<std::size_t>(floorMod(floorDiv(start, grid), patternSteps));
}

/// Distance in grid units from `start` to its nearest grid point (halves away from zero),
/// in integers so that exact grid positions give exactly 0 at any magnitude.
double gridDeviation(int64_t start, int64_t grid) {
    const int64_t remainder = floorMod(start, grid);
    const bool roundsUp = remainder > grid - remainder ||
                          (remainder == grid - remainder && floorDiv(start, grid) >= 0);
    const int64_t offset = roundsUp ? remainder - grid : remainder;
    return static_cast<double>(offset) / static_cast<double>(grid);
}

int64_t movedStart(int64_t start, double offset) {
    return std::max<int64_t>(saturatingAdd(start, saturatingToInt64(offset)), 0);
}

GrooveTemplate neutralGroove(const std::string &name) {
    GrooveTemplate groove;
    groove.name = name;
    groove.timingPattern.fill(0.0f);
    groove.velocityPattern.fill(0.5f);
    return groove;
}

} // namespace

void humanizeMidiNotes(std::span<MidiNote> notes, int64_t span, float timingAmount,
                       float velocityAmount, uint32_t seed) {
    SeededRandom random{seed};
    const auto reach = static_cast<float>(
        std::max<int64_t>(saturatingToInt64(static_cast<double>(span) * timingAmount), 1));
    for (MidiNote &note : notes) {
        const float timing = 2.0f * random.draw() - 1.0f;
        const float velocity = 2.0f * random.draw() - 1.0f;
        note.start = movedStart(note.start, timing * reach);
        note.velocity = clampVelocity(note.velocity + velocity * velocityAmount, 0.05f, 1.0f);
    }
}

void applyGrooveToNotes(std::span<MidiNote> notes, const GrooveTemplate &groove, int64_t grid,
                        float amount) {
    if (!(amount > 0.0f) || grid < 1 || notes.empty()) return;
    const float strength = std::min(amount, 1.0f);
    for (MidiNote &note : notes) {
        const std::size_t step = patternStep(note.start, grid);
        // Single precision throughout, like the stored amounts, so that a shift such as
        // −0.04 × 0.4 × 1000 lands on the whole −16 it reads as rather than −15.99….
        const float shift =
            strength * groove.timingPattern[step] * groove.timing * static_cast<float>(grid);
        const float accent = (groove.velocityPattern[step] - 0.5f) * groove.velocity;
        note.start = movedStart(note.start, shift);
        note.velocity =
            clampVelocity(note.velocity * (1.0f + 2.0f * accent * strength), 0.05f, 1.0f);
    }
}

GrooveTemplate extractGrooveTemplate(std::span<const MidiNote> notes, int64_t grid,
                                     const std::string &name) {
    GrooveTemplate groove = neutralGroove(name);
    if (grid < 1 || notes.empty()) return groove;

    std::array<double, patternSteps> deviationSum{};
    std::array<double, patternSteps> velocitySum{};
    std::array<int64_t, patternSteps> noteCount{};
    double absoluteDeviationSum = 0.0;
    float lowestVelocity = notes.front().velocity;
    float highestVelocity = notes.front().velocity;
    for (const MidiNote &note : notes) {
        const std::size_t step = patternStep(note.start, grid);
        const double deviation = gridDeviation(note.start, grid);
        deviationSum[step] += deviation;
        velocitySum[step] += note.velocity;
        ++noteCount[step];
        absoluteDeviationSum += std::fabs(deviation);
        lowestVelocity = std::min(lowestVelocity, note.velocity);
        highestVelocity = std::max(highestVelocity, note.velocity);
    }
    for (std::size_t step = 0; step < patternSteps; ++step) {
        if (noteCount[step] == 0) continue;
        const auto count = static_cast<double>(noteCount[step]);
        groove.timingPattern[step] = static_cast<float>(deviationSum[step] / count);
        groove.velocityPattern[step] = static_cast<float>(velocitySum[step] / count);
    }
    const double meanDeviation = absoluteDeviationSum / static_cast<double>(notes.size());
    groove.timing = std::clamp(static_cast<float>(2.5 * meanDeviation), 0.0f, 1.0f);
    groove.velocity = clampVelocity(1.2f * (highestVelocity - lowestVelocity), 0.0f, 1.0f);
    return groove;
}

} // namespace orvane

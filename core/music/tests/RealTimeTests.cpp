#include "core/music/ExpressionMaps.h"
#include "core/music/Tuning.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane {
namespace {

// The renderers call these for every note and frame on the audio thread.

TEST(RealTime, TunedFrequencyNeitherAllocatesNorFrees) {
    const std::vector<int32_t> map{0, 2, 4, -3, 9};
    const CentTable cents = scalaPresetCents(3);
    double sum = 0.0;
    {
        testing::AllocationScope scope;
        for (double pitch = -10.0; pitch < 140.0; pitch += 0.25) {
            sum += midiNoteFrequencyTuned(pitch, 2, true, map, cents);
            sum += midiNoteFrequencyTuned(pitch, 2, true, {}, cents);
        }
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(scope.frees(), 0u);
    }
    EXPECT_GT(sum, 0.0);
}

TEST(RealTime, ExpressionVelocityNeitherAllocatesNorFrees) {
    const auto maps = defaultExpressionMaps();
    std::vector<MidiNote> notes;
    for (int index = 0; index < 256; ++index)
        notes.push_back(MidiNote{36 + index % 20, 0.8f, index * 10, 10});
    float sum = 0.0f;
    {
        testing::AllocationScope scope;
        for (const MidiNote &note : notes)
            sum += expressionVelocityAt(maps[0], notes, note);
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(scope.frees(), 0u);
    }
    EXPECT_GT(sum, 0.0f);
}

} // namespace
} // namespace orvane

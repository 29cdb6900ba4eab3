#include "core/music/Groove.h"
#include "core/music/SeededRandom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orvane {
namespace {

MidiNote noteAt(int64_t start, float velocity = 0.8f, int32_t pitch = 60) {
    return MidiNote{pitch, velocity, start, 100};
}

GrooveTemplate grooveNamed(const std::string &name) {
    for (const GrooveTemplate &groove : defaultGroovePool())
        if (groove.name == name) return groove;
    ADD_FAILURE() << "no groove " << name;
    return {};
}

TEST(HumanizeMidiNotes, MovesWithinTheSpanAndKeepsVelocitiesInRange) {
    std::vector<MidiNote> notes;
    for (int index = 0; index < 200; ++index)
        notes.push_back(noteAt(10000 + index * 500, index % 2 ? 0.04f : 0.99f));
    const std::vector<MidiNote> original = notes;
    humanizeMidiNotes(notes, 1000, 0.25f, 0.3f, 99);
    bool anyMoved = false;
    for (std::size_t index = 0; index < notes.size(); ++index) {
        EXPECT_LE(std::llabs(notes[index].start - original[index].start), 250);
        EXPECT_GE(notes[index].velocity, 0.05f);
        EXPECT_LE(notes[index].velocity, 1.0f);
        EXPECT_EQ(notes[index].pitch, original[index].pitch);
        EXPECT_EQ(notes[index].length, original[index].length);
        anyMoved = anyMoved || notes[index].start != original[index].start;
    }
    EXPECT_TRUE(anyMoved);
}

TEST(HumanizeMidiNotes, SameSeedSameResultOtherSeedOtherResult) {
    std::vector<MidiNote> first(32, noteAt(5000));
    std::vector<MidiNote> second = first;
    std::vector<MidiNote> third = first;
    humanizeMidiNotes(first, 4000, 0.5f, 0.2f, 7);
    humanizeMidiNotes(second, 4000, 0.5f, 0.2f, 7);
    humanizeMidiNotes(third, 4000, 0.5f, 0.2f, 8);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, third);
}

TEST(HumanizeMidiNotes, ZeroTimingStillReachesOneSampleButNeverBeforeZero) {
    // Seeds whose first draw is exactly 1 and exactly 0, the only draws that move a note
    // when the reach is the minimum of one sample.
    constexpr uint32_t firstDrawOne = 46880;
    constexpr uint32_t firstDrawZero = 4069;
    std::vector<MidiNote> later{noteAt(100)};
    std::vector<MidiNote> earlier{noteAt(100)};
    std::vector<MidiNote> atZero{noteAt(0)};
    humanizeMidiNotes(later, 1000, 0.0f, 0.0f, firstDrawOne);
    humanizeMidiNotes(earlier, 1000, 0.0f, 0.0f, firstDrawZero);
    humanizeMidiNotes(atZero, 1000, 0.0f, 0.0f, firstDrawZero);
    EXPECT_EQ(later[0].start, 101);
    EXPECT_EQ(earlier[0].start, 99);
    EXPECT_EQ(atZero[0].start, 0);
    EXPECT_FLOAT_EQ(later[0].velocity, 0.8f);

    std::vector<MidiNote> many(500, noteAt(100));
    humanizeMidiNotes(many, 1000, 0.0f, 0.0f, 12345);
    for (const MidiNote &note : many)
        EXPECT_LE(std::llabs(note.start - 100), 1);
}

TEST(DefaultGroovePool, HoldsShuffleAndSwingPatterns) {
    const auto pool = defaultGroovePool();
    ASSERT_EQ(pool.size(), 2u);
    EXPECT_EQ(pool[0].name, "Shuffle");
    EXPECT_EQ(pool[1].name, "MPC Swing");
    EXPECT_FLOAT_EQ(pool[0].timingPattern[0], -0.04f);
    EXPECT_FLOAT_EQ(pool[0].timingPattern[15], 0.18f);
    EXPECT_FLOAT_EQ(pool[0].velocityPattern[14], 0.65f);
    EXPECT_FLOAT_EQ(pool[0].velocityPattern[15], 0.5f);
    EXPECT_FLOAT_EQ(pool[1].timing, 0.55f);
    EXPECT_FLOAT_EQ(pool[1].velocityPattern[2], 0.65f);
    EXPECT_FLOAT_EQ(pool[1].velocityPattern[14], 0.65f);
    EXPECT_FLOAT_EQ(pool[1].velocityPattern[15], 0.45f);
}

TEST(ApplyGrooveToNotes, ShufflesOffbeatsLaterAndClampsEarlyNotesAtZero) {
    std::vector<MidiNote> notes{noteAt(1000), noteAt(0), noteAt(2000, 0.5f)};
    applyGrooveToNotes(notes, grooveNamed("Shuffle"), 1000, 1.0f);
    EXPECT_EQ(notes[0].start, 1072);
    EXPECT_EQ(notes[1].start, 0);
    EXPECT_EQ(notes[2].start, 1984);
    EXPECT_NEAR(notes[2].velocity, 0.5f * (1.0f + 2.0f * 0.15f * 0.25f), 1e-6f);
    EXPECT_FLOAT_EQ(notes[0].velocity, 0.8f); // neutral step
}

TEST(ApplyGrooveToNotes, AmountAboveOneCountsAsOneAndNonPositiveDoesNothing) {
    std::vector<MidiNote> full{noteAt(1000)};
    std::vector<MidiNote> over{noteAt(1000)};
    applyGrooveToNotes(full, grooveNamed("Shuffle"), 1000, 1.0f);
    applyGrooveToNotes(over, grooveNamed("Shuffle"), 1000, 5.0f);
    EXPECT_EQ(full, over);
    std::vector<MidiNote> untouched{noteAt(1000), noteAt(3000)};
    const auto before = untouched;
    applyGrooveToNotes(untouched, grooveNamed("Shuffle"), 1000, 0.0f);
    applyGrooveToNotes(untouched, grooveNamed("Shuffle"), 1000, std::nanf(""));
    applyGrooveToNotes(untouched, grooveNamed("Shuffle"), 0, 1.0f);
    EXPECT_EQ(untouched, before);
}

TEST(ApplyGrooveToNotes, StepsWrapEverySixteenGridUnits) {
    std::vector<MidiNote> notes{noteAt(17 * 100), noteAt(1 * 100)};
    applyGrooveToNotes(notes, grooveNamed("MPC Swing"), 100, 1.0f);
    EXPECT_EQ(notes[0].start - 1700, notes[1].start - 100);
    EXPECT_GT(notes[1].start, 100);
}

TEST(ApplyGrooveToNotes, NotesBeforeTheClipUseTheStepTheyFallIn) {
    // −10 lies in the grid cell starting at −1000, step 15 of the previous bar (an offbeat,
    // pushed later); truncating division would call it step 0 and pull it earlier.
    std::vector<MidiNote> notes{noteAt(-10)};
    applyGrooveToNotes(notes, grooveNamed("Shuffle"), 1000, 1.0f);
    EXPECT_EQ(notes[0].start, 62);
    GrooveTemplate marker = grooveNamed("Shuffle");
    marker.velocityPattern.fill(0.5f);
    marker.velocityPattern[15] = 1.0f;
    marker.velocity = 1.0f;
    std::vector<MidiNote> accented{noteAt(-100, 0.25f)};
    applyGrooveToNotes(accented, marker, 1000, 1.0f);
    EXPECT_FLOAT_EQ(accented[0].velocity, 0.5f);
}

TEST(ApplyGrooveToNotes, ExtremeStartsAndGridsSaturateInsteadOfOverflowing) {
    constexpr int64_t highest = std::numeric_limits<int64_t>::max();
    std::vector<MidiNote> notes{noteAt(highest - 5), noteAt(std::numeric_limits<int64_t>::min())};
    applyGrooveToNotes(notes, grooveNamed("Shuffle"), highest / 2, 1.0f);
    EXPECT_GE(notes[0].start, highest - highest / 4);
    EXPECT_EQ(notes[1].start, 0);
}

TEST(ExtractGrooveTemplate, OnGridNotesGiveZeroTiming) {
    std::vector<MidiNote> notes;
    for (int step = 0; step < 32; step += 3)
        notes.push_back(noteAt(step * 480, 0.4f + 0.01f * static_cast<float>(step)));
    const GrooveTemplate groove = extractGrooveTemplate(notes, 480, "Mine");
    EXPECT_EQ(groove.name, "Mine");
    EXPECT_EQ(groove.timing, 0.0f);
    for (float offset : groove.timingPattern)
        EXPECT_EQ(offset, 0.0f);
    EXPECT_NEAR(groove.velocity, 1.2f * 0.3f, 1e-5f);
    EXPECT_NEAR(groove.velocityPattern[0], 0.4f, 1e-6f);  // grid step 0
    EXPECT_NEAR(groove.velocityPattern[2], 0.58f, 1e-6f); // grid step 18, wrapped
    EXPECT_FLOAT_EQ(groove.velocityPattern[1], 0.5f);     // no notes
}

TEST(ExtractGrooveTemplate, AveragesDeviationsPerStepAndScalesAmounts) {
    const std::vector<MidiNote> notes{noteAt(110, 0.5f), noteAt(1790, 0.7f), noteAt(350, 0.9f),
                                      noteAt(-30, 0.6f)};
    const GrooveTemplate groove = extractGrooveTemplate(notes, 100, "Loose");
    EXPECT_NEAR(groove.timingPattern[1], (0.1f - 0.1f) / 2, 1e-6f); // 110 and 1790 share step 1
    EXPECT_NEAR(groove.velocityPattern[1], 0.6f, 1e-6f);
    // 350 is halfway: it rounds away from zero, to 400, a deviation of −0.5 in step 3.
    EXPECT_NEAR(groove.timingPattern[3], -0.5f, 1e-6f);
    // −30 is in the cell from −100 (step 15) and nearest to 0: +0.7 would be wrong.
    EXPECT_NEAR(groove.timingPattern[15], -0.3f, 1e-6f);
    EXPECT_FLOAT_EQ(groove.velocityPattern[4], 0.5f); // no notes: neutral
    EXPECT_NEAR(groove.timing, 2.5f * (0.1f + 0.1f + 0.5f + 0.3f) / 4, 1e-5f);
    EXPECT_NEAR(groove.velocity, 1.2f * 0.4f, 1e-5f);
}

TEST(ExtractGrooveTemplate, NegativeHalfwayNotesRoundAwayFromZero) {
    const GrooveTemplate groove =
        extractGrooveTemplate(std::vector<MidiNote>{noteAt(-50)}, 100, "Half");
    // −0.5 grid units rounds to −1: the deviation is +0.5, in step 15 (cell from −100).
    EXPECT_NEAR(groove.timingPattern[15], 0.5f, 1e-6f);
}

TEST(ExtractGrooveTemplate, AmountsAreClampedToOne) {
    const std::vector<MidiNote> notes{noteAt(45, 0.0f), noteAt(145, 1.0f)};
    const GrooveTemplate groove = extractGrooveTemplate(notes, 100, "Wild");
    EXPECT_FLOAT_EQ(groove.timing, 1.0f);
    EXPECT_FLOAT_EQ(groove.velocity, 1.0f);
}

TEST(ExtractGrooveTemplate, NoNotesOrNoGridGivesANeutralTemplate) {
    for (const GrooveTemplate &groove :
         {extractGrooveTemplate({}, 100, "Empty"),
          extractGrooveTemplate(std::vector<MidiNote>{noteAt(7)}, 0, "Empty")}) {
        EXPECT_EQ(groove.name, "Empty");
        EXPECT_EQ(groove.timing, 0.0f);
        EXPECT_EQ(groove.velocity, 0.0f);
        for (std::size_t step = 0; step < 16; ++step) {
            EXPECT_EQ(groove.timingPattern[step], 0.0f);
            EXPECT_EQ(groove.velocityPattern[step], 0.5f);
        }
    }
}

TEST(ExtractThenApplyGroove, OnGridNotesOfEvenVelocityComeBackUnchanged) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        SeededRandom random{seed};
        const int64_t grid = 100 + static_cast<int64_t>(random.draw() * 900);
        const float velocity = 0.1f + 0.9f * random.draw();
        std::vector<MidiNote> notes;
        for (int index = 0; index < 40; ++index) {
            const auto cell = static_cast<int64_t>(random.draw() * 200) - 20;
            notes.push_back(noteAt(cell * grid, velocity, 40 + index));
        }
        const GrooveTemplate groove = extractGrooveTemplate(notes, grid, "Self");
        std::vector<MidiNote> applied = notes;
        applyGrooveToNotes(applied, groove, grid, 1.0f);
        for (std::size_t index = 0; index < notes.size(); ++index) {
            EXPECT_EQ(applied[index].start, std::max<int64_t>(notes[index].start, 0));
            EXPECT_FLOAT_EQ(applied[index].velocity, notes[index].velocity);
        }
    }
}

TEST(ExtractThenApplyGroove, OnGridNotesKeepTheirPlaceWhateverTheirVelocities) {
    SeededRandom random{42};
    std::vector<MidiNote> notes;
    for (int index = 0; index < 64; ++index)
        notes.push_back(noteAt(index * 250, 0.05f + 0.95f * random.draw()));
    const GrooveTemplate groove = extractGrooveTemplate(notes, 250, "Accents");
    std::vector<MidiNote> applied = notes;
    applyGrooveToNotes(applied, groove, 250, 1.0f);
    for (std::size_t index = 0; index < notes.size(); ++index)
        EXPECT_EQ(applied[index].start, notes[index].start);
}

} // namespace
} // namespace orvane

#include "core/music/ExpressionMaps.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

const ExpressionMap &strings() {
    static const ExpressionMap map = defaultExpressionMaps().at(0);
    return map;
}

TEST(DefaultExpressionMaps, HoldStringsAndBrassWithTheirKeyswitches) {
    const auto maps = defaultExpressionMaps();
    ASSERT_EQ(maps.size(), 2u);
    EXPECT_EQ(maps[0].name, "Strings");
    ASSERT_EQ(maps[0].articulations.size(), 4u);
    EXPECT_EQ(maps[0].articulations[3], (ExpressionArticulation{"Tremolo", 39, 0.85f, 1, 110}));
    EXPECT_EQ(maps[1].name, "Brass");
    ASSERT_EQ(maps[1].articulations.size(), 3u);
    EXPECT_EQ(maps[1].articulations[1], (ExpressionArticulation{"Marcato", 49, 0.9f, 11, 127}));
    EXPECT_EQ(maps[1].articulations[2].keyswitch, 50);
}

TEST(ExpressionVelocityAt, TheLastKeyswitchAtOrBeforeTheNoteWins) {
    const std::vector<MidiNote> notes{
        {37, 1.0f, 0, 10},                        // Staccato
        {60, 0.8f, 100, 50},                      // played staccato
        {38, 1.0f, 200, 10},                      // Pizzicato
        {62, 0.8f, 200, 50},                      // same start as the keyswitch: already pizzicato
        {64, 0.8f, 300, 50}, {36, 1.0f, 400, 10}, // Legato, after the notes above
    };
    EXPECT_FLOAT_EQ(expressionVelocityAt(strings(), notes, notes[1]), 0.72f);
    EXPECT_FLOAT_EQ(expressionVelocityAt(strings(), notes, notes[3]), 0.58f);
    EXPECT_FLOAT_EQ(expressionVelocityAt(strings(), notes, notes[4]), 0.58f);
    EXPECT_FLOAT_EQ(expressionVelocityAt(strings(), notes, MidiNote{65, 0.8f, 500, 1}), 1.0f);
}

TEST(ExpressionVelocityAt, IsOneWithoutKeyswitchesOrArticulations) {
    const std::vector<MidiNote> notes{{60, 0.8f, 0, 10}, {48, 0.8f, 0, 10}};
    EXPECT_FLOAT_EQ(expressionVelocityAt(strings(), notes, notes[0]), 1.0f); // 48 is Brass's
    EXPECT_FLOAT_EQ(expressionVelocityAt(ExpressionMap{"Empty", {}}, notes, notes[0]), 1.0f);
    EXPECT_FLOAT_EQ(expressionVelocityAt(strings(), {}, notes[0]), 1.0f);
    const MidiNote early{60, 0.8f, -5, 10}; // before every keyswitch
    EXPECT_FLOAT_EQ(expressionVelocityAt(strings(), std::vector<MidiNote>{{39, 1.f, 0, 1}}, early),
                    1.0f);
}

TEST(ExpressionVelocityAt, TheFirstArticulationOfAKeyswitchCounts) {
    ExpressionMap doubled{"Doubled", {{"A", 40, 0.3f, 0, 0}, {"B", 40, 0.9f, 0, 0}}};
    const std::vector<MidiNote> notes{{40, 1.0f, 0, 1}, {60, 0.8f, 10, 1}};
    EXPECT_FLOAT_EQ(expressionVelocityAt(doubled, notes, notes[1]), 0.3f);
}

} // namespace
} // namespace orvane

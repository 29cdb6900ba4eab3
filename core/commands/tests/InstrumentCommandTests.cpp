#include "core/commands/CommandStack.h"
#include "core/commands/InstrumentCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/stock/SynthParameters.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvane {
namespace {

using stock::SynthParam;

stock::SynthValues valuesOf(const Track &track) {
    stock::SynthValues values{};
    EXPECT_TRUE(stock::readSynthStateText(track.instrumentState, values, nullptr))
        << track.instrumentState;
    return values;
}

std::size_t at(SynthParam param) { return static_cast<std::size_t>(param); }

struct SynthProject {
    SynthProject() {
        synth = project.addTrack(TrackType::Midi, "Synth");
        synth->instrument = std::string(synthInstrumentId);
        synth->instrumentState = defaultSynthState();
        sine = project.addTrack(TrackType::Midi, "Sine");
    }
    Project project;
    CommandStack stack;
    std::shared_ptr<Track> synth;
    std::shared_ptr<Track> sine;
};

TEST(InstrumentCommands, ANewTrackFromTheWindowStartsAtTheFirstPreset) {
    Project project;
    CommandStack stack;
    stack.execute(project, std::make_unique<AddTrackCommand>(TrackType::Midi, "",
                                                             std::string(synthInstrumentId),
                                                             defaultSynthState()));
    stack.undo(project);
    stack.redo(project);
    ASSERT_EQ(project.tracks.size(), 1u);
    EXPECT_EQ(project.tracks[0]->instrument, synthInstrumentId);
    EXPECT_EQ(valuesOf(*project.tracks[0]),
              stock::synthPresetValues(stock::synthFactoryPresets().front()));
    // An audio track has no instrument to play, whatever the caller asks.
    stack.execute(project, std::make_unique<AddTrackCommand>(
                               TrackType::Audio, "", std::string(synthInstrumentId), "x=1"));
    EXPECT_TRUE(project.tracks[1]->instrument.empty());
}

TEST(InstrumentCommands, AParameterMovesAloneWithinItsRangeAndUndoGivesTheTextBack) {
    SynthProject f;
    f.stack.execute(f.project, std::make_unique<ApplySynthPresetCommand>(f.synth->id, "Bass"));
    const std::string bass = f.synth->instrumentState;
    const stock::SynthValues before = valuesOf(*f.synth);
    f.stack.execute(f.project,
                    std::make_unique<SetSynthParameterCommand>(
                        f.synth->id, static_cast<int32_t>(SynthParam::FilterCutoff), 99999.0f));
    stock::SynthValues expected = before;
    expected[at(SynthParam::FilterCutoff)] = stock::synthParameter(SynthParam::FilterCutoff).max;
    EXPECT_EQ(valuesOf(*f.synth), expected);
    f.stack.undo(f.project);
    EXPECT_EQ(f.synth->instrumentState, bass);
    f.stack.undo(f.project);
    EXPECT_EQ(f.synth->instrumentState, defaultSynthState());
}

TEST(InstrumentCommands, APresetSetsEveryParameterItDoesNotNameToItsDefault) {
    SynthProject f;
    f.stack.execute(f.project,
                    std::make_unique<SetSynthParameterCommand>(
                        f.synth->id, static_cast<int32_t>(SynthParam::NoiseLevel), 0.5f));
    f.stack.execute(f.project, std::make_unique<ApplySynthPresetCommand>(f.synth->id, "Lead"));
    EXPECT_EQ(valuesOf(*f.synth), stock::synthPresetValues(*stock::findSynthPreset("Lead")));
    EXPECT_EQ(valuesOf(*f.synth)[at(SynthParam::NoiseLevel)],
              stock::synthParameter(SynthParam::NoiseLevel).defaultValue);
}

TEST(InstrumentCommands, EditsThatCannotApplyLeaveTheProjectAlone) {
    SynthProject f;
    const std::string stored = f.synth->instrumentState;
    f.stack.execute(f.project, std::make_unique<ApplySynthPresetCommand>(f.synth->id, "Nope"));
    f.stack.execute(f.project, std::make_unique<SetSynthParameterCommand>(
                                   f.synth->id, stock::synthParamCount, 1.0f));
    f.stack.execute(f.project,
                    std::make_unique<SetSynthParameterCommand>(f.synth->id, 0, std::nanf("")));
    EXPECT_EQ(f.synth->instrumentState, stored);
    // The sine track plays no synth: nothing of it is written.
    f.stack.execute(f.project, std::make_unique<ApplySynthPresetCommand>(f.sine->id, "Pad"));
    EXPECT_TRUE(f.sine->instrumentState.empty());
}

TEST(InstrumentCommands, ChoosingAnInstrumentIsUndoneWithItsState) {
    SynthProject f;
    f.stack.execute(f.project, std::make_unique<SetTrackInstrumentCommand>(
                                   f.sine->id, std::string(synthInstrumentId), "osc1.wave=0\n"));
    EXPECT_EQ(f.sine->instrument, synthInstrumentId);
    EXPECT_EQ(valuesOf(*f.sine)[at(SynthParam::Osc1Wave)], 0.0f);
    f.stack.execute(f.project, std::make_unique<SetTrackInstrumentCommand>(f.synth->id, "", ""));
    EXPECT_TRUE(f.synth->instrument.empty());
    f.stack.undo(f.project);
    EXPECT_EQ(f.synth->instrument, synthInstrumentId);
    EXPECT_EQ(f.synth->instrumentState, defaultSynthState());
    f.stack.undo(f.project);
    EXPECT_TRUE(f.sine->instrument.empty());
    EXPECT_TRUE(f.sine->instrumentState.empty());
}

} // namespace
} // namespace orvane

#include "core/commands/CommandStack.h"
#include "core/commands/InstrumentCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/project_io/ProjectFolder.h"
#include "core/stock/DrumSampler.h"
#include "core/stock/SynthParameters.h"
#include "tests/support/TestWavFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

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

stock::DrumKit kitOf(const Track &track) {
    stock::DrumKit kit;
    EXPECT_TRUE(stock::readDrumStateText(track.instrumentState, kit, nullptr))
        << track.instrumentState;
    return kit;
}

TEST(InstrumentCommands, DrumPadSettingsStayWithinTheirRangesAndUndoGivesTheTextBack) {
    SynthProject f;
    auto drums = f.project.addTrack(TrackType::Midi, "Drums");
    f.stack.execute(f.project, std::make_unique<SetTrackInstrumentCommand>(
                                   drums->id, std::string(drumsInstrumentId), defaultDrumsState()));
    ASSERT_EQ(kitOf(*drums), stock::defaultDrumKit());
    struct Case {
        DrumPadSetting setting;
        float value;
        float stored;
    };
    for (const Case c :
         {Case{DrumPadSetting::Gain, -7.5f, -7.5f}, Case{DrumPadSetting::Gain, 40.0f, 12.0f},
          Case{DrumPadSetting::Pan, -0.4f, -0.4f}, Case{DrumPadSetting::Pan, 3.0f, 1.0f},
          Case{DrumPadSetting::Tune, 5.5f, 5.5f}, Case{DrumPadSetting::Tune, -99.0f, -24.0f},
          Case{DrumPadSetting::ChokeGroup, 3.6f, 4.0f},
          Case{DrumPadSetting::ChokeGroup, 20.0f, 8.0f},
          Case{DrumPadSetting::Note, 60.2f, 60.0f}}) {
        const std::string before = drums->instrumentState;
        f.stack.execute(f.project,
                        std::make_unique<SetDrumPadCommand>(drums->id, 2, c.setting, c.value));
        const stock::DrumPad pad = kitOf(*drums).pads[2];
        const float stored = c.setting == DrumPadSetting::Gain   ? pad.gainDb
                             : c.setting == DrumPadSetting::Pan  ? pad.pan
                             : c.setting == DrumPadSetting::Tune ? pad.tune
                             : c.setting == DrumPadSetting::Note
                                 ? static_cast<float>(pad.note)
                                 : static_cast<float>(pad.chokeGroup);
        EXPECT_EQ(stored, c.stored) << static_cast<int>(c.setting) << " " << c.value;
        EXPECT_EQ(f.stack.undoName(), "Drum Pad");
        f.stack.undo(f.project);
        EXPECT_EQ(drums->instrumentState, before);
        f.stack.redo(f.project);
    }
    // Edits that cannot apply change nothing: a pad not in the kit, a value that is no
    // number, a sample with no name, or a track that plays another instrument.
    const std::string stored = drums->instrumentState;
    f.stack.execute(f.project,
                    std::make_unique<SetDrumPadCommand>(drums->id, 11, DrumPadSetting::Gain, 1.0f));
    f.stack.execute(f.project, std::make_unique<SetDrumPadCommand>(
                                   drums->id, 0, DrumPadSetting::Pan, std::nanf("")));
    f.stack.execute(f.project, std::make_unique<SetDrumSampleCommand>(drums->id, 0, 0, ""));
    f.stack.execute(f.project,
                    std::make_unique<SetDrumSampleCommand>(drums->id, 0, 2, "media/a.wav"));
    EXPECT_EQ(drums->instrumentState, stored);
    const std::string synthState = f.synth->instrumentState;
    f.stack.execute(
        f.project, std::make_unique<SetDrumPadCommand>(f.synth->id, 0, DrumPadSetting::Gain, 1.0f));
    EXPECT_EQ(f.synth->instrumentState, synthState);
}

// Layers added to a pad share its velocities evenly, softest first; a removal shares them
// again; the pad keeps its last layer and holds no more than the limit.
TEST(InstrumentCommands, VelocityLayersAreAddedAndRemovedWithTheRangeSharedEvenly) {
    SynthProject f;
    auto drums = f.project.addTrack(TrackType::Midi, "Drums");
    f.stack.execute(f.project, std::make_unique<SetTrackInstrumentCommand>(
                                   drums->id, std::string(drumsInstrumentId), defaultDrumsState()));
    const auto ranges = [&] {
        std::vector<std::pair<int32_t, int32_t>> shown;
        const stock::DrumKit kit = kitOf(*drums);
        for (const stock::DrumLayer &layer : kit.pads[2].layers)
            shown.emplace_back(layer.lowVelocity, layer.highVelocity);
        return shown;
    };
    using Ranges = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(ranges(), (Ranges{{1, 127}}));
    const std::string single = drums->instrumentState;
    f.stack.execute(f.project, std::make_unique<AddDrumLayerCommand>(drums->id, 2, "media/b.wav"));
    EXPECT_EQ(f.stack.undoName(), "Add Velocity Layer");
    EXPECT_EQ(ranges(), (Ranges{{1, 63}, {64, 127}}));
    EXPECT_EQ(kitOf(*drums).pads[2].layers[1].file, "media/b.wav");
    f.stack.execute(f.project, std::make_unique<AddDrumLayerCommand>(drums->id, 2, "media/c.wav"));
    EXPECT_EQ(ranges(), (Ranges{{1, 42}, {43, 84}, {85, 127}}));
    f.stack.execute(f.project, std::make_unique<RemoveDrumLayerCommand>(drums->id, 2, 0));
    EXPECT_EQ(f.stack.undoName(), "Remove Velocity Layer");
    EXPECT_EQ(ranges(), (Ranges{{1, 63}, {64, 127}}));
    EXPECT_EQ(kitOf(*drums).pads[2].layers[0].file, "media/b.wav");
    f.stack.undo(f.project);
    f.stack.undo(f.project);
    f.stack.undo(f.project);
    EXPECT_EQ(drums->instrumentState, single);

    // What cannot apply changes nothing: the last layer, a layer or pad not there, a file
    // with no name, and a ninth layer.
    f.stack.execute(f.project, std::make_unique<RemoveDrumLayerCommand>(drums->id, 2, 0));
    f.stack.execute(f.project, std::make_unique<RemoveDrumLayerCommand>(drums->id, 2, 5));
    f.stack.execute(f.project, std::make_unique<AddDrumLayerCommand>(drums->id, 40, "a.wav"));
    f.stack.execute(f.project, std::make_unique<AddDrumLayerCommand>(drums->id, 2, ""));
    EXPECT_EQ(drums->instrumentState, single);
    for (std::size_t layer = 1; layer < stock::drum_limits::maxLayers; ++layer)
        f.stack.execute(f.project, std::make_unique<AddDrumLayerCommand>(drums->id, 2, "d.wav"));
    const std::string full = drums->instrumentState;
    EXPECT_EQ(ranges().size(), stock::drum_limits::maxLayers);
    EXPECT_EQ(ranges().back(), (std::pair<int32_t, int32_t>{112, 127}));
    f.stack.execute(f.project, std::make_unique<AddDrumLayerCommand>(drums->id, 2, "e.wav"));
    EXPECT_EQ(drums->instrumentState, full);
}

TEST(InstrumentCommands, ADrumKitWithItsCopiedSamplesSurvivesSaveAndLoad) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("halvora-drum-kit-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "elsewhere");
    const std::string source = (folder / "elsewhere" / "tight snare.wav").string();
    std::vector<int16_t> pcm;
    for (int i = 0; i < 4800; ++i)
        pcm.push_back(static_cast<int16_t>((i * 37) % 20000 - 10000));
    orvane::testing::RiffBuilder().format(1, 1, 48000, 16).data(pcm).sealed().writeTo(source);
    const std::string root = (folder / "song").string();

    Project project;
    CommandStack stack;
    auto drums = project.addTrack(TrackType::Midi, "Drums");
    stack.execute(project, std::make_unique<SetTrackInstrumentCommand>(
                               drums->id, std::string(drumsInstrumentId), defaultDrumsState()));
    std::string relative;
    ASSERT_TRUE(copyFileIntoProjectMedia(source, root, relative));
    EXPECT_EQ(relative, "media/tight snare.wav");
    stack.execute(project, std::make_unique<SetDrumSampleCommand>(drums->id, 2, 0, relative));
    EXPECT_EQ(stack.undoName(), "Drum Sample");
    stack.execute(project, std::make_unique<SetDrumSampleCommand>(drums->id, 2, 1, "builtin:clap"));
    stack.execute(project,
                  std::make_unique<SetDrumPadCommand>(drums->id, 2, DrumPadSetting::Tune, -2.0f));
    const stock::DrumKit kit = kitOf(*drums);
    ASSERT_EQ(kit.pads[2].layers.size(), 2u);

    ASSERT_TRUE(project_io::saveProject(project, root, false).ok);
    // The source going away does not matter: the project holds its own copy.
    fs::remove(source);
    std::string error;
    auto loaded = project_io::loadProject(root, &error);
    ASSERT_TRUE(loaded) << error;
    const auto reloaded = loaded->findTrack(drums->id);
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(reloaded->instrument, drumsInstrumentId);
    EXPECT_EQ(kitOf(*reloaded), kit);

    // The kit finds the copy under the loaded project's folder, as the engine plans it.
    const stock::DrumKitPlan plan =
        stock::planDrumKit(stock::drumKitOfState(reloaded->instrumentState), loaded->rootPath);
    EXPECT_TRUE(plan.errors.empty());
    const stock::DrumPadMix &pad = plan.mix.pads[2];
    ASSERT_EQ(pad.layerCount, 2);
    ASSERT_GE(pad.source[0], 0) << "the copied sample loads";
    const stock::DrumSample &copied = *plan.sources[static_cast<std::size_t>(pad.source[0])];
    ASSERT_EQ(copied.frames(), static_cast<int64_t>(pcm.size()));
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        ASSERT_NEAR(copied.left[i], pcm[i] / 32768.0f, 1.0f / 32768.0f) << i;
        ASSERT_EQ(copied.left[i], copied.right[i]);
    }
    fs::remove_all(folder);
}

} // namespace
} // namespace orvane

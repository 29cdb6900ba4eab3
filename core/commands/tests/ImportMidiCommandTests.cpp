#include "core/commands/CommandStack.h"
#include "core/commands/ImportMidiCommand.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

midifile::MidiFile fileWithTempo() {
    midifile::MidiFile file;
    file.ticksPerQuarter = 480;
    file.tempos = {{0, 600000}, {960, 300000}};
    file.meters = {{0, 5, 4}};
    file.tracks.push_back({"Drums", {{9, 36, 100, 0, 120}, {9, 38, 90, 480, 120}}});
    file.tracks.push_back({"Empty", {}});
    file.tracks.push_back({"Bass", {{1, 40, 80, 0, 960}}});
    return file;
}

TEST(ImportMidiCommand, AddsTheTracksAndMapsAndUndoesAsOneStep) {
    Project project;
    project.addTrack(TrackType::Audio, "Voice");
    project.tempoBpm = 90.0;
    const Project before = project;
    CommandStack stack;
    auto command = std::make_unique<ImportMidiCommand>(
        midifile::planMidiImport(fileWithTempo(), project, true), 48000);
    const ImportMidiCommand &import = *command;
    stack.execute(project, std::move(command));

    ASSERT_EQ(project.tracks.size(), 3u) << "the empty file track adds nothing";
    const std::vector<uint64_t> ids = import.createdTrackIds();
    ASSERT_EQ(ids.size(), 2u);
    const auto drums = project.findTrack(ids[0]);
    EXPECT_EQ(drums->name, "Drums");
    EXPECT_EQ(drums->type, TrackType::Midi);
    ASSERT_EQ(drums->clips.size(), 1u);
    EXPECT_EQ(drums->clips[0]->arrangeStart, 48000);
    EXPECT_EQ(drums->clips[0]->notes.size(), 2u);
    EXPECT_DOUBLE_EQ(project.tempoBpm, 100.0);
    ASSERT_EQ(project.tempoMarkers.size(), 1u);
    EXPECT_DOUBLE_EQ(project.tempoMarkers[0].bpm, 200.0);
    EXPECT_EQ(project.timeSignature.numerator, 5);

    stack.undo(project);
    EXPECT_EQ(project.tracks.size(), 1u);
    EXPECT_DOUBLE_EQ(project.tempoBpm, 90.0);
    EXPECT_TRUE(project.tempoMarkers.empty());
    EXPECT_EQ(project.timeSignature.numerator, before.timeSignature.numerator);

    stack.redo(project);
    ASSERT_EQ(project.tracks.size(), 3u);
    EXPECT_EQ(project.findTrack(ids[0]), drums) << "the very same track comes back";
}

} // namespace
} // namespace orvane

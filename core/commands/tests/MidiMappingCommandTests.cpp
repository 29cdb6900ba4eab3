#include "core/commands/CommandStack.h"
#include "core/commands/MidiMappingCommands.h"
#include "core/model/AutomationLanes.h"

#include <gtest/gtest.h>

#include <memory>

namespace orvane {
namespace {

MidiMapping cc(int32_t number, uint64_t track, int32_t lane) {
    return MidiMapping{0, MidiSourceKind::ControlChange, number, track, lane, 0, 0.0f, 1.0f};
}

struct MappedProject {
    Project project;
    uint64_t first = 0;
    uint64_t second = 0;
    MappedProject() {
        first = project.addTrack(TrackType::Audio, "A")->id;
        second = project.addTrack(TrackType::Audio, "B")->id;
        project.midiMappings = {cc(7, first, volumeMappingLane), cc(10, first, panMappingLane)};
    }
};

TEST(MidiMappingCommands, LearningTakesOverTheControllerAndTheTargetAndUndoes) {
    const struct {
        const char *what;
        MidiMapping learned;
        std::vector<int32_t> controllersAfter;
    } cases[] = {
        {"a new controller for a new target", cc(11, 2, volumeMappingLane), {7, 10, 11}},
        {"the volume's controller for the second track", cc(7, 2, volumeMappingLane), {10, 7}},
        {"a new controller for the first track's pan", cc(12, 1, panMappingLane), {7, 12}},
    };
    for (const auto &entry : cases) {
        SCOPED_TRACE(entry.what);
        MappedProject mapped;
        const std::vector<MidiMapping> before = mapped.project.midiMappings;
        LearnMidiMappingCommand command(entry.learned);
        EXPECT_EQ(command.name(), "MIDI Learn");
        command.redo(mapped.project);
        std::vector<int32_t> controllers;
        for (const MidiMapping &mapping : mapped.project.midiMappings)
            controllers.push_back(mapping.number);
        EXPECT_EQ(controllers, entry.controllersAfter);
        EXPECT_EQ(mapped.project.midiMappings.back(), entry.learned);
        command.undo(mapped.project);
        EXPECT_EQ(mapped.project.midiMappings, before);
    }
}

TEST(MidiMappingCommands, AMappingThatCannotWorkIsRefusedWithItsReason) {
    MappedProject mapped;
    MidiMapping badChannel = cc(1, mapped.first, 0);
    badChannel.channel = 16;
    EXPECT_EQ(learnProblem(mapped.project, badChannel), "MIDI channel 17 does not exist");
    EXPECT_EQ(learnProblem(mapped.project, cc(1, 99, 0)),
              "the track of the control no longer exists");
    EXPECT_EQ(learnProblem(mapped.project, cc(1, mapped.second, insertAutomationLane(0))), "");
    const std::vector<MidiMapping> before = mapped.project.midiMappings;
    for (const MidiMapping &refused : {badChannel, cc(1, 99, 0)}) {
        LearnMidiMappingCommand command(refused);
        command.redo(mapped.project);
        EXPECT_EQ(mapped.project.midiMappings, before);
        command.undo(mapped.project);
        EXPECT_EQ(mapped.project.midiMappings, before);
    }
}

TEST(MidiMappingCommands, RemovingAMappingGoesThroughTheHistory) {
    MappedProject mapped;
    const std::vector<MidiMapping> before = mapped.project.midiMappings;
    CommandStack stack;
    stack.execute(mapped.project,
                  std::make_unique<RemoveMidiMappingCommand>(cc(7, mapped.first, 0)));
    ASSERT_EQ(mapped.project.midiMappings.size(), 1u);
    EXPECT_EQ(mapped.project.midiMappings[0].number, 10);
    EXPECT_EQ(stack.undoName(), "Remove MIDI Mapping");
    stack.undo(mapped.project);
    EXPECT_EQ(mapped.project.midiMappings, before);
    stack.redo(mapped.project);
    EXPECT_EQ(mapped.project.midiMappings.size(), 1u);
}

} // namespace
} // namespace orvane

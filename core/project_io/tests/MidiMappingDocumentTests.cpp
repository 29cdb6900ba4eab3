#include "core/model/AutomationLanes.h"
#include "core/project_io/ProjectDocument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace orvane::project_io {
namespace {

MidiMapping mapping(int32_t channel, MidiSourceKind kind, int32_t number, int32_t lane,
                    uint32_t paramId, float minimum, float maximum) {
    return MidiMapping{channel, kind, number, 7, lane, paramId, minimum, maximum};
}

TEST(MidiMappingDocument, EveryKindAndTargetSurvivesSavingAndLoading) {
    Project project;
    project.midiMappings = {
        mapping(0, MidiSourceKind::ControlChange, 7, volumeMappingLane, 0, 0.0f, 1.995f),
        mapping(15, MidiSourceKind::PitchBend, 0, panMappingLane, 0, 1.0f, -1.0f),
        mapping(9, MidiSourceKind::Note, 60, sendMappingLane(3), 0, 0.0f, 1.0f),
        mapping(3, MidiSourceKind::ControlChange, 127, insertAutomationLane(2), 4000000000u, -24.5f,
                6.25f),
    };
    const std::string text = toJson(project);
    std::string error;
    const std::optional<Project> loaded = fromJson(text, &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->midiMappings, project.midiMappings);
}

TEST(MidiMappingDocument, ADocumentWithoutMappingsKeepsItsBytes) {
    const Project project;
    EXPECT_EQ(toJson(project).find("midiMappings"), std::string::npos);
    const std::optional<Project> loaded = fromJson(R"({"name":"older"})");
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(loaded->midiMappings.empty());
}

// Each entry breaks one rule; the good mapping beside it must survive untouched.
TEST(MidiMappingDocument, MappingsThatMakeNoSenseAreLeftOutAndTheRestKept) {
    const std::string good = R"({"channel":1,"kind":0,"number":74,"trackId":3,"lane":1})";
    const struct {
        const char *what;
        std::string entry;
    } cases[] = {
        {"channel past 16", R"({"channel":16,"kind":0,"number":1,"trackId":3})"},
        {"negative channel", R"({"channel":-1,"kind":0,"number":1,"trackId":3})"},
        {"unknown kind", R"({"channel":0,"kind":3,"number":1,"trackId":3})"},
        {"controller past 127", R"({"channel":0,"kind":0,"number":128,"trackId":3})"},
        {"no track", R"({"channel":0,"kind":0,"number":1})"},
        {"lane between pan and the inserts", R"({"channel":0,"number":1,"trackId":3,"lane":5})"},
        {"lane below the sends", R"({"channel":0,"number":1,"trackId":3,"lane":-5})"},
        {"not an object", R"("CC 7")"},
        {"unknown keys beside a good mapping", ""},
    };
    for (const auto &broken : cases) {
        SCOPED_TRACE(broken.what);
        const std::string entries =
            broken.entry.empty()
                ? R"({"channel":1,"kind":0,"number":74,"trackId":3,"lane":1,"colour":"red"})"
                : broken.entry + "," + good;
        std::string error;
        const std::optional<Project> loaded =
            fromJson(R"({"name":"kept","midiMappings":[)" + entries + "]}", &error);
        ASSERT_TRUE(loaded) << error;
        EXPECT_EQ(loaded->name, "kept");
        ASSERT_EQ(loaded->midiMappings.size(), 1u);
        EXPECT_EQ(loaded->midiMappings[0],
                  (MidiMapping{1, MidiSourceKind::ControlChange, 74, 3, 1, 0, 0.0f, 1.0f}));
    }
}

TEST(MidiMappingDocument, EachProblemIsNamedInWords) {
    const struct {
        MidiMapping mapping;
        const char *expected;
    } cases[] = {
        {mapping(16, MidiSourceKind::ControlChange, 1, 0, 0, 0, 1),
         "MIDI channel 17 does not exist"},
        {mapping(0, static_cast<MidiSourceKind>(7), 1, 0, 0, 0, 1),
         "only a controller, pitch bend or a key can be learned"},
        {mapping(0, MidiSourceKind::Note, 200, 0, 0, 0, 1),
         "controller or key 200 is not 0 to 127"},
        {MidiMapping{0, MidiSourceKind::ControlChange, 1, 0, 0, 0, 0, 1},
         "the mapping names no track"},
        {mapping(0, MidiSourceKind::ControlChange, 1, 2, 0, 0, 1),
         "a controller cannot move lane 2"},
        {mapping(0, MidiSourceKind::ControlChange, 1, 0, 0, 0, INFINITY),
         "the range of a mapping must be finite numbers"},
        {mapping(0, MidiSourceKind::ControlChange, 1, insertAutomationLane(0), 9, 0, 1), ""},
    };
    for (const auto &entry : cases)
        EXPECT_EQ(midiMappingProblem(entry.mapping), entry.expected);
}

TEST(MidiMappingDocument, SourcesReadAsTheListShowsThem) {
    EXPECT_EQ(midiSourceText(mapping(0, MidiSourceKind::ControlChange, 7, 0, 0, 0, 1)),
              "CC 7, ch. 1");
    EXPECT_EQ(midiSourceText(mapping(1, MidiSourceKind::PitchBend, 0, 0, 0, 0, 1)),
              "Pitch bend, ch. 2");
    EXPECT_EQ(midiSourceText(mapping(9, MidiSourceKind::Note, 61, 0, 0, 0, 1)), "Note C#4, ch. 10");
}

} // namespace
} // namespace orvane::project_io

#include "core/project_io/ProjectDocument.h"
#include "tests/support/RandomStoredProject.h"

#include <gtest/gtest.h>

namespace orvane::project_io {
namespace {

TEST(DocumentRoundTrip, RandomProjectsKeepEveryStoredFieldAndGiveTheSameTextAgain) {
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Project original = orvane::testing::makeRandomProject(seed);
        const std::string text = toJson(original);
        std::string error;
        const std::optional<Project> loaded = fromJson(text, &error);
        ASSERT_TRUE(loaded.has_value()) << error;
        orvane::testing::expectSameStoredFields(original, *loaded);
        orvane::testing::expectNotStoredFieldsAtLoadDefaults(*loaded);
        EXPECT_EQ(toJson(*loaded), text);
    }
}

TEST(DocumentRoundTrip, ClipsBelongToTheTrackThatHoldsThemWhateverTheirStoredTrackId) {
    Project project;
    auto track = project.addTrack(TrackType::Audio, "");
    auto clip = project.addClip(track->id, ClipKind::Audio);
    clip->trackId = 99;
    const auto loaded = fromJson(toJson(project));
    ASSERT_TRUE(loaded.has_value());
    ASSERT_EQ(loaded->tracks.size(), 1u);
    ASSERT_EQ(loaded->tracks[0]->clips.size(), 1u);
    EXPECT_EQ(loaded->tracks[0]->clips[0]->trackId, track->id);
}

TEST(DocumentRoundTrip, LoadedTracksAndClipsAreNewObjects) {
    Project project;
    auto track = project.addTrack(TrackType::Midi, "");
    project.addClip(track->id, ClipKind::Midi);
    const auto loaded = fromJson(toJson(project));
    ASSERT_TRUE(loaded.has_value());
    EXPECT_NE(loaded->tracks[0].get(), track.get());
    EXPECT_NE(loaded->tracks[0]->clips[0].get(), track->clips[0].get());
}

TEST(DocumentRoundTrip, AnInstrumentAndItsStateComeBackAsTheyWereSaved) {
    Project project;
    auto synth = project.addTrack(TrackType::Midi, "Synth");
    synth->instrument = std::string(synthInstrumentId);
    synth->instrumentState = "osc1.wave=0\nfilter.cutoff=812.5\nmaster.gain=-6\n";
    project.addTrack(TrackType::Midi, "Sine");
    const auto loaded = fromJson(toJson(project));
    ASSERT_TRUE(loaded.has_value());
    ASSERT_EQ(loaded->tracks.size(), 2u);
    EXPECT_EQ(loaded->tracks[0]->instrument, synthInstrumentId);
    EXPECT_EQ(loaded->tracks[0]->instrumentState, synth->instrumentState);
    EXPECT_TRUE(loaded->tracks[1]->instrument.empty());
    EXPECT_TRUE(loaded->tracks[1]->instrumentState.empty());
}

TEST(DocumentRoundTrip, ATrackWithoutAnInstrumentIsWrittenAsBeforeInstrumentsExisted) {
    Project project;
    project.addTrack(TrackType::Midi, "Sine");
    const std::string text = toJson(project);
    EXPECT_EQ(text.find("\"instrument"), std::string::npos);
    project.tracks[0]->instrument = std::string(synthInstrumentId);
    EXPECT_NE(toJson(project).find("\"instrument\""), std::string::npos);
}

TEST(DocumentRoundTrip, APluginWindowOpenAtSavingOpensAgainAndOlderFilesHaveItClosed) {
    Project project;
    auto track = project.addTrack(TrackType::Audio, "Guitar");
    track->inserts.resize(2);
    track->inserts[0].pluginId = "lv2:http://example.org/reverb";
    track->inserts[1].pluginId = "lv2:http://example.org/delay";
    track->inserts[1].editorOpen = true;
    const std::string text = toJson(project);
    ASSERT_NE(text.find("\"editorOpen\""), std::string::npos);
    EXPECT_EQ(text.find("\"editorOpen\""), text.rfind("\"editorOpen\"")) << "only the open one";
    const auto loaded = fromJson(text);
    ASSERT_TRUE(loaded.has_value());
    ASSERT_EQ(loaded->tracks[0]->inserts.size(), 2u);
    EXPECT_FALSE(loaded->tracks[0]->inserts[0].editorOpen);
    EXPECT_TRUE(loaded->tracks[0]->inserts[1].editorOpen);

    // A file from before windows were remembered: every window stays closed.
    track->inserts[1].editorOpen = false;
    const std::string older = toJson(project);
    EXPECT_EQ(older.find("editorOpen"), std::string::npos);
    const auto olderLoaded = fromJson(older);
    ASSERT_TRUE(olderLoaded.has_value());
    EXPECT_FALSE(olderLoaded->tracks[0]->inserts[1].editorOpen);
}

} // namespace
} // namespace orvane::project_io

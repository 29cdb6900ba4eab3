#include "core/model/BuiltInPresets.h"
#include "core/project_io/ProjectDocument.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <limits>

namespace orvane::project_io {
namespace {

Project load(const std::string &text) {
    std::string error;
    std::optional<Project> project = fromJson(text, &error);
    EXPECT_TRUE(project.has_value()) << error;
    return project ? std::move(*project) : Project{};
}

/// A document with a single track built from the given track members.
Project loadTrack(const std::string &members) { return load(R"({"tracks":[{)" + members + "}]}"); }

TEST(DocumentReaderDefaults, AnEmptyObjectGivesEveryDefault) {
    const Project p = load("{}");
    const Project fresh;
    EXPECT_EQ(p.formatVersion, 1);
    EXPECT_EQ(p.name, "Untitled");
    EXPECT_EQ(p.sampleRate, 48000.0);
    EXPECT_EQ(p.tempoBpm, 120.0);
    EXPECT_EQ(p.countInBars, 1);
    EXPECT_EQ(p.quantizeStrength, 1.0f);
    EXPECT_EQ(p.metronomeVolume, 0.8f);
    EXPECT_EQ(p.activeGrooveIndex, -1);
    EXPECT_EQ(p.tempoFollowerSmoothing, 0.35f);
    EXPECT_TRUE(p.tempoFollowerFromInput);
    EXPECT_EQ(p.flashbackBufferSeconds, 30);
    EXPECT_EQ(p.timeSignature, (TimeSignature{4, 4}));
    EXPECT_EQ(p.nextTrackId, 1u);
    EXPECT_EQ(p.nextMarkerId, 1u);
    EXPECT_EQ(p.controlRoom, fresh.controlRoom);
    EXPECT_EQ(p.masterEq, fresh.masterEq);
    EXPECT_EQ(p.mastering, fresh.mastering);
    EXPECT_EQ(p.session, fresh.session);
    EXPECT_EQ(p.scalaCents, (std::array<float, 12>{}));
    EXPECT_EQ(p.groovePool, defaultGroovePool());
    EXPECT_EQ(p.expressionMaps, defaultExpressionMaps());
    EXPECT_TRUE(p.tracks.empty());
    EXPECT_TRUE(p.pluginUserTags.empty());
    EXPECT_FALSE(p.metronomeEnabled);
    EXPECT_EQ(p.gridQuantize, GridQuantize::Quarter);
    EXPECT_EQ(p.lengthSamples, 0);
}

TEST(DocumentReaderDefaults, TracksOfOlderDocumentsLayerTheirSessionClips) {
    EXPECT_FALSE(loadTrack(R"("id":1,"type":0)").tracks[0]->oneClipAtATime);
    EXPECT_TRUE(loadTrack(R"("id":1,"oneClipAtATime":true)").tracks[0]->oneClipAtATime);
    EXPECT_EQ(loadTrack(R"("id":1)").tracks[0]->monitor, MonitorMode::Auto);
    EXPECT_EQ(loadTrack(R"("id":1,"monitor":1)").tracks[0]->monitor, MonitorMode::In);
    EXPECT_EQ(loadTrack(R"("id":1,"monitor":9)").tracks[0]->monitor, MonitorMode::Auto)
        << "a mode nothing knows about means the default";
}

TEST(DocumentReaderDefaults, TracksWithoutAGroupingGiveEachSandboxedPluginItsOwnHelper) {
    const std::pair<const char *, SandboxGrouping> cases[] = {
        {R"("id":1)", SandboxGrouping::PerPlugin},
        {R"("id":1,"sandboxGrouping":1)", SandboxGrouping::PerTrack},
        {R"("id":1,"sandboxGrouping":0)", SandboxGrouping::PerPlugin},
        {R"("id":1,"sandboxGrouping":7)", SandboxGrouping::PerPlugin},
        {R"("id":1,"sandboxGrouping":"x")", SandboxGrouping::PerPlugin}};
    for (const auto &[fields, expected] : cases)
        EXPECT_EQ(loadTrack(fields).tracks[0]->sandboxGrouping, expected) << fields;
}

TEST(DocumentReaderDefaults, MissingCentsComeFromTheSelectedPreset) {
    const auto justMajor = load(R"({"scalaPresetIndex":2})").scalaCents;
    EXPECT_EQ(justMajor[1], -29.33f);
    EXPECT_EQ(justMajor[6], -17.6f);
    EXPECT_EQ(justMajor[11], -11.73f);
    EXPECT_EQ(load(R"({"scalaPresetIndex":2,"scalaCents":"x"})").scalaCents, justMajor);
    EXPECT_EQ(load(R"({"scalaPresetIndex":9})").scalaCents, (std::array<float, 12>{}));
    // A present array starts from zeros, not from the preset.
    const Project p = load(R"({"scalaPresetIndex":2,"scalaCents":[5,"x",3]})");
    EXPECT_EQ(p.scalaCents[0], 5.0f);
    EXPECT_EQ(p.scalaCents[1], 0.0f);
    EXPECT_EQ(p.scalaCents[2], 3.0f);
    EXPECT_EQ(p.scalaCents[11], 0.0f);
}

TEST(DocumentReaderTypes, AValueOfTheWrongTypeCountsAsMissing) {
    const Project p = load(R"({"formatVersion":"7","name":5,"punchEnabled":1,)"
                           R"("tempoBpm":true,"timeSignature":[3,4],"session":7})");
    EXPECT_EQ(p.formatVersion, 1);
    EXPECT_EQ(p.name, "Untitled");
    EXPECT_FALSE(p.punchEnabled);
    EXPECT_EQ(p.tempoBpm, 120.0);
    EXPECT_EQ(p.timeSignature, (TimeSignature{4, 4}));
    EXPECT_EQ(p.session.rows, 8);
}

TEST(DocumentReaderTypes, TheFirstOfDuplicateKeysWinsAndUnknownKeysAreIgnored) {
    const Project p = load(R"({"bogus":[1,{}],"name":"first","name":"second"})");
    EXPECT_EQ(p.name, "first");
}

TEST(DocumentReaderNumbers, IntegersTruncateTowardZeroSaturateAndKeepToTheirRange) {
    const Project p = load(R"({"formatVersion":7.9,"scaleRoot":-7.9,"countInBars":1e12,)"
                           R"("flashbackBufferSeconds":-1e12,"nextClipId":-5,)"
                           R"("nextTrackId":1e300,"punchIn":1e300,"punchOut":-1e300,)"
                           R"("automationWriteMode":258,"smartTempoMode":-1,)"
                           R"("inputLatencyOffsetSamples":-1e12})");
    EXPECT_EQ(p.formatVersion, 7);
    EXPECT_EQ(p.scaleRoot, 0) << "a scale root names one of the twelve pitch classes";
    EXPECT_EQ(p.countInBars, 16);
    EXPECT_EQ(p.flashbackBufferSeconds, 1);
    EXPECT_EQ(p.nextClipId, 0u);
    EXPECT_EQ(p.nextTrackId, std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(p.punchIn, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(p.punchOut, std::numeric_limits<int64_t>::min());
    EXPECT_EQ(p.inputLatencyOffsetSamples, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(p.automationWriteMode, AutomationWriteMode::Read) << "unknown modes take the default";
    EXPECT_EQ(p.smartTempoMode, 0);
}

TEST(DocumentReaderNumbers, FloatsTakeTheNearestFloatAndKeepToTheirRange) {
    const Project p = load(R"({"swingAmount":0.800000011920929,"metronomeVolume":1e300,)"
                           R"("quantizeStrength":-1e300,"tracks":[{"clips":[{"name":"c"}],)"
                           R"("volumeAutomation":[{"t":1,"v":-0.25}]}]})");
    EXPECT_EQ(p.swingAmount, 0.8f);
    EXPECT_EQ(p.metronomeVolume, 1.0f);
    EXPECT_EQ(p.quantizeStrength, 0.0f);
    EXPECT_EQ(p.tracks[0]->volumeAutomation[0].v, -0.25f);
}

TEST(DocumentReaderNumbers, UnsignedThirtyTwoBitParameterSaturatesAtBothEnds) {
    const Project p = loadTrack(R"("inserts":[{"automParamId":-3},{"automParamId":5e9},)"
                                R"({"automParamId":4294967295}])");
    ASSERT_EQ(p.tracks[0]->inserts.size(), 3u);
    EXPECT_EQ(p.tracks[0]->inserts[0].automParamId, 0u);
    EXPECT_EQ(p.tracks[0]->inserts[1].automParamId, 4294967295u);
    EXPECT_EQ(p.tracks[0]->inserts[2].automParamId, 4294967295u);
}

TEST(DocumentReaderLists, NonObjectElementsAreSkipped) {
    const Project p = load(R"({"markers":[1,{"id":4},"x",{"name":"b"}],)"
                           R"("tracks":[null,{"id":3},[]],"kbmDegrees":[1,"2",3.7]})");
    ASSERT_EQ(p.markers.size(), 2u);
    EXPECT_EQ(p.markers[0].id, 4u);
    EXPECT_EQ(p.markers[1].name, "b");
    ASSERT_EQ(p.tracks.size(), 1u);
    EXPECT_EQ(p.tracks[0]->id, 3u);
    EXPECT_EQ(p.kbmDegrees, (std::vector<int32_t>{1, 3}));
}

TEST(DocumentReaderLists, SceneClipsKeepNumbersOnly) {
    const Project p = load(R"({"session":{"rows":2,"scenes":[{"id":1,"clips":[3,"4",0,-2]}]}})");
    EXPECT_EQ(p.session.rows, 2);
    EXPECT_EQ(p.session.cols, 8);
    ASSERT_EQ(p.session.scenes.size(), 1u);
    EXPECT_EQ(p.session.scenes[0].clips, (std::vector<uint64_t>{3, 0, 0}));
    EXPECT_EQ(p.session.scenes[0].sceneTempoBpm, 120.0);
}

TEST(DocumentReaderLists, EmptyGroovePoolsAndExpressionMapsBecomeTheDefaults) {
    const Project p = load(R"({"groovePool":[1,2],"expressionMaps":[]})");
    EXPECT_EQ(p.groovePool, defaultGroovePool());
    EXPECT_EQ(p.expressionMaps, defaultExpressionMaps());
}

TEST(DocumentReaderLists, GroovePatternsTakeAtMostSixteenValuesAndZeroTheRest) {
    std::string longPattern = "[";
    for (int step = 0; step < 20; ++step)
        longPattern += std::to_string(step + 1) + (step < 19 ? "," : "]");
    const Project p = load(R"({"groovePool":[{"name":"g","timingPattern":)" + longPattern +
                           R"(,"velocityPattern":[0.5,"x",0.25]}]})");
    ASSERT_EQ(p.groovePool.size(), 1u);
    EXPECT_EQ(p.groovePool[0].timingPattern[15], 1.0f) << "a step moves by at most a step";
    EXPECT_EQ(p.groovePool[0].velocityPattern[0], 0.5f);
    EXPECT_EQ(p.groovePool[0].velocityPattern[1], 0.0f);
    EXPECT_EQ(p.groovePool[0].velocityPattern[2], 0.25f);
    EXPECT_EQ(p.groovePool[0].velocityPattern[3], 0.0f);
}

TEST(DocumentReaderLists, ArticulationsAndChordsTakeTheirOwnDefaults) {
    const Project p = load(R"({"expressionMaps":[{"name":"m","articulations":[{}]}],)"
                           R"("chordMarkers":[{"position":5},{"chord":""},{"chord":"Dm7"}]})");
    ASSERT_EQ(p.expressionMaps.size(), 1u);
    const ExpressionArticulation expected{"", 36, 1.0f, 11, 127};
    EXPECT_EQ(p.expressionMaps[0].articulations, std::vector<ExpressionArticulation>{expected});
    ASSERT_EQ(p.chordMarkers.size(), 3u);
    EXPECT_EQ(p.chordMarkers[0].chord, "C");
    EXPECT_EQ(p.chordMarkers[0].position, 5);
    EXPECT_EQ(p.chordMarkers[1].chord, "C");
    EXPECT_EQ(p.chordMarkers[2].chord, "Dm7");
}

TEST(DocumentReaderLists, HistoryEntriesNameTheirTrackDifferentlyFromSnapshots) {
    const Project p =
        load(R"({"mixerSnapshots":[{"tracks":[{"track":5,"trackId":6}]}],)"
             R"("mixerSnapshotHistory":[{"snapshot":{"tracks":[{"track":5,"trackId":6}]}}]})");
    EXPECT_EQ(p.mixerSnapshots[0].tracks[0].trackId, 6u);
    EXPECT_EQ(p.mixerSnapshotHistory[0].snapshot.tracks[0].trackId, 5u);
    EXPECT_EQ(p.mixerSnapshots[0].tracks[0].gain, 1.0f);
}

TEST(DocumentReaderTags, KeepStringsOnlyAndLetARepeatedKeyReplaceTheEarlier) {
    const Project p = load(R"({"pluginUserTags":{"a":["x",1,"y"],"b":[1,2],"c":"z",)"
                           R"("a":["w"]},"audioMediaTags":[["k"]]})");
    EXPECT_EQ(p.pluginUserTags.size(), 1u);
    EXPECT_EQ(p.pluginUserTags.at("a"), (std::vector<std::string>{"w"}));
    EXPECT_TRUE(p.audioMediaTags.empty());
}

TEST(DocumentReaderTrack, SendsFillTheFirstFourSlotsFromObjectsOnly) {
    const Project p =
        loadTrack(R"("sends":[{"return":1},"x",{"return":2},{"return":3},)"
                  R"({"return":4,"level":0.5,"pre":true},{"return":5},{"return":6}])");
    const auto &sends = p.tracks[0]->sends;
    EXPECT_EQ(sends[0].returnId, 1u);
    EXPECT_EQ(sends[1].returnId, 2u);
    EXPECT_EQ(sends[3].returnId, 4u);
    EXPECT_EQ(sends[3].level, 0.5f);
    EXPECT_TRUE(sends[3].pre);
    const Project short_ = loadTrack(R"("sends":[{"return":9}])");
    EXPECT_EQ(short_.tracks[0]->sends[1], SendSlot{});
}

TEST(DocumentReaderTrack, MacrosKeepTheirDefaultWhereTheElementIsNoNumber) {
    const Project p = loadTrack(R"("macros":[1,"x",0.25,0.75,0.1])");
    EXPECT_EQ(p.tracks[0]->macros, (std::array<float, 4>{1.0f, 0.5f, 0.25f, 0.75f}));
}

TEST(DocumentReaderTrack, EqBandsReplaceDefaultsOnlyWithValuesOfTheirType) {
    const Project p = loadTrack(R"("eq":{"enabled":false,"outDb":"3","bands":[)"
                                R"({"type":4,"freq":"99","gainDb":-3,"enabled":1},7,)"
                                R"({"q":2,"enabled":false}]})");
    const ChannelEq8 &eq = p.tracks[0]->eq;
    const auto defaults = ChannelEq8::defaultBands();
    EXPECT_FALSE(eq.enabled);
    EXPECT_EQ(eq.outDb, 0.0f);
    EXPECT_EQ(eq.bands[0].type, 4);
    EXPECT_EQ(eq.bands[0].freq, defaults[0].freq);
    EXPECT_EQ(eq.bands[0].gainDb, -3.0f);
    EXPECT_TRUE(eq.bands[0].enabled);
    EXPECT_EQ(eq.bands[1], defaults[1]);
    EXPECT_EQ(eq.bands[2].q, 2.0f);
    EXPECT_EQ(eq.bands[2].freq, defaults[2].freq);
    EXPECT_FALSE(eq.bands[2].enabled);
    EXPECT_EQ(eq.bands[7], defaults[7]);
    EXPECT_EQ(loadTrack(R"("eq":[1])").tracks[0]->eq, ChannelEq8{});
}

TEST(DocumentReaderTrack, InsertStateIsDecodedLeniently) {
    const Project p = loadTrack(R"("inserts":[{"state":"Zm9v\nYm*Fy=="},{"state":5}])");
    EXPECT_EQ(p.tracks[0]->inserts[0].state, (std::vector<uint8_t>{'f', 'o', 'o', 'b', 'a', 'r'}));
    EXPECT_TRUE(p.tracks[0]->inserts[1].state.empty());
}

TEST(DocumentReaderTrack, ClipKeysTakeTheirDocumentDefaults) {
    const Project p = loadTrack(R"("id":7,"clips":[{"trackId":3,"notes":[{}]}])");
    const Clip &clip = *p.tracks[0]->clips[0];
    EXPECT_EQ(clip.trackId, 7u);
    EXPECT_EQ(clip.gain, 1.0f);
    EXPECT_EQ(clip.stretchRatio, 1.0);
    EXPECT_EQ(clip.sessionRow, -1);
    EXPECT_EQ(clip.sessionCol, -1);
    EXPECT_TRUE(clip.takeActive);
    EXPECT_EQ(clip.channels, 2);
    EXPECT_EQ(clip.launchQuantize, LaunchQuantize::OneBar);
    ASSERT_EQ(clip.notes.size(), 1u);
    EXPECT_EQ(clip.notes[0].pitch, 60);
    EXPECT_EQ(clip.notes[0].velocity, 0.8f);
}

TEST(DocumentReaderStrings, TabQuoteAndBackslashInANameSurviveWritingAndReading) {
    Project project;
    auto track = project.addTrack(TrackType::Audio, "");
    auto clip = project.addClip(track->id, ClipKind::Audio);
    clip->name = "a\tb\"c\\d";
    const Project loaded = load(toJson(project));
    EXPECT_EQ(loaded.tracks[0]->clips[0]->name, "a\tb\"c\\d");
}

TEST(DocumentReaderFailures, ReportsTheReasonAndReturnsNoProject) {
    std::string error;
    EXPECT_FALSE(fromJson("[1,2]", &error).has_value());
    EXPECT_EQ(error, "root must be object");
    EXPECT_FALSE(fromJson("", &error).has_value());
    EXPECT_EQ(error, "root must be object");
    EXPECT_FALSE(fromJson(R"({"name":"x")", &error).has_value());
    EXPECT_EQ(error, "expected ',' or '}'");
    EXPECT_FALSE(fromJson(R"({"tracks":[{"id" 1}]})", nullptr).has_value());
}

TEST(DocumentReaderFailures, AMillionLevelsOfNestingFailWithoutExhaustingTheStack) {
    const std::string deep = R"({"tracks":)" + std::string(1000000, '[');
    std::string error;
    EXPECT_FALSE(fromJson(deep, &error).has_value());
    EXPECT_EQ(error, "nesting too deep");
}

TEST(DocumentReaderTolerance, AByteOrderMarkAndEscapesFromOtherToolsAreAccepted) {
    const Project p = load("\xEF\xBB\xBF"
                           R"({"name":"Caf\u00e9 \ud83c\udfb5\u0007"})");
    EXPECT_EQ(p.name, "Caf\xC3\xA9 \xF0\x9F\x8E\xB5\x07");
    // Written back, the control byte is escaped and the document reads the same again.
    Project named;
    named.name = p.name;
    const std::string text = toJson(named);
    EXPECT_NE(text.find("\"name\": \"Caf\xC3\xA9 \xF0\x9F\x8E\xB5\\u0007\""), std::string::npos)
        << text;
    EXPECT_EQ(load(text).name, p.name);
}

TEST(DocumentReaderTolerance, LeadingWhitespaceAndTrailingTextAreAccepted) {
    const Project p = load(" \r\n\t{\"name\":\"n\"} trailing [garbage");
    EXPECT_EQ(p.name, "n");
}

} // namespace
// Launch quantisation of the clip and of the session grid: kept as written, one bar when a
// document has none (as every document did before it was stored) or an unknown value.
TEST(DocumentReaderSession, LaunchQuantizeIsKeptAndDefaultsToOneBar) {
    const Project stored = load(R"({"session":{"launchQuantize":3},"tracks":[{"clips":[)"
                                R"({"launchQuantize":0},{"launchQuantize":1},{"launchQuantize":9}]}]})");
    EXPECT_EQ(stored.session.launchQuantize, LaunchQuantize::EightBars);
    const auto &clips = stored.tracks[0]->clips;
    EXPECT_EQ(clips[0]->launchQuantize, LaunchQuantize::Immediate);
    EXPECT_EQ(clips[1]->launchQuantize, LaunchQuantize::OneBeat);
    EXPECT_EQ(clips[2]->launchQuantize, LaunchQuantize::OneBar);
    EXPECT_EQ(load(R"({"session":{"rows":2}})").session.launchQuantize, LaunchQuantize::OneBar);
    const Project again = load(toJson(stored));
    EXPECT_EQ(again.session.launchQuantize, LaunchQuantize::EightBars);
    EXPECT_EQ(again.tracks[0]->clips[0]->launchQuantize, LaunchQuantize::Immediate);
}

// A scene's own launch quantisation is written only when it has one, so a document of scenes
// that launch on the grid's reads and writes as before.
TEST(DocumentReaderSession, ASceneKeepsItsOwnLaunchQuantisationAndWritesNoneByDefault) {
    Project project;
    project.session.scenes = {Scene{}, Scene{}};
    project.session.scenes[0].id = 1;
    project.session.scenes[1].id = 2;
    const std::string plain = toJson(project);
    EXPECT_EQ(plain.find("LaunchQuantize\""), std::string::npos) << plain;

    project.session.scenes[1].useSceneLaunchQuantize = true;
    project.session.scenes[1].sceneLaunchQuantize = LaunchQuantize::Immediate;
    const Project again = load(toJson(project));
    ASSERT_EQ(again.session.scenes.size(), 2u);
    EXPECT_FALSE(again.session.scenes[0].useSceneLaunchQuantize);
    EXPECT_TRUE(again.session.scenes[1].useSceneLaunchQuantize);
    EXPECT_EQ(again.session.scenes[1].sceneLaunchQuantize, LaunchQuantize::Immediate);

    const Project unknown = load(R"({"session":{"scenes":[{"id":1,"useSceneLaunchQuantize":true,)"
                                 R"("sceneLaunchQuantize":7}]}})");
    EXPECT_EQ(unknown.session.scenes.at(0).sceneLaunchQuantize, LaunchQuantize::OneBar);
}

} // namespace orvane::project_io

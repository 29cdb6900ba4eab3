#include "core/project_io/DocumentEncoding.h"
#include "core/project_io/ProjectDocument.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

namespace orvane::project_io {
namespace {

const std::string defaultEq =
    R"({"enabled":true,"bypass":false,"outDb":0,"bands":[)"
    R"({"type":0,"freq":20,"gainDb":0,"q":0.699999988079071,"enabled":true},)"
    R"({"type":1,"freq":75,"gainDb":0,"q":0.699999988079071,"enabled":true},)"
    R"({"type":2,"freq":100,"gainDb":0,"q":1,"enabled":true},)"
    R"({"type":2,"freq":250,"gainDb":0,"q":1,"enabled":true},)"
    R"({"type":2,"freq":750,"gainDb":0,"q":1,"enabled":true},)"
    R"({"type":2,"freq":2500,"gainDb":0,"q":1,"enabled":true},)"
    R"({"type":3,"freq":7500,"gainDb":0,"q":0.699999988079071,"enabled":true},)"
    R"({"type":4,"freq":20000,"gainDb":0,"q":0.699999988079071,"enabled":true}]})";

const std::string defaultRoom =
    R"({"masterGain":1,"cueGain":1,"dim":false,"mono":false,"talkback":false})";

Project projectWithOneOfEverything() {
    Project p;
    p.name = "Demo";
    p.sampleRate = 44100;
    p.tempoBpm = 128.5;
    p.countInBars = 2;
    p.punchEnabled = true;
    p.punchIn = 1000;
    p.punchOut = 2000;
    p.swingAmount = 0.25f;
    p.scaleRoot = 9;
    p.scaleMinor = true;
    p.scalaPresetIndex = 1;
    p.scalaName = "Pyth";
    p.scalaCents[0] = 3.5f;
    p.kbmName = "map";
    p.kbmDegrees = {0, 2};
    p.automationWriteMode = AutomationWriteMode::Latch;
    p.grooveTimingAmount = 0.5f;
    p.activeGrooveIndex = 0;
    GrooveTemplate groove{"G", 0.5f, 0.25f, {}, {}};
    groove.timingPattern[0] = 0.5f;
    groove.velocityPattern.fill(0.5f);
    p.groovePool = {groove};
    p.smartTempoMode = 1;
    p.tempoFollowerEnabled = true;
    p.inputLatencyOffsetSamples = 12;
    p.outputLatencyOffsetSamples = -3;
    p.timeSignature = {3, 4};
    p.nextTrackId = 3;
    p.nextClipId = 2;
    p.nextSceneId = 2;
    p.nextMarkerId = 2;
    p.markers = {{1, "Intro", 0}};
    p.tempoMarkers = {{48000, 140.25}};
    p.meterMarkers = {{0, 3, 4}};
    p.chordMarkers = {{0, "Am"}};
    p.expressionMaps = {{"Map", {{"Art", 36, 0.5f, 11, 127}}}};
    p.beatMarkers = {{0, true}};
    MixerSnapshot automatic{"S", {{1, 1.0f, 0.0f, false, false, {}, {}}}, {}};
    p.mixerSnapshotHistory = {{"auto", automatic}};
    p.mixerSnapshots = {{"Mix", {{1, 0.5f, -0.5f, true, false, {}, {}}}, {}}};
    p.pluginUserTags = {{"b", {"x"}}, {"a", {"y", "z"}}};
    p.session.scenes = {{1, "Scene \"1\"", {1, 0}, FollowAction::NextScene, true, 90, false, 4, 4}};

    auto keys = std::make_shared<Track>();
    keys->id = 1;
    keys->type = TrackType::Midi;
    keys->name = "Keys\t1";
    keys->gain = 0.5f;
    keys->pan = -0.25f;
    keys->solo = true;
    keys->expressionMapIndex = 0;
    keys->mpeEnabled = true;
    keys->volumeAutomation = {{0, 1.0f}, {100, 0.5f}};
    keys->automationClips = {{5, 0, 96, 1, {{0, 0.25f}}}};
    keys->inserts = {
        {"id.x", "Synth", "/p/s.vst3", {0x01, 0x02, 0xFF}, false, true, 7, {{10, 0.75f}}}};
    keys->sends[0] = {2, 0.5f, true};
    auto riff = std::make_shared<Clip>();
    riff->id = 1;
    riff->trackId = 1;
    riff->kind = ClipKind::Midi;
    riff->name = "Riff";
    riff->arrangeStart = 480;
    riff->length = 960;
    riff->sessionRow = 0;
    riff->sessionCol = 0;
    riff->launchMode = SessionLaunchMode::Toggle;
    riff->followAction = FollowAction::Again;
    riff->gainEnvelope = {{0, 1.0f}};
    riff->warpMarkers = {{0, 0}};
    riff->notes = {MidiNote{64, 0.8f, 0, 240}};
    keys->clips = {riff, nullptr};
    auto reverb = std::make_shared<Track>();
    reverb->id = 2;
    reverb->type = TrackType::Return;
    reverb->name = "Verb";
    p.tracks = {keys, nullptr, reverb};
    return p;
}

TEST(DocumentWriter, PinsTheExactTextOfASmallProject) {
    const std::string expected =
        "{\n"
        "  \"formatVersion\": 1,\n"
        "  \"name\": \"Demo\",\n"
        "  \"sampleRate\": 44100,\n"
        "  \"tempoBpm\": 128.5,\n"
        "  \"countInBars\": 2,\n"
        "  \"punchEnabled\": true,\n"
        "  \"punchIn\": 1000,\n"
        "  \"punchOut\": 2000,\n"
        "  \"swingAmount\": 0.25,\n"
        "  \"quantizeStrength\": 1,\n"
        "  \"scaleRoot\": 9,\n"
        "  \"scaleMinor\": true,\n"
        "  \"scaleSnapEnabled\": false,\n"
        "  \"scalaPresetIndex\": 1,\n"
        "  \"scalaName\": \"Pyth\",\n"
        "  \"scalaCents\": [3.5,0,0,0,0,0,0,0,0,0,0,0],\n"
        "  \"kbmName\": \"map\",\n"
        "  \"kbmDegrees\": [0,2],\n"
        "  \"metronomeVolume\": 0.800000011920929,\n"
        "  \"automationWriteMode\": 2,\n"
        "  \"grooveTimingAmount\": 0.5,\n"
        "  \"grooveVelocityAmount\": 0,\n"
        "  \"activeGrooveIndex\": 0,\n"
        "  \"groovePool\": [{\"name\":\"G\",\"timing\":0.5,\"velocity\":0.25,"
        "\"timingPattern\":[0.5,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],"
        "\"velocityPattern\":[0.5,0.5,0.5,0.5,0.5,0.5,0.5,0.5,0.5,0.5,0.5,0.5,0.5,0.5,0.5,0.5]}],\n"
        "  \"smartTempoMode\": 1,\n"
        "  \"tempoFollowerEnabled\": true,\n"
        "  \"tempoFollowerSmoothing\": 0.349999994039536,\n"
        "  \"tempoFollowerFromInput\": true,\n"
        "  \"lowLatencyMode\": false,\n"
        "  \"flashbackBufferSeconds\": 30,\n"
        "  \"controlRoom\": " +
        defaultRoom +
        ",\n"
        "  \"masterEq\": " +
        defaultEq +
        ",\n"
        "  \"mastering\": {\"enabled\":true,\"bypass\":false,\"character\":0,"
        "\"loudness\":0.349999994039536,\"excite\":false,\"exciteAmt\":0.25,\"width\":1,"
        "\"loudCmp\":true},\n"
        "  \"inputLatencyOffsetSamples\": 12,\n"
        "  \"outputLatencyOffsetSamples\": -3,\n"
        "  \"timeSignature\": {\"numerator\": 3, \"denominator\": 4},\n"
        "  \"nextTrackId\": 3,\n"
        "  \"nextClipId\": 2,\n"
        "  \"nextSceneId\": 2,\n"
        "  \"nextMarkerId\": 2,\n"
        "  \"markers\": [{\"id\":1,\"name\":\"Intro\",\"position\":0}],\n"
        "  \"tempoMarkers\": [{\"position\":48000,\"bpm\":140.25}],\n"
        "  \"meterMarkers\": [{\"position\":0,\"num\":3,\"den\":4}],\n"
        "  \"chordMarkers\": [{\"position\":0,\"chord\":\"Am\"}],\n"
        "  \"expressionMaps\": [{\"name\":\"Map\",\"articulations\":[{\"name\":\"Art\","
        "\"keyswitch\":36,\"velScale\":0.5,\"cc\":11,\"ccVal\":127}]}],\n"
        "  \"beatMarkers\": [{\"position\":0,\"downbeat\":true}],\n"
        "  \"mixerSnapshotHistory\": [{\"label\":\"auto\",\"snapshot\":{\"name\":\"S\","
        "\"controlRoom\":" +
        defaultRoom +
        ",\"tracks\":[{\"track\":1,\"gain\":1,\"pan\":0,"
        "\"mute\":false,\"solo\":false}]}}],\n"
        "  \"mixerSnapshots\": [{\"name\":\"Mix\",\"controlRoom\":" +
        defaultRoom +
        ",\"tracks\":[{\"trackId\":1,\"gain\":0.5,\"pan\":-0.5,\"mute\":true,\"solo\":false}]}],\n"
        "  \"pluginUserTags\": {\"a\":[\"y\",\"z\"],\"b\":[\"x\"]},\n"
        "  \"audioMediaTags\": {},\n"
        "  \"session\": {\n"
        "    \"rows\": 8,\n"
        "    \"cols\": 8,\n"
        "    \"launchQuantize\": 2,\n"
        "    \"scenes\": [{\"id\":1,\"name\":\"Scene \\\"1\\\"\",\"followAction\":2,"
        "\"useSceneTempo\":true,\"sceneTempoBpm\":90,\"useSceneMeter\":false,"
        "\"sceneMeterNum\":4,\"sceneMeterDen\":4,\"clips\":[1,0]}]\n"
        "  },\n"
        "  \"tracks\": [\n"
        "    {\n"
        "      \"id\": 1,\n"
        "      \"type\": 1,\n"
        "      \"name\": \"Keys\\t1\",\n"
        "      \"gain\": 0.5,\n"
        "      \"pan\": -0.25,\n"
        "      \"mute\": false,\n"
        "      \"solo\": true,\n"
        "      \"expressionMapIndex\": 0,\n"
        "      \"mpeEnabled\": true,\n"
        "      \"frozen\": false,\n"
        "      \"volumeAutomation\": [{\"t\":0,\"v\":1},{\"t\":100,\"v\":0.5}],\n"
        "      \"panAutomation\": [],\n"
        "      \"muteAutomation\": [],\n"
        "      \"automationClips\": [{\"id\":5,\"start\":0,\"length\":96,\"lane\":1,"
        "\"points\":[{\"t\":0,\"v\":0.25}]}],\n"
        "      \"macros\": [0.5,0.5,0.5,0.5],\n"
        "      \"inserts\": [{\"pluginId\":\"id.x\",\"displayName\":\"Synth\","
        "\"bundlePath\":\"/p/s.vst3\",\"state\":\"AQL/\",\"bypassed\":false,\"isStock\":true,"
        "\"automParamId\":7,\"paramAutomation\":[{\"t\":10,\"v\":0.75}]}],\n"
        "      \"sends\": [{\"return\":2,\"level\":0.5,\"pre\":true},"
        "{\"return\":0,\"level\":0,\"pre\":false},{\"return\":0,\"level\":0,\"pre\":false},"
        "{\"return\":0,\"level\":0,\"pre\":false}],\n"
        "      \"eq\": " +
        defaultEq +
        ",\n"
        "      \"clips\": [\n"
        "        {\"id\":1,\"kind\":1,\"name\":\"Riff\",\"arrangeStart\":480,\"length\":960,"
        "\"sourceOffset\":0,\"loop\":false,\"loopLength\":0,\"gain\":1,\"stretchRatio\":1,"
        "\"audioFile\":\"\",\"sessionRow\":0,\"sessionCol\":0,\"fadeIn\":0,\"fadeOut\":0,"
        "\"takeLane\":0,\"takeActive\":true,\"followAction\":1,\"launchMode\":2,"
        "\"legatoLaunch\":false,\"launchQuantize\":2,\"gainEnvelope\":[{\"t\":0,\"v\":1}],"
        "\"warpMarkers\":[{\"dest\":0,\"source\":0}],"
        "\"notes\":[{\"pitch\":64,\"velocity\":0.800000011920929,\"start\":0,\"length\":240}]}\n"
        "      ]\n"
        "    },\n"
        "    {\n"
        "      \"id\": 2,\n"
        "      \"type\": 3,\n"
        "      \"name\": \"Verb\",\n"
        "      \"gain\": 1,\n"
        "      \"pan\": 0,\n"
        "      \"mute\": false,\n"
        "      \"solo\": false,\n"
        "      \"expressionMapIndex\": -1,\n"
        "      \"mpeEnabled\": false,\n"
        "      \"frozen\": false,\n"
        "      \"volumeAutomation\": [],\n"
        "      \"panAutomation\": [],\n"
        "      \"muteAutomation\": [],\n"
        "      \"automationClips\": [],\n"
        "      \"macros\": [0.5,0.5,0.5,0.5],\n"
        "      \"inserts\": [],\n"
        "      \"sends\": [{\"return\":0,\"level\":0,\"pre\":false},"
        "{\"return\":0,\"level\":0,\"pre\":false},{\"return\":0,\"level\":0,\"pre\":false},"
        "{\"return\":0,\"level\":0,\"pre\":false}],\n"
        "      \"eq\": " +
        defaultEq +
        ",\n"
        "      \"clips\": [\n"
        "\n"
        "      ]\n"
        "    }\n"
        "  ]\n"
        "}\n";
    EXPECT_EQ(toJson(projectWithOneOfEverything()), expected);
}

TEST(DocumentWriter, ProjectWithoutTracksEndsWithAnEmptyLineInsideTheTrackList) {
    const std::string text = toJson(Project{});
    const std::string ending = "  \"tracks\": [\n\n  ]\n}\n";
    ASSERT_GE(text.size(), ending.size());
    EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
    EXPECT_NE(text.find("\n  \"session\": {\n    \"rows\": 8,\n    \"cols\": 8,\n"
                        "    \"launchQuantize\": 2,\n    \"scenes\": []\n  },\n"),
              std::string::npos);
}

TEST(DocumentWriterNumbers, FollowsTheGeneralNotationAtFifteenDigits) {
    const auto format = [](double value) {
        std::string out;
        appendNumber(out, value);
        return out;
    };
    EXPECT_EQ(format(48000), "48000");
    EXPECT_EQ(format(0.8), "0.8");
    EXPECT_EQ(format(static_cast<double>(0.8f)), "0.800000011920929");
    EXPECT_EQ(format(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(format(1e15), "1e+15");
    EXPECT_EQ(format(123456789012345.0), "123456789012345");
    EXPECT_EQ(format(0.0001), "0.0001");
    EXPECT_EQ(format(0.00001), "1e-05");
    EXPECT_EQ(format(-2.5), "-2.5");
}

TEST(DocumentWriterNumbers, WritesNonFiniteValuesAsZero) {
    Project project;
    project.tempoBpm = std::numeric_limits<double>::quiet_NaN();
    project.swingAmount = std::numeric_limits<float>::infinity();
    project.sampleRate = -std::numeric_limits<double>::infinity();
    const std::string text = toJson(project);
    EXPECT_NE(text.find("\"tempoBpm\": 0,\n"), std::string::npos);
    EXPECT_NE(text.find("\"swingAmount\": 0,\n"), std::string::npos);
    EXPECT_NE(text.find("\"sampleRate\": 0,\n"), std::string::npos);
    EXPECT_TRUE(fromJson(text).has_value());
}

TEST(DocumentWriterNumbers, IgnoreAProcessLocaleWithADecimalComma) {
    const std::string reference = toJson(projectWithOneOfEverything());
    const char *previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    const bool switched = std::setlocale(LC_ALL, "ru_RU.UTF-8") != nullptr ||
                          std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    const std::string text = toJson(projectWithOneOfEverything());
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text, reference);
    if (!switched) GTEST_SKIP() << "no locale with a decimal comma is installed";
}

TEST(DocumentWriterStrings, EscapesSpecialAndControlBytesAndKeepsUtf8) {
    EXPECT_EQ(escape("a\tb\nc\rd\\e\"f"), "a\\tb\\nc\\rd\\\\e\\\"f");
    const std::string raw = std::string("\x01\x1f/\xD0\xB0\x7f\0", 7);
    EXPECT_EQ(escape(raw), "\\u0001\\u001f/\xD0\xB0\\u007f\\u0000");
}

TEST(DocumentWriterTags, SameTagsInAnyInsertionOrderGiveTheSameText) {
    Project first;
    Project second;
    second.pluginUserTags.reserve(1000);
    for (int index = 0; index < 40; ++index) {
        first.pluginUserTags["plugin" + std::to_string(index)] = {"t"};
        second.pluginUserTags["plugin" + std::to_string(39 - index)] = {"t"};
    }
    second.audioMediaTags = {{"z.wav", {"a"}}, {"a.wav", {"b"}}};
    first.audioMediaTags = {{"a.wav", {"b"}}, {"z.wav", {"a"}}};
    EXPECT_EQ(toJson(first), toJson(second));
    EXPECT_NE(toJson(first).find("{\"a.wav\":[\"b\"],\"z.wav\":[\"a\"]}"), std::string::npos);
}

TEST(DocumentEncodingBase64, EncodesWithPaddingAndDecodesLeniently) {
    EXPECT_EQ(encodeBase64({}), "");
    EXPECT_EQ(encodeBase64({'f'}), "Zg==");
    EXPECT_EQ(encodeBase64({'f', 'o'}), "Zm8=");
    EXPECT_EQ(encodeBase64({'f', 'o', 'o'}), "Zm9v");
    EXPECT_EQ(encodeBase64({0xFB, 0xFF}), "+/8=");
    const std::vector<uint8_t> foobar{'f', 'o', 'o', 'b', 'a', 'r'};
    EXPECT_EQ(decodeBase64("Zm9v\r\nYmFy"), foobar);
    EXPECT_EQ(decodeBase64("Zm9v!!YmFy=="), foobar);
    EXPECT_EQ(decodeBase64("Zg"), std::vector<uint8_t>{'f'});
    EXPECT_TRUE(decodeBase64("===").empty());
}

} // namespace
} // namespace orvane::project_io

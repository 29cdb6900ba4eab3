#include "app/cli/tests/RunProgram.h"
#include "core/audiofile/AudioFile.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

/// A small song: an audio clip, a MIDI clip and a return with a reverb. Each damaged
/// document below changes one or two values of it.
const std::string sound = R"({
  "sampleRate": 48000,
  "tempoBpm": 120,
  "timeSignature": {"numerator": 4, "denominator": 4},
  "tempoMarkers": [],
  "meterMarkers": [],
  "tracks": [
    {"id": 1, "type": 0, "name": "A", "gain": 0.8, "pan": 0.2,
     "sends": [{"return": 3, "level": 0.5, "pre": false}],
     "volumeAutomation": [],
     "clips": [{"id": 10, "kind": 0, "arrangeStart": 0, "length": 48000, "sourceOffset": 0,
                "loop": false, "loopLength": 0, "gain": 1, "stretchRatio": 1,
                "fadeIn": 100, "fadeOut": 100, "audioFile": "media/tone.wav",
                "warpMarkers": []}]},
    {"id": 2, "type": 1, "name": "M",
     "clips": [{"id": 11, "kind": 1, "arrangeStart": 0, "length": 96000,
                "notes": [{"pitch": 60, "velocity": 0.8, "start": 0, "length": 24000}]}]},
    {"id": 3, "type": 3, "name": "R",
     "inserts": [{"pluginId": "stock.reverb", "displayName": "Reverb", "isStock": true}]}
  ]
})";

struct Replacement {
    std::string from;
    std::string to;
};

struct DamagedDocument {
    const char *what;
    std::vector<Replacement> changes;
    const char *refusal; // null when the document must render
};

std::string damage(const std::vector<Replacement> &changes) {
    std::string text = sound;
    for (const auto &change : changes) {
        const auto at = text.find(change.from);
        if (at == std::string::npos) {
            ADD_FAILURE() << "the sound document has no \"" << change.from << "\"";
            continue;
        }
        text.replace(at, change.from.size(), change.to);
    }
    return text;
}

const std::vector<DamagedDocument> damagedDocuments{
    {"zero tempo", {{"\"tempoBpm\": 120", "\"tempoBpm\": 0"}}, nullptr},
    {"negative tempo", {{"\"tempoBpm\": 120", "\"tempoBpm\": -140"}}, nullptr},
    {"infinite tempo", {{"\"tempoBpm\": 120", "\"tempoBpm\": 1e999"}}, nullptr},
    {"zero tempo marker at a negative position",
     {{"\"tempoMarkers\": []", "\"tempoMarkers\": [{\"position\": -500, \"bpm\": 0}]"}},
     nullptr},
    {"zero meter denominator", {{"\"denominator\": 4", "\"denominator\": 0"}}, nullptr},
    {"negative meter numerator", {{"\"numerator\": 4", "\"numerator\": -3"}}, nullptr},
    {"meter marker of 0/0",
     {{"\"meterMarkers\": []", "\"meterMarkers\": [{\"position\": 100, \"num\": 0, \"den\": 0}]"}},
     nullptr},
    {"negative clip position",
     {{"\"arrangeStart\": 0, \"length\": 48000", "\"arrangeStart\": -30000, \"length\": 48000"}},
     nullptr},
    {"negative clip length", {{"\"length\": 48000", "\"length\": -48000"}}, nullptr},
    {"negative fades and source offset",
     {{"\"fadeIn\": 100, \"fadeOut\": 100", "\"fadeIn\": -100, \"fadeOut\": 2e18"},
      {"\"sourceOffset\": 0", "\"sourceOffset\": -2e18"}},
     nullptr},
    {"loop of length zero",
     {{"\"loop\": false, \"loopLength\": 0", "\"loop\": true, \"loopLength\": 0"}},
     nullptr},
    {"negative loop length",
     {{"\"loop\": false, \"loopLength\": 0", "\"loop\": true, \"loopLength\": -7"}},
     nullptr},
    {"zero and infinite stretch", {{"\"stretchRatio\": 1", "\"stretchRatio\": 0"}}, nullptr},
    {"negative stretch", {{"\"stretchRatio\": 1", "\"stretchRatio\": -1e300"}}, nullptr},
    {"warp markers out of order and negative",
     {{"\"warpMarkers\": []",
       "\"warpMarkers\": [{\"dest\": 500, \"source\": -2e18}, {\"dest\": -10, \"source\": 5}, "
       "{\"dest\": 500, \"source\": 2e18}]"}},
     nullptr},
    {"notes with negative and huge values",
     {{"{\"pitch\": 60, \"velocity\": 0.8, \"start\": 0, \"length\": 24000}",
       "{\"pitch\": 60, \"velocity\": 0.8, \"start\": -24000, \"length\": -5}, "
       "{\"pitch\": 99999, \"velocity\": 1e30, \"start\": 2e18, \"length\": 2e18}, "
       "{\"pitch\": -7, \"velocity\": -1, \"start\": 100, \"length\": 1000}"}},
     nullptr},
    {"infinite gain and pan",
     {{"\"gain\": 0.8, \"pan\": 0.2", "\"gain\": 1e999, \"pan\": -1e999"}},
     nullptr},
    {"huge send level to a track that is no return",
     {{"\"return\": 3, \"level\": 0.5", "\"return\": 2, \"level\": 1e38"}},
     nullptr},
    {"send to itself",
     {{"\"return\": 3, \"level\": 0.5", "\"return\": 1, \"level\": 0.5"}},
     nullptr},
    {"ids out of range",
     {{"\"id\": 1, \"type\": 0", "\"id\": 18446744073709551615, \"type\": 0"},
      {"\"id\": 10, \"kind\": 0", "\"id\": 1e30, \"kind\": 0"},
      {"\"return\": 3", "\"return\": 99999999999999999999"}},
     nullptr},
    {"duplicate ids",
     {{"\"id\": 2, \"type\": 1", "\"id\": 1, \"type\": 1"},
      {"\"id\": 11, \"kind\": 1", "\"id\": 10, \"kind\": 1"}},
     nullptr},
    {"unknown track type and clip kind",
     {{"\"type\": 0, \"name\": \"A\"", "\"type\": 200, \"name\": \"A\""},
      {"\"kind\": 1", "\"kind\": 77"}},
     nullptr},
    {"audio clip that claims to be MIDI", {{"\"kind\": 0", "\"kind\": 1"}}, nullptr},
    {"automation with huge and negative times",
     {{"\"volumeAutomation\": []",
       "\"volumeAutomation\": [{\"t\": 2e18, \"v\": 1e30}, {\"t\": -2e18, \"v\": -5}], "
       "\"automationClips\": [{\"id\": 1, \"start\": -2e18, \"length\": 2e18, \"lane\": 99, "
       "\"points\": [{\"t\": 5, \"v\": 1}]}]"}},
     nullptr},
    {"huge counts",
     {{"\"sampleRate\": 48000",
       "\"sampleRate\": 48000, \"flashbackBufferSeconds\": 2147483647, "
       "\"countInBars\": -2147483648, \"session\": {\"rows\": 2147483647, \"cols\": "
       "2147483647, \"scenes\": []}, \"nextTrackId\": 1e300, \"activeGrooveIndex\": 99999, "
       "\"scaleRoot\": 2147483647"}},
     nullptr},
    {"master stages out of range",
     {{"\"sampleRate\": 48000",
       "\"sampleRate\": 48000, \"mastering\": {\"enabled\": true, \"character\": 99999, "
       "\"loudness\": 1e30, \"width\": -1e30, \"excite\": true, \"exciteAmt\": 1e999}, "
       "\"masterEq\": {\"enabled\": true, \"outDb\": 1e30, \"bands\": [{\"type\": 250, "
       "\"freq\": 0, \"gainDb\": 1e30, \"q\": 0, \"enabled\": true}, {\"type\": 2, \"freq\": "
       "-5, \"gainDb\": -1e999, \"q\": -1, \"enabled\": true}]}"}},
     nullptr},
    {"media path that leaves the folder",
     {{"\"media/tone.wav\"", "\"../../../../../../../etc/passwd\""}},
     nullptr},
    {"media path that is a folder", {{"\"media/tone.wav\"", "\"media\""}}, nullptr},
    {"zero sample rate",
     {{"\"sampleRate\": 48000", "\"sampleRate\": 0"}},
     "sample rate 0 is not usable"},
    {"negative sample rate",
     {{"\"sampleRate\": 48000", "\"sampleRate\": -48000"}},
     "is not usable"},
    {"infinite sample rate", {{"\"sampleRate\": 48000", "\"sampleRate\": 1e999"}}, "is not usable"},
    {"clip placed at the end of time",
     {{"\"arrangeStart\": 0, \"length\": 48000", "\"arrangeStart\": 9e18, \"length\": 9e18"}},
     "clip 10 on track 1 has a position or length beyond the end of the timeline"},
    {"note at the end of time",
     {{"\"start\": 0, \"length\": 24000", "\"start\": 9e18, \"length\": 9e18"}},
     "beyond the end of the timeline"},
    {"automation at the end of time",
     {{"\"volumeAutomation\": []", "\"volumeAutomation\": [{\"t\": -9e18, \"v\": 1}]"}},
     "track 1 has automation beyond the end of the timeline"},
    {"clip far out but within the timeline",
     {{"\"arrangeStart\": 0, \"length\": 48000", "\"arrangeStart\": 2e18, \"length\": 2e18"}},
     "more than a 16-bit WAV file holds"},
    {"song days long",
     {{"\"arrangeStart\": 0, \"length\": 48000", "\"arrangeStart\": 0, \"length\": 9000000000"}},
     "more than a 16-bit WAV file holds"},
    {"not an object", {{sound, "[1, 2, 3]"}}, "root must be object"},
    {"cut off", {{"\"R\",", "\"R"}}, "does not parse"},
};

} // namespace

TEST(DamagedDocuments, RenderOrRefuseWithAMessageNeverCrash) {
    const fs::path scratch = makeScratchFolder("damaged");
    const fs::path folder = scratch / "damaged.halvora";
    fs::create_directories(folder / "media");
    std::vector<float> tone(2 * 48000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = (i % 100) / 100.0f - 0.5f;
    ASSERT_TRUE(orvane::exportWav((folder / "media" / "tone.wav").string(), tone.data(), 48000, 2,
                                  48000.0));
    const fs::path out = scratch / "out.wav";

    for (const DamagedDocument &document : damagedDocuments) {
        SCOPED_TRACE(document.what);
        std::ofstream(folder / "project.json", std::ios::trunc) << damage(document.changes);
        fs::remove(out);
        const ProgramRun run = runHalvora({"render", folder.string(), "-o", out.string()}, scratch);
        ASSERT_EQ(run.signal, 0) << run.errors;
        EXPECT_EQ(run.errors.find("Sanitizer"), std::string::npos) << run.errors;
        EXPECT_EQ(run.errors.find("runtime error"), std::string::npos) << run.errors;
        if (document.refusal) {
            EXPECT_EQ(run.exitStatus, 1) << run.errors;
            EXPECT_NE(run.errors.find(document.refusal), std::string::npos) << run.errors;
            EXPECT_FALSE(fs::exists(out));
        } else {
            EXPECT_EQ(run.exitStatus, 0) << run.errors;
            EXPECT_TRUE(readWrittenWav(out).valid);
        }
    }
    fs::remove_all(scratch);
}

#include "app/cli/tests/RunProgram.h"
#include "core/project_io/ProjectFolder.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;
/// Steps of 1/32767 are what a 16-bit media file holds exactly.
constexpr double mediaStep = 1.0 / 32767.0;

float stepValue(int64_t n) { return static_cast<float>(static_cast<double>(n) * mediaStep); }

/// Audio tracks "Vox" (id 1) and "Bass" (id 4), MIDI tracks "Keys" (id 2) and "Pads" (id 3),
/// saved empty.
fs::path saveEmptySong(const fs::path &scratch) {
    Project project;
    project.sampleRate = rate;
    project.addTrack(TrackType::Audio, "Vox");
    project.addTrack(TrackType::Midi, "Keys");
    project.addTrack(TrackType::Midi, "Pads");
    project.addTrack(TrackType::Audio, "Bass");
    const fs::path folder = scratch / "song.halvora";
    const auto saved = project_io::saveProject(project, folder.string(), false);
    EXPECT_TRUE(saved.ok) << saved.error;
    return folder;
}

class RecordOnJack : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.ready()) << server.failure();
        scratch = makeScratchFolder("record");
        config.emplace("XDG_CONFIG_HOME", (scratch / "config").string());
        song = saveEmptySong(scratch);
    }

    /// The one clip the saved project holds on `trackId`, media read in; null otherwise.
    std::shared_ptr<Clip> savedClip(uint64_t trackId) {
        auto reloaded = project_io::loadProject(song.string());
        EXPECT_TRUE(reloaded);
        if (!reloaded) return nullptr;
        EXPECT_TRUE(project_io::hydrateProjectMedia(*reloaded));
        const auto track = reloaded->findTrack(trackId);
        EXPECT_TRUE(track && track->clips.size() == 1u);
        return track && track->clips.size() == 1u ? track->clips.front() : nullptr;
    }

    JackServer server;
    fs::path scratch;
    fs::path song;
    std::optional<ScopedEnvironment> config;
};

TEST_F(RecordOnJack, APunchedTakeIsSavedAndReadsBackAsItWasPlayed) {
    // Every frame the player sends is one step above the last, on the 16-bit grid.
    std::vector<float> left(480000), right(480000);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = stepValue(static_cast<int64_t>(i % 30000) + 1);
        right[i] = -left[i];
    }
    JackTestClient player("player", 0, 2);
    ASSERT_TRUE(player.ok()) << player.error();
    player.preparePlayback({left, right});
    ASSERT_TRUE(player.activate());
    player.startPlaying();
    const RunningProgram program =
        startHalvora({"record", song.string(), "--track", "1", "--seconds", "2", "--punch",
                      "48000:72000", "--no-connect"},
                     scratch);
    ASSERT_TRUE(player.connectWhenReady(player.playPort(0), "Halvora:in_1"));
    ASSERT_TRUE(player.connectWhenReady(player.playPort(1), "Halvora:in_2"));
    const ProgramRun record = finishHalvora(program);
    ASSERT_EQ(record.exitStatus, 0) << record.errors;
    EXPECT_NE(record.output.find("recorded 0.500 s into track 1, clip "), std::string::npos)
        << record.output;
    EXPECT_NE(record.output.find("; 0 frames lost in the hand-off"), std::string::npos)
        << record.output;

    const auto saved = savedClip(1);
    ASSERT_TRUE(saved);
    const Clip &take = *saved;
    EXPECT_EQ(take.arrangeStart, 48000);
    EXPECT_EQ(take.length, 24000);
    ASSERT_TRUE(take.audio);
    ASSERT_EQ(take.audio->size(), 48000u);
    // Bit for bit what was played: consecutive steps, the ramp wrapping every 30,000.
    const auto first = static_cast<int64_t>(std::lround((*take.audio)[0] / mediaStep));
    for (int64_t i = 0; i < 24000; ++i) {
        const float expected = stepValue((first - 1 + i) % 30000 + 1);
        ASSERT_EQ((*take.audio)[2 * i], expected) << "frame " << i;
        ASSERT_EQ((*take.audio)[2 * i + 1], -expected) << "frame " << i;
    }
}

TEST_F(RecordOnJack, NotesFromTheMidiInputBecomeAClipOnTheMidiTrack) {
    JackTestClient player("player", 0, 0, true);
    ASSERT_TRUE(player.ok()) << player.error();
    std::vector<TestMidiEvent> notes;
    // Played over and over, so that a late connection still hears whole notes.
    for (int64_t at = 0; at < 480000; at += 12000) {
        notes.push_back({at + 1000, {0x90, 67, 100}});
        notes.push_back({at + 7000, {0x80, 67, 0}});
    }
    player.preparePlayback({}, notes);
    ASSERT_TRUE(player.activate());
    player.startPlaying();
    const RunningProgram program = startHalvora(
        {"record", song.string(), "--track", "2", "--seconds", "1.5", "--no-connect"}, scratch);
    ASSERT_TRUE(player.connectWhenReady(player.midiPort(), "Halvora:midi_in"));
    const ProgramRun record = finishHalvora(program);
    ASSERT_EQ(record.exitStatus, 0) << record.errors;
    const auto saved = savedClip(2);
    ASSERT_TRUE(saved);
    const Clip &clip = *saved;
    EXPECT_EQ(clip.kind, ClipKind::Midi);
    ASSERT_GE(clip.notes.size(), 3u);
    for (std::size_t index = 0; index < clip.notes.size(); ++index) {
        EXPECT_EQ(clip.notes[index].pitch, 67);
        // A key still down when the take ends is closed there.
        if (index + 1 < clip.notes.size())
            EXPECT_EQ(clip.notes[index].length, 6000);
        else
            EXPECT_LE(clip.notes[index].length, 6000);
    }
    // The repeats keep their spacing to the frame.
    EXPECT_EQ(clip.notes[1].start - clip.notes[0].start, 12000);
}

TEST_F(RecordOnJack, SeveralTracksRecordTheirOwnInputsInOneRun) {
    // The first pair plays a rising ramp, the second the same ramp doubled; notes beside them.
    std::vector<std::vector<float>> channels(4, std::vector<float>(480000));
    for (std::size_t i = 0; i < channels[0].size(); ++i) {
        const float value = stepValue(static_cast<int64_t>(i % 10000) + 1);
        channels[0][i] = value;
        channels[1][i] = -value;
        channels[2][i] = 2.0f * value;
        channels[3][i] = -2.0f * value;
    }
    std::vector<TestMidiEvent> notes;
    for (int64_t at = 0; at < 480000; at += 12000) {
        notes.push_back({at + 1000, {0x90, 48, 100}});
        notes.push_back({at + 4000, {0x80, 48, 0}});
    }
    JackTestClient player("player", 0, 4, true);
    ASSERT_TRUE(player.ok()) << player.error();
    player.preparePlayback(channels, notes);
    ASSERT_TRUE(player.activate());
    player.startPlaying();
    // Bass takes the first pair, Vox the second, Keys the notes.
    const RunningProgram program =
        startHalvora({"record", song.string(), "--track", "4", "--track", "2", "--track", "1",
                      "--seconds", "1.5", "--no-connect"},
                     scratch);
    for (int32_t port = 0; port < 4; ++port)
        ASSERT_TRUE(player.connectWhenReady(player.playPort(port),
                                     "Halvora:in_" + std::to_string(port + 1)));
    ASSERT_TRUE(player.connectWhenReady(player.midiPort(), "Halvora:midi_in"));
    const ProgramRun record = finishHalvora(program);
    ASSERT_EQ(record.exitStatus, 0) << record.errors;
    EXPECT_NE(record.output.find("s into track 4, clip "), std::string::npos) << record.output;
    EXPECT_NE(record.output.find("recorded notes for "), std::string::npos) << record.output;

    const auto bass = savedClip(4), vox = savedClip(1), keys = savedClip(2);
    ASSERT_TRUE(bass && vox && keys);
    EXPECT_EQ(bass->arrangeStart, vox->arrangeStart);
    ASSERT_EQ(bass->length, vox->length);
    ASSERT_TRUE(bass->audio && vox->audio);
    // From the frame all four connections carry the player's signal on, the tracks hold the
    // same frames, each from its own pair, and read back bit for bit.
    const SampleBuffer &low = *bass->audio, &high = *vox->audio;
    int64_t from = 0;
    // The ports are connected one after another: the last may still be silent when the
    // others already carry the signal.
    const auto allFourCarry = [&](int64_t frame) {
        return low[2 * frame] != 0.0f && low[2 * frame + 1] != 0.0f && high[2 * frame] != 0.0f &&
               high[2 * frame + 1] != 0.0f;
    };
    while (from < bass->length && !allFourCarry(from))
        ++from;
    ASSERT_LT(from, bass->length - 24000) << "the signal arrived too late";
    const auto first = static_cast<int64_t>(std::lround(low[2 * from] / mediaStep)) - 1;
    for (int64_t i = from; i < bass->length; ++i) {
        const float expected = stepValue((first + i - from) % 10000 + 1);
        ASSERT_EQ(low[2 * i], expected) << "frame " << i;
        ASSERT_EQ(low[2 * i + 1], -expected) << "frame " << i;
        ASSERT_EQ(high[2 * i], 2.0f * expected) << "frame " << i;
        ASSERT_EQ(high[2 * i + 1], -2.0f * expected) << "frame " << i;
    }
    EXPECT_GE(keys->notes.size(), 3u);
}

TEST_F(RecordOnJack, ATakeCutShortByTheServerIsStillSaved) {
    JackTestClient player("player", 0, 2);
    ASSERT_TRUE(player.ok()) << player.error();
    player.preparePlayback({std::vector<float>(480000, 0.5f), std::vector<float>(480000, 0.5f)});
    ASSERT_TRUE(player.activate());
    player.startPlaying();
    const RunningProgram program = startHalvora(
        {"record", song.string(), "--track", "1", "--seconds", "60", "--no-connect"}, scratch);
    ASSERT_TRUE(player.connectWhenReady(player.playPort(0), "Halvora:in_1"));
    // About half a second of the server's periods after the connection.
    const uint64_t connectedAt = player.periods();
    const auto giveUp = std::chrono::steady_clock::now() + 20s;
    while (player.periods() < connectedAt + 100 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::yield();
    server.kill();
    const ProgramRun record = finishHalvora(program);
    EXPECT_EQ(record.signal, 0);
    EXPECT_EQ(record.exitStatus, 1) << record.errors;
    EXPECT_NE(record.errors.find("the audio server stopped during the recording"),
              std::string::npos)
        << record.errors;
    const auto saved = savedClip(1);
    ASSERT_TRUE(saved);
    EXPECT_GT(saved->length, 256 * 50);
}

struct RefusedCase {
    std::vector<std::string> arguments;
    int status;
    const char *message;
};

TEST(RecordCommand, RefusesWhatItCannotRecordWithAReason) {
    const fs::path scratch = makeScratchFolder("record-refused");
    const std::string song = saveEmptySong(scratch).string();
    const std::vector<RefusedCase> cases{
        {{"record", song, "--seconds", "1"}, 2, "--track is required"},
        {{"record", song, "--track", "1"}, 2, "--seconds is required"},
        {{"record", song, "--track", "1", "--seconds", "-1"}, 2, "--seconds takes"},
        {{"record", song, "--track", "1", "--seconds", "1", "--punch", "9:3"}, 2, "--punch takes"},
        {{"record", song, "--track", "1", "--seconds", "1", "--cycle", "x"}, 2, "--cycle takes"},
        {{"record", "--demo", "--track", "1", "--seconds", "1"}, 2, "not --demo"},
        {{"record", song, "--track", "9", "--seconds", "1"}, 1, "the project has no track 9"},
        {{"record", song, "--track", "1", "--track", "1", "--seconds", "1"},
         1,
         "track 1 is named twice"},
        {{"record", song, "--track", "2", "--track", "3", "--seconds", "1"},
         1,
         "only one MIDI track can record at a time"},
    };
    for (const auto &[arguments, status, message] : cases) {
        SCOPED_TRACE(message);
        const ProgramRun run = runHalvora(arguments, scratch);
        EXPECT_EQ(run.exitStatus, status) << run.errors;
        EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
    }
}

} // namespace

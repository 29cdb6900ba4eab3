#include "app/cli/tests/RunProgram.h"
#include "app/workflows/TakeRecovery.h"
#include "core/project_io/ProjectFolder.h"
#include "device/TakeJournal.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;
constexpr int32_t period = 256;
/// The take asked for; every run is killed before it ends.
constexpr double takeSeconds = 30.0;
/// What may be missing at the end of the file: the writer's delay, well inside a second.
constexpr int64_t allowedLoss = static_cast<int64_t>(rate);

/// Each frame the player sends says which it is: the low 12 bits of its index on the left,
/// the next 12 on the right, both exact in a float and in every media encoding.
constexpr int64_t digit = 4096;
constexpr float unit = 1.0f / 8192.0f;
float leftOf(int64_t index) { return static_cast<float>(index % digit + 1) * unit; }
float rightOf(int64_t index) { return -static_cast<float>(index / digit % digit + 1) * unit; }
/// The index a frame carries, -1 for silence or anything the player did not send.
int64_t indexOf(float left, float right) {
    const double low = left / unit - 1.0, high = -right / unit - 1.0;
    if (low < 0 || high < 0 || low != std::floor(low) || high != std::floor(high)) return -1;
    return static_cast<int64_t>(high) * digit + static_cast<int64_t>(low);
}

/// Where the runs are killed: seconds after the take began, from a seeded generator so that
/// a failure can be run again. By default they fall in the take's first seconds, which is
/// where each kill costs least time; HALVORA_FULL_TAKE_KILLS=1 spreads them over the whole
/// 30 s take (about three minutes of recording), HALVORA_TAKE_KILL_SEED picks the seed.
struct KillPlan {
    uint32_t seed = 20261210;
    std::vector<double> seconds;
};

KillPlan killPlan() {
    KillPlan plan;
    if (const char *seed = std::getenv("HALVORA_TAKE_KILL_SEED"))
        plan.seed = static_cast<uint32_t>(std::strtoul(seed, nullptr, 10));
    const char *full = std::getenv("HALVORA_FULL_TAKE_KILLS");
    const double latest = full && std::string(full) == "1" ? takeSeconds - 0.5 : 2.0;
    std::mt19937 generator(plan.seed);
    std::uniform_real_distribution<double> at(1.0, latest);
    for (int run = 0; run < 10; ++run)
        plan.seconds.push_back(at(generator));
    return plan;
}

/// One audio track "Vox" (id 1), saved empty.
fs::path saveEmptySong(const fs::path &scratch) {
    Project project;
    project.sampleRate = rate;
    project.addTrack(TrackType::Audio, "Vox");
    const fs::path folder = scratch / "song.halvora";
    const auto saved = project_io::saveProject(project, folder.string(), false);
    EXPECT_TRUE(saved.ok) << saved.error;
    return folder;
}

/// The one journal a run left, once it exists (the take has begun); empty after `timeout`.
fs::path waitForJournal(const fs::path &song, std::chrono::milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < giveUp) {
        std::error_code fault;
        for (const auto &entry : fs::directory_iterator(takeJournalFolder(song.string()), fault))
            if (entry.path().extension() == ".takes") return entry.path();
        std::this_thread::sleep_for(5ms);
    }
    return {};
}

std::string readText(const fs::path &path) {
    std::string text;
    if (std::FILE *in = std::fopen(path.c_str(), "r")) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            text.append(buffer, got);
        std::fclose(in);
    }
    return text;
}

/// A WAV file read through libsndfile, as another program would read it.
struct SoundFile {
    bool opened = false;
    std::string error;
    int channels = 0;
    int sampleRate = 0;
    std::vector<float> samples;
};

SoundFile readWithLibsndfile(const fs::path &path) {
    SoundFile file;
    SF_INFO info{};
    SNDFILE *handle = sf_open(path.c_str(), SFM_READ, &info);
    if (!handle) {
        file.error = sf_strerror(nullptr);
        return file;
    }
    file.opened = true;
    file.channels = info.channels;
    file.sampleRate = info.samplerate;
    file.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(handle, file.samples.data(), info.frames);
    file.samples.resize(static_cast<std::size_t>(read * info.channels));
    sf_close(handle);
    return file;
}

class CrashSafeTake : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch = makeScratchFolder("crash-safe-take");
        config.emplace("XDG_CONFIG_HOME", (scratch / "config").string());
        home.emplace("HOME", (scratch / "home").string());
        song = saveEmptySong(scratch);
        // 35 s of numbered frames, more than any run plays.
        const auto frames = static_cast<int64_t>(rate * (takeSeconds + 5.0));
        left.resize(static_cast<std::size_t>(frames));
        right.resize(static_cast<std::size_t>(frames));
        for (int64_t i = 0; i < frames; ++i) {
            left[static_cast<std::size_t>(i)] = leftOf(i);
            right[static_cast<std::size_t>(i)] = rightOf(i);
        }
    }

    void TearDown() override {
        if (running.pid > 0) {
            ::kill(running.pid, SIGKILL);
            (void)finishHalvora(running);
        }
        if (server) server->kill();
        player.reset();
    }

    /// Records into "Vox" and kills the program `seconds` after its take began. Returns the
    /// frames the player had sent by then (at the least), and leaves the journal's path.
    int64_t recordAndKill(double seconds, fs::path &journal) {
        newServer();
        EXPECT_TRUE(server->ready()) << server->failure();
        if (!server->ready()) return -1;
        JackTestClient &sender = player.emplace("player", 0, 2);
        EXPECT_TRUE(sender.ok()) << sender.error();
        if (!sender.ok()) return -1;
        sender.preparePlayback({left, right});
        EXPECT_TRUE(sender.activate());
        running = startHalvora({"record", song.string(), "--track", "1", "--seconds", "30",
                                "--buffer", std::to_string(period), "--no-connect"},
                               scratch);
        EXPECT_TRUE(sender.connectWhenReady(sender.playPort(0), "Halvora:in_1"));
        EXPECT_TRUE(sender.connectWhenReady(sender.playPort(1), "Halvora:in_2"));
        const uint64_t startedAt = sender.periods();
        sender.startPlaying();
        journal = waitForJournal(song, 20s);
        EXPECT_FALSE(journal.empty()) << "the take did not begin";
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const uint64_t killedAt = sender.periods();
        ::kill(running.pid, SIGKILL);
        const ProgramRun run = finishHalvora(running);
        running = {};
        EXPECT_EQ(run.signal, SIGKILL) << run.output << run.errors;
        return static_cast<int64_t>(killedAt - startedAt - 1) * sender.lastPeriod();
    }

    /// A server of its own for each run: one that kept the killed program's ports would
    /// hold the next run up until it timed them out.
    void newServer() {
        // Asked politely, a server would wait out the dead client first; and the old player
        // leaves only once its server is gone, for the same reason.
        if (server) server->kill();
        server.reset();
        player.reset();
        server.emplace(period, static_cast<int32_t>(rate));
    }

    std::optional<JackServer> server;
    std::optional<JackTestClient> player;
    fs::path scratch;
    fs::path song;
    std::optional<ScopedEnvironment> config, home;
    std::vector<float> left, right;
    RunningProgram running;
};

TEST_F(CrashSafeTake, EveryKillLeavesTheTakeUpToASecondBeforeItAndRecoveryPlacesIt) {
    const KillPlan plan = killPlan();
    std::string points;
    for (const double seconds : plan.seconds)
        points += " " + std::to_string(seconds);
    // Said up front, so that a failing run can be repeated with the same points.
    std::printf("kill points (seed %u), seconds into the take:%s\n", plan.seed, points.c_str());
    RecordProperty("kill_seed", std::to_string(plan.seed));
    RecordProperty("kill_seconds", points);

    for (std::size_t run = 0; run < plan.seconds.size(); ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1) + ", killed " +
                     std::to_string(plan.seconds[run]) + " s into the take");
        fs::path journalPath;
        const int64_t sent = recordAndKill(plan.seconds[run], journalPath);
        ASSERT_GT(sent, 0);
        ASSERT_FALSE(journalPath.empty());
        std::string error;
        const auto journal = readTakeJournal(journalPath.string(), error);
        ASSERT_TRUE(journal) << error;
        ASSERT_EQ(journal->takes.size(), 1u);
        EXPECT_EQ(journal->takes[0].trackId, 1u);

        // The file another program reads: valid, and the player's frames in order from the
        // first that arrived to no more than a second before the kill.
        const fs::path take = journalPath.parent_path() / journal->takes[0].file;
        const SoundFile file = readWithLibsndfile(take);
        ASSERT_TRUE(file.opened) << take << ": " << file.error;
        ASSERT_EQ(file.channels, 2);
        EXPECT_EQ(file.sampleRate, static_cast<int>(rate));
        const auto frames = static_cast<int64_t>(file.samples.size() / 2);
        int64_t first = 0;
        while (first < frames && indexOf(file.samples[2 * first], file.samples[2 * first + 1]) < 0)
            ++first;
        ASSERT_LT(first, frames) << "the file holds none of what was sent";
        const int64_t firstIndex = indexOf(file.samples[2 * first], file.samples[2 * first + 1]);
        for (int64_t frame = first; frame < frames; ++frame)
            ASSERT_EQ(indexOf(file.samples[2 * frame], file.samples[2 * frame + 1]),
                      firstIndex + frame - first)
                << "frame " << frame << " of " << frames;
        const int64_t lastSent = firstIndex + frames - first; // frames of the signal kept
        EXPECT_GE(lastSent, sent - allowedLoss)
            << "kept up to frame " << lastSent << " of the " << sent << " sent before the kill";

        // Recovery finds exactly that take, for the track it was recorded on, placed where
        // the journal says it began.
        const InterruptedTakes found = readInterruptedTakes(song.string(), rate);
        EXPECT_TRUE(found.problems.empty());
        ASSERT_EQ(found.takes.size(), 1u);
        ASSERT_EQ(found.journals.size(), 1u);
        const RecoveredTake &recovered = found.takes[0];
        EXPECT_EQ(recovered.trackId, 1u);
        const int64_t heardAt = journal->captureStart - journal->latencyFrames;
        EXPECT_EQ(recovered.start, std::max<int64_t>(heardAt, 0));
        ASSERT_EQ(recovered.frames, frames - std::max<int64_t>(-heardAt, 0));
        EXPECT_EQ((*recovered.samples)[2 * (recovered.frames - 1)], file.samples.end()[-2]);

        if (run + 1 < plan.seconds.size()) {
            forgetInterruptedTakes(found.journals);
            continue;
        }
        // The last run's take goes through the program itself: opening the project offers
        // it, "1" recovers it, and the saved project holds it where it was recorded.
        // On a server of its own, clear of the killed program's ports.
        newServer();
        const fs::path answers = scratch / "answers.txt", printed = scratch / "headless.txt";
        {
            std::FILE *out = std::fopen(answers.c_str(), "w");
            ASSERT_NE(out, nullptr);
            std::fputs("1\nsave\nquit\n", out);
            std::fclose(out);
        }
        const std::string command = std::string("'") + HALVORA_EXECUTABLE + "' --headless '" +
                                    song.string() + "' < '" + answers.string() + "' > '" +
                                    printed.string() + "' 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << readText(printed);
        const std::string output = readText(printed);
        EXPECT_NE(output.find("[1 "), std::string::npos) << "no question was asked: " << output;
        auto saved = project_io::loadProject(song.string());
        ASSERT_TRUE(saved);
        ASSERT_TRUE(project_io::hydrateProjectMedia(*saved));
        const auto vox = saved->findTrack(1);
        ASSERT_TRUE(vox);
        ASSERT_EQ(vox->clips.size(), 1u) << output;
        const Clip &clip = *vox->clips.front();
        EXPECT_EQ(clip.arrangeStart, recovered.start);
        EXPECT_EQ(clip.length, recovered.frames);
        ASSERT_TRUE(clip.audio);
        ASSERT_EQ(clip.audio->size(), static_cast<std::size_t>(recovered.frames * 2));
        for (int64_t frame = 0; frame < recovered.frames; ++frame)
            ASSERT_EQ((*clip.audio)[2 * frame], (*recovered.samples)[2 * frame]) << frame;
        // Placed and saved: nothing is left to offer a second time.
        EXPECT_TRUE(interruptedTakeJournals(song.string()).empty());
        EXPECT_FALSE(fs::exists(takeJournalFolder(song.string())));
    }
}

} // namespace

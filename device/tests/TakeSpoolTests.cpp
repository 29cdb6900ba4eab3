#include "device/TakeJournal.h"
#include "device/TakeSpool.h"
#include "device/tests/SpooledWav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "halvora-spool-XXXXXX").string();
        if (::mkdtemp(pattern.data())) folder = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!folder.empty()) fs::remove_all(folder, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;
    fs::path path() const { return folder; }

  private:
    std::string folder;
};

/// Sample n of a take: exact in a float, different for every frame a test writes.
float valueAt(int64_t n) { return static_cast<float>(n + 1) / 1048576.0f; }

std::vector<float> framesFrom(int64_t first, int64_t frames, int32_t channels) {
    std::vector<float> out(static_cast<std::size_t>(frames * channels));
    for (int64_t i = 0; i < frames * channels; ++i)
        out[static_cast<std::size_t>(i)] = valueAt(first * channels + i);
    return out;
}

/// The file reads, and holds the first frames written, in order.
void expectValidPrefix(const std::string &path, int32_t channels, int64_t atLeast) {
    const SpooledWav wav = readSpooledWav(path);
    ASSERT_TRUE(wav.valid) << path;
    ASSERT_EQ(wav.channels, channels);
    EXPECT_EQ(wav.sampleRate, 44100);
    EXPECT_GE(wav.frames(), atLeast);
    for (std::size_t i = 0; i < wav.samples.size(); ++i)
        ASSERT_EQ(wav.samples[i], valueAt(static_cast<int64_t>(i))) << "sample " << i;
}

TEST(TakeSpool, TheFileIsAValidWavOfWhatWasWrittenAtEveryMomentAndWholeWhenClosed) {
    for (const int32_t channels : {1, 2}) {
        SCOPED_TRACE(std::to_string(channels) + " channel(s)");
        ScratchFolder scratch;
        const std::string path = (scratch.path() / "take.wav").string();
        TakeSpool spool;
        std::string error;
        ASSERT_TRUE(spool.open(path, channels, 44100.0, error)) << error;
        // Empty but valid from the first moment.
        expectValidPrefix(path, channels, 0);
        // A reader beside the writer: every look finds a valid file that grows.
        int64_t written = 0, lastSeen = 0;
        for (int round = 0; round < 12; ++round) {
            const auto block = framesFrom(written, 1000, channels);
            spool.append(block.data(), 1000);
            written += 1000;
            std::this_thread::sleep_for(40ms);
            const SpooledWav now = readSpooledWav(path);
            ASSERT_TRUE(now.valid);
            EXPECT_GE(now.frames(), lastSeen);
            lastSeen = now.frames();
            expectValidPrefix(path, channels, 0);
        }
        // Within the writer's interval the header covers what was appended.
        std::this_thread::sleep_for(TakeSpool::writeInterval * 2);
        EXPECT_EQ(spool.framesOnDisk(), written);
        ASSERT_TRUE(spool.close());
        expectValidPrefix(path, channels, written);
        EXPECT_EQ(readSpooledWav(path).frames(), written);
    }
}

TEST(TakeSpool, AProcessKilledWhileWritingLeavesAValidFileOfAllButTheLastMoments) {
    ScratchFolder scratch;
    const std::string path = (scratch.path() / "take.wav").string();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Appends 100 frames every millisecond and says how many after each 0.5 s.
        TakeSpool spool;
        std::string error;
        if (!spool.open(path, 2, 44100.0, error)) ::_exit(2);
        int64_t written = 0;
        for (int step = 0;; ++step) {
            const auto block = framesFrom(written, 100, 2);
            spool.append(block.data(), 100);
            written += 100;
            if (step % 500 == 499) (void)!::write(ready[1], &written, sizeof written);
            std::this_thread::sleep_for(1ms);
        }
    }
    ::close(ready[1]);
    int64_t reported = 0;
    for (int reports = 0; reports < 3; ++reports)
        ASSERT_EQ(::read(ready[0], &reported, sizeof reported),
                  static_cast<ssize_t>(sizeof reported));
    // Half a second on, the child still appending, it dies.
    std::this_thread::sleep_for(500ms);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    // What had been appended half a second before the kill is in the file.
    expectValidPrefix(path, 2, reported);
}

TEST(TakeSpool, AFileThatExistsIsNeverWrittenOver) {
    ScratchFolder scratch;
    const fs::path path = scratch.path() / "take.wav";
    std::ofstream(path) << "mine";
    TakeSpool spool;
    std::string error;
    EXPECT_FALSE(spool.open(path.string(), 2, 48000.0, error));
    EXPECT_NE(error.find("take.wav"), std::string::npos) << error;
    std::ifstream in(path);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "mine");
}

TEST(TakeJournal, AJournalReadsBackAsWrittenAndADamagedOneIsRefused) {
    ScratchFolder scratch;
    const std::string path = (scratch.path() / "run.takes").string();
    TakeJournal journal;
    journal.processId = 4242;
    journal.captureStart = 96000;
    journal.latencyFrames = 512;
    journal.punchEnabled = true;
    journal.punchIn = 100000;
    journal.punchOut = 200000;
    journal.takes = {{0, 3, "run-in1.wav"}, {1, 0, "run-in3.wav"}};
    std::string error;
    ASSERT_TRUE(writeTakeJournal(path, journal, error)) << error;
    const auto read = readTakeJournal(path, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->processId, 4242);
    EXPECT_EQ(read->captureStart, 96000);
    EXPECT_EQ(read->latencyFrames, 512);
    EXPECT_TRUE(read->punchEnabled);
    EXPECT_EQ(read->punchIn, 100000);
    EXPECT_EQ(read->punchOut, 200000);
    ASSERT_EQ(read->takes.size(), 2u);
    EXPECT_EQ(read->takes[1].inputPair, 1);
    EXPECT_EQ(read->takes[0].trackId, 3u);
    EXPECT_EQ(read->takes[1].file, "run-in3.wav");
    EXPECT_FALSE(fs::exists(path + ".partial"));

    const std::string good = "halvora-take-journal 1\npid 1\nstart 0\nlatency 0\npunch 0 0 0\n";
    const struct {
        const char *label;
        std::string text;
        const char *says;
    } damaged[] = {
        {"another file", "RIFF\n", "not a take journal"},
        {"empty", "", "not a take journal"},
        {"cut short", good + "take 0 1 a.wav\n", "cut short"},
        {"a file outside the folder", good + "take 0 1 ../a.wav\nend\n", "unreadable line"},
        {"a number that is not one", "halvora-take-journal 1\npid x\nend\n", "unreadable line"},
        {"an unknown line", good + "rm -rf\nend\n", "unreadable line"},
    };
    for (const auto &each : damaged) {
        SCOPED_TRACE(each.label);
        std::ofstream(path, std::ios::trunc) << each.text;
        error.clear();
        EXPECT_FALSE(readTakeJournal(path, error));
        EXPECT_NE(error.find(each.says), std::string::npos) << error;
    }
}

TEST(TakeJournal, OnlyJournalsOfProgramsThatDiedAreOfferedAndForgettingRemovesTheirFiles) {
    ScratchFolder scratch;
    const std::string project = scratch.path().string();
    const fs::path folder = takeJournalFolder(project);
    fs::create_directories(folder);
    // A process that has ended: its id is free.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    std::string error;
    TakeJournal dead;
    dead.processId = gone;
    dead.takes = {{0, 1, "dead-in1.wav"}};
    ASSERT_TRUE(writeTakeJournal((folder / "dead.takes").string(), dead, error)) << error;
    std::ofstream(folder / "dead-in1.wav") << "x";
    TakeJournal alive = dead;
    stampTakeJournal(alive);
    EXPECT_EQ(alive.processId, static_cast<long>(::getpid()));
    EXPECT_FALSE(alive.bootId.empty());
    EXPECT_GT(alive.processStart, 0);
    alive.takes = {{0, 1, "alive-in1.wav"}};
    ASSERT_TRUE(writeTakeJournal((folder / "alive.takes").string(), alive, error)) << error;
    // This process's id, taken by an earlier program before a restart, or before this one.
    TakeJournal rebooted = alive, reused = alive;
    rebooted.bootId = "another-boot";
    reused.processStart = alive.processStart - 1;
    ASSERT_TRUE(writeTakeJournal((folder / "rebooted.takes").string(), rebooted, error));
    ASSERT_TRUE(writeTakeJournal((folder / "reused.takes").string(), reused, error));
    std::ofstream(folder / "unrelated.txt") << "x";

    auto offered = interruptedTakeJournals(project);
    std::vector<std::string> names;
    for (const auto &path : offered) names.push_back(fs::path(path).filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"dead.takes", "rebooted.takes", "reused.takes"}));
    std::string read;
    const auto back = readTakeJournal((folder / "rebooted.takes").string(), read);
    ASSERT_TRUE(back) << read;
    EXPECT_EQ(back->bootId, "another-boot");
    EXPECT_EQ(back->processStart, alive.processStart);
    removeTakeJournal((folder / "rebooted.takes").string());
    removeTakeJournal((folder / "reused.takes").string());
    offered = interruptedTakeJournals(project);
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(fs::path(offered[0]).filename(), "dead.takes");
    removeTakeJournal(offered[0]);
    EXPECT_FALSE(fs::exists(folder / "dead.takes"));
    EXPECT_FALSE(fs::exists(folder / "dead-in1.wav"));
    // The running program's journal stays, and so does the folder it is in.
    EXPECT_TRUE(fs::exists(folder / "alive.takes"));
    EXPECT_TRUE(interruptedTakeJournals((scratch.path() / "nowhere").string()).empty());
}

} // namespace

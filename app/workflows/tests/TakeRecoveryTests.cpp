#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "app/workflows/TakeRecovery.h"
#include "core/project_io/ProjectFolder.h"
#include "device/TakeJournal.h"
#include "device/TakeSpool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;

/// Frame n of a take: its number on the left, negated on the right (exact in a float).
float frameValue(int64_t n) { return static_cast<float>(n + 1) / 1048576.0f; }

/// The id of a process that has ended: a journal of it is one a dead program left.
long endedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

/// Leaves in `project` what a program killed while recording leaves: a journal and, per
/// take, a file of `frames` frames (none: the file was only begun).
void leaveInterruptedTake(const fs::path &project, const std::string &name, TakeJournal journal,
                          const std::vector<int64_t> &frames) {
    const fs::path folder = takeJournalFolder(project.string());
    fs::create_directories(folder);
    journal.processId = endedProcess();
    for (std::size_t take = 0; take < frames.size(); ++take) {
        const std::string file = name + "-" + std::to_string(take) + ".wav";
        if (journal.takes.size() <= take)
            journal.takes.push_back({static_cast<int32_t>(take), 1, file});
        journal.takes[take].file = file;
        TakeSpool spool;
        std::string error;
        ASSERT_TRUE(spool.open((folder / file).string(), 2, rate, error)) << error;
        std::vector<float> samples;
        for (int64_t i = 0; i < frames[take]; ++i) {
            samples.push_back(frameValue(i));
            samples.push_back(-frameValue(i));
        }
        spool.append(samples.data(), frames[take]);
        ASSERT_TRUE(spool.close());
    }
    std::string error;
    ASSERT_TRUE(writeTakeJournal((folder / (name + ".takes")).string(), journal, error)) << error;
}

TEST(TakeRecovery, ATakeIsPlacedAsTheOrdinaryEndOfARecordingWouldPlaceIt) {
    const struct {
        const char *label;
        int64_t captureStart, latency;
        bool punch;
        int64_t punchIn, punchOut;
        int64_t frames;
        // Expected: where it lands, how long it is, the file frame it begins with; no take
        // when `length` is 0.
        int64_t start, length, firstFrame;
    } cases[] = {
        {"where it began, less the round trip", 96000, 512, false, 0, 0, 24000, 95488, 24000, 0},
        {"heard before the timeline's start", 100, 612, false, 0, 0, 24000, 0, 23488, 512},
        {"inside the punch range only", 48000, 0, true, 50000, 60000, 24000, 50000, 10000, 2000},
        {"a punch range it ends before", 48000, 0, true, 90000, 95000, 24000, 0, 0, 0},
        {"a punch range over all of it", 48000, 0, true, 0, 900000, 24000, 48000, 24000, 0},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.label);
        TemporaryHome home("take-recovery");
        const fs::path project = home.root() / "song.halvora";
        TakeJournal journal;
        journal.captureStart = each.captureStart;
        journal.latencyFrames = each.latency;
        journal.punchEnabled = each.punch;
        journal.punchIn = each.punchIn;
        journal.punchOut = each.punchOut;
        leaveInterruptedTake(project, "run", journal, {each.frames});
        const InterruptedTakes found = readInterruptedTakes(project.string(), rate);
        EXPECT_TRUE(found.problems.empty());
        EXPECT_EQ(found.journals.size(), 1u);
        if (each.length == 0) {
            EXPECT_TRUE(found.takes.empty());
            continue;
        }
        ASSERT_EQ(found.takes.size(), 1u);
        const RecoveredTake &take = found.takes[0];
        EXPECT_EQ(take.trackId, 1u);
        EXPECT_EQ(take.start, each.start);
        ASSERT_EQ(take.frames, each.length);
        EXPECT_EQ((*take.samples)[0], frameValue(each.firstFrame));
        EXPECT_EQ((*take.samples)[1], -frameValue(each.firstFrame));
        EXPECT_EQ((*take.samples)[2 * (take.frames - 1)],
                  frameValue(each.firstFrame + each.length - 1));
    }
}

TEST(TakeRecovery, AnUnreadableFileIsReportedAndKeptAndAnEmptyOneOffersNothing) {
    TemporaryHome home("take-recovery-damaged");
    const fs::path project = home.root() / "song.halvora";
    leaveInterruptedTake(project, "empty", TakeJournal{}, {0});
    leaveInterruptedTake(project, "damaged", TakeJournal{}, {4800});
    const fs::path damaged = fs::path(takeJournalFolder(project.string())) / "damaged-0.wav";
    writeTextFile(damaged, std::string(2000, 'x'));
    const InterruptedTakes found = readInterruptedTakes(project.string(), rate);
    EXPECT_TRUE(found.takes.empty());
    ASSERT_EQ(found.problems.size(), 1u);
    EXPECT_NE(found.problems[0].find("damaged-0.wav"), std::string::npos) << found.problems[0];
    // The empty one may go; the damaged one stays for another try.
    ASSERT_EQ(found.journals.size(), 1u);
    EXPECT_EQ(fs::path(found.journals[0]).filename(), "empty.takes");
    forgetInterruptedTakes(found.journals);
    EXPECT_TRUE(fs::exists(damaged));
    EXPECT_EQ(interruptedTakeJournals(project.string()).size(), 1u);
}

TEST(TakeRecovery, RecoveredTakesGoOnTheirTracksAsTheTakeThatPlaysAndUndoTakesThemAway) {
    Project project;
    project.sampleRate = rate;
    const auto vox = project.addTrack(TrackType::Audio, "Vox");
    const auto earlier = project.addClip(vox->id, ClipKind::Audio);
    earlier->arrangeStart = 48000;
    earlier->length = 1000;
    project.inputLatencyOffsetSamples = 0;
    const auto samples = [](int64_t frames) {
        return SharedSamples(std::make_shared<const std::vector<float>>(
            static_cast<std::size_t>(frames * 2), 0.25f));
    };
    RecoverTakesCommand command(
        {RecoveredTake{vox->id, 48000, samples(2000), 2000},
         RecoveredTake{999, 96000, samples(500), 500}}); // its track is gone
    const std::size_t tracksBefore = project.tracks.size();
    command.redo(project);
    ASSERT_EQ(command.placed().size(), 2u);
    const auto first = project.findClip(command.placed()[0].second);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->trackId, vox->id);
    EXPECT_EQ(first->arrangeStart, 48000);
    EXPECT_EQ(first->length, 2000);
    EXPECT_EQ(first->takeLane, earlier->takeLane + 1);
    EXPECT_TRUE(first->takeActive);
    EXPECT_FALSE(earlier->takeActive);
    EXPECT_EQ(project.tracks.size(), tracksBefore + 1);
    const auto made = project.findTrack(command.placed()[1].first);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->type, TrackType::Audio);
    EXPECT_EQ(made->name, "Восстановленный дубль");
    EXPECT_GE(project.lengthSamples, 96500);

    command.undo(project);
    EXPECT_EQ(project.tracks.size(), tracksBefore);
    EXPECT_EQ(vox->clips.size(), 1u);
    EXPECT_TRUE(earlier->takeActive);
    command.redo(project);
    EXPECT_EQ(vox->clips.size(), 2u);
}

/// Opening a project a recording of which was cut short asks once; each answer does what it
/// says and the question's count is the takes'.
TEST(TakeRecovery, OpeningTheProjectOffersTheTakesAndEachAnswerDoesWhatItSays) {
    const struct {
        const char *answer;
        std::size_t clipsAfter;
        bool filesLeft;
    } answers[] = {{"Восстановить", 2, false}, {"Удалить", 0, false}, {"Позже", 0, true}};
    for (const auto &each : answers) {
        SCOPED_TRACE(each.answer);
        TemporaryHome home("take-recovery-offer");
        home.rememberOutputDevice("Null");
        Project saved;
        saved.sampleRate = rate;
        saved.addTrack(TrackType::Audio, "Vox");
        const fs::path folder = home.root() / "song.halvora";
        ASSERT_TRUE(project_io::saveProject(saved, folder.string(), false).ok);
        TakeJournal journal;
        journal.captureStart = 24000;
        journal.takes = {{0, 1, ""}, {1, 1, ""}};
        leaveInterruptedTake(folder, "run", journal, {4800, 2400});

        ScriptedUi ui;
        ui.alertAnswers.push_back(each.answer);
        OVApplication app(ui);
        app.didFinishLaunching();
        ASSERT_TRUE(app.view().loadProjectFromBundle(folder.string()));
        ASSERT_EQ(ui.alerts.size(), 1u);
        EXPECT_EQ(ui.alerts[0].title, "Восстановить дубли?");
        EXPECT_NE(ui.alerts[0].text.find("Восстановить 2 дубля"), std::string::npos)
            << ui.alerts[0].text;
        const auto vox = app.engine().project.findTrack(1);
        ASSERT_TRUE(vox);
        EXPECT_EQ(vox->clips.size(), each.clipsAfter);
        EXPECT_EQ(fs::exists(takeJournalFolder(folder.string())), each.filesLeft);
        if (each.clipsAfter > 0) {
            EXPECT_EQ(vox->clips[0]->arrangeStart, 24000);
            EXPECT_EQ(ui.lastStatus(), "Восстановлено 2 дубля");
            EXPECT_TRUE(app.view().projectDirty);
            app.view().undoEdit();
            EXPECT_TRUE(app.engine().project.findTrack(1)->clips.empty());
        }
        EXPECT_TRUE(ui.scriptUsedUp());
    }
}

} // namespace

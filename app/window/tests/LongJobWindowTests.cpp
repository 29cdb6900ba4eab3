#include "app/cli/RenderVerb.h"
#include "app/shell/DocumentOperations.h"
#include "app/shell/OVMainView.h"
#include "app/window/LongJobRunner.h"
#include "app/window/MainWindow.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/audiofile/AudioFile.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"
#include "core/midifile/MidiFile.h"
#include "core/model/Translate.h"
#include "core/project_io/ProjectFolder.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <future>
#include <thread>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr int workerTimeoutMs = 60000;

/// The window over the application, with the song made long enough that an export takes a
/// while, and the means to follow what the main thread does while a job runs.
class LongJobWindowTest : public ::testing::Test {
  protected:
    WindowTestHarness harness{"longjobs"};
    MainWindow &window = harness.window();
    Engine &engine = harness.application().engine();
    OVMainView &view = harness.application().view();

    /// Adds a one-note MIDI clip ending `seconds` into the song, which the export covers.
    void lengthenSong(double seconds) {
        std::lock_guard lock(engine.projectMutex);
        Project &project = engine.project;
        uint64_t trackId = 0;
        for (const auto &track : project.tracks)
            if (track->type == TrackType::Midi) trackId = track->id;
        const auto clip = project.addClip(trackId, ClipKind::Midi);
        const auto rate = static_cast<int64_t>(project.sampleRate);
        clip->arrangeStart = static_cast<int64_t>(seconds) * rate - rate;
        clip->length = rate;
        clip->notes.push_back(MidiNote{72, 0.8f, 0, rate / 2});
        engine.publishGraph();
    }
    void trigger(const char *text) {
        QAction *action = window.action(QString::fromUtf8(text));
        ASSERT_NE(action, nullptr) << text;
        action->trigger();
    }
    /// Waits on the event loop (never on a sleep) until `runner` has nothing left.
    void waitUntilIdle(LongJobRunner &runner) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.busy(); }, workerTimeoutMs))
            << "the job never finished";
        QApplication::processEvents();
    }
    uint64_t midiTrack() {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &track : engine.project.tracks)
            if (track->type == TrackType::Midi) return track->id;
        return 0;
    }
    std::string status() { return harness.ui.lastStatus(); }
    uint64_t importedClip() {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &track : engine.project.tracks)
            for (const auto &clip : track->clips)
                if (clip->kind == ClipKind::Audio) return clip->id;
        return 0;
    }
    fs::path scratch(const std::string &name) { return harness.scratch(name); }
};

ImportedWav readWav(const fs::path &path) {
    ImportedWav wav;
    EXPECT_TRUE(importWav(path.string(), wav)) << path;
    return wav;
}

bool holdsPartialFile(const fs::path &folder) {
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == ".partial") return true;
    return false;
}

/// Counts how often a short timer fires on the main thread, and whether it ever saw a job
/// part-way through.
struct MainThreadWatch {
    QTimer timer;
    int ticks = 0;
    bool sawPartProgress = false;
    explicit MainThreadWatch(LongJobRunner &runner) {
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this, &runner] {
            ++ticks;
            const double progress = runner.progress();
            if (progress > 0.0 && progress < 1.0) sawPartProgress = true;
        });
        timer.start();
    }
};

} // namespace

TEST_F(LongJobWindowTest, TheExportMenuRendersOnAWorkerWhatTheRenderCommandWrites) {
    lengthenSong(60.0);
    const fs::path folder = scratch("song.halvora");
    ASSERT_TRUE(view.saveProjectToPath(folder.string(), false));
    const fs::path exported = scratch("mixdown.wav");
    harness.ui.saveLocations.push_back(exported.string());
    view.play();

    LongJobRunner &exports = window.exportJobRunner();
    EXPECT_FALSE(exports.isVisible()) << "nothing shows while nothing runs";
    MainThreadWatch watch(exports);
    trigger("Экспортировать WAV…");
    // The action came back before the export was done.
    ASSERT_TRUE(exports.busy());
    EXPECT_TRUE(exports.isVisible()) << "the progress shows while it runs";
    saveScreenshot(window, "export-progress");
    // An edit made while it renders does not reach the file.
    view.executeEdit(std::make_unique<SetTrackMixerCommand>(midiTrack(), 1.0f, 0.0f, true, false));
    waitUntilIdle(exports);
    EXPECT_GT(watch.ticks, 1) << "the main thread kept running its timers";
    EXPECT_TRUE(watch.sawPartProgress) << "the progress moved while the export ran";
    EXPECT_FALSE(exports.isVisible());
    EXPECT_TRUE(engine.transport.playing.load()) << "playback went on";
    const int64_t frames = [&] {
        std::lock_guard lock(engine.projectMutex);
        return arrangementExportLength(engine.project);
    }();
    EXPECT_EQ(status().rfind("WAV экспортирован (" + std::to_string(frames) + " сэмплов) · ", 0),
              0u)
        << status() << " (the report of what was written follows)";
    EXPECT_NE(status().find(" LUFS"), std::string::npos) << status();

    const fs::path rendered = scratch("rendered.wav");
    ASSERT_EQ(runRenderVerb({folder.string(), "-o", rendered.string(), "--quiet"}, stdout, stderr),
              0);
    const ImportedWav fromMenu = readWav(exported), fromCommand = readWav(rendered);
    ASSERT_TRUE(fromMenu.samples && fromCommand.samples);
    EXPECT_EQ(fromMenu.frames, frames);
    EXPECT_EQ(fromMenu.channels, fromCommand.channels);
    ASSERT_EQ(fromMenu.frames, fromCommand.frames);
    EXPECT_GT(*std::max_element(fromMenu.samples->begin(), fromMenu.samples->end()), 0.01f);
    EXPECT_TRUE(*fromMenu.samples == *fromCommand.samples)
        << "the export differs from the render of the same document";
}

// A loudness target the true-peak ceiling does not let the song reach: the export says so
// instead of only that it was written.
TEST_F(LongJobWindowTest, AnExportHeldBackByTheTruePeakCeilingSaysSo) {
    // The start-up song is dense: a ceiling well under the target holds it back.
    view.exportNormalization = {NormalizeMode::Loudness, -14.0, -20.0};
    harness.ui.saveLocations.push_back(scratch("quiet.wav").string());
    trigger("Экспортировать WAV…");
    waitUntilIdle(window.exportJobRunner());
    EXPECT_EQ(status().rfind("Потолок истинного пика -20.0 dBTP удержал громкость на ", 0), 0u)
        << status();
    EXPECT_NE(status().find("(цель -14.0 LUFS)"), std::string::npos) << status();
}

// A target the song can reach: the report after the export gives the written file's figures
// and says the target was met.
TEST_F(LongJobWindowTest, AnExportReportsTheLoudnessWrittenAndTheTargetMet) {
    view.exportNormalization = {NormalizeMode::Loudness, -23.0, -1.0};
    const fs::path written = scratch("delivery.wav");
    harness.ui.saveLocations.push_back(written.string());
    trigger("Экспортировать WAV…");
    waitUntilIdle(window.exportJobRunner());
    const std::string said = status();
    EXPECT_EQ(said.rfind("WAV экспортирован (", 0), 0u) << said;
    EXPECT_NE(said.find(" · -23."), std::string::npos) << "the integrated loudness: " << said;
    EXPECT_NE(said.find("LUFS интегральная, истинный пик -"), std::string::npos) << said;
    EXPECT_NE(said.find("диапазон громкости "), std::string::npos) << said;
    EXPECT_TRUE(said.ends_with(" · цель -23.0 LUFS достигнута")) << said;
    EXPECT_TRUE(fs::exists(written));
}

TEST_F(LongJobWindowTest, CancellingAnExportLeavesTheEarlierFileAndNothingElse) {
    lengthenSong(600.0);
    const fs::path earlier = scratch("earlier.wav"), fresh = scratch("fresh.wav");
    writeTextFile(earlier, "the user's earlier file");
    for (const fs::path &target : {earlier, fresh}) {
        harness.ui.saveLocations.push_back(target.string());
        trigger("Экспортировать WAV…");
        LongJobRunner &exports = window.exportJobRunner();
        ASSERT_TRUE(exports.busy());
        auto *cancel = exports.findChild<QPushButton *>();
        ASSERT_NE(cancel, nullptr);
        ASSERT_TRUE(cancel->isVisible());
        QTest::mouseClick(cancel, Qt::LeftButton);
        waitUntilIdle(exports);
        EXPECT_EQ(status(), "Экспорт отменён") << target;
    }
    EXPECT_EQ(readTextFile(earlier), "the user's earlier file");
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_FALSE(holdsPartialFile(earlier.parent_path()));
}

TEST_F(LongJobWindowTest, AnExportToAFolderThatCannotBeWrittenReportsAndLeavesNothing) {
    writeTextFile(scratch("a file"), "not a folder");
    const fs::path targets[] = {scratch("no such folder") / "mix.wav",
                                scratch("a file") / "mix.wav"};
    for (const fs::path &target : targets) {
        harness.ui.saveLocations.push_back(target.string());
        trigger("Экспортировать WAV…");
        waitUntilIdle(window.exportJobRunner());
        EXPECT_EQ(status().rfind(withArguments(translate("OVMainView", "Export failed: %1"),
                                               {"не удаётся записать \""}),
                                 0),
                  0u)
            << status();
        std::error_code error;
        EXPECT_FALSE(fs::exists(target, error)) << target;
    }
    EXPECT_FALSE(fs::exists(scratch("no such folder")));
    EXPECT_EQ(readTextFile(scratch("a file")), "not a folder");
}

TEST_F(LongJobWindowTest, SavingOnAWorkerKeepsTheEditsMadeMeanwhile) {
    const fs::path tone = scratch("Тон.wav");
    std::vector<float> samples(96000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.25f * static_cast<float>(std::sin(0.01 * static_cast<double>(i)));
    ASSERT_TRUE(exportWav(tone.string(), samples.data(), 48000, 2, 48000.0));
    std::string error;
    ASSERT_TRUE(view.importAudioFileAtPath(tone.string(), error)) << error;
    // The reference: the same document saved the established way, on the main thread.
    const fs::path reference = scratch("reference.halvora");
    ASSERT_TRUE(view.saveProjectToPath(reference.string(), false));

    harness.ui.saveLocations.push_back(scratch("song").string());
    LongJobRunner &saves = window.documentJobRunner();
    trigger("Сохранить проект…");
    ASSERT_TRUE(saves.busy());
    // A second save while the first runs is refused; it never asks where to save.
    trigger("Сохранить проект…");
    EXPECT_EQ(status(), "Сохранение уже идёт");
    view.executeEdit(std::make_unique<AddTrackCommand>(TrackType::Audio, "Во время сохранения"));
    waitUntilIdle(saves);

    const fs::path folder = scratch("song.halvora");
    EXPECT_EQ(view.projectPath, folder.string());
    EXPECT_EQ(status(), "Проект сохранён");
    EXPECT_TRUE(view.projectDirty) << "the edit made while saving is not on disk yet";
    std::optional<Project> loaded = project_io::loadProject(folder.string());
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(project_io::hydrateProjectMedia(*loaded));
    std::optional<Project> expected = project_io::loadProject(reference.string());
    ASSERT_TRUE(expected);
    std::vector<std::string> names, expectedNames;
    for (const auto &track : loaded->tracks)
        names.push_back(track->name);
    for (const auto &track : expected->tracks)
        expectedNames.push_back(track->name);
    EXPECT_EQ(names, expectedNames) << "the file holds the document as it was when saved";
    const auto clip = loaded->findClip(importedClip());
    ASSERT_TRUE(clip && clip->audio);
    ASSERT_EQ(clip->audio->size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); i += 997)
        EXPECT_NEAR((*clip->audio)[i], samples[i], 1.0f / 32768.0f) << i;
}

TEST_F(LongJobWindowTest, QuittingWhileASaveRunsWaitsForIt) {
    view.markDocumentDirty();
    harness.ui.saveLocations.push_back(scratch("song").string());
    trigger("Сохранить проект…");
    ASSERT_TRUE(window.documentJobRunner().busy());
    // Had the quit not waited, the unsaved document would make it ask (an alert the script
    // does not answer).
    window.close();
    EXPECT_FALSE(window.documentJobRunner().busy());
    EXPECT_TRUE(harness.ui.showedStatus("Проект сохранён"));
    EXPECT_TRUE(fs::exists(scratch("song.halvora") / "project.json"));
    EXPECT_TRUE(harness.ui.alerts.empty());
    EXPECT_FALSE(window.isVisible());
}

TEST_F(LongJobWindowTest, TheImportMenuDecodesOnAWorker) {
    const fs::path tone = scratch("Флейта.wav");
    std::vector<float> samples(9600, 0.1f);
    ASSERT_TRUE(exportWav(tone.string(), samples.data(), 4800, 2, 48000.0));
    harness.ui.filesToOpen.push_back({tone.string()});
    const std::size_t tracksBefore = engine.project.tracks.size();
    trigger("Импортировать аудио…");
    ASSERT_TRUE(window.timeline().importing());
    waitUntilIdle(window.timeline().importJobs());
    EXPECT_EQ(status(), "Импортирован 1 файл на новую дорожку");
    std::lock_guard lock(engine.projectMutex);
    ASSERT_EQ(engine.project.tracks.size(), tracksBefore + 1);
    EXPECT_EQ(engine.project.tracks.back()->name, "Флейта");
}

TEST_F(LongJobWindowTest, TheMidiImportMenuReadsTheFileOnAWorkerAndTheWindowGoesOn) {
    // The tempo changes on every tick: once a minute of a frozen window, now a job.
    midifile::MidiFile song;
    song.ticksPerQuarter = 480;
    for (int64_t tick = 0; tick < 100000; ++tick)
        song.tempos.push_back({tick, static_cast<uint32_t>(400000 + tick % 1000)});
    song.tracks.push_back({"Темпы", {{0, 60, 100, 100000, 480}}});
    const fs::path path = scratch("tempi.mid");
    std::string error;
    ASSERT_TRUE(midifile::writeMidiFileAt(path.string(), song, error)) << error;
    harness.ui.filesToOpen.push_back({path.string()});
    const std::size_t tracksBefore = engine.project.tracks.size();
    MainThreadWatch watch(window.timeline().importJobs());
    trigger("Импортировать MIDI-файл…");
    // The action came back before the file was read.
    ASSERT_TRUE(window.timeline().importing());
    waitUntilIdle(window.timeline().importJobs());
    EXPECT_GT(watch.ticks, 0) << "the main thread went on while the file was read";
    EXPECT_EQ(status(), "MIDI-файл импортирован (1 дорожка)");
    std::lock_guard lock(engine.projectMutex);
    ASSERT_EQ(engine.project.tracks.size(), tracksBefore + 1);
    EXPECT_EQ(engine.project.tracks.back()->name, "Темпы");
    EXPECT_EQ(engine.project.tempoMarkers.size(), 99999u);
}

TEST_F(LongJobWindowTest, OpeningAProjectReadsItOnAWorkerAndThenShowsIt) {
    lengthenSong(30.0);
    const fs::path folder = scratch("opened.halvora");
    ASSERT_TRUE(view.saveProjectToPath(folder.string(), false));
    const std::string name = engine.project.name;
    const int64_t songEnd = view.projectEndSamples();
    view.newProject();
    ASSERT_LT(view.projectEndSamples(), songEnd);
    harness.ui.filesToOpen.push_back({folder.string()});
    trigger("Открыть проект…");
    // The action came back before the project was read; the document is still the new one.
    ASSERT_TRUE(window.documentJobRunner().busy());
    EXPECT_TRUE(view.projectPath.empty());
    waitUntilIdle(window.documentJobRunner());
    EXPECT_EQ(status(), "Открыт: " + name);
    EXPECT_EQ(view.projectPath, folder.string());
    EXPECT_EQ(view.projectEndSamples(), songEnd);
    EXPECT_FALSE(view.projectDirty);

    // A folder that holds no project leaves the document as it was.
    harness.ui.filesToOpen.push_back({scratch("nothing.halvora").string()});
    trigger("Открыть проект…");
    waitUntilIdle(window.documentJobRunner());
    EXPECT_EQ(status().rfind("Не удалось открыть проект: ", 0), 0u) << status();
    EXPECT_EQ(view.projectPath, folder.string());
}

TEST(LongJobRunnerWidget, RunsJobsInTurnAndFinishesThemOnTheMainThread) {
    windowTestApplication();
    LongJobRunner runner;
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<bool> firstStarted{false}, secondStarted{false};
    std::vector<std::string> finished;
    std::thread::id finishedOn;
    LongJob first{"first", true,
                  [&](JobControl &control) {
                      control.report(0.25);
                      firstStarted = true;
                      gate.wait();
                  },
                  [&] {
                      finished.push_back("first");
                      finishedOn = std::this_thread::get_id();
                  }};
    LongJob second{"second", false, [&](JobControl &) { secondStarted = true; },
                   [&] { finished.push_back("second"); }};
    runner.run(std::move(first));
    runner.run(std::move(second));
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstStarted.load(); }, workerTimeoutMs));
    EXPECT_DOUBLE_EQ(runner.progress(), 0.25);
    EXPECT_FALSE(secondStarted) << "the second job waits for the first";
    EXPECT_TRUE(runner.busy());
    release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.busy(); }, workerTimeoutMs));
    EXPECT_EQ(finished, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(finishedOn, std::this_thread::get_id());
    EXPECT_LT(runner.progress(), 0.0) << "idle";
}

TEST(LongJobRunnerWidget, CancelStopsTheRunningJobAndDropsTheWaitingOnes) {
    windowTestApplication();
    LongJobRunner runner;
    bool stopped = false, laterRan = false;
    std::atomic<bool> started{false};
    runner.run(LongJob{"endless", true,
                       [&](JobControl &control) {
                           started = true;
                           while (!control.cancelled())
                               std::this_thread::yield();
                       },
                       [&] { stopped = true; }});
    runner.run(LongJob{"later", true, {}, [&] { laterRan = true; }});
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, workerTimeoutMs));
    runner.cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.busy(); }, workerTimeoutMs));
    EXPECT_TRUE(stopped) << "a cancelled job still finishes, so that it can report";
    EXPECT_FALSE(laterRan);
}

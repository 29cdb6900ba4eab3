#include "app/shell/DocumentJobs.h"
#include "app/shell/LongJob.h"
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "core/audiofile/AudioFile.h"
#include "core/audiofile/tests/TestTone.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"
#include "core/midifile/MidiFile.h"
#include "core/project_io/ProjectFolder.h"
#include "core/stock/DrumKit.h"
#include "tests/support/TestSignals.h"

#include "core/midifile/MidiFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

/// A job whose perform step blocks until the test lets it go, recording on which threads
/// its steps ran.
struct GatedJob {
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::promise<void> startedSignal;
    std::future<void> started = startedSignal.get_future();
    std::thread::id performedOn, finishedOn;
    bool sawCancel = false;

    LongJob job() {
        LongJob made;
        made.title = "gated";
        made.perform = [this](JobControl &control) {
            performedOn = std::this_thread::get_id();
            control.report(0.5);
            startedSignal.set_value();
            gate.wait();
            sawCancel = control.cancelled();
        };
        made.finish = [this] { finishedOn = std::this_thread::get_id(); };
        return made;
    }
};

} // namespace

TEST(LongJobThread, PerformsOnTheWorkerAndFinishesOnTheOwnersThread) {
    GatedJob gated;
    LongJobThread worker;
    std::promise<void> woken;
    ASSERT_TRUE(worker.start(gated.job(), [&woken] { woken.set_value(); }));
    gated.started.wait();
    EXPECT_TRUE(worker.busy());
    EXPECT_DOUBLE_EQ(worker.control().fraction(), 0.5);
    EXPECT_FALSE(worker.start(LongJob{}, {})) << "one job at a time";
    EXPECT_FALSE(worker.finishIfDone()) << "the job has not performed yet";
    worker.control().cancel();
    gated.release.set_value();
    woken.get_future().wait();
    EXPECT_TRUE(worker.performed());
    EXPECT_TRUE(worker.finishIfDone());
    EXPECT_FALSE(worker.busy());
    EXPECT_NE(gated.performedOn, std::this_thread::get_id());
    EXPECT_EQ(gated.finishedOn, std::this_thread::get_id());
    EXPECT_TRUE(gated.sawCancel);

    // The next job starts with a fresh control.
    GatedJob second;
    ASSERT_TRUE(worker.start(second.job()));
    second.started.wait();
    second.release.set_value();
    EXPECT_TRUE(worker.waitAndFinish());
    EXPECT_FALSE(second.sawCancel);
    EXPECT_FALSE(worker.waitAndFinish()) << "nothing left to finish";
}

TEST(LongJobThread, AJobThatRunsOutOfMemoryStillFinishesOnBothRunners) {
    int finished = 0;
    const auto failingJob = [&finished] {
        LongJob job;
        job.perform = [](JobControl &) { throw std::bad_alloc(); };
        job.finish = [&finished] { ++finished; };
        return job;
    };
    LongJobThread worker;
    ASSERT_TRUE(worker.start(failingJob()));
    EXPECT_TRUE(worker.waitAndFinish());
    EXPECT_TRUE(worker.control().ranOutOfMemory());
    LongJob here = failingJob();
    runLongJobHere(here);
    EXPECT_EQ(finished, 2);
    // The next job starts with a fresh control.
    ASSERT_TRUE(worker.start(LongJob{}));
    EXPECT_TRUE(worker.waitAndFinish());
    EXPECT_FALSE(worker.control().ranOutOfMemory());
}

TEST(DocumentSnapshot, SharesNoTrackOrClipButTheSamples) {
    Project project;
    const auto track = project.addTrack(TrackType::Audio, "a");
    const auto clip = project.addClip(track->id, ClipKind::Audio);
    clip->audio = makeSampleBuffer({0.1f, 0.2f});
    clip->channels = 1;
    clip->length = 2;

    const Project copy = copyProjectDocument(project);
    ASSERT_EQ(copy.tracks.size(), 1u);
    EXPECT_NE(copy.tracks[0].get(), track.get());
    ASSERT_EQ(copy.tracks[0]->clips.size(), 1u);
    EXPECT_NE(copy.tracks[0]->clips[0].get(), clip.get());
    EXPECT_EQ(copy.tracks[0]->clips[0]->audio, clip->audio);
    // Edits of the live document after the snapshot do not reach it.
    track->name = "renamed";
    clip->arrangeStart = 900;
    project.addTrack(TrackType::Midi, "m");
    EXPECT_EQ(copy.tracks[0]->name, "a");
    EXPECT_EQ(copy.tracks[0]->clips[0]->arrangeStart, 0);
    EXPECT_EQ(copy.tracks.size(), 1u);
}

TEST(DocumentSnapshot, ASavedSnapshotGivesItsMediaNamesOnlyToUnchangedClips) {
    const std::string folder = makeScratchFolder("snapshot-save");
    Project project;
    project.sampleRate = 48000.0;
    const auto track = project.addTrack(TrackType::Audio, "a");
    std::vector<uint64_t> clips;
    for (int i = 0; i < 3; ++i) {
        const auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = makeSampleBuffer(std::vector<float>(200, 0.25f * i));
        clip->channels = 2;
        clip->length = 100;
        clip->audioFile = "take" + std::to_string(i) + ".wav";
        clips.push_back(clip->id);
    }
    Project snapshot = copyProjectDocument(project);
    const SavedDocument saved = saveDocumentSnapshot(snapshot, folder + "/song.halvora", false);
    ASSERT_TRUE(saved.result.ok) << saved.result.error;
    ASSERT_EQ(saved.renames.size(), 3u);
    for (const MediaRename &rename : saved.renames) {
        EXPECT_EQ(rename.after, "media/clip_" + std::to_string(rename.clipId) + ".wav");
        EXPECT_TRUE(fs::exists(fs::path(folder) / "song.halvora" / rename.after));
    }
    EXPECT_EQ(project.findClip(clips[0])->audioFile, "take0.wav") << "the live clip is untouched";

    // Meanwhile the second clip was pointed elsewhere and the third was deleted.
    project.findClip(clips[1])->audioFile = "other.wav";
    std::erase_if(track->clips, [&](const auto &clip) { return clip->id == clips[2]; });
    adoptSavedMediaNames(project, saved.renames);
    EXPECT_EQ(project.findClip(clips[0])->audioFile,
              "media/clip_" + std::to_string(clips[0]) + ".wav");
    EXPECT_EQ(project.findClip(clips[1])->audioFile, "other.wav");
}

TEST(DocumentSnapshot, DrumSamplesFromOutsideAreCopiedInAndNamedRelativeToTheProject) {
    const std::string folder = makeScratchFolder("drum-samples");
    const std::string outside = folder + "/chosen.wav";
    const std::vector<float> tone(400, 0.5f);
    ASSERT_TRUE(exportWav(outside, tone.data(), 200, 2, 48000.0));
    Project project;
    const auto drums = project.addTrack(TrackType::Midi, "drums");
    drums->instrument = std::string(drumsInstrumentId);
    stock::DrumKit kit = stock::defaultDrumKit();
    kit.pads[0].layers[0].file = outside;
    drums->instrumentState = stock::writeDrumStateText(kit);

    // The first save copies the sample in; a save as elsewhere copies the project's own copy.
    for (const std::string song : {"/song.halvora", "/copy.halvora"}) {
        Project snapshot = copyProjectDocument(project);
        const SavedDocument saved = saveDocumentSnapshot(snapshot, folder + song, false);
        ASSERT_TRUE(saved.result.ok) << saved.result.error;
        ASSERT_EQ(saved.instrumentRenames.size(), 1u) << song;
        adoptSavedMediaNames(project, saved.renames, saved.instrumentRenames);
        project.rootPath = folder + song;
        stock::DrumKit stored;
        ASSERT_TRUE(stock::readDrumStateText(drums->instrumentState, stored, nullptr));
        EXPECT_EQ(stored.pads[0].layers[0].file, "media/chosen.wav");
        EXPECT_EQ(stored.pads[1], kit.pads[1]) << "built-in sounds stay as they are";
        EXPECT_TRUE(fs::is_regular_file(folder + song + "/media/chosen.wav")) << song;
        const auto loaded = project_io::loadProject(folder + song);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->findTrack(drums->id)->instrumentState, drums->instrumentState);
    }
    // Saved again in its own folder: nothing to copy, nothing renamed.
    Project snapshot = copyProjectDocument(project);
    const SavedDocument again = saveDocumentSnapshot(snapshot, folder + "/copy.halvora", false);
    ASSERT_TRUE(again.result.ok);
    EXPECT_TRUE(again.instrumentRenames.empty());
}

namespace {

/// The application on the null device in a private home, its long operations prepared and
/// finished here and performed on a thread of the test's own while the document is edited.
class DocumentJobTest : public ::testing::Test {
  protected:
    TemporaryHome home{"jobs"};
    ScriptedUi ui;
    std::unique_ptr<OVApplication> app;

    void SetUp() override {
        home.rememberOutputDevice("Null");
        app = std::make_unique<OVApplication>(ui);
        app->didFinishLaunching();
    }
    void TearDown() override {
        app.reset();
        EXPECT_TRUE(ui.scriptUsedUp());
    }
    OVMainView &view() { return app->view(); }
    Engine &engine() { return app->engine(); }
    fs::path scratch(const std::string &name) const { return home.root() / name; }

    /// Performs `job` on another thread while `meanwhile` runs here, then finishes it here.
    template <typename Meanwhile> void performBeside(LongJob &job, Meanwhile meanwhile) {
        JobControl control;
        std::thread worker([&] { job.perform(control); });
        meanwhile();
        worker.join();
        job.finish();
    }
    uint64_t firstTrackOf(TrackType type) {
        std::lock_guard lock(engine().projectMutex);
        for (const auto &track : engine().project.tracks)
            if (track->type == type) return track->id;
        return 0;
    }
    void muteTrack(uint64_t trackId) {
        view().executeEdit(
            std::make_unique<SetTrackMixerCommand>(trackId, 1.0f, 0.0f, true, false));
    }
};

float peakOf(const fs::path &file) {
    ImportedWav wav;
    if (!importWav(file.string(), wav) || !wav.samples) return -1.0f;
    return static_cast<float>(orvane::testing::peakOf(*wav.samples));
}

} // namespace

TEST_F(DocumentJobTest, ASaveWritesItsSnapshotAndLeavesLaterEditsUnsaved) {
    const fs::path folder = scratch("song.halvora");
    ui.saveLocations.push_back(scratch("song").string());
    std::optional<LongJob> job = view().prepareSave();
    ASSERT_TRUE(job);
    ASSERT_FALSE(job->cancellable) << "a save is never cut off halfway";
    performBeside(*job, [&] {
        view().executeEdit(
            std::make_unique<AddTrackCommand>(TrackType::Audio, "Во время сохранения"));
    });
    EXPECT_EQ(ui.lastStatus(), "Проект сохранён");
    EXPECT_EQ(view().projectPath, folder.string());
    EXPECT_TRUE(view().projectDirty) << "the edit made while saving is not in the file";

    const std::optional<Project> saved = project_io::loadProject(folder.string());
    ASSERT_TRUE(saved);
    const auto named = [](const Project &project, const std::string &name) {
        return std::any_of(project.tracks.begin(), project.tracks.end(),
                           [&](const auto &track) { return track->name == name; });
    };
    EXPECT_FALSE(named(*saved, "Во время сохранения"));
    EXPECT_TRUE(named(engine().project, "Во время сохранения"));

    // Saved again with nothing changed meanwhile, the document is clean.
    EXPECT_TRUE(view().saveProject());
    EXPECT_FALSE(view().projectDirty);
    EXPECT_TRUE(named(*project_io::loadProject(folder.string()), "Во время сохранения"));
}

TEST_F(DocumentJobTest, AFailedSaveOnAWorkerChangesNeitherPathNorDirtyState) {
    writeTextFile(scratch("occupied"), "a file where the folder would go");
    view().markDocumentDirty();
    ui.saveLocations.push_back((scratch("occupied") / "song").string());
    std::optional<LongJob> job = view().prepareSave();
    ASSERT_TRUE(job);
    performBeside(*job, [] {});
    EXPECT_EQ(ui.lastStatus().rfind("Ошибка: ", 0), 0u) << ui.lastStatus();
    EXPECT_TRUE(view().projectPath.empty());
    EXPECT_TRUE(view().projectDirty);
}

TEST_F(DocumentJobTest, AnExportRendersTheSongAsItWasWhenAskedFor) {
    ui.saveLocations.push_back(scratch("asked.wav").string());
    std::optional<LongJob> job = view().prepareExportWav();
    ASSERT_TRUE(job);
    // The song's only sounding track falls silent while the export renders.
    performBeside(*job, [&] { muteTrack(firstTrackOf(TrackType::Midi)); });
    const int64_t frames = view().arrangementExportLength();
    EXPECT_EQ(
        ui.lastStatus().rfind("WAV экспортирован (" + std::to_string(frames) + " сэмплов) · ", 0),
        0u)
        << ui.lastStatus() << " (the report of what was written follows)";
    EXPECT_NE(ui.lastStatus().find(" LUFS"), std::string::npos) << ui.lastStatus();
    EXPECT_GT(peakOf(scratch("asked.wav")), 0.01f);

    ui.saveLocations.push_back(scratch("muted.wav").string());
    view().exportWav();
    EXPECT_EQ(peakOf(scratch("muted.wav")), 0.0f) << "a later export hears the edit";
}

TEST_F(DocumentJobTest, TheMenuImportDecodesOffTheMainThreadAndPlacesEachFileOnANewTrack) {
    const fs::path tone = scratch("Тон.wav");
    ASSERT_TRUE(
        exportWav(tone.string(), makeTone(440.0, 48000.0, 4800, 2).data(), 4800, 2, 48000.0));
    ui.filesToOpen.push_back({tone.string(), scratch("missing.wav").string()});
    std::optional<LongJob> job = view().prepareImportAudio();
    ASSERT_TRUE(job);
    const std::size_t tracksBefore = engine().project.tracks.size();
    performBeside(*job, [] {});
    EXPECT_EQ(engine().project.tracks.size(), tracksBefore + 1);
    EXPECT_EQ(engine().project.tracks.back()->name, "Тон");
    EXPECT_EQ(ui.lastStatus(), "Импортирован 1 файл на новую дорожку");
    EXPECT_TRUE(view().projectDirty);

    // A document opened while the files decode gets none of them.
    ui.filesToOpen.push_back({tone.string()});
    job = view().prepareImportAudio();
    ASSERT_TRUE(job);
    view().projectDirty = false;
    performBeside(*job, [&] { view().newProject(); });
    EXPECT_EQ(ui.lastStatus(), "Импорт отменён");
    EXPECT_FALSE(view().projectDirty);
}

TEST_F(DocumentJobTest, AMidiFileIsReadAndPlacedOffTheMainThreadAndCanBeStopped) {
    // Many tempo changes, the case that once held the window still, and two tracks of notes.
    midifile::MidiFile song;
    song.ticksPerQuarter = 480;
    for (int64_t tick = 0; tick < 5000; ++tick)
        song.tempos.push_back({tick, static_cast<uint32_t>(400000 + tick % 1000)});
    song.tracks.push_back({"Верх", {{0, 72, 90, 5000, 480}}});
    song.tracks.push_back({"Низ", {{1, 36, 110, 5480, 480}}});
    const fs::path path = scratch("tempi.mid");
    std::string error;
    ASSERT_TRUE(midifile::writeMidiFileAt(path.string(), song, error)) << error;

    const struct {
        const char *label;
        bool cancel;
        bool openAnother;
        std::size_t added;
        const char *status;
    } cases[] = {
        {"finished", false, false, 2, "MIDI-файл импортирован (2 дорожки)"},
        {"stopped by the user", true, false, 0, "Импорт MIDI отменён"},
        {"another project opened meanwhile", false, true, 0, "Импорт MIDI отменён"},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.label);
        ui.filesToOpen.push_back({path.string()});
        std::optional<LongJob> job = view().prepareImportMidiFile();
        ASSERT_TRUE(job);
        EXPECT_TRUE(job->cancellable);
        const std::size_t before = engine().project.tracks.size();
        JobControl control;
        if (each.cancel) control.cancel();
        std::thread worker([&] { job->perform(control); });
        // The main thread edits on while the file is read.
        if (each.openAnother) {
            view().projectDirty = false; // opened without a question about the edits
            view().newProject();
        } else {
            muteTrack(firstTrackOf(TrackType::Midi));
        }
        worker.join();
        const std::size_t beforeFinish = engine().project.tracks.size();
        job->finish();
        EXPECT_EQ(ui.lastStatus(), each.status);
        EXPECT_EQ(engine().project.tracks.size(), beforeFinish + each.added);
        if (each.added == 0) continue;
        EXPECT_EQ(engine().project.tracks[before]->name, "Верх");
        EXPECT_EQ(engine().project.tempoMarkers.size(), 4999u);
        EXPECT_GT(control.fraction(), 0.99);
        view().undoEdit();
        EXPECT_EQ(engine().project.tracks.size(), before);
    }
}

// The main thread's share of saving and exporting a large project: the snapshot and the
// report. Logged, not asserted: the figures belong to the machine.
TEST_F(DocumentJobTest, MainThreadStepsOfA32TrackProjectAreLogged) {
    constexpr int trackCount = 32;
    constexpr int clipFrames = 48000 * 4;
    {
        std::lock_guard lock(engine().projectMutex);
        Project &project = engine().project;
        for (int i = 0; i < trackCount; ++i) {
            const auto track = project.addTrack(TrackType::Audio, "Дорожка " + std::to_string(i));
            const auto clip = project.addClip(track->id, ClipKind::Audio);
            clip->audio = makeSampleBuffer(makeTone(110.0 + i, 48000.0, clipFrames, 2));
            clip->channels = 2;
            clip->length = clipFrames;
            clip->arrangeStart = int64_t{i} * 24000;
        }
        engine().publishGraph();
    }
    view().markDocumentDirty();
    using Clock = std::chrono::steady_clock;
    const auto milliseconds = [](Clock::duration span) {
        return std::chrono::duration<double, std::milli>(span).count();
    };
    struct Timed {
        double prepare = 0, perform = 0, finish = 0;
    };
    const auto timeJob = [&](auto prepare) {
        Timed timed;
        auto start = Clock::now();
        std::optional<LongJob> job = prepare();
        timed.prepare = milliseconds(Clock::now() - start);
        EXPECT_TRUE(job);
        if (!job) return timed;
        JobControl control;
        start = Clock::now();
        job->perform(control);
        timed.perform = milliseconds(Clock::now() - start);
        start = Clock::now();
        job->finish();
        timed.finish = milliseconds(Clock::now() - start);
        return timed;
    };
    ui.saveLocations.push_back(scratch("large").string());
    const Timed save = timeJob([&] { return view().prepareSave(); });
    EXPECT_EQ(ui.lastStatus(), "Проект сохранён");
    ui.saveLocations.push_back(scratch("large.wav").string());
    const Timed render = timeJob([&] { return view().prepareExportWav(); });
    EXPECT_EQ(ui.lastStatus().rfind("WAV экспортирован (", 0), 0u) << ui.lastStatus();
    for (const auto &[name, timed] : {std::pair{"save", save}, std::pair{"export", render}}) {
        const double mainThread = std::max(timed.prepare, timed.finish);
        std::printf("[ timing ] %d-track %s: main thread prepare %.2f ms, finish %.2f ms; "
                    "worker %.2f ms; longest main-thread step %.2f ms, %.4f of the whole\n",
                    trackCount, name, timed.prepare, timed.finish, timed.perform, mainThread,
                    mainThread / (timed.prepare + timed.perform + timed.finish));
        RecordProperty(std::string(name) + "_main_thread_ms", std::to_string(mainThread));
    }
}

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/SessionState.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "core/audiofile/AudioFile.h"
#include "core/audiofile/tests/TestTone.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"
#include "core/model/Translate.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/vst3/PluginScanner.h"
#include "core/project_io/DurableFile.h"
#include "core/project_io/ProjectFolder.h"
#include "device/AudioDeviceEngine.h"
#include "device/DeviceSettings.h"
#include "tests/support/JackServer.h"

#include <gtest/gtest.h>

#include <tuple>

#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr const char *unsavedText = "Несохранённые изменения будут потеряны.";

/// One application run against a private home: launched on the null device, driven through
/// the scripted user interface, checked for valid log lines at the end.
class ApplicationTest : public ::testing::Test {
  protected:
    TemporaryHome home{"app"};
    ScriptedUi ui;
    std::unique_ptr<OVApplication> app;

    void SetUp() override {
        home.rememberOutputDevice("Null");
        launch();
    }
    void TearDown() override {
        app.reset();
        EXPECT_TRUE(ui.scriptUsedUp());
        EXPECT_EQ(invalidLogLines(halvoraLogDir()), std::vector<std::string>{});
    }

    void launch() {
        app = std::make_unique<OVApplication>(ui);
        app->didFinishLaunching();
        app->offerRecoveryIfNeeded();
    }
    /// Ends the process the way a crash does: no shutdown sequence runs.
    void crash() { app.reset(); }
    void quitCleanly() {
        ASSERT_TRUE(app->shouldTerminate());
        app->willTerminate();
        app.reset();
    }

    OVMainView &view() { return app->view(); }
    Project &project() { return app->engine().project; }
    fs::path scratch(const std::string &name) const { return home.root() / name; }
    std::vector<std::string> trackNames() {
        std::vector<std::string> names;
        for (const auto &track : project().tracks)
            names.push_back(track->name);
        return names;
    }
    void addTrack(const std::string &name) {
        view().executeEdit(std::make_unique<AddTrackCommand>(TrackType::Audio, name));
    }
    fs::path saveProjectAt(const std::string &name) {
        const fs::path folder = scratch(name);
        ui.saveLocations.push_back(folder.string());
        EXPECT_TRUE(view().saveProjectAs());
        return folder;
    }
};

TEST_F(ApplicationTest, StartsWithTheStartupProjectItsReturnsAndRunningAudio) {
    EXPECT_EQ(trackNames(), (std::vector<std::string>{"MIDI 1", "Аудио 1", "Reverb A", "Delay B"}));
    const uint64_t reverb = project().tracks[2]->id, delay = project().tracks[3]->id;
    for (std::size_t index = 0; index < 2; ++index) {
        EXPECT_EQ(project().tracks[index]->sends[0].returnId, reverb);
        EXPECT_EQ(project().tracks[index]->sends[1].returnId, delay);
    }
    const auto &clips = project().tracks[0]->clips;
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0]->notes.size(), 3u);
    EXPECT_EQ(clips[1]->name, "Loop A");

    ASSERT_TRUE(app->audioRunning());
    AudioDeviceEngine &audio = app->audio();
    EXPECT_EQ(audio.outputDeviceName, "Null");
    EXPECT_EQ(ui.lastStatus(),
              std::to_string(static_cast<int64_t>(audio.sampleRate)) + " Hz Null→Null");
    EXPECT_EQ(project().sampleRate, audio.sampleRate);
    const SessionMeta meta = readSessionMeta();
    EXPECT_FALSE(meta.cleanShutdown);
    EXPECT_EQ(meta.projectName, "Untitled");
    EXPECT_TRUE(ui.alerts.empty());
}

TEST_F(ApplicationTest, AFirstStartCopiesTheResourcesAndLaterStartsKeepTheUsersFiles) {
    const fs::path sourceResources = fs::path(HALVORA_SOURCE_DIR) / "resources";
    const struct {
        fs::path copy;
        const char *resource;
    } files[] = {{betaEnvironmentPath(), "beta.env.example"},
                 {vst::defaultVstWhitelistPath(), "vst_whitelist.txt"}};
    for (const auto &file : files) {
        ASSERT_TRUE(fs::exists(file.copy)) << file.copy;
        EXPECT_EQ(readTextFile(file.copy), readTextFile(sourceResources / file.resource))
            << file.copy;
        writeTextFile(file.copy, "# the user's own\n");
    }
    app.reset();
    launch();
    for (const auto &file : files)
        EXPECT_EQ(readTextFile(file.copy), "# the user's own\n") << file.copy;
}

TEST_F(ApplicationTest, SavingAsksForALocationOnceAndThenSavesInPlace) {
    addTrack("Бас");
    ui.saveLocations.push_back(scratch("song").string());
    ASSERT_TRUE(view().saveProject());
    EXPECT_EQ(ui.offeredSaveNames, std::vector<std::string>{"Новый проект.halvora"});
    EXPECT_EQ(view().projectPath, scratch("song.halvora").string());
    EXPECT_TRUE(fs::exists(scratch("song.halvora") / "project.json"));
    EXPECT_FALSE(view().projectDirty);
    EXPECT_EQ(ui.lastStatus(), "Проект сохранён");

    addTrack("Гитара");
    ASSERT_TRUE(view().saveProject()); // no chooser scripted: asking again would fail
    const auto reloaded = project_io::loadProject(scratch("song.halvora").string());
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(reloaded->tracks.size(), 6u);

    const fs::path copy = saveProjectAt("copy.halvora");
    EXPECT_EQ(view().projectPath, copy.string());
    EXPECT_TRUE(fs::exists(copy / "project.json"));

    ui.saveLocations.push_back(std::nullopt);
    EXPECT_FALSE(view().saveProjectAs());
    EXPECT_EQ(view().projectPath, copy.string());
}

TEST_F(ApplicationTest, CollectingCopiesOutsideMediaIntoTheProject) {
    const fs::path outside = scratch("outside.wav");
    const auto tone = makeTone(440.0, 48000.0, 4800, 2);
    ASSERT_TRUE(exportWav(outside.string(), tone.data(), 4800, 2, 48000.0));
    {
        std::lock_guard lock(app->engine().projectMutex);
        auto clip = project().addClip(project().tracks[1]->id, ClipKind::Audio);
        clip->audioFile = outside.string();
        clip->length = 4800;
    }
    view().markDocumentDirty();
    ui.saveLocations.push_back(scratch("collected.halvora").string());
    ASSERT_TRUE(view().collectAllAndSave());
    EXPECT_EQ(ui.lastStatus(), "Проект сохранён (медиа собраны в папку)");
    const auto reloaded = project_io::loadProject(scratch("collected.halvora").string());
    ASSERT_TRUE(reloaded);
    EXPECT_TRUE(project_io::findMissingMedia(*reloaded).empty());
    fs::remove(outside);
    EXPECT_TRUE(project_io::findMissingMedia(*reloaded).empty());
}

TEST_F(ApplicationTest, OpeningAProjectReplacesTheDocumentAndClearsTheHistory) {
    Project song;
    song.name = "Песня";
    song.sampleRate = app->audio().sampleRate;
    song.addTrack(TrackType::Audio, "Вокал");
    ASSERT_TRUE(project_io::saveProject(song, scratch("song.halvora").string(), false).ok);

    addTrack("Бас");
    ui.alertAnswers.push_back("Не сохранять");
    ui.filesToOpen.push_back({scratch("song.halvora").string()});
    view().openProject();
    EXPECT_EQ(ui.lastStatus(), "Открыт: Песня");
    EXPECT_EQ(trackNames(), (std::vector<std::string>{"Вокал", "Reverb A", "Delay B"}));
    EXPECT_EQ(view().projectPath, scratch("song.halvora").string());
    EXPECT_FALSE(view().projectDirty);
    EXPECT_EQ(view().selectedTrackId, project().tracks[0]->id);
    EXPECT_EQ(app->commands().undoName(), "");

    EXPECT_FALSE(view().loadProjectFromBundle(scratch("nothing here").string()));
    EXPECT_EQ(ui.lastStatus().rfind("Не удалось открыть проект: ", 0), 0u) << ui.lastStatus();
    EXPECT_EQ(trackNames().front(), "Вокал");
}

TEST_F(ApplicationTest, AProjectOfAnotherRateOpensAtTheDeviceRateWithAWarning) {
    const double deviceRate = app->audio().sampleRate;
    const double otherRate = deviceRate == 44100.0 ? 48000.0 : 44100.0;
    Project song;
    song.name = "Other";
    song.sampleRate = otherRate;
    auto track = song.addTrack(TrackType::Audio, "Tone");
    auto clip = song.addClip(track->id, ClipKind::Audio);
    const int frames = static_cast<int>(otherRate);
    clip->audio = std::make_shared<std::vector<float>>(makeTone(441.0, otherRate, frames, 2));
    clip->length = frames;
    ASSERT_TRUE(project_io::saveProject(song, scratch("other.halvora").string(), false).ok);

    ASSERT_TRUE(view().loadProjectFromBundle(scratch("other.halvora").string()));
    const std::string warning = "Проект " + std::to_string(static_cast<int64_t>(otherRate)) +
                                " Hz открыт на частоте устройства " +
                                std::to_string(static_cast<int64_t>(deviceRate)) +
                                " Hz (позиции не пересчитаны)";
    EXPECT_EQ(ui.lastStatus(), warning);
    EXPECT_TRUE(ui.showedStatus("Открыт: Other"));
    EXPECT_EQ(project().sampleRate, deviceRate);
    EXPECT_EQ(app->engine().sampleRate.load(), deviceRate);
    const auto &media = project().tracks[0]->clips[0];
    EXPECT_EQ(media->length, frames); // positions are kept as stored
    EXPECT_NEAR(static_cast<double>(media->audioFrameCount()), deviceRate, deviceRate * 0.01);
    const std::vector<float> converted = media->audio->toVector();
    EXPECT_NEAR(measureFrequency(converted, 0, deviceRate), 441.0, 2.0);
}

/// Which operation replaces the document, and how the user answers the unsaved-changes alert.
struct DirtyCheckCase {
    const char *operation;
    const char *answer;
    bool proceeds;
    bool saves;
};

class DirtyCheckTest : public ApplicationTest,
                       public ::testing::WithParamInterface<DirtyCheckCase> {};

TEST_P(DirtyCheckTest, AsksBeforeUnsavedChangesAreLost) {
    const DirtyCheckCase &check = GetParam();
    const std::string operation = check.operation;
    Project other;
    other.name = "Other";
    other.sampleRate = project().sampleRate;
    ASSERT_TRUE(project_io::saveProject(other, scratch("other.halvora").string(), false).ok);

    addTrack("Несохранённая");
    ui.alertAnswers.push_back(check.answer);
    if (check.saves) ui.saveLocations.push_back(scratch("kept.halvora").string());
    if (operation == "open" && check.proceeds)
        ui.filesToOpen.push_back({scratch("other.halvora").string()});

    bool proceeded = false;
    if (operation == "new") {
        view().newProject();
        proceeded = ui.lastStatus() == "Новый проект";
    } else if (operation == "open") {
        view().openProject();
        proceeded = ui.lastStatus() == "Открыт: Other";
    } else {
        proceeded = app->shouldTerminate();
    }
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].text, unsavedText);
    EXPECT_EQ(ui.alerts[0].buttons.front(), "Сохранить");
    EXPECT_EQ(ui.alerts[0].buttons.back(), "Отмена");
    EXPECT_EQ(proceeded, check.proceeds);
    EXPECT_EQ(fs::exists(scratch("kept.halvora") / "project.json"), check.saves);
    if (!check.proceeds) {
        EXPECT_EQ(trackNames().back(), "Несохранённая");
    }
    if (check.saves) {
        const auto kept = project_io::loadProject(scratch("kept.halvora").string());
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->tracks.back()->name, "Несохранённая");
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, DirtyCheckTest,
                         ::testing::Values(DirtyCheckCase{"new", "Сохранить", true, true},
                                           DirtyCheckCase{"new", "Создать", true, false},
                                           DirtyCheckCase{"new", "Отмена", false, false},
                                           DirtyCheckCase{"open", "Сохранить", true, true},
                                           DirtyCheckCase{"open", "Не сохранять", true, false},
                                           DirtyCheckCase{"open", "Отмена", false, false},
                                           DirtyCheckCase{"quit", "Сохранить", true, true},
                                           DirtyCheckCase{"quit", "Не сохранять", true, false},
                                           DirtyCheckCase{"quit", "Отмена", false, false}));

TEST_F(ApplicationTest, ACleanDocumentIsReplacedWithoutAsking) {
    view().newProject();
    EXPECT_EQ(ui.lastStatus(), "Новый проект");
    EXPECT_TRUE(app->shouldTerminate());
    EXPECT_TRUE(ui.alerts.empty());
}

TEST_F(ApplicationTest, NewProjectHasAutomationAndATempoChangeAtBarFive) {
    saveProjectAt("before.halvora");
    view().newProject();
    EXPECT_EQ(view().projectPath, "");
    EXPECT_EQ(view().timelinePpb, 36.0);
    EXPECT_EQ(trackNames(), (std::vector<std::string>{"MIDI 1", "Аудио 1", "Reverb A", "Delay B"}));
    const int64_t bar = 4 * app->engine().beatsToSamples(1.0);
    const auto &midi = *project().tracks[0];
    ASSERT_EQ(midi.volumeAutomation.size(), 3u);
    EXPECT_EQ(midi.volumeAutomation[1], (AutomationPoint{2 * bar, 0.85f}));
    EXPECT_EQ(midi.panAutomation[2], (AutomationPoint{4 * bar, 0.35f}));
    ASSERT_EQ(project().tempoMarkers.size(), 1u);
    EXPECT_EQ(project().tempoMarkers[0], (TempoMarker{4 * bar, 140.0}));
    EXPECT_EQ(midi.clips.size(), 1u);
}

TEST_F(ApplicationTest, RecoveryIsOfferedAfterACrashThatFollowedAnAutosave) {
    addTrack("Спасти");
    app->onAutosave();
    ASSERT_TRUE(recoverySnapshotExists());
    EXPECT_TRUE(view().projectDirty); // an autosave never marks the document saved
    crash();

    ui.alertAnswers.push_back("Восстановить");
    launch();
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].title, "Восстановить проект?");
    EXPECT_EQ(ui.alerts[0].text, "Обнаружено аварийное завершение. Восстановить «Untitled»?");
    EXPECT_EQ(ui.alerts[0].buttons, (std::vector<std::string>{"Восстановить", "Начать заново"}));
    EXPECT_EQ(ui.lastStatus(), "Восстановлено: Untitled");
    EXPECT_EQ(trackNames().back(), "Спасти");
    EXPECT_EQ(view().projectPath, "");
    EXPECT_TRUE(view().projectDirty);
}

TEST_F(ApplicationTest, ARecoveryCopyThatDoesNotOpenIsKeptAndSaidSo) {
    addTrack("Спасти");
    app->onAutosave();
    crash();
    const fs::path document = autosaveBundlePath() / "project.json";
    writeTextFile(document, "{\"tracks\":[");
    ui.alertAnswers.push_back("Восстановить");
    launch();
    ASSERT_GE(ui.statuses.size(), 2u);
    EXPECT_EQ(ui.statuses[ui.statuses.size() - 2].rfind(
                  "Не удалось открыть проект: \"" + document.string() + "\" does not parse: ", 0),
              0u)
        << ui.statuses[ui.statuses.size() - 2];
    EXPECT_EQ(ui.lastStatus().rfind("Копия восстановления не открылась; она сохранена: ", 0), 0u)
        << ui.lastStatus();
    addTrack("Новая");
    app->onAutosave(); // the next autosave does not write over the copy
    ui.alertAnswers.push_back("Не сохранять");
    quitCleanly();
    int keptCopies = 0;
    for (const auto &entry : fs::directory_iterator(autosaveBundlePath().parent_path()))
        if (readTextFile(entry.path() / "project.json") == "{\"tracks\":[") ++keptCopies;
    EXPECT_EQ(keptCopies, 1);
}

TEST_F(ApplicationTest, OpeningSaysWhichMediaCannotBeReadAndWhyADocumentDoesNot) {
    const fs::path tone = scratch("tone.wav");
    ASSERT_TRUE(writeWithSndfile(tone.string(), makeTone(440.0, 48000.0, 4800, 2), 2, 48000,
                                 SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    std::string error;
    ASSERT_TRUE(view().importAudioFileAtPath(tone.string(), error)) << error;
    const fs::path folder = saveProjectAt("Media.halvora");
    std::vector<fs::path> media;
    for (const auto &entry : fs::directory_iterator(folder / "media"))
        media.push_back(entry.path());
    ASSERT_FALSE(media.empty());
    fs::resize_file(media.front(), 10);
    ASSERT_TRUE(view().loadProjectFromBundle(folder.string()));
    EXPECT_TRUE(ui.showedStatus("Открыт: Untitled"));
    EXPECT_EQ(
        ui.lastStatus().rfind("Не удалось прочитать 1 аудиофайл(ов), они звучат как тишина:\n" +
                                  media.front().filename().string() + ": ",
                              0),
        0u)
        << ui.lastStatus();

    writeTextFile(folder / "project.json", "garbage");
    EXPECT_FALSE(view().loadProjectFromBundle(folder.string()));
    EXPECT_NE(ui.lastStatus().find("project.json\" does not parse"), std::string::npos)
        << ui.lastStatus();
    EXPECT_EQ(trackNames().front(), "MIDI 1") << "the open document stays";
}

TEST_F(ApplicationTest, DecliningRecoveryKeepsTheStartupProject) {
    addTrack("Спасти");
    app->onAutosave();
    crash();
    ui.alertAnswers.push_back("Начать заново");
    launch();
    EXPECT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(trackNames().back(), "Delay B");
    EXPECT_FALSE(view().projectDirty);
}

TEST_F(ApplicationTest, NoRecoveryAfterACleanQuit) {
    addTrack("Сохранить?");
    app->onAutosave();
    ui.alertAnswers.push_back("Не сохранять");
    quitCleanly();
    EXPECT_FALSE(recoverySnapshotExists());
    EXPECT_TRUE(readSessionMeta().cleanShutdown);
    launch();
    EXPECT_EQ(ui.alerts.size(), 1u); // the unsaved-changes question only
}

TEST_F(ApplicationTest, NoRecoveryForAnAutosaveOlderThanTheCrashedSession) {
    addTrack("Старое");
    app->onAutosave();
    crash();
    ui.alertAnswers.push_back("Начать заново");
    launch();
    ASSERT_EQ(ui.alerts.size(), 1u);
    // This session writes no autosave of its own: the one on disk predates its start.
    const fs::path document = autosaveBundlePath() / "project.json";
    fs::last_write_time(document, fs::last_write_time(document) - std::chrono::minutes(10));
    crash();
    launch();
    EXPECT_EQ(ui.alerts.size(), 1u);
}

TEST_F(ApplicationTest, ASuccessfulSaveRemovesTheAutosave) {
    addTrack("Сохранено");
    app->onAutosave();
    ASSERT_TRUE(recoverySnapshotExists());
    saveProjectAt("saved.halvora");
    EXPECT_FALSE(recoverySnapshotExists());
    crash();
    launch();
    EXPECT_TRUE(ui.alerts.empty());
}

TEST_F(ApplicationTest, AutosaveWritesOnlyDirtyProjectsAndReportsFailure) {
    app->onAutosave();
    EXPECT_FALSE(recoverySnapshotExists());
    addTrack("Грязно");
    // A file where the autosave folder belongs makes the copy impossible.
    std::ofstream(halvoraSupportDir() / "Autosave") << "in the way";
    app->onAutosave();
    EXPECT_EQ(ui.lastStatus().rfind("Автосохранение не удалось: ", 0), 0u) << ui.lastStatus();
    EXPECT_NE(betaSessionLogTail(4096).find("\"lvl\":\"error\",\"cat\":\"autosave\""),
              std::string::npos);
}

TEST_F(ApplicationTest, AFailedSaveShowsTheErrorAndKeepsTheDocumentDirty) {
    addTrack("Грязно");
    std::ofstream(scratch("file")) << "not a folder";
    ui.saveLocations.push_back((scratch("file") / "song.halvora").string());
    EXPECT_FALSE(view().saveProject());
    EXPECT_EQ(ui.lastStatus().rfind("Ошибка: ", 0), 0u) << ui.lastStatus();
    EXPECT_TRUE(view().projectDirty);
    EXPECT_EQ(view().projectPath, "");
}

// The cycle is part of the song a user comes back to: saved with it, back on opening, and a
// song saved without one does not inherit the last song's.
TEST_F(ApplicationTest, TheCycleRangeIsSavedWithTheSongAndComesBackWhenItOpens) {
    const int64_t beat = app->engine().beatsToSamples(1.0);
    const auto cycle = [this] {
        const Transport &transport = app->engine().transport;
        return std::tuple(transport.loopStart.load(), transport.loopEnd.load(),
                          transport.loopEnabled.load());
    };
    view().setCycle(beat * 4, beat * 8, true);
    const fs::path withCycle = saveProjectAt("with-cycle.halvora");
    EXPECT_NE(readTextFile(withCycle / "project.json").find("\"cycleEnabled\""), std::string::npos);
    view().setCycle(0, 0, false);
    const fs::path without = saveProjectAt("without-cycle.halvora");

    ASSERT_TRUE(view().loadProjectFromBundle(withCycle.string()));
    EXPECT_EQ(cycle(), std::tuple(beat * 4, beat * 8, true));
    ASSERT_TRUE(view().loadProjectFromBundle(without.string()));
    EXPECT_FALSE(std::get<2>(cycle())) << "the other song's cycle stays with it";
}

TEST_F(ApplicationTest, ASaveWhosePluginFilesCannotBeWrittenSaysSo) {
    const uint64_t midi = project().tracks[0]->id;
    ASSERT_TRUE(app->rack().loadLv2(midi, "http://gareus.org/oss/lv2/fil4#stereo"));
    const fs::path folder = saveProjectAt("files.halvora");
    EXPECT_EQ(ui.lastStatus().find("файлы плагинов"), std::string::npos) << ui.lastStatus();
    fs::remove_all(folder / "plugin-files");
    std::ofstream(folder / "plugin-files") << "in the way";
    EXPECT_TRUE(view().saveProject()) << "the song itself is saved";
    EXPECT_EQ(ui.lastStatus().rfind("Не удалось записать файлы плагинов в “" +
                                        (folder / "plugin-files").string() + "”: ",
                                    0),
              0u)
        << ui.lastStatus();
}

TEST_F(ApplicationTest, MovedMediaAreRelinkedFromTheChosenFolder) {
    Project song;
    song.name = "Media";
    song.sampleRate = app->audio().sampleRate;
    auto track = song.addTrack(TrackType::Audio, "Tone");
    auto clip = song.addClip(track->id, ClipKind::Audio);
    clip->audio = std::make_shared<std::vector<float>>(makeTone(440.0, 48000.0, 4800, 2));
    clip->length = 4800;
    ASSERT_TRUE(project_io::saveProject(song, scratch("media.halvora").string(), false).ok);
    fs::rename(scratch("media.halvora") / "media", scratch("moved"));
    fs::create_directories(scratch("empty"));

    ui.alertAnswers = {"Выбрать папку", "Выбрать папку", "Пропустить"};
    ui.folders = {scratch("empty").string(), scratch("moved").string()};
    ASSERT_TRUE(view().loadProjectFromBundle(scratch("media.halvora").string()));
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].title, "Медиафайлы не найдены");
    EXPECT_EQ(ui.alerts[0].text, "Не удалось загрузить 1 аудиофайл(ов). Укажите папку для "
                                 "поиска или выберите файл вручную.");
    EXPECT_TRUE(ui.showedStatus("Файлы не найдены в выбранной папке"));
    EXPECT_FALSE(view().projectDirty) << "nothing was relinked";

    ASSERT_TRUE(view().loadProjectFromBundle(scratch("media.halvora").string()));
    EXPECT_TRUE(ui.showedStatus("Перепривязано файлов: 1"));
    EXPECT_EQ(ui.lastStatus(), "Открыт: Media");
    EXPECT_TRUE(view().projectDirty) << "the relinked paths are not saved yet";
    ASSERT_TRUE(project().tracks[0]->clips[0]->audio);
    EXPECT_EQ(project().tracks[0]->clips[0]->audioFrameCount(), 4800);

    ASSERT_TRUE(view().loadProjectFromBundle(scratch("media.halvora").string()));
    EXPECT_EQ(ui.alerts.size(), 3u);
}

class ImportTest : public ApplicationTest {
  protected:
    fs::path flac, m4a;
    void SetUp() override {
        ApplicationTest::SetUp();
        const double rate = app->audio().sampleRate;
        flac = scratch("Флейта.FLAC");
        m4a = scratch("drums.m4a");
        ASSERT_TRUE(writeWithSndfile(flac.string(), makeTone(440.0, rate, 24000, 2), 2,
                                     static_cast<int>(rate), SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
        ASSERT_TRUE(
            writeM4a(m4a.string(), makeTone(330.0, rate, 48000, 2), static_cast<int>(rate)));
    }
    std::shared_ptr<Clip> lastClipOf(std::size_t trackIndex) {
        return project().tracks[trackIndex]->clips.back();
    }
};

TEST_F(ImportTest, ImportPutsEachFileOnANewTrackWithShortFades) {
    ui.filesToOpen.push_back({flac.string()});
    view().importAudio();
    EXPECT_EQ(ui.lastStatus(), "Импортирован 1 файл на новую дорожку");
    ASSERT_EQ(trackNames().back(), "Флейта");
    auto clip = lastClipOf(project().tracks.size() - 1);
    EXPECT_EQ(clip->length, 24000);
    EXPECT_EQ(clip->fadeIn, 24000 / 20); // shorter than 0.05 beat (1200 frames at 120 BPM)
    EXPECT_EQ(clip->fadeOut, clip->fadeIn);
    EXPECT_EQ(view().selectedTrackId, project().tracks.back()->id);
    EXPECT_TRUE(view().projectDirty);

    ui.filesToOpen.push_back({flac.string(), m4a.string()});
    view().importAudio();
    EXPECT_EQ(ui.lastStatus(), "Импортировано 2 файла на отдельные дорожки");
    EXPECT_EQ(trackNames().back(), "drums");
    const std::vector<float> decoded = lastClipOf(project().tracks.size() - 1)->audio->toVector();
    EXPECT_NEAR(measureFrequency(decoded, 0, app->audio().sampleRate), 330.0, 2.0);

    ui.filesToOpen.push_back({scratch("notes.txt").string(), scratch("gone.wav").string()});
    view().importAudio();
    EXPECT_EQ(ui.lastStatus().rfind("notes.txt: Неподдерживаемый формат\ngone.wav: ", 0), 0u)
        << ui.lastStatus();
}

TEST_F(ImportTest, SingleFileImportChecksItsTarget) {
    struct Case {
        std::string path;
        uint64_t track;
        const char *error;
    };
    const uint64_t midiTrack = project().tracks[0]->id;
    const std::vector<Case> cases = {
        {"", 0, "Нет пути к файлу"},
        {scratch("a.ogg2").string(), 0, "Неподдерживаемый формат"},
        {flac.string(), 9999, "Дорожка не найдена"},
        {flac.string(), midiTrack, "На MIDI-дорожку нельзя импортировать аудио"}};
    for (const auto &check : cases) {
        std::string error;
        EXPECT_FALSE(view().importAudioFileAtPath(check.path, check.track, 0, false, error));
        EXPECT_EQ(error, check.error) << check.path;
    }
    std::string error;
    app->engine().transport.playhead.store(48000 * 3 + 100);
    ASSERT_TRUE(view().importAudioFileAtPath(flac.string(), error)) << error;
    // At the playhead, snapped to the quarter-note grid.
    EXPECT_EQ(lastClipOf(project().tracks.size() - 1)->arrangeStart, 48000 * 3);
}

TEST_F(ImportTest, DroppedFilesFollowEachOtherOnOneTrack) {
    const uint64_t audioTrack = project().tracks[1]->id;
    view().dropFiles({m4a.string(), scratch("skip.txt").string(), flac.string()}, audioTrack,
                     24000);
    EXPECT_EQ(ui.lastStatus(), "Добавлено 2 файла на дорожку");
    const auto &clips = project().tracks[1]->clips;
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0]->arrangeStart, 24000);
    // After the first clip's end, on the grid (a quarter note is 24000 frames).
    const int64_t firstEnd = clips[0]->arrangeStart + clips[0]->length;
    EXPECT_GE(clips[1]->arrangeStart, firstEnd);
    EXPECT_LT(clips[1]->arrangeStart, firstEnd + 24000);
    EXPECT_EQ(clips[1]->arrangeStart % 24000, 0);

    view().dropFiles({flac.string()}, 0, 0);
    EXPECT_EQ(ui.lastStatus(), "Файл добавлен на дорожку");
    EXPECT_EQ(trackNames().back(), "Флейта");
    view().dropFiles({scratch("x.txt").string()}, 0, 0);
    EXPECT_EQ(ui.lastStatus(), "Не удалось импортировать файл");
}

TEST_F(ApplicationTest, ExportsTheMixdownTheCycleAndOneTrack) {
    const int64_t beat = app->engine().beatsToSamples(1.0);
    ui.saveLocations.push_back(scratch("mix.wav").string());
    view().exportWav();
    EXPECT_EQ(ui.lastStatus().rfind(
                  "WAV экспортирован (" + std::to_string(17 * beat) + " сэмплов) · ", 0),
              0u)
        << ui.lastStatus() << " (the report of what was written follows)";
    EXPECT_NE(ui.lastStatus().find(" LUFS"), std::string::npos) << ui.lastStatus();
    ImportedWav mix;
    ASSERT_TRUE(importWav(scratch("mix.wav").string(), mix));
    EXPECT_EQ(mix.frames, 17 * beat);
    EXPECT_GT(*std::max_element(mix.samples->begin(), mix.samples->end()), 0.01f);

    // The message names the format that was written.
    view().exportFormat.container = ExportContainer::Flac;
    ui.saveLocations.push_back(scratch("mix.flac").string());
    view().exportWav();
    EXPECT_EQ(ui.lastStatus().rfind(
                  "FLAC экспортирован (" + std::to_string(17 * beat) + " сэмплов) · ", 0),
              0u)
        << ui.lastStatus() << " (the report of what was written follows)";
    EXPECT_NE(ui.lastStatus().find(" LUFS"), std::string::npos) << ui.lastStatus();
    view().exportFormat.container = ExportContainer::Wav;

    view().exportLoopWav();
    EXPECT_EQ(ui.lastStatus(), "Включите cycle (C) для экспорта петли");
    view().setCycle(beat * 4, beat * 2, true);
    view().exportLoopWav();
    EXPECT_EQ(ui.lastStatus(), "Некорректный loop range");
    view().setCycle(beat * 4, beat * 8, true);
    ui.saveLocations.push_back(scratch("loop.wav").string());
    view().exportLoopWav();
    EXPECT_EQ(ui.lastStatus().rfind("Loop WAV (" + std::to_string(4 * beat) + " сэмплов) · ", 0),
              0u)
        << ui.lastStatus();

    view().selectedTrackId = 0;
    view().exportSelectedTrackWav();
    EXPECT_EQ(ui.lastStatus(), "Выберите дорожку");
    view().selectedTrackId = project().tracks[1]->id; // the silent audio track
    ui.saveLocations.push_back(scratch("track.wav").string());
    view().exportSelectedTrackWav();
    EXPECT_EQ(ui.lastStatus(),
              "Дорожка экспортирована (" + std::to_string(17 * beat) + " сэмплов) · тишина")
        << "a silent file is reported as such";
    ImportedWav track;
    ASSERT_TRUE(importWav(scratch("track.wav").string(), track));
    EXPECT_EQ(*std::max_element(track.samples->begin(), track.samples->end()), 0.0f);

    ui.saveLocations.push_back((scratch("no such folder") / "x.wav").string());
    view().exportWav();
    // The reason is the user's to act on.
    EXPECT_EQ(ui.lastStatus().rfind(withArguments(translate("OVMainView", "Export failed: %1"),
                                                  {"не удаётся записать \""}),
                                    0),
              0u)
        << ui.lastStatus();
    EXPECT_NE(ui.lastStatus().find("no such folder"), std::string::npos) << ui.lastStatus();
    EXPECT_EQ(ui.offeredSaveNames,
              (std::vector<std::string>{"mixdown.wav", "mixdown.flac", "loop.wav", "Аудио 1.wav",
                                        "mixdown.wav"}));
}

TEST_F(ApplicationTest, NoExportWritesIntoTheOpenProjectFolder) {
    const fs::path folder = saveProjectAt("Open.halvora");
    const std::string document = readTextFile(folder / "project.json");
    ASSERT_FALSE(document.empty());
    const int64_t beat = app->engine().beatsToSamples(1.0);
    view().setCycle(0, beat * 4, true);
    view().selectedTrackId = project().tracks[1]->id;
    const std::vector<std::pair<const char *, void (OVMainView::*)()>> exports = {
        {"export", &OVMainView::exportWav},
        {"export-cycle", &OVMainView::exportLoopWav},
        {"export-track", &OVMainView::exportSelectedTrackWav}};
    for (const auto &[name, exportNow] : exports)
        for (const fs::path &target :
             {folder / "project.json", folder / "media" / "mix.wav", folder / "." / "x.wav"}) {
            ui.saveLocations.push_back(target.string());
            (view().*exportNow)();
            EXPECT_EQ(
                ui.lastStatus().rfind(withArguments(translate("OVMainView", "Export failed: %1"),
                                                    {"не удаётся записать \""}),
                                      0),
                0u)
                << name << ": " << ui.lastStatus();
            EXPECT_NE(ui.lastStatus().find("находится внутри папки проекта"), std::string::npos)
                << name << ": " << ui.lastStatus();
            EXPECT_FALSE(fs::exists(folder / "media" / "mix.wav")) << name;
            EXPECT_FALSE(fs::exists(folder / "x.wav")) << name;
            EXPECT_EQ(readTextFile(folder / "project.json"), document) << name;
        }
}

TEST_F(ApplicationTest, SaveAsNeverReplacesAnotherProjectUnaskedNorFollowsALink) {
    const fs::path other = saveProjectAt("Other.halvora");
    const std::string otherDocument = readTextFile(other / "project.json");
    addTrack("Новая");
    struct Case {
        OVMainView::ExistingProject policy;
        const char *answer; // to the question, when one is asked
        bool replaced;
    };
    using Existing = OVMainView::ExistingProject;
    const std::vector<Case> cases = {{Existing::Refuse, nullptr, false},
                                     {Existing::Ask, "Отмена", false},
                                     {Existing::Ask, "Заменить", true},
                                     {Existing::Replace, nullptr, true}};
    for (const Case &check : cases) {
        // Every round starts from the other project as it was, open elsewhere.
        ASSERT_TRUE(project_io::writeFileDurably(other / "project.json", otherDocument));
        view().projectPath = scratch("Mine.halvora").string();
        view().existingProject = check.policy;
        if (check.answer) ui.alertAnswers.push_back(check.answer);
        ui.saveLocations.push_back(other.string());
        EXPECT_EQ(view().saveProjectAs(), check.replaced) << check.answer;
        EXPECT_EQ(readTextFile(other / "project.json") != otherDocument, check.replaced)
            << check.answer;
        if (check.policy == Existing::Refuse) {
            EXPECT_EQ(ui.lastStatus().rfind("Ошибка: «", 0), 0u) << ui.lastStatus();
        }
    }
    EXPECT_EQ(ui.alerts.size(), 2u);
    EXPECT_EQ(ui.alerts.back().title, "Заменить проект?");

    // A NAME.halvora that is a link is refused whatever the policy; its target stays empty.
    const fs::path elsewhere = scratch("elsewhere");
    fs::create_directories(elsewhere);
    fs::create_symlink(elsewhere, scratch("Linked.halvora"));
    view().existingProject = Existing::Replace;
    ui.saveLocations.push_back(scratch("Linked").string());
    EXPECT_FALSE(view().saveProjectAs());
    EXPECT_NE(ui.lastStatus().find("символическая ссылка"), std::string::npos) << ui.lastStatus();
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(ApplicationTest, UndoAndRedoNameTheStepAndAreAudited) {
    const std::size_t before = ui.statuses.size();
    view().undoEdit();
    view().redoEdit();
    EXPECT_EQ(ui.statuses.size(), before);

    addTrack("Шейкер");
    view().undoEdit();
    EXPECT_EQ(ui.lastStatus(), "Отмена: Добавить дорожку");
    EXPECT_EQ(trackNames().back(), "Delay B");
    view().redoEdit();
    EXPECT_EQ(ui.lastStatus(), "Повтор: Добавить дорожку");
    EXPECT_EQ(trackNames().back(), "Шейкер");
    const std::string log = betaSessionLogTail(1 << 16);
    for (const char *record : {"\"cat\":\"command\",\"msg\":\"execute: Add Track\"",
                               "\"cat\":\"command\",\"msg\":\"undo: Add Track\"",
                               "\"cat\":\"status\",\"msg\":\"Повтор: Добавить дорожку\""})
        EXPECT_NE(log.find(record), std::string::npos) << record;
}

TEST_F(ApplicationTest, TheTickLogsEngineNotifications) {
    struct Case {
        Notification notification;
        const char *category;
        const char *message;
    };
    const std::vector<Case> cases = {
        {{NotificationKind::transport, 0, 1.0f}, "transport", "play"},
        {{NotificationKind::transport, 0, 0.0f}, "transport", "stop"},
        {{NotificationKind::transport, 0, 120.7f}, "transport", "tempo 120 bpm"},
        {{NotificationKind::deviceUnderrun, 0, 1.0f}, "audio", "xrun"},
        {{NotificationKind::sessionClipLaunched, 7, 0.0f}, "session", "clip launched id=7"},
        {{NotificationKind::sceneLaunched, 3, 0.0f}, "session", "scene launched id=3"},
        {{NotificationKind::sessionClipEnded, 9, 0.0f}, "session", "clip finished id=9"},
    };
    for (const auto &check : cases) {
        std::string category;
        EXPECT_EQ(describeNotification(check.notification, category), check.message);
        EXPECT_EQ(category, check.category);
    }
    app->onTick(); // drains whatever the device posted; must not disturb the document
    EXPECT_EQ(trackNames().size(), 4u);
}

TEST_F(ApplicationTest, AudioSettingsAreCheckedAppliedAndRemembered) {
    struct Case {
        AudioSettingsChoice choice;
        const char *status;
    };
    const std::vector<Case> refused = {
        {{"Null", "", 256, 0.0, 0.0}, "Выберите устройства ввода и вывода"},
        {{"Null", "Null", 0, 0.0, 0.0}, "Выберите устройства ввода и вывода"},
        {{"Gone", "Null", 256, 0.0, 0.0}, "Ошибка аудио: нет устройства «Gone»"},
    };
    for (const auto &check : refused) {
        EXPECT_FALSE(app->applyAudioSettings(check.choice));
        EXPECT_EQ(ui.lastStatus(), check.status);
    }
    app->engine().transport.recording.store(true);
    EXPECT_FALSE(app->applyAudioSettings({"Null", "Null", 256, 0.0, 0.0}));
    EXPECT_EQ(ui.lastStatus(), "Остановите запись перед сменой устройств");
    app->engine().transport.recording.store(false);

    ASSERT_TRUE(app->applyAudioSettings({"Null", "Null", 256, 5.0, 2.5}));
    const double rate = app->audio().sampleRate;
    EXPECT_EQ(ui.lastStatus(), "Аудио: Null → Null · 256 сэмплов · " +
                                   std::to_string(static_cast<int64_t>(rate)) + " Hz");
    EXPECT_TRUE(app->audioRunning());
    EXPECT_EQ(project().inputLatencyOffsetSamples, static_cast<int32_t>(std::lround(rate * 0.005)));
    EXPECT_EQ(project().outputLatencyOffsetSamples,
              static_cast<int32_t>(std::lround(rate * 0.0025)));
    EXPECT_TRUE(view().projectDirty);
    const DeviceSettings stored = loadDeviceSettings(deviceSettingsPath());
    EXPECT_EQ(stored.outputDevice, "Null");
    EXPECT_EQ(stored.bufferSize, 256);
}

TEST_F(ApplicationTest, StoredDevicesThatVanishedAreForgotten) {
    DeviceSettings settings;
    settings.outputDevice = "Unplugged card";
    settings.inputDevice = "Unplugged mic";
    settings.bufferSize = 128;
    std::string error;
    ASSERT_TRUE(saveDeviceSettings(deviceSettingsPath(), settings, error));
    app.reset();
    launch();
    EXPECT_TRUE(app->audioRunning());
    const DeviceSettings stored = loadDeviceSettings(deviceSettingsPath());
    EXPECT_EQ(stored.outputDevice, "");
    EXPECT_EQ(stored.inputDevice, "");
    EXPECT_EQ(stored.bufferSize, 128);
}

TEST_F(ApplicationTest, PrivacyChoicesAreSavedAndAnnounced) {
    app->applyPrivacyPreferences({true, true});
    EXPECT_EQ(ui.lastStatus(), "Телеметрия включена (offline-first)");
    EXPECT_TRUE(readPrivacyPreferences().telemetry);
    std::ifstream queue(telemetryQueuePath());
    std::string line;
    ASSERT_TRUE(std::getline(queue, line));
    EXPECT_NE(line.find("\"e\":\"privacy_updated\",\"p\":\"telemetry=on\""), std::string::npos);
    app->applyPrivacyPreferences({false, true});
    EXPECT_EQ(ui.lastStatus(), "Телеметрия выкл");
    EXPECT_FALSE(readPrivacyPreferences().telemetry);
}

TEST_F(ApplicationTest, TheDevicesOwnLinesReachTheSessionLogAndItsMemoryIsLocked) {
    const std::string log = readTextFile(betaSessionLogPath());
    EXPECT_NE(log.find("\"audio\""), std::string::npos) << log;
    EXPECT_NE(log.find("audio started sr="), std::string::npos) << log;
    rlimit limit{};
    const bool allowed = ::getrlimit(RLIMIT_MEMLOCK, &limit) == 0 &&
                         (limit.rlim_cur == RLIM_INFINITY || ::geteuid() == 0);
    const bool locked =
        readTextFile("/proc/self/status").find("VmLck:\t       0 kB") == std::string::npos;
    // Locked where the limit allows it, and said so in the log whenever it is not (a
    // sanitizer's reserved shadow memory cannot be locked even by root).
    const bool saidNotLocked = log.find("memory not locked") != std::string::npos;
    EXPECT_TRUE(locked || saidNotLocked) << log;
    if (allowed && !saidNotLocked) {
        EXPECT_TRUE(locked) << readTextFile("/proc/self/status");
    }
}

TEST_F(ApplicationTest, LaunchAndQuitAreLogged) {
    ui.alertAnswers.push_back("Не сохранять");
    addTrack("x");
    quitCleanly();
    const std::string log = betaSessionLogTail(1 << 16);
    EXPECT_NE(log.find("\"cat\":\"app\",\"msg\":\"launch Halvora 1.0.0\""), std::string::npos);
    EXPECT_NE(log.find("\"cat\":\"app\",\"msg\":\"terminate\""), std::string::npos);
    std::ifstream crumbs(breadcrumbLogPath());
    std::string all((std::istreambuf_iterator<char>(crumbs)), {});
    EXPECT_NE(all.find("\nlaunch\n"), std::string::npos);
    EXPECT_NE(all.find("\nterminate\n"), std::string::npos);
}

} // namespace

namespace {

bool waitForLoss(const AudioDeviceEngine &device) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!device.deviceWasLost() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return device.deviceWasLost();
}

} // namespace

// A server that goes away leaves the program running with its project; the window asks once
// whether to reconnect, and reconnecting (now, or later from the Studio menu) plays again.
TEST(AudioDeviceLoss, IsOfferedAReconnectionThatPlaysAgain) {
    TemporaryHome home{"reconnect"};
    home.rememberOutputDevice("JACK");
    ScriptedUi ui;
    JackServer first;
    ASSERT_TRUE(first.ready()) << first.failure();
    OVApplication app(ui);
    app.didFinishLaunching();
    ASSERT_TRUE(app.audio().outputRunning.load()) << app.audio().lastError;
    ASSERT_EQ(app.audio().outputDeviceName, "JACK");
    const std::size_t tracks = app.engine().project.tracks.size();

    first.kill();
    ASSERT_TRUE(waitForLoss(app.audio()));
    ui.alertAnswers.push_back("Позже");
    app.onTick();
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].title, "Аудиоустройство пропало");
    EXPECT_EQ(ui.alerts[0].buttons, (std::vector<std::string>{"Переподключить", "Позже"}));
    EXPECT_NE(ui.alerts[0].text.find("Переподключить сейчас?"), std::string::npos);
    app.onTick();
    EXPECT_EQ(ui.alerts.size(), 1u) << "one loss, one question";

    JackServer second;
    ASSERT_TRUE(second.ready()) << second.failure();
    ASSERT_TRUE(app.reconnectAudio()) << app.audio().lastError;
    EXPECT_TRUE(app.audio().outputRunning.load());
    EXPECT_FALSE(app.audio().deviceWasLost());

    second.kill();
    ASSERT_TRUE(waitForLoss(app.audio()));
    JackServer third;
    ASSERT_TRUE(third.ready()) << third.failure();
    ui.alertAnswers.push_back("Переподключить");
    app.onTick();
    EXPECT_EQ(ui.alerts.size(), 2u);
    EXPECT_TRUE(app.audio().outputRunning.load()) << app.audio().lastError;
    EXPECT_FALSE(app.audio().deviceWasLost());
    EXPECT_EQ(app.engine().project.tracks.size(), tracks);
    EXPECT_TRUE(ui.scriptUsedUp());
}

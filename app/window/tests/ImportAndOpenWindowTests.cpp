// Getting material and songs in: Import Audio takes every format the program reads (its own
// FLAC and Ogg exports included) and says in a sentence why a file did not come in; a project
// named on the command line, as a file manager names it, opens in the window.
#include "app/shell/OVMainView.h"
#include "app/window/LongJobRunner.h"
#include "app/window/MainWindow.h"
#include "app/window/QtApplicationUi.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/audiofile/AudioExport.h"
#include "core/engine/Engine.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

#ifndef HALVORA_WINDOW_SHARE_DIR
#define HALVORA_WINDOW_SHARE_DIR "share"
#endif

using namespace orvane;
using namespace orvane::testing;

namespace {

namespace fs = std::filesystem;

class ImportAndOpenTest : public WindowTest {
  protected:
    ImportAndOpenTest() : WindowTest("import-open") {}

    void key(Qt::Key which, Qt::KeyboardModifiers modifiers = {}) {
        if (!window.isActiveWindow()) {
            window.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        }
        QTest::keyClick(&window, which, modifiers);
        QApplication::processEvents();
    }
    void waitForImports() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !timeline.importing(); }, 20000));
        QApplication::processEvents();
    }
    void waitForDocumentJobs() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.documentJobRunner().busy(); }, 20000));
        QApplication::processEvents();
    }
    std::vector<std::string> trackNames() {
        std::lock_guard lock(engine.projectMutex);
        std::vector<std::string> names;
        for (const auto &track : engine.project.tracks)
            names.push_back(track->name);
        return names;
    }
    /// Half a second of a 440 Hz tone written as the export writes `container`.
    fs::path writeTone(const std::string &name, ExportContainer container) {
        const fs::path path = harness.scratch(name);
        writeToneFile(path, 440.0, 0.5, 24000, container);
        return path;
    }
};

std::string readWhole(const fs::path &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Ctrl+I offers FLAC and Ogg beside WAV, and both come in on tracks of their own; a file that
// is not audio is named with the reason in words, and nothing is added for it.
TEST_F(ImportAndOpenTest, ImportAudioTakesFlacAndOggAndSaysWhyAFileDidNotComeIn) {
    const fs::path flac = writeTone("flute.flac", ExportContainer::Flac);
    const fs::path ogg = writeTone("strings.ogg", ExportContainer::Ogg);
    const std::size_t before = trackNames().size();
    harness.ui.filesToOpen.push_back({flac.string(), ogg.string()});
    key(Qt::Key_I, Qt::ControlModifier);
    waitForImports();
    const auto &offered = harness.ui.offeredTypes;
    for (const char *type : {"wav", "flac", "ogg", "mp3", "m4a"})
        EXPECT_NE(std::find(offered.begin(), offered.end(), type), offered.end())
            << type << " is not offered";
    EXPECT_EQ(harness.ui.lastStatus(), "Импортировано 2 файла на отдельные дорожки");
    auto names = trackNames();
    ASSERT_EQ(names.size(), before + 2);
    EXPECT_NE(std::find(names.begin(), names.end(), "flute"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "strings"), names.end());
    {
        std::lock_guard lock(engine.projectMutex);
        const auto &clips = engine.project.tracks.back()->clips;
        ASSERT_EQ(clips.size(), 1u);
        EXPECT_NEAR(static_cast<double>(clips[0]->length), 24000.0, 1200.0);
    }
    saveScreenshot(window, "import-flac-and-ogg");

    // Random bytes under an Ogg name: the status says which file and why, in words.
    const fs::path junk = harness.scratch("junk.ogg");
    {
        std::ofstream out(junk, std::ios::binary);
        for (int i = 0; i < 4000; ++i)
            out.put(static_cast<char>((i * 7919) & 0xff));
    }
    harness.ui.filesToOpen.push_back({junk.string()});
    key(Qt::Key_I, Qt::ControlModifier);
    waitForImports();
    EXPECT_EQ(harness.ui.lastStatus(), "junk.ogg: файл не распознан как звук или повреждён");
    EXPECT_EQ(harness.ui.lastStatus().find("sf_"), std::string::npos) << "a library's words";
    EXPECT_EQ(trackNames().size(), before + 2);
    window.tick();
    EXPECT_EQ(window.statusText().toStdString(), harness.ui.lastStatus())
        << "the reason shows on the status line";
}

// An empty audio track the user selected takes the imported file at the playhead, on the
// grid, rather than a new track at the start.
TEST_F(ImportAndOpenTest, ImportAudioFillsTheSelectedEmptyAudioTrackAtThePlayhead) {
    const fs::path flac = writeTone("flute.flac", ExportContainer::Flac);
    timeline.setFocus();
    key(Qt::Key_T, Qt::ControlModifier);
    const uint64_t empty = harness.application().view().selectedTrackId;
    std::string emptyName;
    {
        std::lock_guard lock(engine.projectMutex);
        const auto track = engine.project.findTrack(empty);
        ASSERT_TRUE(track && track->type == TrackType::Audio && track->clips.empty());
        emptyName = track->name;
    }
    // The playhead to bar 3 by a click in the ruler.
    const double bar3 = timeline.timelineGeometry().xForBeats(8.0);
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, QPoint(static_cast<int>(bar3) + 2, 6));
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.transport.playhead.load() > 0; }, 5000));
    const int64_t playhead = engine.transport.playhead.load();
    const std::size_t before = trackNames().size();
    harness.ui.filesToOpen.push_back({flac.string()});
    key(Qt::Key_I, Qt::ControlModifier);
    waitForImports();
    EXPECT_EQ(trackNames().size(), before) << "no new track";
    EXPECT_EQ(harness.ui.lastStatus(),
              "Импортирован 1 файл на выбранную дорожку «" + emptyName + "»");
    {
        std::lock_guard lock(engine.projectMutex);
        const auto &clips = engine.project.findTrack(empty)->clips;
        ASSERT_EQ(clips.size(), 1u);
        EXPECT_EQ(clips[0]->arrangeStart, playhead);
    }
    // Now that it holds a clip, the next file goes onto a track of its own.
    harness.ui.filesToOpen.push_back({flac.string()});
    key(Qt::Key_I, Qt::ControlModifier);
    waitForImports();
    EXPECT_EQ(trackNames().size(), before + 1);
}

// The file dialog the window opens for Import Audio, with the types it asks for: the paths of
// a FLAC and an Ogg file typed into its name field come back to be imported.
TEST_F(ImportAndOpenTest, TheImportDialogTakesTypedPathsOfFlacAndOggFiles) {
    const fs::path flac = writeTone("mix.flac", ExportContainer::Flac);
    const fs::path ogg = writeTone("mix.ogg", ExportContainer::Ogg);
    harness.ui.filesToOpen.push_back({});
    key(Qt::Key_I, Qt::ControlModifier); // what the window asks for, answered with nothing
    const std::vector<std::string> types = harness.ui.offeredTypes;
    ASSERT_FALSE(types.empty());
    QtApplicationUi dialogs;
    dialogs.parent = &window;
    for (const fs::path &typed : {flac, ogg}) {
        SCOPED_TRACE(typed.string());
        QString filter;
        whenDialogShows([&](QWidget &dialog) {
            auto *chooser = qobject_cast<QFileDialog *>(&dialog);
            // A dialog left open would wait for a hand that never comes.
            QTimer::singleShot(3000, &dialog, [&dialog] {
                if (!dialog.isVisible()) return;
                auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                ADD_FAILURE()
                    << "the dialog did not take the typed path: "
                    << (edit ? edit->text().toStdString() : std::string("?")) << " | "
                    << static_cast<QFileDialog &>(dialog).directory().absolutePath().toStdString();
                static_cast<QDialog &>(dialog).reject();
            });
            ASSERT_NE(chooser, nullptr);
            filter = chooser->selectedNameFilter();
            auto *name = chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            // The dialog fills its name field as it settles; a hand types after that.
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
            QTest::qWait(400);
            name->setFocus();
            QTest::keyClicks(name, QString::fromStdString(typed.string()));
            QTest::keyClick(name, Qt::Key_Return);
        });
        const auto chosen = dialogs.chooseFilesToOpen("Import", types, true);
        EXPECT_EQ(chosen, std::vector<std::string>{typed.string()});
        EXPECT_TRUE(filter.contains(QStringLiteral("*.") +
                                    QString::fromStdString(typed.extension().string().substr(1))))
            << filter.toStdString();
    }
}

// The program started with a project folder opens it in the window; a path that is no
// project folder leaves the song as it was and says so.
TEST_F(ImportAndOpenTest, TheProjectNamedOnTheCommandLineOpensInTheWindow) {
    const fs::path folder = harness.scratch("night drive.halvora");
    harness.ui.saveLocations.push_back(folder.string());
    key(Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    waitForDocumentJobs();
    ASSERT_TRUE(fs::exists(folder / "project.json")) << harness.ui.lastStatus();
    const auto saved = trackNames();
    harness.ui.alertAnswers.push_back("Не сохранять");
    key(Qt::Key_N, Qt::ControlModifier);
    timeline.setFocus();
    key(Qt::Key_T, Qt::ControlModifier); // one more track: the new song differs
    ASSERT_NE(trackNames(), saved);
    harness.ui.alertAnswers.push_back("Не сохранять");

    EXPECT_TRUE(window.openFromCommandLine({folder.string()}, false));
    waitForDocumentJobs();
    EXPECT_EQ(trackNames(), saved);
    EXPECT_EQ(view.projectPath, folder.string());
    window.tick();
    EXPECT_TRUE(window.windowTitle().startsWith(QStringLiteral("night drive")))
        << window.windowTitle().toStdString();
    saveScreenshot(window, "opened-from-command-line");

    EXPECT_FALSE(window.openFromCommandLine({}, false)) << "no argument opens nothing";
    const fs::path notAProject = harness.scratch("notes.txt");
    std::ofstream(notAProject) << "la la";
    EXPECT_TRUE(window.openFromCommandLine({notAProject.string()}, false));
    waitForDocumentJobs();
    EXPECT_EQ(trackNames(), saved);
    EXPECT_EQ(harness.ui.lastStatus(),
              "«" + notAProject.string() + "» — не папка проекта: ничего не открыто");
}

// The desktop entry hands the program the chosen folder and declares the project type, and
// the type's definition maps folders named "*.halvora" to it.
TEST(DesktopIntegration, TheDesktopEntryTakesAProjectAndItsTypeMatchesProjectFolders) {
    const fs::path share = HALVORA_WINDOW_SHARE_DIR;
    const std::string entry = readWhole(share / "halvora.desktop");
    EXPECT_NE(entry.find("\nExec=Halvora %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nMimeType=application/x-halvora-project;\n"), std::string::npos);

    const fs::path database =
        fs::temp_directory_path() / ("halvora-mime-" + std::to_string(::getpid()));
    fs::remove_all(database);
    fs::create_directories(database / "packages");
    fs::copy_file(share / "halvora-project.xml", database / "packages" / "halvora-project.xml");
    const std::string command = "update-mime-database '" + database.string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "the type's definition does not compile";
    const std::string globs = readWhole(database / "globs2");
    EXPECT_NE(globs.find("application/x-halvora-project:*.halvora"), std::string::npos) << globs;
    const std::string subclasses = readWhole(database / "subclasses");
    EXPECT_NE(subclasses.find("application/x-halvora-project inode/directory"), std::string::npos)
        << subclasses;
    fs::remove_all(database);
}

} // namespace

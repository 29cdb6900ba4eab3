// The session grid fed by drags: an arrangement clip carried up out of the timeline and over
// the "Session" tab, and audio and MIDI files dropped from the desktop, each into an empty slot
// as one undoable step.
#include "app/window/ClipDragData.h"
#include "app/window/MainWindow.h"
#include "app/window/SessionPanel.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/audiofile/AudioFile.h"
#include "core/engine/Engine.h"
#include "core/midifile/MidiFile.h"

#include <gtest/gtest.h>

#include <QDrag>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <fstream>

using namespace orvane;
using namespace orvane::testing;

namespace {

class SessionDropTest : public WindowTest {
  protected:
    SessionDropTest() : WindowTest("session-drops", Language::English) {}
    void SetUp() override {
        WindowTest::SetUp();
        // The window's tick brings the grid up to the project, as it does on screen.
        window.tick();
    }

    SessionPanel &panel = static_cast<SessionPanel &>(window.sessionPanel());
    QWidget &grid = *panel.gridWidget();

    /// The grid's column of the first track of `type`, -1 when there is none.
    int columnOf(TrackType type) {
        std::lock_guard lock(engine.projectMutex);
        const auto &columns = panel.model().columns;
        for (std::size_t column = 0; column < columns.size(); ++column)
            if (const auto track = engine.project.findTrack(columns[column].trackId);
                track && track->type == type)
                return static_cast<int>(column);
        return -1;
    }
    /// The first row whose cell in `column` is empty; when all are taken, the scene that
    /// "Add Scene" adds below them.
    int emptyRowIn(int column) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            const auto &model = panel.model();
            for (std::size_t row = 0; row < model.rows.size(); ++row)
                if (model.cell(row, static_cast<std::size_t>(column)).clipId == 0)
                    return static_cast<int>(row);
            addScene();
        }
        return -1;
    }
    void addScene() {
        for (QPushButton *button : panel.findChildren<QPushButton *>())
            if (button->text() == QStringLiteral("Add Scene"))
                QTest::mouseClick(button, Qt::LeftButton);
    }
    uint64_t clipIn(int row, int column) const {
        return panel.model()
            .cell(static_cast<std::size_t>(row), static_cast<std::size_t>(column))
            .clipId;
    }
    QPointF cellCentre(int row, int column) const {
        return QRectF(panel.cellRect(row, column)).center();
    }
    std::shared_ptr<Clip> firstArrangementClipOf(uint64_t trackId) {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &clip : engine.project.findTrack(trackId)->clips)
            if (!clip->isSessionClip()) return clip;
        return nullptr;
    }
    QTabBar &pageTabs() {
        for (QTabBar *candidate : window.findChildren<QTabBar *>())
            if (candidate->count() == 3 && candidate->tabText(1) == MainWindow::tr("Session"))
                return *candidate;
        ADD_FAILURE() << "no page tabs";
        return *window.findChild<QTabBar *>();
    }
    /// Drops the local file at `path` on the cell and waits until it is read and placed.
    bool dropFileOnCell(const std::filesystem::path &path, int row, int column) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path.string()))});
        if (!dropOn(grid, cellCentre(row, column), data)) return false;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !panel.importing(); }, 10000));
        return true;
    }
    std::string undoName() { return harness.application().commands().undoName(); }
};

/// A copy of what a drag carries, to be offered again after the drag itself has ended.
std::unique_ptr<QMimeData> copyOf(const QMimeData &data) {
    auto copy = std::make_unique<QMimeData>();
    for (const QString &format : data.formats())
        copy->setData(format, data.data(format));
    return copy;
}

} // namespace

// The start-up song's clips sit in rows of their own: a scene added with the button goes below
// them, and the clips stay where they were.
TEST_F(SessionDropTest, AddSceneGoesBelowTheRowsInUseAndLeavesTheirClipsInPlace) {
    std::vector<std::pair<uint64_t, int32_t>> rowsBefore;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &track : engine.project.tracks)
            for (const auto &clip : track->clips)
                if (clip->isSessionClip()) rowsBefore.emplace_back(clip->id, clip->sessionRow);
    }
    ASSERT_FALSE(rowsBefore.empty()) << "the start-up song has clips on the grid";
    const std::size_t rows = panel.model().rows.size();
    addScene();
    window.tick();
    EXPECT_EQ(panel.model().rows.size(), rows + 1);
    std::lock_guard lock(engine.projectMutex);
    for (const auto &[clipId, row] : rowsBefore)
        EXPECT_EQ(engine.project.findClip(clipId)->sessionRow, row) << clipId;
    EXPECT_EQ(undoName(), "Insert Scene");
}

TEST_F(SessionDropTest, AClipCarriedOutOfTheTimelineOverTheSessionTabIsCopiedIntoTheSlot) {
    const int column = columnOf(TrackType::Midi);
    ASSERT_GE(column, 0);
    const uint64_t trackId = panel.model().columns[static_cast<std::size_t>(column)].trackId;
    const auto clip = firstArrangementClipOf(trackId);
    ASSERT_NE(clip, nullptr) << "the start-up song has an arrangement clip on its MIDI track";
    const int64_t placedAt = clip->arrangeStart;

    // Up past the timeline's top edge the clip's move becomes a real drag carrying it; the test
    // reads what it carries, then lets it go as Escape would.
    std::unique_ptr<QMimeData> carried;
    QTimer::singleShot(100, [&] {
        if (const QDrag *drag = timeline.findChild<QDrag *>()) carried = copyOf(*drag->mimeData());
        QDrag::cancel();
    });
    const QPoint body = timeline.clipRectOf(clip->id).center().toPoint();
    QTest::mousePress(&timeline, Qt::LeftButton, {}, body);
    QTest::mouseMove(&timeline, body - QPoint(0, 6));
    QTest::mouseMove(&timeline, QPoint(body.x(), -12));
    QTest::mouseRelease(&timeline, Qt::LeftButton, {}, QPoint(body.x(), -12));
    ASSERT_NE(carried, nullptr) << "no drag started";
    EXPECT_EQ(draggedArrangementClip(carried.get()), clip->id);
    EXPECT_EQ(clip->arrangeStart, placedAt) << "the arrangement keeps its clip where it was";

    // Held over the "Session" tab, the page turns to the grid after a moment.
    QTabBar &tabs = pageTabs();
    dragOver(tabs, QRectF(tabs.tabRect(MainWindow::SessionTab)).center(), *carried);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window.currentTab() == MainWindow::SessionTab; }, 3000));

    // A slot that holds a clip, the scene column and the empty space refuse it; the empty
    // slot of its track takes it as one step.
    const int row = emptyRowIn(column);
    ASSERT_GE(row, 0);
    for (int taken = 0; taken < static_cast<int>(panel.model().rows.size()); ++taken)
        if (clipIn(taken, column) != 0) {
            EXPECT_FALSE(dragOver(grid, cellCentre(taken, column), *carried)) << taken;
        }
    EXPECT_FALSE(dragOver(grid, QRectF(panel.sceneRect(row)).center(), *carried));
    EXPECT_FALSE(dragOver(grid, QPointF(grid.width() - 2.0, grid.height() - 2.0), *carried));
    ASSERT_TRUE(dropOn(grid, cellCentre(row, column), *carried));
    const uint64_t copyId = clipIn(row, column);
    ASSERT_NE(copyId, 0u);
    {
        std::lock_guard lock(engine.projectMutex);
        const auto copy = engine.project.findClip(copyId);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->trackId, trackId);
        EXPECT_EQ(copy->notes, clip->notes);
        EXPECT_TRUE(copy->loop);
    }
    EXPECT_EQ(undoName(), "Copy to Session");
    saveScreenshot(window, "session-clip-dropped");
    window.undo();
    EXPECT_EQ(clipIn(row, column), 0u) << "one undo step takes the copy away";

    const int audioColumn = columnOf(TrackType::Audio);
    ASSERT_GE(audioColumn, 0);
    const int audioRow = emptyRowIn(audioColumn);
    ASSERT_GE(audioRow, 0);
    // Another track's slot keeps to its own track: refused while hovering, with the reason.
    EXPECT_FALSE(dragOver(grid, cellCentre(audioRow, audioColumn), *carried));
    EXPECT_EQ(harness.ui.lastStatus(), "A session clip stays in its track's column");
    EXPECT_FALSE(dropOn(grid, cellCentre(audioRow, audioColumn), *carried));
    EXPECT_EQ(clipIn(audioRow, audioColumn), 0u);
}

TEST_F(SessionDropTest, AudioAndMidiFilesDroppedOnEmptySlotsAreImportedThereAsOneStepEach) {
    window.showTab(MainWindow::SessionTab);
    // Two new scenes: free slots for each file and for the one refused.
    addScene();
    addScene();
    const int audioColumn = columnOf(TrackType::Audio);
    const int midiColumn = columnOf(TrackType::Midi);
    ASSERT_GE(audioColumn, 0);
    ASSERT_GE(midiColumn, 0);
    const int audioRow = emptyRowIn(audioColumn);
    const int midiRow = emptyRowIn(midiColumn);
    ASSERT_GE(audioRow, 0);
    ASSERT_GE(midiRow, 0);

    // A second of a tone, as a WAV file on the desktop.
    constexpr int frames = 48000;
    std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] =
            0.5f * static_cast<float>(std::sin(2.0 * M_PI * 330.0 * i / 48000.0));
    const auto wav = harness.scratch("loop.wav");
    ASSERT_TRUE(exportWav(wav.string(), samples.data(), frames, 2, 48000.0));
    // A MIDI file of two tracks: their notes meet in one clip.
    midifile::MidiFile song;
    song.tracks = {{"Lead", {{0, 60, 100, 0, 480}, {0, 64, 100, 960, 480}}},
                   {"Bass", {{1, 36, 100, 480, 960}}}};
    const auto mid = harness.scratch("riff.mid");
    std::string error;
    ASSERT_TRUE(midifile::writeMidiFileAt(mid.string(), song, error)) << error;
    // Neither a text file nor a file on a taken slot is taken.
    const auto text = harness.scratch("notes.txt");
    { std::ofstream(text) << "not audio"; }
    QMimeData textData;
    textData.setUrls({QUrl::fromLocalFile(QString::fromStdString(text.string()))});
    EXPECT_FALSE(dragOver(grid, cellCentre(audioRow, audioColumn), textData));

    ASSERT_TRUE(dropFileOnCell(wav, audioRow, audioColumn));
    const uint64_t audioClip = clipIn(audioRow, audioColumn);
    ASSERT_NE(audioClip, 0u) << harness.ui.lastStatus();
    EXPECT_EQ(undoName(), "Import to Slot");
    {
        std::lock_guard lock(engine.projectMutex);
        const auto clip = engine.project.findClip(audioClip);
        EXPECT_EQ(clip->name, "loop");
        EXPECT_EQ(clip->audioFrameCount(), frames);
        EXPECT_TRUE(clip->loop);
        EXPECT_EQ(clip->loopLength, frames);
    }
    EXPECT_FALSE(dragOver(grid, cellCentre(audioRow, audioColumn), textData));

    ASSERT_TRUE(dropFileOnCell(mid, midiRow, midiColumn));
    const uint64_t midiClip = clipIn(midiRow, midiColumn);
    ASSERT_NE(midiClip, 0u) << harness.ui.lastStatus();
    {
        std::lock_guard lock(engine.projectMutex);
        const auto clip = engine.project.findClip(midiClip);
        ASSERT_EQ(clip->notes.size(), 3u);
        EXPECT_EQ(clip->notes[0].pitch, 60);
        EXPECT_EQ(clip->notes[1].pitch, 36);
        EXPECT_EQ(clip->notes[1].start, engine.beatsToSamples(1.0));
        EXPECT_EQ(clip->notes[2].pitch, 64);
    }
    saveScreenshot(window, "session-files-dropped");

    // Audio on a MIDI track's slot is refused while hovering, with the reason, and leaves no
    // step behind.
    const int nextMidiRow = emptyRowIn(midiColumn);
    ASSERT_GE(nextMidiRow, 0);
    EXPECT_FALSE(dropFileOnCell(wav, nextMidiRow, midiColumn));
    EXPECT_EQ(clipIn(nextMidiRow, midiColumn), 0u);
    EXPECT_EQ(harness.ui.lastStatus(), "The slot cannot take this file");
    EXPECT_EQ(undoName(), "Import to Slot");

    window.undo();
    EXPECT_EQ(clipIn(midiRow, midiColumn), 0u);
    window.undo();
    EXPECT_EQ(clipIn(audioRow, audioColumn), 0u);
}

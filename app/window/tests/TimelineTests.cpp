#include "app/shell/OVMainView.h"
#include "app/window/LongJobRunner.h"
#include "app/window/MainWindow.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/audiofile/AudioFile.h"
#include "core/engine/Engine.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include <sys/stat.h>

using namespace orvane;
using namespace orvane::testing;

namespace {

// --- Geometry and musical time without a window -------------------------------------------

TEST(TimeMap, CountsBarsBeatsAndSixteenthsUnderTheMeterMap) {
    Project project;
    project.sampleRate = 48000.0;
    project.tempoBpm = 120.0;                                     // a beat is 24000 samples
    project.meterMarkers.push_back(MeterMarker{8 * 24000, 3, 4}); // bar 3 onwards in 3/4
    const TimeMap time = TimeMap::of(project);
    const struct {
        int64_t samples;
        const char *expected;
    } cases[] = {{0, "1.1.1"},
                 {6000, "1.1.2"},
                 {2 * 24000, "1.3.1"},
                 {4 * 24000, "2.1.1"},
                 {8 * 24000, "3.1.1"},
                 {11 * 24000, "4.1.1"},
                 {13 * 24000 + 12000, "4.3.3"},
                 {-5, "1.1.1"}};
    for (const auto &c : cases)
        EXPECT_EQ(time.barsBeats(c.samples), c.expected) << c.samples;
    EXPECT_DOUBLE_EQ(time.beats(48000), 2.0);
    EXPECT_EQ(time.samples(3.0), 72000);
}

TEST(TimelineGeometry, APressGrabsTheEdgeTheFadeHandleTheGainLineOrTheBody) {
    Clip clip;
    clip.kind = ClipKind::Audio;
    clip.length = 48000;
    clip.fadeIn = 4800; // 48 pixels at 100 frames a pixel
    clip.fadeOut = 0;
    clip.gain = 1.0f;
    const QRectF rect(200, 100, 480, 54);
    const double gainY = TimelineGeometry::gainLineY(rect, 1.0f);
    EXPECT_DOUBLE_EQ(gainY, rect.center().y()) << "unity gain sits at half height";
    const struct {
        QPointF point;
        ClipPart part;
    } cases[] = {{{202, 130}, ClipPart::StartEdge},  {{677, 130}, ClipPart::EndEdge},
                 {{248, 102}, ClipPart::FadeIn},     {{676, 102}, ClipPart::FadeOut},
                 {{440, gainY}, ClipPart::Gain},     {{300, 140}, ClipPart::Body},
                 {{215, gainY + 4}, ClipPart::Gain}, {{660, gainY - 4}, ClipPart::Gain},
                 {{440, gainY + 6}, ClipPart::Body}, {{100, 130}, ClipPart::None}};
    for (const auto &c : cases)
        EXPECT_EQ(TimelineGeometry::partAt(clip, rect, c.point, 100.0), c.part)
            << c.point.x() << "," << c.point.y();
    clip.kind = ClipKind::Midi;
    EXPECT_EQ(TimelineGeometry::partAt(clip, rect, {248, 102}, 100.0), ClipPart::Body)
        << "MIDI clips have no fades";
    EXPECT_NEAR(TimelineGeometry::gainForY(rect, TimelineGeometry::gainLineY(rect, 2.5f)), 2.5f,
                1e-4);
}

// --- The timeline in the window ----------------------------------------------------------

class TimelineTest : public ::testing::Test {
  protected:
    WindowTestHarness harness{"timeline"};
    MainWindow &window = harness.window();
    TimelineView &timeline = window.timeline();
    Engine &engine = harness.application().engine();

    std::shared_ptr<Clip> firstClipOf(const std::string &trackName) {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &track : engine.project.tracks)
            if (track->name == trackName)
                for (const auto &clip : track->clips)
                    if (!clip->isSessionClip()) return clip;
        return nullptr;
    }
    uint64_t trackId(const std::string &name) {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &track : engine.project.tracks)
            if (track->name == name) return track->id;
        return 0;
    }
    void drag(QPointF from, QPointF to) { dragMouse(timeline, from, to); }
    int64_t beats(double count) { return engine.beatsToSamples(count); }
    std::filesystem::path writeTone(const std::string &name, int frames) {
        std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
        for (int i = 0; i < frames; ++i)
            samples[2 * i] = samples[2 * i + 1] = 0.5f *
                                                  std::sin(2.0 * M_PI * 220.0 * i / 48000.0) *
                                                  (1.0f - static_cast<float>(i) / frames);
        const auto path = harness.scratch(name);
        EXPECT_TRUE(exportWav(path.string(), samples.data(), frames, 2, 48000.0));
        return path;
    }
    void dropFile(const std::filesystem::path &path, QPointF at) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path.string()))});
        ASSERT_TRUE(dropOn(timeline, at, data)) << "an audio file is accepted for dropping";
        // Decoding runs on a worker: the drop returns at once and shows that it is busy.
        ASSERT_TRUE(timeline.importing());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !timeline.importing(); }, 10000))
            << "the dropped file was never placed";
    }
};

TEST_F(TimelineTest, ClickingPlayMovesThePlayheadAcrossTheTimeline) {
    const double before = timeline.playheadX();
    const QString positionBefore = window.positionTime->text();
    auto *toolbar = window.findChild<QToolBar *>(QStringLiteral("transport"));
    ASSERT_NE(toolbar, nullptr);
    QWidget *button = toolbar->widgetForAction(window.playAction);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return timeline.playheadX() > before + 2.0; }, 10000))
        << "the playhead did not move";
    EXPECT_TRUE(engine.transport.playing.load());
    window.tick();
    EXPECT_NE(window.positionTime->text(), positionBefore);
    EXPECT_TRUE(window.playAction->isChecked());
    window.stopTransport();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !engine.transport.playing.load(); }, 10000));
}

TEST_F(TimelineTest, DraggingAClipMovesItOnTheGridAndUndoPutsItBack) {
    const auto clip = firstClipOf("MIDI 1");
    ASSERT_NE(clip, nullptr);
    const int64_t start = clip->arrangeStart;
    const QRectF rect = timeline.clipRectOf(clip->id);
    ASSERT_FALSE(rect.isEmpty());
    const double ppb = timeline.timelineGeometry().pixelsPerBeat;
    const QPointF grab = rect.center();
    drag(grab, grab + QPointF(4.0 * ppb + 0.3 * ppb, 0.0)); // a little past 4 beats snaps back
    EXPECT_EQ(clip->arrangeStart, start + beats(4.0));
    EXPECT_EQ(harness.application().commands().undoName(), "Move Clip");
    EXPECT_TRUE(harness.application().view().projectDirty);
    window.action(QStringLiteral("Отменить"))->trigger();
    EXPECT_EQ(clip->arrangeStart, start);
    window.action(QStringLiteral("Повторить"))->trigger();
    EXPECT_EQ(clip->arrangeStart, start + beats(4.0));
}

TEST_F(TimelineTest, DraggingTheEndEdgeTrimsAndAPressWithoutMovingChangesNothing) {
    const auto clip = firstClipOf("MIDI 1");
    ASSERT_NE(clip, nullptr);
    const int64_t length = clip->length;
    const QRectF rect = timeline.clipRectOf(clip->id);
    const double ppb = timeline.timelineGeometry().pixelsPerBeat;
    const QPointF edge(rect.right() - 2.0, rect.center().y());
    drag(edge, edge - QPointF(ppb, 0.0));
    EXPECT_EQ(clip->length, length - beats(1.0));
    EXPECT_EQ(harness.application().commands().undoName(), "Trim Clip");
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, rect.center().toPoint());
    EXPECT_EQ(harness.application().commands().undoName(), "Trim Clip") << "a click is no edit";
    EXPECT_EQ(harness.application().view().selectedClipId, clip->id);
}

TEST_F(TimelineTest, AWavDroppedOnTheAudioTrackIsImportedAtTheDropPositionAndDrawn) {
    const uint64_t audioTrack = trackId("Аудио 1");
    ASSERT_NE(audioTrack, 0u);
    const auto row = timeline.rowOf(audioTrack);
    ASSERT_TRUE(row.has_value());
    const auto path = writeTone("dropped.wav", 96000);
    const double x = timeline.timelineGeometry().xForBeats(8.0);
    dropFile(path, QPointF(x, row->top + row->height / 2));
    const auto clip = firstClipOf("Аудио 1");
    ASSERT_NE(clip, nullptr) << harness.ui.lastStatus();
    EXPECT_EQ(clip->trackId, audioTrack);
    EXPECT_EQ(clip->arrangeStart, beats(8.0));
    EXPECT_EQ(clip->audioFrameCount(), 96000);
    // The waveform arrives from the worker and is drawn.
    timeline.update();
    QApplication::processEvents();
    timeline.peaks().waitUntilIdle();
    window.tick();
    const QRectF rect = timeline.clipRectOf(clip->id);
    ASSERT_FALSE(rect.isEmpty());
    const QImage picture = timeline.grab().toImage();
    // Where the tone is loud, the waveform's strokes cover a good part of the column; a flat
    // line (no peaks) would mark only a pixel or two.
    const int column = static_cast<int>(rect.left() + 20);
    const QRgb fill = picture.pixel(column, static_cast<int>(rect.bottom() - 2));
    int marked = 0;
    for (int y = static_cast<int>(rect.top() + 14); y < static_cast<int>(rect.bottom() - 2); ++y)
        marked += picture.pixel(column, y) != fill ? 1 : 0;
    EXPECT_GT(marked, 10);
    saveScreenshot(window, "timeline");

    EXPECT_EQ(harness.application().commands().undoName(), "Import Audio");
    window.action(QStringLiteral("Отменить"))->trigger();
    EXPECT_EQ(firstClipOf("Аудио 1"), nullptr) << "undo takes the imported clip away";
    window.action(QStringLiteral("Повторить"))->trigger();
    EXPECT_EQ(firstClipOf("Аудио 1"), clip) << "redo brings the same clip back";
}

TEST_F(TimelineTest, ADamagedWavDroppedOnTheTimelineAddsNothingAndSaysSo) {
    const auto path = harness.scratch("damaged.wav");
    { std::ofstream(path, std::ios::binary) << "RIFF\x10\0\0\0WAVEfmt garbage"; }
    const auto row = timeline.rowOf(trackId("Аудио 1"));
    ASSERT_TRUE(row.has_value());
    std::size_t tracksBefore = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        tracksBefore = engine.project.tracks.size();
    }
    dropFile(path, QPointF(timeline.timelineGeometry().xForBeats(2.0), row->top + 10));
    EXPECT_EQ(firstClipOf("Аудио 1"), nullptr);
    EXPECT_EQ(engine.project.tracks.size(), tracksBefore);
    window.tick();
    EXPECT_EQ(window.statusText(), QStringLiteral("Не удалось импортировать файл"));
    EXPECT_FALSE(harness.application().view().projectDirty);
}

TEST_F(TimelineTest, DroppingAFileThatIsNotAudioIsRefused) {
    const auto path = harness.scratch("notes.txt");
    { std::ofstream(path) << "not audio"; }
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path.string()))});
    QDragEnterEvent enter(QPoint(400, 120), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&timeline, &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(TimelineTest, FadeAndGainHandlesOfAnAudioClipEditThroughCommands) {
    const auto path = writeTone("handles.wav", 192000);
    const uint64_t audioTrack = trackId("Аудио 1");
    const auto row = timeline.rowOf(audioTrack);
    ASSERT_TRUE(row.has_value());
    timeline.setVisibleBeats(32.0);
    dropFile(path, QPointF(timeline.timelineGeometry().xForBeats(4.0), row->top + 20));
    const auto clip = firstClipOf("Аудио 1");
    ASSERT_NE(clip, nullptr);
    const QRectF rect = timeline.clipRectOf(clip->id);
    drag(QPointF(rect.left() + 1.0, rect.top() + 3.0),
         QPointF(rect.left() + 40.0, rect.top() + 3.0));
    EXPECT_GT(clip->fadeIn, 0);
    EXPECT_EQ(harness.application().commands().undoName(), "Clip Fades");
    const double unityY = TimelineGeometry::gainLineY(rect, clip->gain);
    drag(QPointF(rect.center().x(), unityY), QPointF(rect.center().x(), rect.top() + 13.0));
    EXPECT_GT(clip->gain, 1.0f);
    EXPECT_EQ(harness.application().commands().undoName(), "Clip Gain");
    window.undo();
    EXPECT_FLOAT_EQ(clip->gain, 1.0f);
    // The line takes the pointer along its whole length, a few pixels off it too.
    const double nearStart = rect.left() + rect.width() / 8.0;
    drag(QPointF(nearStart, unityY + 3.0), QPointF(nearStart, rect.bottom() - 6.0));
    EXPECT_LT(clip->gain, 1.0f) << "the gain line is out of reach away from the clip's centre";
    EXPECT_EQ(harness.application().commands().undoName(), "Clip Gain");
}

TEST_F(TimelineTest, SplitDuplicateAndDeleteWorkOnTheSelectedClip) {
    const auto clip = firstClipOf("MIDI 1");
    ASSERT_NE(clip, nullptr);
    const auto countClips = [&] {
        std::lock_guard lock(engine.projectMutex);
        std::size_t count = 0;
        for (const auto &c : engine.project.findTrack(clip->trackId)->clips)
            count += c->isSessionClip() ? 0 : 1;
        return count;
    };
    const std::size_t before = countClips();
    QTest::mouseClick(&timeline, Qt::LeftButton, {},
                      timeline.clipRectOf(clip->id).center().toPoint());
    window.duplicateSelection();
    EXPECT_EQ(countClips(), before + 1);
    // Locate by clicking the ruler one bar in, then split there.
    const int64_t bar = engine.barLengthSamples();
    QTest::mouseClick(
        &timeline, Qt::LeftButton, {},
        QPoint(static_cast<int>(timeline.timelineGeometry().xForBeats(engine.samplesToBeats(bar))),
               8));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return std::llabs(engine.transport.playhead.load() - bar) < bar / 8; }, 10000));
    window.splitAtPlayhead();
    EXPECT_EQ(countClips(), before + 2);
    window.deleteSelection();
    EXPECT_EQ(countClips(), before + 1);
    EXPECT_EQ(harness.application().commands().undoName(), "Delete Clip");
}

TEST_F(TimelineTest, TrackHeaderButtonsAndTheVolumeBarEditTheTrack) {
    const uint64_t id = trackId("MIDI 1");
    const auto row = timeline.rowOf(id);
    ASSERT_TRUE(row.has_value());
    const auto track = [&] { return engine.project.findTrack(id); };
    const int buttonY = static_cast<int>(row->top + 38);
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, QPoint(20, buttonY)); // M
    EXPECT_TRUE(track()->mute);
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, QPoint(44, buttonY)); // S
    EXPECT_TRUE(track()->solo);
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, QPoint(68, buttonY)); // R
    EXPECT_TRUE(track()->armed);
    // The volume bar spans -60 dB to +6 dB over 56 pixels from x 110, as the fader does:
    // three quarters along is -10.5 dB.
    drag(QPointF(120, buttonY), QPointF(152, buttonY));
    EXPECT_NEAR(20.0 * std::log10(track()->gain), -10.5, 0.6);
    EXPECT_EQ(harness.application().commands().undoName(), "Mixer");
    window.undo();
    EXPECT_FLOAT_EQ(track()->gain, 1.0f);
    window.undo();
    EXPECT_TRUE(track()->armed) << "arming is no edit";
    EXPECT_TRUE(track()->mute) << "each header click is its own step";
    EXPECT_FALSE(track()->solo);
}

TEST_F(TimelineTest, TheMonitorButtonCyclesAnAudioTracksInputMonitoring) {
    const uint64_t id = trackId("Аудио 1");
    const auto row = timeline.rowOf(id);
    ASSERT_TRUE(row.has_value());
    const auto monitor = [&] { return engine.project.findTrack(id)->monitor; };
    const QPoint button(92, static_cast<int>(row->top + 38));
    EXPECT_EQ(monitor(), MonitorMode::Auto);
    // A corner of the button, clear of its letter.
    const QPoint corner = timeline.mapTo(&window, button) + QPoint(-7, -6);
    const QColor unlit = saveScreenshot(window, "monitor-auto").pixelColor(corner);
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, button);
    EXPECT_EQ(monitor(), MonitorMode::In);
    const QColor lit = saveScreenshot(window, "monitor-in").pixelColor(corner);
    EXPECT_GT(lit.green(), unlit.green() + 60) << "the button lights while the input is heard";
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, button);
    EXPECT_EQ(monitor(), MonitorMode::Off);
    EXPECT_EQ(harness.application().commands().undoName(), "Track Monitor");
    window.undo();
    EXPECT_EQ(monitor(), MonitorMode::In);
    // Arming lights "Auto" too; a MIDI track has no monitor button to press.
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, button);
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, button);
    EXPECT_EQ(monitor(), MonitorMode::Auto);
    const uint64_t midi = trackId("MIDI 1");
    const auto midiRow = timeline.rowOf(midi);
    ASSERT_TRUE(midiRow.has_value());
    QTest::mouseClick(&timeline, Qt::LeftButton, {},
                      QPoint(92, static_cast<int>(midiRow->top + 38)));
    EXPECT_EQ(engine.project.findTrack(midi)->monitor, MonitorMode::Auto);
}

TEST_F(TimelineTest, TheHeaderMenuChoosesHowATracksSandboxedPluginsShareHelpers) {
    const uint64_t id = trackId("MIDI 1");
    const auto row = timeline.rowOf(id);
    ASSERT_TRUE(row.has_value());
    const auto grouping = [&] { return engine.project.findTrack(id)->sandboxGrouping; };
    const QPointF header(60.0, row->top + 12.0);
    const auto choose = [&](const char *item) {
        QMenu *menu = rightClick(timeline, header);
        ASSERT_NE(menu, nullptr);
        ASSERT_TRUE(clickMenuItem(*menu, QStringLiteral("Sandbox/") + item));
    };
    EXPECT_EQ(grouping(), SandboxGrouping::PerPlugin);
    choose("One Helper per Track");
    EXPECT_EQ(grouping(), SandboxGrouping::PerTrack);
    EXPECT_EQ(harness.application().commands().undoName(), "Sandbox Grouping");

    QMenu *menu = rightClick(timeline, header);
    ASSERT_NE(menu, nullptr);
    const auto checkedChoices = [&] {
        std::vector<QString> checked;
        // The sandbox submenu's choices; a MIDI track's header also offers its instrument.
        for (QAction *entry : menu->actions())
            if (entry->menu() && entry->menu()->title() == TimelineView::tr("Sandbox"))
                for (QAction *choice : entry->menu()->actions())
                    if (choice->isChecked()) checked.push_back(choice->text());
        return checked;
    };
    EXPECT_EQ(checkedChoices(), std::vector<QString>{TimelineView::tr("One Helper per Track")})
        << "the menu shows the track's choice";
    menu->close();
    window.undo();
    EXPECT_EQ(grouping(), SandboxGrouping::PerPlugin);
    choose("One Helper per Plug-in");
    EXPECT_EQ(grouping(), SandboxGrouping::PerPlugin);

    // The same menu keeps the track's plug-ins out of helpers altogether, and shows it.
    choose("Run the Track's Plug-ins in Process");
    EXPECT_TRUE(engine.project.findTrack(id)->pluginsInProcess);
    EXPECT_EQ(harness.application().commands().undoName(), "Run in Process");
    menu = rightClick(timeline, header);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(checkedChoices(),
              (std::vector<QString>{TimelineView::tr("One Helper per Plug-in"),
                                    TimelineView::tr("Run the Track's Plug-ins in Process")}));
    menu->close();
    window.undo();
    EXPECT_FALSE(engine.project.findTrack(id)->pluginsInProcess);
}

TEST_F(TimelineTest, TakesLieInTheirLanesAndADoubleClickChoosesTheSoundingTake) {
    const uint64_t id = trackId("Аудио 1");
    auto tone = std::make_shared<const std::vector<float>>(48000 * 2, 0.25f);
    std::shared_ptr<Clip> takes[2];
    {
        std::lock_guard lock(engine.projectMutex);
        for (int lane = 0; lane < 2; ++lane) {
            takes[lane] = engine.project.addClip(id, ClipKind::Audio);
            takes[lane]->arrangeStart = beats(4.0);
            takes[lane]->length = 48000;
            takes[lane]->audio = tone;
            takes[lane]->takeLane = lane;
            takes[lane]->takeActive = lane == 0;
        }
        engine.publishGraph();
    }
    const auto row = timeline.rowOf(id);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->lanes, 2);
    EXPECT_DOUBLE_EQ(row->height, TimelineGeometry::laneHeight + TimelineGeometry::takeLaneHeight);
    const QRectF first = timeline.clipRectOf(takes[0]->id);
    const QRectF second = timeline.clipRectOf(takes[1]->id);
    EXPECT_GE(second.top(), first.bottom()) << "the second take lies below the first";
    QTest::mouseDClick(&timeline, Qt::LeftButton, {}, second.center().toPoint());
    EXPECT_TRUE(takes[1]->takeActive);
    EXPECT_FALSE(takes[0]->takeActive);
    EXPECT_EQ(harness.application().commands().undoName(), "Select Take");
}

TEST_F(TimelineTest, ControlWheelZoomsAboutTheCursorAndTheRulerSetsTheCycle) {
    const double anchorX = 500.0;
    const double anchorBeats = timeline.timelineGeometry().beatsForX(anchorX);
    const double ppb = timeline.timelineGeometry().pixelsPerBeat;
    QWheelEvent wheel(QPointF(anchorX, 100), timeline.mapToGlobal(QPointF(anchorX, 100)), {},
                      QPoint(0, 240), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&timeline, &wheel);
    EXPECT_NEAR(timeline.timelineGeometry().pixelsPerBeat, ppb * 1.5625, 1e-9);
    EXPECT_NEAR(timeline.timelineGeometry().beatsForX(anchorX), anchorBeats, 1e-9);
    const auto &geometry = timeline.timelineGeometry();
    drag(QPointF(geometry.xForBeats(4.0), 36), QPointF(geometry.xForBeats(8.0), 36));
    EXPECT_TRUE(engine.transport.loopEnabled.load());
    EXPECT_EQ(engine.transport.loopStart.load(), beats(4.0));
    EXPECT_EQ(engine.transport.loopEnd.load(), beats(8.0));
}

TEST_F(TimelineTest, WhilePlayingTheViewFollowsThePlayhead) {
    timeline.setVisibleBeats(3.0);
    ASSERT_DOUBLE_EQ(timeline.timelineGeometry().scrollBeats, 0.0);
    window.togglePlay();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            window.tick();
            return timeline.timelineGeometry().scrollBeats > 0.0;
        },
        10000));
    const double playhead = engine.samplesToBeats(engine.transport.playhead.load());
    EXPECT_LE(timeline.timelineGeometry().scrollBeats, playhead);
    window.stopTransport();
}

} // namespace

namespace {

struct FileIdentity {
    ino_t inode = 0;
    nlink_t links = 0;
    int64_t modified = 0;
};

FileIdentity identityOf(const std::filesystem::path &file) {
    struct stat status {};
    EXPECT_EQ(::stat(file.c_str(), &status), 0) << file;
    return {status.st_ino, status.st_nlink,
            int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec};
}

// Duplicates of a clip keep one copy of their audio on the disk: each clip still has its own
// media file, a second name of the same one. An unchanged save leaves the files alone, and
// the project reads back whole.
TEST_F(TimelineTest, DuplicatedClipsShareOneMediaFileOnDisk) {
    const auto path = writeTone("shared.wav", 48000);
    const uint64_t audioTrack = trackId("Аудио 1");
    const auto row = timeline.rowOf(audioTrack);
    ASSERT_TRUE(row.has_value());
    timeline.setVisibleBeats(32.0);
    dropFile(path, QPointF(timeline.timelineGeometry().xForBeats(0.5), row->top + 20));
    const auto clip = firstClipOf("Аудио 1");
    ASSERT_NE(clip, nullptr);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::mouseClick(&timeline, Qt::LeftButton, {},
                      timeline.clipRectOf(clip->id).center().toPoint() + QPoint(0, 8));
    ASSERT_EQ(harness.application().view().selectedClipId, clip->id);
    for (int press = 0; press < 3; ++press)
        QTest::keyClick(&window, Qt::Key_D, Qt::ControlModifier);
    std::vector<uint64_t> ids;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &each : engine.project.findTrack(audioTrack)->clips)
            ids.push_back(each->id);
    }
    ASSERT_EQ(ids.size(), 4u);

    const auto folder = harness.scratch("shared.halvora");
    harness.ui.saveLocations.push_back(folder.string());
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.documentJobRunner().busy(); }, 20000));
    QApplication::processEvents();
    ASSERT_TRUE(std::filesystem::exists(folder / "project.json")) << harness.ui.lastStatus();
    std::vector<std::filesystem::path> media;
    for (const uint64_t id : ids)
        media.push_back(folder / "media" / ("clip_" + std::to_string(id) + ".wav"));
    const FileIdentity first = identityOf(media[0]);
    for (const auto &file : media) {
        const FileIdentity each = identityOf(file);
        EXPECT_EQ(each.inode, first.inode) << file << " is a copy of its own";
        EXPECT_EQ(each.links, 4u) << file;
    }

    // Saved again after an edit that leaves the audio alone: the media are not written anew.
    const int64_t documentBefore = identityOf(folder / "project.json").modified;
    const auto midiRow = timeline.rowOf(trackId("MIDI 1"));
    ASSERT_TRUE(midiRow.has_value());
    QTest::mouseClick(&timeline, Qt::LeftButton, {},
                      QPoint(20, static_cast<int>(midiRow->top + 38))); // M
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.documentJobRunner().busy(); }, 20000));
    ASSERT_NE(identityOf(folder / "project.json").modified, documentBefore) << "not saved";
    for (const auto &file : media) {
        const FileIdentity again = identityOf(file);
        EXPECT_EQ(again.inode, first.inode) << file << " was written again";
        EXPECT_EQ(again.modified, first.modified) << file << " was written again";
    }

    // Opened again, every clip plays the same audio as before.
    const std::vector<float> heard = clip->audio->toVector();
    window.openProject(folder.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.documentJobRunner().busy(); }, 20000));
    QApplication::processEvents();
    std::lock_guard lock(engine.projectMutex);
    const auto reopened = engine.project.findTrack(audioTrack);
    ASSERT_TRUE(reopened);
    ASSERT_EQ(reopened->clips.size(), 4u);
    for (const auto &each : reopened->clips) {
        ASSERT_TRUE(each->audio) << each->id;
        EXPECT_TRUE(*each->audio == heard) << each->id;
    }
}

} // namespace

namespace {

// Scrolled past a clip's start, its name still shows at the left of the lanes; the header's
// volume bar says its level.
TEST_F(TimelineTest, AClipsNameStaysInSightAndTheVolumeBarSaysItsLevel) {
    const auto clip = firstClipOf("MIDI 1");
    ASSERT_NE(clip, nullptr);
    {
        std::lock_guard lock(engine.projectMutex);
        clip->name = "Phrase";
        ASSERT_EQ(clip->arrangeStart, 0);
        ASSERT_GE(clip->length, beats(12.0));
    }
    timeline.setVisibleBeats(32.0);
    timeline.scrollToBeats(4.0); // the clip began four beats to the left
    QApplication::processEvents();
    const QRectF rect = timeline.clipRectOf(clip->id);
    ASSERT_LT(rect.left(), TimelineGeometry::headerWidth - 60.0) << "the start is in sight";
    const QImage picture = saveScreenshot(timeline, "timeline-clip-name-after-scroll");
    int dark = 0;
    for (int x = static_cast<int>(TimelineGeometry::headerWidth) + 2;
         x < static_cast<int>(TimelineGeometry::headerWidth) + 50; ++x)
        for (int y = static_cast<int>(rect.top()) + 1; y < static_cast<int>(rect.top()) + 11; ++y)
            dark += qGray(picture.pixel(x, y)) < 50 ? 1 : 0;
    EXPECT_GT(dark, 15) << "no name at the left of the lanes";

    const auto row = timeline.rowOf(trackId("MIDI 1"));
    ASSERT_TRUE(row.has_value());
    const QPoint bar(130, static_cast<int>(row->top + 38));
    QHelpEvent help(QEvent::ToolTip, bar, timeline.mapToGlobal(bar));
    QApplication::sendEvent(&timeline, &help);
    ASSERT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 2000));
    EXPECT_EQ(QToolTip::text(), QString::fromUtf8("Громкость: 0.0 dB (тяните)"));
}

} // namespace

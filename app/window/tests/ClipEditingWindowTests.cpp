// Clip edits as a musician makes them in the arrangement: a MIDI part drawn from scratch, a
// split that keeps what the clip sounded like, and Duplicate pressed again and again.
#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/MidiEditor.h"
#include "app/window/SessionPanel.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/engine/Engine.h"
#include "device/OfflineRender.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr int64_t bar = 96000; // 4/4 at 120 BPM and 48 kHz
constexpr int64_t beat = bar / 4;

class ClipEditingTest : public WindowTest {
  protected:
    ClipEditingTest() : WindowTest("clip-editing") {}

    void key(Qt::Key which, Qt::KeyboardModifiers modifiers = {}) {
        if (!window.isActiveWindow()) {
            window.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        }
        QTest::keyClick(&window, which, modifiers);
        QApplication::processEvents();
    }
    std::shared_ptr<Track> firstTrackOf(TrackType type) {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &candidate : engine.project.tracks)
            if (candidate->type == type) return candidate;
        return nullptr;
    }
    std::vector<std::shared_ptr<Clip>> arrangementClipsOf(const Track &track) {
        std::lock_guard lock(engine.projectMutex);
        std::vector<std::shared_ptr<Clip>> clips;
        for (const auto &clip : track.clips)
            if (!clip->isSessionClip()) clips.push_back(clip);
        return clips;
    }
    /// A point in the middle of the track's main lane at `beats` from the song's start.
    QPoint laneAt(const Track &track, double beats) {
        const auto row = timeline.rowOf(track.id);
        EXPECT_TRUE(row.has_value());
        return QPointF(timeline.timelineGeometry().xForBeats(beats),
                       row->top + row->mainLaneHeight / 2.0)
            .toPoint();
    }
    void useGrid(GridQuantize grid) {
        std::lock_guard lock(engine.projectMutex);
        engine.project.gridQuantize = grid;
    }
    void showBars(double bars) {
        timeline.scrollToBeats(0.0);
        timeline.setVisibleBeats(bars * 4.0);
        QApplication::processEvents();
    }
    void moveThePlayheadTo(int64_t position) {
        view.locate(position);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return engine.transport.playhead.load() == position; }, 5000));
    }
    std::vector<float> mixdown(int64_t frames) {
        std::vector<float> mix;
        EXPECT_TRUE(renderMixdown(engine, mix, 0, frames, 2));
        return mix;
    }
};

// A double-click on an empty spot of a MIDI lane makes an empty one-bar part on the grid;
// it is undone as one step, the roll opens it, and a click of the pencil draws a note in it.
TEST_F(ClipEditingTest, ADoubleClickOnAnEmptyMidiLaneMakesAOneBarPartThatTheRollDrawsIn) {
    const auto keys = firstTrackOf(TrackType::Midi);
    ASSERT_NE(keys, nullptr);
    useGrid(GridQuantize::Quarter);
    showBars(12.0);
    const std::size_t before = arrangementClipsOf(*keys).size();
    // Bar 7, late in its second beat: the part starts on that beat, not on the next.
    const QPoint spot = laneAt(*keys, 24.0 + 1.8);
    QTest::mouseDClick(&timeline, Qt::LeftButton, {}, spot);
    QApplication::processEvents();
    auto clips = arrangementClipsOf(*keys);
    ASSERT_EQ(clips.size(), before + 1) << "no clip was made";
    const auto part = clips.back();
    EXPECT_EQ(part->kind, ClipKind::Midi);
    EXPECT_EQ(part->arrangeStart, 6 * bar + beat);
    EXPECT_EQ(part->length, bar);
    EXPECT_TRUE(part->notes.empty());
    EXPECT_EQ(view.selectedClipId, part->id);
    EXPECT_EQ(harness.application().commands().undoName(), "New MIDI Clip");
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(arrangementClipsOf(*keys).size(), before);
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    clips = arrangementClipsOf(*keys);
    ASSERT_EQ(clips.size(), before + 1);
    const auto redone = clips.back();
    EXPECT_EQ(redone->id, part->id) << "redo brings the part back under its id";

    // A double-click on the part opens it in the roll, where the pencil draws.
    QTest::mouseDClick(&timeline, Qt::LeftButton, {},
                       timeline.clipRectOf(redone->id).center().toPoint());
    MidiEditor &roll = window.midiEditor();
    ASSERT_EQ(roll.clipId(), redone->id);
    ASSERT_TRUE(roll.isVisible());
    QApplication::processEvents();
    ASSERT_EQ(roll.tool(), MidiTool::Draw);
    const QPointF note(roll.xForSamples(beat) + 3.0, roll.yForPitch(67) + 4.0);
    QTest::mouseClick(&roll, Qt::LeftButton, {}, note.toPoint());
    ASSERT_EQ(redone->notes.size(), 1u);
    EXPECT_EQ(redone->notes[0].pitch, 67);
    EXPECT_EQ(redone->notes[0].start, beat);
    saveScreenshot(window, "clip-editing-new-midi-part");

    // A double-click on an audio lane's empty spot makes nothing.
    const auto audio = firstTrackOf(TrackType::Audio);
    ASSERT_NE(audio, nullptr);
    const std::size_t audioClips = arrangementClipsOf(*audio).size();
    QTest::mouseDClick(&timeline, Qt::LeftButton, {}, laneAt(*audio, 30.0));
    EXPECT_EQ(arrangementClipsOf(*audio).size(), audioClips);
}

// The lane's context menu and the Clip menu make the same part: at the clicked spot, and at
// the playhead on the selected MIDI track.
TEST_F(ClipEditingTest, TheLaneMenuAndTheClipMenuMakeMidiPartsToo) {
    const auto keys = firstTrackOf(TrackType::Midi);
    ASSERT_NE(keys, nullptr);
    useGrid(GridQuantize::Bar);
    showBars(16.0);
    const std::size_t before = arrangementClipsOf(*keys).size();
    QMenu *menu = rightClick(timeline, laneAt(*keys, 43.1)); // late in bar 11
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(clickMenuItem(*menu, QStringLiteral("New MIDI Clip")));
    auto clips = arrangementClipsOf(*keys);
    ASSERT_EQ(clips.size(), before + 1);
    EXPECT_EQ(clips.back()->arrangeStart, 10 * bar);
    EXPECT_EQ(clips.back()->length, bar);

    moveThePlayheadTo(13 * bar + 100);
    view.selectedTrackId = keys->id;
    ASSERT_TRUE(chooseFromMenuBar(window, QStringLiteral("Clip"), QStringLiteral("New MIDI Clip")));
    clips = arrangementClipsOf(*keys);
    ASSERT_EQ(clips.size(), before + 2);
    EXPECT_EQ(clips.back()->arrangeStart, 13 * bar);
    saveScreenshot(window, "clip-editing-menu-parts");
}

// Split at the playhead (S) leaves the clip sounding as it did: the fade-in begins the left
// half, the fade-out ends the right one, and stretch, warp, gain envelope, loop and take lane
// carry over. The mixdown before and after is the same.
TEST_F(ClipEditingTest, SplitKeepsWhatTheClipSoundedLike) {
    const auto audio = firstTrackOf(TrackType::Audio);
    ASSERT_NE(audio, nullptr);
    std::shared_ptr<Clip> clip;
    {
        std::lock_guard lock(engine.projectMutex);
        // Only this clip sounds, so the mixdown is its sound.
        for (const auto &other : engine.project.tracks)
            other->mute = other->id != audio->id;
        clip = engine.project.addClip(audio->id, ClipKind::Audio);
        clip->name = "x";
        const auto samples = sineSamples(330.0, 0.5, 48000.0, 4 * 48000);
        std::vector<float> stereo;
        for (const float sample : samples) {
            stereo.push_back(sample);
            stereo.push_back(sample * 0.5f);
        }
        clip->audio = std::make_shared<std::vector<float>>(std::move(stereo));
        clip->channels = 2;
        clip->arrangeStart = 0;
        clip->length = 3 * 48000;
        clip->fadeIn = 12000;
        clip->fadeOut = 30000;
        clip->stretchRatio = 1.25;
        clip->warpMarkers = {{48000, 50000}};
        clip->gainEnvelope = {{0, 0.4f}, {120000, 1.0f}};
        clip->loop = true;
        clip->loopLength = 48000;
        engine.publishGraph();
    }
    const std::vector<float> whole = mixdown(4 * 48000);
    moveThePlayheadTo(bar);
    timeline.selectClips({clip->id});
    key(Qt::Key_S);
    EXPECT_EQ(harness.application().commands().undoName(), "Split Clip");
    const auto clips = arrangementClipsOf(*audio);
    ASSERT_EQ(clips.size(), 2u);
    const Clip &left = *clips[0];
    const Clip &right = *clips[1];
    EXPECT_EQ(left.length, bar);
    EXPECT_EQ(right.arrangeStart, bar);
    EXPECT_EQ(left.fadeIn, 12000);
    EXPECT_EQ(left.fadeOut, 0) << "the cut gets no fade";
    EXPECT_EQ(right.fadeIn, 0);
    EXPECT_EQ(right.fadeOut, 30000) << "the fade-out stays at the clip's end";
    for (const Clip *half : {&left, &right}) {
        EXPECT_EQ(half->stretchRatio, 1.25);
        EXPECT_TRUE(half->loop);
        EXPECT_EQ(half->loopLength, 48000);
        EXPECT_EQ(half->takeLane, clip->takeLane);
        EXPECT_EQ(half->takeActive, clip->takeActive);
        EXPECT_GE(half->gainEnvelope.size(), 2u);
    }
    const std::vector<float> split = mixdown(4 * 48000);
    ASSERT_EQ(split.size(), whole.size());
    double worst = 0.0;
    for (std::size_t i = 0; i < whole.size(); ++i)
        worst = std::max(worst, static_cast<double>(std::abs(split[i] - whole[i])));
    EXPECT_LT(worst, 0.02) << "the halves do not sound like the clip";
    saveScreenshot(window, "clip-editing-split-keeps-fades");

    // Undo gives the clip back as it was.
    key(Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(arrangementClipsOf(*audio).size(), 1u);
    EXPECT_EQ(clip->length, 3 * 48000);
    EXPECT_EQ(clip->fadeOut, 30000);
    EXPECT_EQ(clip->warpMarkers, (std::vector<WarpMarker>{{48000, 50000}}));
    EXPECT_EQ(clip->gainEnvelope, (std::vector<AutomationPoint>{{0, 0.4f}, {120000, 1.0f}}));
}

// Ctrl+D pressed again and again lays the copies in a row, each after the one before; with
// two clips selected the pair is copied as a block.
TEST_F(ClipEditingTest, RepeatedDuplicateLaysTheCopiesInARow) {
    const auto keys = firstTrackOf(TrackType::Midi);
    ASSERT_NE(keys, nullptr);
    showBars(32.0);
    const auto part = arrangementClipsOf(*keys).front();
    const int64_t start = part->arrangeStart;
    const int64_t length = part->length;
    QTest::mouseClick(&timeline, Qt::LeftButton, {},
                      timeline.clipRectOf(part->id).center().toPoint());
    ASSERT_EQ(view.selectedClipId, part->id);
    for (int press = 0; press < 4; ++press)
        key(Qt::Key_D, Qt::ControlModifier);
    auto clips = arrangementClipsOf(*keys);
    ASSERT_EQ(clips.size(), 5u);
    std::vector<int64_t> starts;
    for (const auto &clip : clips)
        starts.push_back(clip->arrangeStart);
    std::sort(starts.begin(), starts.end());
    for (std::size_t i = 0; i < starts.size(); ++i)
        EXPECT_EQ(starts[i], start + static_cast<int64_t>(i) * length) << "copy " << i;
    EXPECT_EQ(timeline.selectedClips().size(), 1u) << "the last copy is selected";
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(arrangementClipsOf(*keys).size(), 4u) << "each press is one undo step";
    saveScreenshot(window, "clip-editing-duplicate-row");

    // Two neighbouring clips selected: the pair goes after the pair, keeping its gap.
    clips = arrangementClipsOf(*keys);
    std::sort(clips.begin(), clips.end(),
              [](const auto &a, const auto &b) { return a->arrangeStart < b->arrangeStart; });
    timeline.selectClips({clips[0]->id, clips[1]->id});
    key(Qt::Key_D, Qt::ControlModifier);
    clips = arrangementClipsOf(*keys);
    ASSERT_EQ(clips.size(), 6u);
    std::vector<int64_t> after;
    for (const auto &clip : clips)
        after.push_back(clip->arrangeStart);
    std::sort(after.begin(), after.end());
    EXPECT_EQ(std::count(after.begin(), after.end(), start + 2 * length), 2)
        << "the block's first copy lands on its neighbour's start";
    EXPECT_EQ(std::count(after.begin(), after.end(), start + 3 * length), 2);
}

// Every track holds session clips: the ninth and later ones too, returns counted among the
// launcher's columns. A slot of the eleventh track takes a drawn clip, which then plays.
TEST_F(ClipEditingTest, EveryTrackHoldsSessionClipsNotOnlyTheFirstEight) {
    timeline.setFocus();
    for (int added = 0; added < 7; ++added)
        key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    std::shared_ptr<Track> last;
    std::size_t trackCount = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        trackCount = engine.project.tracks.size();
        last = engine.project.tracks.back();
    }
    ASSERT_GE(trackCount, 10u);
    ASSERT_EQ(last->type, TrackType::Midi);
    window.showTab(MainWindow::SessionTab);
    auto &session = static_cast<SessionPanel &>(window.sessionPanel());
    session.resize(1280, 600);
    QApplication::processEvents();
    const SessionGridModel &grid = session.model();
    int column = -1;
    for (std::size_t c = 0; c < grid.columns.size(); ++c)
        if (grid.columns[c].trackId == last->id) column = static_cast<int>(c);
    ASSERT_GE(column, 0);
    ASSERT_GE(grid.rows.size(), 1u);
    ASSERT_EQ(grid.cell(0, std::size_t(column)).clipId, 0u);
    QWidget &cells = *session.gridWidget();
    QTest::mouseDClick(&cells, Qt::LeftButton, {}, session.cellRect(0, column).center());
    QApplication::processEvents();
    EXPECT_EQ(harness.application().commands().undoName(), "New MIDI Clip");
    const uint64_t drawn = grid.cell(0, std::size_t(column)).clipId;
    ASSERT_NE(drawn, 0u) << "the slot refused the clip: " << harness.ui.lastStatus();
    {
        std::lock_guard lock(engine.projectMutex);
        const auto clip = engine.project.findClip(drawn);
        ASSERT_NE(clip, nullptr);
        EXPECT_EQ(clip->trackId, last->id);
        EXPECT_EQ(clip->sessionCol, static_cast<int32_t>(trackCount - 1));
    }
    window.showTab(MainWindow::SessionTab);
    QApplication::processEvents();
    QTest::mouseClick(&cells, Qt::LeftButton, {}, session.cellRect(0, column).center());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const SessionCell &cell = grid.cell(0, std::size_t(column));
            return cell.playing || cell.queued;
        },
        5000))
        << "the clip on the eleventh track does not launch";
    saveScreenshot(window, "clip-editing-session-eleventh-track");
}

} // namespace

// Capture to Arrangement keeps what was heard: each playing clip's whole pass, from the bar
// where that pass began.
#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/SessionPanel.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/engine/Engine.h"

#include <gtest/gtest.h>

#include <optional>

#include <QApplication>
#include <QPushButton>
#include <QTest>

using namespace orvane;
using namespace orvane::testing;

namespace {

class SessionCaptureWindowTest : public WindowTest {
  protected:
    SessionCaptureWindowTest() : WindowTest("session-capture") {}
    void TearDown() override {
        view.stop();
        WindowTest::TearDown();
    }
};

TEST_F(SessionCaptureWindowTest, ACaptureHoldsTheWholePassFromItsBar) {
    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    window.tick();
    auto &panel = static_cast<SessionPanel &>(window.sessionPanel());
    ASSERT_TRUE(panel.isVisible());
    // The start-up song's "Loop A": one bar, one note of half a beat.
    int row = -1, column = -1;
    std::shared_ptr<Clip> loop;
    for (std::size_t r = 0; r < panel.model().rows.size(); ++r)
        for (std::size_t c = 0; c < panel.model().columns.size(); ++c)
            if (const uint64_t id = panel.model().cell(r, c).clipId) {
                std::lock_guard lock(engine.projectMutex);
                const auto clip = engine.project.findClip(id);
                if (clip && clip->name == "Loop A") {
                    row = static_cast<int>(r);
                    column = static_cast<int>(c);
                    loop = clip;
                }
            }
    ASSERT_TRUE(loop) << "no Loop A in the grid";
    const int64_t bar = engine.barLengthSamples();
    ASSERT_EQ(loop->loopLength, bar);
    {
        // Launched at once, so that the test waits through as few bars as it must.
        std::lock_guard lock(engine.projectMutex);
        engine.project.session.launchQuantize = LaunchQuantize::Immediate;
        loop->launchQuantize = LaunchQuantize::Immediate;
        engine.publishGraph();
    }
    const QRect cell = panel.cellRect(row, column);
    QTest::mouseClick(panel.gridWidget(), Qt::LeftButton, {},
                      QPoint(cell.left() + 8, cell.center().y())); // the launch mark
    const auto entry = [&]() -> std::optional<ActiveSessionClip> {
        const SessionTableCopy table = engine.readSessionTable();
        for (int32_t i = 0; i < table.count; ++i)
            if (table.entries[static_cast<std::size_t>(i)].clipId == loop->id &&
                table.entries[static_cast<std::size_t>(i)].playing)
                return table.entries[static_cast<std::size_t>(i)];
        return std::nullopt;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return entry().has_value(); }, 15000))
        << "Loop A does not play";
    const int64_t firstHeard = engine.transport.playhead.load();
    // A third of the way into a later pass.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto playing = entry();
            return playing && engine.transport.playhead.load() > firstHeard + bar &&
                   playing->offset > bar / 3 && playing->offset < bar / 2;
        },
        15000));
    QPushButton *capture = nullptr;
    for (QPushButton *button : panel.findChildren<QPushButton *>())
        if (button->text() == QString::fromUtf8("Захват в аранжировку") ||
            button->text() == QStringLiteral("Capture to Arrangement"))
            capture = button;
    ASSERT_NE(capture, nullptr);
    QTest::mouseClick(capture, Qt::LeftButton);
    std::shared_ptr<Clip> taken;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &clip : engine.project.findTrack(loop->trackId)->clips)
            if (clip->name == "Capture Loop A") taken = clip;
    }
    ASSERT_TRUE(taken) << harness.ui.lastStatus();
    EXPECT_EQ(taken->arrangeStart % bar, 0) << "the capture is off the bar";
    EXPECT_EQ(taken->length, bar) << "the capture holds part of a pass";
    ASSERT_EQ(taken->notes.size(), 1u);
    EXPECT_EQ(taken->notes[0], loop->notes[0]);
    EXPECT_LE(taken->arrangeStart, engine.transport.playhead.load());
    saveScreenshot(window, "session-capture-whole-pass");
}

} // namespace

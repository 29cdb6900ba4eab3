#include "app/remote/tests/OscPeer.h"
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/RemoteControl.h"
#include "app/shell/SessionState.h"
#include "app/window/MainWindow.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace orvane;
using namespace orvane::testing;
using namespace orvane::remote::testing;
namespace fs = std::filesystem;

namespace {

/// Waits for a message to `path` while the window's timers go on running.
bool arrives(OscPeer &peer, const std::string &path, int milliseconds = 10000) {
    return QTest::qWaitFor([&] { return peer.waitFor(path, std::chrono::milliseconds(5)); },
                           milliseconds);
}

class RemoteControlWindowTest : public WindowTest {
  protected:
    RemoteControlWindowTest() : WindowTest("remote-window") {}
};

TEST_F(RemoteControlWindowTest, TheDialogTurnsThePortOnAndASurfaceThenMutesATrackUndoably) {
    EXPECT_EQ(harness.application().remote().oscPort(), 0) << "off by default";
    const int port = freeUdpPort();
    bool answered = false;
    whenDialogShows([&](QWidget &dialog) {
        auto *enabled = dialog.findChild<QCheckBox *>(QStringLiteral("remoteEnabled"));
        auto *portField = dialog.findChild<QSpinBox *>(QStringLiteral("remotePort"));
        auto *network = dialog.findChild<QCheckBox *>(QStringLiteral("remoteNetwork"));
        auto *buttons = dialog.findChild<QDialogButtonBox *>();
        ASSERT_TRUE(enabled && portField && network && buttons);
        EXPECT_FALSE(enabled->isChecked());
        EXPECT_FALSE(portField->isEnabled()) << "the port is chosen once listening is on";
        QTest::mouseClick(enabled, Qt::LeftButton, {}, QPoint(8, enabled->height() / 2));
        EXPECT_TRUE(portField->isEnabled());
        EXPECT_FALSE(network->isChecked()) << "this computer only, unless ticked";
        portField->setFocus();
        portField->selectAll();
        QTest::keyClicks(portField, QString::number(port));
        QTest::keyClick(portField, Qt::Key_Tab);
        EXPECT_EQ(portField->value(), port);
        saveScreenshot(dialog, "remote-control-dialog");
        QPushButton *ok = buttons->button(QDialogButtonBox::Ok);
        QTest::mouseClick(ok, Qt::LeftButton);
        answered = true;
    });
    ASSERT_TRUE(chooseFromMenuBar(window, "Studio", "Remote Control (OSC)…"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered; }, 5000));
    EXPECT_EQ(harness.application().remote().oscPort(), port);
    const RemotePreferences stored = readRemotePreferences();
    EXPECT_TRUE(stored.enabled);
    EXPECT_EQ(stored.port, port);
    EXPECT_FALSE(stored.allowNetwork);

    OscPeer surface;
    ASSERT_TRUE(surface.send(port, "/halvora/track/1/mute", "i", 1));
    ASSERT_TRUE(arrives(surface, "/halvora/track/1/mute"));
    EXPECT_EQ(surface.last.numbers.at(0), 1);
    {
        std::lock_guard lock(engine.projectMutex);
        EXPECT_TRUE(engine.project.tracks.front()->mute);
    }
    EXPECT_TRUE(view.projectDirty);
    // The surface's edit is the window's to undo, with the window's key. The dialog that
    // closed left no window active (no window manager hands the focus back): a person would
    // click the window first.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    QApplication::processEvents();
    {
        std::lock_guard lock(engine.projectMutex);
        EXPECT_FALSE(engine.project.tracks.front()->mute);
    }
}

/// The session manager is there before the application starts, as it starts its clients.
struct SessionManagerFirst {
    OscPeer server;
    ScopedEnvironment url{"NSM_URL", server.url()};
};

class ManagedWindowTest : public SessionManagerFirst, public WindowTest {
  protected:
    ManagedWindowTest() : WindowTest("managed-window") {}
};

TEST_F(ManagedWindowTest, TheFileMenuLeavesNewOpenAndSaveAsToTheSessionManagerThatOpensTheProject) {
    ASSERT_TRUE(harness.application().remote().underSessionManager());
    QMenuBar *bar = window.findChild<QMenuBar *>();
    QMenu *file = nullptr;
    for (QAction *action : bar->actions())
        if (action->text() == shownInWindow(QStringLiteral("File"))) {
            file = action->menu();
            // Opened as a person opens it, to see what it offers.
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(action).center());
        }
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 2000));
    saveScreenshot(*file, "session-manager-file-menu");
    file->close();
    QStringList shown;
    for (QAction *action : file->actions())
        if (action->isVisible() && !action->isSeparator()) shown << action->text();
    for (const char *managed : {"New Project", "Open Project…", "Open Recent", "Save As…"})
        EXPECT_FALSE(shown.contains(shownInWindow(QString::fromUtf8(managed)))) << managed;
    EXPECT_TRUE(shown.contains(shownInWindow(QStringLiteral("Save Project…"))));
    // Nor do their keys replace the document.
    const uint64_t generation = engine.projectGeneration.load();
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    QTest::qWait(100);
    EXPECT_EQ(engine.projectGeneration.load(), generation);

    ASSERT_TRUE(arrives(server, "/nsm/server/announce"));
    const std::string client = server.last.senderUrl;
    const int clientPort = std::stoi(client.substr(client.rfind(':') + 1));
    const fs::path instance = harness.scratch("session") / "Halvora.nWIN";
    server.send(clientPort, "/nsm/client/open", "sss", instance.c_str(), "Halvora", "nWIN");
    ASSERT_TRUE(arrives(server, "/reply"));
    EXPECT_EQ(server.last.strings.at(0), "/nsm/client/open");
    EXPECT_TRUE(fs::exists(instance.string() + ".halvora/project.json"));
    EXPECT_EQ(view.projectPath, instance.string() + ".halvora");
    ASSERT_TRUE(arrives(server, "/nsm/client/is_clean"));
    saveScreenshot(window, "session-manager-window");
}

} // namespace

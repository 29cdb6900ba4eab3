#pragma once

#include <QWidget>

#include <functional>

namespace orvane {

class OVApplication;

/// A tab or panel of the workspace window. Panels never edit the project themselves: every
/// edit goes through the application's command stack, and what they show comes from the
/// project and the engine's published state.
class WorkspacePanel : public QWidget {
  public:
    using QWidget::QWidget;
    /// Called from the window's user-interface tick (every 1/30 s): meters, playing states.
    virtual void onTick() {}
    /// The project changed (an edit, undo, redo, a project opened or made new).
    virtual void projectChanged() {}
    /// Set by the window: a panel that edited the project calls it, so that the other tabs
    /// and the undo menu show the edit at once.
    std::function<void()> onProjectEdited;
};

/// The session tab: clip grid with launch, stop and scene launch.
WorkspacePanel *createSessionPanel(OVApplication &application, QWidget *parent);
/// The mixer tab: a strip per track and return, and the master.
WorkspacePanel *createMixerPanel(OVApplication &application, QWidget *parent);
/// The plug-in browser: scanned plug-ins, search, block and allow lists.
WorkspacePanel *createPluginBrowserPanel(OVApplication &application, QWidget *parent);

} // namespace orvane

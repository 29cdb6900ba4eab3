#pragma once

#include "core/model/Project.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QDockWidget;
class QDoubleSpinBox;
class QLabel;
class QMenu;
class QSplitter;
class QStackedWidget;
class QTabBar;
class QTimer;

namespace orvane {

class Command;
class LongJobRunner;
class ArrangementOverview;
class MidiEditor;
class MidiEditorPane;
class OVApplication;
class SynthPanel;
class TimelineView;
class WorkspacePanel;

/// The workspace window: menus, toolbar with the transport, the timeline, session and mixer
/// tabs, the plug-in browser beside them and the status line. Drives the application's
/// user-interface tick (every 1/30 s) and autosave tick. Menu and toolbar actions forward to
/// the application's view and services; every edit is a command.
class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    enum Tab { TimelineTab = 0, SessionTab = 1, MixerTab = 2 };

    explicit MainWindow(OVApplication &application, QWidget *parent = nullptr);
    ~MainWindow() override;

    TimelineView &timeline() { return *timelineView; }
    MidiEditor &midiEditor() { return *editor; }
    WorkspacePanel &sessionPanel() { return *session; }
    WorkspacePanel &mixerPanel() { return *mixer; }
    WorkspacePanel &browserPanel() { return *browser; }
    QDockWidget &browserDock() { return *browserHolder; }
    void showTab(Tab tab);
    Tab currentTab() const;
    /// The status line's text.
    QString statusText() const;
    /// A menu or toolbar action by the text it shows or by its source text; null when there is
    /// none.
    QAction *action(const QString &text) const;

    /// One user-interface tick, as the timer runs it.
    void tick();
    /// Opens the MIDI editor under the timeline on a MIDI clip.
    void openMidiClip(uint64_t clipId);
    /// Opens the instrument window of the MIDI track `trackId` (closing one open for another
    /// track); null, with the reason on the status line, for any other track.
    SynthPanel *openInstrumentPanel(uint64_t trackId);
    /// The open instrument window, null when none is open.
    SynthPanel *instrumentPanel() const;
    /// Shows the audio settings panel without waiting for it (tests drive it).
    class AudioSettingsPanel *openAudioSettings();
    /// Studio ▸ "MIDI Mappings…", shown without waiting for it; the open one when it is open.
    class MidiMappingsWindow *openMidiMappings();
    /// Studio ▸ "Plug-in DSP…": shown, or raised when it is open already.
    class PluginDspWindow *openPluginDsp();

    // Transport and editing, as the menus, toolbar and keys run them.
    void togglePlay();
    void stopTransport();
    void toggleRecord();
    void toggleCycle();
    void toggleMetronome();
    void togglePunch();
    void splitAtPlayhead();
    void duplicateSelection();
    /// Deletes what the user last worked on and sees: the piano roll's selected notes when it
    /// has the focus, else the timeline's selected clips (on the timeline page only).
    void deleteSelection();
    void copySelection();
    void cutSelection();
    void paste();
    void selectAll();
    void addTrack(TrackType type);
    void zoom(double factor);
    /// Moves the playhead and brings it into view.
    void locate(int64_t position);
    void setSnap(bool on);
    /// Opens a project folder: the one given, or one the user chooses when `path` is empty.
    void openProject(const std::string &path);
    /// Opens the project the program was started with (its only argument, a ".halvora"
    /// folder), after a recovery in `recovered` only when the user agrees; false when the
    /// arguments name no project.
    bool openFromCommandLine(const std::vector<std::string> &arguments, bool recovered);
    void rememberRecentProject(const std::string &path);
    QStringList recentProjects() const;
    void undo();
    void redo();
    /// Asks for audio files and decodes them on a worker.
    void importAudio();
    /// Writes the autosave copy on a worker unless a save is on its way.
    void autosave();
    /// Saves and autosaves on their way, one after another on a worker.
    LongJobRunner &documentJobRunner() { return *documentJobs; }
    /// Exports on their way.
    LongJobRunner &exportJobRunner() { return *exportJobs; }
    /// Waits for the saves on their way and stops the exports and imports.
    void finishLongJobs();
    /// Offers the quick-start panel at the first start only.
    void offerQuickStart();

    QAction *playAction = nullptr;
    QLabel *positionBars = nullptr;
    QLabel *positionTime = nullptr;
    QDoubleSpinBox *tempoField = nullptr;
    QComboBox *meterField = nullptr;
    /// JACK transport and MIDI clock choices.
    class TransportSyncControls *transportSync = nullptr;
    QComboBox *gridPopup = nullptr;
    QComboBox *writeModeField = nullptr;
    QAction *undoAction = nullptr;
    QAction *redoAction = nullptr;
    QAction *followAction = nullptr;
    QAction *automationAction = nullptr;

  protected:
    void closeEvent(QCloseEvent *event) override;
    /// Esc anywhere in the program ends a MIDI Learn that waits for a controller.
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void buildCentre();
    void buildMenus();
    void buildToolbar();
    void buildFileMenu(QMenu *menu);
    void buildEditMenu(QMenu *menu);
    void buildTrackMenu(QMenu *menu);
    void buildClipMenu(QMenu *menu);
    void buildViewMenu(QMenu *menu);
    void buildTuningMenu(QMenu *tuning);
    /// Renders the audio track through its chain on the document worker and puts the result
    /// in place as one clip (undoable).
    void freezeTrack(uint64_t trackId);
    void importScalaFile();
    void importKeyboardMap();
    void buildTransportMenu(QMenu *menu);
    void buildStudioMenu(QMenu *menu);
    void buildHelpMenu(QMenu *menu);
    void fillRecentMenu();
    void refreshTitle();
    void refreshHistoryActions();
    bool editorHasFocus() const;
    void edit(std::unique_ptr<Command> command);
    void projectChanged();
    void refreshTransport();
    void showShortcuts();
    void showPrivacy();
    /// The OSC port for control surfaces: on or off, its number, and whether other computers
    /// may reach it.
    void showRemoteControl();
    /// SIGTERM under a session manager: the window closes without asking, as the manager
    /// asked for a save first if it wanted one.
    void quitForSessionManager();
    void setStatus(const std::string &text);
    uint64_t selectedMidiClip() const;
    uint64_t clipUnderPlayhead() const;

    OVApplication &app;
    TimelineView *timelineView = nullptr;
    ArrangementOverview *overview = nullptr;
    MidiEditorPane *editorPane = nullptr;
    MidiEditor *editor = nullptr;
    QSplitter *timelinePage = nullptr;
    WorkspacePanel *session = nullptr;
    WorkspacePanel *mixer = nullptr;
    WorkspacePanel *browser = nullptr;
    QDockWidget *browserHolder = nullptr;
    QStackedWidget *pages = nullptr;
    QTabBar *tabs = nullptr;
    QLabel *statusLine = nullptr;
    LongJobRunner *documentJobs = nullptr;
    LongJobRunner *exportJobs = nullptr;
    QTimer *uiTimer = nullptr;
    QTimer *autosaveTimer = nullptr;
    QAction *stopAction = nullptr;
    QAction *recordAction = nullptr;
    QAction *metronomeAction = nullptr;
    QAction *cycleAction = nullptr;
    QAction *punchAction = nullptr;
    QAction *splitAction = nullptr;
    QAction *snapAction = nullptr;
    QAction *lowLatencyAction = nullptr;
    QMenu *recentMenu = nullptr;
    QPointer<class MidiMappingsWindow> midiMappings;
    QPointer<class PluginDspWindow> pluginDsp;
    QLabel *loadLabel = nullptr;
    GridQuantize lastGrid = GridQuantize::Sixteenth;
    /// The device load as last shown: blocks counted and the sum of their loads.
    struct LoadReading {
        uint64_t blocks = 0;
        double sum = 0.0;
    } loadShown;
    QPointer<SynthPanel> instrumentWindow;
    std::string titledPath;
    uint64_t projectGenerationSeen = 0;
    bool terminated = false;
};

/// `Halvora` without arguments: the window over the application, until it is closed.
int runWindow(int argc, char **argv);

} // namespace orvane

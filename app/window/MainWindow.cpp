#include "app/window/MainWindow.h"
#include "app/window/MixerPanel.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/RemoteControl.h"
#include "app/shell/SessionState.h"
#include "app/window/ArrangementOverview.h"
#include "app/window/LongJobRunner.h"
#include "app/window/MidiEditor.h"
#include "app/window/MidiMappingsWindow.h"
#include "app/window/PluginDspWindow.h"
#include "app/window/QtApplicationUi.h"
#include "app/window/SessionPanel.h"
#include "app/window/SettingsPanels.h"
#include "app/window/SynthPanel.h"
#include "app/window/Theme.h"
#include "app/window/TimelineGeometry.h"
#include "app/window/TimelineView.h"
#include "app/window/WorkspacePanels.h"
#include "app/workflows/MidiLearning.h"
#include "app/workflows/RecordingWorkflow.h"
#include "app/workflows/TempoTools.h"
#include "core/commands/ClipCommands.h"
#include "core/commands/GrooveCommands.h"
#include "core/commands/MarkerCommands.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/NoteTransformCommands.h"
#include "core/commands/ProjectSettingCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"
#include "core/model/Translate.h"
#include "device/AudioDeviceEngine.h"
#include "translations/Language.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace orvane {

namespace {

QString clockText(int64_t samples, double rate) {
    const double seconds =
        rate > 0.0 ? static_cast<double>(std::max<int64_t>(samples, 0)) / rate : 0.0;
    const int64_t millis = static_cast<int64_t>(std::floor(seconds * 1000.0));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(millis / 60000),
                  static_cast<long long>(millis / 1000 % 60),
                  static_cast<long long>(millis % 1000));
    return QString::fromLatin1(text);
}

} // namespace

MainWindow::MainWindow(OVApplication &application, QWidget *parent)
    : QMainWindow(parent), app(application) {
    setWindowTitle(QStringLiteral("Halvora"));
    documentJobs = new LongJobRunner(this);
    exportJobs = new LongJobRunner(this);
    connect(documentJobs, &LongJobRunner::jobFinished, this, &MainWindow::projectChanged);
    setMinimumSize(960, 600);
    if (auto *program = qobject_cast<QApplication *>(QCoreApplication::instance()))
        theme::apply(*program);
    buildCentre();
    buildToolbar();
    buildMenus();
    statusLine = new QLabel(this);
    statusBar()->addWidget(statusLine, 1);
    statusBar()->addPermanentWidget(documentJobs);
    statusBar()->addPermanentWidget(exportJobs);
    resize(1280, 800);
    if (const QScreen *screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // Esc ends a MIDI Learn wherever the focus is (a fader keeps it after its context menu).
    QApplication::instance()->installEventFilter(this);
    uiTimer = new QTimer(this);
    uiTimer->setInterval(static_cast<int>(std::lround(OVApplication::uiTickSeconds * 1000.0)));
    connect(uiTimer, &QTimer::timeout, this, &MainWindow::tick);
    uiTimer->start();
    autosaveTimer = new QTimer(this);
    autosaveTimer->setInterval(static_cast<int>(OVApplication::autosaveTickSeconds * 1000.0));
    connect(autosaveTimer, &QTimer::timeout, this, &MainWindow::autosave);
    autosaveTimer->start();
    projectGenerationSeen = app.engine().projectGeneration.load();
    refreshTransport();
}

MainWindow::~MainWindow() {
    // A field that has the focus finishes its editing as it is destroyed, after this window's
    // own members are gone: it must not reach them then.
    for (QAbstractSpinBox *field : findChildren<QAbstractSpinBox *>())
        field->blockSignals(true);
}

void MainWindow::buildCentre() {
    pages = new QStackedWidget(this);
    timelinePage = new QSplitter(Qt::Vertical, pages);
    auto *arrangement = new QWidget(timelinePage);
    auto *arrangementColumn = new QVBoxLayout(arrangement);
    arrangementColumn->setContentsMargins(0, 0, 0, 0);
    arrangementColumn->setSpacing(0);
    timelineView = new TimelineView(app, arrangement);
    overview = new ArrangementOverview(app, *timelineView, arrangement);
    arrangementColumn->addWidget(overview);
    arrangementColumn->addWidget(timelineView, 1);
    editorPane = new MidiEditorPane(app, timelinePage);
    editor = &editorPane->editor();
    editorPane->hide();
    timelinePage->addWidget(arrangement);
    timelinePage->addWidget(editorPane);
    timelinePage->setStretchFactor(0, 3);
    timelinePage->setStretchFactor(1, 2);
    session = createSessionPanel(app, pages);
    // A session clip is edited in the piano roll under the timeline.
    static_cast<SessionPanel *>(session)->onOpenMidiClip = [this](uint64_t clipId) {
        showTab(TimelineTab);
        openMidiClip(clipId);
    };
    mixer = createMixerPanel(app, pages);
    // A built-in effect's "Show Automation" opens its lane in the timeline.
    static_cast<MixerPanel *>(mixer)->onAutomationShown = [this] {
        showTab(TimelineTab);
        if (automationAction) automationAction->setChecked(true);
        timelineView->update();
    };
    pages->addWidget(timelinePage);
    pages->addWidget(session);
    pages->addWidget(mixer);
    setCentralWidget(pages);
    browserHolder = new QDockWidget(tr("Browser"), this);
    browserHolder->setObjectName(QStringLiteral("browser"));
    browser = createPluginBrowserPanel(app, browserHolder);
    browserHolder->setWidget(browser);
    browser->onProjectEdited = [this] { projectChanged(); };
    // The mixer shows its own edits; the rest of the window follows them here. Its strips
    // stay as they are, for the edit may come from one of them.
    mixer->onProjectEdited = [this] {
        refreshHistoryActions();
        refreshTitle();
        timelineView->update();
    };
    addDockWidget(Qt::LeftDockWidgetArea, browserHolder);
    browserHolder->hide();
    connect(timelineView, &TimelineView::projectEdited, this, &MainWindow::projectChanged);
    connect(timelineView, &TimelineView::midiClipOpened, this, &MainWindow::openMidiClip);
    connect(timelineView, &TimelineView::instrumentPanelRequested, this,
            [this](uint64_t trackId) { (void)openInstrumentPanel(trackId); });
    connect(editor, &MidiEditor::projectEdited, this, &MainWindow::projectChanged);
}

// --- Actions -------------------------------------------------------------------------------

void MainWindow::edit(std::unique_ptr<Command> command) {
    app.view().executeEdit(std::move(command));
    projectChanged();
}

void MainWindow::projectChanged() {
    timelineView->selectClips(timelineView->selectedClips());
    refreshHistoryActions();
    refreshTitle();
    timelineView->update();
    overview->update();
    editor->update();
    session->projectChanged();
    mixer->projectChanged();
    browser->projectChanged();
    refreshTransport();
}

void MainWindow::togglePlay() {
    if (app.engine().transport.playing.load())
        stopTransport();
    else
        app.view().play();
}

void MainWindow::stopTransport() {
    const RecordingWorkflow &takes = app.view().recording();
    const bool endsTake = takes.countInActive || takes.isRecordingActive();
    app.view().stop();
    if (!endsTake) return;
    // A kept take is a new clip, selected and shown.
    if (const uint64_t take = app.view().selectedClipId) timelineView->selectClips({take});
    projectChanged();
}

void MainWindow::toggleRecord() {
    app.view().recording().toggleRecording();
    projectChanged();
}

void MainWindow::toggleCycle() {
    Engine &engine = app.engine();
    int64_t start = engine.transport.loopStart.load();
    int64_t end = engine.transport.loopEnd.load();
    if (end <= start) {
        start = 0;
        end = engine.barLengthSamples() * 4;
    }
    app.view().setCycle(start, end, !engine.transport.loopEnabled.load());
    timelineView->update();
}

void MainWindow::togglePunch() {
    std::unique_lock lock(app.engine().projectMutex);
    const bool punch = app.engine().project.punchEnabled;
    lock.unlock();
    edit(std::make_unique<ProjectSettingCommand<bool>>(QT_TRANSLATE_NOOP("Command", "Punch"),
                                                       &Project::punchEnabled, !punch));
}

void MainWindow::toggleMetronome() {
    // The click is a transport switch, not part of the document.
    Engine &engine = app.engine();
    const bool on = !engine.transport.metronomeOn.load();
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.metronomeEnabled = on;
    }
    engine.transport.metronomeOn.store(on);
}

uint64_t MainWindow::clipUnderPlayhead() const {
    Engine &engine = app.engine();
    std::lock_guard lock(engine.projectMutex);
    const int64_t playhead = engine.heardPlayhead();
    const auto inside = [playhead](const Clip &clip) {
        return !clip.isSessionClip() && clip.arrangeStart < playhead &&
               playhead < clip.arrangeStart + clip.length;
    };
    if (const auto selected = engine.project.findClip(app.view().selectedClipId);
        selected && inside(*selected))
        return selected->id;
    if (const auto track = engine.project.findTrack(app.view().selectedTrackId))
        for (const auto &clip : track->clips)
            if (inside(*clip)) return clip->id;
    return 0;
}

uint64_t MainWindow::selectedMidiClip() const {
    std::lock_guard lock(app.engine().projectMutex);
    const auto clip = app.engine().project.findClip(app.view().selectedClipId);
    if (clip && clip->kind == ClipKind::Midi) return clip->id;
    return editor->clipId();
}

void MainWindow::splitAtPlayhead() {
    if (currentTab() != TimelineTab) return;
    if (const uint64_t clip = clipUnderPlayhead())
        edit(std::make_unique<SplitClipCommand>(clip, app.engine().heardPlayhead()));
}

bool MainWindow::editorHasFocus() const {
    const QWidget *focus = QApplication::focusWidget();
    return editorPane->isVisible() && focus && editorPane->isAncestorOf(focus);
}

void MainWindow::duplicateSelection() {
    if (currentTab() != TimelineTab) return;
    timelineView->duplicateSelection();
    projectChanged();
}

void MainWindow::deleteSelection() {
    // Delete acts on what the user sees and last worked in: the piano roll's notes when it
    // has the focus, the timeline's clips on the timeline page, nothing hidden.
    if (editorHasFocus()) {
        editor->deleteSelectedNotes();
        projectChanged();
        return;
    }
    if (currentTab() != TimelineTab) return;
    const std::set<uint64_t> doomed = timelineView->selectedClips();
    if (doomed.contains(editor->clipId())) editorPane->closeEditor();
    timelineView->deleteSelection();
    projectChanged();
}

// The clipboard commands act where the user works: the piano roll's notes when it has the
// focus, the timeline's clips on the timeline page, nothing hidden.
void MainWindow::copySelection() {
    if (editorHasFocus()) return editor->copySelection();
    if (currentTab() == TimelineTab) timelineView->copySelection();
}

void MainWindow::cutSelection() {
    if (editorHasFocus())
        editor->cutSelection();
    else if (currentTab() == TimelineTab)
        timelineView->cutSelection();
    else
        return;
    projectChanged();
}

void MainWindow::paste() {
    if (editorHasFocus())
        editor->paste();
    else if (currentTab() == TimelineTab)
        timelineView->pasteAtPlayhead();
    else
        return;
    projectChanged();
}

void MainWindow::selectAll() {
    if (editorHasFocus()) return editor->selectAll();
    if (currentTab() == TimelineTab) timelineView->selectAll();
}

void MainWindow::addTrack(TrackType type) {
    showTab(type == TrackType::Return ? currentTab() : TimelineTab);
    timelineView->addTrack(type);
    projectChanged();
}

void MainWindow::zoom(double factor) {
    const double centre =
        TimelineGeometry::headerWidth + (timelineView->width() - TimelineGeometry::headerWidth) / 2;
    timelineView->zoomBy(factor, centre);
}

void MainWindow::locate(int64_t position) {
    app.view().locate(position);
    double beats = 0.0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        beats = TimeMap::of(app.engine().project).beats(std::max<int64_t>(position, 0));
    }
    const TimelineGeometry &layout = timelineView->timelineGeometry();
    const double visible =
        (timelineView->width() - TimelineGeometry::headerWidth) / layout.pixelsPerBeat;
    if (beats < layout.scrollBeats || beats > layout.scrollBeats + visible)
        timelineView->scrollToBeats(std::max(0.0, beats - visible / 8.0));
}

void MainWindow::setSnap(bool on) {
    const GridQuantize grid = on ? lastGrid : GridQuantize::Off;
    const int index = gridPopup->findData(static_cast<int>(grid));
    if (index >= 0) gridPopup->setCurrentIndex(index);
}

bool MainWindow::openFromCommandLine(const std::vector<std::string> &arguments, bool recovered) {
    if (arguments.size() != 1 || arguments.front().empty()) return false;
    const std::string &path = arguments.front();
    // A recovered document is the crashed session's unsaved work: the project named on the
    // command line replaces it only when the user says so.
    if (recovered && !app.view().confirmDiscardingChanges(translate("OVMainView", "Open project?"),
                                                          translate("OVMainView", "Don't Save")))
        return true;
    std::error_code ignored;
    if (!std::filesystem::is_directory(path, ignored)) {
        setStatus(withArguments(
            tr("“%1” is not a project folder: nothing was opened").toStdString(), {path}));
        return true;
    }
    openProject(std::filesystem::absolute(path, ignored).string());
    return true;
}

void MainWindow::openProject(const std::string &path) {
    documentJobs->finishAll();
    std::optional<LongJob> job =
        path.empty() ? app.view().prepareOpenProject() : app.view().prepareOpenProjectAt(path);
    if (!job) return;
    job->finish = [this, adopt = std::move(job->finish)] {
        adopt();
        projectChanged();
        timelineView->fitToContent();
    };
    // The project is read and its media decoded on the document worker, after the saves of
    // the current one; the window shows it once the job has replaced the document.
    documentJobs->run(std::move(*job));
}

namespace {
constexpr int recentProjectsKept = 8;
const char *const recentProjectsKey = "recentProjects";
} // namespace

void MainWindow::rememberRecentProject(const std::string &path) {
    if (path.empty()) return;
    QSettings settings(QStringLiteral("Halvora"), QStringLiteral("Halvora"));
    QStringList recent = settings.value(QString::fromLatin1(recentProjectsKey)).toStringList();
    const QString entry = QString::fromStdString(path);
    recent.removeAll(entry);
    recent.prepend(entry);
    while (recent.size() > recentProjectsKept)
        recent.removeLast();
    settings.setValue(QString::fromLatin1(recentProjectsKey), recent);
}

QStringList MainWindow::recentProjects() const {
    QSettings settings(QStringLiteral("Halvora"), QStringLiteral("Halvora"));
    return settings.value(QString::fromLatin1(recentProjectsKey)).toStringList();
}

void MainWindow::fillRecentMenu() {
    recentMenu->clear();
    const QStringList recent = recentProjects();
    for (const QString &path : recent) {
        QAction *entry = recentMenu->addAction(QFileInfo(path).fileName(), this,
                                               [this, path] { openProject(path.toStdString()); });
        entry->setToolTip(path);
        entry->setEnabled(QFileInfo(path).isDir());
    }
    if (recent.isEmpty()) recentMenu->addAction(tr("No recent projects"))->setEnabled(false);
}

void MainWindow::refreshTitle() {
    const std::string &path = app.view().projectPath;
    // An untouched new song is just the program; once it has a name or edits, the title says
    // which song it is and whether it is saved.
    if (path.empty() && !app.view().projectDirty) {
        if (windowTitle() != QStringLiteral("Halvora")) setWindowTitle(QStringLiteral("Halvora"));
        setWindowModified(false);
        return;
    }
    QString name;
    if (!path.empty()) {
        name = QFileInfo(QString::fromStdString(path)).completeBaseName();
    } else {
        std::lock_guard lock(app.engine().projectMutex);
        name = QString::fromStdString(app.engine().project.name);
    }
    const QString title = tr("%1[*] — Halvora").arg(name);
    if (windowTitle() != title) setWindowTitle(title);
    if (isWindowModified() != app.view().projectDirty) setWindowModified(app.view().projectDirty);
    if (path != titledPath) {
        titledPath = path;
        rememberRecentProject(path);
    }
}

void MainWindow::refreshHistoryActions() {
    const auto label = [](const QString &verb, const std::string &step) {
        return step.empty()
                   ? verb
                   : tr("%1: %2").arg(verb, QString::fromStdString(shownCommandName(step)));
    };
    const std::string undoStep = app.commands().undoName();
    const std::string redoStep = app.commands().redoName();
    undoAction->setText(label(tr("Undo"), undoStep));
    undoAction->setEnabled(!undoStep.empty());
    redoAction->setText(label(tr("Redo"), redoStep));
    redoAction->setEnabled(!redoStep.empty());
}

void MainWindow::importAudio() {
    if (std::optional<LongJob> job = app.view().prepareImportAudio())
        timelineView->importJobs().run(std::move(*job));
}

void MainWindow::autosave() {
    // A save already on its way writes the document; the next tick comes soon enough.
    if (documentJobs->busy()) return;
    if (std::optional<LongJob> job = app.prepareAutosave()) documentJobs->run(std::move(*job));
}

void MainWindow::finishLongJobs() {
    documentJobs->finishAll();
    for (LongJobRunner *runner : {exportJobs, &timelineView->importJobs()}) {
        runner->cancel();
        runner->finishAll();
    }
}

void MainWindow::undo() {
    app.view().undoEdit();
    projectChanged();
}

void MainWindow::redo() {
    app.view().redoEdit();
    projectChanged();
}

void MainWindow::openMidiClip(uint64_t clipId) { editorPane->showClip(clipId); }

SynthPanel *MainWindow::instrumentPanel() const { return instrumentWindow.data(); }

SynthPanel *MainWindow::openInstrumentPanel(uint64_t trackId) {
    bool midi = false;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto track = app.engine().project.findTrack(trackId);
        midi = track && track->type == TrackType::Midi;
    }
    if (!midi) {
        setStatus(tr("Choose a MIDI track to see its instrument").toStdString());
        return nullptr;
    }
    if (instrumentWindow && instrumentWindow->trackId() != trackId) instrumentWindow->close();
    if (!instrumentWindow) {
        instrumentWindow = new SynthPanel(app, trackId, this);
        instrumentWindow->onEdited = [this] { projectChanged(); };
        instrumentWindow->onUndo = [this] { undo(); };
        instrumentWindow->onRedo = [this] { redo(); };
    }
    instrumentWindow->show();
    instrumentWindow->raise();
    instrumentWindow->activateWindow();
    return instrumentWindow;
}

AudioSettingsPanel *MainWindow::openAudioSettings() {
    auto *panel = new AudioSettingsPanel(app, this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->open();
    return panel;
}

namespace {
/// The one window of its kind that `kept` watches: made on first use, raised when it is open
/// already, gone when the user closes it.
template <class Window>
Window *showKeptWindow(QPointer<Window> &kept, OVApplication &app, QWidget *parent) {
    if (!kept) {
        kept = new Window(app, parent);
        kept->setAttribute(Qt::WA_DeleteOnClose);
    }
    kept->show();
    kept->raise();
    return kept;
}
} // namespace

MidiMappingsWindow *MainWindow::openMidiMappings() {
    return showKeptWindow(midiMappings, app, this);
}

PluginDspWindow *MainWindow::openPluginDsp() { return showKeptWindow(pluginDsp, app, this); }

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape &&
        app.view().midiLearning().waiting()) {
        app.view().midiLearning().cancel();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showTab(Tab tab) { tabs->setCurrentIndex(tab); }

MainWindow::Tab MainWindow::currentTab() const { return static_cast<Tab>(tabs->currentIndex()); }

QString MainWindow::statusText() const { return statusLine->text(); }

QAction *MainWindow::action(const QString &text) const {
    const auto actions = findChildren<QAction *>();
    // Named by what it shows, or by its source text in whichever language the window speaks.
    const QString translated = tr(text.toUtf8().constData());
    for (const QString &name : {text, translated}) {
        for (QAction *candidate : actions)
            if (candidate->text() == name) return candidate;
        // Undo and redo carry the step's name after a colon.
        for (QAction *candidate : actions)
            if (candidate->text().startsWith(name + QLatin1Char(':'))) return candidate;
    }
    return nullptr;
}

void MainWindow::setStatus(const std::string &text) { app.status().setText(text); }

void MainWindow::showShortcuts() {
    // Built from the actions themselves, so the list never disagrees with the keys.
    QString text;
    QStringList seen;
    for (QAction *candidate : findChildren<QAction *>()) {
        if (candidate->shortcut().isEmpty() || candidate->text().isEmpty()) continue;
        QString name = candidate->text().section(QLatin1Char(':'), 0, 0);
        name.remove(QLatin1Char('&'));
        const QString line = QStringLiteral("%1\t%2").arg(
            candidate->shortcut().toString(QKeySequence::NativeText), name);
        if (seen.contains(line)) continue;
        seen << line;
    }
    seen.sort();
    text = seen.join(QLatin1Char('\n'));
    text += tr("\nCtrl+wheel\tzoom\nShift+wheel\tscroll in time\n"
               "Shift+drag\tmove without the grid\nDouble-click a name\trename");
    QMessageBox::information(this, tr("Keyboard Shortcuts"), text);
}

void MainWindow::showPrivacy() {
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Privacy"));
    auto *layout = new QVBoxLayout(&dialog);
    const PrivacyPreferences current = readPrivacyPreferences();
    auto *telemetry = new QCheckBox(tr("Telemetry"), &dialog);
    auto *crashes = new QCheckBox(tr("Crash reports"), &dialog);
    telemetry->setChecked(current.telemetry);
    crashes->setChecked(current.crashReports);
    layout->addWidget(telemetry);
    layout->addWidget(crashes);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() == QDialog::Accepted)
        app.applyPrivacyPreferences(
            PrivacyPreferences{telemetry->isChecked(), crashes->isChecked()});
}

void MainWindow::showRemoteControl() {
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Remote Control"));
    auto *layout = new QVBoxLayout(&dialog);
    const RemotePreferences current = readRemotePreferences();
    auto *enabled = new QCheckBox(tr("Listen for OSC remote control"), &dialog);
    enabled->setObjectName(QStringLiteral("remoteEnabled"));
    enabled->setChecked(current.enabled);
    auto *portRow = new QHBoxLayout;
    auto *portLabel = new QLabel(tr("UDP port:"), &dialog);
    auto *port = new QSpinBox(&dialog);
    port->setObjectName(QStringLiteral("remotePort"));
    port->setRange(1024, 65535);
    port->setValue(std::clamp(current.port, 1024, 65535));
    // Five digits and the arrows, whatever the style's own guess.
    port->setMinimumWidth(port->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 36);
    portLabel->setBuddy(port);
    portRow->addWidget(portLabel);
    portRow->addWidget(port);
    portRow->addStretch();
    auto *network = new QCheckBox(tr("Allow from the network"), &dialog);
    network->setObjectName(QStringLiteral("remoteNetwork"));
    network->setChecked(current.allowNetwork);
    network->setToolTip(tr("Off: only programs on this computer can reach the port"));
    auto *note = new QLabel(tr("The OSC addresses are listed in README.md."), &dialog);
    note->setWordWrap(true);
    const auto follow = [enabled, port, network] {
        port->setEnabled(enabled->isChecked());
        network->setEnabled(enabled->isChecked());
    };
    connect(enabled, &QCheckBox::toggled, &dialog, follow);
    follow();
    layout->addWidget(enabled);
    layout->addLayout(portRow);
    layout->addWidget(network);
    layout->addWidget(note);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return;
    RemotePreferences chosen;
    chosen.enabled = enabled->isChecked();
    chosen.port = port->value();
    chosen.allowNetwork = network->isChecked();
    // A port that cannot be had is not remembered as on; the status line says why.
    if (!app.remote().applyPreferences(chosen)) chosen.enabled = false;
    writeRemotePreferences(chosen);
}

void MainWindow::quitForSessionManager() {
    if (terminated) return;
    finishLongJobs();
    uiTimer->stop();
    autosaveTimer->stop();
    app.willTerminate();
    terminated = true;
    close();
    // A dialog open at the time runs its own loop; every loop ends, and the program with them.
    QApplication::exit(0);
}

void MainWindow::offerQuickStart() {
    if (quickStartWasOffered()) return;
    (void)rememberQuickStartOffered(); // unremembered, it is offered again next time
    QuickStartPanel panel(this);
    panel.exec();
}

// --- Ticks ---------------------------------------------------------------------------------

void MainWindow::refreshTransport() {
    Engine &engine = app.engine();
    const int64_t playhead = engine.heardPlayhead();
    std::lock_guard lock(engine.projectMutex);
    const TimeMap time = TimeMap::of(engine.project);
    positionBars->setText(QString::fromStdString(time.barsBeats(playhead)));
    positionTime->setText(clockText(playhead, time.sampleRate));
    if (!tempoField->hasFocus()) {
        const QSignalBlocker quiet(tempoField);
        tempoField->setValue(engine.tempo.load());
    }
    const TimeSignature meter = engine.currentMeter();
    const QString meterText = QStringLiteral("%1/%2").arg(meter.numerator).arg(meter.denominator);
    if (meterField->currentText() != meterText) {
        const QSignalBlocker quiet(meterField);
        const int index = meterField->findText(meterText);
        if (index < 0) meterField->addItem(meterText);
        meterField->setCurrentIndex(meterField->findText(meterText));
    }
    const int grid = gridPopup->findData(static_cast<int>(engine.project.gridQuantize));
    if (grid >= 0 && grid != gridPopup->currentIndex()) {
        const QSignalBlocker quiet(gridPopup);
        gridPopup->setCurrentIndex(grid);
    }
    playAction->setChecked(engine.transport.playing.load());
    // The toggles show the engine's and the document's state, whoever changed it.
    cycleAction->setChecked(engine.transport.loopEnabled.load());
    metronomeAction->setChecked(engine.transport.metronomeOn.load());
    punchAction->setChecked(engine.project.punchEnabled);
    lowLatencyAction->setChecked(engine.project.lowLatencyMode);
    snapAction->setChecked(engine.project.gridQuantize != GridQuantize::Off);
    const int mode = static_cast<int>(engine.project.automationWriteMode);
    if (writeModeField->currentIndex() != mode) {
        const QSignalBlocker quiet(writeModeField);
        writeModeField->setCurrentIndex(mode);
    }
    // The load of the blocks since the last look, so the figure follows what plays now.
    const DspLoadSummary load = app.audio().dspLoad();
    const double loadSum = load.mean * static_cast<double>(load.blocks);
    const uint64_t newBlocks = load.blocks - std::min(load.blocks, loadShown.blocks);
    const int percent =
        newBlocks > 0 ? static_cast<int>(std::lround(100.0 * (loadSum - loadShown.sum) / newBlocks))
                      : 0;
    loadShown = {load.blocks, loadSum};
    const QString text =
        tr("DSP %1 % · xruns %2").arg(std::clamp(percent, 0, 999)).arg(app.audio().xrunCount());
    if (loadLabel->text() != text) loadLabel->setText(text);
}

void MainWindow::tick() {
    if (RemoteControl::terminationRequested()) return quitForSessionManager();
    app.onTick();
    const uint64_t generation = app.engine().projectGeneration.load();
    if (generation != projectGenerationSeen) {
        // Another project was opened or made: nothing of the old one stays open.
        projectGenerationSeen = generation;
        editorPane->closeEditor();
        projectChanged();
    }
    timelineView->onTick();
    if (overview->isVisible()) overview->followTimeline();
    session->onTick();
    mixer->onTick();
    if (browser->isVisible()) browser->onTick();
    if (app.engine().transport.playing.load() && editorPane->isVisible()) editor->update();
    refreshTransport();
    refreshTitle();
    const QString status = QString::fromStdString(app.status().text());
    if (statusLine->text() != status) statusLine->setText(status);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (terminated) {
        event->accept();
        return;
    }
    // A save on its way is written out before the question about unsaved changes.
    documentJobs->finishAll();
    if (!app.shouldTerminate()) {
        event->ignore();
        return;
    }
    finishLongJobs();
    uiTimer->stop();
    autosaveTimer->stop();
    app.willTerminate();
    terminated = true;
    event->accept();
}

// --- The program -----------------------------------------------------------------------------

int runWindow(int argc, char **argv) {
    QApplication program(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Halvora"));
    QApplication::setDesktopFileName(QStringLiteral("halvora"));
    QApplication::setQuitOnLastWindowClosed(true);
    std::string languageError;
    if (!useLanguage(chooseLanguage(), languageError))
        std::fprintf(stderr, "Halvora: %s; showing English\n", languageError.c_str());
    QtApplicationUi ui;
    OVApplication application(ui);
    application.didFinishLaunching();
    MainWindow window(application);
    ui.parent = &window;
    window.show();
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index)
        arguments.emplace_back(argv[index]);
    QTimer::singleShot(0, &window, [&application, &window, arguments] {
        const bool recovered = application.offerRecoveryIfNeeded();
        // Under a session manager the manager opens the project; nobody waits for the panel.
        if (!window.openFromCommandLine(arguments, recovered) &&
            !application.remote().underSessionManager())
            window.offerQuickStart();
    });
    const int result = QApplication::exec();
    return result;
}

} // namespace orvane

// The window's toolbar and menus. Every item forwards to the window's actions, the timeline,
// the application's view or its services; every edit is a command.
#include "app/window/MainWindow.h"
#include "app/window/SynthPanel.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/RemoteControl.h"
#include "app/shell/SessionState.h"
#include "app/window/ArrangementOverview.h"
#include "app/window/LongJobRunner.h"
#include "app/window/MidiEditor.h"
#include "app/window/MixerPanel.h"
#include "app/window/SettingsPanels.h"
#include "app/window/Theme.h"
#include "app/window/TimelineView.h"
#include "app/window/TransportSyncControls.h"
#include "app/window/WorkspacePanels.h"
#include "app/workflows/AutomationWriter.h"
#include "app/workflows/TempoTools.h"
#include "core/commands/AudioProcessingCommands.h"
#include "core/commands/GrooveCommands.h"
#include "core/commands/InsertListCommands.h"
#include "core/commands/MarkerCommands.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/NoteTransformCommands.h"
#include "core/commands/ProjectSettingCommands.h"
#include "core/commands/SessionCommands.h"
#include "core/commands/TagAndTuningCommands.h"
#include "core/engine/Engine.h"
#include "core/model/BuiltInPresets.h"
#include "core/music/ScalaFiles.h"
#include "core/plugins/PluginRack.h"
#include "device/DeviceSettings.h"
#include "device/OfflineRender.h"
#include "translations/Language.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QToolBar>

namespace orvane {

namespace {

/// Gives a label that changes at every tick the fixed size of its widest text: a label whose
/// size can change makes every new text lay the whole tool bar out again, which while playing
/// cost more than painting what moved.
void holdSizeFor(QLabel *label, const QString &widest) {
    const QFontMetrics metrics(label->font());
    const int margin = 2 * label->margin() + 12;
    label->setFixedSize(metrics.horizontalAdvance(widest) + margin,
                        std::max(label->sizeHint().height(), metrics.height()));
}

/// A toolbar icon drawn from one glyph of the interface font, light on the dark bar.
QIcon glyphIcon(const QString &glyph, QColor colour = theme::text) {
    QPixmap pixmap(40, 40);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = QApplication::font();
    font.setPixelSize(30);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, glyph);
    painter.end();
    return QIcon(pixmap);
}

QAction *toolAction(QToolBar *bar, const QString &text, const QString &glyph, const QString &tip,
                    QColor colour = theme::text) {
    QAction *action = bar->addAction(glyphIcon(glyph, colour), text);
    action->setToolTip(tip);
    return action;
}

/// The export's format, rate, dither and normalisation, kept for every export after.
void editExportOptions(QWidget *parent, OVMainView &view) {
    QDialog dialog(parent);
    dialog.setWindowTitle(MainWindow::tr("Export Settings"));
    auto *form = new QFormLayout(&dialog);
    auto *format = new QComboBox(&dialog);
    const std::array<std::pair<const char *, std::pair<ExportContainer, int32_t>>, 7> formats{{
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "WAV 16-bit"), {ExportContainer::Wav, 16}},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "WAV 24-bit"), {ExportContainer::Wav, 24}},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "WAV 32-bit float"), {ExportContainer::Wav, 32}},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "FLAC 16-bit"), {ExportContainer::Flac, 16}},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "FLAC 24-bit"), {ExportContainer::Flac, 24}},
        {"Ogg Vorbis", {ExportContainer::Ogg, 32}},
        {"MP3", {ExportContainer::Mp3, 32}},
    }};
    for (std::size_t index = 0; index < formats.size(); ++index) {
        format->addItem(MainWindow::tr(formats[index].first));
        const auto &[container, bits] = formats[index].second;
        if (container == view.exportFormat.container &&
            (bits == view.exportFormat.bits || container == ExportContainer::Ogg ||
             container == ExportContainer::Mp3))
            format->setCurrentIndex(static_cast<int>(index));
    }
    auto *rate = new QComboBox(&dialog);
    rate->addItem(MainWindow::tr("Same as project"), 0.0);
    for (const double value : {44100.0, 48000.0, 88200.0, 96000.0})
        rate->addItem(MainWindow::tr("%1 kHz").arg(QLocale().toString(value / 1000.0)), value);
    rate->setCurrentIndex(std::max(0, rate->findData(view.exportFormat.sampleRate)));
    auto *dither = new QCheckBox(MainWindow::tr("TPDF dither (16 and 24 bit)"), &dialog);
    dither->setChecked(view.exportFormat.dither);
    auto *quality = new QDoubleSpinBox(&dialog);
    quality->setRange(0.0, 1.0);
    quality->setSingleStep(0.1);
    quality->setValue(view.exportFormat.quality);
    auto *normalize = new QComboBox(&dialog);
    normalize->addItems({MainWindow::tr("None"), MainWindow::tr("Peak (dBFS)"),
                         MainWindow::tr("True peak (dBTP)"), MainWindow::tr("Loudness (LUFS)")});
    normalize->setCurrentIndex(static_cast<int>(view.exportNormalization.mode));
    auto *target = new QDoubleSpinBox(&dialog);
    target->setRange(-70.0, 0.0);
    target->setDecimals(1);
    target->setValue(view.exportNormalization.mode == NormalizeMode::Off
                         ? -14.0
                         : view.exportNormalization.target);
    auto *ceiling = new QDoubleSpinBox(&dialog);
    ceiling->setRange(-70.0, 0.0);
    ceiling->setDecimals(1);
    ceiling->setValue(view.exportNormalization.ceilingDb);
    form->addRow(MainWindow::tr("Format"), format);
    form->addRow(MainWindow::tr("Sample rate"), rate);
    form->addRow(QString(), dither);
    form->addRow(MainWindow::tr("Ogg/MP3 quality"), quality);
    form->addRow(MainWindow::tr("Normalize"), normalize);
    form->addRow(MainWindow::tr("Target"), target);
    form->addRow(MainWindow::tr("True peak ceiling"), ceiling);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return;
    const auto &[container, bits] =
        formats[static_cast<std::size_t>(format->currentIndex())].second;
    ExportFormat chosen{container, bits, rate->currentData().toDouble(), dither->isChecked(),
                        quality->value()};
    // MP3 has no rate above 48 kHz: it keeps the project's.
    if (container == ExportContainer::Mp3 && chosen.sampleRate > 48000.0) chosen.sampleRate = 0.0;
    view.exportFormat = chosen;
    view.exportNormalization = {static_cast<NormalizeMode>(normalize->currentIndex()),
                                target->value(), ceiling->value()};
}

} // namespace

void MainWindow::buildToolbar() {
    QToolBar *bar = addToolBar(tr("Transport"));
    bar->setObjectName(QStringLiteral("transport"));
    bar->setMovable(false);
    bar->setIconSize(QSize(20, 20));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    playAction = toolAction(bar, tr("Play"), QStringLiteral("▶"), tr("Play / stop (Space)"),
                            QColor(120, 220, 130));
    connect(playAction, &QAction::triggered, this, &MainWindow::togglePlay);
    playAction->setShortcut(Qt::Key_Space);
    playAction->setCheckable(true);
    stopAction =
        toolAction(bar, tr("Stop"), QStringLiteral("■"), tr("Stop and return to the start"));
    connect(stopAction, &QAction::triggered, this, &MainWindow::stopTransport);
    recordAction = toolAction(bar, tr("Record"), QStringLiteral("●"),
                              tr("Record the armed track, or into the session (R, "
                                 "Ctrl+R)"),
                              theme::armOn);
    connect(recordAction, &QAction::triggered, this, &MainWindow::toggleRecord);
    recordAction->setShortcuts({QKeySequence(Qt::Key_R), QKeySequence(Qt::CTRL | Qt::Key_R)});
    bar->addSeparator();
    metronomeAction =
        toolAction(bar, tr("Metronome"), QStringLiteral("♩"), tr("Metronome click on or off (K)"));
    metronomeAction->setCheckable(true);
    metronomeAction->setShortcut(Qt::Key_K);
    connect(metronomeAction, &QAction::triggered, this, &MainWindow::toggleMetronome);
    cycleAction = toolAction(bar, tr("Cycle"), QStringLiteral("↻"),
                             tr("Cycle the range on the ruler (C); drag in the "
                                "ruler's lower half to set it"));
    cycleAction->setCheckable(true);
    cycleAction->setShortcut(Qt::Key_C);
    connect(cycleAction, &QAction::triggered, this, &MainWindow::toggleCycle);
    punchAction = toolAction(bar, tr("Punch"), QStringLiteral("⇥"),
                             tr("Punch recording between the punch points"));
    punchAction->setCheckable(true);
    connect(punchAction, &QAction::triggered, this, &MainWindow::togglePunch);
    splitAction = toolAction(bar, tr("Split at Playhead"), QStringLiteral("✂"),
                             tr("Split at the playhead (S)"));
    splitAction->setShortcut(Qt::Key_S);
    connect(splitAction, &QAction::triggered, this, &MainWindow::splitAtPlayhead);
    bar->addSeparator();
    positionBars = new QLabel(QStringLiteral("1.1.1"), bar);
    holdSizeFor(positionBars, QStringLiteral("9999.16.16"));
    positionBars->setToolTip(tr("Playhead in bars, beats and sixteenths"));
    positionTime = new QLabel(QStringLiteral("0:00.000"), bar);
    holdSizeFor(positionTime, QStringLiteral("999:59.999"));
    positionTime->setToolTip(tr("Playhead in minutes and seconds"));
    tempoField = new QDoubleSpinBox(bar);
    tempoField->setRange(20.0, 999.0);
    tempoField->setDecimals(1);
    tempoField->setSuffix(QStringLiteral(" BPM"));
    // Room for the widest value and the arrows, which otherwise sit on the suffix.
    tempoField->setMinimumWidth(
        tempoField->fontMetrics().horizontalAdvance(QStringLiteral("999.9 BPM")) + 40);
    tempoField->setToolTip(tr("Project tempo"));
    meterField = new QComboBox(bar);
    meterField->setMinimumWidth(56);
    meterField->setToolTip(tr("Project meter"));
    for (const char *meter : {"4/4", "3/4", "5/4", "6/8"})
        meterField->addItem(QString::fromLatin1(meter));
    bar->addWidget(positionBars);
    bar->addWidget(positionTime);
    bar->addWidget(tempoField);
    bar->addWidget(meterField);
    transportSync = new TransportSyncControls(app, bar);
    bar->addWidget(transportSync);
    connect(tempoField, &QDoubleSpinBox::editingFinished, this, [this] {
        const double bpm = tempoField->value();
        std::unique_lock lock(app.engine().projectMutex);
        const double current = app.engine().project.tempoBpm;
        lock.unlock();
        if (std::abs(bpm - current) > 1e-6) edit(std::make_unique<SetProjectTempoCommand>(bpm));
    });
    connect(meterField, &QComboBox::activated, this, [this](int index) {
        const TimeSignature meters[] = {{4, 4}, {3, 4}, {5, 4}, {6, 8}};
        if (index >= 0 && index < 4)
            edit(std::make_unique<ProjectSettingCommand<TimeSignature>>(
                QT_TRANSLATE_NOOP("Command", "Meter"), &Project::timeSignature, meters[index]));
    });
    bar->addSeparator();
    snapAction = toolAction(bar, tr("Snap"), QStringLiteral("#"),
                            tr("Snap to the grid (Shift while dragging bypasses it)"));
    snapAction->setCheckable(true);
    connect(snapAction, &QAction::triggered, this, [this](bool on) { setSnap(on); });
    gridPopup = new QComboBox(bar);
    gridPopup->setToolTip(tr("Grid for snapping and quantising"));
    const std::pair<const char *, GridQuantize> grids[] = {
        {"1/4", GridQuantize::Quarter},
        {"1/8", GridQuantize::Eighth},
        {"1/16", GridQuantize::Sixteenth},
        {"1/4T", GridQuantize::QuarterTriplet},
        {"1/8T", GridQuantize::EighthTriplet},
        {"1/16T", GridQuantize::SixteenthTriplet},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "Bar"), GridQuantize::Bar},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "Off"), GridQuantize::Off}};
    for (const auto &[label, grid] : grids)
        gridPopup->addItem(tr(label), static_cast<int>(grid));
    // Wide enough for its longest choice ("1/16T"), whichever is shown.
    gridPopup->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    gridPopup->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(gridPopup, &QComboBox::currentIndexChanged, this, [this] {
        // The grid is a view setting, not part of the document.
        const auto grid = static_cast<GridQuantize>(gridPopup->currentData().toInt());
        if (grid != GridQuantize::Off) lastGrid = grid;
        std::lock_guard lock(app.engine().projectMutex);
        app.engine().project.gridQuantize = grid;
    });
    bar->addWidget(gridPopup);
    bar->addSeparator();
    writeModeField = new QComboBox(bar);
    writeModeField->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    writeModeField->setToolTip(
        tr("Automation write mode for faders and pans: Read plays the lanes; Touch "
           "and Latch write while playing; Write writes always"));
    for (const char *mode : {QT_TRANSLATE_NOOP("orvane::MainWindow", "Read"),
                             QT_TRANSLATE_NOOP("orvane::MainWindow", "Touch"),
                             QT_TRANSLATE_NOOP("orvane::MainWindow", "Latch"),
                             QT_TRANSLATE_NOOP("orvane::MainWindow", "Write")})
        writeModeField->addItem(tr(mode));
    // A crowded toolbar squeezes its widgets; the longest mode must still read whole. The
    // themed field draws its arrow inside the width the style reports for the text, so room
    // for the arrow and the padding is added to the longest text.
    int longestMode = 0;
    for (int mode = 0; mode < writeModeField->count(); ++mode)
        longestMode = std::max(longestMode, writeModeField->fontMetrics().horizontalAdvance(
                                                writeModeField->itemText(mode)));
    writeModeField->setMinimumWidth(longestMode + 40);
    writeModeField->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(writeModeField, &QComboBox::activated, this, [this](int index) {
        app.view().automation().setAutomationWriteMode(static_cast<AutomationWriteMode>(index));
    });
    bar->addWidget(writeModeField);
    bar->addSeparator();
    // The pages and the load live outside the toolbar, which a narrow window squeezes into
    // its overflow: the tabs at the menu bar's right, the load on the status line.
    tabs = new QTabBar(this);
    tabs->addTab(tr("Timeline"));
    tabs->addTab(tr("Session"));
    tabs->addTab(tr("Mixer"));
    tabs->setToolTip(tr("Pages: Ctrl+1, Ctrl+2, Ctrl+3"));
    // A clip or file held over a tab opens its page after a moment, to be dropped there.
    tabs->setAcceptDrops(true);
    tabs->setChangeCurrentOnDrag(true);
    connect(tabs, &QTabBar::currentChanged, this,
            [this](int index) { pages->setCurrentIndex(index); });
    tabs->setDrawBase(false);
    tabs->setExpanding(false);
    menuBar()->setCornerWidget(tabs, Qt::TopRightCorner);
    loadLabel = new QLabel(this);
    holdSizeFor(loadLabel, tr("DSP %1 % · xruns %2").arg(999).arg(999999));
    loadLabel->setToolTip(
        tr("Audio processing load of the last moment, and device underruns (xruns) "
           "since start"));
    statusBar()->addPermanentWidget(loadLabel);
}

void MainWindow::buildMenus() {
    QMenu *application = menuBar()->addMenu(QStringLiteral("Halvora"));
    application->addAction(tr("About Halvora…"), this, [this] {
        QMessageBox::about(this, QStringLiteral("Halvora"), tr("Halvora 1.0.0"));
    });
    application->addAction(tr("Quit Halvora"), QKeySequence(Qt::CTRL | Qt::Key_Q), this,
                           &QWidget::close);
    buildFileMenu(menuBar()->addMenu(tr("File")));
    buildEditMenu(menuBar()->addMenu(tr("Edit")));
    buildTrackMenu(menuBar()->addMenu(tr("Track")));
    buildClipMenu(menuBar()->addMenu(tr("Clip")));
    buildViewMenu(menuBar()->addMenu(tr("View")));
    buildTransportMenu(menuBar()->addMenu(tr("Transport")));
    buildStudioMenu(menuBar()->addMenu(tr("Studio")));
    buildHelpMenu(menuBar()->addMenu(tr("Help")));
}

void MainWindow::buildFileMenu(QMenu *file) {
    OVMainView &view = app.view();
    // Replacing the document waits for the saves of the current one.
    const auto replacing = [this](auto operation) {
        return [this, operation] {
            documentJobs->finishAll();
            operation();
            projectChanged();
            timelineView->fitToContent();
        };
    };
    const auto onWorker = [](LongJobRunner *runner, auto prepare) {
        return [runner, prepare] {
            if (std::optional<LongJob> job = prepare()) runner->run(std::move(*job));
        };
    };
    file->addAction(tr("Import Audio…"), QKeySequence(Qt::CTRL | Qt::Key_I), this,
                    [this] { importAudio(); });
    file->addAction(tr("Export WAV…"), QKeySequence(Qt::CTRL | Qt::Key_E), this,
                    onWorker(exportJobs, [&view] { return view.prepareExportWav(); }));
    file->addAction(tr("Export Track as WAV…"), this,
                    onWorker(exportJobs, [&view] { return view.prepareExportSelectedTrackWav(); }));
    file->addAction(tr("Export Cycle Range as WAV…"), this,
                    onWorker(exportJobs, [&view] { return view.prepareExportLoopWav(); }));
    // Read and placed on the import worker: a file of many tempo changes must not hold the
    // window still.
    file->addAction(tr("Import MIDI File…"), this, [this, &view] {
        std::optional<LongJob> job = view.prepareImportMidiFile();
        if (!job) return;
        job->finish = [this, place = std::move(job->finish)] {
            place();
            projectChanged();
        };
        timelineView->importJobs().run(std::move(*job));
    });
    file->addAction(tr("Export MIDI File…"), this, [&view] { view.exportMidiFileFromMenu(); });
    file->addAction(tr("Export Stems…"), this,
                    onWorker(exportJobs, [&view] { return view.prepareExportStems(); }));
    file->addAction(tr("Export Settings…"), this, [this, &view] { editExportOptions(this, view); });
    file->addSeparator();
    QAction *newAction = file->addAction(tr("New Project"), QKeySequence(Qt::CTRL | Qt::Key_N),
                                         this, replacing([&view] { view.newProject(); }));
    QAction *openAction = file->addAction(tr("Open Project…"), QKeySequence(Qt::CTRL | Qt::Key_O),
                                          this, [this] { openProject({}); });
    recentMenu = file->addMenu(tr("Open Recent"));
    connect(recentMenu, &QMenu::aboutToShow, this, &MainWindow::fillRecentMenu);
    file->addAction(tr("Save Project…"), QKeySequence(Qt::CTRL | Qt::Key_S), this,
                    onWorker(documentJobs, [&view] { return view.prepareSave(); }));
    QAction *saveAsAction =
        file->addAction(tr("Save As…"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S), this,
                        onWorker(documentJobs, [&view] { return view.prepareSaveAs(); }));
    // Under a session manager the project's place and which project is open are the
    // manager's: the window offers neither.
    if (app.remote().underSessionManager())
        for (QAction *managed : {newAction, openAction, recentMenu->menuAction(), saveAsAction}) {
            managed->setVisible(false);
            managed->setEnabled(false);
        }
    file->addAction(tr("Collect Media and Save…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
                    this,
                    onWorker(documentJobs, [&view] { return view.prepareCollectAllAndSave(); }));
    file->addSeparator();
    undoAction =
        file->addAction(tr("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), this, &MainWindow::undo);
    redoAction = file->addAction(tr("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this,
                                 &MainWindow::redo);
}

void MainWindow::buildEditMenu(QMenu *editing) {
    // The same actions as the file menu's, so one key never means two things.
    editing->addAction(undoAction);
    editing->addAction(redoAction);
    editing->addSeparator();
    editing->addAction(tr("Cut"), QKeySequence::Cut, this, &MainWindow::cutSelection);
    editing->addAction(tr("Copy"), QKeySequence::Copy, this, &MainWindow::copySelection);
    editing->addAction(tr("Paste"), QKeySequence::Paste, this, &MainWindow::paste);
    editing->addAction(tr("Duplicate"), QKeySequence(Qt::CTRL | Qt::Key_D), this,
                       &MainWindow::duplicateSelection);
    editing->addAction(tr("Delete"), QKeySequence(Qt::Key_Delete), this,
                       &MainWindow::deleteSelection);
    editing->addAction(splitAction);
    editing->addSeparator();
    editing->addAction(tr("Select All"), QKeySequence::SelectAll, this, &MainWindow::selectAll);
}

void MainWindow::buildTrackMenu(QMenu *track) {
    TimelineView &timeline = *timelineView;
    const auto selected = [this] { return app.view().selectedTrackId; };
    track->addAction(tr("Add Audio Track"), QKeySequence(Qt::CTRL | Qt::Key_T), this,
                     [this] { addTrack(TrackType::Audio); });
    track->addAction(tr("Add MIDI Track"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T), this,
                     [this] { addTrack(TrackType::Midi); });
    track->addAction(tr("Add Return Track"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_T), this,
                     [this] { addTrack(TrackType::Return); });
    track->addSeparator();
    track->addAction(tr("Rename Track"), QKeySequence(Qt::Key_F2), this,
                     [this, &timeline, selected] {
                         showTab(TimelineTab);
                         timeline.beginRename(selected());
                     });
    track->addAction(tr("Track Colour…"), this,
                     [&timeline, selected] { timeline.chooseColour(selected()); });
    track->addAction(tr("Instrument…"), this,
                     [this, selected] { (void)openInstrumentPanel(selected()); });
    // The picker inserts into the track's chain, which the mixer shows.
    track->addAction(tr("Insert Plug-in…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I), this,
                     [this, selected] {
                         showTab(MixerTab);
                         auto &strips = static_cast<MixerPanel &>(mixerPanel());
                         strips.selectChannel(selected());
                         (void)strips.openPluginPicker();
                     });
    track->addAction(tr("Move Track Up"), QKeySequence(Qt::CTRL | Qt::Key_Up), this,
                     [this, &timeline, selected] {
                         timeline.moveTrack(selected(), -1);
                         projectChanged();
                     });
    track->addAction(tr("Move Track Down"), QKeySequence(Qt::CTRL | Qt::Key_Down), this,
                     [this, &timeline, selected] {
                         timeline.moveTrack(selected(), 1);
                         projectChanged();
                     });
    track->addSeparator();
    const auto mixerToggle = [this, selected](bool mute) {
        return [this, selected, mute] {
            std::unique_lock lock(app.engine().projectMutex);
            const auto found = app.engine().project.findTrack(selected());
            if (!found) return;
            const Track current = *found;
            lock.unlock();
            edit(std::make_unique<SetTrackMixerCommand>(current.id, current.gain, current.pan,
                                                        mute ? !current.mute : current.mute,
                                                        mute ? current.solo : !current.solo));
        };
    };
    track->addAction(tr("Mute Track"), QKeySequence(Qt::ALT | Qt::Key_M), this, mixerToggle(true));
    track->addAction(tr("Solo Track"), QKeySequence(Qt::ALT | Qt::Key_S), this, mixerToggle(false));
    // In the session grid a launch then ends the track's other clips at the launch point.
    QAction *oneClip = track->addAction(tr("One Session Clip at a Time"), this, [this, selected] {
        std::unique_lock lock(app.engine().projectMutex);
        const auto found = app.engine().project.findTrack(selected());
        if (!found) return;
        const bool on = found->oneClipAtATime;
        lock.unlock();
        edit(std::make_unique<SetTrackOneClipAtATimeCommand>(selected(), !on));
    });
    oneClip->setCheckable(true);
    QAction *freeze =
        track->addAction(tr("Freeze Track"), this, [this, selected] { freezeTrack(selected()); });
    freeze->setToolTip(tr("Render the track through its effects into one clip"));
    connect(track, &QMenu::aboutToShow, this, [this, oneClip, freeze, selected] {
        std::lock_guard lock(app.engine().projectMutex);
        const auto found = app.engine().project.findTrack(selected());
        oneClip->setChecked(found && found->oneClipAtATime);
        // Only audio tracks play a rendered clip.
        freeze->setEnabled(found && found->type == TrackType::Audio && !found->frozen);
    });
    track->addSeparator();
    track->addAction(tr("Delete Track"), QKeySequence(Qt::CTRL | Qt::Key_Delete), this,
                     [this, &timeline, selected] {
                         timeline.removeTrack(selected());
                         projectChanged();
                     });
}

void MainWindow::buildClipMenu(QMenu *clip) {
    TimelineView &timeline = *timelineView;
    QAction *newMidi = clip->addAction(
        tr("New MIDI Clip"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), this,
        [this, &timeline] {
            const uint64_t trackId = app.view().selectedTrackId;
            if (timeline.newMidiClipAt(trackId, app.engine().heardPlayhead()) == 0)
                setStatus(tr("Select a MIDI track to draw a clip on").toStdString());
            projectChanged();
        });
    newMidi->setToolTip(tr("An empty one-bar MIDI clip at the playhead on the selected MIDI "
                           "track (or double-click an empty spot of its lane)"));
    clip->addAction(tr("Split"), this, &MainWindow::splitAtPlayhead);
    clip->addAction(tr("Glue"), QKeySequence(Qt::CTRL | Qt::Key_J), this, [this, &timeline] {
        timeline.glueSelection();
        projectChanged();
    });
    clip->addAction(tr("Crossfade"), QKeySequence(Qt::CTRL | Qt::Key_F), this, [this, &timeline] {
        timeline.crossfadeSelection();
        projectChanged();
    });
    clip->addAction(tr("Loop"), QKeySequence(Qt::CTRL | Qt::Key_L), this, [this, &timeline] {
        timeline.toggleLoopOfSelection();
        projectChanged();
    });
    clip->addAction(tr("Flatten Comp"), this, [this, &timeline] {
        timeline.flattenCompOfSelection();
        projectChanged();
    });
    clip->addAction(tr("Detect Tempo of Clip"), this, [this] {
        // With Smart Tempo "Keep Project" the project takes the detected tempo; say so first.
        const auto answer = QMessageBox::question(
            this, tr("Detect Tempo"),
            tr("Detect the tempo of the selected audio clip and place beat markers? "
               "Smart Tempo decides what happens to the project tempo (Studio ▸ "
               "Smart Tempo)."));
        if (answer != QMessageBox::Yes) return;
        app.view().tempoTools().analyzeTempo();
        projectChanged();
    });
    clip->addAction(tr("Quantize"), QKeySequence(Qt::Key_Q), this, [this] {
        std::unique_lock lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        auto command = std::make_unique<QuantizeSelectionCommand>(
            app.view().selectedTrackId, project.gridQuantize, project.swingAmount,
            project.quantizeStrength, project.scaleRoot, project.scaleMinor,
            project.scaleSnapEnabled);
        lock.unlock();
        edit(std::move(command));
    });
    clip->addSeparator();
    clip->addMenu(timelineView->audioProcessingMenu(clip));
    clip->addMenu(editor->commandsMenu());
}

void MainWindow::freezeTrack(uint64_t trackId) {
    int64_t start = INT64_MAX, end = 0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto found = app.engine().project.findTrack(trackId);
        if (!found || found->type != TrackType::Audio) return;
        for (const auto &clip : found->clips) {
            if (clip->isSessionClip()) continue;
            start = std::min(start, clip->arrangeStart);
            end = std::max(end, clip->arrangeStart + clip->length);
        }
    }
    if (end <= start) {
        app.status().setText(tr("Nothing to freeze: the track has no clips").toStdString());
        return;
    }
    // Effects ring on after the last clip ends: two seconds of tail are kept.
    const int64_t frames = end - start + static_cast<int64_t>(2.0 * app.engine().sampleRate.load());
    struct Freeze {
        std::shared_ptr<std::vector<float>> rendered = std::make_shared<std::vector<float>>();
        std::string error;
        bool done = false;
    };
    auto freeze = std::make_shared<Freeze>();
    LongJob job;
    job.title = tr("Freezing the track…").toStdString();
    job.cancellable = false;
    job.perform = [this, freeze, trackId, start, frames](JobControl &) {
        // Before the fader: the frozen track keeps its fader, pan and sends live, and plays
        // this in place of its channel stages and inserts.
        freeze->done = renderTrackPreFader(app.engine(), trackId, *freeze->rendered, start, frames,
                                           &freeze->error);
    };
    job.finish = [this, freeze, trackId, start, frames] {
        if (!freeze->done) {
            app.status().setText(tr("Track not frozen: %1")
                                     .arg(QString::fromStdString(freeze->error))
                                     .toStdString());
            return;
        }
        edit(std::make_unique<FreezeTrackInPlaceCommand>(trackId, start, frames,
                                                         SharedSamples(freeze->rendered)));
    };
    documentJobs->run(std::move(job));
}

void MainWindow::buildTuningMenu(QMenu *tuning) {
    // Built when opened, so the checks show the project's tuning as it is.
    connect(tuning, &QMenu::aboutToShow, this, [this, tuning] {
        tuning->clear();
        int32_t preset = 0;
        std::string scalaName, kbmName;
        {
            std::lock_guard lock(app.engine().projectMutex);
            const Project &project = app.engine().project;
            preset = project.scalaPresetIndex;
            scalaName = project.scalaName;
            kbmName = project.kbmName;
        }
        for (int32_t index = 0; index < scalaPresetCount(); ++index) {
            QAction *item =
                tuning->addAction(QString::fromUtf8(scalaPresetName(index)), this, [this, index] {
                    edit(std::make_unique<SetScalaPresetCommand>(index, scalaPresetCents(index)));
                });
            item->setCheckable(true);
            item->setChecked(scalaName.empty() && index == preset);
        }
        QAction *fromFile = tuning->addAction(
            scalaName.empty()
                ? tr("Import Scala File…")
                : tr("Import Scala File… (now: %1)").arg(QString::fromStdString(scalaName)),
            this, &MainWindow::importScalaFile);
        fromFile->setCheckable(true);
        fromFile->setChecked(!scalaName.empty());
        tuning->addSeparator();
        tuning->addAction(
            kbmName.empty()
                ? tr("Keyboard Map (.kbm)…")
                : tr("Keyboard Map (.kbm)… (now: %1)").arg(QString::fromStdString(kbmName)),
            this, &MainWindow::importKeyboardMap);
        tuning
            ->addAction(tr("No Keyboard Map"), this,
                        [this] {
                            edit(std::make_unique<SetKbmMappingCommand>(std::string(),
                                                                        std::vector<int32_t>{}));
                        })
            ->setEnabled(!kbmName.empty());
    });
}

namespace {

/// A tuning file the user picks, read by `parse`; its name is the one the file gives, else the
/// file's own. Nothing changes when the file cannot be read: the status says why.
template <typename Parse, typename Edit>
void importTuningFile(OVApplication &app, const QString &prompt, const char *type,
                      const QString &unreadPattern, Parse parse, Edit edit) {
    const auto files = app.userInterface().chooseFilesToOpen(prompt.toStdString(), {type}, false);
    if (files.empty()) return;
    std::string error;
    const auto read = parse(files.front(), &error);
    if (!read) {
        app.status().setText(unreadPattern.arg(QString::fromStdString(error)).toStdString());
        return;
    }
    edit(std::filesystem::path(files.front()).stem().string(), *read);
}

/// Studio ▸ Language: the window's language from the next start on, or the locale's.
void buildLanguageMenu(QMenu *menu, OVApplication &app) {
    const std::filesystem::path settings = deviceSettingsPath();
    const std::optional<Language> current = languagePreference(settings);
    auto *choices = new QActionGroup(menu);
    const std::pair<const char *, std::optional<Language>> languages[] = {
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "Follow the System"), std::nullopt},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "English"), Language::English},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "Russian"), Language::Russian}};
    for (const auto &[label, language] : languages) {
        QAction *choice = menu->addAction(MainWindow::tr(label), menu, [&app, settings, language] {
            std::string error;
            if (storeLanguagePreference(settings, language, error))
                app.status().setText(
                    MainWindow::tr("The language changes when Halvora next starts").toStdString());
            else
                app.status().setText(MainWindow::tr("Language not saved: %1")
                                         .arg(QString::fromStdString(error))
                                         .toStdString());
        });
        choice->setCheckable(true);
        choice->setChecked(language == current);
        choices->addAction(choice);
    }
}

} // namespace

void MainWindow::importScalaFile() {
    importTuningFile(
        app, tr("Scala scale"), "scl", tr("Scala file not read: %1"), parseScalaFile,
        [this](const std::string &fileName, const ScalaParseResult &scale) {
            edit(std::make_unique<SetScalaFromFileCommand>(
                scale.description.empty() ? fileName : scale.description, scale.cents));
        });
}

void MainWindow::importKeyboardMap() {
    importTuningFile(app, tr("Keyboard map"), "kbm", tr("Keyboard map not read: %1"), parseKbmFile,
                     [this](const std::string &fileName, const KbmParseResult &map) {
                         edit(std::make_unique<SetKbmMappingCommand>(
                             map.name.empty() ? fileName : map.name, map.degrees));
                     });
}

void MainWindow::buildViewMenu(QMenu *view) {
    view->addAction(tr("Zoom In"), QKeySequence(Qt::CTRL | Qt::Key_Equal), this,
                    [this] { zoom(1.5); });
    view->addAction(tr("Zoom Out"), QKeySequence(Qt::CTRL | Qt::Key_Minus), this,
                    [this] { zoom(1.0 / 1.5); });
    view->addAction(tr("Zoom to Fit"), QKeySequence(Qt::CTRL | Qt::Key_0), this,
                    [this] { timelineView->fitToContent(); });
    followAction = view->addAction(tr("Follow Playhead"));
    followAction->setCheckable(true);
    followAction->setChecked(timelineView->followPlayhead);
    followAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    connect(followAction, &QAction::toggled, this,
            [this](bool on) { timelineView->followPlayhead = on; });
    automationAction = view->addAction(tr("Show Automation"));
    automationAction->setCheckable(true);
    automationAction->setShortcut(QKeySequence(Qt::Key_A));
    connect(automationAction, &QAction::toggled, this,
            [this](bool on) { timelineView->setShowAutomation(on); });
    QAction *overviewAction = view->addAction(tr("Show Overview"));
    overviewAction->setCheckable(true);
    overviewAction->setChecked(true);
    connect(overviewAction, &QAction::toggled, overview, &QWidget::setVisible);
    QMenu *lanes = view->addMenu(tr("Automation Lane"));
    for (uint8_t lane = 1; lane <= 4; ++lane)
        lanes->addAction(automationLaneLabel(lane), this, [this, lane] {
            automationAction->setChecked(true);
            app.view().automation().setAutomationLane(lane);
            timelineView->update();
        });
    view->addSeparator();
    const std::pair<const char *, Tab> pagesList[] = {
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "Timeline Page"), TimelineTab},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "Session Page"), SessionTab},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "Mixer Page"), MixerTab}};
    int key = Qt::Key_1;
    for (const auto &[label, tab] : pagesList)
        view->addAction(tr(label), QKeySequence(Qt::CTRL | static_cast<Qt::Key>(key++)), this,
                        [this, tab] { showTab(tab); });
}

void MainWindow::buildTransportMenu(QMenu *transport) {
    transport->addAction(playAction);
    transport->addAction(stopAction);
    transport->addAction(recordAction);
    transport->addSeparator();
    transport->addAction(tr("Go to Start"), QKeySequence(Qt::Key_Home), this,
                         [this] { locate(0); });
    transport->addAction(tr("Go to End"), QKeySequence(Qt::Key_End), this,
                         [this] { locate(app.view().projectEndSamples()); });
    transport->addSeparator();
    transport->addAction(cycleAction);
    transport->addAction(metronomeAction);
    transport->addAction(punchAction);
    transport->addAction(tr("Tap Tempo"), QKeySequence(Qt::Key_T), this,
                         [this] { app.view().tempoTools().tapTempo(); });
    TempoTools &tempo = app.view().tempoTools();
    QAction *follower =
        transport->addAction(tr("Tempo Follower"), this, [&tempo] { tempo.toggleTempoFollower(); });
    follower->setCheckable(true);
    QAction *followerInput = transport->addAction(tr("Follow the Input"), this,
                                                  [&tempo] { tempo.toggleTempoFollowerInput(); });
    followerInput->setCheckable(true);
    transport->addSeparator();
    // Flashback: the last seconds of input, kept always, become a clip.
    transport->addAction(tr("Capture Flashback"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R),
                         this, [this, &tempo] {
                             tempo.captureFlashback();
                             projectChanged();
                         });
    QAction *flashbackLength = transport->addAction(tr("Flashback Length"), this,
                                                    [&tempo] { tempo.cycleFlashbackDuration(); });
    connect(transport, &QMenu::aboutToShow, this, [this, follower, followerInput, flashbackLength] {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        follower->setChecked(project.tempoFollowerEnabled);
        followerInput->setChecked(project.tempoFollowerFromInput);
        flashbackLength->setText(
            tr("Flashback Length: %1 s (change)").arg(project.flashbackBufferSeconds));
    });
}

void MainWindow::buildStudioMenu(QMenu *studio) {
    studio->addAction(tr("Audio Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma), this,
                      [this] { openAudioSettings(); });
    studio->addAction(tr("Reconnect Audio"), this, [this] { (void)app.reconnectAudio(); });
    studio->addAction(tr("Remote Control (OSC)…"), this, &MainWindow::showRemoteControl);
    studio->addAction(tr("MIDI Mappings…"), this, [this] { (void)openMidiMappings(); });
    studio->addAction(tr("Plug-in DSP…"), this, [this] { (void)openPluginDsp(); });
    // Each plug-in runs in a helper that may crash alone; a song can keep all of them here.
    QAction *inProcess = studio->addAction(tr("Run All Plug-ins in Process"), this, [this] {
        bool wanted = false;
        {
            std::lock_guard lock(app.engine().projectMutex);
            wanted = !app.engine().project.pluginsInProcess;
        }
        edit(std::make_unique<SetPluginsInProcessCommand>(0, -1, wanted));
    });
    inProcess->setCheckable(true);
    connect(studio, &QMenu::aboutToShow, this, [this, inProcess] {
        const bool machineKeepsThemHere = !app.rack().sandboxEnabled;
        std::lock_guard lock(app.engine().projectMutex);
        inProcess->setChecked(machineKeepsThemHere || app.engine().project.pluginsInProcess);
        inProcess->setEnabled(!machineKeepsThemHere);
    });
    buildLanguageMenu(studio->addMenu(tr("Language")), app);
    QMenu *countIn = studio->addMenu(tr("Count-in"));
    const std::pair<const char *, int32_t> counts[] = {
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "Off"), 0},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "1 bar"), 1},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "2 bars"), 2},
        {QT_TRANSLATE_NOOP("orvane::MainWindow", "4 bars"), 4}};
    for (const auto &[label, bars] : counts)
        countIn->addAction(tr(label), this, [this, bars] {
            edit(std::make_unique<ProjectSettingCommand<int32_t>>(
                QT_TRANSLATE_NOOP("Command", "Count-in"), &Project::countInBars, bars));
        });
    studio->addAction(tr("Punch On/Off"), QKeySequence(Qt::CTRL | Qt::Key_P), this,
                      &MainWindow::togglePunch);
    studio->addAction(tr("Punch In (playhead)"), this, [this] {
        edit(std::make_unique<ProjectSettingCommand<int64_t>>(
            QT_TRANSLATE_NOOP("Command", "Punch In"), &Project::punchIn,
            app.engine().heardPlayhead()));
    });
    studio->addAction(tr("Punch Out (playhead)"), this, [this] {
        edit(std::make_unique<ProjectSettingCommand<int64_t>>(
            QT_TRANSLATE_NOOP("Command", "Punch Out"), &Project::punchOut,
            app.engine().heardPlayhead()));
    });
    QMenu *swing = studio->addMenu(tr("Swing"));
    for (const auto &[label, amount] :
         {std::pair{"0%", 0.0f}, {"33%", 0.33f}, {"50%", 0.5f}, {"67%", 0.67f}})
        swing->addAction(QString::fromUtf8(label), this, [this, amount] {
            edit(std::make_unique<ProjectSettingCommand<float>>(
                QT_TRANSLATE_NOOP("Command", "Swing"), &Project::swingAmount, amount));
        });
    QMenu *groove = studio->addMenu(tr("Groove Pool"));
    for (const auto &[label, amount] :
         {std::pair{QT_TRANSLATE_NOOP("orvane::MainWindow", "Off"), 0.0f},
          {QT_TRANSLATE_NOOP("orvane::MainWindow", "Light"), 0.25f},
          {QT_TRANSLATE_NOOP("orvane::MainWindow", "Medium"), 0.5f},
          {QT_TRANSLATE_NOOP("orvane::MainWindow", "Strong"), 0.8f}})
        groove->addAction(tr(label), this, [this, amount] {
            edit(std::make_unique<ProjectSettingCommand<float>>(
                QT_TRANSLATE_NOOP("Command", "Groove"), &Project::grooveTimingAmount, amount));
        });
    groove->addAction(tr("Extract from Clip"), this, [this] {
        if (const uint64_t clip = app.view().selectedClipId)
            edit(std::make_unique<ExtractGrooveToPoolCommand>(clip,
                                                              "Groove " + std::to_string(clip)));
    });
    buildTuningMenu(studio->addMenu(tr("Tuning")));
    QMenu *smart = studio->addMenu(tr("Smart Tempo"));
    for (const auto &[label, mode] :
         {std::pair{QT_TRANSLATE_NOOP("orvane::MainWindow", "Keep Project"), uint8_t{0}},
          {QT_TRANSLATE_NOOP("orvane::MainWindow", "Adapt Project"), uint8_t{1}},
          {QT_TRANSLATE_NOOP("orvane::MainWindow", "Automatic"), uint8_t{2}}})
        smart->addAction(tr(label), this, [this, mode] {
            edit(std::make_unique<ProjectSettingCommand<uint8_t>>(
                QT_TRANSLATE_NOOP("Command", "Smart Tempo"), &Project::smartTempoMode, mode));
        });
    QMenu *meter = studio->addMenu(tr("Time Signature"));
    for (const auto &[label, signature] : {std::pair{"4/4", TimeSignature{4, 4}},
                                           {"3/4", TimeSignature{3, 4}},
                                           {"5/4", TimeSignature{5, 4}},
                                           {"6/8", TimeSignature{6, 8}}})
        meter->addAction(QString::fromUtf8(label), this, [this, signature] {
            edit(std::make_unique<ProjectSettingCommand<TimeSignature>>(
                QT_TRANSLATE_NOOP("Command", "Meter"), &Project::timeSignature, signature));
        });
    meter->addAction(tr("Marker at Playhead"), this, [this] {
        edit(std::make_unique<AddMeterMarkerCommand>(app.engine().heardPlayhead(),
                                                     app.engine().currentMeter()));
    });
    QMenu *transform = studio->addMenu(tr("MIDI Transform"));
    const auto onMidiClip = [this](auto makeCommand) {
        return [this, makeCommand] {
            if (const uint64_t clip = selectedMidiClip()) edit(makeCommand(clip));
        };
    };
    transform->addAction(tr("Transpose +12"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<TransposeMidiClipCommand>(id, 12);
                         }));
    transform->addAction(tr("Transpose -12"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<TransposeMidiClipCommand>(id, -12);
                         }));
    transform->addAction(tr("Reverse"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<ReverseMidiClipCommand>(id);
                         }));
    transform->addAction(tr("Velocity +10%"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<ScaleMidiVelocityCommand>(id, 1.1f, 0.0f);
                         }));
    transform->addAction(tr("Velocity -10%"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<ScaleMidiVelocityCommand>(id, 0.9f, 0.0f);
                         }));
    transform->addAction(tr("Generate (scale)"), this, onMidiClip([this](uint64_t id) {
                             const int64_t sixteenth = app.engine().beatsToSamples(0.25);
                             return std::make_unique<GenerateMidiClipCommand>(
                                 id, sixteenth, static_cast<uint32_t>(id), 0.6f);
                         }));
    transform->addAction(tr("Apply Scala/KBM"), this, onMidiClip([this](uint64_t id) {
                             std::lock_guard lock(app.engine().projectMutex);
                             const Project &project = app.engine().project;
                             return std::make_unique<ApplyTuningToMidiClipCommand>(
                                 id, project.scaleRoot, project.scaleMinor);
                         }));
    lowLatencyAction = studio->addAction(tr("Low latency"), this, [this] {
        std::unique_lock lock(app.engine().projectMutex);
        const bool on = app.engine().project.lowLatencyMode;
        lock.unlock();
        edit(std::make_unique<SetLowLatencyModeCommand>(!on));
    });
    lowLatencyAction->setCheckable(true);
    QAction *browserToggle = browserHolder->toggleViewAction();
    browserToggle->setText(tr("Browser"));
    browserToggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    studio->addAction(browserToggle);
    studio->addAction(tr("Chord marker"), QKeySequence(Qt::CTRL | Qt::Key_H), this, [this] {
        bool ok = false;
        const QString chord = QInputDialog::getText(this, tr("Chord marker"), tr("Chord"),
                                                    QLineEdit::Normal, QStringLiteral("C"), &ok);
        if (ok && !chord.trimmed().isEmpty())
            edit(std::make_unique<AddChordMarkerCommand>(app.engine().heardPlayhead(),
                                                         chord.trimmed().toStdString()));
    });
    studio->addAction(tr("Tempo Marker at Playhead"), this, [this] {
        edit(std::make_unique<AddTempoMarkerCommand>(app.engine().heardPlayhead(),
                                                     app.engine().tempo.load()));
    });
}

void MainWindow::buildHelpMenu(QMenu *help) {
    help->addAction(tr("Keyboard Shortcuts…"), QKeySequence(Qt::CTRL | Qt::Key_Question), this,
                    &MainWindow::showShortcuts);
    help->addAction(tr("Quick Start…"), this, [this] {
        QuickStartPanel panel(this);
        panel.exec();
    });
    help->addAction(
        tr("Beta Test: Debug…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), this, [this] {
            QMessageBox::information(this, tr("Debug"), QString::fromStdString(diagnosticsText()));
        });
    help->addAction(tr("Beta Test: Checklist…"), this, [this] {
        QMessageBox::information(
            this, tr("Checklist"),
            tr("1. Play\n2. Import\n3. Edit + undo\n4. Mix\n5. Save\n6. Export"));
    });
    help->addAction(tr("VST3 Licence (MIT)…"), this, [this] {
        QMessageBox::information(this, tr("VST3"), tr("VST 3 SDK interfaces: MIT License."));
    });
    help->addAction(tr("Check for Updates…"), this, [this] { app.checkForUpdates(); });
    help->addAction(tr("Privacy…"), this, &MainWindow::showPrivacy);
}

} // namespace orvane

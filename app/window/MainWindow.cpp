#include "app/window/MainWindow.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/SessionState.h"
#include "app/window/LongJobRunner.h"
#include "app/window/MidiEditor.h"
#include "app/window/QtApplicationUi.h"
#include "app/window/SettingsPanels.h"
#include "app/window/TimelineGeometry.h"
#include "app/window/TimelineView.h"
#include "app/window/WindowCommands.h"
#include "app/window/WorkspacePanels.h"
#include "app/workflows/RecordingWorkflow.h"
#include "app/workflows/TempoTools.h"
#include "core/commands/ClipCommands.h"
#include "core/commands/GrooveCommands.h"
#include "core/commands/MarkerCommands.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/NoteTransformCommands.h"
#include "core/engine/Engine.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
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

namespace orvane {

namespace {

const char *const darkStyle = R"(
QMainWindow, QDialog { background: #1e1f24; color: #d6dae2; }
QWidget { color: #d6dae2; }
QToolBar { background: #26282f; border: none; spacing: 4px; }
QMenuBar, QMenu { background: #26282f; color: #d6dae2; }
QMenu::item:selected, QMenuBar::item:selected { background: #3a5f8f; }
QStatusBar { background: #26282f; }
QTabBar::tab { background: #2c2f37; padding: 4px 12px; }
QTabBar::tab:selected { background: #3a5f8f; }
QComboBox, QDoubleSpinBox, QSpinBox { background: #2c2f37; border: 1px solid #454956; }
QToolButton:checked { background: #3a5f8f; }
QPushButton { background: #2c2f37; border: 1px solid #454956; padding: 4px 14px; }
QPushButton:default { border-color: #3a5f8f; }
)";

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
    setStyleSheet(QString::fromLatin1(darkStyle));
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

MainWindow::~MainWindow() = default;

void MainWindow::buildCentre() {
    pages = new QStackedWidget(this);
    timelinePage = new QSplitter(Qt::Vertical, pages);
    timelineView = new TimelineView(app, timelinePage);
    editor = new MidiEditor(app, timelinePage);
    editor->hide();
    timelinePage->addWidget(timelineView);
    timelinePage->addWidget(editor);
    timelinePage->setStretchFactor(0, 3);
    timelinePage->setStretchFactor(1, 2);
    session = createSessionPanel(app, pages);
    mixer = createMixerPanel(app, pages);
    pages->addWidget(timelinePage);
    pages->addWidget(session);
    pages->addWidget(mixer);
    setCentralWidget(pages);
    browserHolder = new QDockWidget(QStringLiteral("Browser"), this);
    browserHolder->setObjectName(QStringLiteral("browser"));
    browser = createPluginBrowserPanel(app, browserHolder);
    browserHolder->setWidget(browser);
    addDockWidget(Qt::LeftDockWidgetArea, browserHolder);
    browserHolder->hide();
    connect(timelineView, &TimelineView::projectEdited, this, &MainWindow::projectChanged);
    connect(timelineView, &TimelineView::midiClipOpened, this, &MainWindow::openMidiClip);
    connect(editor, &MidiEditor::projectEdited, this, &MainWindow::projectChanged);
}

void MainWindow::buildToolbar() {
    QToolBar *bar = addToolBar(QStringLiteral("Transport"));
    bar->setObjectName(QStringLiteral("transport"));
    bar->setMovable(false);
    playAction = bar->addAction(QStringLiteral("▶"), this, &MainWindow::togglePlay);
    playAction->setToolTip(QStringLiteral("Space — play/stop"));
    playAction->setShortcut(Qt::Key_Space);
    playAction->setCheckable(true);
    bar->addAction(QStringLiteral("■"), this, &MainWindow::stopTransport)
        ->setToolTip(QStringLiteral("Stop"));
    QAction *record = bar->addAction(QStringLiteral("●"), this, &MainWindow::toggleRecord);
    record->setToolTip(QStringLiteral("Command+R — запись на дорожку или в Session"));
    record->setShortcuts({QKeySequence(Qt::Key_R), QKeySequence(Qt::CTRL | Qt::Key_R)});
    QAction *metronome =
        bar->addAction(QStringLiteral("Metronome"), this, &MainWindow::toggleMetronome);
    metronome->setCheckable(true);
    QAction *cycle = bar->addAction(QStringLiteral("Cycle"), this, &MainWindow::toggleCycle);
    cycle->setCheckable(true);
    cycle->setShortcut(Qt::Key_C);
    bar->addAction(QStringLiteral("Punch"), this, &MainWindow::togglePunch);
    QAction *scissors = bar->addAction(QStringLiteral("✂"), this, &MainWindow::splitAtPlayhead);
    scissors->setToolTip(QStringLiteral("S — split at the playhead"));
    scissors->setShortcut(Qt::Key_S);
    bar->addAction(QStringLiteral("Tempo"), this, [this] {
        app.view().tempoTools().analyzeTempo();
        projectChanged();
    });
    bar->addAction(QStringLiteral("Quantize"), this, [this] {
        std::unique_lock lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        auto command = std::make_unique<QuantizeSelectionCommand>(
            app.view().selectedTrackId, project.gridQuantize, project.swingAmount,
            project.quantizeStrength, project.scaleRoot, project.scaleMinor,
            project.scaleSnapEnabled);
        lock.unlock();
        edit(std::move(command));
    });
    gridPopup = new QComboBox(bar);
    const std::pair<const char *, GridQuantize> grids[] = {
        {"1/4", GridQuantize::Quarter},        {"1/8", GridQuantize::Eighth},
        {"1/16", GridQuantize::Sixteenth},     {"1/4T", GridQuantize::QuarterTriplet},
        {"1/8T", GridQuantize::EighthTriplet}, {"1/16T", GridQuantize::SixteenthTriplet},
        {"Такт", GridQuantize::Bar},           {"Выкл", GridQuantize::Off}};
    for (const auto &[label, grid] : grids)
        gridPopup->addItem(QString::fromUtf8(label), static_cast<int>(grid));
    connect(gridPopup, &QComboBox::currentIndexChanged, this, [this] {
        // The grid is a view setting, not part of the document.
        std::lock_guard lock(app.engine().projectMutex);
        app.engine().project.gridQuantize =
            static_cast<GridQuantize>(gridPopup->currentData().toInt());
    });
    bar->addWidget(gridPopup);
    bar->addAction(QStringLiteral("Import"), this, [this] { importAudio(); });
    bar->addAction(QStringLiteral("Audio"), this, [this] { openAudioSettings(); });
    bar->addAction(QStringLiteral("Scan"), this, [this] { browserHolder->show(); });
    bar->addAction(QStringLiteral("Plug-in"), this, [this] { browserHolder->show(); });
    bar->addSeparator();
    positionBars = new QLabel(QStringLiteral("1.1.1"), bar);
    positionBars->setMinimumWidth(70);
    positionTime = new QLabel(QStringLiteral("0:00.000"), bar);
    positionTime->setMinimumWidth(70);
    tempoField = new QDoubleSpinBox(bar);
    tempoField->setRange(20.0, 999.0);
    tempoField->setDecimals(1);
    tempoField->setSuffix(QStringLiteral(" BPM"));
    meterField = new QComboBox(bar);
    meterField->setMinimumWidth(64);
    for (const char *meter : {"4/4", "3/4", "5/4", "6/8"})
        meterField->addItem(QString::fromLatin1(meter));
    bar->addWidget(positionBars);
    bar->addWidget(positionTime);
    bar->addWidget(tempoField);
    bar->addWidget(meterField);
    connect(tempoField, &QDoubleSpinBox::editingFinished, this, [this] {
        const double bpm = tempoField->value();
        std::unique_lock lock(app.engine().projectMutex);
        const double current = app.engine().project.tempoBpm;
        lock.unlock();
        if (std::abs(bpm - current) > 1e-6)
            edit(std::make_unique<ProjectSettingCommand<double>>("Tempo", &Project::tempoBpm, bpm));
    });
    connect(meterField, &QComboBox::activated, this, [this](int index) {
        const TimeSignature meters[] = {{4, 4}, {3, 4}, {5, 4}, {6, 8}};
        edit(std::make_unique<ProjectSettingCommand<TimeSignature>>(
            "Meter", &Project::timeSignature, meters[index]));
    });
    bar->addSeparator();
    tabs = new QTabBar(bar);
    tabs->addTab(QStringLiteral("Timeline"));
    tabs->addTab(QStringLiteral("Session"));
    tabs->addTab(QStringLiteral("Mixer"));
    connect(tabs, &QTabBar::currentChanged, this,
            [this](int index) { pages->setCurrentIndex(index); });
    bar->addWidget(tabs);
}

void MainWindow::buildMenus() {
    QMenu *application = menuBar()->addMenu(QStringLiteral("Halvora"));
    application->addAction(QStringLiteral("О Halvora…"), this, [this] {
        QMessageBox::about(this, QStringLiteral("Halvora"), QStringLiteral("Halvora 1.0.0"));
    });
    application->addAction(QStringLiteral("Выйти из Halvora"), QKeySequence(Qt::CTRL | Qt::Key_Q),
                           this, &QWidget::close);

    OVMainView &view = app.view();
    QMenu *file = menuBar()->addMenu(QStringLiteral("Файл"));
    // Replacing the document waits for the saves of the current one.
    const auto replacing = [this](auto operation) {
        return [this, operation] {
            documentJobs->finishAll();
            operation();
            projectChanged();
        };
    };
    const auto onWorker = [](LongJobRunner *runner, auto prepare) {
        return [runner, prepare] {
            if (std::optional<LongJob> job = prepare()) runner->run(std::move(*job));
        };
    };
    file->addAction(QStringLiteral("Импортировать аудио…"), QKeySequence(Qt::CTRL | Qt::Key_I),
                    this, [this] { importAudio(); });
    file->addAction(QStringLiteral("Экспортировать WAV…"), QKeySequence(Qt::CTRL | Qt::Key_E), this,
                    onWorker(exportJobs, [&view] { return view.prepareExportWav(); }));
    file->addAction(QStringLiteral("Экспорт дорожки WAV…"), this,
                    onWorker(exportJobs, [&view] { return view.prepareExportSelectedTrackWav(); }));
    file->addAction(QStringLiteral("Новый проект"), QKeySequence(Qt::CTRL | Qt::Key_N), this,
                    replacing([&view] { view.newProject(); }));
    // The project is read and its media decoded on the document worker, after the saves of
    // the current one; the window shows it once the job has replaced the document.
    file->addAction(QStringLiteral("Открыть проект…"), QKeySequence(Qt::CTRL | Qt::Key_O), this,
                    onWorker(documentJobs, [this, &view] {
                        documentJobs->finishAll();
                        std::optional<LongJob> job = view.prepareOpenProject();
                        if (job)
                            job->finish = [this, adopt = std::move(job->finish)] {
                                adopt();
                                projectChanged();
                            };
                        return job;
                    }));
    file->addAction(QStringLiteral("Сохранить проект…"), QKeySequence(Qt::CTRL | Qt::Key_S), this,
                    onWorker(documentJobs, [&view] { return view.prepareSave(); }));
    file->addAction(QStringLiteral("Собрать медиа и сохранить…"),
                    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), this,
                    onWorker(documentJobs, [&view] { return view.prepareCollectAllAndSave(); }));
    file->addAction(QStringLiteral("Отменить"), QKeySequence(Qt::CTRL | Qt::Key_Z), this,
                    &MainWindow::undo);
    file->addAction(QStringLiteral("Повторить"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
                    this, &MainWindow::redo);
    QMenu *editing = menuBar()->addMenu(QStringLiteral("Clip"));
    editing->addAction(QStringLiteral("Split"), this, &MainWindow::splitAtPlayhead);
    editing->addAction(QStringLiteral("Duplicate"), QKeySequence(Qt::CTRL | Qt::Key_D), this,
                       &MainWindow::duplicateSelection);
    editing->addAction(QStringLiteral("Delete"), QKeySequence(Qt::Key_Delete), this,
                       &MainWindow::deleteSelection);
    editing->addSeparator();
    editing->addMenu(editor->commandsMenu());
    buildStudioMenu(menuBar()->addMenu(QStringLiteral("Студия")));
    buildHelpMenu(menuBar()->addMenu(QStringLiteral("Справка")));
}

void MainWindow::buildStudioMenu(QMenu *studio) {
    studio->addAction(QStringLiteral("Настройки аудио…"), QKeySequence(Qt::CTRL | Qt::Key_Comma),
                      this, [this] { openAudioSettings(); });
    QMenu *countIn = studio->addMenu(QStringLiteral("Count-in"));
    const std::pair<const char *, int32_t> counts[] = {
        {"Выкл", 0}, {"1 такт", 1}, {"2 такта", 2}, {"4 такта", 4}};
    for (const auto &[label, bars] : counts)
        countIn->addAction(QString::fromUtf8(label), this, [this, bars] {
            edit(std::make_unique<ProjectSettingCommand<int32_t>>("Count-in", &Project::countInBars,
                                                                  bars));
        });
    studio->addAction(QStringLiteral("Punch вкл/выкл"), QKeySequence(Qt::CTRL | Qt::Key_P), this,
                      &MainWindow::togglePunch);
    studio->addAction(QStringLiteral("Punch In (playhead)"), this, [this] {
        edit(std::make_unique<ProjectSettingCommand<int64_t>>("Punch In", &Project::punchIn,
                                                              app.engine().playhead.load()));
    });
    studio->addAction(QStringLiteral("Punch Out (playhead)"), this, [this] {
        edit(std::make_unique<ProjectSettingCommand<int64_t>>("Punch Out", &Project::punchOut,
                                                              app.engine().playhead.load()));
    });
    QMenu *swing = studio->addMenu(QStringLiteral("Swing"));
    for (const auto &[label, amount] :
         {std::pair{"0%", 0.0f}, {"33%", 0.33f}, {"50%", 0.5f}, {"67%", 0.67f}})
        swing->addAction(QString::fromUtf8(label), this, [this, amount] {
            edit(std::make_unique<ProjectSettingCommand<float>>("Swing", &Project::swingAmount,
                                                                amount));
        });
    QMenu *groove = studio->addMenu(QStringLiteral("Groove Pool"));
    for (const auto &[label, amount] :
         {std::pair{"Выкл", 0.0f}, {"Лёгкий", 0.25f}, {"Средний", 0.5f}, {"Сильный", 0.8f}})
        groove->addAction(QString::fromUtf8(label), this, [this, amount] {
            edit(std::make_unique<ProjectSettingCommand<float>>(
                "Groove", &Project::grooveTimingAmount, amount));
        });
    groove->addAction(QStringLiteral("Извлечь из клипа"), this, [this] {
        if (const uint64_t clip = app.view().selectedClipId)
            edit(std::make_unique<ExtractGrooveToPoolCommand>(clip,
                                                              "Groove " + std::to_string(clip)));
    });
    QMenu *smart = studio->addMenu(QStringLiteral("Smart Tempo"));
    for (const auto &[label, mode] : {std::pair{"Keep Project", uint8_t{0}},
                                      {"Adapt Project", uint8_t{1}},
                                      {"Automatic", uint8_t{2}}})
        smart->addAction(QString::fromUtf8(label), this, [this, mode] {
            edit(std::make_unique<ProjectSettingCommand<uint8_t>>("Smart Tempo",
                                                                  &Project::smartTempoMode, mode));
        });
    QMenu *meter = studio->addMenu(QStringLiteral("Размер такта"));
    for (const auto &[label, signature] : {std::pair{"4/4", TimeSignature{4, 4}},
                                           {"3/4", TimeSignature{3, 4}},
                                           {"5/4", TimeSignature{5, 4}},
                                           {"6/8", TimeSignature{6, 8}}})
        meter->addAction(QString::fromUtf8(label), this, [this, signature] {
            edit(std::make_unique<ProjectSettingCommand<TimeSignature>>(
                "Meter", &Project::timeSignature, signature));
        });
    meter->addAction(QStringLiteral("Marker на playhead"), this, [this] {
        edit(std::make_unique<AddMeterMarkerCommand>(app.engine().playhead.load(),
                                                     app.engine().currentMeter()));
    });
    QMenu *transform = studio->addMenu(QStringLiteral("MIDI Transform"));
    const auto onMidiClip = [this](auto makeCommand) {
        return [this, makeCommand] {
            if (const uint64_t clip = selectedMidiClip()) edit(makeCommand(clip));
        };
    };
    transform->addAction(QStringLiteral("Transpose +12"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<TransposeMidiClipCommand>(id, 12);
                         }));
    transform->addAction(QStringLiteral("Transpose -12"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<TransposeMidiClipCommand>(id, -12);
                         }));
    transform->addAction(QStringLiteral("Reverse"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<ReverseMidiClipCommand>(id);
                         }));
    transform->addAction(QStringLiteral("Velocity +10%"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<ScaleMidiVelocityCommand>(id, 1.1f, 0.0f);
                         }));
    transform->addAction(QStringLiteral("Velocity -10%"), this, onMidiClip([](uint64_t id) {
                             return std::make_unique<ScaleMidiVelocityCommand>(id, 0.9f, 0.0f);
                         }));
    transform->addAction(QStringLiteral("Generate (scale)"), this, onMidiClip([this](uint64_t id) {
                             const int64_t sixteenth = app.engine().beatsToSamples(0.25);
                             return std::make_unique<GenerateMidiClipCommand>(
                                 id, sixteenth, static_cast<uint32_t>(id), 0.6f);
                         }));
    transform->addAction(QStringLiteral("Применить Scala/KBM"), this,
                         onMidiClip([this](uint64_t id) {
                             std::lock_guard lock(app.engine().projectMutex);
                             const Project &project = app.engine().project;
                             return std::make_unique<ApplyTuningToMidiClipCommand>(
                                 id, project.scaleRoot, project.scaleMinor);
                         }));
    QAction *lowLatency = studio->addAction(QStringLiteral("Low latency"), this, [this] {
        std::unique_lock lock(app.engine().projectMutex);
        const bool on = app.engine().project.lowLatencyMode;
        lock.unlock();
        edit(std::make_unique<SetLowLatencyModeCommand>(!on));
    });
    (void)lowLatency;
    QAction *browserToggle = browserHolder->toggleViewAction();
    browserToggle->setText(QStringLiteral("Browser"));
    browserToggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    studio->addAction(browserToggle);
    studio->addAction(
        QStringLiteral("Chord marker"), QKeySequence(Qt::CTRL | Qt::Key_H), this, [this] {
            bool ok = false;
            const QString chord =
                QInputDialog::getText(this, QStringLiteral("Chord marker"), QStringLiteral("Chord"),
                                      QLineEdit::Normal, QStringLiteral("C"), &ok);
            if (ok && !chord.trimmed().isEmpty())
                edit(std::make_unique<AddChordMarkerCommand>(app.engine().playhead.load(),
                                                             chord.trimmed().toStdString()));
        });
}

void MainWindow::buildHelpMenu(QMenu *help) {
    help->addAction(QStringLiteral("Клавиатурные сокращения…"),
                    QKeySequence(Qt::CTRL | Qt::Key_Question), this, &MainWindow::showShortcuts);
    help->addAction(QStringLiteral("Быстрый старт…"), this, [this] {
        QuickStartPanel panel(this);
        panel.exec();
    });
    help->addAction(QStringLiteral("Бета-тест: Debug…"),
                    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), this, [this] {
                        QMessageBox::information(this, QStringLiteral("Debug"),
                                                 QString::fromStdString(halvoraLogDir().string()));
                    });
    help->addAction(QStringLiteral("Бета-тест: чеклист…"), this, [this] {
        QMessageBox::information(
            this, QStringLiteral("Checklist"),
            QStringLiteral("1. Play\n2. Import\n3. Edit + undo\n4. Mix\n5. Save\n6. Export"));
    });
    help->addAction(QStringLiteral("Лицензия VST3 (MIT)…"), this, [this] {
        QMessageBox::information(this, QStringLiteral("VST3"),
                                 QStringLiteral("VST 3 SDK interfaces: MIT License."));
    });
    help->addAction(QStringLiteral("Проверить обновления…"), this,
                    [this] { app.checkForUpdates(); });
    help->addAction(QStringLiteral("Конфиденциальность…"), this, &MainWindow::showPrivacy);
}

// --- Actions -------------------------------------------------------------------------------

void MainWindow::edit(std::unique_ptr<Command> command) {
    app.view().executeEdit(std::move(command));
    projectChanged();
}

void MainWindow::projectChanged() {
    timelineView->update();
    editor->update();
    session->projectChanged();
    mixer->projectChanged();
    browser->projectChanged();
    refreshTransport();
}

void MainWindow::togglePlay() {
    if (app.engine().playing.load())
        app.view().stop();
    else
        app.view().play();
}

void MainWindow::stopTransport() { app.view().stop(); }

void MainWindow::toggleRecord() {
    app.view().recording().toggleRecording();
    projectChanged();
}

void MainWindow::toggleCycle() {
    Engine &engine = app.engine();
    int64_t start = engine.loopStart.load();
    int64_t end = engine.loopEnd.load();
    if (end <= start) {
        start = 0;
        end = engine.barLengthSamples() * 4;
    }
    app.view().setCycle(start, end, !engine.loopEnabled.load());
    timelineView->update();
}

void MainWindow::togglePunch() {
    std::unique_lock lock(app.engine().projectMutex);
    const bool punch = app.engine().project.punchEnabled;
    lock.unlock();
    edit(std::make_unique<ProjectSettingCommand<bool>>("Punch", &Project::punchEnabled, !punch));
}

void MainWindow::toggleMetronome() {
    // The click is a transport switch, not part of the document.
    Engine &engine = app.engine();
    const bool on = !engine.metronomeOn.load();
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.metronomeEnabled = on;
    }
    engine.metronomeOn.store(on);
}

uint64_t MainWindow::clipUnderPlayhead() const {
    Engine &engine = app.engine();
    std::lock_guard lock(engine.projectMutex);
    const int64_t playhead = engine.playhead.load();
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
    if (const uint64_t clip = clipUnderPlayhead())
        edit(std::make_unique<SplitClipCommand>(clip, app.engine().playhead.load()));
}

void MainWindow::duplicateSelection() {
    if (const uint64_t clip = app.view().selectedClipId)
        edit(std::make_unique<DuplicateClipCommand>(clip));
}

void MainWindow::deleteSelection() {
    const uint64_t clip = app.view().selectedClipId;
    if (clip == 0) return;
    if (editor->clipId() == clip) {
        editor->setClip(0);
        editor->hide();
    }
    app.view().selectedClipId = 0;
    edit(std::make_unique<DeleteClipCommand>(clip));
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

void MainWindow::openMidiClip(uint64_t clipId) {
    editor->setClip(clipId);
    editor->show();
}

AudioSettingsPanel *MainWindow::openAudioSettings() {
    auto *panel = new AudioSettingsPanel(app, this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->open();
    return panel;
}

void MainWindow::showTab(Tab tab) { tabs->setCurrentIndex(tab); }

MainWindow::Tab MainWindow::currentTab() const { return static_cast<Tab>(tabs->currentIndex()); }

QString MainWindow::statusText() const { return statusLine->text(); }

QAction *MainWindow::action(const QString &text) const {
    for (QAction *candidate : findChildren<QAction *>())
        if (candidate->text() == text) return candidate;
    return nullptr;
}

void MainWindow::setStatus(const std::string &text) { app.status().setText(text); }

void MainWindow::showShortcuts() {
    QMessageBox::information(
        this, QStringLiteral("Клавиатурные сокращения"),
        QStringLiteral("Space — play/stop\nR — запись\nC — cycle\nS — split\nCtrl+D — duplicate\n"
                       "Delete — удалить клип\nCtrl+Z / Ctrl+Shift+Z — отменить / повторить\n"
                       "Ctrl+S — сохранить\nCtrl+O — открыть\nCtrl+I — импорт\nCtrl+E — экспорт\n"
                       "Ctrl+B — Browser\nCtrl+колесо — масштаб"));
}

void MainWindow::showPrivacy() {
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Конфиденциальность"));
    auto *layout = new QVBoxLayout(&dialog);
    const PrivacyPreferences current = readPrivacyPreferences();
    auto *telemetry = new QCheckBox(QStringLiteral("Telemetry"), &dialog);
    auto *crashes = new QCheckBox(QStringLiteral("Crash reports"), &dialog);
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

void MainWindow::offerQuickStart() {
    if (quickStartWasOffered()) return;
    rememberQuickStartOffered();
    QuickStartPanel panel(this);
    panel.exec();
}

// --- Ticks ---------------------------------------------------------------------------------

void MainWindow::refreshTransport() {
    Engine &engine = app.engine();
    const int64_t playhead = engine.playhead.load();
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
    playAction->setChecked(engine.playing.load());
}

void MainWindow::tick() {
    app.onTick();
    const uint64_t generation = app.engine().projectGeneration.load();
    if (generation != projectGenerationSeen) {
        // Another project was opened or made: nothing of the old one stays open.
        projectGenerationSeen = generation;
        editor->setClip(0);
        editor->hide();
        projectChanged();
    }
    timelineView->onTick();
    session->onTick();
    mixer->onTick();
    if (browser->isVisible()) browser->onTick();
    if (app.engine().playing.load() && editor->isVisible()) editor->update();
    refreshTransport();
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

bool displayAvailable() {
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

int runWindow(int argc, char **argv) {
    QApplication program(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Halvora"));
    QApplication::setDesktopFileName(QStringLiteral("halvora"));
    QApplication::setQuitOnLastWindowClosed(true);
    QtApplicationUi ui;
    OVApplication application(ui);
    application.didFinishLaunching();
    MainWindow window(application);
    ui.parent = &window;
    window.show();
    QTimer::singleShot(0, &window, [&application, &window] {
        application.offerRecoveryIfNeeded();
        window.offerQuickStart();
    });
    const int result = QApplication::exec();
    return result;
}

} // namespace orvane

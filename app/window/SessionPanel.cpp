#include "app/window/SessionPanel.h"
#include "app/workflows/RecordingWorkflow.h"
#include "app/workflows/SessionCapture.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/ClipDragData.h"
#include "app/window/LongJobRunner.h"
#include "core/commands/SessionCommands.h"
#include "core/music/SessionPlayer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>

namespace orvane {

namespace {

constexpr int headerHeight = 28;
constexpr int sceneWidth = 120;
constexpr int cellWidth = 110;
constexpr int cellHeight = 34;
constexpr int stopHeight = 26;
constexpr int launchMarkWidth = 24;

QString followActionName(FollowAction action) {
    switch (action) {
    case FollowAction::None: return SessionPanel::tr("None");
    case FollowAction::Again: return SessionPanel::tr("Play Again");
    case FollowAction::NextScene: return SessionPanel::tr("Next Scene");
    case FollowAction::PreviousScene: return SessionPanel::tr("Previous Scene");
    case FollowAction::NextClipInColumn: return SessionPanel::tr("Next Clip in Column");
    }
    return {};
}

/// A "Follow Action" submenu with every action by name and the glyph the grid shows for it,
/// `current` checked, each handed to `choose`.
void addFollowActionMenu(QMenu &menu, FollowAction current,
                         const std::function<void(FollowAction)> &choose) {
    QMenu *follow = menu.addMenu(SessionPanel::tr("Follow Action"));
    for (uint8_t value = 0; value <= static_cast<uint8_t>(FollowAction::NextClipInColumn);
         ++value) {
        const auto action = static_cast<FollowAction>(value);
        const QString glyph = QString::fromUtf8(followActionLabel(action));
        QAction *item = follow->addAction(
            glyph.isEmpty() ? followActionName(action)
                            : followActionName(action) + QStringLiteral("\t") + glyph,
            [choose, action] { choose(action); });
        item->setCheckable(true);
        item->setChecked(action == current);
    }
}

/// The follow action's glyph at the right of `box`, so the grid shows what happens next.
void drawFollowGlyph(QPainter &painter, const QRect &box, FollowAction action) {
    const QString glyph = QString::fromUtf8(followActionLabel(action));
    if (glyph.isEmpty()) return;
    painter.drawText(box.adjusted(0, 0, -6, 0), Qt::AlignVCenter | Qt::AlignRight, glyph);
}

QColor trackColour(uint32_t argb) { return QColor::fromRgba(argb | 0xFF000000u); }

int rowCountOf(const Project &project) {
    int rows = static_cast<int>(project.session.scenes.size());
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (clip->isSessionClip() && clip->sessionRow < project.session.rows)
                rows = std::max(rows, clip->sessionRow + 1);
    return rows;
}

} // namespace

SessionGridModel buildSessionGrid(const Project &project) {
    SessionGridModel model;
    for (const auto &track : project.tracks)
        if (track->type != TrackType::Return)
            model.columns.push_back(
                {track->id, track->name, track->color, track->type == TrackType::Midi});
    const int rows = rowCountOf(project);
    for (int row = 0; row < rows; ++row) {
        const auto &scenes = project.session.scenes;
        if (row < static_cast<int>(scenes.size()))
            model.rows.push_back({scenes[static_cast<std::size_t>(row)].id,
                                  scenes[static_cast<std::size_t>(row)].name,
                                  scenes[static_cast<std::size_t>(row)].followAction});
        else
            model.rows.push_back({0, std::to_string(row + 1)});
    }
    model.cells.resize(model.rows.size() * model.columns.size());
    std::vector<int32_t> shownColumn(model.cells.size(), INT32_MAX);
    for (std::size_t column = 0; column < model.columns.size(); ++column) {
        const auto track = project.findTrack(model.columns[column].trackId);
        for (const auto &clip : track->clips) {
            if (!clip->isSessionClip() || clip->sessionRow >= rows) continue;
            const auto row = static_cast<std::size_t>(clip->sessionRow);
            const std::size_t at = row * model.columns.size() + column;
            if (clip->sessionCol >= shownColumn[at]) continue;
            shownColumn[at] = clip->sessionCol;
            model.cells[at] = {clip->id, clip->name, false, false,
                               clip->launchMode == SessionLaunchMode::Gate, clip->followAction};
        }
    }
    return model;
}

bool applySessionTable(SessionGridModel &model, const SessionTableCopy &table) {
    bool changed = false;
    for (SessionCell &cell : model.cells) {
        bool playing = false, queued = false;
        for (int32_t i = 0; i < table.count; ++i) {
            const ActiveSessionClip &entry = table.entries[static_cast<std::size_t>(i)];
            if (cell.clipId == 0 || entry.clipId != cell.clipId) continue;
            playing = playing || entry.playing;
            queued = queued || entry.queued;
        }
        changed = changed || playing != cell.playing || queued != cell.queued;
        cell.playing = playing;
        cell.queued = queued;
    }
    return changed;
}

/// Draws the grid and turns clicks into launches; everything it does goes through the panel.
class SessionGridView : public QWidget {
  public:
    explicit SessionGridView(SessionPanel &panel) : QWidget(nullptr), panel(panel) {
        setMouseTracking(false);
        setAcceptDrops(true);
        setContextMenuPolicy(Qt::DefaultContextMenu);
    }

    void updateSize() {
        const auto &grid = panel.grid;
        setFixedSize(sceneWidth + static_cast<int>(grid.columns.size()) * cellWidth + 1,
                     headerHeight + static_cast<int>(grid.rows.size()) * cellHeight + stopHeight +
                         1);
    }

  protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

  private:
    /// A clip pressed on its body: launched on release, or moved when dragged.
    struct PressedClip {
        SessionCell cell;
        int row = 0;
        int column = 0;
        QPoint origin;
        bool dragging = false;
    };

    void paintCell(QPainter &painter, std::size_t row, std::size_t column);
    /// The (row, column) under `point`, -1 where there is none.
    std::pair<int, int> cellAt(const QPoint &point) const;

    SessionPanel &panel;
    std::optional<PressedClip> pressed;
};

void SessionGridView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x1E, 0x1F, 0x22));
    const auto &grid = panel.grid;
    painter.setPen(QColor(0xC8, 0xC8, 0xC8));
    for (std::size_t column = 0; column < grid.columns.size(); ++column) {
        const QRect header(sceneWidth + static_cast<int>(column) * cellWidth, 0, cellWidth,
                           headerHeight);
        painter.fillRect(header.adjusted(1, 1, -1, -1),
                         trackColour(grid.columns[column].color).darker(180));
        painter.drawText(header.adjusted(6, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         QString::fromStdString(grid.columns[column].name));
    }
    for (std::size_t row = 0; row < grid.rows.size(); ++row) {
        const QRect scene = panel.sceneRect(static_cast<int>(row));
        painter.fillRect(scene.adjusted(1, 1, -1, -1), QColor(0x2B, 0x2D, 0x31));
        painter.setPen(QColor(0xE0, 0xE0, 0xE0));
        painter.drawText(scene.adjusted(8, 0, -26, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         QStringLiteral("▶ ") + QString::fromStdString(grid.rows[row].name));
        drawFollowGlyph(painter, scene, grid.rows[row].followAction);
        for (std::size_t column = 0; column < grid.columns.size(); ++column)
            paintCell(painter, row, column);
    }
    for (std::size_t column = 0; column < grid.columns.size(); ++column) {
        const QRect stop = panel.stopRect(static_cast<int>(column));
        painter.fillRect(stop.adjusted(1, 1, -1, -1), QColor(0x26, 0x27, 0x2A));
        painter.fillRect(QRect(stop.center() - QPoint(5, 5), QSize(10, 10)),
                         QColor(0x9A, 0x9A, 0x9A));
    }
}

void SessionGridView::paintCell(QPainter &painter, std::size_t row, std::size_t column) {
    const SessionCell &cell = panel.grid.cell(row, column);
    const QRect box =
        panel.cellRect(static_cast<int>(row), static_cast<int>(column)).adjusted(1, 1, -1, -1);
    if (cell.clipId == 0) {
        painter.fillRect(box, QColor(0x24, 0x25, 0x28));
        return;
    }
    const QColor colour = trackColour(panel.grid.columns[column].color);
    painter.fillRect(box, cell.playing ? colour.lighter(130) : colour.darker(150));
    // The launch mark: a triangle while playing, a blinking-free hollow one while queued.
    const QRect mark(box.left() + 6, box.center().y() - 6, 12, 12);
    const QPolygon triangle(
        {mark.topLeft(), mark.bottomLeft(), QPoint(mark.right(), mark.center().y())});
    painter.setPen(cell.playing ? Qt::black : QColor(0xF0, 0xF0, 0xF0));
    painter.setBrush(cell.playing  ? QBrush(QColor(0x3D, 0xDC, 0x6E))
                     : cell.queued ? QBrush(Qt::NoBrush)
                                   : QBrush(QColor(0xB0, 0xB0, 0xB0)));
    if (cell.queued) painter.setPen(QPen(QColor(0xFF, 0xC8, 0x3C), 2));
    painter.drawPolygon(triangle);
    painter.setPen(cell.playing ? Qt::black : QColor(0xF0, 0xF0, 0xF0));
    const bool follows = cell.followAction != FollowAction::None;
    painter.drawText(box.adjusted(24, 0, follows ? -26 : -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     QString::fromStdString(cell.name));
    drawFollowGlyph(painter, box, cell.followAction);
}

std::pair<int, int> SessionGridView::cellAt(const QPoint &point) const {
    const int row = point.y() < headerHeight ? -1 : (point.y() - headerHeight) / cellHeight;
    const int column = point.x() < sceneWidth ? -1 : (point.x() - sceneWidth) / cellWidth;
    return {row, column};
}

void SessionGridView::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint point = event->position().toPoint();
    const auto [row, column] = cellAt(point);
    const auto &grid = panel.grid;
    const int rows = static_cast<int>(grid.rows.size());
    const int columns = static_cast<int>(grid.columns.size());
    if (row < 0 || column >= columns) return;
    if (row == rows && column >= 0) return panel.stopColumn(static_cast<std::size_t>(column));
    if (row >= rows) return;
    if (column < 0) return panel.launchScene(static_cast<std::size_t>(row));
    panel.app.view().selectedTrackId = grid.columns[static_cast<std::size_t>(column)].trackId;
    const SessionCell &cell =
        grid.cell(static_cast<std::size_t>(row), static_cast<std::size_t>(column));
    if (cell.clipId == 0) return;
    // The launch mark and gate clips play at once, as pads do; the body also carries the
    // clip to another scene, so it launches when let go without having moved.
    const QRect box = panel.cellRect(row, column);
    if (cell.gate || point.x() < box.left() + launchMarkWidth) return panel.launchClip(cell);
    pressed = PressedClip{cell, row, column, point};
}

void SessionGridView::mouseMoveEvent(QMouseEvent *event) {
    if (!pressed) return;
    const QPoint travel = event->position().toPoint() - pressed->origin;
    if (travel.manhattanLength() >= QApplication::startDragDistance()) {
        pressed->dragging = true;
        setCursor(Qt::ClosedHandCursor);
    }
}

void SessionGridView::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return;
    if (pressed) {
        const PressedClip done = *pressed;
        pressed.reset();
        unsetCursor();
        if (!done.dragging) return panel.launchClip(done.cell);
        const auto [row, column] = cellAt(event->position().toPoint());
        if (row < 0 || row >= static_cast<int>(panel.grid.rows.size())) return;
        if (column != done.column) {
            panel.app.status().setText(
                SessionPanel::tr("A session clip stays in its track's column").toStdString());
            return;
        }
        if (row != done.row) panel.moveClipToRow(done.cell.clipId, row);
        return;
    }
    if (panel.heldGateClip == 0) return;
    panel.push(Request::releaseClip(panel.heldGateClip));
    panel.heldGateClip = 0;
}

void SessionGridView::mouseDoubleClickEvent(QMouseEvent *event) {
    const auto [row, column] = cellAt(event->position().toPoint());
    const auto &grid = panel.grid;
    if (row < 0 || row >= static_cast<int>(grid.rows.size()) || column < 0 ||
        column >= static_cast<int>(grid.columns.size()))
        return;
    pressed.reset();
    const SessionCell &cell = grid.cell(std::size_t(row), std::size_t(column));
    // A MIDI clip opens in the editor; an empty cell of a MIDI track gets a new clip.
    if (!grid.columns[std::size_t(column)].midi) return;
    if (cell.clipId == 0)
        panel.newMidiClip(std::size_t(row), std::size_t(column));
    else if (panel.onOpenMidiClip)
        panel.onOpenMidiClip(cell.clipId);
}

void SessionGridView::contextMenuEvent(QContextMenuEvent *event) {
    const auto [row, column] = cellAt(event->pos());
    const auto &grid = panel.grid;
    if (row < 0 || row >= static_cast<int>(grid.rows.size())) return;
    if (column < 0) return panel.sceneMenu(static_cast<std::size_t>(row), event->globalPos());
    if (column >= static_cast<int>(grid.columns.size())) return;
    panel.cellMenu(static_cast<std::size_t>(row), static_cast<std::size_t>(column),
                   event->globalPos());
}

namespace {

/// An arrangement clip of this program, or audio and MIDI files: what an empty slot takes.
bool carriesSlotContent(const QMimeData *data) {
    return draggedArrangementClip(data) != 0 || !droppedMediaFiles(data).empty();
}

} // namespace

void SessionGridView::dragEnterEvent(QDragEnterEvent *event) {
    if (carriesSlotContent(event->mimeData())) event->acceptProposedAction();
}

void SessionGridView::dragMoveEvent(QDragMoveEvent *event) {
    const auto [row, column] = cellAt(event->position().toPoint());
    const QMimeData *data = event->mimeData();
    if (!carriesSlotContent(data) || !panel.takesDrop(row, column)) return event->ignore();
    // Refused while hovering, with the reason, rather than only once let go.
    if (const std::string refusal = panel.dropRefusal(data, static_cast<std::size_t>(column));
        !refusal.empty()) {
        panel.app.status().setText(refusal);
        return event->ignore();
    }
    event->acceptProposedAction();
}

void SessionGridView::dropEvent(QDropEvent *event) {
    const auto [row, column] = cellAt(event->position().toPoint());
    if (!panel.takesDrop(row, column)) return;
    const auto cellRow = static_cast<std::size_t>(row);
    const auto cellColumn = static_cast<std::size_t>(column);
    const QMimeData *data = event->mimeData();
    if (const uint64_t clipId = draggedArrangementClip(data)) {
        event->acceptProposedAction();
        return panel.copyArrangementClip(clipId, cellRow, cellColumn);
    }
    const auto paths = droppedMediaFiles(data);
    if (paths.empty()) return;
    event->acceptProposedAction();
    // One slot holds one clip: the first file fills it.
    panel.importFile(paths.front(), cellRow, cellColumn);
}

SessionPanel::SessionPanel(OVApplication &application, QWidget *parent)
    : WorkspacePanel(parent), app(application) {
    auto *layout = new QVBoxLayout(this);
    auto *bar = new QHBoxLayout();
    auto *stop = new QPushButton(tr("Stop All Clips"), this);
    auto *capture = new QPushButton(tr("Capture to Arrangement"), this);
    auto *addScene = new QPushButton(tr("Add Scene"), this);
    connect(stop, &QPushButton::clicked, this, [this] { stopAll(); });
    connect(capture, &QPushButton::clicked, this, [this] { captureToArrangement(); });
    connect(addScene, &QPushButton::clicked, this, [this] {
        const uint64_t last = grid.rows.empty() ? 0 : grid.rows.back().sceneId;
        execute(std::make_unique<InsertSceneCommand>(last));
    });
    bar->addWidget(stop);
    bar->addWidget(capture);
    bar->addWidget(addScene);
    bar->addStretch(1);
    layout->addLayout(bar);
    auto *view = new SessionGridView(*this);
    gridView = view;
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(view);
    scroll->setWidgetResizable(false);
    layout->addWidget(scroll, 1);
    imports = new LongJobRunner(this);
    bar->addWidget(imports);
    connect(imports, &LongJobRunner::jobFinished, this, [this] { projectChanged(); });
    projectChanged();
}

bool SessionPanel::importing() const { return imports->busy(); }

QRect SessionPanel::cellRect(int row, int column) const {
    return {sceneWidth + column * cellWidth, headerHeight + row * cellHeight, cellWidth,
            cellHeight};
}

QRect SessionPanel::sceneRect(int row) const {
    return {0, headerHeight + row * cellHeight, sceneWidth, cellHeight};
}

QRect SessionPanel::stopRect(int column) const {
    return {sceneWidth + column * cellWidth,
            headerHeight + static_cast<int>(grid.rows.size()) * cellHeight, cellWidth, stopHeight};
}

void SessionPanel::projectChanged() {
    {
        std::lock_guard lock(app.engine().projectMutex);
        grid = buildSessionGrid(app.engine().project);
    }
    applySessionTable(grid, app.engine().readSessionTable());
    static_cast<SessionGridView *>(gridView)->updateSize();
    gridView->update();
}

void SessionPanel::onTick() {
    if (applySessionTable(grid, app.engine().readSessionTable())) gridView->update();
}

void SessionPanel::push(const Request &request) {
    if (!app.engine().pushRequest(RequestProducer::MainThread, request))
        app.status().setText(tr("The engine queue is full").toStdString());
}

void SessionPanel::launchClip(const SessionCell &cell) {
    // A launch with the transport stopped starts it, as the grid's pads are played live.
    if (!app.engine().transport.playing.load()) push(Request::play());
    push(Request::launchClip(cell.clipId));
    if (cell.gate) heldGateClip = cell.clipId;
}

void SessionPanel::launchScene(std::size_t row) {
    const uint64_t sceneId = grid.rows[row].sceneId;
    std::vector<uint64_t> listed;
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (const Scene &scene : app.engine().project.session.scenes)
            if (scene.id == sceneId) listed = scene.clips;
    }
    if (!app.engine().transport.playing.load()) push(Request::play());
    // A scene plays the clips its own list names; the row may show others (moved there, or
    // on a row that has no scene), and the user launches what the row shows.
    push(sceneId != 0 ? Request::launchScene(sceneId) : Request::resetSession());
    for (std::size_t column = 0; column < grid.columns.size(); ++column) {
        const uint64_t clipId = grid.cell(row, column).clipId;
        if (clipId != 0 && std::find(listed.begin(), listed.end(), clipId) == listed.end())
            push(Request::launchClip(clipId));
    }
}

void SessionPanel::stopColumn(std::size_t column) {
    const uint64_t trackId = grid.columns[column].trackId;
    const SessionTableCopy table = app.engine().readSessionTable();
    std::lock_guard lock(app.engine().projectMutex);
    for (int32_t i = 0; i < table.count; ++i) {
        const uint64_t clipId = table.entries[static_cast<std::size_t>(i)].clipId;
        const auto clip = app.engine().project.findClip(clipId);
        if (clip && clip->trackId == trackId) push(Request::releaseClip(clipId));
    }
}

void SessionPanel::stopAll() { push(Request::resetSession()); }

void SessionPanel::captureToArrangement() {
    std::vector<uint64_t> captured;
    {
        std::lock_guard lock(app.engine().projectMutex);
        captured = captureWholePasses(app.engine());
        if (captured.empty()) {
            app.status().setText(
                tr("Nothing to capture: no session clips are playing").toStdString());
            return;
        }
        app.view().executeEdit(
            CaptureSessionToArrangeCommand::fromCaptured(app.engine().project, captured));
    }
    app.status().setText(tr("Clips captured: %1").arg(captured.size()).toStdString());
}

void SessionPanel::execute(std::unique_ptr<Command> command) {
    app.view().executeEdit(std::move(command));
    projectChanged();
}

void SessionPanel::renameScene(uint64_t sceneId) {
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("Scene"), tr("Scene name:"),
                                               QLineEdit::Normal, QString(), &ok);
    if (ok && !name.trimmed().isEmpty())
        execute(std::make_unique<RenameSceneCommand>(sceneId, name.trimmed().toStdString()));
}

void SessionPanel::editSceneTempoMeter(uint64_t sceneId) {
    Scene scene;
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (const Scene &candidate : app.engine().project.session.scenes)
            if (candidate.id == sceneId) scene = candidate;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Scene Tempo and Meter"));
    auto *form = new QFormLayout(&dialog);
    auto *useTempo = new QCheckBox(tr("Set the tempo"), &dialog);
    useTempo->setChecked(scene.useSceneTempo);
    auto *bpm = new QDoubleSpinBox(&dialog);
    bpm->setRange(20.0, 999.0);
    bpm->setDecimals(2);
    bpm->setSuffix(QStringLiteral(" BPM"));
    bpm->setValue(scene.sceneTempoBpm);
    auto *useMeter = new QCheckBox(tr("Set the meter"), &dialog);
    useMeter->setChecked(scene.useSceneMeter);
    auto *numerator = new QSpinBox(&dialog);
    numerator->setRange(1, 32);
    numerator->setValue(scene.sceneMeterNum);
    auto *denominator = new QComboBox(&dialog);
    for (const int value : {1, 2, 4, 8, 16, 32})
        denominator->addItem(QString::number(value), value);
    denominator->setCurrentText(QString::number(scene.sceneMeterDen));
    form->addRow(useTempo, bpm);
    form->addRow(useMeter, numerator);
    form->addRow(tr("over"), denominator);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return;
    execute(std::make_unique<SetSceneTempoMeterCommand>(
        sceneId, useTempo->isChecked(), bpm->value(), useMeter->isChecked(),
        TimeSignature{numerator->value(), denominator->currentData().toInt()}));
}

void SessionPanel::sceneMenu(std::size_t row, const QPoint &globalPos) {
    const uint64_t sceneId = grid.rows[row].sceneId;
    QMenu menu(this);
    menu.addAction(tr("Insert Scene"),
                   [&] { execute(std::make_unique<InsertSceneCommand>(sceneId)); });
    if (sceneId != 0) {
        menu.addAction(tr("Duplicate Scene"),
                       [&] { execute(std::make_unique<DuplicateSceneCommand>(sceneId)); });
        menu.addAction(tr("Delete Scene"),
                       [&] { execute(std::make_unique<DeleteSceneCommand>(sceneId)); });
        menu.addAction(tr("Move Up"),
                       [&] { execute(std::make_unique<MoveSceneCommand>(sceneId, -1)); });
        menu.addAction(tr("Move Down"),
                       [&] { execute(std::make_unique<MoveSceneCommand>(sceneId, 1)); });
        menu.addAction(tr("Rename…"), [&] { renameScene(sceneId); });
        menu.addAction(tr("Tempo and Meter…"), [&] { editSceneTempoMeter(sceneId); });
        addFollowActionMenu(menu, grid.rows[row].followAction, [&](FollowAction action) {
            execute(std::make_unique<SetSceneFollowActionCommand>(sceneId, action));
        });
        addSceneQuantizeMenu(menu, sceneId);
    }
    menu.exec(globalPos);
}

void SessionPanel::moveClipToRow(uint64_t clipId, int row) {
    int32_t launcherColumn = -1;
    {
        std::lock_guard lock(app.engine().projectMutex);
        if (const auto clip = app.engine().project.findClip(clipId))
            launcherColumn = clip->sessionCol;
    }
    if (launcherColumn >= 0)
        execute(std::make_unique<MoveSessionClipCommand>(clipId, row, launcherColumn));
}

bool SessionPanel::takesDrop(int row, int column) const {
    return row >= 0 && column >= 0 && row < static_cast<int>(grid.rows.size()) &&
           column < static_cast<int>(grid.columns.size()) &&
           grid.cell(static_cast<std::size_t>(row), static_cast<std::size_t>(column)).clipId == 0;
}

std::string SessionPanel::clipRefusal(uint64_t clipId, std::size_t column) const {
    std::lock_guard lock(app.engine().projectMutex);
    const auto clip = app.engine().project.findClip(clipId);
    if (clip && clip->trackId == grid.columns[column].trackId) return {};
    return tr("A session clip stays in its track's column").toStdString();
}

std::string SessionPanel::dropRefusal(const QMimeData *data, std::size_t column) const {
    if (const uint64_t clipId = draggedArrangementClip(data)) return clipRefusal(clipId, column);
    // One slot takes one file, the first: a MIDI file goes to a MIDI track, audio to audio.
    const auto paths = droppedMediaFiles(data);
    if (!paths.empty() && isMidiFileName(paths.front()) != grid.columns[column].midi)
        return translate("OVMainView", "The slot cannot take this file");
    return {};
}

void SessionPanel::copyArrangementClip(uint64_t clipId, std::size_t row, std::size_t column) {
    if (const std::string refusal = clipRefusal(clipId, column); !refusal.empty()) {
        app.status().setText(refusal);
        return;
    }
    const int32_t launcherColumn = launcherColumnOf(row, column);
    if (launcherColumn < 0) return;
    execute(std::make_unique<CopyClipToSessionCommand>(clipId, static_cast<int32_t>(row),
                                                       launcherColumn));
}

void SessionPanel::importFile(const std::string &path, std::size_t row, std::size_t column) {
    const int32_t launcherColumn = launcherColumnOf(row, column);
    if (launcherColumn < 0) return;
    imports->run(app.view().prepareSessionCellImport(path, grid.columns[column].trackId,
                                                     static_cast<int32_t>(row), launcherColumn));
}

void SessionPanel::addSessionPlayerMenu(QMenu &menu, std::size_t row, std::size_t column) {
    const uint64_t trackId = grid.columns[column].trackId;
    SessionPlayerSettings settings;
    const int32_t launcherColumn = launcherColumnOf(row, column);
    {
        std::lock_guard lock(app.engine().projectMutex);
        settings.root = app.engine().project.scaleRoot;
        settings.minor = app.engine().project.scaleMinor;
    }
    if (launcherColumn < 0) return;
    settings.barLength = app.engine().barLengthSamples();
    settings.seed = static_cast<uint32_t>(trackId * 2654435761u + row);
    QMenu *player = menu.addMenu(tr("Session Player"));
    for (const SessionPlayerKind kind :
         {SessionPlayerKind::DrumsFourFour, SessionPlayerKind::DrumsBreak,
          SessionPlayerKind::BassRoot, SessionPlayerKind::ChordsPad}) {
        SessionPlayerSettings chosen = settings;
        chosen.kind = kind;
        player->addAction(
            QString::fromStdString(translate("SessionPlayer", sessionPlayerKindName(kind))),
            [=, this] {
                execute(std::make_unique<InsertSessionPlayerClipCommand>(
                    trackId, static_cast<int32_t>(row), launcherColumn, chosen));
            });
    }
}

int32_t SessionPanel::launcherColumnOf(std::size_t row, std::size_t column) const {
    std::lock_guard lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    const SessionCell &cell = grid.cell(row, column);
    if (const auto shown = cell.clipId ? project.findClip(cell.clipId) : nullptr)
        return shown->sessionCol;
    // Launcher columns are the project's tracks in order.
    for (std::size_t index = 0; index < project.tracks.size(); ++index)
        if (project.tracks[index]->id == grid.columns[column].trackId)
            return static_cast<int32_t>(index);
    return -1;
}

void SessionPanel::recordIntoSlot(std::size_t row, std::size_t column) {
    const int32_t launcherColumn = launcherColumnOf(row, column);
    if (launcherColumn < 0) return;
    app.view().recording().recordIntoSessionSlot(grid.columns[column].trackId,
                                                 static_cast<int32_t>(row), launcherColumn);
}

void SessionPanel::newMidiClip(std::size_t row, std::size_t column) {
    const int32_t launcherColumn = launcherColumnOf(row, column);
    if (launcherColumn < 0) return;
    auto command = std::make_unique<InsertSessionMidiClipCommand>(
        grid.columns[column].trackId, static_cast<int32_t>(row), launcherColumn,
        app.engine().barLengthSamples());
    const InsertSessionMidiClipCommand &made = *command;
    execute(std::move(command));
    // A slot that takes nothing says so: a double-click that does nothing reads as a fault.
    if (made.clipId() == 0) {
        app.status().setText(tr("This slot cannot take a new MIDI clip").toStdString());
        return;
    }
    // Straight into the editor, to draw the notes.
    if (onOpenMidiClip) onOpenMidiClip(made.clipId());
}

namespace {

QString launchQuantizeLabel(LaunchQuantize quantize) {
    switch (quantize) {
    case LaunchQuantize::Immediate: return SessionPanel::tr("As the Session");
    case LaunchQuantize::OneBeat: return SessionPanel::tr("1 Beat");
    case LaunchQuantize::OneBar: return SessionPanel::tr("1 Bar");
    case LaunchQuantize::EightBars: return SessionPanel::tr("8 Bars");
    }
    return {};
}

} // namespace

// Both menus mark what the clip has and change only what they name: a new launch mode keeps
// the clip's legato and quantisation, a new quantisation its mode and legato.
void SessionPanel::addLaunchMenus(QMenu &menu, uint64_t clipId) {
    SessionLaunchMode currentMode = SessionLaunchMode::Trigger;
    bool legato = false;
    LaunchQuantize currentQuantize = LaunchQuantize::OneBar;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto clip = app.engine().project.findClip(clipId);
        if (!clip) return;
        currentMode = clip->launchMode;
        legato = clip->legatoLaunch;
        currentQuantize = clip->launchQuantize;
    }
    QMenu *modeMenu = menu.addMenu(tr("Launch Mode"));
    for (uint8_t value = 0; value <= static_cast<uint8_t>(SessionLaunchMode::PlayOnce); ++value) {
        const auto mode = static_cast<SessionLaunchMode>(value);
        QAction *choice = modeMenu->addAction(sessionLaunchModeLabel(mode), [=, this] {
            execute(std::make_unique<SetClipLaunchModeCommand>(clipId, mode, legato));
        });
        choice->setCheckable(true);
        choice->setChecked(mode == currentMode);
    }
    QMenu *quantizeMenu = menu.addMenu(tr("Launch Quantisation"));
    for (uint8_t value = 0; value <= static_cast<uint8_t>(LaunchQuantize::EightBars); ++value) {
        const auto quantize = static_cast<LaunchQuantize>(value);
        QAction *choice = quantizeMenu->addAction(launchQuantizeLabel(quantize), [=, this] {
            execute(
                std::make_unique<SetClipLaunchModeCommand>(clipId, currentMode, legato, quantize));
        });
        choice->setCheckable(true);
        choice->setChecked(quantize == currentQuantize);
    }
}

// A scene can launch on the session's grid, at once, or on a grid of its own; the menu marks
// which one it has.
void SessionPanel::addSceneQuantizeMenu(QMenu &menu, uint64_t sceneId) {
    std::optional<LaunchQuantize> current;
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (const Scene &scene : app.engine().project.session.scenes)
            if (scene.id == sceneId && scene.useSceneLaunchQuantize)
                current = scene.sceneLaunchQuantize;
    }
    QMenu *quantizeMenu = menu.addMenu(tr("Launch Quantisation"));
    const auto addChoice = [&](const QString &label, std::optional<LaunchQuantize> quantize) {
        QAction *choice = quantizeMenu->addAction(label, [=, this] {
            execute(std::make_unique<SetSceneLaunchQuantizeCommand>(sceneId, quantize));
        });
        choice->setCheckable(true);
        choice->setChecked(quantize == current);
    };
    addChoice(tr("As the Session"), std::nullopt);
    addChoice(tr("Immediately"), LaunchQuantize::Immediate);
    for (const LaunchQuantize quantize :
         {LaunchQuantize::OneBeat, LaunchQuantize::OneBar, LaunchQuantize::EightBars})
        addChoice(launchQuantizeLabel(quantize), quantize);
}

// An empty cell takes a copy of one of its track's arrangement clips, listed in the order of
// the song.
void SessionPanel::addCopyFromArrangementMenu(QMenu &menu, std::size_t row, std::size_t column) {
    const int32_t launcherColumn = launcherColumnOf(row, column);
    if (launcherColumn < 0) return;
    struct Arranged {
        uint64_t id;
        int64_t start;
        QString label;
    };
    std::vector<Arranged> clips;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        const auto track = project.findTrack(grid.columns[column].trackId);
        if (!track) return;
        for (const auto &clip : track->clips)
            if (!clip->isSessionClip())
                clips.push_back({clip->id, clip->arrangeStart, QString::fromStdString(clip->name)});
    }
    if (clips.empty()) return;
    std::sort(clips.begin(), clips.end(),
              [](const Arranged &a, const Arranged &b) { return a.start < b.start; });
    QMenu *from = menu.addMenu(tr("Copy from Arrangement"));
    for (const Arranged &clip : clips)
        from->addAction(clip.label, [=, this] {
            execute(std::make_unique<CopyClipToSessionCommand>(clip.id, static_cast<int32_t>(row),
                                                               launcherColumn));
        });
}

void SessionPanel::cellMenu(std::size_t row, std::size_t column, const QPoint &globalPos) {
    const SessionCell &cell = grid.cell(row, column);
    const uint64_t clipId = cell.clipId;
    QMenu menu(this);
    if (clipId != 0) {
        menu.addAction(tr("Duplicate Clip"),
                       [&] { execute(std::make_unique<DuplicateSessionClipCommand>(clipId)); });
        addLaunchMenus(menu, clipId);
        addFollowActionMenu(menu, cell.followAction, [&](FollowAction action) {
            execute(std::make_unique<SetClipFollowActionCommand>(clipId, action));
        });
        QMenu *moveTo = menu.addMenu(tr("Move to Scene"));
        for (std::size_t target = 0; target < grid.rows.size(); ++target)
            if (target != row)
                moveTo->addAction(QString::fromStdString(grid.rows[target].name), [&, target] {
                    moveClipToRow(clipId, static_cast<int>(target));
                });
    }
    if (clipId == 0 && grid.columns[column].midi)
        menu.addAction(tr("New MIDI Clip"), [&] { newMidiClip(row, column); });
    if (clipId == 0) addCopyFromArrangementMenu(menu, row, column);
    // An empty slot records its track's input, audio or notes, straight into it.
    if (clipId == 0) menu.addAction(tr("Record into Slot"), [&] { recordIntoSlot(row, column); });
    // A generated pattern fills an empty cell of a MIDI track or replaces a clip's notes.
    if (grid.columns[column].midi) addSessionPlayerMenu(menu, row, column);
    if (!menu.isEmpty()) menu.exec(globalPos);
}

WorkspacePanel *createSessionPanel(OVApplication &application, QWidget *parent) {
    return new SessionPanel(application, parent);
}

} // namespace orvane

#pragma once

#include "app/window/WorkspacePanels.h"
#include "core/commands/Command.h"
#include "core/engine/Engine.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QMenu;
class QMimeData;

namespace orvane {
class LongJobRunner;
}

namespace orvane {

/// One track column of the clip grid.
struct SessionColumn {
    uint64_t trackId = 0;
    std::string name;
    uint32_t color = 0;
    bool midi = false;
};

/// One scene row; `sceneId` 0 for a row that holds clips but has no scene.
struct SessionRow {
    uint64_t sceneId = 0;
    std::string name;
    FollowAction followAction = FollowAction::None;
};

/// One cell: the track's clip on the scene's row, if any, and what the engine does with it.
struct SessionCell {
    uint64_t clipId = 0;
    std::string name;
    bool playing = false;
    bool queued = false;
    bool gate = false;
    FollowAction followAction = FollowAction::None;
};

/// What the grid shows: columns are the tracks (return tracks aside), rows the scenes.
struct SessionGridModel {
    std::vector<SessionColumn> columns;
    std::vector<SessionRow> rows;
    std::vector<SessionCell> cells; // row-major, rows × columns

    const SessionCell &cell(std::size_t row, std::size_t column) const {
        return cells[row * columns.size() + column];
    }
    SessionCell &cell(std::size_t row, std::size_t column) {
        return cells[row * columns.size() + column];
    }
};

/// The grid of `project` (main thread, project lock held). A track with several clips on one
/// row shows the one in the leftmost launcher column.
SessionGridModel buildSessionGrid(const Project &project);
/// Marks the cells the engine plays or has queued; true when any mark changed.
bool applySessionTable(SessionGridModel &model, const SessionTableCopy &table);

/// The session tab: the clip grid with scene launch on the left, a stop button under every
/// track column, and the scene and session commands on a bar above and in context menus.
class SessionPanel : public WorkspacePanel {
    Q_OBJECT

  public:
    SessionPanel(OVApplication &application, QWidget *parent);
    void onTick() override;
    void projectChanged() override;

    const SessionGridModel &model() const { return grid; }
    QRect cellRect(int row, int column) const;
    QRect sceneRect(int row) const;
    QRect stopRect(int column) const;
    QWidget *gridWidget() const { return gridView; }
    /// A file dropped on a slot is still being read.
    bool importing() const;
    /// Opens a MIDI clip in the editor (the window sets it).
    std::function<void(uint64_t clipId)> onOpenMidiClip;

  private:
    friend class SessionGridView;
    void launchClip(const SessionCell &cell);
    void launchScene(std::size_t row);
    void stopColumn(std::size_t column);
    void stopAll();
    void captureToArrangement();
    void sceneMenu(std::size_t row, const QPoint &globalPos);
    void cellMenu(std::size_t row, std::size_t column, const QPoint &globalPos);
    void addLaunchMenus(QMenu &menu, uint64_t clipId);
    void addSceneQuantizeMenu(QMenu &menu, uint64_t sceneId);
    void addCopyFromArrangementMenu(QMenu &menu, std::size_t row, std::size_t column);
    void addSessionPlayerMenu(QMenu &menu, std::size_t row, std::size_t column);
    void moveClipToRow(uint64_t clipId, int row);
    /// Whether the cell (`row`, `column`) is empty and inside the grid, to take a drop.
    bool takesDrop(int row, int column) const;
    /// Why the empty cell in `column` will not take what `data` carries (another track's
    /// clip, a file of the wrong kind), so that a hover can say so; empty when it takes it.
    std::string dropRefusal(const QMimeData *data, std::size_t column) const;
    std::string clipRefusal(uint64_t clipId, std::size_t column) const;
    /// A copy of the arrangement clip `clipId` in the cell, when it is of the cell's track.
    void copyArrangementClip(uint64_t clipId, std::size_t row, std::size_t column);
    /// The audio or MIDI file at `path` imported into the cell.
    void importFile(const std::string &path, std::size_t row, std::size_t column);
    void newMidiClip(std::size_t row, std::size_t column);
    /// Records the track's input into the empty cell.
    void recordIntoSlot(std::size_t row, std::size_t column);
    /// The launcher column of the grid's cell: its clip's, or its track's place in the project.
    int32_t launcherColumnOf(std::size_t row, std::size_t column) const;
    void editSceneTempoMeter(uint64_t sceneId);
    void renameScene(uint64_t sceneId);
    void execute(std::unique_ptr<Command> command);
    void push(const Request &request);

    OVApplication &app;
    SessionGridModel grid;
    QWidget *gridView = nullptr;
    uint64_t heldGateClip = 0;
    LongJobRunner *imports = nullptr;
};

} // namespace orvane

#pragma once

#include "core/model/Project.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <set>
#include <vector>

class QAction;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QMenu;
class QTimer;

namespace orvane {

class Command;
struct Request;
class OVApplication;

/// How a press on empty roll space acts: the pencil adds a note one grid step long (drag to
/// lengthen it), the arrow draws a rubber band that selects.
enum class MidiTool : uint8_t { Draw, Select };

/// The piano roll of one MIDI clip: a bar ruler, notes over a keyboard, a velocity lane
/// below. Notes are drawn, selected (click, Ctrl-click, rubber band, Ctrl+A), moved, resized
/// at their right edge and deleted as a selection; copy and paste go through the editor's
/// clipboard. The step view turns the roll into a drum grid where a click toggles the step.
/// The clip's MIDI editing commands are in `commandsMenu`. Every edit is a command.
class MidiEditor : public QWidget {
    Q_OBJECT
  public:
    static constexpr double keyboardWidth = 44.0;
    static constexpr double rulerHeight = 18.0;
    static constexpr double noteHeight = 9.0;
    static constexpr double velocityHeight = 72.0;

    explicit MidiEditor(OVApplication &application, QWidget *parent = nullptr);
    ~MidiEditor() override;

    /// How long a drawn, clicked or moved note sounds.
    static constexpr int auditionMilliseconds = 200;

    void setClip(uint64_t clipId);
    uint64_t clipId() const { return clip; }
    /// Every MIDI editing command of the clip and its track.
    QMenu *commandsMenu() const { return menu; }
    /// The lowest selected note index, -1 for none.
    int32_t selectedNote() const { return selection.empty() ? -1 : *selection.begin(); }
    const std::set<int32_t> &selectedNotes() const { return selection; }
    void selectAll();
    /// Deletes the selected notes, as one undo step (Delete and Backspace).
    void deleteSelectedNotes();
    void copySelection();
    void cutSelection();
    /// Pastes the copied notes at the playhead when it lies in the clip, else right after
    /// where they were copied from; the pasted notes become the selection.
    void paste();
    /// Sets the velocity of every selected note (0.05 to 1), as one undo step.
    void setSelectedVelocity(float velocity);

    MidiTool tool() const { return currentTool; }
    void setTool(MidiTool tool);
    bool stepView() const { return steps; }
    void setStepView(bool on);
    /// The grid in beats (a sixteenth is 0.25); note lengths and snapping follow it.
    double gridBeats() const { return grid; }
    void setGridBeats(double beats);
    /// One step of that grid in samples.
    int64_t gridStepSamples() const { return gridSamples(); }
    /// Whether drawing, clicking or moving a note sounds it on the clip's track.
    bool audition() const { return auditionOn; }
    void setAudition(bool on);

    // Coordinates, for drawing and for whoever drives the editor.
    double pixelsPerBeat = 96.0;
    double scrollX = 0.0; // pixels
    double scrollY = 0.0; // pixels
    double xForSamples(int64_t samples) const;
    int64_t samplesForX(double x) const;
    double yForPitch(int32_t pitch) const;
    int32_t pitchForY(double y) const;
    /// The note's rectangle in the roll; empty for a bad index.
    QRectF noteRect(int32_t index) const;
    /// Scrolls so that the clip's notes are in view.
    void scrollToNotes();
    /// Scrolls to the notes when an edit has carried them all out of sight.
    void keepNotesInSight();

  Q_SIGNALS:
    void projectEdited();
    /// The selection, the clip or the tool changed (the editor's bar follows).
    void stateChanged();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

  private:
    enum class Grab : uint8_t { Move, Resize, Velocity };
    struct NoteDrag {
        Grab grab = Grab::Move;
        int32_t index = -1;
        MidiNote original;
        QPointF origin;
        QPointF current;
        /// The key last sounded for the note on its way; -1 before.
        int32_t heardPitch = -1;
        /// Alt held: the note moves and sizes freely, off the grid.
        bool offGrid = false;
    };

    std::shared_ptr<Clip> currentClip() const;
    std::shared_ptr<Track> currentTrack() const;
    double samplesPerBeat() const;
    int64_t gridSamples() const;
    int64_t snap(int64_t position) const;
    /// Where `note` goes under the drag of `lead` (the note grabbed), applying the same
    /// shift to every selected note.
    MidiNote draggedNote(const NoteDrag &lead, const MidiNote &note) const;
    double rollBottom() const { return height() - velocityHeight; }
    int32_t noteAt(QPointF point, Grab &grab) const;
    /// A note one grid step long on the step and pitch under `point`.
    MidiNote gridNoteAt(QPointF point) const;
    void pressRoll(QPointF point, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void toggleStepAt(QPointF point);
    void setStepVelocityAt(QPointF point);
    void finishRubberBand();
    /// Sounds `pitch` at `velocity` for a moment through the engine's live keys, on the track
    /// of the clip, cutting short the note sounding before.
    void auditionNote(int32_t pitch, float velocity);
    void advanceAudition();
    /// Ends the audition at once.
    void endAudition();
    /// False when the engine's queue is full.
    [[nodiscard]] bool pushToEngine(const Request &request);
    void edit(std::unique_ptr<Command> command);
    void editAll(const std::string &name, std::vector<std::unique_ptr<Command>> steps);
    void buildMenu();
    void addMenuTransforms();
    void addMenuGrooves();
    void addMenuTrackExpression();
    void paintRuler(QPainter &painter, const Project &project, const Clip &clip);

    OVApplication &app;
    uint64_t clip = 0;
    std::set<int32_t> selection;
    std::optional<NoteDrag> drag;
    std::optional<QPointF> rubberOrigin;
    QPointF rubberCurrent;
    std::vector<MidiNote> clipboard;
    int64_t clipboardEnd = 0;
    MidiTool currentTool = MidiTool::Draw;
    bool steps = false;
    double grid = 0.25;
    QMenu *menu = nullptr;
    bool auditionOn = true;
    QTimer *auditionTimer = nullptr;
    int32_t auditionedPitch = -1;
    uint64_t auditionedTrack = 0;
};

/// The editor with its bar above it: the clip's name, the tools, the step view, the grid,
/// the selected notes' velocity, the MIDI menu and a close button (Esc closes too).
class MidiEditorPane : public QWidget {
    Q_OBJECT
  public:
    MidiEditorPane(OVApplication &application, QWidget *parent = nullptr);
    MidiEditor &editor() { return *roll; }
    void showClip(uint64_t clipId);
    void closeEditor();

  private:
    void refreshBar();

    OVApplication &app;
    MidiEditor *roll = nullptr;
    QLabel *title = nullptr;
    QAction *drawTool = nullptr;
    QAction *selectTool = nullptr;
    QAction *stepAction = nullptr;
    QAction *auditionAction = nullptr;
    QComboBox *gridChoice = nullptr;
    QDoubleSpinBox *velocityField = nullptr;
};

} // namespace orvane

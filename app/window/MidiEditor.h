#pragma once

#include "core/model/Project.h"

#include <QWidget>

#include <memory>
#include <optional>

class QMenu;

namespace orvane {

class Command;
class OVApplication;

/// The piano roll of one MIDI clip: notes drawn over a keyboard, added by double-click,
/// moved, resized at their right edge, deleted with Delete or a right click, a velocity lane
/// below, and the clip's MIDI editing commands in `commandsMenu`. Every edit is a command.
class MidiEditor : public QWidget {
    Q_OBJECT
  public:
    static constexpr double keyboardWidth = 44.0;
    static constexpr double noteHeight = 9.0;
    static constexpr double velocityHeight = 72.0;

    explicit MidiEditor(OVApplication &application, QWidget *parent = nullptr);

    void setClip(uint64_t clipId);
    uint64_t clipId() const { return clip; }
    /// The notes' commands: quantise, humanise, transpose, legato, arpeggiate, reverse, velocity.
    QMenu *commandsMenu() const { return menu; }
    /// Selected note index, -1 for none.
    int32_t selectedNote() const { return selected; }
    /// Deletes the selected note, if any (Delete and Backspace).
    void deleteSelectedNotes();

    // Coordinates, for drawing and for whoever drives the editor.
    double pixelsPerBeat = 96.0;
    double scrollY = 0.0;
    double xForSamples(int64_t samples) const;
    int64_t samplesForX(double x) const;
    double yForPitch(int32_t pitch) const;
    int32_t pitchForY(double y) const;
    /// The note's rectangle in the roll; empty for a bad index.
    QRectF noteRect(int32_t index) const;
    /// Scrolls so that the clip's notes are in view.
    void scrollToNotes();

  Q_SIGNALS:
    void projectEdited();

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
    };

    std::shared_ptr<Clip> currentClip() const;
    double samplesPerBeat() const;
    int64_t gridSamples() const;
    int64_t snap(int64_t position) const;
    MidiNote draggedNote(const NoteDrag &drag) const;
    double rollBottom() const { return height() - velocityHeight; }
    void edit(std::unique_ptr<Command> command);
    void buildMenu();

    OVApplication &app;
    uint64_t clip = 0;
    int32_t selected = -1;
    std::optional<NoteDrag> drag;
    QMenu *menu = nullptr;
};

} // namespace orvane

#include "app/window/MidiEditor.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "core/commands/NoteCommands.h"
#include "core/commands/NoteTransformCommands.h"
#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {
constexpr QColor rollShade{32, 34, 40};
constexpr QColor blackKeyRow{26, 27, 32};
constexpr QColor noteColour{120, 190, 255};
constexpr QColor selectedColour{255, 210, 90};
constexpr double resizeGrab = 5.0;

bool isBlackKey(int32_t pitch) {
    const int32_t pc = pitch % 12;
    return pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
}
} // namespace

MidiEditor::MidiEditor(OVApplication &application, QWidget *parent)
    : QWidget(parent), app(application) {
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(360, 220);
    setMouseTracking(true);
    buildMenu();
}

void MidiEditor::setClip(uint64_t clipId) {
    clip = clipId;
    selected = -1;
    drag.reset();
    scrollToNotes();
    update();
}

std::shared_ptr<Clip> MidiEditor::currentClip() const {
    auto found = app.engine().project.findClip(clip);
    return found && found->kind == ClipKind::Midi ? found : nullptr;
}

double MidiEditor::samplesPerBeat() const {
    const Project &project = app.engine().project;
    const auto found = currentClip();
    const int64_t at = found ? found->arrangeStart : 0;
    const double bpm = usableBpm(tempoAtPosition(at, project.tempoMarkers, project.tempoBpm));
    return (project.sampleRate > 0.0 ? project.sampleRate : 48000.0) * 60.0 / bpm;
}

int64_t MidiEditor::gridSamples() const {
    // A sixteenth: fine enough to place notes, coarse enough to hit.
    return std::max<int64_t>(1, std::llround(samplesPerBeat() / 4.0));
}

int64_t MidiEditor::snap(int64_t position) const {
    const int64_t grid = gridSamples();
    return std::max<int64_t>(
        0, static_cast<int64_t>(std::llround(static_cast<double>(position) / grid)) * grid);
}

double MidiEditor::xForSamples(int64_t samples) const {
    std::lock_guard lock(app.engine().projectMutex);
    return keyboardWidth + static_cast<double>(samples) / samplesPerBeat() * pixelsPerBeat;
}

int64_t MidiEditor::samplesForX(double x) const {
    std::lock_guard lock(app.engine().projectMutex);
    return std::llround((x - keyboardWidth) / pixelsPerBeat * samplesPerBeat());
}

double MidiEditor::yForPitch(int32_t pitch) const { return (127 - pitch) * noteHeight - scrollY; }

int32_t MidiEditor::pitchForY(double y) const {
    return std::clamp(127 - static_cast<int32_t>(std::floor((y + scrollY) / noteHeight)), 0, 127);
}

QRectF MidiEditor::noteRect(int32_t index) const {
    std::lock_guard lock(app.engine().projectMutex);
    const auto found = currentClip();
    if (!found || index < 0 || index >= static_cast<int32_t>(found->notes.size())) return {};
    const MidiNote &note = found->notes[static_cast<std::size_t>(index)];
    const double x0 = xForSamples(note.start);
    const double x1 = xForSamples(note.start + std::max<int64_t>(note.length, 1));
    return QRectF(x0, yForPitch(note.pitch), std::max(x1 - x0, 3.0), noteHeight);
}

void MidiEditor::scrollToNotes() {
    std::lock_guard lock(app.engine().projectMutex);
    const auto found = currentClip();
    int32_t highest = 72;
    if (found && !found->notes.empty())
        highest =
            std::max_element(found->notes.begin(), found->notes.end(),
                             [](const MidiNote &a, const MidiNote &b) { return a.pitch < b.pitch; })
                ->pitch +
            6;
    scrollY = std::max(0.0, (127 - std::min(highest, 127)) * noteHeight);
}

void MidiEditor::edit(std::unique_ptr<Command> command) {
    app.view().executeEdit(std::move(command));
    Q_EMIT projectEdited();
    update();
}

MidiNote MidiEditor::draggedNote(const NoteDrag &noteDrag) const {
    MidiNote note = noteDrag.original;
    const double dx = noteDrag.current.x() - noteDrag.origin.x();
    const int64_t deltaSamples = std::llround(dx / pixelsPerBeat * samplesPerBeat());
    switch (noteDrag.grab) {
    case Grab::Move:
        note.start = snap(std::max<int64_t>(0, noteDrag.original.start + deltaSamples));
        note.pitch = std::clamp(noteDrag.original.pitch +
                                    static_cast<int32_t>(std::lround(
                                        (noteDrag.origin.y() - noteDrag.current.y()) / noteHeight)),
                                0, 127);
        break;
    case Grab::Resize:
        note.length = std::max(
            gridSamples(), snap(noteDrag.original.start + noteDrag.original.length + deltaSamples) -
                               noteDrag.original.start);
        break;
    case Grab::Velocity: {
        const double fraction = (height() - noteDrag.current.y()) / (velocityHeight - 6.0);
        note.velocity = static_cast<float>(std::clamp(fraction, 0.05, 1.0));
        break;
    }
    }
    return note;
}

void MidiEditor::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), rollShade);
    std::lock_guard lock(app.engine().projectMutex);
    const auto found = currentClip();
    const double bottom = rollBottom();
    painter.setClipRect(QRectF(0, 0, width(), bottom));
    for (int32_t pitch = 127; pitch >= 0; --pitch) {
        const double y = yForPitch(pitch);
        if (y > bottom || y + noteHeight < 0) continue;
        const bool black = isBlackKey(pitch);
        painter.fillRect(QRectF(keyboardWidth, y, width(), noteHeight),
                         black ? blackKeyRow : rollShade);
        painter.fillRect(QRectF(0, y, keyboardWidth - 2, noteHeight - 1),
                         black ? QColor(20, 20, 20) : QColor(225, 225, 230));
        if (pitch % 12 == 0) {
            painter.setPen(Qt::black);
            painter.setFont(QFont(font().family(), 7));
            painter.drawText(QRectF(2, y - 1, keyboardWidth - 6, noteHeight + 2),
                             Qt::AlignRight | Qt::AlignVCenter,
                             QStringLiteral("C%1").arg(pitch / 12 - 1));
        }
    }
    if (!found) {
        painter.setPen(QColor(160, 160, 170));
        painter.drawText(rect(), Qt::AlignCenter, tr("MIDI"));
        return;
    }
    const double spb = samplesPerBeat();
    painter.setPen(QColor(60, 63, 74));
    for (double beat = 0.0; beat * spb <= static_cast<double>(found->length); beat += 0.25) {
        const double x = keyboardWidth + beat * pixelsPerBeat;
        if (x > width()) break;
        painter.setPen(std::fmod(beat, 1.0) == 0.0 ? QColor(78, 82, 96) : QColor(48, 50, 58));
        painter.drawLine(QPointF(x, 0), QPointF(x, bottom));
    }
    const double clipEnd = xForSamples(found->length);
    painter.fillRect(QRectF(clipEnd, 0, width() - clipEnd, bottom), QColor(0, 0, 0, 90));
    for (std::size_t i = 0; i < found->notes.size(); ++i) {
        MidiNote note = found->notes[i];
        if (drag && drag->index == static_cast<int32_t>(i)) note = draggedNote(*drag);
        const double x0 = xForSamples(note.start);
        const double x1 = xForSamples(note.start + std::max<int64_t>(note.length, 1));
        const QRectF box(x0, yForPitch(note.pitch), std::max(x1 - x0, 3.0), noteHeight);
        QColor colour = static_cast<int32_t>(i) == selected ? selectedColour : noteColour;
        colour.setAlphaF(0.45f + 0.55f * std::clamp(note.velocity, 0.0f, 1.0f));
        painter.fillRect(box, colour);
        painter.setPen(colour.darker(200));
        painter.drawRect(box);
    }
    painter.setClipping(false);
    // Velocity lane.
    painter.fillRect(QRectF(0, bottom, width(), velocityHeight), QColor(24, 25, 30));
    painter.setPen(QColor(80, 84, 96));
    painter.drawLine(QPointF(0, bottom), QPointF(width(), bottom));
    for (std::size_t i = 0; i < found->notes.size(); ++i) {
        MidiNote note = found->notes[i];
        if (drag && drag->index == static_cast<int32_t>(i)) note = draggedNote(*drag);
        const double x = xForSamples(note.start);
        const double barHeight = std::clamp(note.velocity, 0.0f, 1.0f) * (velocityHeight - 6.0);
        painter.fillRect(QRectF(x, height() - barHeight, 4, barHeight),
                         static_cast<int32_t>(i) == selected ? selectedColour : noteColour);
    }
}

void MidiEditor::mousePressEvent(QMouseEvent *event) {
    const QPointF point = event->position();
    std::unique_lock lock(app.engine().projectMutex);
    const auto found = currentClip();
    if (!found) return;
    selected = -1;
    const bool inVelocityLane = point.y() >= rollBottom();
    for (int32_t i = static_cast<int32_t>(found->notes.size()) - 1; i >= 0; --i) {
        const MidiNote &note = found->notes[static_cast<std::size_t>(i)];
        Grab grab = Grab::Move;
        if (inVelocityLane) {
            const double x = xForSamples(note.start);
            if (point.x() < x - 2 || point.x() > x + 6) continue;
            grab = Grab::Velocity;
        } else {
            const QRectF box = noteRect(i);
            if (!box.contains(point)) continue;
            if (box.right() - point.x() <= resizeGrab) grab = Grab::Resize;
        }
        selected = i;
        if (event->button() == Qt::RightButton && !inVelocityLane) {
            lock.unlock();
            edit(std::make_unique<DeleteMidiNoteCommand>(clip, i));
            selected = -1;
            return;
        }
        drag = NoteDrag{grab, i, note, point, point};
        break;
    }
    update();
}

void MidiEditor::mouseMoveEvent(QMouseEvent *event) {
    if (drag) {
        drag->current = event->position();
        update();
    }
}

void MidiEditor::mouseReleaseEvent(QMouseEvent *event) {
    if (!drag) return;
    drag->current = event->position();
    const NoteDrag done = *drag;
    drag.reset();
    const MidiNote note = draggedNote(done);
    if (note != done.original) edit(std::make_unique<MoveMidiNoteCommand>(clip, done.index, note));
    update();
}

void MidiEditor::mouseDoubleClickEvent(QMouseEvent *event) {
    const QPointF point = event->position();
    if (point.y() >= rollBottom() || point.x() < keyboardWidth) return;
    {
        std::lock_guard lock(app.engine().projectMutex);
        if (!currentClip()) return;
    }
    drag.reset();
    MidiNote note;
    note.pitch = pitchForY(point.y());
    note.velocity = 0.8f;
    note.start = std::max<int64_t>(0, samplesForX(point.x()) / gridSamples() * gridSamples());
    note.length = gridSamples() * 2;
    edit(std::make_unique<AddMidiNoteCommand>(clip, note));
}

void MidiEditor::deleteSelectedNotes() {
    if (clip == 0 || selected < 0) return;
    edit(std::make_unique<DeleteMidiNoteCommand>(clip, selected));
    selected = -1;
}

void MidiEditor::keyPressEvent(QKeyEvent *event) {
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) && selected >= 0) {
        deleteSelectedNotes();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MidiEditor::wheelEvent(QWheelEvent *event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (event->modifiers() & Qt::ControlModifier)
        pixelsPerBeat = std::clamp(pixelsPerBeat * std::pow(1.25, steps), 8.0, 1200.0);
    else
        scrollY =
            std::clamp(scrollY - steps * 3 * noteHeight, 0.0, 128 * noteHeight - rollBottom());
    update();
}

void MidiEditor::buildMenu() {
    menu = new QMenu(tr("MIDI"), this);
    auto add = [this](const char *label, auto makeCommand) {
        menu->addAction(QString::fromUtf8(label), this, [this, makeCommand] {
            if (clip == 0) return;
            edit(makeCommand(clip));
        });
    };
    add("Quantize", [this](uint64_t id) {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        return std::make_unique<IterativeQuantizeClipCommand>(
            id,
            project.gridQuantize == GridQuantize::Off ? GridQuantize::Sixteenth
                                                      : project.gridQuantize,
            project.swingAmount, project.quantizeStrength, project.scaleRoot, project.scaleMinor,
            project.scaleSnapEnabled);
    });
    add("Humanize", [this](uint64_t id) {
        return std::make_unique<HumanizeMidiClipCommand>(id, gridSamples() / 2, 0.3f, 0.15f,
                                                         static_cast<uint32_t>(id * 2654435761u));
    });
    add("Transpose +1",
        [](uint64_t id) { return std::make_unique<TransposeMidiClipCommand>(id, 1); });
    add("Transpose -1",
        [](uint64_t id) { return std::make_unique<TransposeMidiClipCommand>(id, -1); });
    add("Transpose +12",
        [](uint64_t id) { return std::make_unique<TransposeMidiClipCommand>(id, 12); });
    add("Transpose -12",
        [](uint64_t id) { return std::make_unique<TransposeMidiClipCommand>(id, -12); });
    add("Legato", [](uint64_t id) { return std::make_unique<LegatoMidiClipCommand>(id); });
    add("Arpeggiate", [this](uint64_t id) {
        return std::make_unique<ArpeggiateMidiClipCommand>(id, gridSamples(), false);
    });
    add("Reverse", [](uint64_t id) { return std::make_unique<ReverseMidiClipCommand>(id); });
    add("Velocity +10%",
        [](uint64_t id) { return std::make_unique<ScaleMidiVelocityCommand>(id, 1.1f, 0.0f); });
    add("Velocity -10%",
        [](uint64_t id) { return std::make_unique<ScaleMidiVelocityCommand>(id, 0.9f, 0.0f); });
}

} // namespace orvane

#include "app/window/MidiEditor.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "core/commands/Command.h"
#include "core/commands/GrooveCommands.h"
#include "core/commands/NoteCommands.h"
#include "core/commands/NoteTransformCommands.h"
#include "core/engine/Engine.h"
#include "core/model/BuiltInPresets.h"
#include "core/model/MusicalTime.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <optional>

namespace orvane {

namespace {
constexpr QColor rollShade{32, 34, 40};
constexpr QColor blackKeyRow{26, 27, 32};
constexpr QColor noteColour{120, 190, 255};
constexpr QColor selectedColour{255, 210, 90};
constexpr double resizeGrab = 5.0;
/// The last channel, out of the way of a keyboard, which mostly plays on the first.
constexpr int32_t auditionChannel = 15;

QString pitchName(int32_t pitch) {
    static const char *const names[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                          "F#", "G",  "G#", "A",  "A#", "B"};
    return QString::fromLatin1(names[pitch % 12]) + QString::number(pitch / 12 - 1);
}

bool isBlackKey(int32_t pitch) {
    const int32_t pc = pitch % 12;
    return pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
}

struct GridChoice {
    const char *label;
    double beats;
};
constexpr GridChoice gridChoices[] = {{"1/4", 1.0},    {"1/8", 0.5},        {"1/16", 0.25},
                                      {"1/32", 0.125}, {"1/8T", 1.0 / 3.0}, {"1/16T", 1.0 / 6.0}};
/// The song's grid that matches the roll's grid of `beats`, if one does.
std::optional<GridQuantize> gridQuantizeOf(double beats) {
    for (const GridQuantize steps : {GridQuantize::Quarter, GridQuantize::Eighth,
                                     GridQuantize::Sixteenth, GridQuantize::QuarterTriplet,
                                     GridQuantize::EighthTriplet, GridQuantize::SixteenthTriplet})
        if (std::abs(gridBeats(steps, TimeSignature{}) - beats) < 1e-9) return steps;
    return std::nullopt;
}

} // namespace

MidiEditor::MidiEditor(OVApplication &application, QWidget *parent)
    : QWidget(parent), app(application) {
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(360, 220);
    setMouseTracking(true);
    buildMenu();
    auditionTimer = new QTimer(this);
    auditionTimer->setSingleShot(true);
    connect(auditionTimer, &QTimer::timeout, this, &MidiEditor::advanceAudition);
}

// A key left sounding would ring on for as long as the program runs.
MidiEditor::~MidiEditor() { endAudition(); }

void MidiEditor::setAudition(bool on) {
    auditionOn = on;
    if (!on) endAudition();
    Q_EMIT stateChanged();
}

void MidiEditor::auditionNote(int32_t pitch, float velocity) {
    if (!auditionOn || pitch < 0 || pitch > 127) return;
    uint64_t trackId = 0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        if (const auto track = currentTrack()) trackId = track->id;
    }
    if (trackId == 0) return;
    // The note before is cut short; while the queue is full nothing new is played, and the
    // sounding note ends when the queue has room again.
    if (auditionedPitch >= 0 && !pushToEngine(Request::noteOff(auditionChannel, auditionedPitch)))
        return;
    auditionedPitch = -1;
    if (!pushToEngine(Request::auditionOn(trackId))) return;
    auditionedTrack = trackId;
    if (!pushToEngine(Request::noteOn(auditionChannel, pitch,
                                      std::clamp(static_cast<double>(velocity), 0.01, 1.0))))
        return;
    auditionedPitch = pitch;
    auditionTimer->start(auditionMilliseconds);
}

// First the key goes up; a moment later, once the track has rendered its silence and its
// meter has fallen back, the track stops taking the keys. A full queue is tried again.
void MidiEditor::advanceAudition() {
    if (auditionedPitch >= 0) {
        if (pushToEngine(Request::noteOff(auditionChannel, auditionedPitch))) auditionedPitch = -1;
        auditionTimer->start(auditionMilliseconds);
        return;
    }
    if (auditionedTrack == 0) return;
    if (pushToEngine(Request::auditionOn(0)))
        auditionedTrack = 0;
    else
        auditionTimer->start(auditionMilliseconds);
}

void MidiEditor::endAudition() {
    auditionTimer->stop();
    if (auditionedPitch >= 0 && pushToEngine(Request::noteOff(auditionChannel, auditionedPitch)))
        auditionedPitch = -1;
    if (auditionedTrack != 0 && pushToEngine(Request::auditionOn(0))) auditionedTrack = 0;
}

bool MidiEditor::pushToEngine(const Request &request) {
    return app.engine().pushRequest(RequestProducer::MainThread, request);
}

void MidiEditor::setClip(uint64_t clipId) {
    endAudition();
    clip = clipId;
    selection.clear();
    drag.reset();
    rubberOrigin.reset();
    scrollX = 0.0;
    scrollToNotes();
    update();
    Q_EMIT stateChanged();
}

void MidiEditor::setTool(MidiTool tool) {
    currentTool = tool;
    setCursor(tool == MidiTool::Draw ? Qt::CrossCursor : Qt::ArrowCursor);
    Q_EMIT stateChanged();
}

void MidiEditor::setStepView(bool on) {
    steps = on;
    selection.clear();
    update();
    Q_EMIT stateChanged();
}

void MidiEditor::setGridBeats(double beats) {
    grid = std::clamp(beats, 1.0 / 32.0, 4.0);
    update();
    Q_EMIT stateChanged();
}

std::shared_ptr<Clip> MidiEditor::currentClip() const {
    auto found = app.engine().project.findClip(clip);
    return found && found->kind == ClipKind::Midi ? found : nullptr;
}

std::shared_ptr<Track> MidiEditor::currentTrack() const {
    const auto found = currentClip();
    return found ? app.engine().project.findTrack(found->trackId) : nullptr;
}

double MidiEditor::samplesPerBeat() const {
    const Project &project = app.engine().project;
    const auto found = currentClip();
    const int64_t at = found ? found->arrangeStart : 0;
    const double bpm = usableBpm(tempoAtPosition(at, project.tempoMarkers, project.tempoBpm));
    return (project.sampleRate > 0.0 ? project.sampleRate : 48000.0) * 60.0 / bpm;
}

int64_t MidiEditor::gridSamples() const {
    return std::max<int64_t>(1, std::llround(samplesPerBeat() * grid));
}

int64_t MidiEditor::snap(int64_t position) const {
    const int64_t step = gridSamples();
    return std::max<int64_t>(
        0, static_cast<int64_t>(std::llround(static_cast<double>(position) / step)) * step);
}

double MidiEditor::xForSamples(int64_t samples) const {
    std::lock_guard lock(app.engine().projectMutex);
    return keyboardWidth - scrollX +
           static_cast<double>(samples) / samplesPerBeat() * pixelsPerBeat;
}

int64_t MidiEditor::samplesForX(double x) const {
    std::lock_guard lock(app.engine().projectMutex);
    return std::llround((x - keyboardWidth + scrollX) / pixelsPerBeat * samplesPerBeat());
}

double MidiEditor::yForPitch(int32_t pitch) const {
    return rulerHeight + (127 - pitch) * noteHeight - scrollY;
}

int32_t MidiEditor::pitchForY(double y) const {
    return std::clamp(
        127 - static_cast<int32_t>(std::floor((y - rulerHeight + scrollY) / noteHeight)), 0, 127);
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
        highest = std::ranges::max(found->notes, {}, &MidiNote::pitch).pitch + 6;
    scrollY = std::max(0.0, (127 - std::min(highest, 127)) * noteHeight);
}

void MidiEditor::keepNotesInSight() {
    bool seen = false;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto found = currentClip();
        if (!found || found->notes.empty()) return;
        const int32_t top = pitchForY(rulerHeight);
        const int32_t bottom = pitchForY(rollBottom() - 1.0);
        seen = std::ranges::any_of(found->notes, [&](const MidiNote &note) {
            return note.pitch <= top && note.pitch >= bottom;
        });
    }
    if (!seen) scrollToNotes();
}

void MidiEditor::edit(std::unique_ptr<Command> command) {
    app.view().executeEdit(std::move(command));
    Q_EMIT projectEdited();
    Q_EMIT stateChanged();
    update();
}

void MidiEditor::editAll(const std::string &name, std::vector<std::unique_ptr<Command>> edits) {
    if (edits.empty()) return;
    if (edits.size() == 1) return edit(std::move(edits.front()));
    edit(std::make_unique<EditGroupCommand>(name, std::move(edits)));
}

MidiNote MidiEditor::draggedNote(const NoteDrag &lead, const MidiNote &note) const {
    MidiNote moved = note;
    const double dx = lead.current.x() - lead.origin.x();
    const int64_t deltaSamples = std::llround(dx / pixelsPerBeat * samplesPerBeat());
    switch (lead.grab) {
    case Grab::Move: {
        // The grabbed note lands on the grid; the others keep their distance to it.
        const int64_t wanted = std::max<int64_t>(0, lead.original.start + deltaSamples);
        const int64_t leadStart = lead.offGrid ? wanted : snap(wanted);
        const int32_t pitchShift =
            static_cast<int32_t>(std::lround((lead.origin.y() - lead.current.y()) / noteHeight));
        moved.start = std::max<int64_t>(0, note.start + (leadStart - lead.original.start));
        moved.pitch = std::clamp(note.pitch + pitchShift, 0, 127);
        break;
    }
    case Grab::Resize: {
        const int64_t end = lead.original.start + lead.original.length + deltaSamples;
        const int64_t leadLength = lead.offGrid
                                       ? std::max<int64_t>(1, end - lead.original.start)
                                       : std::max(gridSamples(), snap(end) - lead.original.start);
        moved.length = std::max<int64_t>(1, note.length + (leadLength - lead.original.length));
        break;
    }
    case Grab::Velocity: {
        const double fraction = (height() - lead.current.y()) / (velocityHeight - 6.0);
        moved.velocity = static_cast<float>(std::clamp(fraction, 0.05, 1.0));
        break;
    }
    }
    return moved;
}

void MidiEditor::paintRuler(QPainter &painter, const Project &project, const Clip &shown) {
    painter.fillRect(QRectF(0, 0, width(), rulerHeight), QColor(38, 40, 47));
    const double spb = samplesPerBeat();
    const int32_t beatsPerBar = std::max(1, project.timeSignature.numerator);
    const double clipBeats = static_cast<double>(shown.length) / spb;
    painter.setFont(QFont(font().family(), 8));
    for (int32_t beat = 0; beat <= static_cast<int32_t>(clipBeats) + beatsPerBar; ++beat) {
        const double x = keyboardWidth - scrollX + beat * pixelsPerBeat;
        if (x > width()) break;
        if (x < keyboardWidth) continue;
        const bool bar = beat % beatsPerBar == 0;
        painter.setPen(bar ? QColor(170, 176, 190) : QColor(90, 95, 108));
        painter.drawLine(QPointF(x, bar ? 2.0 : rulerHeight - 6.0), QPointF(x, rulerHeight));
        if (bar)
            painter.drawText(QPointF(x + 3, rulerHeight - 5),
                             QString::number(beat / beatsPerBar + 1));
    }
    painter.setPen(QColor(80, 84, 96));
    painter.drawLine(QPointF(0, rulerHeight), QPointF(width(), rulerHeight));
}

void MidiEditor::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), rollShade);
    std::lock_guard lock(app.engine().projectMutex);
    const auto found = currentClip();
    const double bottom = rollBottom();
    painter.setClipRect(QRectF(0, rulerHeight, width(), bottom - rulerHeight));
    for (int32_t pitch = 127; pitch >= 0; --pitch) {
        const double y = yForPitch(pitch);
        if (y > bottom || y + noteHeight < rulerHeight) continue;
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
        painter.setClipping(false);
        painter.setPen(QColor(160, 160, 170));
        painter.drawText(rect(), Qt::AlignCenter, tr("MIDI"));
        return;
    }
    const double spb = samplesPerBeat();
    for (double beat = 0.0; beat * spb <= static_cast<double>(found->length); beat += grid) {
        const double x = keyboardWidth - scrollX + beat * pixelsPerBeat;
        if (x > width()) break;
        if (x < keyboardWidth) continue;
        const bool onBeat = std::abs(beat - std::round(beat)) < 1e-6;
        painter.setPen(onBeat ? QColor(78, 82, 96) : QColor(48, 50, 58));
        painter.drawLine(QPointF(x, rulerHeight), QPointF(x, bottom));
    }
    const double clipEnd = xForSamples(found->length);
    painter.fillRect(QRectF(clipEnd, 0, width() - clipEnd, bottom), QColor(0, 0, 0, 90));
    for (std::size_t i = 0; i < found->notes.size(); ++i) {
        const bool chosen = selection.contains(static_cast<int32_t>(i));
        MidiNote note = found->notes[i];
        if (drag && (chosen || drag->index == static_cast<int32_t>(i)))
            note = draggedNote(*drag, note);
        const double x0 = xForSamples(note.start);
        const double x1 = xForSamples(note.start + std::max<int64_t>(note.length, 1));
        const QRectF box(x0, yForPitch(note.pitch), std::max(x1 - x0, 3.0), noteHeight);
        QColor colour = chosen ? selectedColour : noteColour;
        colour.setAlphaF(0.45f + 0.55f * std::clamp(note.velocity, 0.0f, 1.0f));
        painter.fillRect(box, colour);
        painter.setPen(colour.darker(200));
        painter.drawRect(box);
    }
    if (rubberOrigin) {
        painter.setPen(QPen(QColor(220, 225, 235), 1, Qt::DashLine));
        painter.setBrush(QColor(120, 170, 240, 40));
        painter.drawRect(QRectF(*rubberOrigin, rubberCurrent).normalized());
        painter.setBrush(Qt::NoBrush);
    }
    painter.setClipping(false);
    paintRuler(painter, app.engine().project, *found);
    // Velocity lane.
    painter.fillRect(QRectF(0, bottom, width(), velocityHeight), QColor(24, 25, 30));
    painter.setPen(QColor(80, 84, 96));
    painter.drawLine(QPointF(0, bottom), QPointF(width(), bottom));
    for (std::size_t i = 0; i < found->notes.size(); ++i) {
        const bool chosen = selection.contains(static_cast<int32_t>(i));
        MidiNote note = found->notes[i];
        if (drag && (chosen || drag->index == static_cast<int32_t>(i)))
            note = draggedNote(*drag, note);
        const double x = xForSamples(note.start);
        if (x < keyboardWidth) continue;
        const double barHeight = std::clamp(note.velocity, 0.0f, 1.0f) * (velocityHeight - 6.0);
        painter.fillRect(QRectF(x, height() - barHeight, 4, barHeight),
                         chosen ? selectedColour : noteColour);
    }
}

int32_t MidiEditor::noteAt(QPointF point, Grab &grab) const {
    const auto found = currentClip();
    if (!found) return -1;
    const bool inVelocityLane = point.y() >= rollBottom();
    for (int32_t i = static_cast<int32_t>(found->notes.size()) - 1; i >= 0; --i) {
        const MidiNote &note = found->notes[static_cast<std::size_t>(i)];
        if (inVelocityLane) {
            const double x = xForSamples(note.start);
            if (point.x() < x - 2 || point.x() > x + 6) continue;
            grab = Grab::Velocity;
            return i;
        }
        const QRectF box = noteRect(i);
        if (!box.contains(point)) continue;
        grab = box.right() - point.x() <= resizeGrab ? Grab::Resize : Grab::Move;
        return i;
    }
    return -1;
}

void MidiEditor::mousePressEvent(QMouseEvent *event) {
    const QPointF point = event->position();
    if (point.y() < rulerHeight || point.x() < keyboardWidth) return;
    pressRoll(point, event->button(), event->modifiers());
    update();
    Q_EMIT stateChanged();
}

void MidiEditor::pressRoll(QPointF point, Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
    std::unique_lock lock(app.engine().projectMutex);
    if (!currentClip()) return;
    if (steps) {
        lock.unlock();
        if (point.y() >= rollBottom())
            setStepVelocityAt(point);
        else if (button == Qt::LeftButton)
            toggleStepAt(point);
        return;
    }
    Grab grab = Grab::Move;
    const int32_t hit = noteAt(point, grab);
    if (hit < 0) {
        if (point.y() >= rollBottom() || button != Qt::LeftButton) return;
        lock.unlock();
        if (currentTool == MidiTool::Draw && !(modifiers & Qt::ShiftModifier)) {
            // The pencil: a note of one grid step under the pointer, at once lengthened by
            // dragging its right edge.
            edit(std::make_unique<AddMidiNoteCommand>(clip, gridNoteAt(point)));
            std::unique_lock relock(app.engine().projectMutex);
            std::optional<MidiNote> drawn;
            if (const auto found = currentClip(); found && !found->notes.empty()) {
                const auto index = static_cast<int32_t>(found->notes.size() - 1);
                selection = {index};
                drag = NoteDrag{Grab::Resize, index, found->notes.back(), point, point};
                drawn = found->notes.back();
            }
            relock.unlock();
            if (drawn) auditionNote(drawn->pitch, drawn->velocity);
            return;
        }
        if (!(modifiers & (Qt::ControlModifier | Qt::ShiftModifier))) selection.clear();
        rubberOrigin = point;
        rubberCurrent = point;
        return;
    }
    if (button == Qt::RightButton && grab != Grab::Velocity) {
        if (!selection.contains(hit)) selection = {hit};
        lock.unlock();
        deleteSelectedNotes();
        return;
    }
    if (modifiers & Qt::ControlModifier) {
        if (!selection.erase(hit)) selection.insert(hit);
        return;
    }
    if (!selection.contains(hit)) selection = {hit};
    const auto found = currentClip();
    drag = NoteDrag{grab, hit, found->notes[static_cast<std::size_t>(hit)], point, point};
    drag->offGrid = modifiers & Qt::AltModifier;
    const MidiNote pressed = drag->original;
    drag->heardPitch = pressed.pitch;
    lock.unlock();
    if (grab == Grab::Move) auditionNote(pressed.pitch, pressed.velocity);
}

void MidiEditor::mouseMoveEvent(QMouseEvent *event) {
    if (drag) {
        drag->current = event->position();
        // Alt may be pressed or let go on the way, as in the arrangement.
        drag->offGrid = event->modifiers() & Qt::AltModifier;
        update();
        // A note carried to another key sounds there, as on the keyboard beside it.
        if (drag->grab == Grab::Move) {
            const MidiNote moved = draggedNote(*drag, drag->original);
            if (moved.pitch != drag->heardPitch) {
                drag->heardPitch = moved.pitch;
                auditionNote(moved.pitch, moved.velocity);
            }
        }
    } else if (rubberOrigin) {
        rubberCurrent = event->position();
        update();
    }
}

void MidiEditor::finishRubberBand() {
    const QRectF band = QRectF(*rubberOrigin, rubberCurrent).normalized();
    rubberOrigin.reset();
    std::lock_guard lock(app.engine().projectMutex);
    const auto found = currentClip();
    if (!found) return;
    for (int32_t i = 0; i < static_cast<int32_t>(found->notes.size()); ++i)
        if (band.intersects(noteRect(i))) selection.insert(i);
}

void MidiEditor::mouseReleaseEvent(QMouseEvent *event) {
    if (rubberOrigin) {
        rubberCurrent = event->position();
        finishRubberBand();
        update();
        Q_EMIT stateChanged();
        return;
    }
    if (!drag) return;
    drag->current = event->position();
    drag->offGrid = event->modifiers() & Qt::AltModifier;
    const NoteDrag done = *drag;
    drag.reset();
    std::vector<std::unique_ptr<Command>> moves;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto found = currentClip();
        if (!found) return;
        std::set<int32_t> moved = selection;
        moved.insert(done.index);
        for (const int32_t index : moved) {
            if (index < 0 || index >= static_cast<int32_t>(found->notes.size())) continue;
            const MidiNote &note = found->notes[static_cast<std::size_t>(index)];
            const MidiNote target = draggedNote(done, note);
            if (target != note)
                moves.push_back(std::make_unique<MoveMidiNoteCommand>(clip, index, target));
        }
    }
    editAll(QT_TRANSLATE_NOOP("Command", "Move MIDI Notes"), std::move(moves));
    update();
}

void MidiEditor::mouseDoubleClickEvent(QMouseEvent *event) {
    const QPointF point = event->position();
    if (steps || point.y() >= rollBottom() || point.y() < rulerHeight || point.x() < keyboardWidth)
        return;
    {
        std::lock_guard lock(app.engine().projectMutex);
        if (!currentClip()) return;
        Grab grab = Grab::Move;
        // A double-click on a note is two clicks on it, not a new note over it.
        if (noteAt(point, grab) >= 0) return;
    }
    // Under the pencil the first click of the two has drawn the note already (and is hit
    // above); a double-click arriving alone still draws one.
    drag.reset();
    edit(std::make_unique<AddMidiNoteCommand>(clip, gridNoteAt(point)));
}

MidiNote MidiEditor::gridNoteAt(QPointF point) const {
    MidiNote note;
    note.pitch = pitchForY(point.y());
    note.velocity = 0.8f;
    note.start = std::max<int64_t>(0, samplesForX(point.x()) / gridSamples() * gridSamples());
    note.length = gridSamples();
    return note;
}

void MidiEditor::toggleStepAt(QPointF point) {
    edit(std::make_unique<ToggleDrumStepCommand>(clip, gridNoteAt(point)));
}

void MidiEditor::setStepVelocityAt(QPointF point) {
    std::unique_lock lock(app.engine().projectMutex);
    Grab grab = Grab::Velocity;
    const int32_t hit = noteAt(point, grab);
    if (hit < 0) return;
    MidiNote step = currentClip()->notes[static_cast<std::size_t>(hit)];
    lock.unlock();
    step.length = gridSamples();
    const double fraction = (height() - point.y()) / (velocityHeight - 6.0);
    edit(std::make_unique<SetDrumStepVelocityCommand>(
        clip, step, static_cast<float>(std::clamp(fraction, 0.05, 1.0))));
}

void MidiEditor::selectAll() {
    std::lock_guard lock(app.engine().projectMutex);
    selection.clear();
    if (const auto found = currentClip())
        for (int32_t i = 0; i < static_cast<int32_t>(found->notes.size()); ++i)
            selection.insert(i);
    update();
    Q_EMIT stateChanged();
}

void MidiEditor::deleteSelectedNotes() {
    if (clip == 0 || selection.empty()) return;
    std::vector<std::unique_ptr<Command>> deletions;
    // Highest index first, so that each deletion leaves the indices of the rest in place.
    for (auto index = selection.rbegin(); index != selection.rend(); ++index)
        deletions.push_back(std::make_unique<DeleteMidiNoteCommand>(clip, *index));
    selection.clear();
    editAll(QT_TRANSLATE_NOOP("Command", "Delete MIDI Notes"), std::move(deletions));
}

void MidiEditor::copySelection() {
    std::lock_guard lock(app.engine().projectMutex);
    const auto found = currentClip();
    if (!found || selection.empty()) return;
    clipboard.clear();
    clipboardEnd = 0;
    for (const int32_t index : selection) {
        if (index >= static_cast<int32_t>(found->notes.size())) continue;
        const MidiNote &note = found->notes[static_cast<std::size_t>(index)];
        clipboard.push_back(note);
        clipboardEnd = std::max(clipboardEnd, note.start + note.length);
    }
}

void MidiEditor::cutSelection() {
    copySelection();
    deleteSelectedNotes();
}

void MidiEditor::paste() {
    if (clipboard.empty() || clip == 0) return;
    int64_t offset = 0;
    std::size_t countBefore = 0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto found = currentClip();
        if (!found) return;
        countBefore = found->notes.size();
        const int64_t firstStart = std::ranges::min(clipboard, {}, &MidiNote::start).start;
        const int64_t playhead = app.engine().heardPlayhead() - found->arrangeStart;
        const bool playheadInClip = playhead >= 0 && playhead < found->length;
        offset = (playheadInClip ? snap(playhead) : clipboardEnd) - firstStart;
    }
    edit(std::make_unique<PasteMidiNotesCommand>(clip, offset, clipboard));
    selection.clear();
    for (std::size_t i = 0; i < clipboard.size(); ++i)
        selection.insert(static_cast<int32_t>(countBefore + i));
    update();
    Q_EMIT stateChanged();
}

void MidiEditor::setSelectedVelocity(float velocity) {
    std::vector<std::unique_ptr<Command>> changes;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto found = currentClip();
        if (!found) return;
        for (const int32_t index : selection) {
            if (index >= static_cast<int32_t>(found->notes.size())) continue;
            MidiNote note = found->notes[static_cast<std::size_t>(index)];
            const float wanted = std::clamp(velocity, 0.05f, 1.0f);
            if (std::abs(note.velocity - wanted) < 1e-4f) continue;
            note.velocity = wanted;
            changes.push_back(std::make_unique<MoveMidiNoteCommand>(clip, index, note));
        }
    }
    editAll(QT_TRANSLATE_NOOP("Command", "Velocity"), std::move(changes));
}

void MidiEditor::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        deleteSelectedNotes();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) return selectAll();
    if (event->matches(QKeySequence::Copy)) return copySelection();
    if (event->matches(QKeySequence::Cut)) return cutSelection();
    if (event->matches(QKeySequence::Paste)) return paste();
    if (event->key() == Qt::Key_D && event->modifiers() == Qt::NoModifier)
        return setTool(MidiTool::Draw);
    if (event->key() == Qt::Key_V && event->modifiers() == Qt::NoModifier)
        return setTool(MidiTool::Select);
    QWidget::keyPressEvent(event);
}

void MidiEditor::wheelEvent(QWheelEvent *event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (event->modifiers() & Qt::ControlModifier)
        pixelsPerBeat = std::clamp(pixelsPerBeat * std::pow(1.25, steps), 8.0, 1200.0);
    else if (event->modifiers() & Qt::ShiftModifier || event->angleDelta().x() != 0) {
        const double delta = event->angleDelta().x() != 0 ? event->angleDelta().x() / 120.0 : steps;
        scrollX = std::max(0.0, scrollX - delta * pixelsPerBeat);
    } else
        scrollY = std::clamp(scrollY - steps * 3 * noteHeight, 0.0,
                             128 * noteHeight - (rollBottom() - rulerHeight));
    update();
}

// --- The MIDI menu -------------------------------------------------------------------------

void MidiEditor::buildMenu() {
    menu = new QMenu(tr("MIDI"), this);
    menu->addAction(tr("Cut"), this, &MidiEditor::cutSelection);
    menu->addAction(tr("Copy"), this, &MidiEditor::copySelection);
    menu->addAction(tr("Paste"), this, &MidiEditor::paste);
    menu->addAction(tr("Select All Notes"), this, &MidiEditor::selectAll);
    menu->addAction(tr("Delete Notes"), this, &MidiEditor::deleteSelectedNotes);
    menu->addSeparator();
    addMenuTransforms();
    addMenuGrooves();
    addMenuTrackExpression();
}

void MidiEditor::addMenuTransforms() {
    auto add = [this](QMenu *into, const char *label, auto makeCommand) {
        into->addAction(QString::fromUtf8(label), this, [this, makeCommand] {
            if (clip == 0) return;
            edit(makeCommand(clip));
        });
    };
    // The roll's own grid, and the selected notes when there are any: what the editor shows
    // is what moves, whatever the arrangement's grid is.
    add(menu, "Quantize", [this](uint64_t id) {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        return std::make_unique<QuantizeMidiNotesCommand>(
            id, grid, std::vector<int32_t>(selection.begin(), selection.end()), project.swingAmount,
            project.quantizeStrength, project.scaleRoot, project.scaleMinor,
            project.scaleSnapEnabled);
    });
    // Part of the way to the roll's grid, the whole clip at once: repeated, each pass takes
    // the notes further, so a loose take tightens without losing its feel at one stroke.
    QMenu *partly = menu->addMenu(tr("Quantize Strength"));
    for (const int percent : {25, 50, 75}) {
        QAction *item = partly->addAction(tr("Quantize %1%").arg(percent), this, [this, percent] {
            const std::optional<GridQuantize> steps = gridQuantizeOf(grid);
            if (clip == 0 || !steps) return;
            std::unique_ptr<Command> command;
            {
                std::lock_guard lock(app.engine().projectMutex);
                const Project &project = app.engine().project;
                command = std::make_unique<IterativeQuantizeClipCommand>(
                    clip, *steps, project.swingAmount, static_cast<float>(percent) / 100.0f,
                    project.scaleRoot, project.scaleMinor, false);
            }
            edit(std::move(command));
        });
        // The roll's finest grid has no counterpart among the song's grids.
        connect(partly, &QMenu::aboutToShow, item,
                [this, item] { item->setEnabled(gridQuantizeOf(grid).has_value()); });
    }
    add(menu, "Pitch Quantize to Scale", [this](uint64_t id) {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        return std::make_unique<QuantizeMidiPitchCommand>(id, project.scaleRoot, project.scaleMinor,
                                                          1.0f);
    });
    add(menu, "Humanize", [this](uint64_t id) {
        return std::make_unique<HumanizeMidiClipCommand>(id, gridSamples() / 2, 0.3f, 0.15f,
                                                         static_cast<uint32_t>(id * 2654435761u));
    });
    QMenu *transpose = menu->addMenu(tr("Transpose"));
    for (const auto &[label, semitones] :
         {std::pair{"+1", 1}, {"-1", -1}, {"+12", 12}, {"-12", -12}})
        transpose->addAction(QString::fromUtf8(label), this, [this, semitones] {
            if (clip == 0) return;
            edit(std::make_unique<TransposeMidiClipCommand>(clip, semitones));
            // An octave or two carries the notes out of the roll; the roll follows them.
            keepNotesInSight();
            update();
        });
    add(menu, "Legato", [](uint64_t id) { return std::make_unique<LegatoMidiClipCommand>(id); });
    add(menu, "Arpeggiate", [this](uint64_t id) {
        return std::make_unique<ArpeggiateMidiClipCommand>(id, gridSamples(), false);
    });
    add(menu, "Reverse", [](uint64_t id) { return std::make_unique<ReverseMidiClipCommand>(id); });
    QMenu *duration = menu->addMenu(tr("Scale Duration"));
    for (const auto &[label, factor] :
         {std::pair{"Double (×2)", 2.0f}, {"Half (×½)", 0.5f}, {"Dotted (×1.5)", 1.5f}})
        add(duration, label, [factor](uint64_t id) {
            return std::make_unique<ScaleMidiDurationCommand>(id, factor);
        });
    QMenu *velocity = menu->addMenu(tr("Velocity"));
    add(velocity, "+10%",
        [](uint64_t id) { return std::make_unique<ScaleMidiVelocityCommand>(id, 1.1f, 0.0f); });
    add(velocity, "-10%",
        [](uint64_t id) { return std::make_unique<ScaleMidiVelocityCommand>(id, 0.9f, 0.0f); });
    QMenu *bend = menu->addMenu(tr("Pitch Bend"));
    for (const auto &[label, cents] : {std::pair{"+50 cents", 50.0f},
                                       {"-50 cents", -50.0f},
                                       {"+100 cents", 100.0f},
                                       {"-100 cents", -100.0f}})
        add(bend, label, [cents](uint64_t id) {
            return std::make_unique<AdjustMidiPitchBendCommand>(id, cents);
        });
    menu->addAction(tr("Euclidean Steps…"), this, [this] {
        if (clip == 0) return;
        QDialog dialog(this);
        dialog.setWindowTitle(tr("Euclidean Steps"));
        auto *form = new QFormLayout(&dialog);
        auto *pitch = new QComboBox(&dialog);
        for (const int32_t note : ApplyEuclideanStepSeqCommand::kPitches)
            pitch->addItem(tr("%1 (MIDI %2)").arg(pitchName(note)).arg(note));
        auto *stepCount = new QSpinBox(&dialog);
        stepCount->setRange(1, 64);
        stepCount->setValue(16);
        auto *pulses = new QSpinBox(&dialog);
        pulses->setRange(0, 64);
        pulses->setValue(5);
        form->addRow(tr("Drum"), pitch);
        form->addRow(tr("Steps"), stepCount);
        form->addRow(tr("Hits"), pulses);
        auto *buttons =
            new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        form->addRow(buttons);
        connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        if (dialog.exec() != QDialog::Accepted) return;
        edit(std::make_unique<ApplyEuclideanStepSeqCommand>(
            clip, pitch->currentIndex(), stepCount->value(), pulses->value(), gridSamples()));
    });
}

void MidiEditor::addMenuGrooves() {
    QMenu *grooves = menu->addMenu(tr("Groove"));
    // Built when opened: the pool is the project's and changes with it.
    connect(grooves, &QMenu::aboutToShow, this, [this, grooves] {
        grooves->clear();
        std::vector<std::string> names;
        int32_t active = -1;
        bool poolEmpty = false;
        {
            std::lock_guard lock(app.engine().projectMutex);
            const Project &project = app.engine().project;
            poolEmpty = project.groovePool.empty();
            for (const auto &groove : poolEmpty ? defaultGroovePool() : project.groovePool)
                names.push_back(groove.name);
            active = project.activeGrooveIndex;
        }
        for (int32_t index = 0; index < static_cast<int32_t>(names.size()); ++index) {
            const QString name = QString::fromStdString(names[static_cast<std::size_t>(index)]);
            grooves->addAction(tr("Apply %1 to Track").arg(name), this, [this, index, poolEmpty] {
                std::vector<std::unique_ptr<Command>> steps;
                uint64_t trackId = 0;
                {
                    std::lock_guard lock(app.engine().projectMutex);
                    const auto track = currentTrack();
                    if (!track) return;
                    trackId = track->id;
                }
                // An empty pool is filled with the built-in grooves first.
                if (poolEmpty) steps.push_back(std::make_unique<SetActiveGrooveCommand>(index));
                steps.push_back(std::make_unique<ApplyGrooveCommand>(trackId, index, 1.0f));
                editAll(QT_TRANSLATE_NOOP("Command", "Apply Groove"), std::move(steps));
            });
        }
        grooves->addSeparator();
        for (int32_t index = -1; index < static_cast<int32_t>(names.size()); ++index) {
            const QString label =
                index < 0
                    ? tr("No Active Groove")
                    : tr("Active: %1")
                          .arg(QString::fromStdString(names[static_cast<std::size_t>(index)]));
            QAction *choice = grooves->addAction(label, this, [this, index] {
                edit(std::make_unique<SetActiveGrooveCommand>(index));
            });
            choice->setCheckable(true);
            choice->setChecked(!poolEmpty && index == active);
        }
    });
}

void MidiEditor::addMenuTrackExpression() {
    menu->addSeparator();
    QAction *mpe = menu->addAction(tr("MPE on This Track"), this, [this] {
        std::unique_lock lock(app.engine().projectMutex);
        const auto track = currentTrack();
        if (!track) return;
        const uint64_t trackId = track->id;
        lock.unlock();
        edit(std::make_unique<ToggleTrackMpeCommand>(trackId));
    });
    mpe->setCheckable(true);
    QMenu *maps = menu->addMenu(tr("Expression Map"));
    connect(menu, &QMenu::aboutToShow, this, [this, mpe] {
        std::lock_guard lock(app.engine().projectMutex);
        const auto track = currentTrack();
        mpe->setEnabled(track != nullptr);
        mpe->setChecked(track && track->mpeEnabled);
    });
    connect(maps, &QMenu::aboutToShow, this, [this, maps] {
        maps->clear();
        std::vector<std::string> names;
        int32_t chosen = -1;
        uint64_t trackId = 0;
        {
            std::lock_guard lock(app.engine().projectMutex);
            const Project &project = app.engine().project;
            const auto track = currentTrack();
            if (!track) return;
            trackId = track->id;
            chosen = track->expressionMapIndex;
            for (const auto &map :
                 project.expressionMaps.empty() ? defaultExpressionMaps() : project.expressionMaps)
                names.push_back(map.name);
        }
        for (int32_t index = -1; index < static_cast<int32_t>(names.size()); ++index) {
            const QString label =
                index < 0 ? tr("None")
                          : QString::fromStdString(names[static_cast<std::size_t>(index)]);
            QAction *choice = maps->addAction(label, this, [this, trackId, index] {
                edit(std::make_unique<SetTrackExpressionMapCommand>(trackId, index));
            });
            choice->setCheckable(true);
            choice->setChecked(
                index == chosen ||
                (index < 0 && (chosen < 0 || chosen >= static_cast<int32_t>(names.size()))));
        }
    });
}

// --- The pane ------------------------------------------------------------------------------

MidiEditorPane::MidiEditorPane(OVApplication &application, QWidget *parent)
    : QWidget(parent), app(application) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *bar = new QToolBar(this);
    bar->setIconSize(QSize(16, 16));
    roll = new MidiEditor(application, this);
    title = new QLabel(bar);
    title->setMinimumWidth(140);
    bar->addWidget(title);
    bar->addSeparator();
    drawTool = bar->addAction(tr("✎ Draw"), roll, [this] { roll->setTool(MidiTool::Draw); });
    drawTool->setCheckable(true);
    drawTool->setToolTip(tr("Draw notes one grid step long; drag to lengthen (D)"));
    selectTool = bar->addAction(tr("⬚ Select"), roll, [this] { roll->setTool(MidiTool::Select); });
    selectTool->setCheckable(true);
    selectTool->setToolTip(tr("Select notes with a rubber band (V)"));
    stepAction = bar->addAction(tr("Steps"), roll, [this](bool on) { roll->setStepView(on); });
    stepAction->setCheckable(true);
    stepAction->setToolTip(tr("Drum steps: a click sets or clears the step"));
    auditionAction =
        bar->addAction(tr("Audition"), roll, [this](bool on) { roll->setAudition(on); });
    auditionAction->setCheckable(true);
    auditionAction->setChecked(roll->audition());
    auditionAction->setToolTip(tr("Hear a note on its track as it is drawn, clicked or moved"));
    bar->addSeparator();
    bar->addWidget(new QLabel(tr(" Grid "), bar));
    gridChoice = new QComboBox(bar);
    for (const auto &choice : gridChoices)
        gridChoice->addItem(QString::fromLatin1(choice.label), choice.beats);
    gridChoice->setCurrentIndex(2);
    gridChoice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    gridChoice->setToolTip(tr("Grid for drawing, moving and resizing notes"));
    bar->addWidget(gridChoice);
    connect(gridChoice, &QComboBox::activated, roll,
            [this](int index) { roll->setGridBeats(gridChoice->itemData(index).toDouble()); });
    bar->addWidget(new QLabel(tr(" Velocity "), bar));
    velocityField = new QDoubleSpinBox(bar);
    velocityField->setRange(0, 127);
    velocityField->setDecimals(0);
    // 0 stands for "no note selected"; a note's velocity is never below 1.
    velocityField->setSpecialValueText(QStringLiteral("–"));
    velocityField->setToolTip(tr("Velocity of the selected notes (1 to 127)"));
    bar->addWidget(velocityField);
    connect(velocityField, &QDoubleSpinBox::editingFinished, roll, [this] {
        if (velocityField->value() >= 1.0)
            roll->setSelectedVelocity(static_cast<float>(velocityField->value() / 127.0));
    });
    bar->addSeparator();
    auto *menuButton = new QToolButton(bar);
    menuButton->setText(tr("MIDI"));
    menuButton->setMenu(roll->commandsMenu());
    menuButton->setPopupMode(QToolButton::InstantPopup);
    bar->addWidget(menuButton);
    auto *spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    QAction *close = bar->addAction(tr("✕ Close"), this, &MidiEditorPane::closeEditor);
    close->setToolTip(tr("Close the editor (Esc)"));
    close->setObjectName(QStringLiteral("closeEditor"));
    close->setShortcut(Qt::Key_Escape);
    close->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    // Held by the pane as well, so that Esc reaches it from the roll.
    addAction(close);
    layout->addWidget(bar);
    layout->addWidget(roll, 1);
    connect(roll, &MidiEditor::stateChanged, this, &MidiEditorPane::refreshBar);
    refreshBar();
}

void MidiEditorPane::showClip(uint64_t clipId) {
    roll->setClip(clipId);
    show();
    roll->setFocus();
}

void MidiEditorPane::closeEditor() {
    roll->setClip(0);
    hide();
}

void MidiEditorPane::refreshBar() {
    drawTool->setChecked(roll->tool() == MidiTool::Draw);
    selectTool->setChecked(roll->tool() == MidiTool::Select);
    stepAction->setChecked(roll->stepView());
    auditionAction->setChecked(roll->audition());
    std::lock_guard lock(app.engine().projectMutex);
    const auto shown = app.engine().project.findClip(roll->clipId());
    title->setText(shown ? QStringLiteral("  ") + QString::fromStdString(shown->name) : QString());
    const auto &chosen = roll->selectedNotes();
    const bool noteChosen =
        shown && !chosen.empty() && *chosen.begin() < static_cast<int32_t>(shown->notes.size());
    velocityField->setEnabled(noteChosen);
    velocityField->setValue(
        noteChosen
            ? std::max(1.0,
                       std::round(shown->notes[static_cast<std::size_t>(*chosen.begin())].velocity *
                                  127.0))
            : 0.0);
}

} // namespace orvane

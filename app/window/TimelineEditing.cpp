// The timeline's edits beyond dragging: the selection and the clipboard, tracks, clip
// operations, automation lanes and the context menus that reach them.
#include "app/window/TimelineView.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/PanelControls.h"
#include "app/window/StockEffectPanel.h"
#include "app/workflows/AutomationWriter.h"
#include "core/commands/AudioProcessingCommands.h"
#include "core/commands/AutomationCommands.h"
#include "core/commands/ClipCommands.h"
#include "core/commands/ClipSettingCommands.h"
#include "core/commands/InsertListCommands.h"
#include "core/commands/InstrumentCommands.h"
#include "core/commands/MarkerCommands.h"
#include "core/commands/SandboxCommands.h"
#include "core/commands/TagAndTuningCommands.h"
#include "core/commands/TakeCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"
#include "core/model/SaturatingMath.h"
#include "core/model/Translate.h"
#include "core/music/AudioAnalysis.h"

#include <QColorDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane {

namespace {

/// A new track's default name in the language in use: "Audio 3", "MIDI 2", "Return C",
/// counting that kind's tracks.
std::string nextTrackName(const Project &project, TrackType type) {
    int count = 1;
    for (const auto &track : project.tracks)
        if (track && track->type == type) ++count;
    switch (type) {
    case TrackType::Midi:
        return withArguments(translate("Track", "MIDI %1"), {std::to_string(count)});
    case TrackType::Return:
        return withArguments(translate("Track", "Return %1"),
                             {std::string(1, static_cast<char>('A' + (count - 1) % 26))});
    default: return withArguments(translate("Track", "Audio %1"), {std::to_string(count)});
    }
}

} // namespace

void TimelineView::editAll(const std::string &name, std::vector<std::unique_ptr<Command>> steps) {
    std::erase(steps, nullptr);
    if (steps.empty()) return;
    if (steps.size() == 1)
        edit(std::move(steps.front()));
    else
        edit(std::make_unique<EditGroupCommand>(name, std::move(steps)));
}

// --- Selection and the clipboard ---------------------------------------------------------

void TimelineView::selectClips(const std::set<uint64_t> &clips) {
    selection = clips;
    syncSelection();
    update();
}

void TimelineView::syncSelection() {
    // Clips that an undo or a delete took away leave the selection.
    std::lock_guard lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    std::erase_if(selection, [&](uint64_t id) {
        const auto clip = project.findClip(id);
        return !clip || clip->isSessionClip();
    });
    uint64_t &primary = app.view().selectedClipId;
    if (!selection.contains(primary)) primary = selection.empty() ? 0 : *selection.rbegin();
}

void TimelineView::selectAll() {
    std::set<uint64_t> all;
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (const auto &track : app.engine().project.tracks)
            for (const auto &clip : track->clips)
                if (!clip->isSessionClip()) all.insert(clip->id);
    }
    selectClips(all);
}

void TimelineView::copySelection() {
    syncSelection();
    if (selection.empty()) return;
    clipboard.clear();
    std::lock_guard lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    // In track order, so that the first clip's track is where a paste begins.
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (selection.contains(clip->id)) clipboard.push_back(cloneClipForUndo(*clip));
    app.status().setText(tr("Copied %n clip(s)", nullptr, int(clipboard.size())).toStdString());
}

void TimelineView::cutSelection() {
    copySelection();
    auto steps = takeSelectionForDeletion();
    // Named as what the user did, even for one clip: the undo menu says "Cut Clips".
    if (!steps.empty())
        edit(std::make_unique<EditGroupCommand>(QT_TRANSLATE_NOOP("Command", "Cut Clips"),
                                                std::move(steps)));
}

void TimelineView::pasteAtPlayhead() {
    if (clipboard.empty()) return;
    const int64_t playhead = app.engine().heardPlayhead();
    auto paste =
        std::make_unique<PasteClipsCommand>(clipboard, playhead, app.view().selectedTrackId);
    PasteClipsCommand &made = *paste;
    edit(std::move(paste));
    const auto pasted = made.pastedIds();
    selectClips(std::set<uint64_t>(pasted.begin(), pasted.end()));
}

void TimelineView::deleteSelection() {
    editAll(QT_TRANSLATE_NOOP("Command", "Delete Clips"), takeSelectionForDeletion());
}

std::vector<std::unique_ptr<Command>> TimelineView::takeSelectionForDeletion() {
    syncSelection();
    std::vector<std::unique_ptr<Command>> steps;
    for (const uint64_t id : selection)
        steps.push_back(std::make_unique<DeleteClipCommand>(id));
    selection.clear();
    app.view().selectedClipId = 0;
    return steps;
}

void TimelineView::duplicateSelection() {
    syncSelection();
    if (selection.empty()) return;
    // The copies follow the selection as one block, keeping their distances, and become the
    // selection: pressed again, Duplicate lays the next block after them, in a row.
    int64_t first = std::numeric_limits<int64_t>::max();
    int64_t end = 0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (const uint64_t id : selection)
            if (const auto clip = app.engine().project.findClip(id)) {
                first = std::min(first, clip->arrangeStart);
                end = std::max(
                    end, saturatingAdd(clip->arrangeStart, std::max<int64_t>(clip->length, 1)));
            }
    }
    if (end <= first) return;
    const int64_t shift = end - first;
    std::vector<std::unique_ptr<Command>> steps;
    std::vector<const DuplicateClipCommand *> made;
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (const uint64_t id : selection) {
            const auto clip = app.engine().project.findClip(id);
            if (!clip) continue;
            auto step = std::make_unique<DuplicateClipCommand>(
                id, saturatingAdd(clip->arrangeStart, shift));
            made.push_back(step.get());
            steps.push_back(std::move(step));
        }
    }
    editAll(QT_TRANSLATE_NOOP("Command", "Duplicate Clips"), std::move(steps));
    std::set<uint64_t> copies;
    for (const DuplicateClipCommand *step : made)
        if (step->copyId() != 0) copies.insert(step->copyId());
    if (!copies.empty()) selectClips(copies);
}

uint64_t TimelineView::newMidiClipAt(uint64_t trackId, int64_t position) {
    // The part begins on the grid line at or before the point: a click late in a bar draws
    // in that bar, not in the next one.
    int64_t start = snapped(position, true);
    if (start > position) {
        Engine &engine = app.engine();
        std::lock_guard lock(engine.projectMutex);
        const int64_t cell = engine.beatsToSamples(engine.gridBeats(engine.project.gridQuantize));
        start = snapped(std::max<int64_t>(position - cell, 0), true);
    }
    auto insert = std::make_unique<InsertMidiClipCommand>(trackId, start,
                                                          app.engine().barLengthSamplesAt(start));
    const InsertMidiClipCommand &made = *insert;
    edit(std::move(insert));
    const uint64_t clipId = made.clipId();
    if (clipId == 0) return 0;
    app.view().selectedTrackId = trackId;
    selectClips({clipId});
    app.view().selectedClipId = clipId;
    return clipId;
}

// --- Tracks --------------------------------------------------------------------------------

void TimelineView::addTrack(TrackType type) {
    std::string name;
    std::size_t before = 0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        name = nextTrackName(app.engine().project, type);
        before = app.engine().project.tracks.size();
    }
    // A MIDI track made here sounds like an instrument from its first note; imports and
    // documents keep the sine voice unless they ask for more.
    const bool synth = type == TrackType::Midi;
    edit(std::make_unique<AddTrackCommand>(type, name,
                                           synth ? std::string(synthInstrumentId) : std::string(),
                                           synth ? defaultSynthState() : std::string()));
    std::lock_guard lock(app.engine().projectMutex);
    const auto &tracks = app.engine().project.tracks;
    if (tracks.size() > before) app.view().selectedTrackId = tracks.back()->id;
}

void TimelineView::removeTrack(uint64_t trackId) {
    if (trackId == 0) return;
    edit(std::make_unique<RemoveTrackCommand>(trackId));
    syncSelection();
}

void TimelineView::beginRename(uint64_t trackId) {
    const auto row = rowOf(trackId);
    if (!row) return;
    QString name;
    {
        std::lock_guard lock(app.engine().projectMutex);
        if (const auto track = app.engine().project.findTrack(trackId))
            name = QString::fromStdString(track->name);
    }
    renamingTrackId = trackId;
    renameField->setGeometry(8, static_cast<int>(row->top) + 3,
                             static_cast<int>(TimelineGeometry::headerWidth) - 16, 22);
    renameField->setText(name);
    renameField->selectAll();
    renameField->show();
    renameField->setFocus(Qt::OtherFocusReason);
}

void TimelineView::commitRename() {
    if (!renameField->isVisible()) return;
    const uint64_t trackId = renamingTrackId;
    const std::string name = renameField->text().trimmed().toStdString();
    renamingTrackId = 0;
    renameField->hide();
    setFocus(Qt::OtherFocusReason);
    if (trackId == 0 || name.empty()) return;
    std::unique_lock lock(app.engine().projectMutex);
    const auto track = app.engine().project.findTrack(trackId);
    if (!track || track->name == name) return;
    lock.unlock();
    edit(std::make_unique<RenameTrackCommand>(trackId, name));
}

void TimelineView::chooseColour(uint64_t trackId) {
    QColor current;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto track = app.engine().project.findTrack(trackId);
        if (!track) return;
        current = displayColourOf(*track);
    }
    const QColor chosen = QColorDialog::getColor(current, this, tr("Track Colour"));
    if (chosen.isValid() && chosen != current)
        edit(std::make_unique<SetTrackColorCommand>(trackId, chosen.rgba()));
}

void TimelineView::moveTrack(uint64_t trackId, int steps) {
    std::optional<std::size_t> target;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto &tracks = app.engine().project.tracks;
        const auto at = std::ranges::find_if(
            tracks, [trackId](const auto &track) { return track && track->id == trackId; });
        if (at == tracks.end()) return;
        const auto index = static_cast<std::ptrdiff_t>(at - tracks.begin()) + steps;
        if (index < 0 || index >= static_cast<std::ptrdiff_t>(tracks.size())) return;
        target = static_cast<std::size_t>(index);
    }
    edit(std::make_unique<MoveTrackCommand>(trackId, *target));
}

void TimelineView::setInputPair(uint64_t trackId, int32_t pair) {
    edit(std::make_unique<SetTrackInputPairCommand>(trackId, pair));
}

// --- Clips ----------------------------------------------------------------------------------

std::optional<std::pair<uint64_t, uint64_t>> TimelineView::clipPairForJoin() const {
    std::lock_guard lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    std::vector<std::shared_ptr<Clip>> chosen;
    for (const uint64_t id : selection)
        if (const auto clip = project.findClip(id)) chosen.push_back(clip);
    if (chosen.empty())
        if (const auto clip = project.findClip(app.view().selectedClipId)) chosen.push_back(clip);
    const auto byStart = [](const auto &a, const auto &b) {
        return a->arrangeStart < b->arrangeStart;
    };
    if (chosen.size() == 2 && chosen[0]->trackId == chosen[1]->trackId) {
        std::ranges::sort(chosen, byStart);
        return std::pair{chosen[0]->id, chosen[1]->id};
    }
    if (chosen.size() != 1) return std::nullopt;
    // The clip and the next one on its track (in its take lane).
    const auto track = project.findTrack(chosen[0]->trackId);
    if (!track) return std::nullopt;
    std::shared_ptr<Clip> next;
    for (const auto &clip : track->clips)
        if (!clip->isSessionClip() && clip->id != chosen[0]->id &&
            clip->takeLane == chosen[0]->takeLane &&
            clip->arrangeStart >= chosen[0]->arrangeStart && (!next || byStart(clip, next)))
            next = clip;
    if (!next) return std::nullopt;
    return std::pair{chosen[0]->id, next->id};
}

void TimelineView::glueSelection() {
    if (const auto pair = clipPairForJoin()) {
        edit(std::make_unique<GlueClipsCommand>(pair->first, pair->second));
        selectClips({pair->first});
    }
}

void TimelineView::crossfadeSelection() {
    const auto pair = clipPairForJoin();
    if (!pair) return;
    // Across the overlap when the clips overlap, else a sixteenth of a bar.
    int64_t fade = app.engine().barLengthSamples() / 16;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto first = app.engine().project.findClip(pair->first);
        const auto second = app.engine().project.findClip(pair->second);
        if (first && second) {
            const int64_t overlap = first->arrangeStart + first->length - second->arrangeStart;
            if (overlap > 0) fade = overlap;
        }
    }
    edit(std::make_unique<CrossfadeClipsCommand>(pair->first, pair->second,
                                                 std::max<int64_t>(fade, 1)));
}

void TimelineView::toggleLoopOfSelection() {
    syncSelection();
    std::vector<std::unique_ptr<Command>> steps;
    for (const uint64_t id : selection)
        steps.push_back(std::make_unique<ToggleClipLoopCommand>(id));
    editAll(QT_TRANSLATE_NOOP("Command", "Loop Clips"), std::move(steps));
}

void TimelineView::flattenCompOfSelection() {
    if (const uint64_t clip = app.view().selectedClipId)
        edit(std::make_unique<FlattenCompCommand>(clip));
}

// --- View ----------------------------------------------------------------------------------

void TimelineView::setShowAutomation(bool shown) {
    layout.showAutomation = shown;
    AutomationTools &automation = app.view().automation();
    if (shown && automation.automationLaneMode == 0) automation.setAutomationLane(1);
    if (!shown && automation.automationLaneMode != 0) automation.setAutomationLane(0);
    updateScrollBars();
    update();
}

int32_t TimelineView::shownAutomationLane() const {
    // The view's lane mode counts from "none"; the commands count lanes from volume.
    const uint8_t mode = app.view().automation().automationLaneMode;
    return mode == 0 ? 0 : mode - 1;
}

// A lane's automation clips win over its points where they lie: each shows as a block in the
// lane with its own curve, held flat from its edges to its first and last points.
void TimelineView::paintAutomationClips(QPainter &painter, const Track &track, const TimeMap &time,
                                        const AutomationScale &scale, const QColor &line) {
    const QRectF &area = scale.area;
    for (const AutomationClip &clip : track.automationClips) {
        if (clip.lane != scale.lane) continue;
        const double left = layout.xForBeats(time.beats(clip.start));
        const double right = layout.xForBeats(time.beats(clip.start + clip.length));
        if (right < area.left() || left > area.right()) continue;
        const QRectF block(QPointF(left, area.top() + 1.0), QPointF(right, area.bottom()));
        QColor fill = line;
        fill.setAlpha(48);
        painter.fillRect(block, fill);
        painter.setPen(QPen(line, 1.0));
        painter.drawRect(block.adjusted(0.5, 0.5, -0.5, -0.5));
        if (clip.points.empty()) continue;
        QPolygonF curve;
        curve << QPointF(left, scale.yOf(clip.points.front().v));
        for (const auto &point : clip.points)
            curve << QPointF(layout.xForBeats(time.beats(clip.start + point.t)),
                             scale.yOf(point.v));
        curve << QPointF(right, scale.yOf(clip.points.back().v));
        painter.setPen(QPen(line, 1.5));
        painter.drawPolyline(curve);
    }
}

void TimelineView::paintAutomation(QPainter &painter, const Project &project, const TimeMap &time,
                                   const TrackRow &row) {
    const auto track = project.findTrack(row.trackId);
    if (!track) return;
    const QRectF area = row.automationArea(TimelineGeometry::headerWidth, width());
    painter.fillRect(area, QColor(24, 26, 31));
    painter.setPen(QColor(52, 55, 64));
    painter.drawLine(area.topLeft(), area.topRight());
    const AutomationScale scale{area, shownAutomationLane()};
    const auto yOf = [&](float value) { return scale.yOf(value); };
    const QColor line = displayColourOf(*track).lighter(140);
    paintAutomationClips(painter, *track, time, scale, line);
    const auto *lanePoints = automationLaneOf(*track, scale.lane);
    if (!lanePoints || lanePoints->empty()) return;
    const auto &points = *lanePoints;
    // Held flat before the first point and after the last, as playback reads it.
    QPolygonF curve;
    curve << QPointF(area.left(), yOf(points.front().v));
    for (const auto &point : points)
        curve << QPointF(layout.xForBeats(time.beats(point.t)), yOf(point.v));
    curve << QPointF(area.right(), yOf(points.back().v));
    painter.setPen(QPen(line, 1.5));
    painter.drawPolyline(curve);
    painter.setPen(Qt::NoPen);
    painter.setBrush(line);
    for (const auto &point : points) {
        const QPointF at(layout.xForBeats(time.beats(point.t)), yOf(point.v));
        if (at.x() < area.left() - 4 || at.x() > area.right() + 4) continue;
        painter.drawEllipse(at, 3.5, 3.5);
    }
    painter.setBrush(Qt::NoBrush);
    if (automationDrag && automationDrag->trackId == row.trackId) {
        painter.setPen(QPen(QColor(255, 255, 255), 1, Qt::DashLine));
        painter.drawEllipse(automationDrag->current, 5.0, 5.0);
    }
}

void TimelineView::fitToContent() {
    double songBeats = 0.0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        songBeats = TimeMap::of(app.engine().project).beats(app.view().projectEndSamples());
    }
    scrollToBeats(0.0);
    // An empty song shows eight bars of four.
    setVisibleBeats(std::max(songBeats * 1.05, 32.0));
    updateScrollBars();
}

void TimelineView::scrollToBeats(double beats) {
    layout.scrollBeats = std::max(0.0, beats);
    app.view().timelineScrollBeats = layout.scrollBeats;
    updateScrollBars();
    update();
}

// --- Audio processing ----------------------------------------------------------------------

QMenu *TimelineView::audioProcessingMenu(QWidget *parent) {
    auto *menu = new QMenu(tr("Audio"), parent);
    // Each works on the audio clip selected when it is chosen.
    const auto onClip = [this](auto makeCommand) {
        return [this, makeCommand] {
            const uint64_t clipId = app.view().selectedClipId;
            std::unique_lock lock(app.engine().projectMutex);
            const auto clip = app.engine().project.findClip(clipId);
            if (!clip || clip->kind != ClipKind::Audio) {
                lock.unlock();
                app.status().setText(tr("Select an audio clip first").toStdString());
                return;
            }
            auto command = makeCommand(*clip);
            lock.unlock();
            if (command) edit(std::move(command));
        };
    };
    const auto onset = [](const Clip &clip) {
        const ClipAudioWindow window = clipAnalysisWindow(clip);
        return window.samples
                   ? detectAudioOnset(window.samples, window.frames, window.channels, 0.02f)
                   : int64_t{0};
    };
    menu->addAction(tr("Normalize"), this, onClip([](const Clip &clip) {
                        return std::make_unique<NormalizeAudioClipCommand>(clip.id, 0.98f);
                    }));
    menu->addAction(tr("Reverse"), this, onClip([](const Clip &clip) {
                        return std::make_unique<ReverseAudioClipCommand>(clip.id);
                    }));
    menu->addAction(tr("Invert Phase"), this, onClip([](const Clip &clip) {
                        return std::make_unique<InvertAudioPhaseCommand>(clip.id);
                    }));
    menu->addAction(tr("Trim Silence"), this, onClip([](const Clip &clip) {
                        return std::make_unique<TrimAudioSilenceCommand>(clip.id, 0.001f);
                    }));
    QMenu *pitch = menu->addMenu(tr("Pitch Shift"));
    for (const float semitones : {-12.0f, -1.0f, 1.0f, 12.0f})
        pitch->addAction(tr("%1%n semitone(s)", nullptr, int(std::abs(semitones)))
                             .arg(semitones > 0 ? "+" : "-"),
                         this, onClip([semitones](const Clip &clip) {
                             return std::make_unique<PitchShiftAudioClipCommand>(clip.id,
                                                                                 semitones);
                         }));
    menu->addAction(tr("Pitch Correct to Scale"), this, onClip([this](const Clip &clip) {
                        const Project &project = app.engine().project;
                        return std::make_unique<PitchCorrectAudioClipCommand>(
                            clip.id, project.sampleRate, project.scaleRoot, project.scaleMinor);
                    }));
    menu->addSeparator();
    menu->addAction(tr("Split into Stems"), this, onClip([](const Clip &clip) {
                        return std::make_unique<SplitAudioStemsCommand>(clip.id);
                    }));
    menu->addAction(tr("Slice at Transients"), this, onClip([](const Clip &clip) {
                        return std::make_unique<SliceAudioAtTransientsCommand>(clip.id);
                    }));
    menu->addAction(tr("Align Onset to Clip Start"), this, onClip([onset](const Clip &clip) {
                        return std::make_unique<AlignAudioOnsetCommand>(clip.id, onset(clip));
                    }));
    menu->addAction(tr("Snap Onset to Playhead"), this, onClip([this, onset](const Clip &clip) {
                        return std::make_unique<SnapAudioOnsetToPlayheadCommand>(
                            clip.id, app.engine().heardPlayhead(), onset(clip));
                    }));
    menu->addSeparator();
    menu->addAction(tr("Move Nearest Warp Marker to Playhead"), this,
                    onClip([this](const Clip &clip) -> std::unique_ptr<Command> {
                        const int64_t playhead = app.engine().heardPlayhead();
                        const WarpMarker *nearest = nullptr;
                        for (const auto &marker : clip.warpMarkers)
                            if (!nearest || std::llabs(marker.dest - playhead) <
                                                std::llabs(nearest->dest - playhead))
                                nearest = &marker;
                        if (!nearest) return nullptr;
                        return std::make_unique<MoveWarpMarkerCommand>(clip.id, nearest->dest,
                                                                       playhead, nearest->source);
                    }));
    menu->addAction(tr("Toggle Track Freeze Mark"), this, [this] {
        if (const uint64_t track = app.view().selectedTrackId)
            edit(std::make_unique<ToggleTrackFrozenCommand>(track));
    });
    return menu;
}

// --- Context menus ---------------------------------------------------------------------------

QMenu *TimelineView::contextMenuAt(QPointF point) {
    if (point.y() < TimelineGeometry::rulerHeight)
        return point.x() >= TimelineGeometry::headerWidth ? rulerMenu(point) : nullptr;
    std::unique_lock lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    const auto rows = layout.rows(project);
    const TrackRow *row = TimelineGeometry::rowAt(rows, point.y());
    if (!row) {
        lock.unlock();
        return emptyAreaMenu();
    }
    const uint64_t trackId = row->trackId;
    app.view().selectedTrackId = trackId;
    if (point.x() < TimelineGeometry::headerWidth) {
        lock.unlock();
        return headerMenu(trackId);
    }
    if (row->automationHeight > 0.0 && point.y() >= row->automationTop()) {
        lock.unlock();
        return automationMenu(trackId, point);
    }
    const TimeMap time = TimeMap::of(project);
    uint64_t clipId = 0;
    if (const auto track = project.findTrack(trackId))
        for (const auto &clip : track->clips)
            if (!clip->isSessionClip() && layout.clipRect(*clip, *row, time).contains(point))
                clipId = clip->id;
    const bool midiLane =
        project.findTrack(trackId) && project.findTrack(trackId)->type == TrackType::Midi;
    lock.unlock();
    if (clipId == 0 && midiLane) {
        QMenu *menu = emptyAreaMenu();
        const int64_t position = samplesAtX(point.x());
        QAction *create = new QAction(tr("New MIDI Clip"), menu);
        connect(create, &QAction::triggered, this,
                [this, trackId, position] { newMidiClipAt(trackId, position); });
        menu->insertAction(menu->actions().value(0), create);
        menu->insertSeparator(menu->actions().value(1));
        return menu;
    }
    if (clipId == 0) return emptyAreaMenu();
    if (!selection.contains(clipId)) selectClips({clipId});
    app.view().selectedClipId = clipId;
    return clipMenu(clipId);
}

QMenu *TimelineView::emptyAreaMenu() {
    auto *menu = new QMenu(this);
    menu->addAction(tr("Add Audio Track"), this, [this] { addTrack(TrackType::Audio); });
    menu->addAction(tr("Add MIDI Track"), this, [this] { addTrack(TrackType::Midi); });
    menu->addAction(tr("Add Return Track"), this, [this] { addTrack(TrackType::Return); });
    menu->addSeparator();
    menu->addAction(tr("Paste"), this, &TimelineView::pasteAtPlayhead)->setEnabled(canPaste());
    menu->addAction(tr("Select All"), this, &TimelineView::selectAll);
    return menu;
}

QMenu *TimelineView::headerMenu(uint64_t trackId) {
    Track track;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto found = app.engine().project.findTrack(trackId);
        if (!found) return emptyAreaMenu();
        track = *found;
    }
    QMenu *menu = emptyAreaMenu();
    menu->addSeparator();
    menu->addAction(tr("Rename…"), this, [this, trackId] { beginRename(trackId); });
    menu->addAction(tr("Colour…"), this, [this, trackId] { chooseColour(trackId); });
    if (track.type == TrackType::Audio) {
        QMenu *input = menu->addMenu(tr("Input"));
        for (int32_t pair = 0; pair <= highestInputPair; ++pair) {
            QAction *choice =
                input->addAction(tr("In %1/%2").arg(pair * 2 + 1).arg(pair * 2 + 2), this,
                                 [this, trackId, pair] { setInputPair(trackId, pair); });
            choice->setCheckable(true);
            choice->setChecked(track.inputPair == pair);
        }
        QMenu *monitor = menu->addMenu(tr("Monitor"));
        const std::pair<const char *, MonitorMode> modes[] = {
            {QT_TR_NOOP("Auto (while armed)"), MonitorMode::Auto},
            {QT_TR_NOOP("In"), MonitorMode::In},
            {QT_TR_NOOP("Off"), MonitorMode::Off}};
        for (const auto &[label, mode] : modes) {
            QAction *choice = monitor->addAction(tr(label), this, [this, trackId, mode] {
                edit(std::make_unique<SetTrackMonitorCommand>(trackId, mode));
            });
            choice->setCheckable(true);
            choice->setChecked(track.monitor == mode);
        }
    }
    if (track.type == TrackType::Midi) {
        menu->addAction(tr("Instrument…"), this,
                        [this, trackId] { Q_EMIT instrumentPanelRequested(trackId); });
        QMenu *instrument = menu->addMenu(tr("Instrument"));
        const std::pair<const char *, std::string_view> instruments[] = {
            {QT_TR_NOOP("Halvora Synth"), synthInstrumentId},
            {QT_TR_NOOP("Drum Sampler"), drumsInstrumentId},
            {QT_TR_NOOP("General MIDI"), gmInstrumentId},
            {QT_TR_NOOP("Sine Voice"), {}}};
        for (const auto &[label, id] : instruments) {
            const std::string chosen(id);
            QAction *choice = instrument->addAction(tr(label), this, [this, trackId, chosen] {
                if (chosen != gmInstrumentId) {
                    edit(std::make_unique<SetTrackInstrumentCommand>(
                        trackId, chosen, defaultInstrumentState(chosen)));
                    return;
                }
                // Its font loads first: one that is missing leaves the track as it was.
                std::string error;
                if (auto command = makeGmInstrumentCommand(trackId, stock::GmSettings{}, error))
                    edit(std::move(command));
                else
                    app.status().setText(error);
            });
            choice->setCheckable(true);
            choice->setChecked(track.instrument == chosen);
            // Choosing what it plays already would put its sound back to the first preset.
            choice->setEnabled(track.instrument != chosen);
        }
    }
    QMenu *sandbox = menu->addMenu(tr("Sandbox"));
    const std::pair<const char *, SandboxGrouping> groupings[] = {
        {QT_TR_NOOP("One Helper per Plug-in"), SandboxGrouping::PerPlugin},
        {QT_TR_NOOP("One Helper per Track"), SandboxGrouping::PerTrack}};
    for (const auto &[label, grouping] : groupings) {
        QAction *choice = sandbox->addAction(tr(label), this, [this, trackId, grouping] {
            edit(std::make_unique<SetTrackSandboxGroupingCommand>(trackId, grouping));
        });
        choice->setCheckable(true);
        choice->setChecked(track.sandboxGrouping == grouping);
    }
    sandbox->addSeparator();
    const bool inProcess = track.pluginsInProcess;
    QAction *here = sandbox->addAction(
        tr("Run the Track's Plug-ins in Process"), this, [this, trackId, inProcess] {
            edit(std::make_unique<SetPluginsInProcessCommand>(trackId, -1, !inProcess));
        });
    here->setCheckable(true);
    here->setChecked(inProcess);
    menu->addAction(tr("Move Up"), this, [this, trackId] { moveTrack(trackId, -1); });
    menu->addAction(tr("Move Down"), this, [this, trackId] { moveTrack(trackId, 1); });
    menu->addSeparator();
    menu->addAction(tr("Delete Track"), this, [this, trackId] { removeTrack(trackId); });
    return menu;
}

QMenu *TimelineView::clipMenu(uint64_t clipId) {
    bool hasTakes = false, midi = false;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        const auto clip = project.findClip(clipId);
        if (!clip) return emptyAreaMenu();
        midi = clip->kind == ClipKind::Midi;
        if (const auto track = project.findTrack(clip->trackId))
            for (const auto &other : track->clips)
                hasTakes = hasTakes || (!other->isSessionClip() && other->takeLane > 0);
    }
    auto *menu = new QMenu(this);
    if (midi)
        menu->addAction(tr("Open in Editor"), this,
                        [this, clipId] { Q_EMIT midiClipOpened(clipId); });
    menu->addAction(tr("Cut"), this, &TimelineView::cutSelection);
    menu->addAction(tr("Copy"), this, &TimelineView::copySelection);
    menu->addAction(tr("Paste"), this, &TimelineView::pasteAtPlayhead)->setEnabled(canPaste());
    menu->addAction(tr("Duplicate"), this, &TimelineView::duplicateSelection);
    menu->addAction(tr("Delete"), this, &TimelineView::deleteSelection);
    menu->addSeparator();
    menu->addAction(tr("Split at Playhead"), this, [this, clipId] {
        edit(std::make_unique<SplitClipCommand>(clipId, app.engine().heardPlayhead()));
    });
    const bool joinable = clipPairForJoin().has_value();
    menu->addAction(tr("Glue"), this, &TimelineView::glueSelection)->setEnabled(joinable);
    menu->addAction(tr("Crossfade"), this, &TimelineView::crossfadeSelection)->setEnabled(joinable);
    menu->addAction(tr("Loop"), this, &TimelineView::toggleLoopOfSelection);
    menu->addAction(tr("Flatten Comp"), this, &TimelineView::flattenCompOfSelection)
        ->setEnabled(hasTakes);
    if (!midi) {
        menu->addSeparator();
        menu->addMenu(audioProcessingMenu(menu));
        const int64_t playhead = app.engine().heardPlayhead();
        menu->addAction(tr("Add Warp Marker at Playhead"), this, [this, clipId, playhead] {
            int64_t source = 0;
            {
                std::lock_guard lock(app.engine().projectMutex);
                const auto clip = app.engine().project.findClip(clipId);
                if (!clip) return;
                source = clip->sourceOffset + (playhead - clip->arrangeStart);
            }
            edit(std::make_unique<AddWarpMarkerCommand>(clipId, playhead, source));
        });
        menu->addAction(tr("Remove Warp Marker at Playhead"), this, [this, clipId, playhead] {
            int64_t nearest = -1;
            {
                std::lock_guard lock(app.engine().projectMutex);
                const auto clip = app.engine().project.findClip(clipId);
                if (!clip) return;
                for (const auto &marker : clip->warpMarkers)
                    if (nearest < 0 ||
                        std::llabs(marker.dest - playhead) < std::llabs(nearest - playhead))
                        nearest = marker.dest;
            }
            if (nearest >= 0) edit(std::make_unique<RemoveWarpMarkerCommand>(clipId, nearest));
        });
        addMediaTagMenu(*menu, clipId);
    }
    return menu;
}

void TimelineView::addMediaTagMenu(QMenu &menu, uint64_t clipId) {
    std::string mediaKey;
    std::vector<std::string> current;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        const auto clip = project.findClip(clipId);
        if (!clip) return;
        mediaKey = clip->audioFile;
        if (const auto found = project.audioMediaTags.find(mediaKey);
            found != project.audioMediaTags.end())
            current = found->second;
    }
    if (mediaKey.empty()) {
        // Imported audio becomes a file of the project when it is first saved.
        menu.addAction(tr("Tags (after the first save)"))->setEnabled(false);
        return;
    }
    // Tags belong to the file, so every clip that plays it shares them.
    addUserTagMenu(menu, current, [this, mediaKey](const std::string &tag) {
        edit(std::make_unique<ToggleAudioMediaTagCommand>(mediaKey, tag));
    });
}

QMenu *TimelineView::rulerMenu(QPointF point) {
    const int64_t position = snapped(samplesAtX(point.x()), true);
    auto *menu = new QMenu(this);
    if (const auto hit = markerAt(point)) {
        const int64_t at = hit->position;
        switch (hit->kind) {
        case MarkerKind::Named: {
            const uint64_t id = hit->markerId;
            menu->addAction(tr("Rename Marker…"), this, [this, id, at] {
                bool ok = false;
                const QString name = QInputDialog::getText(this, tr("Rename Marker"), tr("Name"),
                                                           QLineEdit::Normal, QString(), &ok);
                if (!ok || name.trimmed().isEmpty()) return;
                std::vector<std::unique_ptr<Command>> steps;
                steps.push_back(std::make_unique<RemoveMarkerCommand>(id));
                steps.push_back(
                    std::make_unique<AddMarkerCommand>(id, name.trimmed().toStdString(), at));
                editAll(QT_TRANSLATE_NOOP("Command", "Rename Marker"), std::move(steps));
            });
            menu->addAction(tr("Remove Marker"), this,
                            [this, id] { edit(std::make_unique<RemoveMarkerCommand>(id)); });
            break;
        }
        case MarkerKind::Tempo:
            menu->addAction(tr("Change Tempo…"), this, [this, at] {
                double bpm = 120.0;
                {
                    std::lock_guard lock(app.engine().projectMutex);
                    for (const auto &tempo : app.engine().project.tempoMarkers)
                        if (tempo.position == at) bpm = tempo.bpm;
                }
                bool ok = false;
                bpm = QInputDialog::getDouble(this, tr("Tempo Marker"), QStringLiteral("BPM"), bpm,
                                              20.0, 999.0, 2, &ok);
                if (ok) edit(std::make_unique<MoveTempoMarkerCommand>(at, at, bpm));
            });
            break;
        case MarkerKind::Meter:
            for (const TimeSignature meter :
                 {TimeSignature{4, 4}, TimeSignature{3, 4}, TimeSignature{5, 4},
                  TimeSignature{6, 8}, TimeSignature{7, 8}})
                menu->addAction(tr("Meter %1/%2").arg(meter.numerator).arg(meter.denominator), this,
                                [this, at, meter] {
                                    edit(std::make_unique<MoveMeterMarkerCommand>(at, at, meter));
                                });
            break;
        case MarkerKind::Chord:
        case MarkerKind::Beat: break;
        }
        menu->addSeparator();
    }
    menu->addAction(tr("Add Marker Here"), this, [this, position] {
        uint64_t id = 1;
        std::string name;
        {
            std::lock_guard lock(app.engine().projectMutex);
            const Project &project = app.engine().project;
            id = std::max<uint64_t>(project.nextMarkerId, 1);
            for (const auto &marker : project.markers)
                id = std::max(id, marker.id + 1);
            name = "Marker " + std::to_string(project.markers.size() + 1);
        }
        edit(std::make_unique<AddMarkerCommand>(id, name, position));
    });
    menu->addAction(tr("Add Tempo Marker Here…"), this, [this, position] {
        bool ok = false;
        const double bpm = QInputDialog::getDouble(this, tr("Tempo Marker"), QStringLiteral("BPM"),
                                                   app.engine().tempo.load(), 20.0, 999.0, 2, &ok);
        if (ok) edit(std::make_unique<AddTempoMarkerCommand>(position, bpm));
    });
    QMenu *meters = menu->addMenu(tr("Add Meter Marker Here"));
    for (const TimeSignature meter : {TimeSignature{4, 4}, TimeSignature{3, 4}, TimeSignature{5, 4},
                                      TimeSignature{6, 8}, TimeSignature{7, 8}})
        meters->addAction(QStringLiteral("%1/%2").arg(meter.numerator).arg(meter.denominator), this,
                          [this, position, meter] {
                              edit(std::make_unique<AddMeterMarkerCommand>(position, meter));
                          });
    menu->addAction(tr("Add Chord Marker Here…"), this, [this, position] {
        bool ok = false;
        const QString chord = QInputDialog::getText(this, tr("Chord Marker"), tr("Chord"),
                                                    QLineEdit::Normal, QStringLiteral("C"), &ok);
        if (ok && !chord.trimmed().isEmpty())
            edit(std::make_unique<AddChordMarkerCommand>(position, chord.trimmed().toStdString()));
    });
    menu->addSeparator();
    menu->addAction(tr("Cycle Start Here"), this, [this, position] {
        const int64_t end = std::max(app.engine().transport.loopEnd.load(),
                                     position + app.engine().barLengthSamples());
        app.view().setCycle(position, end, true);
        update();
    });
    menu->addAction(tr("Cycle End Here"), this, [this, position] {
        const int64_t start = std::min(app.engine().transport.loopStart.load(), position - 1);
        app.view().setCycle(std::max<int64_t>(start, 0), position, true);
        update();
    });
    return menu;
}

QMenu *TimelineView::automationMenu(uint64_t trackId, QPointF point) {
    auto *menu = new QMenu(this);
    std::unique_lock lock(app.engine().projectMutex);
    const auto hit = automationPointAt(point);
    lock.unlock();
    if (hit && hit->from >= 0) {
        const AutomationDrag found = *hit;
        menu->addAction(tr("Delete Point"), this, [this, found] {
            edit(std::make_unique<RemoveAutomationPointCommand>(found.trackId, found.lane,
                                                                found.from));
        });
        menu->addSeparator();
    }
    const int64_t position = snapped(samplesAtX(point.x()), true);
    const int32_t lane = shownAutomationLane();
    menu->addAction(tr("Add Automation Clip (1 bar)"), this, [this, trackId, lane, position] {
        edit(std::make_unique<AddAutomationClipCommand>(trackId, lane, position,
                                                        app.engine().barLengthSamples()));
    });
    QMenu *lanes = menu->addMenu(tr("Show Lane"));
    for (int32_t shown = 0; shown < 4; ++shown) {
        QAction *choice = lanes->addAction(automationLaneLabel(shown + 1), this, [this, shown] {
            app.view().automation().setAutomationLane(static_cast<uint8_t>(shown + 1));
            update();
        });
        choice->setCheckable(true);
        choice->setChecked(shown == lane);
    }
    addEffectLaneChoices(*lanes, trackId, lane);
    return menu;
}

void TimelineView::addEffectLaneChoices(QMenu &lanes, uint64_t trackId, int32_t shownLane) {
    struct Choice {
        std::size_t insertIndex;
        uint32_t parameter;
        QString name;
        bool shown;
    };
    std::vector<Choice> choices;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto track = app.engine().project.findTrack(trackId);
        const std::size_t inserts =
            track ? std::min(track->inserts.size(), static_cast<std::size_t>(insertLaneCount)) : 0;
        for (std::size_t index = 0; index < inserts; ++index) {
            const InsertSlot &insert = track->inserts[index];
            for (uint32_t parameter = 0; !stockLaneName(insert, parameter).isEmpty(); ++parameter)
                choices.push_back(
                    {index, parameter, stockLaneName(insert, parameter),
                     shownLane == insertAutomationLane(index) && insert.automParamId == parameter});
        }
    }
    if (!choices.empty()) lanes.addSeparator();
    for (const Choice &choice : choices) {
        QAction *action = lanes.addAction(choice.name, this, [this, trackId, choice] {
            showEffectLane(trackId, choice.insertIndex, choice.parameter, choice.name);
        });
        action->setCheckable(true);
        action->setChecked(choice.shown);
    }
}

void TimelineView::showEffectLane(uint64_t trackId, std::size_t insertIndex, uint32_t parameter,
                                  const QString &name) {
    bool chosen = true;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto track = app.engine().project.findTrack(trackId);
        if (!track || insertIndex >= track->inserts.size()) return;
        chosen = track->inserts[insertIndex].automParamId == parameter;
    }
    // The insert's one lane drives one parameter at a time; choosing another is an edit.
    if (!chosen)
        edit(
            std::make_unique<SetInsertAutomationParameterCommand>(trackId, insertIndex, parameter));
    app.view().automation().showInsertLane(insertIndex, name.toStdString());
    update();
}

} // namespace orvane

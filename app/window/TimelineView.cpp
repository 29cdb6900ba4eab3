#include "app/window/TimelineView.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/ChannelStrip.h"
#include "app/window/ClipDragData.h"
#include "app/window/LongJobRunner.h"
#include "app/window/StockEffectPanel.h"
#include "app/window/Theme.h"
#include "app/workflows/AutomationWriter.h"
#include "core/commands/AutomationCommands.h"
#include "core/commands/ClipCommands.h"
#include "core/commands/ClipSettingCommands.h"
#include "core/commands/MarkerCommands.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/TakeCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"
#include "core/plugins/PluginRack.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ranges>

namespace orvane {

namespace {

constexpr QColor background{30, 31, 36};
constexpr QColor rowShade{36, 38, 44};
constexpr QColor rulerShade{44, 46, 54};
constexpr QColor headerShade{40, 42, 50};
constexpr QColor gridLine{52, 55, 64};
constexpr QColor barLine{72, 76, 88};
constexpr QColor textColour{214, 218, 226};
constexpr QColor playheadColour{255, 92, 72};
constexpr QColor cycleColour{255, 196, 64, 90};

constexpr double muteX = 10.0, soloX = 34.0, armX = 58.0, buttonY = 30.0, buttonW = 20.0,
                 buttonH = 16.0;
constexpr double monitorX = 82.0, volumeX = 110.0, volumeW = 56.0;

/// The header's volume bar moves as the mixer's fader does, in decibels, so that its middle
/// is where the ear hears the middle and not 6 dB below the top.
double volumeBarFraction(float gain) {
    return static_cast<double>(gainToFaderPosition(gain)) / static_cast<double>(faderSteps);
}
float volumeBarGainAt(double x) {
    const double fraction = std::clamp((x - volumeX) / volumeW, 0.0, 1.0);
    return faderPositionToGain(static_cast<int>(std::lround(fraction * faderSteps)));
}

QColor trackColour(const Track &track) { return displayColourOf(track); }

constexpr double scrollBarSize = 14.0;

constexpr double markerGrab = 6.0;
constexpr double automationPointGrab = 6.0;

QRectF headerButton(const TrackRow &row, double x) {
    return QRectF(x, row.top + buttonY, buttonW, buttonH);
}

/// The monitor button's letter: "A"uto, "I"n or "O"ff.
const char *monitorLabel(MonitorMode mode) {
    switch (mode) {
    case MonitorMode::In: return "I";
    case MonitorMode::Off: return "O";
    default: return "A";
    }
}

MonitorMode nextMonitorMode(MonitorMode mode) {
    switch (mode) {
    case MonitorMode::Auto: return MonitorMode::In;
    case MonitorMode::In: return MonitorMode::Off;
    default: return MonitorMode::Auto;
    }
}

QRectF volumeBar(const TrackRow &row) {
    return QRectF(volumeX, row.top + buttonY + 2.0, volumeW, buttonH - 4.0);
}

} // namespace

QColor displayColourOf(const Track &track) {
    if (track.color != defaultTrackColor) return QColor::fromRgba(track.color);
    static constexpr QRgb palette[] = {0xFF4A90D9, 0xFFD9774A, 0xFF5DBB63, 0xFFB76BD6,
                                       0xFFD9C24A, 0xFF4AC2D9, 0xFFD94A7A, 0xFF8A9A5B};
    if (track.type == TrackType::Return) return QColor(0xFF8A8F9E);
    return QColor::fromRgba(palette[(track.id + 7) % std::size(palette)]);
}

TimelineView::TimelineView(OVApplication &application, QWidget *parent)
    : QWidget(parent), app(application) {
    setAcceptDrops(true);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(480, 240);
    setAttribute(Qt::WA_OpaquePaintEvent);
    layout.scrollBeats = app.view().timelineScrollBeats;
    layout.pixelsPerBeat = app.view().timelinePpb;
    // The progress in the corner while files decode; they are placed back on the main
    // thread, one undoable edit per file.
    imports = new LongJobRunner(this);
    imports->setAutoFillBackground(true);
    imports->setGeometry(8, 4, 320, 24);
    connect(imports, &LongJobRunner::jobFinished, this, [this] {
        Q_EMIT projectEdited();
        update();
    });
    hBar = new QScrollBar(Qt::Horizontal, this);
    vBar = new QScrollBar(Qt::Vertical, this);
    hBar->setToolTip(tr("Scroll in time (Shift+wheel); Ctrl+wheel zooms"));
    connect(hBar, &QScrollBar::valueChanged, this, [this](int value) {
        if (updatingBars) return;
        layout.scrollBeats = value / 100.0;
        app.view().timelineScrollBeats = layout.scrollBeats;
        update();
    });
    connect(vBar, &QScrollBar::valueChanged, this, [this](int value) {
        if (updatingBars) return;
        layout.scrollY = value;
        update();
    });
    renameField = new QLineEdit(this);
    renameField->hide();
    connect(renameField, &QLineEdit::editingFinished, this, &TimelineView::commitRename);
}

bool TimelineView::importing() const { return imports->busy(); }

void TimelineView::edit(std::unique_ptr<Command> command) {
    app.view().executeEdit(std::move(command));
    Q_EMIT projectEdited();
    update();
}

// --- Time and position --------------------------------------------------------------------

int64_t TimelineView::samplesAtX(double x) const {
    std::lock_guard lock(app.engine().projectMutex);
    const TimeMap time = TimeMap::of(app.engine().project);
    return std::max<int64_t>(time.samples(std::max(layout.beatsForX(x), 0.0)), 0);
}

int64_t TimelineView::snapped(int64_t position, bool snap) const {
    if (!snap) return std::max<int64_t>(position, 0);
    Engine &engine = app.engine();
    std::lock_guard lock(engine.projectMutex);
    const GridQuantize grid = engine.project.gridQuantize;
    if (grid == GridQuantize::Off) return std::max<int64_t>(position, 0);
    return std::max<int64_t>(engine.quantizeSamples(position, grid, 0.0f), 0);
}

double TimelineView::framesPerPixelAt(int64_t position) const {
    const Project &project = app.engine().project;
    const double bpm = usableBpm(tempoAtPosition(position, project.tempoMarkers, project.tempoBpm));
    const double rate = project.sampleRate > 0.0 ? project.sampleRate : 48000.0;
    return rate * 60.0 / bpm / layout.pixelsPerBeat;
}

int64_t TimelineView::shownPlayhead() const {
    // What the last tick saw, so that a paint draws the playhead in the columns that tick
    // asked to repaint, not where the transport got to since.
    return lastPlayhead >= 0 ? lastPlayhead : app.engine().heardPlayhead();
}

double TimelineView::playheadX() const {
    std::lock_guard lock(app.engine().projectMutex);
    const TimeMap time = TimeMap::of(app.engine().project);
    return layout.xForBeats(time.beats(app.engine().heardPlayhead()));
}

QRectF TimelineView::clipRectOf(uint64_t clipId) const {
    std::lock_guard lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    const auto clip = project.findClip(clipId);
    if (!clip || clip->isSessionClip()) return {};
    const auto rows = layout.rows(project);
    for (const auto &row : rows)
        if (row.trackId == clip->trackId) return layout.clipRect(*clip, row, TimeMap::of(project));
    return {};
}

std::optional<TrackRow> TimelineView::rowOf(uint64_t trackId) const {
    std::lock_guard lock(app.engine().projectMutex);
    for (const auto &row : layout.rows(app.engine().project))
        if (row.trackId == trackId) return row;
    return std::nullopt;
}

void TimelineView::setVisibleBeats(double beats) {
    const double width = std::max(1.0, this->width() - TimelineGeometry::headerWidth);
    layout.pixelsPerBeat = std::clamp(width / std::max(beats, 0.25), 0.05, 4000.0);
    app.view().timelinePpb = layout.pixelsPerBeat;
    app.view().timelineVisibleBeats = beats;
    fittedBeats = beats; // the view's own choice, not a request to fit
    update();
}

void TimelineView::zoomBy(double factor, double anchorX) {
    const double anchorBeats = layout.beatsForX(anchorX);
    layout.pixelsPerBeat = std::clamp(layout.pixelsPerBeat * factor, 0.05, 4000.0);
    layout.scrollBeats = std::max(0.0, anchorBeats - (anchorX - TimelineGeometry::headerWidth) /
                                                         layout.pixelsPerBeat);
    app.view().timelinePpb = layout.pixelsPerBeat;
    app.view().timelineScrollBeats = layout.scrollBeats;
    update();
}

void TimelineView::onTick() {
    OVMainView &view = app.view();
    // The document side may move the view (fit to content after open).
    layout.scrollBeats = view.timelineScrollBeats;
    layout.pixelsPerBeat = view.timelinePpb > 0.0 ? view.timelinePpb : layout.pixelsPerBeat;
    // The document side asks for a fit after open and import by naming the beats to show.
    const double requested = view.timelineVisibleBeats;
    if (requested > 0.0 && requested != fittedBeats && width() > TimelineGeometry::headerWidth) {
        setVisibleBeats(std::max(requested * 1.05, 32.0));
        fittedBeats = view.timelineVisibleBeats;
    }
    Engine &engine = app.engine();
    const int64_t playhead = engine.heardPlayhead();
    if (followPlayhead && (engine.transport.playing.load() || engine.transport.recording.load()) &&
        isVisible()) {
        double beats = 0.0;
        {
            std::lock_guard lock(engine.projectMutex);
            beats = TimeMap::of(engine.project).beats(playhead);
        }
        const double visible = (width() - TimelineGeometry::headerWidth) / layout.pixelsPerBeat;
        if (beats < layout.scrollBeats + 2.0)
            layout.scrollBeats = std::max(beats - 2.0, 0.0);
        else if (beats > layout.scrollBeats + visible - 2.0)
            layout.scrollBeats = beats - visible + 2.0;
        view.timelineScrollBeats = layout.scrollBeats;
    }
    updateScrollBars();
    const uint64_t built = peakCache.finishedBuilds();
    if (playhead == lastPlayhead && built == peaksSeen) return;
    lastPlayhead = playhead;
    const bool viewMoved =
        layout.scrollBeats != tickedScrollBeats || layout.pixelsPerBeat != tickedPixelsPerBeat;
    tickedScrollBeats = layout.scrollBeats;
    tickedPixelsPerBeat = layout.pixelsPerBeat;
    // A take grows under the playhead while recording; new waveforms or a moved view change
    // everything. Otherwise only the playhead moved: repainting its old and new columns and
    // the position readout, not the whole arrangement, is what keeps playback cheap.
    if (built != peaksSeen || viewMoved || engine.transport.recording.load() ||
        paintedPlayheadX < 0.0) {
        peaksSeen = built;
        update();
        return;
    }
    double x = 0.0;
    {
        std::lock_guard lock(engine.projectMutex);
        x = layout.xForBeats(TimeMap::of(engine.project).beats(playhead));
    }
    updatePlayheadColumn(paintedPlayheadX);
    updatePlayheadColumn(x);
    update(QRect(0, 0, TimelineGeometry::headerWidth, TimelineGeometry::rulerHeight));
}

void TimelineView::updatePlayheadColumn(double x) {
    constexpr int margin = 3; // the line's width and its antialiasing
    const int left = static_cast<int>(std::floor(x)) - margin;
    update(QRect(left, 0, 2 * margin + 1, height()));
}

// --- Painting ------------------------------------------------------------------------------

void TimelineView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), background);
    Engine &engine = app.engine();
    std::lock_guard lock(engine.projectMutex);
    const Project &project = engine.project;
    const TimeMap time = TimeMap::of(project);
    const auto rows = layout.rows(project);
    paintRows(painter, project, time, rows);
    paintRuler(painter, project, time);
    paintHeaders(painter, project, rows);
    const double x = layout.xForBeats(time.beats(shownPlayhead()));
    paintedPlayheadX = x;
    if (x >= TimelineGeometry::headerWidth) {
        painter.setPen(QPen(playheadColour, 1.5));
        painter.drawLine(QPointF(x, 0), QPointF(x, height()));
    }
    if (rubberOrigin) {
        painter.setPen(QPen(QColor(140, 180, 240), 1));
        painter.setBrush(QColor(90, 140, 220, 40));
        painter.drawRect(QRectF(*rubberOrigin, rubberCurrent).normalized());
        painter.setBrush(Qt::NoBrush);
    }
    if (trackDrag && std::abs(trackDrag->current.y() - trackDrag->origin.y()) >= 4.0) {
        // Where the dragged track would land.
        const TrackRow *target = TimelineGeometry::rowAt(rows, trackDrag->current.y());
        const double y =
            target ? target->top : (rows.empty() ? 0.0 : rows.back().top + rows.back().height);
        painter.setPen(QPen(QColor(255, 210, 90), 2));
        painter.drawLine(QPointF(0, y), QPointF(width(), y));
    }
}

void TimelineView::updateScrollBars() {
    const double visibleBeats = std::max(
        1.0, (width() - TimelineGeometry::headerWidth - scrollBarSize) / layout.pixelsPerBeat);
    double songBeats = 0.0;
    double contentHeight = 0.0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        songBeats = TimeMap::of(project).beats(app.view().projectEndSamples());
        contentHeight = layout.contentHeight(project);
    }
    // Room to scroll a little past the song's end, where new material goes.
    const double endBeats = std::max(songBeats + visibleBeats / 2.0, layout.scrollBeats);
    const int hMaximum = static_cast<int>(std::ceil(std::max(0.0, endBeats) * 100.0));
    const double viewHeight = height() - TimelineGeometry::rulerHeight - scrollBarSize;
    const int vMaximum = static_cast<int>(std::ceil(std::max(0.0, contentHeight - viewHeight)));
    updatingBars = true;
    if (hBar->maximum() != hMaximum) hBar->setRange(0, hMaximum);
    hBar->setPageStep(static_cast<int>(visibleBeats * 100.0));
    hBar->setSingleStep(std::max(1, static_cast<int>(visibleBeats * 10.0)));
    const int hValue = static_cast<int>(std::lround(layout.scrollBeats * 100.0));
    if (hBar->value() != hValue) hBar->setValue(hValue);
    if (vBar->maximum() != vMaximum) vBar->setRange(0, vMaximum);
    vBar->setPageStep(static_cast<int>(std::max(1.0, viewHeight)));
    vBar->setSingleStep(20);
    layout.scrollY = std::clamp(layout.scrollY, 0.0, static_cast<double>(vMaximum));
    if (vBar->value() != static_cast<int>(layout.scrollY))
        vBar->setValue(static_cast<int>(layout.scrollY));
    updatingBars = false;
}

void TimelineView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    const int bar = static_cast<int>(scrollBarSize);
    const int left = static_cast<int>(TimelineGeometry::headerWidth);
    const int top = static_cast<int>(TimelineGeometry::rulerHeight);
    hBar->setGeometry(left, height() - bar, width() - left - bar, bar);
    vBar->setGeometry(width() - bar, top, bar, height() - top - bar);
    updateScrollBars();
}

void TimelineView::paintRuler(QPainter &painter, const Project &project, const TimeMap &time) {
    const double left = TimelineGeometry::headerWidth;
    const QRectF ruler(left, 0, width() - left, TimelineGeometry::rulerHeight);
    painter.fillRect(ruler, rulerShade);
    painter.setClipRect(ruler);
    Engine &engine = app.engine();
    if (engine.transport.loopEnd.load() > engine.transport.loopStart.load()) {
        const double from = layout.xForBeats(time.beats(engine.transport.loopStart.load()));
        const double to = layout.xForBeats(time.beats(engine.transport.loopEnd.load()));
        QColor shade = cycleColour;
        if (!engine.transport.loopEnabled.load()) shade.setAlpha(35);
        painter.fillRect(QRectF(from, 30, to - from, 14), shade);
    }
    // Bars with their numbers; beats too when they are far enough apart.
    const double endBeats = layout.beatsForX(width());
    double barStart = 0.0;
    int bar = 1;
    painter.setFont(QFont(font().family(), 8));
    const double minBarPixels = 48.0;
    int barStep = 1;
    while (time.barBeatsAt(0) * barStep * layout.pixelsPerBeat < minBarPixels && barStep < 4096)
        barStep *= 2;
    while (barStart <= endBeats && bar < 1000000) {
        const double barBeats = std::max(time.barBeatsAt(barStart), 0.25);
        const double x = layout.xForBeats(barStart);
        if (x >= left - 80 && (bar - 1) % barStep == 0) {
            painter.setPen(barLine);
            painter.drawLine(QPointF(x, 14), QPointF(x, TimelineGeometry::rulerHeight));
            painter.setPen(textColour);
            painter.drawText(QPointF(x + 3, 12), QString::number(bar));
        }
        if (layout.pixelsPerBeat >= 12.0 && x >= left - 80) {
            painter.setPen(gridLine);
            for (double beat = 1.0; beat < barBeats; beat += 1.0) {
                const double bx = layout.xForBeats(barStart + beat);
                painter.drawLine(QPointF(bx, 22), QPointF(bx, TimelineGeometry::rulerHeight));
            }
        }
        barStart += barBeats;
        ++bar;
    }
    painter.setPen(QColor(120, 200, 255));
    for (const auto &marker : project.markers) {
        const double x = layout.xForBeats(time.beats(marker.position));
        painter.drawLine(QPointF(x, 14), QPointF(x, 28));
        painter.drawText(QPointF(x + 3, 26), QString::fromStdString(marker.name));
    }
    painter.setPen(QColor(230, 150, 230));
    for (const auto &chord : project.chordMarkers) {
        const double x = layout.xForBeats(time.beats(chord.position));
        painter.drawText(QPointF(x + 3, 26), QString::fromStdString(chord.chord));
    }
    painter.setPen(QColor(255, 170, 90));
    for (const auto &tempo : project.tempoMarkers) {
        const double x = layout.xForBeats(time.beats(tempo.position));
        painter.drawText(QPointF(x + 3, 40), QStringLiteral("♩=%1").arg(tempo.bpm, 0, 'f', 0));
    }
    for (const auto &beat : project.beatMarkers) {
        const double x = layout.xForBeats(time.beats(beat.position));
        painter.setPen(QPen(QColor(120, 220, 170), beat.downbeat ? 2.0 : 1.0));
        painter.drawLine(QPointF(x, TimelineGeometry::rulerHeight - 6),
                         QPointF(x, TimelineGeometry::rulerHeight));
    }
    painter.setPen(QColor(170, 230, 140));
    for (const auto &meter : project.meterMarkers) {
        const double x = layout.xForBeats(time.beats(meter.position));
        painter.drawText(QPointF(x + 44, 40),
                         QStringLiteral("%1/%2").arg(meter.num).arg(meter.den));
    }
    painter.setClipping(false);
    painter.fillRect(QRectF(0, 0, left, TimelineGeometry::rulerHeight), headerShade);
    painter.setPen(textColour);
    painter.drawText(QRectF(8, 0, left - 16, TimelineGeometry::rulerHeight),
                     Qt::AlignVCenter | Qt::AlignLeft,
                     QString::fromStdString(time.barsBeats(shownPlayhead())));
}

void TimelineView::paintRows(QPainter &painter, const Project &project, const TimeMap &time,
                             const std::vector<TrackRow> &rows) {
    const double left = TimelineGeometry::headerWidth;
    const QRectF area(left, TimelineGeometry::rulerHeight, width() - left,
                      height() - TimelineGeometry::rulerHeight);
    painter.setClipRect(area);
    std::optional<DraggedClip> preview;
    if (clipDrag) preview = dragged(*clipDrag);
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const TrackRow &row = rows[index];
        if (row.top > height() || row.top + row.height < TimelineGeometry::rulerHeight) continue;
        if (index % 2 == 1)
            painter.fillRect(QRectF(left, row.top, area.width(), row.height), rowShade);
        const auto track = project.findTrack(row.trackId);
        if (!track) continue;
        if (track->id == app.view().selectedTrackId)
            painter.fillRect(QRectF(left, row.top, area.width(), row.height),
                             QColor(255, 255, 255, 10));
        if (row.automationHeight > 0.0) paintAutomation(painter, project, time, row);
        for (const auto &clip : track->clips) {
            if (clip->isSessionClip()) continue;
            const bool isDragged = preview && clipDrag->clipId == clip->id;
            QRectF rect = layout.clipRect(*clip, row, time);
            if (isDragged) {
                const TrackRow *target = &row;
                for (const auto &other : rows)
                    if (other.trackId == preview->trackId) target = &other;
                Clip moved = *clip;
                moved.arrangeStart = preview->start;
                moved.length = preview->length;
                rect = layout.clipRect(moved, *target, time);
            }
            if (rect.right() < left || rect.left() > width()) continue;
            paintClip(painter, *clip, *track, rect, time, isDragged ? &*preview : nullptr);
        }
    }
    painter.setPen(gridLine);
    for (const auto &row : rows)
        painter.drawLine(QPointF(left, row.top + row.height),
                         QPointF(width(), row.top + row.height));
    painter.setClipping(false);
}

void TimelineView::paintClip(QPainter &painter, const Clip &clip, const Track &track, QRectF rect,
                             const TimeMap &time, const DraggedClip *override) {
    // Snapped to whole pixels, the fills take the raster engine's fast path.
    rect = QRectF(rect.toRect());
    const DraggedClip shown =
        override ? *override
                 : DraggedClip{clip.arrangeStart, clip.length, clip.sourceOffset, clip.fadeIn,
                               clip.fadeOut,      clip.gain,   clip.trackId};
    QColor colour = trackColour(track);
    if (!clip.takeActive) colour = colour.darker(220);
    const bool selected = selection.contains(clip.id) || clip.id == app.view().selectedClipId;
    painter.fillRect(rect, colour.darker(160));
    painter.fillRect(QRectF(rect.left(), rect.top(), rect.width(), 12), colour);
    const double fpp = framesPerPixelAt(shown.start);
    if (clip.kind == ClipKind::Audio)
        paintWaveform(painter, clip, shown, rect.adjusted(0, 12, 0, 0), fpp);
    else
        paintNotes(painter, clip, shown, rect.adjusted(0, 13, 0, -1), time);
    // The name stays in sight while the clip's start is scrolled off under the headers.
    const QRectF named(std::max(rect.left(), TimelineGeometry::headerWidth), rect.top(),
                       rect.right() - std::max(rect.left(), TimelineGeometry::headerWidth),
                       rect.height());
    if (named.width() > 36) {
        painter.setPen(Qt::black);
        painter.drawText(named.adjusted(4, -1, -4, 0), Qt::AlignTop | Qt::AlignLeft,
                         QString::fromStdString(clip.name));
    }
    if (clip.kind == ClipKind::Audio && rect.width() > 4 * TimelineGeometry::handleSize) {
        const double in = rect.left() + TimelineGeometry::fadeOffset(shown.fadeIn, fpp);
        const double out = rect.right() - TimelineGeometry::fadeOffset(shown.fadeOut, fpp);
        painter.setPen(QColor(225, 228, 235));
        painter.drawLine(QPointF(rect.left(), rect.bottom()), QPointF(in, rect.top() + 4));
        painter.drawLine(QPointF(out, rect.top() + 4), QPointF(rect.right(), rect.bottom()));
        const double h = TimelineGeometry::handleSize;
        painter.fillRect(QRectF(in - h / 2, rect.top(), h, h), Qt::white);
        painter.fillRect(QRectF(out - h / 2, rect.top(), h, h), Qt::white);
        const double gy = TimelineGeometry::gainLineY(rect, shown.gain);
        // Solid: a dashed pen is stroked piece by piece, the dearest thing on a clip.
        painter.setPen(QColor(240, 214, 110));
        painter.drawLine(QPointF(rect.left(), gy), QPointF(rect.right(), gy));
    }
    painter.setPen(QPen(selected ? QColor(255, 255, 255) : colour.lighter(130), selected ? 2 : 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect);
}

void TimelineView::paintWaveform(QPainter &painter, const Clip &clip, const DraggedClip &shown,
                                 QRectF rect, double framesPerPixel) {
    const auto peaks = peakCache.peaksFor(clip.audio, clip.channels);
    const int middle = static_cast<int>(rect.center().y());
    // Opaque: blending every column costs a third of a frame.
    const QColor stroke(205, 218, 240);
    if (!peaks || peaks->frames == 0) {
        painter.fillRect(
            QRect(static_cast<int>(rect.left()), middle, static_cast<int>(rect.width()), 1),
            stroke);
        return;
    }
    const PeakLevel *level = peaks->levelFor(framesPerPixel);
    if (!level) return;
    const int firstX = static_cast<int>(std::max(rect.left(), TimelineGeometry::headerWidth));
    const int lastX = static_cast<int>(std::min(rect.right(), static_cast<double>(width())));
    const double halfHeight = rect.height() / 2.0 - 1.0;
    const double gain = std::clamp(static_cast<double>(shown.gain), 0.0, 4.0);
    const auto buckets = static_cast<int64_t>(level->minimum.size());
    const auto bucketFrames = static_cast<double>(level->framesPerBucket);
    const int64_t bucketsPerPixel =
        std::max<int64_t>(1, static_cast<int64_t>(framesPerPixel / bucketFrames));
    const bool wraps = clip.loop || shown.length > peaks->frames;
    // One whole-pixel column per x: the raster engine fills these far faster than lines.
    QVector<QRect> columns;
    columns.reserve(std::max(0, lastX - firstX));
    for (int x = firstX; x < lastX; ++x) {
        const double frame =
            static_cast<double>(shown.sourceOffset) + (x - rect.left()) * framesPerPixel;
        double bucket = frame / bucketFrames;
        if (wraps) bucket = std::fmod(bucket, static_cast<double>(buckets));
        const auto from = static_cast<int64_t>(bucket);
        if (from < 0 || from >= buckets) continue;
        const int64_t to = std::min(buckets, from + bucketsPerPixel);
        float low = 0.0f, high = 0.0f;
        for (int64_t b = from; b < to; ++b) {
            low = std::min(low, level->minimum[static_cast<std::size_t>(b)]);
            high = std::max(high, level->maximum[static_cast<std::size_t>(b)]);
        }
        const int top = middle - static_cast<int>(std::clamp(high * gain, -1.0, 1.0) * halfHeight);
        const int bottom =
            middle - static_cast<int>(std::clamp(low * gain, -1.0, 1.0) * halfHeight);
        columns.append(QRect(x, top, 1, std::max(1, bottom - top + 1)));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(stroke);
    painter.drawRects(columns);
    painter.setBrush(Qt::NoBrush);
}

void TimelineView::paintNotes(QPainter &painter, const Clip &clip, const DraggedClip &shown,
                              QRectF rect, const TimeMap &time) {
    if (clip.notes.empty() || rect.height() < 4) return;
    int lowest = 127, highest = 0;
    for (const auto &note : clip.notes) {
        lowest = std::min(lowest, note.pitch);
        highest = std::max(highest, note.pitch);
    }
    const double span = std::max(highest - lowest + 1, 12);
    const double noteHeight = std::max(1.5, rect.height() / span);
    const int64_t period = clip.loop && clip.loopLength > 0 ? clip.loopLength : shown.length;
    const int64_t repeats =
        period > 0 ? std::min<int64_t>(64, (shown.length + period - 1) / period) : 1;
    QVector<QRect> bars;
    for (int64_t repeat = 0; repeat < std::max<int64_t>(repeats, 1); ++repeat)
        for (const auto &note : clip.notes) {
            const int64_t start = note.start + repeat * period;
            if (start >= shown.length) continue;
            const int64_t end = std::min(start + std::max<int64_t>(note.length, 1), shown.length);
            const double x0 = layout.xForBeats(time.beats(shown.start + start));
            const double x1 = layout.xForBeats(time.beats(shown.start + end));
            const double y = rect.bottom() - (note.pitch - lowest + 1) * noteHeight;
            bars.append(QRect(static_cast<int>(x0), static_cast<int>(y),
                              std::max(1, static_cast<int>(x1 - x0)),
                              std::max(1, static_cast<int>(noteHeight - 0.5))));
        }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(235, 236, 245));
    painter.drawRects(bars);
    painter.setBrush(Qt::NoBrush);
}

void TimelineView::paintHeaders(QPainter &painter, const Project &project,
                                const std::vector<TrackRow> &rows) {
    const double left = TimelineGeometry::headerWidth;
    painter.setClipRect(
        QRectF(0, TimelineGeometry::rulerHeight, left, height() - TimelineGeometry::rulerHeight));
    painter.fillRect(QRectF(0, TimelineGeometry::rulerHeight, left, height()), headerShade);
    for (const auto &row : rows) {
        if (row.top > height() || row.top + row.height < TimelineGeometry::rulerHeight) continue;
        const auto track = project.findTrack(row.trackId);
        if (!track) continue;
        painter.fillRect(QRectF(0, row.top, 5, row.height), trackColour(*track));
        painter.setPen(textColour);
        painter.drawText(QRectF(10, row.top + 4, left - 16, 20), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromStdString(track->name));
        const struct {
            double x;
            const char *label;
            bool on;
            QColor colour;
        } buttons[] = {{muteX, "M", track->mute, theme::muteOn},
                       {soloX, "S", track->solo, theme::soloOn},
                       {armX, "R", track->armed, theme::armOn}};
        for (const auto &button : buttons) {
            if (row.isReturn && button.x == armX) continue; // returns record nothing
            const QRectF box = headerButton(row, button.x);
            painter.fillRect(box, button.on ? button.colour : QColor(62, 65, 76));
            painter.setPen(button.on ? Qt::black : textColour);
            painter.drawText(box, Qt::AlignCenter, button.label);
        }
        if (track->type == TrackType::Audio) {
            // Lit while the input is heard, whichever mode made it so.
            const QRectF box = headerButton(row, monitorX);
            const bool heard = track->monitorsInput();
            painter.fillRect(box, heard ? theme::monitorOn : QColor(62, 65, 76));
            painter.setPen(heard ? Qt::black : textColour);
            painter.drawText(box, Qt::AlignCenter, monitorLabel(track->monitor));
        }
        const QRectF bar = volumeBar(row);
        painter.fillRect(bar, QColor(24, 25, 30));
        // While dragged, the bar follows the mouse; the edit lands on release.
        const float shownGain =
            headerDrag && headerDrag->trackId == track->id ? headerDrag->gain : track->gain;
        const double filled = volumeBarFraction(shownGain) * bar.width();
        painter.fillRect(QRectF(bar.left(), bar.top(), filled, bar.height()),
                         QColor(110, 190, 120));
        if (row.automationHeight > 0.0) {
            const QRectF label(10, row.automationTop() + 4, left - 16, 16);
            painter.setPen(QColor(170, 176, 190));
            // A plug-in's long names give way before the menu's arrow does.
            const QString arrow = QStringLiteral(" ▾");
            const QFontMetrics metrics(painter.font());
            const QString name = metrics.elidedText(shownLaneName(*track), Qt::ElideRight,
                                                    static_cast<int>(label.width()) -
                                                        metrics.horizontalAdvance(arrow));
            painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, name + arrow);
        }
        if (track->type == TrackType::Audio && track->inputPair > 0) {
            painter.setPen(QColor(150, 156, 170));
            painter.drawText(
                QRectF(left - 48, row.top + 4, 40, 20), Qt::AlignRight | Qt::AlignVCenter,
                tr("in %1/%2").arg(track->inputPair * 2 + 1).arg(track->inputPair * 2 + 2));
        }
        painter.setPen(gridLine);
        painter.drawLine(QPointF(0, row.top + row.height), QPointF(left, row.top + row.height));
    }
    painter.setClipping(false);
    painter.setPen(barLine);
    painter.drawLine(QPointF(left, 0), QPointF(left, height()));
}

// --- Mouse -----------------------------------------------------------------------------------

TimelineView::DraggedClip TimelineView::dragged(const ClipDrag &drag) const {
    DraggedClip result{drag.start,   drag.length, drag.sourceOffset, drag.fadeIn,
                       drag.fadeOut, drag.gain,   drag.trackId};
    const double dx = drag.current.x() - drag.origin.x();
    const auto deltaFrames = static_cast<int64_t>(std::llround(dx * drag.framesPerPixel));
    const int64_t end = drag.start + drag.length;
    switch (drag.part) {
    case ClipPart::Body: {
        result.start = snapped(std::max<int64_t>(drag.start + deltaFrames, 0), drag.snap);
        std::lock_guard lock(app.engine().projectMutex);
        const auto rows = layout.rows(app.engine().project);
        if (const TrackRow *row = TimelineGeometry::rowAt(rows, drag.current.y())) {
            const auto target = app.engine().project.findTrack(row->trackId);
            const bool sameKind =
                target && target->type != TrackType::Return &&
                (target->type == TrackType::Midi) == (drag.kind == ClipKind::Midi);
            if (sameKind) result.trackId = row->trackId;
        }
        break;
    }
    case ClipPart::StartEdge: {
        int64_t start = snapped(std::max<int64_t>(drag.start + deltaFrames, 0), drag.snap);
        start = std::min(start, end - 1);
        // Audio cannot start before its source: the offset never goes below zero.
        if (drag.kind == ClipKind::Audio) start = std::max(start, drag.start - drag.sourceOffset);
        result.start = start;
        result.length = end - start;
        result.sourceOffset =
            drag.kind == ClipKind::Audio ? drag.sourceOffset + (start - drag.start) : 0;
        break;
    }
    case ClipPart::EndEdge: {
        const int64_t newEnd = snapped(std::max<int64_t>(end + deltaFrames, 0), drag.snap);
        result.length = std::max<int64_t>(newEnd - drag.start, 1);
        break;
    }
    case ClipPart::FadeIn:
        result.fadeIn = std::clamp<int64_t>(drag.fadeIn + deltaFrames, 0, drag.length / 2);
        break;
    case ClipPart::FadeOut:
        result.fadeOut = std::clamp<int64_t>(drag.fadeOut - deltaFrames, 0, drag.length / 2);
        break;
    case ClipPart::Gain:
        result.gain = TimelineGeometry::gainForY(drag.rect, drag.current.y());
        break;
    case ClipPart::None: break;
    }
    return result;
}

void TimelineView::mousePressEvent(QMouseEvent *event) {
    const QPointF point = event->position();
    if (renameField->isVisible()) commitRename();
    if (event->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    if (point.y() < TimelineGeometry::rulerHeight) {
        if (const auto hit = markerAt(point)) {
            markerDrag = MarkerDrag{hit->kind, hit->position, hit->markerId, point, point};
            return;
        }
        pressRuler(point, event->modifiers());
        return;
    }
    if (point.x() < TimelineGeometry::headerWidth) {
        pressHeader(point);
        return;
    }
    if (pressAutomation(point, event->modifiers())) return;
    pressClipArea(point, event->modifiers());
}

void TimelineView::pressClipArea(QPointF point, Qt::KeyboardModifiers modifiers) {
    Engine &engine = app.engine();
    std::lock_guard lock(engine.projectMutex);
    const Project &project = engine.project;
    const TimeMap time = TimeMap::of(project);
    const auto rows = layout.rows(project);
    const TrackRow *row = TimelineGeometry::rowAt(rows, point.y());
    const bool adding = modifiers & (Qt::ControlModifier | Qt::ShiftModifier);
    if (row) app.view().selectedTrackId = row->trackId;
    const auto track = row ? project.findTrack(row->trackId) : nullptr;
    // Topmost first: the clip drawn last wins.
    static const std::vector<std::shared_ptr<Clip>> noClips;
    for (const auto &clipPointer : std::views::reverse(track ? track->clips : noClips)) {
        const Clip &clip = *clipPointer;
        if (clip.isSessionClip()) continue;
        const QRectF rect = layout.clipRect(clip, *row, time);
        const double fpp = framesPerPixelAt(clip.arrangeStart);
        const ClipPart part = TimelineGeometry::partAt(clip, rect, point, fpp);
        if (part == ClipPart::None) continue;
        if (modifiers & Qt::ControlModifier) {
            // Ctrl toggles a clip in the selection without moving it.
            if (!selection.erase(clip.id)) selection.insert(clip.id);
            app.view().selectedClipId = selection.contains(clip.id) ? clip.id : 0;
            update();
            return;
        }
        if (!selection.contains(clip.id)) {
            if (!adding) selection.clear();
            selection.insert(clip.id);
        }
        app.view().selectedClipId = clip.id;
        ClipDrag drag;
        drag.part = part;
        drag.clipId = clip.id;
        drag.trackId = clip.trackId;
        drag.kind = clip.kind;
        drag.origin = drag.current = point;
        drag.rect = rect;
        drag.start = clip.arrangeStart;
        drag.length = clip.length;
        drag.sourceOffset = clip.sourceOffset;
        drag.fadeIn = clip.fadeIn;
        drag.fadeOut = clip.fadeOut;
        drag.gain = clip.gain;
        drag.audioFrames = clip.audioFrameCount();
        drag.framesPerPixel = fpp;
        drag.snap = !(modifiers & Qt::ShiftModifier);
        clipDrag = drag;
        update();
        return;
    }
    // Empty space: a rubber band selects what it touches.
    if (!adding) {
        selection.clear();
        app.view().selectedClipId = 0;
    }
    rubberOrigin = point;
    rubberCurrent = point;
    update();
}

QString automationLaneLabel(int32_t lane) {
    // The main window's context holds these names for its lane menu already.
    static const char *const names[] = {
        QT_TRANSLATE_NOOP("orvane::MainWindow", "Volume"),
        QT_TRANSLATE_NOOP("orvane::MainWindow", "Pan"),
        QT_TRANSLATE_NOOP("orvane::MainWindow", "Mute"),
        QT_TRANSLATE_NOOP("orvane::MainWindow", "Plug-in parameter")};
    const std::size_t index = lane >= 1 && lane <= 4 ? static_cast<std::size_t>(lane - 1) : 0;
    return QCoreApplication::translate("orvane::MainWindow", names[index]);
}

QString TimelineView::shownLaneName(const Track &track) const {
    const int32_t lane = shownAutomationLane();
    const auto index = insertIndexOfLane(lane);
    if (!index) return automationLaneLabel(lane);
    // The shown lane is the same insert slot on every track; a track may lack it.
    if (*index >= track.inserts.size()) return tr("No insert %1").arg(*index + 1);
    const InsertSlot &insert = track.inserts[*index];
    const QString name =
        insert.isStock ? stockLaneName(insert, insert.automParamId) : pluginLaneName(track, *index);
    return name.isEmpty() ? tr("Insert %1").arg(*index + 1) : name;
}

QString TimelineView::pluginLaneName(const Track &track, std::size_t insertIndex) const {
    const InsertSlot &insert = track.inserts[insertIndex];
    const std::string key = std::to_string(track.id) + "/" + std::to_string(insertIndex) + "/" +
                            insert.pluginId + "/" + std::to_string(insert.automParamId);
    if (const auto known = pluginLaneNames.find(key); known != pluginLaneNames.end())
        return known->second;
    std::shared_ptr<vst::Plugin> plugin;
    {
        std::lock_guard lock(app.rack().slotsMutex);
        for (const vst::Slot &slot : app.rack().slots)
            if (slot.trackId == track.id && slot.insertIndex == static_cast<int32_t>(insertIndex))
                plugin = app.rack().editablePluginLocked(slot);
    }
    if (!plugin || plugin->description.uid != insert.pluginId) return {};
    for (const vst::PluginParameterInfo &parameter : plugin->listParameters())
        if (parameter.id == insert.automParamId)
            // The parameter first: a plug-in's long name is what the narrow header cuts.
            return pluginLaneNames[key] =
                       QString::fromStdString(parameter.name + " · " + insert.displayName);
    return {};
}

std::optional<TimelineView::AutomationDrag> TimelineView::automationPointAt(QPointF point) const {
    if (!layout.showAutomation) return std::nullopt;
    const Project &project = app.engine().project;
    const auto rows = layout.rows(project);
    const TrackRow *row = TimelineGeometry::rowAt(rows, point.y());
    if (!row || point.y() < row->automationTop()) return std::nullopt;
    const auto track = project.findTrack(row->trackId);
    if (!track) return std::nullopt;
    const QRectF area = row->automationArea(TimelineGeometry::headerWidth, width());
    const AutomationScale scale{area, shownAutomationLane()};
    const TimeMap time = TimeMap::of(project);
    AutomationDrag hit{track->id, scale.lane, -1, area, point, point};
    const auto *points = automationLaneOf(*track, scale.lane);
    if (!points) return hit;
    for (const auto &existing : *points) {
        const double x = layout.xForBeats(time.beats(existing.t));
        const double y = scale.yOf(existing.v);
        if (std::abs(x - point.x()) <= automationPointGrab &&
            std::abs(y - point.y()) <= automationPointGrab) {
            hit.from = existing.t;
            break;
        }
    }
    return hit;
}

bool TimelineView::pressAutomation(QPointF point, Qt::KeyboardModifiers modifiers) {
    std::unique_lock lock(app.engine().projectMutex);
    const auto hit = automationPointAt(point);
    lock.unlock();
    if (!hit) return false;
    app.view().selectedTrackId = hit->trackId;
    if (hit->from >= 0) {
        automationDrag = *hit;
        return true;
    }
    const int64_t position = snapped(samplesAtX(point.x()), !(modifiers & Qt::ShiftModifier));
    if ((modifiers & Qt::AltModifier) && (modifiers & Qt::ShiftModifier)) {
        // Alt+Shift: an automation clip of one bar, as the lane's status line says.
        edit(std::make_unique<AddAutomationClipCommand>(hit->trackId, hit->lane, position,
                                                        app.engine().barLengthSamples()));
        return true;
    }
    const float value = AutomationScale{hit->area, hit->lane}.valueAt(point.y());
    edit(std::make_unique<SetAutomationPointCommand>(hit->trackId, hit->lane, position, value));
    return true;
}

void TimelineView::pressRuler(QPointF point, Qt::KeyboardModifiers modifiers) {
    if (point.x() < TimelineGeometry::headerWidth) return;
    const int64_t position = samplesAtX(point.x());
    if (point.y() >= 28.0) {
        cycleDragStart = snapped(position, true);
        return;
    }
    // On the grid, as everything placed with the mouse is, so a paste there lands on it too;
    // Shift places it freely.
    app.view().locate(snapped(position, !(modifiers & Qt::ShiftModifier)));
    update();
}

std::optional<TimelineView::MarkerHit> TimelineView::markerAt(QPointF point) const {
    std::lock_guard lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    const TimeMap time = TimeMap::of(project);
    const auto xOf = [&](int64_t position) { return layout.xForBeats(time.beats(position)); };
    if (point.y() >= 12.0 && point.y() < 28.0) {
        for (const auto &marker : project.markers)
            if (std::abs(point.x() - xOf(marker.position)) <= markerGrab)
                return MarkerHit{MarkerKind::Named, marker.position, marker.id};
        for (const auto &chord : project.chordMarkers)
            if (point.x() >= xOf(chord.position) - 2.0 && point.x() <= xOf(chord.position) + 28.0)
                return MarkerHit{MarkerKind::Chord, chord.position, 0};
    }
    if (point.y() >= 28.0) {
        for (const auto &tempo : project.tempoMarkers)
            if (point.x() >= xOf(tempo.position) && point.x() <= xOf(tempo.position) + 40.0)
                return MarkerHit{MarkerKind::Tempo, tempo.position, 0};
        for (const auto &meter : project.meterMarkers)
            if (point.x() >= xOf(meter.position) + 42.0 && point.x() <= xOf(meter.position) + 70.0)
                return MarkerHit{MarkerKind::Meter, meter.position, 0};
        // Beat markers are short ticks at the ruler's foot.
        if (point.y() >= TimelineGeometry::rulerHeight - 8.0)
            for (const auto &beat : project.beatMarkers)
                if (std::abs(point.x() - xOf(beat.position)) <= 3.0)
                    return MarkerHit{MarkerKind::Beat, beat.position, 0};
    }
    return std::nullopt;
}

bool TimelineView::event(QEvent *event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const QString text = headerToolTipAt(help->pos());
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, this);
    return true;
}

QString TimelineView::headerToolTipAt(QPointF point) const {
    Engine &engine = app.engine();
    std::lock_guard lock(engine.projectMutex);
    const auto rows = layout.rows(engine.project);
    const TrackRow *row = TimelineGeometry::rowAt(rows, point.y());
    const auto track = row ? engine.project.findTrack(row->trackId) : nullptr;
    if (!track || point.x() >= TimelineGeometry::headerWidth) return {};
    if (headerButton(*row, muteX).contains(point)) return tr("Mute");
    if (headerButton(*row, soloX).contains(point)) return tr("Solo");
    if (!row->isReturn && headerButton(*row, armX).contains(point)) return tr("Arm for recording");
    if (volumeBar(*row).adjusted(0, -4, 0, 4).contains(point))
        return tr("Volume: %1 (drag)").arg(levelDbText(track->gain));
    if (track->type != TrackType::Audio || !headerButton(*row, monitorX).contains(point)) return {};
    switch (track->monitor) {
    case MonitorMode::In: return tr("Monitor: In — the input is always heard. Click for Off");
    case MonitorMode::Off: return tr("Monitor: Off — the input is never heard. Click for Auto");
    default: return tr("Monitor: Auto — the input is heard while the track is armed. Click for In");
    }
}

bool TimelineView::pressHeader(QPointF point) {
    Engine &engine = app.engine();
    std::unique_lock lock(engine.projectMutex);
    const auto rows = layout.rows(engine.project);
    const TrackRow *row = TimelineGeometry::rowAt(rows, point.y());
    if (!row) return false;
    const auto track = engine.project.findTrack(row->trackId);
    if (!track) return false;
    app.view().selectedTrackId = track->id;
    const Track current = *track;
    const TrackRow pressed = *row;
    lock.unlock();
    const double laneBottom = pressed.top + pressed.height - pressed.automationHeight;
    if (std::abs(point.y() - laneBottom) <= 3.0) {
        heightDrag = HeightDrag{current.id, pressed.mainLaneHeight, point.y()};
    } else if (pressed.automationHeight > 0.0 && point.y() >= pressed.automationTop()) {
        app.view().automation().cycleAutomationLane();
        if (app.view().automation().automationLaneMode == 0)
            app.view().automation().setAutomationLane(1);
    } else if (point.x() < 6.0) {
        chooseColour(current.id);
    } else if (headerButton(pressed, muteX).contains(point)) {
        edit(std::make_unique<SetTrackMixerCommand>(current.id, current.gain, current.pan,
                                                    !current.mute, current.solo));
    } else if (headerButton(pressed, soloX).contains(point)) {
        edit(std::make_unique<SetTrackMixerCommand>(current.id, current.gain, current.pan,
                                                    current.mute, !current.solo));
    } else if (!pressed.isReturn && headerButton(pressed, armX).contains(point)) {
        app.view().setTrackArmed(current.id, !current.armed);
        Q_EMIT projectEdited(); // the mixer's R follows
    } else if (current.type == TrackType::Audio &&
               headerButton(pressed, monitorX).contains(point)) {
        edit(
            std::make_unique<SetTrackMonitorCommand>(current.id, nextMonitorMode(current.monitor)));
    } else if (volumeBar(pressed).adjusted(0, -4, 0, 4).contains(point)) {
        headerDrag = HeaderDrag{current.id, current.gain};
    } else {
        trackDrag = TrackDrag{current.id, point, point};
    }
    update();
    return true;
}

void TimelineView::mouseMoveEvent(QMouseEvent *event) {
    const QPointF point = event->position();
    if (clipDrag) {
        clipDrag->current = point;
        // Up past the top edge, towards the page tabs, the clip leaves for the session grid.
        if (clipDrag->part == ClipPart::Body && point.y() < 0.0) return carryClipOut();
        update();
        return;
    }
    if (headerDrag) {
        headerDrag->gain = volumeBarGainAt(point.x());
        update();
        return;
    }
    if (rubberOrigin || trackDrag || automationDrag || markerDrag) {
        rubberCurrent = point;
        if (trackDrag) trackDrag->current = point;
        if (automationDrag) automationDrag->current = point;
        if (markerDrag) markerDrag->current = point;
        update();
        return;
    }
    if (heightDrag) {
        layout.laneHeights[heightDrag->trackId] =
            std::clamp(heightDrag->startHeight + point.y() - heightDrag->originY,
                       TimelineGeometry::smallestLaneHeight, TimelineGeometry::largestLaneHeight);
        update();
        return;
    }
    // The cursor tells what a press would grab.
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (point.y() < TimelineGeometry::rulerHeight && markerAt(point)) shape = Qt::SizeHorCursor;
    if (point.y() > TimelineGeometry::rulerHeight && point.x() > TimelineGeometry::headerWidth) {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        const auto rows = layout.rows(project);
        if (const TrackRow *row = TimelineGeometry::rowAt(rows, point.y()))
            if (const auto track = project.findTrack(row->trackId)) {
                const TimeMap time = TimeMap::of(project);
                for (const auto &clip : track->clips) {
                    if (clip->isSessionClip()) continue;
                    const auto part =
                        TimelineGeometry::partAt(*clip, layout.clipRect(*clip, *row, time), point,
                                                 framesPerPixelAt(clip->arrangeStart));
                    if (part == ClipPart::StartEdge || part == ClipPart::EndEdge)
                        shape = Qt::SizeHorCursor;
                    else if (part == ClipPart::Gain)
                        shape = Qt::SizeVerCursor;
                    else if (part == ClipPart::FadeIn || part == ClipPart::FadeOut)
                        shape = Qt::PointingHandCursor;
                    else if (part == ClipPart::Body)
                        shape = Qt::OpenHandCursor;
                }
                if (row->automationHeight > 0.0 && point.y() >= row->automationTop())
                    shape = Qt::CrossCursor;
            }
    } else if (point.x() < TimelineGeometry::headerWidth &&
               point.y() > TimelineGeometry::rulerHeight) {
        std::lock_guard lock(app.engine().projectMutex);
        const auto rows = layout.rows(app.engine().project);
        if (const TrackRow *row = TimelineGeometry::rowAt(rows, point.y()))
            if (std::abs(point.y() - (row->top + row->height - row->automationHeight)) <= 3.0)
                shape = Qt::SizeVerCursor;
    }
    setCursor(shape);
}

void TimelineView::mouseReleaseEvent(QMouseEvent *event) {
    const QPointF point = event->position();
    if (clipDrag) {
        clipDrag->current = point;
        finishClipDrag();
        return;
    }
    if (headerDrag) {
        const HeaderDrag drag = *headerDrag;
        headerDrag.reset();
        std::unique_lock lock(app.engine().projectMutex);
        const auto track = app.engine().project.findTrack(drag.trackId);
        if (!track) return;
        const Track current = *track;
        lock.unlock();
        const float gain = volumeBarGainAt(point.x());
        if (gain != current.gain)
            edit(std::make_unique<SetTrackMixerCommand>(current.id, gain, current.pan, current.mute,
                                                        current.solo));
        return;
    }
    if (heightDrag) {
        heightDrag.reset();
        update();
        return;
    }
    if (trackDrag) {
        finishTrackDrag(point);
        return;
    }
    if (automationDrag) {
        finishAutomationDrag(point);
        return;
    }
    if (markerDrag) {
        finishMarkerDrag(point);
        return;
    }
    if (rubberOrigin) {
        finishRubberBand(point, event->modifiers());
        return;
    }
    if (cycleDragStart) {
        const int64_t from = *cycleDragStart;
        cycleDragStart.reset();
        const int64_t to = snapped(samplesAtX(point.x()), true);
        if (to != from) app.view().setCycle(std::min(from, to), std::max(from, to), true);
        update();
    }
}

void TimelineView::finishRubberBand(QPointF point, Qt::KeyboardModifiers modifiers) {
    const QRectF band = QRectF(*rubberOrigin, point).normalized();
    rubberOrigin.reset();
    if (band.width() < 3.0 && band.height() < 3.0) {
        update();
        return;
    }
    std::set<uint64_t> touched = modifiers & Qt::ControlModifier ? selection : std::set<uint64_t>{};
    {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        const TimeMap time = TimeMap::of(project);
        for (const auto &row : layout.rows(project))
            if (const auto track = project.findTrack(row.trackId))
                for (const auto &clip : track->clips)
                    if (!clip->isSessionClip() &&
                        layout.clipRect(*clip, row, time).intersects(band))
                        touched.insert(clip->id);
    }
    selectClips(touched);
}

void TimelineView::finishTrackDrag(QPointF point) {
    const TrackDrag drag = *trackDrag;
    trackDrag.reset();
    if (std::abs(point.y() - drag.origin.y()) < 4.0) {
        update();
        return;
    }
    std::size_t index = 0, from = 0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        const auto rows = layout.rows(project);
        const TrackRow *target = TimelineGeometry::rowAt(rows, point.y());
        // Dropped on a later row it lands after that row's track, on an earlier one before it:
        // the move takes the track out first, which shifts the later ones up by one. Above
        // the rows it goes first, below them last.
        index = point.y() < TimelineGeometry::rulerHeight ? 0 : project.tracks.size();
        for (std::size_t i = 0; i < project.tracks.size(); ++i) {
            if (project.tracks[i]->id == drag.trackId) from = i;
            if (target && project.tracks[i]->id == target->trackId) index = i;
        }
    }
    if (index != from) edit(std::make_unique<MoveTrackCommand>(drag.trackId, index));
}

void TimelineView::finishAutomationDrag(QPointF point) {
    const AutomationDrag drag = *automationDrag;
    automationDrag.reset();
    if (std::abs(point.x() - drag.origin.x()) < 2.0 &&
        std::abs(point.y() - drag.origin.y()) < 2.0) {
        update();
        return;
    }
    const float value = AutomationScale{drag.area, drag.lane}.valueAt(point.y());
    const int64_t to = snapped(samplesAtX(point.x()), true);
    edit(std::make_unique<MoveAutomationPointCommand>(drag.trackId, drag.lane, drag.from, to,
                                                      value));
}

void TimelineView::finishMarkerDrag(QPointF point) {
    const MarkerDrag drag = *markerDrag;
    markerDrag.reset();
    const int64_t to = snapped(samplesAtX(point.x()), true);
    if (std::abs(point.x() - drag.origin.x()) < 3.0 || to == drag.from) {
        update();
        return;
    }
    std::unique_ptr<Command> move;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        switch (drag.kind) {
        case MarkerKind::Tempo:
            for (const auto &tempo : project.tempoMarkers)
                if (tempo.position == drag.from)
                    move = std::make_unique<MoveTempoMarkerCommand>(drag.from, to, tempo.bpm);
            break;
        case MarkerKind::Meter:
            for (const auto &meter : project.meterMarkers)
                if (meter.position == drag.from)
                    move = std::make_unique<MoveMeterMarkerCommand>(
                        drag.from, to, TimeSignature{meter.num, meter.den});
            break;
        case MarkerKind::Beat: move = std::make_unique<MoveBeatMarkerCommand>(drag.from, to); break;
        case MarkerKind::Chord:
            for (const auto &chord : project.chordMarkers)
                if (chord.position == drag.from)
                    move = std::make_unique<MoveChordMarkerCommand>(drag.from, to, chord.chord);
            break;
        case MarkerKind::Named:
            for (const auto &marker : project.markers)
                if (marker.id == drag.markerId) {
                    std::vector<std::unique_ptr<Command>> steps;
                    steps.push_back(std::make_unique<RemoveMarkerCommand>(marker.id));
                    steps.push_back(std::make_unique<AddMarkerCommand>(marker.id, marker.name, to));
                    move = std::make_unique<EditGroupCommand>(
                        QT_TRANSLATE_NOOP("Command", "Move Marker"), std::move(steps));
                }
            break;
        }
    }
    if (move) edit(std::move(move));
}

void TimelineView::finishClipDrag() {
    const ClipDrag drag = *clipDrag;
    const DraggedClip result = dragged(drag);
    clipDrag.reset();
    const bool moved = std::abs(drag.current.x() - drag.origin.x()) >= 3.0 ||
                       std::abs(drag.current.y() - drag.origin.y()) >= 3.0;
    if (!moved) {
        // A click on one clip of a selection keeps only that one, once it is not a drag.
        if (!(QApplication::keyboardModifiers() & (Qt::ShiftModifier | Qt::ControlModifier)))
            selectClips({drag.clipId});
        update();
        return;
    }
    switch (drag.part) {
    case ClipPart::Body: {
        if (result.start == drag.start && result.trackId == drag.trackId) break;
        if (selection.size() > 1 && selection.contains(drag.clipId)) {
            // The whole selection moves by the grabbed clip's distance, each on its track.
            const int64_t delta = result.start - drag.start;
            std::vector<std::unique_ptr<Command>> steps;
            {
                std::lock_guard lock(app.engine().projectMutex);
                for (const uint64_t id : selection)
                    if (const auto clip = app.engine().project.findClip(id))
                        steps.push_back(std::make_unique<MoveClipCommand>(
                            id, std::max<int64_t>(clip->arrangeStart + delta, 0),
                            id == drag.clipId && result.trackId != drag.trackId ? result.trackId
                                                                                : 0));
            }
            editAll(QT_TRANSLATE_NOOP("Command", "Move Clips"), std::move(steps));
        } else {
            edit(std::make_unique<MoveClipCommand>(
                drag.clipId, result.start, result.trackId != drag.trackId ? result.trackId : 0));
        }
        break;
    }
    case ClipPart::StartEdge:
    case ClipPart::EndEdge:
        if (result.start != drag.start || result.length != drag.length)
            edit(std::make_unique<TrimClipCommand>(drag.clipId, result.start, result.length,
                                                   result.sourceOffset));
        break;
    case ClipPart::FadeIn:
    case ClipPart::FadeOut:
        edit(std::make_unique<SetClipFadesCommand>(drag.clipId, result.fadeIn, result.fadeOut));
        break;
    case ClipPart::Gain:
        edit(std::make_unique<SetClipGainCommand>(drag.clipId, result.gain));
        break;
    case ClipPart::None: break;
    }
    update();
}

void TimelineView::mouseDoubleClickEvent(QMouseEvent *event) {
    const QPointF point = event->position();
    std::unique_lock lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    const auto rows = layout.rows(project);
    const TrackRow *row = TimelineGeometry::rowAt(rows, point.y());
    if (!row) return;
    if (point.x() < TimelineGeometry::headerWidth) {
        // The name is edited where it is shown.
        const uint64_t trackId = row->trackId;
        const bool onName = point.y() < row->top + 26.0;
        lock.unlock();
        trackDrag.reset();
        if (onName) beginRename(trackId);
        return;
    }
    if (row->automationHeight > 0.0 && point.y() >= row->automationTop()) {
        // A double-click on a point deletes it.
        const auto hit = automationPointAt(point);
        lock.unlock();
        automationDrag.reset();
        if (hit && hit->from >= 0)
            edit(
                std::make_unique<RemoveAutomationPointCommand>(hit->trackId, hit->lane, hit->from));
        return;
    }
    const auto track = project.findTrack(row->trackId);
    const TimeMap time = TimeMap::of(project);
    for (const auto &clip : track->clips) {
        if (clip->isSessionClip() || !layout.clipRect(*clip, *row, time).contains(point)) continue;
        const uint64_t id = clip->id;
        const bool midi = clip->kind == ClipKind::Midi;
        const bool inactiveTake = !clip->takeActive;
        lock.unlock();
        clipDrag.reset();
        if (inactiveTake)
            edit(std::make_unique<SetTakeActiveCommand>(id));
        else if (midi)
            Q_EMIT midiClipOpened(id);
        return;
    }
    // An empty spot of a MIDI lane is where a part is drawn from scratch.
    if (track->type != TrackType::Midi) return;
    const uint64_t trackId = track->id;
    lock.unlock();
    clipDrag.reset();
    rubberOrigin.reset();
    newMidiClipAt(trackId, samplesAtX(point.x()));
}

void TimelineView::wheelEvent(QWheelEvent *event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (event->modifiers() & Qt::ControlModifier) {
        zoomBy(std::pow(1.25, steps), event->position().x());
    } else if (event->modifiers() & Qt::ShiftModifier) {
        layout.scrollBeats =
            std::max(0.0, layout.scrollBeats - steps * 80.0 / layout.pixelsPerBeat);
        app.view().timelineScrollBeats = layout.scrollBeats;
    } else {
        layout.scrollY =
            std::clamp(layout.scrollY - steps * 40.0, 0.0, static_cast<double>(vBar->maximum()));
    }
    updateScrollBars();
    update();
    event->accept();
}

void TimelineView::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        selectClips({});
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TimelineView::contextMenuEvent(QContextMenuEvent *event) {
    if (QMenu *menu = contextMenuAt(event->pos())) {
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }
    event->accept();
}

void TimelineView::carryClipOut() {
    const uint64_t clipId = clipDrag->clipId;
    clipDrag.reset();
    unsetCursor();
    update();
    auto *drag = new QDrag(this);
    drag->setMimeData(arrangementClipMimeData(clipId));
    drag->exec(Qt::CopyAction);
}

// --- Dropped files ---------------------------------------------------------------------------

void TimelineView::dragEnterEvent(QDragEnterEvent *event) {
    if (!droppedMediaFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void TimelineView::dragMoveEvent(QDragMoveEvent *event) {
    if (!droppedMediaFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void TimelineView::dropEvent(QDropEvent *event) {
    const auto paths = droppedMediaFiles(event->mimeData());
    if (paths.empty()) return;
    const QPointF point = event->position();
    uint64_t trackId = 0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto rows = layout.rows(app.engine().project);
        if (const TrackRow *row = TimelineGeometry::rowAt(rows, point.y())) {
            const auto track = app.engine().project.findTrack(row->trackId);
            if (track && track->type == TrackType::Audio) trackId = track->id;
        }
    }
    const int64_t start = point.x() > TimelineGeometry::headerWidth ? samplesAtX(point.x()) : 0;
    event->acceptProposedAction();
    imports->run(app.view().prepareDropImport(paths, trackId, start));
}

} // namespace orvane

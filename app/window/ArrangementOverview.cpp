#include "app/window/ArrangementOverview.h"

#include "app/shell/OVApplication.h"
#include "app/window/Theme.h"
#include "app/window/TimelineView.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <mutex>

namespace orvane {
namespace {

constexpr int stripHeight = 30;
constexpr double edge = 2.0;

} // namespace

ArrangementOverview::ArrangementOverview(OVApplication &application, TimelineView &timelineView,
                                         QWidget *parent)
    : QWidget(parent), app(application), timeline(timelineView) {
    setObjectName(QStringLiteral("arrangementOverview"));
    setFixedHeight(stripHeight);
    setCursor(Qt::PointingHandCursor);
    setToolTip(tr("The whole song: click or drag to move the arrangement there"));
}

QSize ArrangementOverview::sizeHint() const { return {400, stripHeight}; }

double ArrangementOverview::visibleBeats() const {
    const TimelineGeometry &layout = timeline.timelineGeometry();
    return std::max(0.0, (timeline.width() - TimelineGeometry::headerWidth) /
                             std::max(layout.pixelsPerBeat, 1e-6));
}

double ArrangementOverview::spannedBeats() const {
    double songBeats = 0.0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        songBeats = TimeMap::of(app.engine().project).beats(app.view().projectEndSamples());
    }
    const double shownEnd = timeline.timelineGeometry().scrollBeats + visibleBeats();
    // Eight bars of four at least, so an empty song does not stretch one beat across.
    return std::max({songBeats, shownEnd, 32.0});
}

double ArrangementOverview::xForBeats(double beats) const {
    const double span = spannedBeats();
    return TimelineGeometry::headerWidth +
           beats / span * std::max(1.0, width() - TimelineGeometry::headerWidth - edge);
}

void ArrangementOverview::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), theme::field);
    painter.setPen(theme::dimText);
    painter.drawText(QRectF(6, 0, TimelineGeometry::headerWidth - 12, height()),
                     Qt::AlignVCenter | Qt::AlignLeft, tr("Overview"));
    const double span = spannedBeats();
    const double left = TimelineGeometry::headerWidth;
    const double usable = std::max(1.0, width() - left - edge);
    const auto xOf = [&](double beats) { return left + beats / span * usable; };
    {
        Engine &engine = app.engine();
        std::lock_guard lock(engine.projectMutex);
        const Project &project = engine.project;
        const TimeMap time = TimeMap::of(project);
        const auto rows = static_cast<double>(std::max<std::size_t>(project.tracks.size(), 1));
        const double rowHeight = std::max(1.0, (height() - 2 * edge) / rows);
        double top = edge;
        for (const auto &track : project.tracks) {
            const QColor colour = QColor::fromRgba(track->color);
            for (const auto &clip : track->clips) {
                if (!clip) continue;
                const double start = xOf(time.beats(clip->arrangeStart));
                const double end = xOf(time.beats(clip->arrangeStart + clip->length));
                painter.fillRect(
                    QRectF(start, top, std::max(1.0, end - start), std::max(1.0, rowHeight - 1.0)),
                    colour);
            }
            top += rowHeight;
        }
        const double playhead = xOf(time.beats(engine.heardPlayhead()));
        painter.setPen(QPen(theme::text, 1.0));
        painter.drawLine(QPointF(playhead, 0), QPointF(playhead, height()));
    }
    const double shownStart = xOf(timeline.timelineGeometry().scrollBeats);
    const double shownEnd = xOf(timeline.timelineGeometry().scrollBeats + visibleBeats());
    painter.setPen(QPen(theme::accentBorder, 2.0));
    painter.setBrush(QColor(255, 255, 255, 28));
    painter.drawRect(QRectF(shownStart, 1.0, std::max(4.0, shownEnd - shownStart), height() - 2.0));
}

void ArrangementOverview::followTimeline() {
    const TimelineGeometry &layout = timeline.timelineGeometry();
    const Shown now{app.engine().heardPlayhead(), layout.scrollBeats, layout.pixelsPerBeat,
                    timeline.width()};
    if (now == shown) return;
    shown = now;
    update();
}

void ArrangementOverview::moveTimelineTo(double x) {
    const double usable = std::max(1.0, width() - TimelineGeometry::headerWidth - edge);
    const double beats = (x - TimelineGeometry::headerWidth) / usable * spannedBeats();
    timeline.scrollToBeats(std::max(0.0, beats - visibleBeats() / 2.0));
    update();
}

void ArrangementOverview::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) moveTimelineTo(event->position().x());
}

void ArrangementOverview::mouseMoveEvent(QMouseEvent *event) {
    if (event->buttons() & Qt::LeftButton) moveTimelineTo(event->position().x());
}

} // namespace orvane

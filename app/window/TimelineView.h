#pragma once

#include "app/window/PeakCache.h"
#include "app/window/TimelineGeometry.h"

#include "app/shell/OVMainView.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

class Command;
class LongJobRunner;
class OVApplication;

/// The arrangement: track headers, the ruler, clips with waveforms and note previews, and
/// the playhead. Edits go through the application's command stack; the view reads the
/// project under the engine's project lock and the transport's atomics.
class TimelineView : public QWidget {
    Q_OBJECT
  public:
    explicit TimelineView(OVApplication &application, QWidget *parent = nullptr);

    /// Called from the window's tick: playhead, follow, finished waveforms.
    void onTick();
    /// Keep the view on the playhead while playing.
    bool followPlayhead = true;

    const TimelineGeometry &timelineGeometry() const { return layout; }
    /// Where the clip is drawn now; empty when it is not on the timeline.
    QRectF clipRectOf(uint64_t clipId) const;
    /// The row of a track; none when the timeline does not show it.
    std::optional<TrackRow> rowOf(uint64_t trackId) const;
    /// The playhead's x in the view.
    double playheadX() const;
    PeakCache &peaks() { return peakCache; }
    /// Shows `beats` of time across the clip area, keeping the left edge.
    void setVisibleBeats(double beats);
    void zoomBy(double factor, double anchorX);
    /// Dropped files are still being decoded.
    bool importing() const;
    /// Decodes the files of drops and of the import command on a worker.
    LongJobRunner &importJobs() { return *imports; }

  Q_SIGNALS:
    /// The view ran an edit through the command stack.
    void projectEdited();
    /// A MIDI clip was opened for editing (double-click).
    void midiClipOpened(uint64_t clipId);

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

  private:
    LongJobRunner *imports = nullptr;

    /// A press on a clip being dragged: what was grabbed and the clip as it was.
    struct ClipDrag {
        ClipPart part = ClipPart::None;
        uint64_t clipId = 0;
        uint64_t trackId = 0;
        ClipKind kind = ClipKind::Audio;
        QPointF origin;
        QPointF current;
        QRectF rect;
        int64_t start = 0, length = 0, sourceOffset = 0, fadeIn = 0, fadeOut = 0;
        int64_t audioFrames = 0;
        float gain = 1.0f;
        double framesPerPixel = 1.0;
        bool snap = true;
    };
    /// The clip's values were the drag released where it is now.
    struct DraggedClip {
        int64_t start = 0, length = 0, sourceOffset = 0, fadeIn = 0, fadeOut = 0;
        float gain = 1.0f;
        uint64_t trackId = 0;
    };
    struct HeaderDrag {
        uint64_t trackId = 0;
        float gain = 1.0f;
    };

    void edit(std::unique_ptr<Command> command);
    DraggedClip dragged(const ClipDrag &drag) const;
    void finishClipDrag();
    bool pressHeader(QPointF point);
    void pressRuler(QPointF point);
    int64_t snapped(int64_t position, bool snap) const;
    int64_t samplesAtX(double x) const;
    double framesPerPixelAt(int64_t position) const;

    void paintRuler(QPainter &painter, const Project &project, const TimeMap &time);
    void paintRows(QPainter &painter, const Project &project, const TimeMap &time,
                   const std::vector<TrackRow> &rows);
    void paintClip(QPainter &painter, const Clip &clip, const Track &track, QRectF rect,
                   const TimeMap &time, const DraggedClip *override);
    void paintWaveform(QPainter &painter, const Clip &clip, const DraggedClip &shown, QRectF rect,
                       double framesPerPixel);
    void paintNotes(QPainter &painter, const Clip &clip, const DraggedClip &shown, QRectF rect,
                    const TimeMap &time);
    void paintHeaders(QPainter &painter, const Project &project, const std::vector<TrackRow> &rows);

    OVApplication &app;
    TimelineGeometry layout;
    PeakCache peakCache;
    uint64_t peaksSeen = 0;
    int64_t lastPlayhead = -1;
    std::optional<ClipDrag> clipDrag;
    std::optional<HeaderDrag> headerDrag;
    std::optional<int64_t> cycleDragStart;
};

} // namespace orvane

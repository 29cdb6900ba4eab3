#pragma once

#include <QWidget>

#include <cstdint>

namespace orvane {

class OVApplication;
class TimelineView;

/// The whole song in one strip above the arrangement: every track's clips in miniature and a
/// frame around what the arrangement shows. A press or a drag moves the arrangement there, so
/// a long song is crossed in one gesture instead of many scroll steps.
class ArrangementOverview : public QWidget {
    Q_OBJECT
  public:
    ArrangementOverview(OVApplication &application, TimelineView &timeline,
                        QWidget *parent = nullptr);
    QSize sizeHint() const override;
    /// The beats the strip spans: the song, or what the arrangement shows when that is more.
    double spannedBeats() const;
    /// The strip's x for `beats`.
    double xForBeats(double beats) const;
    /// From the window's tick: repaints only when the playhead or the arrangement's view
    /// moved, so a standing window costs nothing here.
    void followTimeline();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

  private:
    OVApplication &app;
    TimelineView &timeline;
    struct Shown {
        int64_t playhead = -1;
        double scrollBeats = -1.0;
        double pixelsPerBeat = -1.0;
        int timelineWidth = -1;
        bool operator==(const Shown &) const = default;
    } shown;
    double visibleBeats() const;
    /// Centres the arrangement on the beat under `x`.
    void moveTimelineTo(double x);
};

} // namespace orvane

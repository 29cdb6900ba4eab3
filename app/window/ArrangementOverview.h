#pragma once

#include <QWidget>

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

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

  private:
    OVApplication &app;
    TimelineView &timeline;
    double visibleBeats() const;
    /// Centres the arrangement on the beat under `x`.
    void moveTimelineTo(double x);
};

} // namespace orvane

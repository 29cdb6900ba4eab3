#pragma once

#include "core/stock/ParametricEq8.h"

#include <QPainterPath>
#include <QWidget>

#include <functional>

namespace orvane {

/// The band a drag on an empty part of the curve takes over: the first disabled band, else
/// the flat peak band nearest `freqHz` (on a logarithmic scale), else the nearest peak band.
/// -1 when the EQ has no band that could become a peak (all are filters or shelves in use).
int chooseBandToAdd(const ChannelEq8 &eq, double freqHz);

/// The channel EQ's response curve, drawn from `ParametricEq8::responseDbAt`, with a handle
/// per enabled band: drag a handle to move its band (frequency and gain), drag elsewhere to
/// bring in a new peak band there, right-click a handle to switch its band off. The edit is
/// handed to `onEdited` when the button is released, so one drag is one undo step. The wheel
/// over a handle narrows or widens its band (its Q), one step a notch. The band under the
/// pointer or being dragged shows its frequency, gain and Q in the corner.
class EqCurveView : public QWidget {
  public:
    static constexpr double minHz = 20.0;
    static constexpr double maxHz = 20000.0;
    static constexpr double rangeDb = 18.0;

    explicit EqCurveView(QWidget *parent = nullptr);
    void setEq(const ChannelEq8 &eq, double sampleRate);
    const ChannelEq8 &eq() const { return processor.settings(); }
    /// The curve as drawn: the response at `freqHz`.
    double responseDbAt(double freqHz) const { return processor.responseDbAt(freqHz); }
    /// Where band `band`'s handle sits.
    QPointF handlePosition(int band) const;
    QPointF pointFor(double freqHz, double db) const;
    double freqAt(double x) const;
    double dbAt(double y) const;

    /// "Band 2: 392 Hz, +6.0 dB, Q 1.00" for band index 1 as it stands.
    QString bandText(int band) const;
    /// What the corner shows: the dragged band, else the one under the pointer; empty when
    /// neither.
    QString readout() const;

    static constexpr float minQ = 0.1f;
    static constexpr float maxQ = 18.0f;

    std::function<void(const ChannelEq8 &)> onEdited;

  protected:
    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;

  private:
    int handleAt(const QPointF &point) const;
    void moveBand(int band, const QPointF &point);
    void rebuildCurve();

    stock::ParametricEq8 processor;
    QPainterPath curve;
    int dragged = -1;
    int hovered = -1;
};

} // namespace orvane

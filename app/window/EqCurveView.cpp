#include "app/window/EqCurveView.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

constexpr double handleRadius = 7.0;
/// Room at each edge of the plot, so that a handle at 20 Hz, 20 kHz or the gain limits
/// shows whole instead of cut in half by the widget's border.
constexpr double plotInset = handleRadius + 1.0;
constexpr float flatDb = 0.05f;

/// The pixels the plot spans along a side `extent` pixels long.
double plotSpan(int extent) { return std::max(1.0, extent - 1 - 2.0 * plotInset); }

QString frequencyLabel(double hz) {
    return hz >= 1000.0 ? QString::number(hz / 1000.0) + QStringLiteral("k")
                        : QString::number(hz);
}

bool isPeak(const EqBandSettings &band) {
    return band.type == static_cast<uint8_t>(EqBandType::Peak);
}

double logDistance(double a, double b) { return std::fabs(std::log(a / b)); }

int nearestBand(const ChannelEq8 &eq, double freqHz, bool flatOnly) {
    int best = -1;
    double bestDistance = 0.0;
    for (int i = 0; i < 8; ++i) {
        const EqBandSettings &band = eq.bands[static_cast<std::size_t>(i)];
        if (!isPeak(band) || (flatOnly && std::fabs(band.gainDb) > flatDb)) continue;
        const double distance = logDistance(std::max<double>(band.freq, 1.0), freqHz);
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

int chooseBandToAdd(const ChannelEq8 &eq, double freqHz) {
    for (int i = 0; i < 8; ++i)
        if (!eq.bands[static_cast<std::size_t>(i)].enabled) return i;
    const int flat = nearestBand(eq, freqHz, true);
    return flat >= 0 ? flat : nearestBand(eq, freqHz, false);
}

EqCurveView::EqCurveView(QWidget *parent) : QWidget(parent) {
    setMinimumSize(320, 160);
    setMouseTracking(true); // the band under the pointer shows its values
    processor.prepare(48000.0);
    processor.setSettings(ChannelEq8{});
}

void EqCurveView::setEq(const ChannelEq8 &eq, double sampleRate) {
    if (sampleRate > 0.0 && sampleRate != processor.sampleRate()) processor.prepare(sampleRate);
    processor.setSettings(eq);
    rebuildCurve();
}

QPointF EqCurveView::pointFor(double freqHz, double db) const {
    const double x = plotInset + std::log(freqHz / minHz) / std::log(maxHz / minHz) * plotSpan(width());
    const double y = plotInset + (0.5 - db / (2.0 * rangeDb)) * plotSpan(height());
    return {x, y};
}

double EqCurveView::freqAt(double x) const {
    const double fraction = std::clamp((x - plotInset) / plotSpan(width()), 0.0, 1.0);
    return minHz * std::pow(maxHz / minHz, fraction);
}

double EqCurveView::dbAt(double y) const {
    const double fraction = (y - plotInset) / plotSpan(height());
    return std::clamp((0.5 - fraction) * 2.0 * rangeDb, -rangeDb, rangeDb);
}

QPointF EqCurveView::handlePosition(int band) const {
    const EqBandSettings &settings = eq().bands[static_cast<std::size_t>(band)];
    // Filters have no gain of their own: their handle sits on the zero line.
    const bool hasGain = settings.type >= 1 && settings.type <= 3;
    return pointFor(std::clamp<double>(settings.freq, minHz, maxHz),
                    hasGain ? std::clamp<double>(settings.gainDb, -rangeDb, rangeDb) : 0.0);
}

void EqCurveView::rebuildCurve() {
    curve = QPainterPath();
    const int first = static_cast<int>(plotInset);
    const int last = std::max(first + 1, static_cast<int>(std::ceil(plotInset + plotSpan(width()))));
    for (int x = first; x <= last; ++x) {
        const double db =
            std::clamp<double>(processor.responseDbAt(freqAt(x)), -rangeDb - 6.0, rangeDb + 6.0);
        const QPointF point(x, pointFor(minHz, db).y());
        if (x == first)
            curve.moveTo(point);
        else
            curve.lineTo(point);
    }
    update();
}

void EqCurveView::resizeEvent(QResizeEvent *) { rebuildCurve(); }

void EqCurveView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(0x18, 0x1A, 0x1D));
    const QColor gridLine(0x33, 0x36, 0x3B), gridText(0x8E, 0x94, 0x9C);
    QFont small = painter.font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    painter.setFont(small);
    const double textHeight = QFontMetricsF(small).height();
    for (double hz : {50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0}) {
        const double x = pointFor(hz, 0.0).x();
        painter.setPen(gridLine);
        painter.drawLine(QPointF(x, 0), QPointF(x, height()));
        painter.setPen(gridText);
        painter.drawText(QRectF(x + 2, height() - textHeight - 1, 40, textHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, frequencyLabel(hz));
    }
    for (double db : {-12.0, -6.0, 0.0, 6.0, 12.0}) {
        const double y = pointFor(minHz, db).y();
        painter.setPen(gridLine);
        painter.drawLine(QPointF(0, y), QPointF(width(), y));
        painter.setPen(gridText);
        // Right of where a handle at the lowest frequency sits.
        painter.drawText(QRectF(plotInset + handleRadius + 3, y - textHeight, 40, textHeight),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         db > 0 ? QStringLiteral("+%1").arg(db) : QString::number(db));
    }
    QFont handleFont = small;
    handleFont.setBold(true);
    painter.setFont(handleFont);
    const bool active = eq().enabled && !eq().bypass;
    painter.setPen(QPen(active ? QColor(0x5A, 0xB4, 0xFF) : QColor(0x80, 0x80, 0x80), 2));
    painter.drawPath(curve);
    for (int band = 0; band < 8; ++band) {
        if (!eq().bands[static_cast<std::size_t>(band)].enabled) continue;
        const QPointF centre = handlePosition(band);
        painter.setPen(Qt::black);
        painter.setBrush(band == dragged ? QColor(0xFF, 0xD0, 0x40) : QColor(0xE8, 0xE8, 0xE8));
        painter.drawEllipse(centre, handleRadius - 1, handleRadius - 1);
        painter.drawText(QRectF(centre - QPointF(4, 6), QSizeF(8, 12)), Qt::AlignCenter,
                         QString::number(band + 1));
    }
    const QString values = readout();
    if (!values.isEmpty()) {
        painter.setPen(QColor(0xF0, 0xF0, 0xF0));
        painter.drawText(QRectF(0, 2, width() - plotInset - 2, textHeight + 2),
                         Qt::AlignRight | Qt::AlignVCenter, values);
    }
}

QString EqCurveView::bandText(int band) const {
    if (band < 0 || band >= 8) return {};
    const EqBandSettings &settings = eq().bands[static_cast<std::size_t>(band)];
    const double hz = settings.freq;
    const QString frequency = hz >= 1000.0
                                  ? QCoreApplication::translate("orvane::EqCurveView", "%1 kHz")
                                        .arg(hz / 1000.0, 0, 'f', 2)
                                  : QCoreApplication::translate("orvane::EqCurveView", "%1 Hz")
                                        .arg(static_cast<qlonglong>(std::lround(hz)));
    const bool hasGain = settings.type >= 1 && settings.type <= 3;
    const double db = std::round(settings.gainDb * 10.0) / 10.0;
    const QString gain = hasGain ? (db > 0.0 ? QStringLiteral("+") : QString()) +
                                       QString::number(db == 0.0 ? 0.0 : db, 'f', 1) +
                                       QStringLiteral(" dB, ")
                                 : QString();
    return QCoreApplication::translate("orvane::EqCurveView", "Band %1: %2, %3Q %4")
        .arg(band + 1)
        .arg(frequency, gain)
        .arg(static_cast<double>(settings.q), 0, 'f', 2);
}

QString EqCurveView::readout() const {
    const int band = dragged >= 0 ? dragged : hovered;
    // A band switched off under the pointer has no handle left to describe.
    if (band < 0 || !eq().bands[static_cast<std::size_t>(band)].enabled) return {};
    return bandText(band);
}

int EqCurveView::handleAt(const QPointF &point) const {
    for (int band = 7; band >= 0; --band) {
        if (!eq().bands[static_cast<std::size_t>(band)].enabled) continue;
        const QPointF delta = handlePosition(band) - point;
        if (std::hypot(delta.x(), delta.y()) <= handleRadius) return band;
    }
    return -1;
}

void EqCurveView::moveBand(int band, const QPointF &point) {
    ChannelEq8 edited = eq();
    EqBandSettings &settings = edited.bands[static_cast<std::size_t>(band)];
    settings.freq = static_cast<float>(freqAt(point.x()));
    if (settings.type >= 1 && settings.type <= 3)
        settings.gainDb = static_cast<float>(dbAt(point.y()));
    processor.setSettings(edited);
    rebuildCurve();
}

void EqCurveView::mousePressEvent(QMouseEvent *event) {
    const QPointF point = event->position();
    const int band = handleAt(point);
    if (event->button() == Qt::RightButton) {
        if (band < 0 || !onEdited) return;
        ChannelEq8 edited = eq();
        edited.bands[static_cast<std::size_t>(band)].enabled = false;
        onEdited(edited);
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    dragged = band;
    if (dragged < 0) {
        dragged = chooseBandToAdd(eq(), freqAt(point.x()));
        if (dragged < 0) return;
        ChannelEq8 edited = eq();
        EqBandSettings &added = edited.bands[static_cast<std::size_t>(dragged)];
        added.type = static_cast<uint8_t>(EqBandType::Peak);
        added.enabled = true;
        processor.setSettings(edited);
    }
    moveBand(dragged, point);
}

void EqCurveView::mouseMoveEvent(QMouseEvent *event) {
    if (dragged >= 0) return moveBand(dragged, event->position());
    const int under = handleAt(event->position());
    if (under == hovered) return;
    hovered = under;
    update();
}

void EqCurveView::leaveEvent(QEvent *) {
    hovered = -1;
    update();
}

void EqCurveView::wheelEvent(QWheelEvent *event) {
    const int band = handleAt(event->position());
    const int notches = event->angleDelta().y() / 120;
    if (band < 0 || notches == 0 || dragged >= 0) return event->ignore();
    event->accept();
    ChannelEq8 edited = eq();
    EqBandSettings &settings = edited.bands[static_cast<std::size_t>(band)];
    // Up narrows the band, as turning a Q knob clockwise does.
    const float q = settings.q * std::pow(1.25f, static_cast<float>(notches));
    settings.q = std::clamp(q, minQ, maxQ);
    hovered = band;
    processor.setSettings(edited);
    rebuildCurve();
    if (onEdited) onEdited(edited);
}

void EqCurveView::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || dragged < 0) return;
    dragged = -1;
    update();
    if (onEdited) onEdited(eq());
}

} // namespace orvane

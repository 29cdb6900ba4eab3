#include "app/window/PeakMeter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orvane {

float meterDb(float peak) {
    if (!(peak > 0.0f)) return PeakHold::floorDb;
    return std::max(PeakHold::floorDb, 20.0f * std::log10(peak));
}

bool PeakHold::update(float peak) {
    const float db = meterDb(peak);
    const float previousLevel = levelDb, previousHold = holdDb;
    levelDb = db;
    if (db >= holdDb) {
        holdDb = db;
        ticksHeld = 0;
    } else if (++ticksHeld > holdTicks) {
        holdDb = std::max(db, holdDb - fallPerTick);
    }
    // Differences below a tenth of a decibel move no pixel.
    return std::fabs(previousLevel - levelDb) >= 0.1f || std::fabs(previousHold - holdDb) >= 0.1f;
}

PeakMeter::PeakMeter(QWidget *parent) : QWidget(parent) {
    setFixedWidth(16);
    setMinimumHeight(120);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PeakMeter::setPeaks(float left, float right) {
    const bool changedLeft = channels[0].update(left);
    const bool changedRight = channels[1].update(right);
    if (changedLeft || changedRight) update();
}

namespace {
/// Height fraction of a level, 0 at the floor and 1 at +6 dB.
double heightFraction(float db) {
    return std::clamp((db - PeakHold::floorDb) / (6.0 - PeakHold::floorDb), 0.0, 1.0);
}
} // namespace

void PeakMeter::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x15, 0x16, 0x18));
    const int barWidth = (width() - 3) / 2;
    for (int channel = 0; channel < 2; ++channel) {
        const PeakHold &meter = channels[channel];
        const int x = 1 + channel * (barWidth + 1);
        const int level = static_cast<int>(heightFraction(meter.levelDb) * height());
        const QColor colour = meter.levelDb > 0.0f    ? QColor(0xE5, 0x48, 0x3C)
                              : meter.levelDb > -6.0f ? QColor(0xF0, 0xC0, 0x30)
                                                      : QColor(0x3D, 0xC8, 0x6E);
        painter.fillRect(x, height() - level, barWidth, level, colour);
        const int hold = height() - static_cast<int>(heightFraction(meter.holdDb) * height());
        if (meter.holdDb > PeakHold::floorDb)
            painter.fillRect(x, std::min(hold, height() - 2), barWidth, 2, Qt::white);
    }
}

} // namespace orvane

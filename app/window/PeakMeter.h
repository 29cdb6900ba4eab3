#pragma once

#include <QWidget>

namespace orvane {

/// A peak level with a hold mark: the mark stays at the highest recent peak for
/// `holdTicks` user-interface ticks, then falls `fallPerTick` decibels a tick until it meets
/// the level again.
struct PeakHold {
    static constexpr int holdTicks = 45; // 1.5 s at 30 Hz
    static constexpr float fallPerTick = 1.0f;
    static constexpr float floorDb = -60.0f;

    float levelDb = floorDb;
    float holdDb = floorDb;
    int ticksHeld = 0;

    /// Takes the peak of one tick (linear); true when what is drawn changed.
    bool update(float peak);
};

/// Decibels of a linear peak for the meter, never below `PeakHold::floorDb`.
float meterDb(float peak);

/// Two bars (left and right) with their hold marks.
class PeakMeter : public QWidget {
  public:
    explicit PeakMeter(QWidget *parent = nullptr);
    /// Called at every tick; repaints only when something visible changed.
    void setPeaks(float left, float right);
    const PeakHold &left() const { return channels[0]; }
    const PeakHold &right() const { return channels[1]; }

  protected:
    void paintEvent(QPaintEvent *) override;

  private:
    PeakHold channels[2];
};

} // namespace orvane

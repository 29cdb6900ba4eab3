#pragma once

#include "app/window/PeakMeter.h"
#include "core/model/Project.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>

class QDial;
class QLabel;
class QPushButton;
class QSlider;

namespace orvane {

/// Fader travel: position 0 is silence, 1000 is +6 dB, linear in decibels from -60 dB.
constexpr int faderSteps = 1000;
float faderPositionToGain(int position);
int gainToFaderPosition(float gain);
/// "Pan: centre", "Pan: 30 L", "Pan: 100 R" for a pan in percent.
QString panText(int percent);
/// A linear gain in decibels to a tenth, "-∞ dB" for silence.
QString levelDbText(float gain);
/// "Send A: -6.0 dB" for send slot 0 at 50 %.
QString sendText(int slot, int percent);

enum class StripKind { Track, Return, Master };

/// What a strip shows of its channel.
struct StripValues {
    std::string name;
    uint32_t color = 0;
    float gain = 1.0f;
    float pan = 0.0f;
    bool mute = false;
    bool solo = false;
    bool armed = false;
    std::array<SendSlot, 4> sends{};
};

/// What a strip asks for; the mixer panel turns each into a command.
struct StripActions {
    std::function<void(float gain)> gain;
    std::function<void(float pan)> pan;
    std::function<void(bool mute, bool solo)> muteSolo;
    std::function<void(bool armed)> arm;
    std::function<void(int slot, float level)> send;
    std::function<void()> select;
    /// A drag of the fader or the pan begins, moves (lane 0 gain, 1 pan) and ends: the mixer
    /// writes automation from these as the write mode asks.
    std::function<void()> dragBegan;
    std::function<void(int lane, float value)> dragMoved;
    std::function<void()> dragEnded;
    /// A right-click on the fader (lane 0), the pan (lane 1) or a send (its mapping lane, see
    /// `sendMappingLane`) at `globalPosition`: the control's menu (MIDI Learn).
    std::function<void(int lane, QPoint globalPosition)> controlMenu;
};

/// One mixer channel: name, pan, sends, mute, solo, arm, fader and peak meter. The master
/// strip has only the fader and the meter.
class ChannelStrip : public QWidget {
    Q_OBJECT

  public:
    ChannelStrip(StripKind kind, uint64_t trackId, StripActions actions, QWidget *parent = nullptr);
    /// Shows `values` without asking for any edit.
    void setValues(const StripValues &values);
    void setSelected(bool selected);
    /// The channel's latest peaks, as the engine left them at this tick. While the transport
    /// stands the engine may stop measuring: peaks that did not change since the last tick
    /// then read as silence, so a meter never freezes at the level the song stopped on.
    void setPeaks(float left, float right, bool transportRunning);

    uint64_t trackId() const { return id; }
    StripKind kind() const { return stripKind; }
    QSlider *fader() const { return faderSlider; }
    QDial *panDial() const { return panKnob; }
    QPushButton *muteButton() const { return mute; }
    QPushButton *soloButton() const { return solo; }
    QPushButton *armButton() const { return arm; }
    QDial *sendDial(int slot) const { return sends[static_cast<std::size_t>(slot)]; }
    PeakMeter *peakMeter() const { return meter; }

  protected:
    void mousePressEvent(QMouseEvent *event) override;

  private:
    void showGain(int position);
    void offerControlMenu(QWidget *control, int lane);

    StripKind stripKind;
    uint64_t id;
    StripActions actions;
    QLabel *name = nullptr;
    QLabel *gainText = nullptr;
    QSlider *faderSlider = nullptr;
    QDial *panKnob = nullptr;
    QPushButton *mute = nullptr;
    QPushButton *solo = nullptr;
    QPushButton *arm = nullptr;
    std::array<QDial *, 4> sends{};
    PeakMeter *meter = nullptr;
    uint32_t shownColor = 0;
    float lastLeft = 0.0f;
    float lastRight = 0.0f;
};

} // namespace orvane

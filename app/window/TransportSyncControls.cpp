#include "app/window/TransportSyncControls.h"

#include "app/shell/OVApplication.h"
#include "device/AudioDeviceEngine.h"
#include "device/DeviceSettings.h"

#include <QComboBox>
#include <QHBoxLayout>

#include <algorithm>

namespace orvane {

namespace {

/// The clock choice: its mode, and whether the project's tempo follows the arriving clock.
struct ClockChoice {
    MidiClockMode mode;
    bool followTempo;
};
constexpr ClockChoice clockChoices[] = {{MidiClockMode::off, false},
                                        {MidiClockMode::out, false},
                                        {MidiClockMode::in, false},
                                        {MidiClockMode::in, true}};
constexpr JackTransportMode jackChoices[] = {JackTransportMode::off, JackTransportMode::lead,
                                             JackTransportMode::follow};

} // namespace

TransportSyncControls::TransportSyncControls(OVApplication &application, QWidget *parent)
    : QWidget(parent), app(application) {
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    jackTransport = new QComboBox(this);
    jackTransport->setObjectName(QStringLiteral("jackTransport"));
    jackTransport->addItem(tr("JACK: off"));
    jackTransport->addItem(tr("JACK: lead"));
    jackTransport->addItem(tr("JACK: follow"));
    jackTransport->setToolTip(
        tr("JACK transport: lead makes Halvora the timebase master that starts, stops and "
           "moves it; follow plays wherever another program moves it"));
    midiClock = new QComboBox(this);
    midiClock->setObjectName(QStringLiteral("midiClock"));
    midiClock->addItem(tr("Clock: off"));
    midiClock->addItem(tr("Clock: send"));
    midiClock->addItem(tr("Clock: follow"));
    midiClock->addItem(tr("Clock: follow with tempo"));
    midiClock->setToolTip(tr("MIDI clock: send clock, start, stop and song position from "
                             "Halvora:clock_out, or follow those arriving at Halvora:clock_in"));
    for (QComboBox *box : {jackTransport, midiClock}) {
        // Wide enough for its longest choice, whichever is shown.
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        layout->addWidget(box);
    }
    show(app.audio().transportSync());
    connect(jackTransport, &QComboBox::activated, this, [this] { apply(); });
    connect(midiClock, &QComboBox::activated, this, [this] { apply(); });
}

TransportSyncSettings TransportSyncControls::chosen() const {
    TransportSyncSettings settings;
    const int jack = std::clamp(jackTransport->currentIndex(), 0, 2);
    const int clock = std::clamp(midiClock->currentIndex(), 0, 3);
    settings.jackTransport = jackChoices[jack];
    settings.midiClock = clockChoices[clock].mode;
    settings.followClockTempo = clockChoices[clock].followTempo;
    return settings;
}

void TransportSyncControls::show(const TransportSyncSettings &settings) {
    for (int index = 0; index < 3; ++index)
        if (jackChoices[index] == settings.jackTransport) jackTransport->setCurrentIndex(index);
    for (int index = 0; index < 4; ++index)
        if (clockChoices[index].mode == settings.midiClock &&
            (settings.midiClock != MidiClockMode::in ||
             clockChoices[index].followTempo == settings.followClockTempo))
            midiClock->setCurrentIndex(index);
}

void TransportSyncControls::apply() {
    const TransportSyncSettings settings = chosen();
    AudioDeviceEngine &device = app.audio();
    const bool running = device.setTransportSync(settings);
    const std::filesystem::path path = deviceSettingsPath();
    DeviceSettings stored = loadDeviceSettings(path);
    stored.sync = settings;
    std::string error;
    if (path.empty() || !saveDeviceSettings(path, stored, error))
        app.status().setText(
            tr("The choice could not be stored: %1").arg(QString::fromStdString(error)).toStdString());
    else if (!running && settings != TransportSyncSettings{})
        app.status().setText(tr("Transport sync works on the JACK device only; it starts with it")
                                 .toStdString());
}

} // namespace orvane

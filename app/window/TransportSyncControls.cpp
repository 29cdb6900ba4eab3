#include "app/window/TransportSyncControls.h"

#include "app/shell/OVApplication.h"
#include "device/AudioDeviceEngine.h"
#include "device/DeviceSettings.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace orvane {

namespace {

/// The clock choices: the mode, and whether the project's tempo follows the arriving clock.
struct ClockChoice {
    MidiClockMode mode;
    bool followTempo;
};
constexpr std::array<ClockChoice, 4> clockModes{{{MidiClockMode::off, false},
                                                 {MidiClockMode::out, false},
                                                 {MidiClockMode::in, false},
                                                 {MidiClockMode::in, true}}};
constexpr std::array<JackTransportMode, 3> jackModes{
    JackTransportMode::off, JackTransportMode::lead, JackTransportMode::follow};

} // namespace

TransportSyncControls::TransportSyncControls(OVApplication &application, QWidget *parent)
    : QToolButton(parent), app(application) {
    setObjectName(QStringLiteral("transportSync"));
    setText(tr("Sync"));
    setCheckable(true);
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto *menu = new QMenu(this);
    menu->addSection(tr("JACK transport"));
    auto *jackGroup = new QActionGroup(menu);
    const char *jackTexts[] = {QT_TR_NOOP("Not linked to the JACK transport"),
                               QT_TR_NOOP("Lead the JACK transport"),
                               QT_TR_NOOP("Follow the JACK transport")};
    for (std::size_t index = 0; index < jackChoices.size(); ++index) {
        jackChoices[index] = menu->addAction(tr(jackTexts[index]));
        jackChoices[index]->setCheckable(true);
        jackGroup->addAction(jackChoices[index]);
    }
    menu->addSection(tr("MIDI clock"));
    auto *clockGroup = new QActionGroup(menu);
    const char *clockTexts[] = {QT_TR_NOOP("No MIDI clock"), QT_TR_NOOP("Send MIDI clock"),
                                QT_TR_NOOP("Follow MIDI clock"),
                                QT_TR_NOOP("Follow MIDI clock and its tempo")};
    for (std::size_t index = 0; index < clockChoices.size(); ++index) {
        clockChoices[index] = menu->addAction(tr(clockTexts[index]));
        clockChoices[index]->setCheckable(true);
        clockGroup->addAction(clockChoices[index]);
    }
    setMenu(menu);
    display(app.audio().transportSync());
    connect(jackGroup, &QActionGroup::triggered, this, [this] { apply(); });
    connect(clockGroup, &QActionGroup::triggered, this, [this] { apply(); });
}

TransportSyncSettings TransportSyncControls::chosen() const {
    TransportSyncSettings settings;
    for (std::size_t index = 0; index < jackChoices.size(); ++index)
        if (jackChoices[index]->isChecked()) settings.jackTransport = jackModes[index];
    for (std::size_t index = 0; index < clockChoices.size(); ++index)
        if (clockChoices[index]->isChecked()) {
            settings.midiClock = clockModes[index].mode;
            settings.followClockTempo = clockModes[index].followTempo;
        }
    return settings;
}

void TransportSyncControls::display(const TransportSyncSettings &settings) {
    std::size_t jack = 0, clock = 0;
    for (std::size_t index = 0; index < jackModes.size(); ++index)
        if (jackModes[index] == settings.jackTransport) jack = index;
    for (std::size_t index = 0; index < clockModes.size(); ++index)
        if (clockModes[index].mode == settings.midiClock &&
            (settings.midiClock != MidiClockMode::in ||
             clockModes[index].followTempo == settings.followClockTempo))
            clock = index;
    jackChoices[jack]->setChecked(true);
    clockChoices[clock]->setChecked(true);
    setChecked(jack != 0 || clock != 0);
    setToolTip(tr("Keeping time with other programs: %1; %2")
                   .arg(jackChoices[jack]->text(), clockChoices[clock]->text()));
}

void TransportSyncControls::apply() {
    const TransportSyncSettings settings = chosen();
    display(settings);
    AudioDeviceEngine &device = app.audio();
    const bool running = device.setTransportSync(settings);
    const std::filesystem::path path = deviceSettingsPath();
    DeviceSettings stored = loadDeviceSettings(path);
    stored.sync = settings;
    std::string error;
    if (path.empty() || !saveDeviceSettings(path, stored, error))
        app.status().setText(tr("The choice could not be stored: %1")
                                 .arg(QString::fromStdString(error))
                                 .toStdString());
    else if (!running && settings != TransportSyncSettings{})
        app.status().setText(
            tr("Transport sync works on the JACK device only; it starts with it").toStdString());
}

} // namespace orvane

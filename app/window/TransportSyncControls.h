#pragma once

#include "device/TransportSyncSettings.h"

#include <QToolButton>

#include <array>

class QAction;

namespace orvane {

class OVApplication;

/// The transport bar's "Sync" button: its menu chooses how Halvora keeps time with other
/// programs, the JACK transport (not linked, lead, follow) and the MIDI clock (none, send,
/// follow, follow with its tempo). The button is lit while either is on and its tooltip says
/// which. A choice takes effect on the running device at once and is stored in the settings.
class TransportSyncControls : public QToolButton {
    Q_OBJECT
  public:
    explicit TransportSyncControls(OVApplication &application, QWidget *parent = nullptr);

    /// The menu's choices, in the order of `JackTransportMode`, and off, send, follow,
    /// follow with tempo.
    std::array<QAction *, 3> jackChoices{};
    std::array<QAction *, 4> clockChoices{};

    /// What the menu says now.
    TransportSyncSettings chosen() const;
    /// Shows `settings` without applying them.
    void display(const TransportSyncSettings &settings);

  private:
    void apply();

    OVApplication &app;
};

} // namespace orvane

#pragma once

#include "device/TransportSyncSettings.h"

#include <QWidget>

class QComboBox;

namespace orvane {

class OVApplication;

/// The transport bar's choices for keeping time with other programs: how Halvora treats the
/// JACK transport (off, lead, follow) and the MIDI clock (off, send, follow, follow with its
/// tempo). A choice takes effect on the running device at once and is stored in the settings.
class TransportSyncControls : public QWidget {
    Q_OBJECT
  public:
    TransportSyncControls(OVApplication &application, QWidget *parent = nullptr);

    QComboBox *jackTransport = nullptr;
    QComboBox *midiClock = nullptr;

    /// What the two choices say now.
    TransportSyncSettings chosen() const;
    /// Shows `settings` without applying them.
    void show(const TransportSyncSettings &settings);

  private:
    void apply();

    OVApplication &app;
};

} // namespace orvane

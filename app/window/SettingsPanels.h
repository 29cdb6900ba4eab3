#pragma once

#include "app/shell/OVApplication.h"

#include <QDialog>

class QComboBox;
class QDoubleSpinBox;
class QLabel;

namespace orvane {

/// "Настройки аудио": devices, buffer size and the recording latency calibration, applied
/// through the application on "Применить".
class AudioSettingsPanel : public QDialog {
    Q_OBJECT
  public:
    static constexpr int bufferSizes[] = {64, 128, 256, 512, 1024, 2048};

    AudioSettingsPanel(OVApplication &application, QWidget *parent = nullptr);

    /// What the fields hold now.
    AudioSettingsChoice choice() const;
    /// Hands the choice to the application; closes the panel when it was taken.
    [[nodiscard]] bool apply();

    QComboBox *outputDevices = nullptr;
    QComboBox *inputDevices = nullptr;
    QComboBox *bufferSize = nullptr;
    QDoubleSpinBox *inputCalibration = nullptr;
    QDoubleSpinBox *outputCalibration = nullptr;
    QLabel *rateLine = nullptr;
    QLabel *latencyLine = nullptr;

  private:
    void fillDevices();
    void refreshInformation();
    OVApplication &app;
};

/// The first steps, offered once at the first start and from the help menu.
class QuickStartPanel : public QDialog {
    Q_OBJECT
  public:
    explicit QuickStartPanel(QWidget *parent = nullptr);
};

/// Whether the quick-start panel was offered already (first-run state in the settings file).
bool quickStartWasOffered();
/// Remembers that it was; false when the settings file cannot be written.
[[nodiscard]] bool rememberQuickStartOffered();

} // namespace orvane

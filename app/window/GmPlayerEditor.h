#pragma once

#include "core/stock/GmPlayer.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace orvane {

class Command;

/// The General MIDI player in the instrument window: the sound font it plays, which of the
/// font's presets, and whether the track is a drum part (a file's channel 10). Every choice is
/// one command handed to `execute`; a font that does not load is refused with a reason on
/// `report`, and the track keeps its sound.
class GmPlayerEditor : public QWidget {
    Q_OBJECT
  public:
    explicit GmPlayerEditor(QWidget *parent);

    std::function<void(std::unique_ptr<Command>)> execute;
    std::function<void(const std::string &)> report;
    /// Asks for a SoundFont 2 file, empty when the user cancels: a file dialog unless replaced.
    std::function<QString()> chooseFontFile;

    void setTrack(uint64_t trackId) { track = trackId; }
    /// Shows `settings` as the track stores them.
    void showSettings(const stock::GmSettings &settings);

    QComboBox *presetChooser() const { return presetBox; }
    QPushButton *fontChooser() const { return fontButton; }
    QCheckBox *drumPart() const { return drumBox; }
    QLabel *fontName() const { return fontLabel; }

  private:
    void choose(const stock::GmSettings &wanted);
    void listPresetsOf(const std::string &font);

    uint64_t track = 0;
    stock::GmSettings shown;
    std::string listedFont;
    bool listed = false;
    QLabel *fontLabel = nullptr;
    QPushButton *fontButton = nullptr;
    QComboBox *presetBox = nullptr;
    QCheckBox *drumBox = nullptr;
};

} // namespace orvane

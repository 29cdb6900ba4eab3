#pragma once

#include "core/stock/SynthParameters.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSlider;
class QTimer;

namespace orvane {

class Command;
class DrumPadsEditor;
class GmPlayerEditor;
class OVApplication;

/// A synth parameter's value as the panel shows it: the number in the unit it reads best in
/// (milliseconds under a second, per cent for a plain 0..1 amount), in the window's language.
QString synthValueText(const stock::SynthParamInfo &info, float plain);
/// What the user typed into a parameter's field, as a plain value of the parameter: a number,
/// optionally followed by a unit ("250 ms", "1.2 s", "40 %", "2 kHz", "-6 dB"); a bare number
/// is read in the unit the field showed for `shownPlain`. None for text that is no number.
std::optional<float> readTypedSynthValue(const stock::SynthParamInfo &info, const QString &text,
                                         float shownPlain);
/// The factory preset that `values` are, or that they differ least from (the first of equals):
/// its place among the factory presets and whether any value differs from it.
struct NearestSynthPreset {
    int index = 0;
    bool changed = false;
};
NearestSynthPreset nearestSynthPreset(const stock::SynthValues &values);

/// The window of a MIDI track's instrument: which one it plays (Halvora Synth, the drum
/// sampler, the General MIDI player or the plain sine voice) and, for the synth, a preset bar and every parameter
/// grouped by section, each with its value and unit; for the drum sampler, its pads. Every
/// change is one command on the application's stack; a slider gesture is one change when it
/// is let go. The window reads the track again on a timer, so undo, redo and edits made
/// elsewhere show, and closes itself when its track goes.
class SynthPanel : public QWidget {
    Q_OBJECT

  public:
    SynthPanel(OVApplication &application, uint64_t trackId, QWidget *parent);
    ~SynthPanel() override;

    uint64_t trackId() const { return track; }
    /// Called after the panel ran an edit, so that the rest of the window follows.
    std::function<void()> onEdited;
    /// The window's undo and redo keys, which would otherwise not reach the main window.
    std::function<void()> onUndo;
    std::function<void()> onRedo;

    /// Shows the track as it is now; run by the panel's timer.
    void followProject();

    QComboBox *instrumentChooser() const { return instrumentBox; }
    QComboBox *presetChooser() const { return presetBox; }
    /// Says whether the values were changed since the preset.
    QLabel *presetState() const { return changedMark; }
    /// The row's controls; null for the kinds it does not have.
    QSlider *slider(stock::SynthParam param) const { return rowOf(param).slider; }
    QComboBox *choice(stock::SynthParam param) const { return rowOf(param).choice; }
    QCheckBox *toggle(stock::SynthParam param) const { return rowOf(param).toggle; }
    /// The value with its unit, where a value can be typed too.
    QLineEdit *valueField(stock::SynthParam param) const { return rowOf(param).field; }
    QLabel *label(stock::SynthParam param) const { return rowOf(param).label; }
    /// The section holding the parameters, by its place (oscillators first, master last).
    QGroupBox *section(int index) const;
    int sectionCount() const { return static_cast<int>(sections.size()); }
    /// The drum sampler's pads, shown while the track plays it.
    DrumPadsEditor *drumPads() const { return drumEditor; }
    /// The General MIDI player's font and sound, shown while the track plays it.
    GmPlayerEditor *gmPlayer() const { return gmEditor; }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    struct Row {
        QLabel *label = nullptr;
        QSlider *slider = nullptr;
        QComboBox *choice = nullptr;
        QCheckBox *toggle = nullptr;
        QLineEdit *field = nullptr;
    };

    QGroupBox *addSection(const QString &title, stock::SynthParam first, stock::SynthParam last,
                          QWidget *parent);
    void addRow(QGridLayout &grid, int line, stock::SynthParam param);
    const Row &rowOf(stock::SynthParam param) const {
        return rows[static_cast<std::size_t>(param)];
    }
    void showValues();
    void showRow(stock::SynthParam param, bool evenIfHeld);
    void setParameter(stock::SynthParam param, float plain);
    void typed(stock::SynthParam param);
    void execute(std::unique_ptr<Command> command);
    void refreshTitle();

    OVApplication &app;
    uint64_t track = 0;
    std::string trackName;
    std::string instrument;
    std::string state;
    bool seen = false;
    stock::SynthValues values{};

    QComboBox *instrumentBox = nullptr;
    QComboBox *presetBox = nullptr;
    QLabel *changedMark = nullptr;
    QWidget *synthArea = nullptr;
    QWidget *synthScroll = nullptr;
    QLabel *presetLabel = nullptr;
    DrumPadsEditor *drumEditor = nullptr;
    QWidget *drumScroll = nullptr;
    GmPlayerEditor *gmEditor = nullptr;
    QLabel *sineNote = nullptr;
    std::array<Row, stock::synthParamCount> rows{};
    std::vector<QGroupBox *> sections;
    QTimer *follower = nullptr;
};

} // namespace orvane

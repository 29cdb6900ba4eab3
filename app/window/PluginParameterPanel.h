#pragma once

#include "core/plugins/PluginPresets.h"

#include <QWidget>

class QLineEdit;
class QToolButton;

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;
class QGridLayout;
class QLabel;
class QSlider;
class QTimer;

namespace orvane::vst {
class PluginRack;
}

namespace orvane {

/// How a parameter is best changed by hand.
enum class ParameterKind { continuous, toggle, choice };

/// One parameter of a plug-in insert, whatever its format.
struct ParameterRow {
    /// The plug-in's own id (VST 3) or the parameter's index (LV2).
    uint32_t key = 0;
    std::string name;
    ParameterKind kind = ParameterKind::continuous;
    /// The names of a choice's values, lowest first, spread evenly over [0, 1].
    std::vector<std::string> choices;
    /// Positions of the slider: a continuous value gets a fine grid, a stepped one its steps.
    int steps = 1000;
    /// The plug-in's group for it, which heads the rows it holds; empty when none.
    std::string group;
};

/// The parameters of one live plug-in, read and set as normalized values in [0, 1].
class ParameterSource {
  public:
    virtual ~ParameterSource() = default;
    virtual std::string pluginName() const = 0;
    virtual std::vector<ParameterRow> rows() = 0;
    virtual float normalized(uint32_t key) = 0;
    virtual void setNormalized(uint32_t key, float value) = 0;
    /// The value as the user reads it, with its unit.
    virtual std::string valueText(uint32_t key, float normalized) = 0;
    /// False once the rack no longer holds the plug-in (the insert was removed or replaced).
    virtual bool stillInRack() = 0;
    /// The id a project stores for the plug-in ("lv2:" + URI, or a VST 3 class id), for its
    /// presets; empty when it has none.
    virtual std::string pluginId() const { return {}; }
    /// The plug-in's presets, factory then the user's; false, with `error`, when they cannot
    /// be listed.
    virtual bool listPresets(vst::PresetListing &listing, std::string &error);
    /// The state a listed preset stands for.
    virtual bool presetState(const vst::PluginPreset &preset, std::vector<uint8_t> &state,
                             std::string &error);
    /// The normalized value the user means by typing `typed`: a number, with the unit or not,
    /// "k" for thousands; a number past either end gives that end. None for text that is no
    /// number. By default it is found among the values' own texts, which suits any plug-in
    /// whose texts grow or fall with the value.
    virtual std::optional<float> normalizedForText(uint32_t key, const std::string &typed);
    /// The plug-in's whole state, and a state given back to it (an A/B comparison).
    virtual bool readState(std::vector<uint8_t> &) { return false; }
    virtual bool applyState(const std::vector<uint8_t> &) { return false; }
};

/// The source for the plug-in of an insert (VST 3 or LV2), null for a built-in insert, a
/// placeholder or no insert at all.
std::unique_ptr<ParameterSource> parameterSourceFor(vst::PluginRack &rack, uint64_t trackId,
                                                    int insertIndex);

/// A plain value for reading: up to four significant figures, whole numbers without a point,
/// and the unit after a space.
std::string formatPlainValue(float value, const std::string &unit);

/// A window with one row per parameter of a plug-in insert: its name, a slider (a check box
/// for a switch, a list for named choices) and the value with its unit. A slider being dragged
/// moves the plug-in as it goes; each finished change (a drag, a click, a key) is handed to
/// `onEdited` once, to become one undo step. Changes made elsewhere (undo, automation, the
/// plug-in's own window) show on the panel's timer. The window closes itself when its insert
/// goes. A double-click on a value lets the user type it; Return sets it, Escape leaves it.
class PluginParameterPanel : public QWidget {
    Q_OBJECT

  public:
    PluginParameterPanel(std::unique_ptr<ParameterSource> source, QWidget *parent);
    ~PluginParameterPanel() override;

    /// A finished change of the parameter `key` from `before` to `after` (normalized). Unset,
    /// the value goes straight to the plug-in.
    std::function<void(uint32_t key, float before, float after)> onEdited;
    /// A preset chosen from the preset bar, as the plug-in state it stands for, to become one
    /// undo step. Unset, the state goes straight to the plug-in.
    std::function<void(std::vector<uint8_t> state)> onPresetChosen;
    /// The window's undo and redo keys, which would otherwise not reach the main window.
    std::function<void()> onUndo;
    std::function<void()> onRedo;
    /// A right-click on the control of parameter `key` at `globalPosition`: the owner's
    /// menu for it (MIDI Learn). Unset, the controls have no menu.
    std::function<void(uint32_t key, QPoint globalPosition)> onControlMenu;
    /// The user chose parameter `key` for the insert's automation lane. Unset, the rows have
    /// no automation button.
    std::function<void(uint32_t key)> onAutomate;
    /// Marks the parameter the insert's lane drives (none: no row).
    void showAutomated(std::optional<uint32_t> key);

    int rowCount() const { return static_cast<int>(shown.size()); }
    /// The headings of the plug-in's groups, in the order shown.
    QStringList groupHeadings() const;
    /// The row of the parameter named `name`, or -1.
    int rowNamed(const std::string &name) const;
    /// The row of the parameter `key`, or -1.
    int rowWithKey(uint32_t key) const;
    const ParameterRow &row(int index) const { return shown[static_cast<std::size_t>(index)].row; }
    /// The row's control; null for the kinds it does not have.
    QSlider *slider(int index) const { return shown[static_cast<std::size_t>(index)].slider; }
    QCheckBox *toggle(int index) const { return shown[static_cast<std::size_t>(index)].toggle; }
    QComboBox *choice(int index) const { return shown[static_cast<std::size_t>(index)].choice; }
    QLabel *valueLabel(int index) const { return shown[static_cast<std::size_t>(index)].value; }
    /// The row's automation button: checked on the parameter the insert's lane drives.
    QToolButton *automateButton(int index) const {
        return shown[static_cast<std::size_t>(index)].automate;
    }
    /// The box a value is typed into, shown while the user types one.
    QLineEdit *valueEntry(int index) const { return shown[static_cast<std::size_t>(index)].entry; }
    /// Shows the plug-in's present values; run by the panel's timer.
    void followPlugin();

    /// The preset bar: the presets (factory ones, then the user's), "Save…" and "A/B", which
    /// swaps the plug-in's state with the one it had before the last preset (or before the
    /// window opened) and back.
    QComboBox *presetList() const { return presets; }
    QPushButton *savePresetButton() const { return savePreset; }
    QPushButton *compareButton() const { return compare; }
    /// Why the last preset could not be loaded or saved; empty after a success.
    QLabel *presetProblem() const { return problem; }
    /// Saves the plug-in's present state as the user preset `name` and lists it.
    bool savePresetNamed(const QString &name);

  private:
    struct ShownRow {
        ParameterRow row;
        QSlider *slider = nullptr;
        QCheckBox *toggle = nullptr;
        QComboBox *choice = nullptr;
        QLabel *value = nullptr;
        QLineEdit *entry = nullptr;
        QToolButton *automate = nullptr;
        float shownValue = -1.0f;
        /// The value when the slider was grabbed, while it is held.
        float grabbedValue = -1.0f;
    };

    void addRow(QGridLayout &grid, ParameterRow row, int line);
    bool eventFilter(QObject *watched, QEvent *event) override;
    void startTyping(std::size_t index);
    void finishTyping(std::size_t index, bool take);
    void addGroupHeading(QGridLayout &grid, const std::string &group, int line);
    QWidget *makePresetBar();
    void listPresets(const QString &select);
    void loadChosenPreset(int index);
    void askForPresetName();
    void swapCompared();
    void sliderMoved(std::size_t index, int position);
    void commitChange(std::size_t index, float before, float after);
    void showValue(ShownRow &shownRow, float normalized);

    std::unique_ptr<ParameterSource> source;
    std::vector<ShownRow> shown;
    QTimer *follower = nullptr;
    QComboBox *presets = nullptr;
    QPushButton *savePreset = nullptr;
    QPushButton *compare = nullptr;
    QLabel *problem = nullptr;
    /// The presets as listed, parallel to the list's entries after its first ("—").
    std::vector<vst::PluginPreset> listedPresets;
    /// The state "A/B" gives back.
    std::vector<uint8_t> comparedState;
};

} // namespace orvane

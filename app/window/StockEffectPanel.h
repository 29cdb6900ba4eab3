#pragma once

#include "core/model/Project.h"

#include <QGroupBox>

#include <functional>
#include <vector>

class QLabel;
class QMenu;
class QSlider;

namespace orvane {

struct StockParameter;

/// A built-in effect's parameter label in the window's language.
QString stockParameterLabel(const StockParameter &parameter);
/// "Compressor: Threshold" in the window's language: the name of the lane that drives
/// parameter `parameter` of the built-in `insert`; empty for no such parameter.
QString stockLaneName(const InsertSlot &insert, uint32_t parameter);

/// The settings of one built-in insert (compressor, delay, reverb, EQ): a slider per setting
/// with its value in its unit beside it. A slider gesture reports every value at once, so that
/// one gesture is one undo step.
class StockEffectPanel : public QGroupBox {
  public:
    explicit StockEffectPanel(QWidget *parent);

    /// Shows the settings of `insert`; hidden when it is none or has no settings.
    void showInsert(const InsertSlot *insert);
    /// Called with every setting's value after the user moved one.
    std::function<void(const std::vector<float> &values)> onEdited;
    /// Called with a setting's index when the user asks to see its automation lane (the
    /// setting's context menu).
    std::function<void(uint32_t parameter)> onShowAutomation;
    /// Adds the owner's own items (MIDI Learn) to a setting's context menu.
    std::function<void(QMenu &menu, uint32_t parameter)> onControlMenu;
    /// Shows the setting that `insert`'s lane drives at `playhead`, as the engine plays it; a
    /// slider the user holds is left to the user.
    void followAutomation(const InsertSlot &insert, int64_t playhead);
    /// The slider of the setting at `index`, null past the last.
    QSlider *slider(int index) const;

  private:
    struct Row {
        QLabel *name = nullptr;
        QSlider *slider = nullptr;
        QLabel *value = nullptr;
    };
    void rebuild(const std::string &pluginId);
    std::vector<float> sliderValues() const;
    void showValue(std::size_t index);
    void offerAutomation(QWidget *control, uint32_t parameter);

    std::string shownId;
    std::vector<Row> rows;
};

} // namespace orvane

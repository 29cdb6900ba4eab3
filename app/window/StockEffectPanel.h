#pragma once

#include "core/model/Project.h"

#include <QGroupBox>

#include <functional>
#include <vector>

class QLabel;
class QSlider;

namespace orvane {

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

    std::string shownId;
    std::vector<Row> rows;
};

} // namespace orvane

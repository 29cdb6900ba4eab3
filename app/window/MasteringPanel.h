#pragma once

#include "core/model/Project.h"

#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

namespace orvane {

/// The master's mastering processor: on/bypass, character, loudness, exciter, width and
/// loudness compensation. Each change is handed to `onEdited` as a whole settings value.
class MasteringPanel : public QWidget {
    Q_OBJECT

  public:
    explicit MasteringPanel(QWidget *parent = nullptr);
    void setSettings(const MasteringUtility &settings);
    /// The settings as the controls show them.
    MasteringUtility settings() const;

    std::function<void(const MasteringUtility &)> onEdited;
    QSlider *loudnessSlider() const { return loudness; }
    QSlider *exciteSlider() const { return exciteAmount; }
    QSlider *widthSlider() const { return width; }
    /// The value shown beside `slider`, as it moves.
    QString shownValue(const QSlider *slider) const;

  private:
    void edited();

    MasteringUtility shown;
    QCheckBox *enabled = nullptr;
    QCheckBox *bypass = nullptr;
    QComboBox *character = nullptr;
    QSlider *loudness = nullptr;
    QCheckBox *excite = nullptr;
    QSlider *exciteAmount = nullptr;
    QSlider *width = nullptr;
    QCheckBox *loudnessCompensation = nullptr;
    std::vector<std::pair<QSlider *, QLabel *>> valueLabels;
};

} // namespace orvane

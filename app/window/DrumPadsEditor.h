#pragma once

#include "core/stock/DrumKit.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QDoubleSpinBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;

namespace orvane {

class Command;

/// The drum sampler's pads in the instrument window, one row each: the note that strikes it,
/// its name, gain, pan, tune, choke group and sample, a button that loads another sample
/// onto it and one that adds a sample for harder hits (a velocity layer; the sample's context
/// menu removes one). Every change is one command handed to `execute`; a slider gesture is one change
/// when it is let go.
class DrumPadsEditor : public QWidget {
    Q_OBJECT

  public:
    explicit DrumPadsEditor(QWidget *parent);
    ~DrumPadsEditor() override;

    /// Runs a command the editor made, for the track given by `setTrack`.
    std::function<void(std::unique_ptr<Command>)> execute;
    /// The folder of the project, where a chosen sample is copied; empty while it has none.
    std::function<std::string()> projectRoot;
    /// Asks for a sample file, empty when the user cancels: a file dialog unless replaced.
    std::function<QString()> chooseSampleFile;

    void setTrack(uint64_t trackId) { track = trackId; }
    /// Shows `kit`, leaving a control alone while the user holds it.
    void showKit(const stock::DrumKit &kit);
    /// Checks the file at `path`, copies it into the project's media and puts it on the pad.
    /// A file that does not read changes nothing and says why in `message()`.
    void loadSample(int pad, const QString &path);

    int padCount() const { return static_cast<int>(rows.size()); }
    QSpinBox *noteBox(int pad) const { return row(pad).note; }
    QLabel *nameLabel(int pad) const { return row(pad).name; }
    QSlider *gainSlider(int pad) const { return row(pad).gain; }
    QLabel *gainText(int pad) const { return row(pad).gainText; }
    QSlider *panSlider(int pad) const { return row(pad).pan; }
    QLabel *panText(int pad) const { return row(pad).panText; }
    QDoubleSpinBox *tuneBox(int pad) const { return row(pad).tune; }
    QSpinBox *chokeBox(int pad) const { return row(pad).choke; }
    QLabel *sampleLabel(int pad) const { return row(pad).sample; }
    QPushButton *loadButton(int pad) const { return row(pad).load; }
    QPushButton *addLayerButton(int pad) const { return row(pad).addLayer; }
    /// Why the last sample was not loaded; empty after one that was.
    QLabel *message() const { return messageLabel; }

  private:
    struct Row {
        QSpinBox *note = nullptr;
        QLabel *name = nullptr;
        QSlider *gain = nullptr;
        QLabel *gainText = nullptr;
        QSlider *pan = nullptr;
        QLabel *panText = nullptr;
        QDoubleSpinBox *tune = nullptr;
        QSpinBox *choke = nullptr;
        QLabel *sample = nullptr;
        QPushButton *addLayer = nullptr;
        QPushButton *load = nullptr;
    };

    const Row &row(int pad) const { return rows.at(static_cast<std::size_t>(pad)); }
    void buildRows(std::size_t count);
    void addRow(int pad);
    void showRow(int index, const stock::DrumPad &pad);
    void changed(int pad, int setting, float value);
    void chooseAndLoad(int pad);
    void chooseAndAddLayer(int pad);
    /// Checks the chosen file and copies it into the project's media; the name the kit
    /// stores, or empty (with the reason shown) when the file cannot be used.
    std::string acceptSample(const QString &path);
    void offerLayerRemoval(int pad, QPoint at);

    uint64_t track = 0;
    stock::DrumKit shown;
    QGridLayout *grid = nullptr;
    QLabel *messageLabel = nullptr;
    std::vector<Row> rows;
};

} // namespace orvane

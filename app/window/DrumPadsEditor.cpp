#include "app/window/DrumPadsEditor.h"

#include "app/window/PanelControls.h"
#include "app/window/Theme.h"
#include "core/commands/InstrumentCommands.h"
#include "core/project_io/ProjectFolder.h"
#include "core/stock/DrumSamples.h"

#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace orvane {

namespace {

constexpr const char *padContext = "DrumPad";

// The default kit's pad names are stored in the kit, which knows no catalogue; they are
// marked here so that the window shows them translated. A name the user gave shows as it is.
[[maybe_unused]] constexpr const char *padNames[] = {
    QT_TRANSLATE_NOOP("DrumPad", "Kick"),     QT_TRANSLATE_NOOP("DrumPad", "Rim"),
    QT_TRANSLATE_NOOP("DrumPad", "Snare"),    QT_TRANSLATE_NOOP("DrumPad", "Clap"),
    QT_TRANSLATE_NOOP("DrumPad", "Low Tom"),  QT_TRANSLATE_NOOP("DrumPad", "Closed Hat"),
    QT_TRANSLATE_NOOP("DrumPad", "Mid Tom"),  QT_TRANSLATE_NOOP("DrumPad", "Open Hat"),
    QT_TRANSLATE_NOOP("DrumPad", "High Tom"), QT_TRANSLATE_NOOP("DrumPad", "Crash"),
    QT_TRANSLATE_NOOP("DrumPad", "Ride"),
};

// Sliders move in tenths of a decibel and hundredths of the pan range.
constexpr int gainSteps = 10;
constexpr int panSteps = 100;

enum Column {
    NoteColumn,
    NameColumn,
    GainColumn,
    GainTextColumn,
    PanColumn,
    PanTextColumn,
    TuneColumn,
    ChokeColumn,
    SampleColumn,
    AddLayerColumn,
    LoadColumn
};

} // namespace

DrumPadsEditor::DrumPadsEditor(QWidget *parent) : QWidget(parent) {
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    messageLabel = new QLabel(this);
    messageLabel->setWordWrap(true);
    messageLabel->setStyleSheet(
        QStringLiteral("color: %1; font-weight: bold;").arg(theme::muteOn.name()));
    messageLabel->hide();
    outer->addWidget(messageLabel);
    auto *holder = new QWidget(this);
    grid = new QGridLayout(holder);
    grid->setHorizontalSpacing(10);
    grid->setColumnStretch(GainColumn, 2);
    grid->setColumnStretch(PanColumn, 1);
    grid->setColumnStretch(SampleColumn, 2);
    grid->setColumnMinimumWidth(GainColumn, 120);
    grid->setColumnMinimumWidth(PanColumn, 80);
    const std::pair<Column, QString> headings[] = {
        {NoteColumn, tr("Note")},    {NameColumn, tr("Pad")},  {GainColumn, tr("Gain")},
        {PanColumn, tr("Pan")},      {TuneColumn, tr("Tune")}, {ChokeColumn, tr("Choke")},
        {SampleColumn, tr("Sample")}};
    for (const auto &[column, text] : headings) {
        auto *heading = new QLabel(text, holder);
        heading->setStyleSheet(QStringLiteral("font-weight: bold;"));
        const int span = column == GainColumn || column == PanColumn ? 2 : 1;
        grid->addWidget(heading, 0, column, 1, span);
    }
    outer->addWidget(holder);
    outer->addStretch(1);
    chooseSampleFile = [this] {
        return QFileDialog::getOpenFileName(this, tr("Load Sample"), QString(),
                                            tr("Audio files (*.wav *.flac);;All files (*)"));
    };
}

// The controls outlive this class's part of the object while QWidget deletes them; a field
// that loses its focus then would call back into an editor that is already gone.
DrumPadsEditor::~DrumPadsEditor() {
    for (const Row &each : rows)
        for (QWidget *control : std::initializer_list<QWidget *>{each.note, each.gain, each.pan,
                                                                 each.tune, each.choke, each.load})
            control->blockSignals(true);
}

void DrumPadsEditor::buildRows(std::size_t count) {
    for (Row &each : rows)
        for (QWidget *widget : std::initializer_list<QWidget *>{
                 each.note, each.name, each.gain, each.gainText, each.pan, each.panText, each.tune,
                 each.choke, each.sample, each.addLayer, each.load}) {
            widget->blockSignals(true);
            widget->hide();
            widget->deleteLater();
        }
    rows.assign(count, Row{});
    for (std::size_t pad = 0; pad < count; ++pad)
        addRow(static_cast<int>(pad));
}

void DrumPadsEditor::addRow(int pad) {
    QWidget *holder = grid->parentWidget();
    Row &made = rows[static_cast<std::size_t>(pad)];
    const int line = pad + 1;

    made.note = new QSpinBox(holder);
    made.note->setRange(0, 127);
    made.note->setKeyboardTracking(false);
    made.note->setToolTip(tr("The MIDI note that strikes the pad"));
    connect(made.note, &QSpinBox::valueChanged, this, [this, pad](int note) {
        changed(pad, static_cast<int>(DrumPadSetting::Note), static_cast<float>(note));
    });
    grid->addWidget(made.note, line, NoteColumn);

    made.name = new QLabel(holder);
    grid->addWidget(made.name, line, NameColumn);

    made.gain = new QSlider(Qt::Horizontal, holder);
    made.gain->setRange(static_cast<int>(stock::drum_limits::minGainDb) * gainSteps,
                        static_cast<int>(stock::drum_limits::maxGainDb) * gainSteps);
    made.gain->setPageStep(3 * gainSteps);
    made.gainText = new QLabel(holder);
    made.gainText->setMinimumWidth(64);
    made.gainText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(made.gain, &QSlider::valueChanged, this, [this, pad](int position) {
        const Row &moved = row(pad);
        if (moved.gain->isSliderDown())
            moved.gainText->setText(tr("%1 dB").arg(position / double(gainSteps), 0, 'f', 1));
    });
    commitOnRelease(made.gain, this, [this, pad](int position) {
        changed(pad, static_cast<int>(DrumPadSetting::Gain),
                static_cast<float>(position) / gainSteps);
    });
    grid->addWidget(made.gain, line, GainColumn);
    grid->addWidget(made.gainText, line, GainTextColumn);

    made.pan = new QSlider(Qt::Horizontal, holder);
    made.pan->setRange(-panSteps, panSteps);
    made.pan->setPageStep(panSteps / 10);
    made.panText = new QLabel(holder);
    made.panText->setMinimumWidth(40);
    made.panText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    commitOnRelease(made.pan, this, [this, pad](int position) {
        changed(pad, static_cast<int>(DrumPadSetting::Pan),
                static_cast<float>(position) / panSteps);
    });
    grid->addWidget(made.pan, line, PanColumn);
    grid->addWidget(made.panText, line, PanTextColumn);

    made.tune = new QDoubleSpinBox(holder);
    made.tune->setRange(stock::drum_limits::minTune, stock::drum_limits::maxTune);
    made.tune->setDecimals(1);
    made.tune->setSingleStep(1.0);
    made.tune->setSuffix(tr(" st"));
    made.tune->setKeyboardTracking(false);
    made.tune->setToolTip(tr("Semitones higher or lower than the sample was recorded"));
    connect(made.tune, &QDoubleSpinBox::valueChanged, this, [this, pad](double tune) {
        changed(pad, static_cast<int>(DrumPadSetting::Tune), static_cast<float>(tune));
    });
    grid->addWidget(made.tune, line, TuneColumn);

    made.choke = new QSpinBox(holder);
    made.choke->setRange(0, stock::drum_limits::maxChokeGroup);
    made.choke->setSpecialValueText(tr("None"));
    made.choke->setKeyboardTracking(false);
    made.choke->setToolTip(tr("A pad cuts the other pads of its choke group when it sounds"));
    connect(made.choke, &QSpinBox::valueChanged, this, [this, pad](int group) {
        changed(pad, static_cast<int>(DrumPadSetting::ChokeGroup), static_cast<float>(group));
    });
    grid->addWidget(made.choke, line, ChokeColumn);

    made.sample = new QLabel(holder);
    made.sample->setMinimumWidth(120);
    made.sample->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(made.sample, &QLabel::customContextMenuRequested, this,
            [this, pad](QPoint at) { offerLayerRemoval(pad, at); });
    grid->addWidget(made.sample, line, SampleColumn);

    made.addLayer = new QPushButton(tr("+ Layer…"), holder);
    made.addLayer->setToolTip(
        tr("Add a sample for harder hits: the pad's velocities are shared evenly between its "
           "samples, softest first. Right-click the sample to remove one."));
    connect(made.addLayer, &QPushButton::clicked, this, [this, pad] { chooseAndAddLayer(pad); });
    grid->addWidget(made.addLayer, line, AddLayerColumn);

    made.load = new QPushButton(tr("Load…"), holder);
    made.load->setToolTip(tr("Play a WAV or FLAC file on this pad"));
    connect(made.load, &QPushButton::clicked, this, [this, pad] { chooseAndLoad(pad); });
    grid->addWidget(made.load, line, LoadColumn);
}

void DrumPadsEditor::showKit(const stock::DrumKit &kit) {
    if (kit.pads.size() != rows.size()) buildRows(kit.pads.size());
    shown = kit;
    for (std::size_t pad = 0; pad < kit.pads.size(); ++pad)
        showRow(static_cast<int>(pad), kit.pads[pad]);
}

void DrumPadsEditor::showRow(int index, const stock::DrumPad &pad) {
    const Row &shownRow = row(index);
    const QString name = QCoreApplication::translate(padContext, pad.name.c_str());
    shownRow.name->setText(name);
    for (QWidget *control :
         std::initializer_list<QWidget *>{shownRow.note, shownRow.gain, shownRow.pan, shownRow.tune,
                                          shownRow.choke, shownRow.addLayer, shownRow.load})
        control->setAccessibleName(name);
    {
        const QSignalBlocker quiet(shownRow.note);
        shownRow.note->setValue(pad.note);
    }
    if (!shownRow.gain->isSliderDown()) {
        const QSignalBlocker quiet(shownRow.gain);
        shownRow.gain->setValue(static_cast<int>(std::lround(pad.gainDb * gainSteps)));
        shownRow.gainText->setText(tr("%1 dB").arg(static_cast<double>(pad.gainDb), 0, 'f', 1));
    }
    if (!shownRow.pan->isSliderDown()) {
        const QSignalBlocker quiet(shownRow.pan);
        const int position = static_cast<int>(std::lround(pad.pan * panSteps));
        shownRow.pan->setValue(position);
        shownRow.panText->setText(position == 0  ? tr("C")
                                  : position < 0 ? tr("L %1").arg(-position)
                                                 : tr("R %1").arg(position));
    }
    {
        const QSignalBlocker quiet(shownRow.tune);
        shownRow.tune->setValue(pad.tune);
    }
    {
        const QSignalBlocker quiet(shownRow.choke);
        shownRow.choke->setValue(pad.chokeGroup);
    }
    QString sample;
    QString where;
    if (pad.layers.empty()) {
        sample = tr("No sample");
    } else {
        const std::string &file = pad.layers.front().file;
        const bool builtin = file.starts_with(stock::builtinDrumPrefix);
        sample = builtin ? tr("Synthesised") : QFileInfo(QString::fromStdString(file)).fileName();
        where = builtin ? QString() : QString::fromStdString(file);
        // A file the kit cannot find plays as silence; the row says so.
        if (!builtin) {
            const std::string root = projectRoot ? projectRoot() : std::string();
            const QFileInfo found(QFileInfo(where).isRelative() && !root.empty()
                                      ? QString::fromStdString(root) + QLatin1Char('/') + where
                                      : where);
            if (!found.isFile()) sample = tr("%1 (missing)").arg(sample);
        }
        if (pad.layers.size() > 1)
            sample = tr("%1 (%2 velocity layers)").arg(sample).arg(pad.layers.size());
    }
    shownRow.sample->setText(sample);
    shownRow.sample->setToolTip(where);
    shownRow.addLayer->setEnabled(!pad.layers.empty() &&
                                  pad.layers.size() < stock::drum_limits::maxLayers);
}

void DrumPadsEditor::changed(int pad, int setting, float value) {
    if (pad < 0 || static_cast<std::size_t>(pad) >= shown.pads.size()) return;
    const stock::DrumPad &current = shown.pads[static_cast<std::size_t>(pad)];
    const auto kind = static_cast<DrumPadSetting>(setting);
    const float now = kind == DrumPadSetting::Note   ? static_cast<float>(current.note)
                      : kind == DrumPadSetting::Gain ? current.gainDb
                      : kind == DrumPadSetting::Pan  ? current.pan
                      : kind == DrumPadSetting::Tune ? current.tune
                                                     : static_cast<float>(current.chokeGroup);
    // A control set back to where it was is no edit.
    if (std::fabs(now - value) < 1e-4f) {
        showRow(pad, current);
        return;
    }
    if (execute) execute(std::make_unique<SetDrumPadCommand>(track, pad, kind, value));
}

void DrumPadsEditor::chooseAndLoad(int pad) {
    const QString path = chooseSampleFile ? chooseSampleFile() : QString();
    if (!path.isEmpty()) loadSample(pad, path);
}

std::string DrumPadsEditor::acceptSample(const QString &path) {
    const auto refuse = [this](const QString &why) {
        messageLabel->setText(why);
        messageLabel->show();
        return std::string();
    };
    std::string error;
    const std::string chosen = path.toStdString();
    if (!stock::checkDrumSampleFile(chosen, error))
        return refuse(tr("The sample was not loaded: %1").arg(QString::fromStdString(error)));
    // A saved project keeps its own copy, named relative to its folder; an unsaved one names
    // the file where it is until the save copies it.
    std::string file = QFileInfo(path).absoluteFilePath().toStdString();
    const std::string root = projectRoot ? projectRoot() : std::string();
    if (!root.empty()) {
        std::string relative;
        if (!copyFileIntoProjectMedia(chosen, root, relative))
            return refuse(
                tr("The sample could not be copied into the project's media folder: %1").arg(path));
        file = relative;
    }
    messageLabel->clear();
    messageLabel->hide();
    return file;
}

void DrumPadsEditor::loadSample(int pad, const QString &path) {
    const std::string file = acceptSample(path);
    if (!file.empty() && execute)
        execute(std::make_unique<SetDrumSampleCommand>(track, pad, 0, file));
}

void DrumPadsEditor::chooseAndAddLayer(int pad) {
    const QString path = chooseSampleFile ? chooseSampleFile() : QString();
    if (path.isEmpty()) return;
    const std::string file = acceptSample(path);
    if (!file.empty() && execute) execute(std::make_unique<AddDrumLayerCommand>(track, pad, file));
}

void DrumPadsEditor::offerLayerRemoval(int pad, QPoint at) {
    if (pad < 0 || static_cast<std::size_t>(pad) >= shown.pads.size()) return;
    const std::vector<stock::DrumLayer> &layers = shown.pads[static_cast<std::size_t>(pad)].layers;
    if (layers.size() < 2) return; // a pad keeps its one sample; Load… replaces it
    QMenu menu(this);
    for (std::size_t layer = 0; layer < layers.size(); ++layer) {
        const stock::DrumLayer &each = layers[layer];
        const QString name = each.file.starts_with(stock::builtinDrumPrefix)
                                 ? tr("Synthesised")
                                 : QFileInfo(QString::fromStdString(each.file)).fileName();
        QAction *remove = menu.addAction(tr("Remove %1 (velocities %2–%3)")
                                             .arg(name)
                                             .arg(each.lowVelocity)
                                             .arg(each.highVelocity));
        connect(remove, &QAction::triggered, this, [this, pad, layer] {
            if (execute)
                execute(std::make_unique<RemoveDrumLayerCommand>(track, pad,
                                                                 static_cast<int32_t>(layer)));
        });
    }
    menu.exec(row(pad).sample->mapToGlobal(at));
}

} // namespace orvane

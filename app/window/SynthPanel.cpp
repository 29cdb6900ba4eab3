#include "app/window/SynthPanel.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/DrumPadsEditor.h"
#include "app/window/GmPlayerEditor.h"
#include "app/window/PanelControls.h"
#include "app/window/Theme.h"
#include "core/commands/InstrumentCommands.h"
#include "core/engine/Engine.h"
#include "core/model/Project.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace orvane {

using stock::SynthParam;
using stock::SynthParamInfo;

namespace {

constexpr int sliderSteps = 1000;
constexpr int followIntervalMs = 100;
constexpr const char *parameterContext = "SynthParameter";
constexpr const char *presetContext = "SynthPreset";

// The parameter table's texts live in the engine's code, which knows no catalogue; they are
// marked here so that the window can show them translated.
[[maybe_unused]] constexpr const char *parameterTexts[] = {
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 1 wave"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 1 octave"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 1 semitone"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 1 fine"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 1 pulse width"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 1 level"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 2 wave"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 2 octave"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 2 semitone"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 2 fine"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 2 pulse width"),
    QT_TRANSLATE_NOOP("SynthParameter", "Osc 2 level"),
    QT_TRANSLATE_NOOP("SynthParameter", "Noise level"),
    QT_TRANSLATE_NOOP("SynthParameter", "Filter mode"),
    QT_TRANSLATE_NOOP("SynthParameter", "Filter slope"),
    QT_TRANSLATE_NOOP("SynthParameter", "Cutoff"),
    QT_TRANSLATE_NOOP("SynthParameter", "Resonance"),
    QT_TRANSLATE_NOOP("SynthParameter", "Key tracking"),
    QT_TRANSLATE_NOOP("SynthParameter", "Filter envelope amount"),
    QT_TRANSLATE_NOOP("SynthParameter", "Velocity to filter"),
    QT_TRANSLATE_NOOP("SynthParameter", "Filter attack"),
    QT_TRANSLATE_NOOP("SynthParameter", "Filter decay"),
    QT_TRANSLATE_NOOP("SynthParameter", "Filter sustain"),
    QT_TRANSLATE_NOOP("SynthParameter", "Filter release"),
    QT_TRANSLATE_NOOP("SynthParameter", "Attack"),
    QT_TRANSLATE_NOOP("SynthParameter", "Decay"),
    QT_TRANSLATE_NOOP("SynthParameter", "Sustain"),
    QT_TRANSLATE_NOOP("SynthParameter", "Release"),
    QT_TRANSLATE_NOOP("SynthParameter", "Velocity sensitivity"),
    QT_TRANSLATE_NOOP("SynthParameter", "LFO wave"),
    QT_TRANSLATE_NOOP("SynthParameter", "LFO rate"),
    QT_TRANSLATE_NOOP("SynthParameter", "LFO to pitch"),
    QT_TRANSLATE_NOOP("SynthParameter", "LFO to cutoff"),
    QT_TRANSLATE_NOOP("SynthParameter", "LFO to amplitude"),
    QT_TRANSLATE_NOOP("SynthParameter", "Mod wheel to LFO depth"),
    QT_TRANSLATE_NOOP("SynthParameter", "Glide time"),
    QT_TRANSLATE_NOOP("SynthParameter", "Voice mode"),
    QT_TRANSLATE_NOOP("SynthParameter", "Polyphony"),
    QT_TRANSLATE_NOOP("SynthParameter", "Pitch bend range"),
    QT_TRANSLATE_NOOP("SynthParameter", "Master gain"),
    // Choices.
    QT_TRANSLATE_NOOP("SynthParameter", "Sine"),
    QT_TRANSLATE_NOOP("SynthParameter", "Triangle"),
    QT_TRANSLATE_NOOP("SynthParameter", "Saw"),
    QT_TRANSLATE_NOOP("SynthParameter", "Pulse"),
    QT_TRANSLATE_NOOP("SynthParameter", "Square"),
    QT_TRANSLATE_NOOP("SynthParameter", "Low-pass"),
    QT_TRANSLATE_NOOP("SynthParameter", "High-pass"),
    QT_TRANSLATE_NOOP("SynthParameter", "Band-pass"),
    QT_TRANSLATE_NOOP("SynthParameter", "12 dB/oct"),
    QT_TRANSLATE_NOOP("SynthParameter", "24 dB/oct"),
    QT_TRANSLATE_NOOP("SynthParameter", "Poly"),
    QT_TRANSLATE_NOOP("SynthParameter", "Mono"),
    QT_TRANSLATE_NOOP("SynthParameter", "Legato"),
    // Units.
    QT_TRANSLATE_NOOP("SynthParameter", "oct"),
    QT_TRANSLATE_NOOP("SynthParameter", "st"),
    QT_TRANSLATE_NOOP("SynthParameter", "ct"),
    QT_TRANSLATE_NOOP("SynthParameter", "Hz"),
    QT_TRANSLATE_NOOP("SynthParameter", "kHz"),
    QT_TRANSLATE_NOOP("SynthParameter", "s"),
    QT_TRANSLATE_NOOP("SynthParameter", "ms"),
    QT_TRANSLATE_NOOP("SynthParameter", "dB"),
    QT_TRANSLATE_NOOP("SynthParameter", "%"),
};

[[maybe_unused]] constexpr const char *presetTexts[] = {
    QT_TRANSLATE_NOOP("SynthPreset", "Init"), QT_TRANSLATE_NOOP("SynthPreset", "Bass"),
    QT_TRANSLATE_NOOP("SynthPreset", "Lead"), QT_TRANSLATE_NOOP("SynthPreset", "Pad"),
    QT_TRANSLATE_NOOP("SynthPreset", "Keys"), QT_TRANSLATE_NOOP("SynthPreset", "Pluck"),
};

QString shownText(const char *context, std::string_view text) {
    const std::string source(text);
    return QCoreApplication::translate(context, source.c_str());
}

QString unitText(const char *unit) { return QCoreApplication::translate(parameterContext, unit); }

/// A plain 0..1 amount reads best as a percentage.
bool shownAsPercent(const SynthParamInfo &info) {
    return info.unit.empty() && info.steps == 0 && info.min == 0.0f && info.max == 1.0f;
}

bool isToggle(const SynthParamInfo &info) { return info.steps == 2 && info.choices.empty(); }

/// Few digits: enough to tell neighbouring slider positions apart, no more.
QString number(double value, bool signedRange) {
    const double size = std::fabs(value);
    const int decimals = size >= 100.0 ? 0 : size >= 10.0 ? 1 : size >= 1.0 ? 2 : 3;
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    }
    if (text == QStringLiteral("-0")) text = QStringLiteral("0");
    if (signedRange && value > 0.0 && text != QStringLiteral("0")) text.prepend(QLatin1Char('+'));
    return text;
}

/// The unit a value of `info` at `plain` is shown in, and the factor from plain to shown.
struct ShownUnit {
    const char *unit = "";
    double factor = 1.0;
};

ShownUnit shownUnitOf(const SynthParamInfo &info, float plain) {
    if (shownAsPercent(info)) return {"%", 100.0};
    if (info.unit == "s" && std::fabs(plain) < 1.0f) return {"ms", 1000.0};
    if (info.unit == "s") return {"s", 1.0};
    if (info.unit == "Hz") return {"Hz", 1.0};
    if (info.unit == "oct") return {"oct", 1.0};
    if (info.unit == "st") return {"st", 1.0};
    if (info.unit == "ct") return {"ct", 1.0};
    if (info.unit == "dB") return {"dB", 1.0};
    if (info.unit == "%") return {"%", 1.0};
    return {"", 1.0};
}

int sliderPosition(const SynthParamInfo &info, float plain) {
    if (info.steps > 0) return static_cast<int>(std::lround(stock::clampSynthValue(info, plain)));
    return static_cast<int>(
        std::lround(stock::synthValueToNormalized(info, plain) * static_cast<float>(sliderSteps)));
}

float sliderValue(const SynthParamInfo &info, int position) {
    if (info.steps > 0) return static_cast<float>(position);
    return stock::synthValueFromNormalized(info, static_cast<float>(position) / sliderSteps);
}

const SynthParamInfo &infoOf(SynthParam param) { return stock::synthParameter(param); }

bool sameValue(const SynthParamInfo &info, float a, float b) {
    return std::fabs(a - b) <= 1e-5f * std::max(1.0f, std::fabs(info.max - info.min));
}

} // namespace

QString synthValueText(const SynthParamInfo &info, float plain) {
    if (!info.choices.empty()) {
        const auto index = static_cast<std::size_t>(
            std::clamp<long>(std::lround(plain), 0, static_cast<long>(info.choices.size()) - 1));
        return shownText(parameterContext, info.choices[index]);
    }
    const ShownUnit unit = shownUnitOf(info, plain);
    const QString value = number(plain * unit.factor, info.min < 0.0f);
    return *unit.unit ? value + QLatin1Char(' ') + unitText(unit.unit) : value;
}

std::optional<float> readTypedSynthValue(const SynthParamInfo &info, const QString &text,
                                         float shownPlain) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\s*([+-]?(?:\d+(?:[.,]\d*)?|[.,]\d+))\s*(.*?)\s*$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) return std::nullopt;
    QString digits = match.captured(1);
    digits.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double typed = digits.toDouble(&ok);
    if (!ok || !std::isfinite(typed)) return std::nullopt;
    const QString unit = match.captured(2).toLower();
    const ShownUnit shown = shownUnitOf(info, shownPlain);
    if (unit.isEmpty()) return static_cast<float>(typed / shown.factor);
    // The unit as typed, in English or in the window's language.
    const auto is = [&unit](const char *candidate) {
        return unit == QString::fromLatin1(candidate).toLower() ||
               unit == unitText(candidate).toLower();
    };
    if (is("%") && shownAsPercent(info)) return static_cast<float>(typed / 100.0);
    if (info.unit == "s" && is("ms")) return static_cast<float>(typed / 1000.0);
    if (info.unit == "Hz" && is("kHz")) return static_cast<float>(typed * 1000.0);
    const std::string own(info.unit);
    if (!own.empty() && is(own.c_str())) return static_cast<float>(typed);
    return std::nullopt;
}

NearestSynthPreset nearestSynthPreset(const stock::SynthValues &values) {
    const auto presets = stock::synthFactoryPresets();
    const auto parameters = stock::synthParameters();
    NearestSynthPreset best;
    int fewest = stock::synthParamCount + 1;
    for (std::size_t index = 0; index < presets.size(); ++index) {
        const stock::SynthValues preset = stock::synthPresetValues(presets[index]);
        int differing = 0;
        for (std::size_t p = 0; p < values.size(); ++p)
            if (!sameValue(parameters[p], values[p], preset[p])) ++differing;
        if (differing < fewest) {
            fewest = differing;
            best = {static_cast<int>(index), differing > 0};
        }
    }
    return best;
}

SynthPanel::SynthPanel(OVApplication &application, uint64_t trackId, QWidget *parent)
    : QWidget(parent, Qt::Window), app(application), track(trackId) {
    setAttribute(Qt::WA_DeleteOnClose);
    auto *outer = new QVBoxLayout(this);

    auto *bar = new QHBoxLayout();
    bar->addWidget(new QLabel(tr("Instrument:"), this));
    instrumentBox = new QComboBox(this);
    instrumentBox->addItem(tr("Halvora Synth"),
                           QString::fromUtf8(synthInstrumentId.data(), synthInstrumentId.size()));
    instrumentBox->addItem(tr("Drum Sampler"),
                           QString::fromUtf8(drumsInstrumentId.data(), drumsInstrumentId.size()));
    instrumentBox->addItem(tr("General MIDI"),
                           QString::fromUtf8(gmInstrumentId.data(), gmInstrumentId.size()));
    instrumentBox->addItem(tr("Sine Voice"), QString());
    instrumentBox->setToolTip(tr("What the track's notes play"));
    connect(instrumentBox, &QComboBox::activated, this, [this](int index) {
        const std::string chosen = instrumentBox->itemData(index).toString().toStdString();
        if (chosen == instrument) return;
        if (chosen == gmInstrumentId) {
            // The font loads first: one that is missing or broken leaves the track as it was.
            std::string error;
            if (auto command = makeGmInstrumentCommand(track, stock::GmSettings{}, error))
                execute(std::move(command));
            else
                app.status().setText(error);
            showValues();
            return;
        }
        execute(std::make_unique<SetTrackInstrumentCommand>(track, chosen,
                                                            defaultInstrumentState(chosen)));
    });
    instrumentBox->setMinimumWidth(150);
    bar->addWidget(instrumentBox);
    bar->addSpacing(24);
    presetLabel = new QLabel(tr("Preset:"), this);
    bar->addWidget(presetLabel);
    presetBox = new QComboBox(this);
    for (const stock::SynthPreset &preset : stock::synthFactoryPresets())
        presetBox->addItem(shownText(presetContext, preset.name),
                           QString::fromUtf8(preset.name.data(), preset.name.size()));
    presetBox->setToolTip(tr("Sets every parameter to a factory sound"));
    // Chosen again, the preset it shows takes back the changes made since.
    connect(presetBox, &QComboBox::activated, this, [this](int index) {
        execute(std::make_unique<ApplySynthPresetCommand>(
            track, presetBox->itemData(index).toString().toStdString()));
    });
    presetBox->setMinimumWidth(150);
    bar->addWidget(presetBox);
    changedMark = new QLabel(this);
    changedMark->setStyleSheet(
        QStringLiteral("color: %1; font-weight: bold;").arg(theme::muteOn.name()));
    bar->addWidget(changedMark);
    bar->addStretch(1);
    outer->addLayout(bar);

    sineNote = new QLabel(
        tr("This track plays the plain sine voice. Choose Halvora Synth to shape its sound."),
        this);
    sineNote->setWordWrap(true);
    outer->addWidget(sineNote);

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    synthArea = new QWidget(scroll);
    auto *columns = new QHBoxLayout(synthArea);
    columns->setContentsMargins(0, 0, 0, 0);
    const std::array<QVBoxLayout *, 3> column{new QVBoxLayout(), new QVBoxLayout(),
                                              new QVBoxLayout()};
    for (QVBoxLayout *each : column)
        columns->addLayout(each, 1);
    // The labels of one column line up, so that its sliders start and end together.
    std::array<std::vector<QGroupBox *>, 3> placed;
    const auto place = [&](int at, QGroupBox *group) {
        column[static_cast<std::size_t>(at)]->addWidget(group);
        placed[static_cast<std::size_t>(at)].push_back(group);
    };
    place(0, addSection(tr("Oscillators"), SynthParam::Osc1Wave, SynthParam::Osc2Level, synthArea));
    place(0, addSection(tr("Noise"), SynthParam::NoiseLevel, SynthParam::NoiseLevel, synthArea));
    place(1,
          addSection(tr("Filter"), SynthParam::FilterMode, SynthParam::FilterVelocity, synthArea));
    place(1, addSection(tr("Filter Envelope"), SynthParam::FilterAttack, SynthParam::FilterRelease,
                        synthArea));
    place(1, addSection(tr("Amp Envelope"), SynthParam::AmpAttack, SynthParam::AmpVelocity,
                        synthArea));
    place(2, addSection(tr("LFO"), SynthParam::LfoWave, SynthParam::LfoModWheel, synthArea));
    place(2, addSection(tr("Glide and Voices"), SynthParam::GlideTime, SynthParam::BendRange,
                        synthArea));
    place(2, addSection(tr("Master"), SynthParam::MasterGain, SynthParam::MasterGain, synthArea));
    for (QVBoxLayout *each : column)
        each->addStretch(1);
    for (const std::vector<QGroupBox *> &groups : placed) {
        int widest = 0;
        for (QGroupBox *group : groups)
            for (const QLabel *label : group->findChildren<QLabel *>())
                widest = std::max(widest, label->sizeHint().width());
        for (QGroupBox *group : groups)
            static_cast<QGridLayout *>(group->layout())->setColumnMinimumWidth(0, widest);
    }
    scroll->setWidget(synthArea);
    // Every parameter in view across, in any language; only a short screen scrolls.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const QSize needed = synthArea->minimumSizeHint();
    scroll->setMinimumWidth(needed.width() +
                            scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    outer->addWidget(scroll, 1);
    synthScroll = scroll;

    auto *padScroll = new QScrollArea(this);
    padScroll->setWidgetResizable(true);
    padScroll->setFrameShape(QFrame::NoFrame);
    drumEditor = new DrumPadsEditor(padScroll);
    drumEditor->setTrack(track);
    drumEditor->execute = [this](std::unique_ptr<Command> command) { execute(std::move(command)); };
    drumEditor->projectRoot = [this] {
        std::lock_guard lock(app.engine().projectMutex);
        return app.engine().project.rootPath;
    };
    padScroll->setWidget(drumEditor);
    padScroll->hide();
    outer->addWidget(padScroll, 1);
    drumScroll = padScroll;

    gmEditor = new GmPlayerEditor(this);
    gmEditor->setTrack(track);
    gmEditor->execute = [this](std::unique_ptr<Command> command) { execute(std::move(command)); };
    gmEditor->report = [this](const std::string &error) { app.status().setText(error); };
    gmEditor->hide();
    outer->addWidget(gmEditor, 1);
    // The preset bar and margins above the sections.
    resize(sizeHint().width(), std::min(needed.height() + 90, 780));

    // The main window's keys, whatever the desktop's own convention.
    auto *undo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
    connect(undo, &QShortcut::activated, this, [this] {
        if (onUndo) onUndo();
        followProject();
    });
    auto *redo = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
    connect(redo, &QShortcut::activated, this, [this] {
        if (onRedo) onRedo();
        followProject();
    });

    follower = new QTimer(this);
    follower->setInterval(followIntervalMs);
    connect(follower, &QTimer::timeout, this, [this] { followProject(); });
    follower->start();
    followProject();
}

// The children outlive this class's part of the object while QWidget deletes them; a field that
// loses its focus then would call back into a panel that is already gone.
SynthPanel::~SynthPanel() {
    for (const Row &row : rows)
        if (row.slider) row.slider->removeEventFilter(this);
    for (const Row &row : rows)
        for (QWidget *control :
             std::initializer_list<QWidget *>{row.slider, row.choice, row.toggle, row.field})
            if (control) control->blockSignals(true);
}

QGroupBox *SynthPanel::section(int index) const {
    return index >= 0 && index < sectionCount() ? sections[static_cast<std::size_t>(index)]
                                                : nullptr;
}

QGroupBox *SynthPanel::addSection(const QString &title, SynthParam first, SynthParam last,
                                  QWidget *parent) {
    auto *group = new QGroupBox(title, parent);
    auto *grid = new QGridLayout(group);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, 110);
    int line = 0;
    for (int index = static_cast<int>(first); index <= static_cast<int>(last); ++index)
        addRow(*grid, line++, static_cast<SynthParam>(index));
    sections.push_back(group);
    return group;
}

void SynthPanel::addRow(QGridLayout &grid, int line, SynthParam param) {
    QWidget *holder = grid.parentWidget();
    const SynthParamInfo &info = infoOf(param);
    Row &row = rows[static_cast<std::size_t>(param)];
    const QString name = shownText(parameterContext, info.name);
    row.label = new QLabel(name, holder);
    grid.addWidget(row.label, line, 0);
    if (!info.choices.empty()) {
        row.choice = new QComboBox(holder);
        row.choice->setAccessibleName(name);
        for (const std::string_view choice : info.choices)
            row.choice->addItem(shownText(parameterContext, choice));
        connect(row.choice, &QComboBox::activated, this,
                [this, param](int index) { setParameter(param, static_cast<float>(index)); });
        grid.addWidget(row.choice, line, 1, 1, 2);
        return;
    }
    if (isToggle(info)) {
        row.toggle = new QCheckBox(holder);
        row.toggle->setAccessibleName(name);
        connect(row.toggle, &QCheckBox::toggled, this, [this, param](bool on) {
            setParameter(param, on ? infoOf(param).max : infoOf(param).min);
        });
        grid.addWidget(row.toggle, line, 1, 1, 2);
        return;
    }
    row.slider = new QSlider(Qt::Horizontal, holder);
    row.slider->setAccessibleName(name);
    row.slider->setToolTip(tr("%1 — double-click to type a value").arg(name));
    if (info.steps > 0) {
        row.slider->setRange(static_cast<int>(info.min), static_cast<int>(info.max));
        row.slider->setPageStep(std::max(1, info.steps / 8));
    } else {
        row.slider->setRange(0, sliderSteps);
        row.slider->setPageStep(sliderSteps / 20);
    }
    row.slider->installEventFilter(this);
    // While the slider is held its field shows where it is; the change is made when it is
    // let go, so that one gesture is one undo step.
    connect(row.slider, &QSlider::valueChanged, this, [this, param](int position) {
        const Row &moved = rowOf(param);
        if (moved.slider->isSliderDown())
            moved.field->setText(
                synthValueText(infoOf(param), sliderValue(infoOf(param), position)));
    });
    commitOnRelease(row.slider, this, [this, param](int position) {
        setParameter(param, sliderValue(infoOf(param), position));
    });
    grid.addWidget(row.slider, line, 1);
    row.field = new QLineEdit(holder);
    row.field->setAccessibleName(name);
    row.field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row.field->setFixedWidth(84);
    row.field->setToolTip(tr("Type a value, with or without its unit, and press Enter"));
    connect(row.field, &QLineEdit::editingFinished, this, [this, param] { typed(param); });
    grid.addWidget(row.field, line, 2);
}

bool SynthPanel::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseButtonDblClick)
        for (const Row &row : rows)
            if (row.slider == watched) {
                row.field->setFocus(Qt::MouseFocusReason);
                row.field->selectAll();
                return true;
            }
    return QWidget::eventFilter(watched, event);
}

void SynthPanel::followProject() {
    std::string name, playing, stored;
    bool found = false;
    {
        std::lock_guard lock(app.engine().projectMutex);
        if (const auto owner = app.engine().project.findTrack(track)) {
            found = true;
            name = owner->name;
            playing = owner->instrument;
            stored = owner->instrumentState;
        }
    }
    if (!found) {
        follower->stop();
        close();
        return;
    }
    if (seen && name == trackName && playing == instrument && stored == state) return;
    seen = true;
    trackName = std::move(name);
    instrument = std::move(playing);
    state = std::move(stored);
    values = stock::synthDefaultValues();
    // A state that does not read plays as the defaults, and so shows them.
    if (!stock::readSynthStateText(state, values, nullptr)) values = stock::synthDefaultValues();
    refreshTitle();
    showValues();
}

void SynthPanel::refreshTitle() {
    const bool synth = instrument == synthInstrumentId;
    const bool drums = instrument == drumsInstrumentId;
    const bool gm = instrument == gmInstrumentId;
    const QString name = QString::fromStdString(trackName);
    setWindowTitle(synth   ? tr("%1 — Halvora Synth").arg(name)
                   : drums ? tr("%1 — Drum Sampler").arg(name)
                   : gm    ? tr("%1 — General MIDI").arg(name)
                           : tr("%1 — Sine Voice").arg(name));
}

void SynthPanel::showValues() {
    const bool synth = instrument == synthInstrumentId;
    const bool drums = instrument == drumsInstrumentId;
    const bool gm = instrument == gmInstrumentId;
    {
        const QSignalBlocker quiet(instrumentBox);
        instrumentBox->setCurrentIndex(std::max(
            0, instrumentBox->findData(
                   QString::fromStdString(synth || drums || gm ? instrument : ""))));
    }
    sineNote->setVisible(!synth && !drums && !gm);
    synthScroll->setVisible(!drums && !gm);
    drumScroll->setVisible(drums);
    gmEditor->setVisible(gm);
    presetLabel->setVisible(!drums && !gm);
    presetBox->setVisible(!drums && !gm);
    changedMark->setVisible(!drums && !gm);
    if (gm) {
        // A state that does not read plays the system's font from its first preset.
        stock::GmSettings settings;
        if (!stock::readGmStateText(state, settings, nullptr)) settings = {};
        gmEditor->showSettings(settings);
    }
    // A state that does not read plays the default kit, and so shows it.
    if (drums) drumEditor->showKit(stock::drumKitOfState(state));
    synthArea->setEnabled(synth);
    presetBox->setEnabled(synth);
    const NearestSynthPreset preset = nearestSynthPreset(values);
    {
        const QSignalBlocker quiet(presetBox);
        presetBox->setCurrentIndex(preset.index);
    }
    const bool changed = synth && preset.changed;
    changedMark->setText(changed ? tr("● Changed since the preset") : QString());
    changedMark->setToolTip(changed ? tr("Choose the preset again to take back the changes")
                                    : QString());
    for (int index = 0; index < stock::synthParamCount; ++index)
        showRow(static_cast<SynthParam>(index), false);
}

void SynthPanel::showRow(SynthParam param, bool evenIfHeld) {
    const Row &row = rowOf(param);
    const SynthParamInfo &info = infoOf(param);
    const float plain = values[static_cast<std::size_t>(param)];
    if (row.choice) {
        const QSignalBlocker quiet(row.choice);
        row.choice->setCurrentIndex(static_cast<int>(std::lround(plain - info.min)));
    }
    if (row.toggle) {
        const QSignalBlocker quiet(row.toggle);
        row.toggle->setChecked(plain > info.min);
    }
    if (row.slider && (evenIfHeld || !row.slider->isSliderDown())) {
        const QSignalBlocker quiet(row.slider);
        row.slider->setValue(sliderPosition(info, plain));
    }
    if (row.field && (evenIfHeld || !row.field->hasFocus() || !row.field->isModified())) {
        row.field->setText(synthValueText(info, plain));
        row.field->setModified(false);
    }
}

void SynthPanel::setParameter(SynthParam param, float plain) {
    const SynthParamInfo &info = infoOf(param);
    const float clamped = stock::clampSynthValue(info, plain);
    if (sameValue(info, clamped, values[static_cast<std::size_t>(param)])) {
        showRow(param, true);
        return;
    }
    execute(
        std::make_unique<SetSynthParameterCommand>(track, static_cast<int32_t>(param), clamped));
}

void SynthPanel::typed(SynthParam param) {
    QLineEdit *field = rowOf(param).field;
    if (!field->isModified()) return;
    field->setModified(false);
    const SynthParamInfo &info = infoOf(param);
    const std::optional<float> value =
        readTypedSynthValue(info, field->text(), values[static_cast<std::size_t>(param)]);
    if (!value) {
        showRow(param, true);
        return;
    }
    setParameter(param, *value);
}

void SynthPanel::execute(std::unique_ptr<Command> command) {
    app.view().executeEdit(std::move(command));
    followProject();
    if (onEdited) onEdited();
}

} // namespace orvane

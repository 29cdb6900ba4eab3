#include "app/window/PluginParameterPanel.h"

#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/vst3/Vst3Plugin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

namespace orvane {

namespace {

/// Stepped values with more choices than this are better served by a slider than a list.
constexpr int32_t longestChoiceList = 64;
constexpr int followIntervalMs = 100;

int choiceIndex(float normalized, std::size_t count) {
    if (count < 2) return 0;
    return static_cast<int>(
        std::lround(std::clamp(normalized, 0.0f, 1.0f) * static_cast<float>(count - 1)));
}

float choiceValue(int index, std::size_t count) {
    return count < 2 ? 0.0f : static_cast<float>(index) / static_cast<float>(count - 1);
}

std::string trimmed(const std::string &text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

/// The number `text` begins with, whatever follows it (a unit), else none.
std::optional<float> leadingNumber(const std::string &text) {
    char *end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(value)) return std::nullopt;
    return value;
}

/// What the user typed as a number: "2k" and "2 kHz" are 2000.
std::optional<float> typedNumber(const std::string &typed) {
    const std::string text = trimmed(typed);
    char *end = nullptr;
    float value = std::strtof(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(value)) return std::nullopt;
    while (*end == ' ')
        ++end;
    if (*end == 'k' || *end == 'K') value *= 1000.0f;
    return value;
}

/// The number `text` is and nothing more, else none.
std::optional<float> plainNumber(const std::string &text) {
    char *end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

class Vst3Source : public ParameterSource {
  public:
    Vst3Source(vst::PluginRack &rack, std::shared_ptr<vst::Plugin> plugin)
        : rack(rack), plugin(std::move(plugin)) {}

    std::string pluginName() const override { return plugin->description.name; }

    std::vector<ParameterRow> rows() override {
        std::vector<ParameterRow> made;
        programs = plugin->factoryPrograms();
        for (const vst::PluginParameterInfo &info : plugin->listParameters()) {
            if (!info.editable) continue;
            units[info.id] = trimmed(info.units);
            ParameterRow row;
            row.key = info.id;
            row.name = info.name;
            row.group = info.group;
            if (info.stepCount == 1) {
                row.kind = ParameterKind::toggle;
            } else if (info.stepCount > 1 && info.stepCount <= longestChoiceList) {
                row.kind = ParameterKind::choice;
                for (int32_t step = 0; step <= info.stepCount; ++step)
                    row.choices.push_back(choiceName(info, step));
            } else if (info.stepCount > longestChoiceList) {
                row.steps = info.stepCount;
            }
            made.push_back(std::move(row));
        }
        return made;
    }

    float normalized(uint32_t key) override { return plugin->getParameterNormalized(key); }
    // A value the plug-in refuses shows as soon as the follower reads the parameter back.
    void setNormalized(uint32_t key, float value) override {
        (void)plugin->setParameterNormalized(key, value);
    }

    std::string valueText(uint32_t key, float normalized) override {
        const std::string text = trimmed(plugin->parameterValueText(key, normalized));
        const std::string &unit = units[key];
        if (text.empty()) return formatPlainValue(normalized * 100.0f, "%");
        // Plug-ins often print every digit they have: a plain number is shortened as ours are.
        if (const std::optional<float> number = plainNumber(text))
            return formatPlainValue(*number, unit);
        return unit.empty() ? text : text + " " + unit;
    }

    bool stillInRack() override { return rack.holdsInstance(plugin.get()); }
    std::string pluginId() const override { return plugin->description.uid; }
    // A plug-in kept in a helper lists its programs there, and takes a program's state there.
    bool listPresets(vst::PresetListing &listing, std::string &error) override {
        return vst::listPresetsOf(*plugin, listing, error);
    }
    bool presetState(const vst::PluginPreset &preset, std::vector<uint8_t> &state,
                     std::string &error) override {
        return vst::readPresetStateOf(*plugin, preset, state, error);
    }
    bool readState(std::vector<uint8_t> &state) override { return plugin->getState(state); }
    bool applyState(const std::vector<uint8_t> &state) override { return plugin->setState(state); }

  private:
    std::string choiceName(const vst::PluginParameterInfo &info, int32_t step) {
        const float value = static_cast<float>(step) / static_cast<float>(info.stepCount);
        // A program-change parameter's choices are the programs, by their names.
        for (const vst::PluginProgram &program : programs)
            if (program.parameterId == info.id && std::fabs(program.normalized - value) < 1e-6f)
                return program.name;
        std::string text = plugin->parameterValueText(info.id, value);
        return text.empty() ? std::to_string(step) : text;
    }

    vst::PluginRack &rack;
    std::shared_ptr<vst::Plugin> plugin;
    std::map<uint32_t, std::string> units;
    std::vector<vst::PluginProgram> programs;
};

class Lv2Source : public ParameterSource {
  public:
    Lv2Source(vst::PluginRack &rack, std::shared_ptr<lv2::Lv2Plugin> plugin)
        : rack(rack), plugin(std::move(plugin)) {}

    std::string pluginName() const override { return plugin->description.name; }

    std::vector<ParameterRow> rows() override {
        std::vector<ParameterRow> made;
        for (std::size_t index = 0; index < plugin->parameters.size(); ++index) {
            const lv2::Lv2Parameter &parameter = plugin->parameters[index];
            ParameterRow row;
            row.key = static_cast<uint32_t>(index);
            row.name = parameter.name;
            row.group = parameter.group;
            if (parameter.toggled) {
                row.kind = ParameterKind::toggle;
            } else if (parameter.enumeration && parameter.scalePoints.size() > 1) {
                row.kind = ParameterKind::choice;
                for (const auto &point : parameter.scalePoints)
                    row.choices.push_back(point.second);
            } else if (parameter.integer) {
                const float span = std::fabs(parameter.maximum - parameter.minimum);
                if (span >= 1.0f && span <= 1000.0f) row.steps = static_cast<int>(span);
            }
            made.push_back(std::move(row));
        }
        return made;
    }

    float normalized(uint32_t key) override { return plugin->getParameterNormalizedAt(key); }
    // The plug-in says its range, so the typed value maps exactly.
    std::optional<float> normalizedForText(uint32_t key, const std::string &typed) override {
        const std::optional<float> number = typedNumber(typed);
        if (!number) return std::nullopt;
        return lv2::normalizedFromPlain(plugin->parameters[key], *number);
    }
    // A value the plug-in refuses shows as soon as the follower reads the parameter back.
    void setNormalized(uint32_t key, float value) override {
        (void)plugin->setParameterNormalizedAt(key, value);
    }

    std::string valueText(uint32_t key, float normalized) override {
        const lv2::Lv2Parameter &parameter = plugin->parameters[key];
        const float plain = lv2::plainFromNormalized(parameter, normalized);
        // A value the plug-in names ("off", "invert") reads as its name.
        if (std::string label = lv2::scalePointLabel(parameter, plain); !label.empty())
            return label;
        return formatPlainValue(plain, parameter.unit);
    }

    bool stillInRack() override { return rack.holdsInstance(plugin.get()); }
    std::string pluginId() const override { return plugin->description.uid; }
    bool readState(std::vector<uint8_t> &state) override { return plugin->getState(state); }
    bool applyState(const std::vector<uint8_t> &state) override { return plugin->setState(state); }

  private:
    vst::PluginRack &rack;
    std::shared_ptr<lv2::Lv2Plugin> plugin;
};

} // namespace

// Halves the range until the shown value meets the typed one: as near as the texts tell, the
// typed value where the texts grow or fall with it.
std::optional<float> ParameterSource::normalizedForText(uint32_t key, const std::string &typed) {
    const std::optional<float> wanted = typedNumber(typed);
    if (!wanted) return std::nullopt;
    // A value the plug-in names ("off") is read just beside it, where it is a number again.
    const auto shownAt = [&](float normalized) {
        std::optional<float> shown = leadingNumber(valueText(key, normalized));
        for (const float beside : {1e-3f, -1e-3f})
            if (!shown)
                shown = leadingNumber(valueText(key, std::clamp(normalized + beside, 0.0f, 1.0f)));
        return shown;
    };
    const std::optional<float> low = shownAt(0.0f), high = shownAt(1.0f);
    if (!low || !high) return std::nullopt;
    const bool rising = *high >= *low;
    if (rising ? *wanted <= *low : *wanted >= *low) return 0.0f;
    if (rising ? *wanted >= *high : *wanted <= *high) return 1.0f;
    float below = 0.0f, above = 1.0f;
    for (int step = 0; step < 24; ++step) {
        const float middle = 0.5f * (below + above);
        const std::optional<float> shown = shownAt(middle);
        if (!shown) return std::nullopt;
        if ((*shown < *wanted) == rising)
            below = middle;
        else
            above = middle;
    }
    const std::optional<float> atBelow = shownAt(below), atAbove = shownAt(above);
    if (!atBelow || !atAbove) return std::nullopt;
    return std::fabs(*atBelow - *wanted) <= std::fabs(*atAbove - *wanted) ? below : above;
}

bool ParameterSource::listPresets(vst::PresetListing &listing, std::string &error) {
    return vst::listPluginPresets(pluginId(), listing, error);
}

bool ParameterSource::presetState(const vst::PluginPreset &preset, std::vector<uint8_t> &state,
                                  std::string &error) {
    return vst::readPresetState(pluginId(), preset, state, error);
}

std::unique_ptr<ParameterSource> parameterSourceFor(vst::PluginRack &rack, uint64_t trackId,
                                                    int insertIndex) {
    std::lock_guard lock(rack.slotsMutex);
    for (const vst::Slot &slot : rack.slots) {
        if (slot.trackId != trackId || slot.insertIndex != insertIndex) continue;
        if (slot.lv2Plugin) return std::make_unique<Lv2Source>(rack, slot.lv2Plugin);
        if (slot.plugin) return std::make_unique<Vst3Source>(rack, rack.editablePluginLocked(slot));
    }
    return nullptr;
}

std::string formatPlainValue(float value, const std::string &unit) {
    char text[32];
    if (std::fabs(value - std::round(value)) < 1e-4f && std::fabs(value) < 1e6f)
        std::snprintf(text, sizeof text, "%.0f", static_cast<double>(std::round(value)));
    else
        std::snprintf(text, sizeof text, "%.4g", static_cast<double>(value));
    std::string shown = text;
    if (shown == "-0") shown = "0";
    return unit.empty() ? shown : shown + " " + unit;
}

PluginParameterPanel::PluginParameterPanel(std::unique_ptr<ParameterSource> made, QWidget *parent)
    : QWidget(parent, Qt::Window), source(std::move(made)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("%1 — Parameters").arg(QString::fromStdString(source->pluginName())));
    auto *outer = new QVBoxLayout(this);
    if (!source->pluginId().empty()) outer->addWidget(makePresetBar());
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    auto *rowsHolder = new QWidget(scroll);
    auto *grid = new QGridLayout(rowsHolder);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, 200);
    int line = 0;
    std::string group;
    for (ParameterRow &row : source->rows()) {
        // Groups head the rows they hold in the order the plug-in lists them; a group that
        // comes back after another is headed again.
        if (!row.group.empty() && row.group != group) addGroupHeading(*grid, row.group, line++);
        group = row.group;
        addRow(*grid, std::move(row), line++);
    }
    if (shown.empty())
        grid->addWidget(new QLabel(tr("This plug-in has no parameters."), rowsHolder), 0, 0);
    grid->setRowStretch(grid->rowCount(), 1);
    scroll->setWidget(rowsHolder);
    outer->addWidget(scroll);
    resize(560, std::clamp(60 + 34 * rowCount(), 160, 640));

    // The main window's keys, whatever the desktop's own convention.
    auto *undo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
    connect(undo, &QShortcut::activated, this, [this] {
        if (onUndo) onUndo();
    });
    auto *redo = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
    connect(redo, &QShortcut::activated, this, [this] {
        if (onRedo) onRedo();
    });

    if (presets) {
        (void)source->readState(comparedState);
        listPresets({});
    }

    follower = new QTimer(this);
    follower->setInterval(followIntervalMs);
    connect(follower, &QTimer::timeout, this, [this] { followPlugin(); });
    follower->start();
    followPlugin();
}

PluginParameterPanel::~PluginParameterPanel() = default;

int PluginParameterPanel::rowNamed(const std::string &name) const {
    for (std::size_t index = 0; index < shown.size(); ++index)
        if (shown[index].row.name == name) return static_cast<int>(index);
    return -1;
}

int PluginParameterPanel::rowWithKey(uint32_t key) const {
    for (std::size_t index = 0; index < shown.size(); ++index)
        if (shown[index].row.key == key) return static_cast<int>(index);
    return -1;
}

QStringList PluginParameterPanel::groupHeadings() const {
    QStringList headings;
    for (const QLabel *heading :
         findChildren<QLabel *>(QStringLiteral("parameterGroup"), Qt::FindChildrenRecursively))
        headings.push_back(heading->text());
    return headings;
}

void PluginParameterPanel::addGroupHeading(QGridLayout &grid, const std::string &group, int line) {
    auto *heading = new QLabel(QString::fromStdString(group), grid.parentWidget());
    heading->setObjectName(QStringLiteral("parameterGroup"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    // Room above a heading that follows rows, so that the group reads as a block.
    heading->setContentsMargins(0, line > 0 ? 8 : 0, 0, 2);
    grid.addWidget(heading, line, 0, 1, 3);
}

void PluginParameterPanel::addRow(QGridLayout &grid, ParameterRow row, int line) {
    QWidget *holder = grid.parentWidget();
    const std::size_t index = shown.size();
    ShownRow &added = shown.emplace_back();
    added.row = std::move(row);
    const ParameterRow &described = added.row;
    grid.addWidget(new QLabel(QString::fromStdString(described.name), holder), line, 0);
    switch (described.kind) {
    case ParameterKind::toggle:
        added.toggle = new QCheckBox(holder);
        connect(added.toggle, &QCheckBox::toggled, this, [this, index](bool on) {
            commitChange(index, shown[index].shownValue, on ? 1.0f : 0.0f);
        });
        grid.addWidget(added.toggle, line, 1);
        break;
    case ParameterKind::choice: {
        added.choice = new QComboBox(holder);
        for (const std::string &name : described.choices)
            added.choice->addItem(QString::fromStdString(name));
        const std::size_t count = described.choices.size();
        connect(added.choice, &QComboBox::currentIndexChanged, this,
                [this, index, count](int chosen) {
                    commitChange(index, shown[index].shownValue, choiceValue(chosen, count));
                });
        grid.addWidget(added.choice, line, 1);
        break;
    }
    case ParameterKind::continuous:
        added.slider = new QSlider(Qt::Horizontal, holder);
        added.slider->setRange(0, std::max(1, described.steps));
        added.slider->setAccessibleName(QString::fromStdString(described.name));
        connect(added.slider, &QSlider::sliderPressed, this,
                [this, index] { shown[index].grabbedValue = shown[index].shownValue; });
        connect(added.slider, &QSlider::valueChanged, this,
                [this, index](int position) { sliderMoved(index, position); });
        connect(added.slider, &QSlider::sliderReleased, this, [this, index] {
            ShownRow &released = shown[index];
            const float before = released.grabbedValue;
            released.grabbedValue = -1.0f;
            commitChange(index, before, released.shownValue);
        });
        grid.addWidget(added.slider, line, 1);
        break;
    }
    QWidget *control = added.slider   ? static_cast<QWidget *>(added.slider)
                       : added.toggle ? static_cast<QWidget *>(added.toggle)
                                      : static_cast<QWidget *>(added.choice);
    control->setContextMenuPolicy(Qt::CustomContextMenu);
    const uint32_t key = described.key;
    connect(control, &QWidget::customContextMenuRequested, this, [this, control, key](QPoint at) {
        if (onControlMenu) onControlMenu(key, control->mapToGlobal(at));
    });
    added.value = new QLabel(holder);
    added.value->setMinimumWidth(90);
    added.value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid.addWidget(added.value, line, 2);
    // Small and flat, so that a column of them stays quiet beside the values; the one whose
    // parameter the lane drives stands out checked.
    added.automate = new QToolButton(holder);
    added.automate->setText(tr("A"));
    added.automate->setAutoRaise(true);
    added.automate->setFixedSize(24, 20);
    added.automate->setCheckable(true);
    added.automate->setToolTip(tr("Automate this parameter on the insert's lane"));
    added.automate->setAccessibleName(
        tr("Automate %1").arg(QString::fromStdString(described.name)));
    added.automate->setVisible(false);
    connect(added.automate, &QToolButton::clicked, this, [this, key] {
        if (onAutomate) onAutomate(key);
    });
    grid.addWidget(added.automate, line, 3);
    if (described.kind != ParameterKind::continuous) return;
    added.value->setToolTip(tr("Double-click to type a value"));
    added.value->installEventFilter(this);
    added.entry = new QLineEdit(holder);
    added.entry->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    added.entry->setMinimumWidth(90);
    added.entry->setAccessibleName(QString::fromStdString(described.name));
    added.entry->hide();
    added.entry->installEventFilter(this);
    connect(added.entry, &QLineEdit::returnPressed, this,
            [this, index] { finishTyping(index, true); });
    grid.addWidget(added.entry, line, 2);
}

void PluginParameterPanel::showAutomated(std::optional<uint32_t> key) {
    for (ShownRow &row : shown) {
        const QSignalBlocker quiet(row.automate);
        row.automate->setVisible(static_cast<bool>(onAutomate));
        row.automate->setChecked(key && row.row.key == *key);
    }
}

bool PluginParameterPanel::eventFilter(QObject *watched, QEvent *event) {
    for (std::size_t index = 0; index < shown.size(); ++index) {
        const ShownRow &row = shown[index];
        if (watched == row.value && event->type() == QEvent::MouseButtonDblClick) {
            startTyping(index);
            return true;
        }
        if (watched != row.entry || !row.entry->isVisible()) continue;
        const bool escaped = event->type() == QEvent::KeyPress &&
                             static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape;
        // Clicking elsewhere leaves the value as it was, as Escape does.
        if (escaped || event->type() == QEvent::FocusOut) {
            finishTyping(index, false);
            return escaped;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PluginParameterPanel::startTyping(std::size_t index) {
    ShownRow &row = shown[index];
    if (!row.entry) return;
    row.entry->setText(row.value->text());
    row.value->hide();
    row.entry->show();
    row.entry->setFocus();
    row.entry->selectAll();
}

// Text that is no number leaves the box open with what was typed, for the user to mend.
void PluginParameterPanel::finishTyping(std::size_t index, bool take) {
    ShownRow &row = shown[index];
    if (take) {
        const std::optional<float> value =
            source->normalizedForText(row.row.key, row.entry->text().toStdString());
        if (!value) return;
        commitChange(index, row.shownValue, std::clamp(*value, 0.0f, 1.0f));
    }
    row.entry->hide();
    row.value->show();
}

// While the slider is held the plug-in follows it, so that the change is heard as it is made;
// the gesture becomes one edit when the slider is let go.
void PluginParameterPanel::sliderMoved(std::size_t index, int position) {
    ShownRow &moved = shown[index];
    const float value = static_cast<float>(position) / static_cast<float>(moved.slider->maximum());
    if (!moved.slider->isSliderDown()) {
        commitChange(index, moved.shownValue, value);
        return;
    }
    source->setNormalized(moved.row.key, value);
    showValue(moved, source->normalized(moved.row.key));
}

void PluginParameterPanel::commitChange(std::size_t index, float before, float after) {
    ShownRow &changed = shown[index];
    if (onEdited && before >= 0.0f) {
        if (before != after) onEdited(changed.row.key, before, after);
    } else {
        source->setNormalized(changed.row.key, after);
    }
    // Read back: the plug-in may round the value to one it can take.
    showValue(changed, source->normalized(changed.row.key));
}

void PluginParameterPanel::showValue(ShownRow &shownRow, float normalized) {
    shownRow.shownValue = normalized;
    if (shownRow.slider && !shownRow.slider->isSliderDown()) {
        const QSignalBlocker quiet(shownRow.slider);
        shownRow.slider->setValue(static_cast<int>(
            std::lround(normalized * static_cast<float>(shownRow.slider->maximum()))));
    }
    if (shownRow.toggle) {
        const QSignalBlocker quiet(shownRow.toggle);
        shownRow.toggle->setChecked(normalized >= 0.5f);
    }
    if (shownRow.choice) {
        const QSignalBlocker quiet(shownRow.choice);
        shownRow.choice->setCurrentIndex(choiceIndex(normalized, shownRow.row.choices.size()));
    }
    // A switch and a named choice say what they are; a number needs its value and unit.
    if (shownRow.row.kind == ParameterKind::continuous)
        shownRow.value->setText(
            QString::fromStdString(source->valueText(shownRow.row.key, normalized)));
}

void PluginParameterPanel::followPlugin() {
    if (!source->stillInRack()) {
        follower->stop();
        close();
        return;
    }
    for (ShownRow &shownRow : shown) {
        const float now = source->normalized(shownRow.row.key);
        if (std::fabs(now - shownRow.shownValue) > 1e-6f) showValue(shownRow, now);
    }
}

QWidget *PluginParameterPanel::makePresetBar() {
    auto *holder = new QWidget(this);
    auto *column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(tr("Preset:"), holder);
    presets = new QComboBox(holder);
    presets->setMinimumWidth(220);
    label->setBuddy(presets);
    savePreset = new QPushButton(tr("Save…"), holder);
    compare = new QPushButton(tr("A/B"), holder);
    compare->setToolTip(tr("Switch between this sound and the one before the last preset"));
    row->addWidget(label);
    row->addWidget(presets, 1);
    row->addWidget(savePreset);
    row->addWidget(compare);
    column->addLayout(row);
    problem = new QLabel(holder);
    problem->setWordWrap(true);
    problem->hide();
    column->addWidget(problem);
    connect(presets, &QComboBox::activated, this, [this](int index) { loadChosenPreset(index); });
    connect(savePreset, &QPushButton::clicked, this, [this] { askForPresetName(); });
    connect(compare, &QPushButton::clicked, this, [this] { swapCompared(); });
    return holder;
}

void PluginParameterPanel::listPresets(const QString &select) {
    vst::PresetListing listing;
    std::string error;
    listedPresets.clear();
    const QSignalBlocker quiet(presets);
    presets->clear();
    presets->addItem(QStringLiteral("—"));
    if (source->listPresets(listing, error)) listedPresets = listing.presets;
    for (std::size_t index = 0; index < listedPresets.size(); ++index) {
        const vst::PluginPreset &preset = listedPresets[index];
        // The user's presets come after a line of their own.
        if (preset.origin == vst::PresetOrigin::user &&
            (index == 0 || listedPresets[index - 1].origin != vst::PresetOrigin::user))
            presets->insertSeparator(presets->count());
        presets->addItem(QString::fromStdString(preset.name), static_cast<int>(index));
        if (QString::fromStdString(preset.name) == select)
            presets->setCurrentIndex(presets->count() - 1);
    }
}

void PluginParameterPanel::loadChosenPreset(int index) {
    const QVariant listed = presets->itemData(index);
    if (!listed.isValid()) return;
    const vst::PluginPreset &preset = listedPresets.at(static_cast<std::size_t>(listed.toInt()));
    std::vector<uint8_t> state;
    std::string error;
    if (!source->presetState(preset, state, error)) {
        problem->setText(tr("The preset cannot be loaded: %1").arg(QString::fromStdString(error)));
        problem->show();
        return;
    }
    problem->hide();
    std::vector<uint8_t> before;
    if (source->readState(before)) comparedState = std::move(before);
    if (onPresetChosen)
        onPresetChosen(std::move(state));
    else
        (void)source->applyState(state);
    followPlugin();
}

bool PluginParameterPanel::savePresetNamed(const QString &name) {
    std::vector<uint8_t> state;
    std::string error;
    if (name.trimmed().isEmpty()) return false;
    if (!source->readState(state) ||
        !vst::saveUserPreset(source->pluginId(), name.trimmed().toStdString(), state, error)) {
        problem->setText(tr("The preset cannot be saved: %1")
                             .arg(QString::fromStdString(error.empty() ? "no state" : error)));
        problem->show();
        return false;
    }
    problem->hide();
    listPresets(name.trimmed());
    return true;
}

void PluginParameterPanel::askForPresetName() {
    bool given = false;
    const QString suggested = presets->currentData().isValid() ? presets->currentText() : QString();
    const QString name = QInputDialog::getText(this, tr("Save Preset"), tr("Preset name:"),
                                               QLineEdit::Normal, suggested, &given);
    if (given) (void)savePresetNamed(name);
}

// Comparing is listening, not editing: the two states trade places in the plug-in alone, and
// whichever is heard when the project is saved is what the insert keeps.
void PluginParameterPanel::swapCompared() {
    std::vector<uint8_t> now;
    if (comparedState.empty() || !source->readState(now)) return;
    if (!source->applyState(comparedState)) return;
    comparedState = std::move(now);
    followPlugin();
}

} // namespace orvane

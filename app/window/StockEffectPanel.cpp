#include "app/window/StockEffectPanel.h"

#include "app/window/PanelControls.h"
#include "core/engine/RenderStages.h"
#include "core/model/StockEffectSettings.h"
#include "core/model/Translate.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

namespace orvane {

namespace {

constexpr int sliderSteps = 1000;

int stepOf(const StockParameter &parameter, float value) {
    const float fraction = (value - parameter.minimum) / (parameter.maximum - parameter.minimum);
    return static_cast<int>(std::lround(fraction * sliderSteps));
}

float valueOf(const StockParameter &parameter, int step) {
    return parameter.minimum +
           (parameter.maximum - parameter.minimum) * static_cast<float>(step) / sliderSteps;
}

QString shown(const StockParameter &parameter, float value) {
    const int decimals = parameter.maximum - parameter.minimum > 100.0f ? 0 : 1;
    return QString::number(static_cast<double>(value), 'f', decimals) + QLatin1Char(' ') +
           QString::fromUtf8(parameter.unit);
}

} // namespace

QString stockParameterLabel(const StockParameter &parameter) {
    return QString::fromStdString(translate("StockEffect", parameter.label));
}

QString stockLaneName(const InsertSlot &insert, uint32_t parameter) {
    const auto parameters =
        insert.isStock ? stockParametersOf(insert.pluginId) : std::span<const StockParameter>{};
    if (parameter >= parameters.size()) return {};
    const std::string effect(stockEffectShortName(insert.pluginId));
    return QString::fromStdString(translate("StockEffect", effect.c_str())) + QStringLiteral(": ") +
           stockParameterLabel(parameters[parameter]);
}

StockEffectPanel::StockEffectPanel(QWidget *parent) : QGroupBox(parent) {
    new QGridLayout(this);
    hide();
}

void StockEffectPanel::rebuild(const std::string &pluginId) {
    for (const Row &row : rows) {
        delete row.name;
        delete row.slider;
        delete row.value;
    }
    rows.clear();
    shownId = pluginId;
    auto *grid = static_cast<QGridLayout *>(layout());
    const auto parameters = stockParametersOf(pluginId);
    for (std::size_t index = 0; index < parameters.size(); ++index) {
        Row row;
        row.name = new QLabel(stockParameterLabel(parameters[index]), this);
        row.slider = new QSlider(Qt::Horizontal, this);
        row.slider->setRange(0, sliderSteps);
        row.slider->setPageStep(sliderSteps / 20);
        row.slider->setToolTip(stockParameterLabel(parameters[index]));
        offerAutomation(row.name, static_cast<uint32_t>(index));
        offerAutomation(row.slider, static_cast<uint32_t>(index));
        row.value = new QLabel(this);
        row.value->setMinimumWidth(70);
        row.value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        const int line = static_cast<int>(index);
        grid->addWidget(row.name, line, 0);
        grid->addWidget(row.slider, line, 1);
        grid->addWidget(row.value, line, 2);
        connect(row.slider, &QSlider::valueChanged, this, [this, index] { showValue(index); });
        commitOnRelease(row.slider, this, [this](int) {
            if (onEdited) onEdited(sliderValues());
        });
        rows.push_back(row);
    }
}

void StockEffectPanel::showInsert(const InsertSlot *insert) {
    const auto parameters =
        insert && insert->isStock ? stockParametersOf(insert->pluginId) : std::span<const StockParameter>{};
    if (parameters.empty()) {
        hide();
        return;
    }
    if (insert->pluginId != shownId) rebuild(insert->pluginId);
    const std::string_view name = stockEffectName(insert->pluginId);
    setTitle(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    std::vector<float> values;
    if (const auto stored = stockSettingsOf(*insert))
        values = *stored;
    else
        for (const StockParameter &parameter : parameters)
            values.push_back(parameter.defaultValue);
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const QSignalBlocker blocker(rows[index].slider);
        rows[index].slider->setValue(stepOf(parameters[index], values[index]));
        showValue(index);
    }
    show();
}

void StockEffectPanel::followAutomation(const InsertSlot &insert, int64_t playhead) {
    if (!insert.isStock || insert.pluginId != shownId || insert.paramAutomation.empty()) return;
    const auto parameters = stockParametersOf(shownId);
    const std::size_t index = insert.automParamId;
    if (index >= parameters.size() || index >= rows.size()) return;
    QSlider *control = rows[index].slider;
    if (control->isSliderDown()) return;
    const float lane = readAutomation(insert.paramAutomation, playhead, 0.0f);
    const int step = stepOf(parameters[index], stockValueFromNormalized(parameters[index], lane));
    if (step == control->value()) return;
    const QSignalBlocker blocker(control);
    control->setValue(step);
    showValue(index);
}

void StockEffectPanel::offerAutomation(QWidget *control, uint32_t parameter) {
    control->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(control, &QWidget::customContextMenuRequested, this,
            [this, control, parameter](QPoint at) {
                QMenu menu(this);
                menu.addAction(
                    QCoreApplication::translate("orvane::StockEffectPanel", "Show Automation"),
                    this, [this, parameter] {
                        if (onShowAutomation) onShowAutomation(parameter);
                    });
                if (onControlMenu) onControlMenu(menu, parameter);
                menu.exec(control->mapToGlobal(at));
            });
}

QSlider *StockEffectPanel::slider(int index) const {
    return index >= 0 && index < static_cast<int>(rows.size())
               ? rows[static_cast<std::size_t>(index)].slider
               : nullptr;
}

std::vector<float> StockEffectPanel::sliderValues() const {
    const auto parameters = stockParametersOf(shownId);
    std::vector<float> values;
    for (std::size_t index = 0; index < rows.size() && index < parameters.size(); ++index)
        values.push_back(valueOf(parameters[index], rows[index].slider->value()));
    return values;
}

void StockEffectPanel::showValue(std::size_t index) {
    const auto parameters = stockParametersOf(shownId);
    if (index >= parameters.size() || index >= rows.size()) return;
    rows[index].value->setText(
        shown(parameters[index], valueOf(parameters[index], rows[index].slider->value())));
}

} // namespace orvane

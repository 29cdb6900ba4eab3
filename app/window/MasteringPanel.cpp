#include "app/window/MasteringPanel.h"

#include "app/window/PanelControls.h"
#include "core/stock/MasteringProcessor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

namespace orvane {

namespace {
QSlider *percentSlider(int maximum, QWidget *parent) {
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(0, maximum);
    return slider;
}
int percent(float value) { return static_cast<int>(std::lround(value * 100.0f)); }
} // namespace

MasteringPanel::MasteringPanel(QWidget *parent) : QWidget(parent) {
    auto *form = new QFormLayout(this);
    enabled = new QCheckBox(tr("Mastering"), this);
    bypass = new QCheckBox(tr("Bypass"), this);
    character = new QComboBox(this);
    for (int32_t value = 0; value < 3; ++value)
        character->addItem(QString::fromUtf8(stock::masteringCharacterLabel(value)));
    loudness = percentSlider(100, this);
    excite = new QCheckBox(tr("Excite"), this);
    exciteAmount = percentSlider(100, this);
    width = percentSlider(200, this);
    loudnessCompensation = new QCheckBox(tr("Loudness compensation"), this);
    form->addRow(enabled);
    form->addRow(bypass);
    form->addRow(tr("Character"), character);
    // Each slider shows its value beside it, following the handle as it moves.
    const auto withValue = [this](QSlider *slider) {
        auto *row = new QWidget(this);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *value = new QLabel(row);
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("200 %")) + 4);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        slider->setParent(row);
        layout->addWidget(slider, 1);
        layout->addWidget(value);
        valueLabels.emplace_back(slider, value);
        const auto show = [value](int percent) { value->setText(tr("%1 %").arg(percent)); };
        show(slider->value());
        connect(slider, &QSlider::valueChanged, value, show);
        return row;
    };
    form->addRow(tr("Loudness"), withValue(loudness));
    form->addRow(excite);
    form->addRow(tr("Excite amount"), withValue(exciteAmount));
    form->addRow(tr("Width"), withValue(width));
    form->addRow(loudnessCompensation);
    for (QCheckBox *box : {enabled, bypass, excite, loudnessCompensation})
        connect(box, &QCheckBox::toggled, this, [this] { edited(); });
    connect(character, &QComboBox::currentIndexChanged, this, [this] { edited(); });
    for (QSlider *slider : {loudness, exciteAmount, width})
        commitOnRelease(slider, this, [this](int) { edited(); });
}

void MasteringPanel::setSettings(const MasteringUtility &settings) {
    shown = settings;
    const QSignalBlocker blockers[] = {
        QSignalBlocker(enabled),   QSignalBlocker(bypass),
        QSignalBlocker(character), QSignalBlocker(loudness),
        QSignalBlocker(excite),    QSignalBlocker(exciteAmount),
        QSignalBlocker(width),     QSignalBlocker(loudnessCompensation)};
    enabled->setChecked(settings.enabled);
    bypass->setChecked(settings.bypass);
    character->setCurrentIndex(std::clamp(settings.character, 0, 2));
    loudness->setValue(percent(settings.loudness));
    excite->setChecked(settings.excite);
    exciteAmount->setValue(percent(settings.exciteAmt));
    width->setValue(percent(settings.width));
    loudnessCompensation->setChecked(settings.loudCmp);
    // The sliders were set with their signals held back: their values are shown here.
    for (const auto &[slider, label] : valueLabels)
        label->setText(tr("%1 %").arg(slider->value()));
}

QString MasteringPanel::shownValue(const QSlider *slider) const {
    for (const auto &[shownSlider, label] : valueLabels)
        if (shownSlider == slider) return label->text();
    return {};
}

MasteringUtility MasteringPanel::settings() const {
    MasteringUtility settings = shown;
    settings.enabled = enabled->isChecked();
    settings.bypass = bypass->isChecked();
    settings.character = character->currentIndex();
    settings.loudness = static_cast<float>(loudness->value()) / 100.0f;
    settings.excite = excite->isChecked();
    settings.exciteAmt = static_cast<float>(exciteAmount->value()) / 100.0f;
    settings.width = static_cast<float>(width->value()) / 100.0f;
    settings.loudCmp = loudnessCompensation->isChecked();
    return settings;
}

void MasteringPanel::edited() {
    const MasteringUtility settings = this->settings();
    if (settings == shown || !onEdited) return;
    onEdited(settings);
}

} // namespace orvane

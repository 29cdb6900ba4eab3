#include "app/window/ChannelStrip.h"

#include "app/window/PanelControls.h"
#include "core/model/MidiMappings.h"

#include <QDial>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {
constexpr float faderFloorDb = -60.0f;
constexpr float faderTopDb = 6.0f;

QPushButton *toggleButton(const QString &text, const QString &tip, const QString &role,
                          QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    // The role names the lit colour in the window's style sheet.
    button->setObjectName(role);
    button->setCheckable(true);
    button->setToolTip(tip);
    button->setFixedSize(24, 20);
    return button;
}
} // namespace

QString levelDbText(float gain) {
    if (!(gain > 0.0f)) return QStringLiteral("-∞ dB");
    // Rounded first, so that a gain a hair below unity reads "0.0 dB", not "-0.0 dB".
    const double db = std::round(200.0 * std::log10(gain)) / 10.0;
    return QString::number(db == 0.0 ? 0.0 : db, 'f', 1) + QStringLiteral(" dB");
}

QString sendText(int slot, int percent) {
    return ChannelStrip::tr("Send %1: %2")
        .arg(QChar('A' + slot))
        .arg(levelDbText(static_cast<float>(percent) / 100.0f));
}

QString panText(int percent) {
    if (percent == 0) return ChannelStrip::tr("Pan: centre");
    return ChannelStrip::tr("Pan: %1 %2").arg(std::abs(percent)).arg(percent < 0 ? "L" : "R");
}

float faderPositionToGain(int position) {
    if (position <= 0) return 0.0f;
    const float db = faderFloorDb + (faderTopDb - faderFloorDb) * static_cast<float>(position) /
                                        static_cast<float>(faderSteps);
    return std::pow(10.0f, db / 20.0f);
}

int gainToFaderPosition(float gain) {
    if (!(gain > 0.0f)) return 0;
    const float db = 20.0f * std::log10(gain);
    const float fraction = (db - faderFloorDb) / (faderTopDb - faderFloorDb);
    return static_cast<int>(std::lround(std::clamp(fraction, 0.0f, 1.0f) * faderSteps));
}

ChannelStrip::ChannelStrip(StripKind kind, uint64_t trackId, StripActions stripActions,
                           QWidget *parent)
    : QWidget(parent), stripKind(kind), id(trackId), actions(std::move(stripActions)) {
    setFixedWidth(86);
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(3);
    name = new QLabel(this);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);

    if (kind != StripKind::Master) {
        panKnob = new QDial(this);
        panKnob->setRange(-100, 100);
        panKnob->setFixedSize(36, 36);
        panKnob->setToolTip(tr("Pan"));
        layout->addWidget(panKnob, 0, Qt::AlignHCenter);
        commitOnRelease(panKnob, this, [this](int value) {
            if (actions.pan) actions.pan(static_cast<float>(value) / 100.0f);
            if (actions.dragEnded) actions.dragEnded();
        });
        offerControlMenu(panKnob, panMappingLane);
        connect(panKnob, &QDial::sliderPressed, this, [this] {
            if (actions.dragBegan) actions.dragBegan();
        });
        connect(panKnob, &QDial::sliderMoved, this, [this](int value) {
            panKnob->setToolTip(panText(value));
            if (actions.dragMoved) actions.dragMoved(1, static_cast<float>(value) / 100.0f);
        });
    }
    if (kind == StripKind::Track) {
        auto *sendGrid = new QGridLayout();
        sendGrid->setSpacing(1);
        for (int slot = 0; slot < 4; ++slot) {
            QDial *dial = new QDial(this);
            dial->setRange(0, 100);
            dial->setFixedSize(26, 26);
            dial->setToolTip(sendText(slot, 0));
            sends[static_cast<std::size_t>(slot)] = dial;
            sendGrid->addWidget(dial, slot / 2, slot % 2);
            // The level shows under the knob while it turns, as it will sound.
            connect(dial, &QDial::sliderMoved, this, [dial, slot](int value) {
                dial->setToolTip(sendText(slot, value));
                QToolTip::showText(dial->mapToGlobal(QPoint(0, dial->height())), dial->toolTip(),
                                   dial);
            });
            offerControlMenu(dial, sendMappingLane(slot));
            commitOnRelease(dial, this, [this, slot](int value) {
                if (actions.send) actions.send(slot, static_cast<float>(value) / 100.0f);
            });
        }
        layout->addLayout(sendGrid);
    }
    if (kind != StripKind::Master) {
        auto *buttons = new QHBoxLayout();
        buttons->setSpacing(1);
        mute = toggleButton(QStringLiteral("M"), tr("Mute"), QStringLiteral("mute"), this);
        solo = toggleButton(QStringLiteral("S"), tr("Solo"), QStringLiteral("solo"), this);
        buttons->addWidget(mute);
        buttons->addWidget(solo);
        auto muteSolo = [this] {
            if (actions.muteSolo) actions.muteSolo(mute->isChecked(), solo->isChecked());
        };
        connect(mute, &QPushButton::toggled, this, muteSolo);
        connect(solo, &QPushButton::toggled, this, muteSolo);
        if (kind == StripKind::Track) {
            arm = toggleButton(QStringLiteral("R"), tr("Arm for recording"), QStringLiteral("arm"),
                               this);
            buttons->addWidget(arm);
            connect(arm, &QPushButton::toggled, this, [this](bool on) {
                if (actions.arm) actions.arm(on);
            });
        }
        layout->addLayout(buttons);
    }

    auto *faderRow = new QHBoxLayout();
    faderSlider = new QSlider(Qt::Vertical, this);
    faderSlider->setRange(0, faderSteps);
    faderSlider->setPageStep(faderSteps / 22); // 3 dB a page
    faderSlider->setMinimumHeight(140);
    meter = new PeakMeter(this);
    faderRow->addWidget(faderSlider);
    faderRow->addWidget(meter);
    layout->addLayout(faderRow, 1);
    gainText = new QLabel(this);
    gainText->setAlignment(Qt::AlignCenter);
    layout->addWidget(gainText);
    if (kind != StripKind::Master) offerControlMenu(faderSlider, volumeMappingLane);
    connect(faderSlider, &QSlider::sliderPressed, this, [this] {
        if (actions.dragBegan) actions.dragBegan();
    });
    connect(faderSlider, &QSlider::sliderMoved, this, [this](int value) {
        showGain(value);
        if (actions.dragMoved) actions.dragMoved(0, faderPositionToGain(value));
    });
    commitOnRelease(faderSlider, this, [this](int value) {
        showGain(value);
        if (actions.gain) actions.gain(faderPositionToGain(value));
        if (actions.dragEnded) actions.dragEnded();
    });
    setSelected(false);
}

void ChannelStrip::offerControlMenu(QWidget *control, int lane) {
    control->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(control, &QWidget::customContextMenuRequested, this, [this, control, lane](QPoint at) {
        if (actions.controlMenu) actions.controlMenu(lane, control->mapToGlobal(at));
    });
}

void ChannelStrip::showGain(int position) {
    gainText->setText(levelDbText(faderPositionToGain(position)));
}

void ChannelStrip::setValues(const StripValues &values) {
    name->setText(QString::fromStdString(values.name));
    // Style sheets are costly to apply: only when the colour really changed.
    if (values.color != shownColor || name->styleSheet().isEmpty()) {
        shownColor = values.color;
        name->setStyleSheet(
            QStringLiteral("background:%1;color:white;padding:2px")
                .arg(QColor::fromRgba(values.color | 0xFF000000u).darker(160).name()));
    }
    {
        const QSignalBlocker blocker(faderSlider);
        if (!faderSlider->isSliderDown()) faderSlider->setValue(gainToFaderPosition(values.gain));
    }
    showGain(faderSlider->value());
    if (panKnob && !panKnob->isSliderDown()) {
        const QSignalBlocker blocker(panKnob);
        panKnob->setValue(static_cast<int>(std::lround(values.pan * 100.0f)));
        panKnob->setToolTip(panText(panKnob->value()));
    }
    for (QPushButton *button : {mute, solo, arm}) {
        if (!button) continue;
        const QSignalBlocker blocker(button);
        button->setChecked(button == mute   ? values.mute
                           : button == solo ? values.solo
                                            : values.armed);
    }
    for (std::size_t slot = 0; slot < sends.size(); ++slot) {
        if (!sends[slot] || sends[slot]->isSliderDown()) continue;
        const QSignalBlocker blocker(sends[slot]);
        sends[slot]->setValue(static_cast<int>(std::lround(values.sends[slot].level * 100.0f)));
        sends[slot]->setToolTip(sendText(static_cast<int>(slot), sends[slot]->value()));
    }
}

void ChannelStrip::setPeaks(float left, float right, bool transportRunning) {
    const bool stale = !transportRunning && left == lastLeft && right == lastRight;
    lastLeft = left;
    lastRight = right;
    if (stale)
        meter->setPeaks(0.0f, 0.0f);
    else
        meter->setPeaks(left, right);
}

void ChannelStrip::setSelected(bool selected) {
    QPalette colours = palette();
    colours.setColor(QPalette::Window,
                     selected ? QColor(0x3A, 0x3F, 0x48) : QColor(0x26, 0x28, 0x2C));
    setPalette(colours);
}

void ChannelStrip::mousePressEvent(QMouseEvent *) {
    if (actions.select) actions.select();
}

} // namespace orvane

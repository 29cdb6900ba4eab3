#include "app/window/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <QToolTip>

#include <cmath>
#include <utility>

namespace orvane::theme {

namespace {

// Fusion draws every stock widget from the palette; the sheet adds only what the palette
// cannot say (checked and hovered buttons, the tabs, borders, a check box's frame, which
// Fusion draws dark on a dark ground). Hover keeps the text light:
// a white hover box with near-white text is unreadable.
const char *const styleSheetTemplate = R"(
QToolTip { color: @text; background: @raised; border: 1px solid @border; }
QToolBar { background: @panel; border: none; spacing: 3px; padding: 2px; }
QToolBar QToolButton { padding: 3px 6px; border: 1px solid transparent; border-radius: 3px; }
QToolBar QToolButton:hover { background: @hover; border-color: @hoverBorder; }
QToolBar QToolButton:checked { background: @accent; color: @accentText; }
QMenuBar { background: @panel; }
QMenuBar::item:selected, QMenu::item:selected { background: @accent; color: @accentText; }
QMenu { background: @panel; border: 1px solid @border; }
QMenu::item:disabled { color: @disabledText; }
QStatusBar { background: @panel; }
QTabBar::tab { background: @raised; color: @text; padding: 4px 12px; }
QTabBar::tab:selected { background: @accent; color: @accentText; }
QPushButton { background: @button; border: 1px solid @border; border-radius: 3px;
              padding: 3px 10px; color: @text; }
QPushButton:hover { background: @hover; }
QPushButton:checked { background: @accent; color: @accentText; border-color: @accentBorder; }
QPushButton:disabled { color: @disabledText; }
QPushButton:default { border-color: @accentBorder; }
QLineEdit, QComboBox, QSpinBox, QDoubleSpinBox, QAbstractItemView {
    background: @field; color: @text; border: 1px solid @border;
    selection-background-color: @accent; selection-color: @accentText; }
QHeaderView::section { background: @raised; color: @text; border: 1px solid @border;
                       padding: 2px 4px; }
QDockWidget::title { background: @panel; padding: 3px; }
QCheckBox::indicator { width: 12px; height: 12px; border: 1px solid @dimText; border-radius: 2px;
                       background: @field; }
QCheckBox::indicator:hover { border-color: @text; }
QCheckBox::indicator:checked { background: @accentBorder; border-color: @accentText; }
QCheckBox::indicator:disabled { border-color: @border; }
QPushButton#mute, QPushButton#solo, QPushButton#arm { padding: 0px; font-weight: bold; }
QPushButton#mute:checked { background: @muteOn; color: @litText; border-color: @muteOn; }
QPushButton#solo:checked { background: @soloOn; color: @litText; border-color: @soloOn; }
QPushButton#arm:checked { background: @armOn; color: @litText; border-color: @armOn; }
)";

QString styleSheet() {
    const std::pair<const char *, QColor> colours[] = {
        {"@accentBorder", accentBorder},
        {"@accentText", accentText},
        {"@accent", accent},
        {"@armOn", armOn},
        {"@border", border},
        {"@button", button},
        {"@disabledText", disabledText},
        {"@dimText", dimText},
        {"@field", field},
        {"@hoverBorder", hoverBorder},
        {"@hover", hover},
        {"@litText", litText},
        {"@muteOn", muteOn},
        {"@panel", panel},
        {"@raised", raised},
        {"@soloOn", soloOn},
        {"@text", text},
    };
    // Longer names first where one is the start of another ("@accentText" before "@accent").
    QString sheet = QString::fromLatin1(styleSheetTemplate);
    for (const auto &[name, colour] : colours)
        sheet.replace(QLatin1String(name), colour.name());
    return sheet;
}

double channel(double value) {
    value /= 255.0;
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(QColor colour) {
    return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green()) +
           0.0722 * channel(colour.blue());
}

QPalette darkPalette() {
    QPalette palette;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, field);
        palette.setColor(group, QPalette::AlternateBase, panel);
        palette.setColor(group, QPalette::ToolTipBase, raised);
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::PlaceholderText, dimText);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, button);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::BrightText, QColor(255, 120, 100));
        palette.setColor(group, QPalette::Highlight, accent);
        palette.setColor(group, QPalette::HighlightedText, accentText);
        palette.setColor(group, QPalette::Link, QColor(120, 170, 240));
        palette.setColor(group, QPalette::Light, QColor(70, 74, 86));
        palette.setColor(group, QPalette::Midlight, QColor(58, 61, 72));
        palette.setColor(group, QPalette::Mid, QColor(44, 46, 54));
        palette.setColor(group, QPalette::Dark, QColor(20, 21, 25));
        palette.setColor(group, QPalette::Shadow, QColor(10, 10, 12));
    }
    palette.setColor(QPalette::Disabled, QPalette::Window, window);
    palette.setColor(QPalette::Disabled, QPalette::Base, field);
    palette.setColor(QPalette::Disabled, QPalette::Button, button);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(60, 64, 76));
    return palette;
}

} // namespace

void apply(QApplication &application) {
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    const QPalette palette = darkPalette();
    QApplication::setPalette(palette);
    QToolTip::setPalette(palette);
    application.setStyleSheet(styleSheet());
}

double contrastRatio(QColor first, QColor second) {
    const double a = luminance(first), b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

} // namespace orvane::theme

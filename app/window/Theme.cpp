#include "app/window/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <QToolTip>

#include <cmath>

namespace orvane::theme {

namespace {

// Fusion draws every stock widget from the palette; the sheet adds only what the palette
// cannot say (checked and hovered buttons, the tabs, borders). Hover keeps the text light:
// a white hover box with near-white text is unreadable.
const char *const styleSheet = R"(
QToolTip { color: #d6dae2; background: #2c2f37; border: 1px solid #454956; }
QToolBar { background: #26282f; border: none; spacing: 3px; padding: 2px; }
QToolBar QToolButton { padding: 3px 6px; border: 1px solid transparent; border-radius: 3px; }
QToolBar QToolButton:hover { background: #383c48; border-color: #4d5263; }
QToolBar QToolButton:checked { background: #3a5f8f; color: #f0f4fa; }
QMenuBar { background: #26282f; }
QMenuBar::item:selected, QMenu::item:selected { background: #3a5f8f; color: #f0f4fa; }
QMenu { background: #26282f; border: 1px solid #454956; }
QMenu::item:disabled { color: #7a8090; }
QStatusBar { background: #26282f; }
QTabBar::tab { background: #2c2f37; color: #d6dae2; padding: 4px 12px; }
QTabBar::tab:selected { background: #3a5f8f; color: #f0f4fa; }
QPushButton { background: #30333c; border: 1px solid #454956; border-radius: 3px;
              padding: 3px 10px; color: #d6dae2; }
QPushButton:hover { background: #383c48; }
QPushButton:checked { background: #3a5f8f; color: #f0f4fa; border-color: #5b86bf; }
QPushButton:disabled { color: #7a8090; }
QPushButton:default { border-color: #5b86bf; }
QLineEdit, QComboBox, QSpinBox, QDoubleSpinBox, QAbstractItemView {
    background: #18191e; color: #d6dae2; border: 1px solid #454956;
    selection-background-color: #3a5f8f; selection-color: #f0f4fa; }
QHeaderView::section { background: #2c2f37; color: #d6dae2; border: 1px solid #454956;
                       padding: 2px 4px; }
QDockWidget::title { background: #26282f; padding: 3px; }
QPushButton#mute, QPushButton#solo, QPushButton#arm { padding: 0px; font-weight: bold; }
QPushButton#mute:checked { background: #f0c83c; color: #111111; border-color: #f0c83c; }
QPushButton#solo:checked { background: #5ac8ff; color: #111111; border-color: #5ac8ff; }
QPushButton#arm:checked { background: #f04646; color: #111111; border-color: #f04646; }
)";

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
        palette.setColor(group, QPalette::ToolTipBase, QColor(44, 47, 55));
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
        palette.setColor(QPalette::Disabled, role, QColor(122, 128, 144));
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
    application.setStyleSheet(QString::fromLatin1(styleSheet));
}

double contrastRatio(QColor first, QColor second) {
    const double a = luminance(first), b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

} // namespace orvane::theme

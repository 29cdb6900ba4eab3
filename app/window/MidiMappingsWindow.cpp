#include "app/window/MidiMappingsWindow.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/ChannelStrip.h"
#include "app/window/MidiLearnMenu.h"
#include "app/workflows/MidiLearning.h"
#include "core/engine/Engine.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace orvane {

namespace {

/// One end of a mapping's travel as the mixer shows the target: a level in decibels, a pan
/// by its side, anything else as its number.
QString rangeEndText(const MidiMapping &mapping, float value) {
    if (mapping.lane == volumeMappingLane || mapping.lane < 0) return levelDbText(value);
    if (mapping.lane == panMappingLane) {
        const int percent = static_cast<int>(std::lround(value * 100.0f));
        if (percent == 0) return MidiMappingsWindow::tr("centre");
        return QStringLiteral("%1 %2").arg(std::abs(percent)).arg(percent < 0 ? "L" : "R");
    }
    return QString::number(value, 'g', 4);
}

QString rangeText(const MidiMapping &mapping) {
    return QStringLiteral("%1 … %2").arg(rangeEndText(mapping, mapping.minimum),
                                         rangeEndText(mapping, mapping.maximum));
}

} // namespace

MidiMappingsWindow::MidiMappingsWindow(OVApplication &application, QWidget *parent)
    : QDialog(parent), app(application) {
    setWindowTitle(tr("MIDI Mappings"));
    resize(560, 320);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        tr("Right-click a fader, knob or setting and choose “MIDI Learn” to add a mapping."),
        this));
    list = new QTableWidget(0, 3, this);
    list->setHorizontalHeaderLabels({tr("Controller"), tr("Control"), tr("Range")});
    list->horizontalHeader()->setStretchLastSection(true);
    list->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    list->verticalHeader()->hide();
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(list, 1);
    auto *buttons = new QHBoxLayout();
    remove = new QPushButton(tr("Remove"), this);
    auto *close = new QPushButton(tr("Close"), this);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(remove, &QPushButton::clicked, this, [this] { removeChosen(); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(list, &QTableWidget::itemSelectionChanged, this,
            [this] { remove->setEnabled(!list->selectedItems().isEmpty()); });
    // Learning, undo and the mixer change the list while the window is open.
    auto *follow = new QTimer(this);
    follow->setInterval(100);
    connect(follow, &QTimer::timeout, this, [this] {
        std::vector<MidiMapping> now;
        {
            std::lock_guard lock(app.engine().projectMutex);
            now = app.engine().project.midiMappings;
        }
        if (now != shown) refresh();
    });
    follow->start();
    refresh();
}

void MidiMappingsWindow::refresh() {
    const int chosen = list->currentRow();
    std::vector<QStringList> rows;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const Project &project = app.engine().project;
        shown = project.midiMappings;
        for (const MidiMapping &mapping : shown)
            rows.push_back({QString::fromStdString(midiSourceText(mapping)),
                            mappedControlName(project, mapping), rangeText(mapping)});
    }
    list->setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < static_cast<int>(rows.size()); ++row)
        for (int column = 0; column < 3; ++column)
            list->setItem(row, column,
                          new QTableWidgetItem(rows[static_cast<std::size_t>(row)][column]));
    list->resizeColumnToContents(0);
    if (chosen >= 0 && chosen < list->rowCount()) list->selectRow(chosen);
    remove->setEnabled(!list->selectedItems().isEmpty());
}

void MidiMappingsWindow::removeChosen() {
    const int row = list->currentRow();
    if (row < 0 || row >= static_cast<int>(shown.size())) return;
    app.view().midiLearning().remove(shown[static_cast<std::size_t>(row)]);
    refresh();
}

} // namespace orvane

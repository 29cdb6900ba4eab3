#include "app/window/PluginDspWindow.h"

#include "app/shell/OVApplication.h"
#include "core/engine/Engine.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace orvane {

namespace {

/// A fraction of the block as a percentage to a tenth.
double percentOf(double fraction) { return std::round(fraction * 1000.0) / 10.0; }

QString percentText(double fraction) { return QString::number(percentOf(fraction), 'f', 1); }

/// A percentage shown to a tenth that the table sorts as a number; empty for what was not
/// measured, which sorts below every figure.
class FigureItem : public QTableWidgetItem {
  public:
    explicit FigureItem(std::optional<double> fraction)
        : QTableWidgetItem(fraction ? percentText(*fraction) : QString()),
          sortValue(fraction ? percentOf(*fraction) : -1.0) {
        setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    bool operator<(const QTableWidgetItem &other) const override {
        const auto *figure = dynamic_cast<const FigureItem *>(&other);
        return figure ? sortValue < figure->sortValue : QTableWidgetItem::operator<(other);
    }

  private:
    double sortValue;
};

} // namespace

QString insertLoadText(const vst::InsertLoad &load) {
    if (load.sandboxed && load.inHelper.blocks > 0) {
        const QString own =
            PluginDspWindow::tr("DSP: %1 % on average, %2 % at most of each block in its helper")
                .arg(percentText(load.inHelper.mean), percentText(load.inHelper.peak));
        if (load.blocks == 0) return own;
        return PluginDspWindow::tr("%1; the hand-over: %2 % on average, %3 % at most")
            .arg(own, percentText(load.mean), percentText(load.peak));
    }
    if (load.blocks == 0) return {};
    if (load.sandboxed)
        return PluginDspWindow::tr("DSP: %1 % on average, %2 % at most of each block, the "
                                   "helper's round trip included")
            .arg(percentText(load.mean), percentText(load.peak));
    return PluginDspWindow::tr("DSP: %1 % on average, %2 % at most of each block")
        .arg(percentText(load.mean), percentText(load.peak));
}

PluginDspWindow::PluginDspWindow(OVApplication &application, QWidget *parent)
    : QDialog(parent), app(application) {
    setWindowTitle(tr("Plug-in DSP"));
    resize(900, 360);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        tr("Each plug-in's share of every audio block while the song plays. A plug-in in a "
           "helper is timed there; the hand-over is what the helper adds on the audio thread."),
        this));
    list = new QTableWidget(0, ColumnCount, this);
    list->setHorizontalHeaderLabels({tr("Track"), tr("Plug-in"), tr("Runs"), tr("Average %"),
                                     tr("Peak %"), tr("Hand-over average %"),
                                     tr("Hand-over peak %")});
    list->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list->horizontalHeader()->setSectionResizeMode(PluginColumn, QHeaderView::Stretch);
    list->verticalHeader()->hide();
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSortingEnabled(true);
    list->sortByColumn(PeakColumn, Qt::DescendingOrder);
    layout->addWidget(list, 1);
    summary = new QLabel(this);
    layout->addWidget(summary);
    auto *close = new QPushButton(tr("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    layout->addWidget(close, 0, Qt::AlignRight);
    // The rack takes a fresh stretch once a second; asking more often shows the same.
    auto *follow = new QTimer(this);
    follow->setInterval(500);
    connect(follow, &QTimer::timeout, this, [this] { refresh(); });
    follow->start();
    refresh();
}

void PluginDspWindow::refresh() {
    struct Named {
        QString track;
        QString plugin;
    };
    std::map<std::pair<uint64_t, int32_t>, Named> names;
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (const auto &track : app.engine().project.tracks)
            for (std::size_t at = 0; at < track->inserts.size(); ++at)
                names[{track->id, static_cast<int32_t>(at)}] = {
                    QString::fromStdString(track->name),
                    QString::fromStdString(track->inserts[at].displayName)};
    }
    const std::vector<vst::InsertLoadReport> &reports = app.rack().insertLoads();
    list->setSortingEnabled(false);
    list->setRowCount(0);
    double helpersTotal = 0.0, handOverTotal = 0.0, inProcessTotal = 0.0;
    for (const vst::InsertLoadReport &report : reports) {
        const auto named = names.find({report.trackId, report.insertIndex});
        if (named == names.end()) continue;
        const vst::InsertLoad &load = report.load;
        const bool played = load.blocks > 0 || load.inHelper.blocks > 0;
        std::optional<double> mean, peak, handOverMean, handOverPeak;
        if (load.sandboxed) {
            if (load.inHelper.blocks > 0) {
                mean = load.inHelper.mean;
                peak = load.inHelper.peak;
            }
            if (load.blocks > 0) {
                handOverMean = load.mean;
                handOverPeak = load.peak;
            }
        } else if (load.blocks > 0) {
            mean = load.mean;
            peak = load.peak;
        }
        (load.sandboxed ? helpersTotal : inProcessTotal) += mean.value_or(0.0);
        handOverTotal += handOverMean.value_or(0.0);
        const int row = list->rowCount();
        list->insertRow(row);
        list->setItem(row, TrackColumn, new QTableWidgetItem(named->second.track));
        list->setItem(row, PluginColumn, new QTableWidgetItem(named->second.plugin));
        list->setItem(row, WhereColumn,
                      new QTableWidgetItem(!played          ? tr("Not playing")
                                           : load.sandboxed ? tr("In a helper")
                                                            : tr("In the program")));
        list->setItem(row, MeanColumn, new FigureItem(mean));
        list->setItem(row, PeakColumn, new FigureItem(peak));
        list->setItem(row, HandOverMeanColumn, new FigureItem(handOverMean));
        list->setItem(row, HandOverPeakColumn, new FigureItem(handOverPeak));
    }
    list->setSortingEnabled(true);
    summary->setText(tr("On average: %1 % in the program, %2 % in helpers, %3 % for the "
                        "hand-over to helpers")
                         .arg(percentText(inProcessTotal), percentText(helpersTotal),
                              percentText(handOverTotal)));
}

} // namespace orvane

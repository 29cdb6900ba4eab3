#pragma once

#include "core/plugins/PluginRack.h"

#include <QDialog>
#include <QString>

class QLabel;
class QTableWidget;

namespace orvane {

class OVApplication;

/// What the insert's tooltip says it cost: "DSP: 0.4 % on average, 1.2 % at most of each
/// block", and for a plug-in in a helper what the hand-over costs the audio thread beside it;
/// empty when it did not play.
QString insertLoadText(const vst::InsertLoad &load);

/// Studio ▸ "Plug-in DSP…": what every insert of the song costs, taken about once a second
/// while it is open, each plug-in's own processing apart from what running it in a helper
/// adds on the audio thread, so that the user sees which plug-in eats the time and what the
/// sandbox costs. Sorted by any column.
class PluginDspWindow : public QDialog {
    Q_OBJECT

  public:
    PluginDspWindow(OVApplication &application, QWidget *parent);

    QTableWidget *table() const { return list; }
    /// Shows the rack's latest figures.
    void refresh();

    /// The table's columns, in order.
    enum Column {
        TrackColumn,
        PluginColumn,
        WhereColumn,
        MeanColumn,
        PeakColumn,
        HandOverMeanColumn,
        HandOverPeakColumn,
        ColumnCount
    };

  private:
    OVApplication &app;
    QTableWidget *list = nullptr;
    QLabel *summary = nullptr;
};

} // namespace orvane

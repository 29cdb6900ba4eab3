#pragma once

#include "core/model/MidiMappings.h"

#include <QDialog>

#include <cstdint>
#include <vector>

class QPushButton;
class QTableWidget;

namespace orvane {

class OVApplication;

/// Studio ▸ "MIDI Mappings…": every learned controller with the control it moves and its
/// range, and "Remove" for the chosen one (an undoable edit). Follows the project while open.
class MidiMappingsWindow : public QDialog {
    Q_OBJECT

  public:
    MidiMappingsWindow(OVApplication &application, QWidget *parent);

    QTableWidget *table() const { return list; }
    QPushButton *removeButton() const { return remove; }
    /// Shows the project's mappings as they are now.
    void refresh();

  private:
    void removeChosen();

    OVApplication &app;
    QTableWidget *list = nullptr;
    QPushButton *remove = nullptr;
    std::vector<MidiMapping> shown;
    uint64_t seenChanges = 0;
};

} // namespace orvane

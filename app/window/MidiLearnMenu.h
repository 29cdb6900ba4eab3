#pragma once

#include "core/model/MidiMappings.h"
#include "core/model/Project.h"

#include <QString>

class QMenu;
class QPoint;
class QWidget;

namespace orvane {

class OVApplication;

/// What a mapping's target is called in the window: "“Bass” Volume", "“Bass” Send B",
/// "“Bass” Compressor: Threshold", "“Bass” ZamComp: parameter 3".
QString mappedControlName(const Project &project, const MidiMapping &target);

/// Adds "MIDI Learn" (waits for a controller for `target`) and "Forget MIDI Mapping" (enabled
/// while the target has a mapping, which the item names) to a control's context menu.
void addMidiLearnActions(QMenu &menu, OVApplication &application, const MidiMapping &target);

/// A context menu with only those two items, at `globalPosition`.
void showMidiLearnMenu(QWidget *parent, OVApplication &application, const MidiMapping &target,
                       const QPoint &globalPosition);

/// The target of a track's control: its track, lane and parameter, the controller unset.
MidiMapping controlTarget(uint64_t trackId, int32_t lane, uint32_t paramId = 0);

} // namespace orvane

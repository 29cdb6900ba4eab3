#include "app/window/MidiLearnMenu.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/StockEffectPanel.h"
#include "app/workflows/MidiLearning.h"
#include "core/engine/Engine.h"
#include "core/model/AutomationLanes.h"

#include <QCoreApplication>
#include <QMenu>

#include <mutex>

namespace orvane {

namespace {

QString controlOfTrack(const Track &track, const MidiMapping &target) {
    if (target.lane == volumeMappingLane)
        return QCoreApplication::translate("MidiLearnMenu", "Volume");
    if (target.lane == panMappingLane) return QCoreApplication::translate("MidiLearnMenu", "Pan");
    if (target.lane < 0)
        return QCoreApplication::translate("MidiLearnMenu", "Send %1")
            .arg(QChar('A' + sendSlotOfLane(target.lane)));
    const auto index = static_cast<std::size_t>(target.lane - firstInsertLane);
    if (index >= track.inserts.size())
        return QCoreApplication::translate("MidiLearnMenu", "Insert %1").arg(index + 1);
    const InsertSlot &insert = track.inserts[index];
    if (insert.isStock) {
        const QString lane = stockLaneName(insert, target.paramId);
        if (!lane.isEmpty()) return lane;
    }
    return QCoreApplication::translate("MidiLearnMenu", "%1: parameter %2")
        .arg(QString::fromStdString(insert.displayName))
        .arg(target.paramId);
}

} // namespace

MidiMapping controlTarget(uint64_t trackId, int32_t lane, uint32_t paramId) {
    MidiMapping target;
    target.trackId = trackId;
    target.lane = lane;
    target.paramId = paramId;
    return target;
}

QString mappedControlName(const Project &project, const MidiMapping &target) {
    const auto track = project.findTrack(target.trackId);
    if (!track) return QCoreApplication::translate("MidiLearnMenu", "a removed track");
    return QCoreApplication::translate("MidiLearnMenu", "“%1” %2")
        .arg(QString::fromStdString(track->name), controlOfTrack(*track, target));
}

void addMidiLearnActions(QMenu &menu, OVApplication &application, const MidiMapping &target) {
    MidiLearning &learning = application.view().midiLearning();
    QString name;
    {
        std::lock_guard lock(application.engine().projectMutex);
        name = mappedControlName(application.engine().project, target);
    }
    menu.addAction(QCoreApplication::translate("MidiLearnMenu", "MIDI Learn"), &menu,
                   [&application, target, name] {
                       application.view().midiLearning().learn(target, name.toStdString());
                   });
    const std::optional<MidiMapping> mapping = learning.mappingOf(target);
    QAction *forget = menu.addAction(
        QCoreApplication::translate("MidiLearnMenu", "Forget MIDI Mapping"), &menu,
        [&application, target] { (void)application.view().midiLearning().forget(target); });
    // The controller it answers to now, for the user to recognise on the device.
    if (mapping) forget->setToolTip(QString::fromStdString(midiSourceText(*mapping)));
    menu.setToolTipsVisible(true);
    forget->setEnabled(mapping.has_value());
}

void showMidiLearnMenu(QWidget *parent, OVApplication &application, const MidiMapping &target,
                       const QPoint &globalPosition) {
    QMenu menu(parent);
    addMidiLearnActions(menu, application, target);
    menu.exec(globalPosition);
}

} // namespace orvane

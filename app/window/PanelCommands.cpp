#include "app/window/PanelCommands.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"

#include <QCoreApplication>

#include <mutex>
#include <utility>

namespace orvane {

std::unique_ptr<AddInsertCommand> loadInsert(vst::PluginRack &rack, Project &project,
                                             uint64_t trackId, const InsertChoice &choice) {
    const auto track = project.findTrack(trackId);
    if (!track) return nullptr;
    const std::size_t before = track->inserts.size();
    const bool loaded = choice.isStock ? rack.loadStock(trackId, choice.pluginId)
                                       : rack.loadVst3(trackId, choice.bundlePath, choice.pluginId);
    if (!loaded || track->inserts.size() != before + 1) return nullptr;
    return AddInsertCommand::recordLoaded(trackId, track->inserts.back(), before);
}

bool executeAddInsert(OVApplication &application, uint64_t trackId, const InsertChoice &choice) {
    std::lock_guard lock(application.engine().projectMutex);
    auto command = loadInsert(application.rack(), application.engine().project, trackId, choice);
    if (!command) {
        const std::string &what = choice.isStock ? choice.pluginId : choice.bundlePath;
        application.status().setText(
            QCoreApplication::translate("orvane::PanelCommands", "Could not load %1")
                .arg(QString::fromStdString(what))
                .toStdString());
        return false;
    }
    application.view().executeEdit(std::move(command));
    return true;
}

} // namespace orvane

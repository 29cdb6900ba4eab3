#include "app/window/PanelCommands.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "core/engine/Engine.h"
#include "core/vst/PluginRack.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

namespace orvane {

namespace {

bool finiteBand(const EqBandSettings &band) {
    return std::isfinite(band.freq) && std::isfinite(band.gainDb) && std::isfinite(band.q);
}

bool finiteEq(const ChannelEq8 &eq) {
    return std::isfinite(eq.outDb) && std::all_of(eq.bands.begin(), eq.bands.end(), finiteBand);
}

bool finiteMastering(const MasteringUtility &settings) {
    return std::isfinite(settings.loudness) && std::isfinite(settings.exciteAmt) &&
           std::isfinite(settings.width);
}

} // namespace

SetChannelEqCommand::SetChannelEqCommand(uint64_t trackId, ChannelEq8 eq)
    : trackId_(trackId), eq_(eq) {}

ChannelEq8 *SetChannelEqCommand::target(Project &project) const {
    if (trackId_ == 0) return &project.masterEq;
    const auto track = project.findTrack(trackId_);
    return track ? &track->eq : nullptr;
}

void SetChannelEqCommand::redo(Project &project) {
    ChannelEq8 *eq = target(project);
    if (!eq || !finiteEq(eq_)) return;
    before_.capture(*eq);
    *eq = eq_;
}

void SetChannelEqCommand::undo(Project &project) {
    if (ChannelEq8 *eq = target(project)) before_.restoreInto(*eq);
}

std::string SetChannelEqCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Channel EQ"); }

SetMasteringCommand::SetMasteringCommand(MasteringUtility settings) : settings_(settings) {}

void SetMasteringCommand::redo(Project &project) {
    if (!finiteMastering(settings_)) return;
    before_.capture(project.mastering);
    project.mastering = settings_;
}

void SetMasteringCommand::undo(Project &project) { before_.restoreInto(project.mastering); }

std::string SetMasteringCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Mastering"); }

InsertListCommand::InsertListCommand(vst::PluginRack &rack, uint64_t trackId)
    : rack_(rack), trackId_(trackId) {}

template <class Edit> bool InsertListCommand::editInserts(Project &project, Edit edit) {
    const auto track = project.findTrack(trackId_);
    if (!track) return false;
    rack_.saveStatesIntoProject();
    const bool changed = edit(track->inserts);
    if (changed) rack_.restoreFromProject();
    return changed;
}

AddInsertCommand::AddInsertCommand(vst::PluginRack &rack, uint64_t trackId, InsertSlot added,
                                   std::size_t index)
    : InsertListCommand(rack, trackId), added_(std::move(added)), index_(index) {}

std::unique_ptr<AddInsertCommand> AddInsertCommand::load(vst::PluginRack &rack, Project &project,
                                                         uint64_t trackId,
                                                         const InsertChoice &choice) {
    const auto track = project.findTrack(trackId);
    if (!track) return nullptr;
    const std::size_t before = track->inserts.size();
    const bool loaded = choice.isStock ? rack.loadStock(trackId, choice.pluginId)
                                       : rack.loadVst3(trackId, choice.bundlePath, choice.pluginId);
    if (!loaded || track->inserts.size() != before + 1) return nullptr;
    return std::unique_ptr<AddInsertCommand>(
        new AddInsertCommand(rack, trackId, track->inserts.back(), before));
}

void AddInsertCommand::redo(Project &project) {
    if (applied_) return;
    applied_ = editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        const std::size_t at = std::min(index_, inserts.size());
        inserts.insert(inserts.begin() + static_cast<std::ptrdiff_t>(at), added_);
        return true;
    });
}

void AddInsertCommand::undo(Project &project) {
    if (!applied_) return;
    editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        if (index_ >= inserts.size()) return false;
        inserts.erase(inserts.begin() + static_cast<std::ptrdiff_t>(index_));
        return true;
    });
    applied_ = false;
}

bool executeAddInsert(OVApplication &application, uint64_t trackId, const InsertChoice &choice) {
    std::lock_guard lock(application.engine().projectMutex);
    auto command =
        AddInsertCommand::load(application.rack(), application.engine().project, trackId, choice);
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

std::string AddInsertCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Add Insert"); }

RemoveInsertCommand::RemoveInsertCommand(vst::PluginRack &rack, uint64_t trackId,
                                         int32_t insertIndex)
    : InsertListCommand(rack, trackId), index_(insertIndex) {}

void RemoveInsertCommand::redo(Project &project) {
    if (removed_) return;
    editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        if (index_ < 0 || index_ >= static_cast<int32_t>(inserts.size())) return false;
        const auto at = inserts.begin() + index_;
        removed_ = std::move(*at);
        inserts.erase(at);
        return true;
    });
}

void RemoveInsertCommand::undo(Project &project) {
    if (!removed_) return;
    editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        const auto at = std::min(static_cast<std::size_t>(index_), inserts.size());
        inserts.insert(inserts.begin() + static_cast<std::ptrdiff_t>(at), std::move(*removed_));
        return true;
    });
    removed_.reset();
}

std::string RemoveInsertCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Remove Insert");
}

MoveInsertCommand::MoveInsertCommand(vst::PluginRack &rack, uint64_t trackId, int32_t insertIndex,
                                     int32_t offset)
    : InsertListCommand(rack, trackId), index_(insertIndex), offset_(offset) {}

bool MoveInsertCommand::swap(Project &project) {
    return editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        const int32_t count = static_cast<int32_t>(inserts.size());
        const int32_t other = index_ + offset_;
        if (offset_ == 0 || index_ < 0 || index_ >= count || other < 0 || other >= count)
            return false;
        std::swap(inserts[static_cast<std::size_t>(index_)],
                  inserts[static_cast<std::size_t>(other)]);
        return true;
    });
}

void MoveInsertCommand::redo(Project &project) {
    if (!applied_) applied_ = swap(project);
}

void MoveInsertCommand::undo(Project &project) {
    if (applied_) applied_ = !swap(project);
}

std::string MoveInsertCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Move Insert"); }

} // namespace orvane

#include "core/commands/EqAndMasteringCommands.h"

#include <algorithm>
#include <cmath>

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

} // namespace orvane

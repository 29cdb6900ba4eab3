#include "core/commands/InstrumentCommands.h"

#include "core/stock/SynthParameters.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvane {

namespace {

std::shared_ptr<Track> midiTrack(const Project &project, uint64_t trackId) {
    auto track = project.findTrack(trackId);
    return track && track->type == TrackType::Midi ? track : nullptr;
}

stock::SynthValues storedValues(const std::string &stored) {
    stock::SynthValues values = stock::synthDefaultValues();
    (void)stock::readSynthStateText(stored, values, nullptr);
    return values;
}

} // namespace

std::string defaultDrumsState() { return stock::writeDrumStateText(stock::defaultDrumKit()); }

std::string defaultInstrumentState(std::string_view instrument) {
    if (instrument == synthInstrumentId) return defaultSynthState();
    if (instrument == drumsInstrumentId) return defaultDrumsState();
    return {};
}

std::string defaultSynthState() {
    return stock::synthStateText(stock::synthPresetValues(stock::synthFactoryPresets().front()));
}

std::unique_ptr<SetTrackInstrumentCommand>
makeGmInstrumentCommand(uint64_t trackId, const stock::GmSettings &settings, std::string &error) {
    if (!stock::SoundFont::load(settings.font, error)) return nullptr;
    return std::make_unique<SetTrackInstrumentCommand>(trackId, std::string(gmInstrumentId),
                                                       stock::writeGmStateText(settings));
}

SetTrackInstrumentCommand::SetTrackInstrumentCommand(uint64_t trackId, std::string instrument,
                                                     std::string state)
    : trackId_(trackId), choice_{std::move(instrument), std::move(state)} {}

void SetTrackInstrumentCommand::redo(Project &project) {
    const auto track = midiTrack(project, trackId_);
    if (!track) return;
    before_.capture(Choice{track->instrument, track->instrumentState});
    track->instrument = choice_.instrument;
    track->instrumentState = choice_.state;
}

void SetTrackInstrumentCommand::undo(Project &project) {
    const auto track = midiTrack(project, trackId_);
    if (!track || !before_.captured()) return;
    track->instrument = before_.value().instrument;
    track->instrumentState = before_.value().state;
}

std::string SetTrackInstrumentCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Track Instrument");
}

void InstrumentStateEdit::redo(Project &project) {
    const auto track = midiTrack(project, trackId_);
    applied_ = track && track->instrument == instrument_;
    if (!applied_) return;
    std::string state = edited(track->instrumentState);
    applied_ = !state.empty();
    if (!applied_) return;
    before_.capture(track->instrumentState);
    track->instrumentState = std::move(state);
}

void InstrumentStateEdit::undo(Project &project) {
    if (!applied_) return;
    if (const auto track = midiTrack(project, trackId_))
        before_.restoreInto(track->instrumentState);
}

ApplySynthPresetCommand::ApplySynthPresetCommand(uint64_t trackId, std::string preset)
    : SynthStateEdit(trackId), preset_(std::move(preset)) {}

std::string ApplySynthPresetCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Instrument Preset");
}

std::string ApplySynthPresetCommand::edited(const std::string &) const {
    const stock::SynthPreset *preset = stock::findSynthPreset(preset_);
    return preset ? stock::synthStateText(stock::synthPresetValues(*preset)) : std::string();
}

SetSynthParameterCommand::SetSynthParameterCommand(uint64_t trackId, int32_t parameter, float value)
    : SynthStateEdit(trackId), parameter_(parameter), value_(value) {}

std::string SetSynthParameterCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Instrument Parameter");
}

std::string SetSynthParameterCommand::edited(const std::string &stored) const {
    if (parameter_ < 0 || parameter_ >= stock::synthParamCount || !std::isfinite(value_)) return {};
    stock::SynthValues values = storedValues(stored);
    const auto index = static_cast<std::size_t>(parameter_);
    values[index] = stock::clampSynthValue(stock::synthParameters()[index], value_);
    return stock::synthStateText(values);
}

std::string DrumStateEdit::edited(const std::string &stored) const {
    stock::DrumKit kit = stock::drumKitOfState(stored);
    if (!edit(kit)) return {};
    stock::clampDrumKit(kit);
    return stock::writeDrumStateText(kit);
}

SetDrumPadCommand::SetDrumPadCommand(uint64_t trackId, int32_t pad, DrumPadSetting setting,
                                     float value)
    : DrumStateEdit(trackId), pad_(pad), setting_(setting), value_(value) {}

std::string SetDrumPadCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Drum Pad"); }

bool SetDrumPadCommand::edit(stock::DrumKit &kit) const {
    if (pad_ < 0 || static_cast<std::size_t>(pad_) >= kit.pads.size() || !std::isfinite(value_))
        return false;
    stock::DrumPad &pad = kit.pads[static_cast<std::size_t>(pad_)];
    const auto whole = [this](int32_t low, int32_t high) {
        const float inRange = std::clamp(value_, static_cast<float>(low), static_cast<float>(high));
        return static_cast<int32_t>(std::lround(inRange));
    };
    switch (setting_) {
    case DrumPadSetting::Note: pad.note = whole(0, 127); return true;
    case DrumPadSetting::Gain: pad.gainDb = value_; return true;
    case DrumPadSetting::Pan: pad.pan = value_; return true;
    case DrumPadSetting::Tune: pad.tune = value_; return true;
    case DrumPadSetting::ChokeGroup:
        pad.chokeGroup = whole(0, stock::drum_limits::maxChokeGroup);
        return true;
    }
    return false;
}

SetDrumSampleCommand::SetDrumSampleCommand(uint64_t trackId, int32_t pad, int32_t layer,
                                           std::string file)
    : DrumStateEdit(trackId), pad_(pad), layer_(layer), file_(std::move(file)) {}

std::string SetDrumSampleCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Drum Sample");
}

bool SetDrumSampleCommand::edit(stock::DrumKit &kit) const {
    if (pad_ < 0 || static_cast<std::size_t>(pad_) >= kit.pads.size() || file_.empty() ||
        file_.find('\n') != std::string::npos)
        return false;
    std::vector<stock::DrumLayer> &layers = kit.pads[static_cast<std::size_t>(pad_)].layers;
    if (layer_ < 0 || static_cast<std::size_t>(layer_) > layers.size() ||
        static_cast<std::size_t>(layer_) >= stock::drum_limits::maxLayers)
        return false;
    if (static_cast<std::size_t>(layer_) == layers.size()) layers.push_back(stock::DrumLayer{});
    layers[static_cast<std::size_t>(layer_)].file = file_;
    return true;
}

AddDrumLayerCommand::AddDrumLayerCommand(uint64_t trackId, int32_t pad, std::string file)
    : DrumStateEdit(trackId), pad_(pad), file_(std::move(file)) {}

std::string AddDrumLayerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Add Velocity Layer");
}

bool AddDrumLayerCommand::edit(stock::DrumKit &kit) const {
    if (pad_ < 0 || static_cast<std::size_t>(pad_) >= kit.pads.size() || file_.empty() ||
        file_.find('\n') != std::string::npos)
        return false;
    std::vector<stock::DrumLayer> &layers = kit.pads[static_cast<std::size_t>(pad_)].layers;
    if (layers.size() >= stock::drum_limits::maxLayers) return false;
    layers.push_back(stock::DrumLayer{file_});
    stock::spreadVelocityLayers(layers);
    return true;
}

RemoveDrumLayerCommand::RemoveDrumLayerCommand(uint64_t trackId, int32_t pad, int32_t layer)
    : DrumStateEdit(trackId), pad_(pad), layer_(layer) {}

std::string RemoveDrumLayerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Remove Velocity Layer");
}

bool RemoveDrumLayerCommand::edit(stock::DrumKit &kit) const {
    if (pad_ < 0 || static_cast<std::size_t>(pad_) >= kit.pads.size()) return false;
    std::vector<stock::DrumLayer> &layers = kit.pads[static_cast<std::size_t>(pad_)].layers;
    if (layers.size() < 2 || layer_ < 0 || static_cast<std::size_t>(layer_) >= layers.size())
        return false;
    layers.erase(layers.begin() + layer_);
    stock::spreadVelocityLayers(layers);
    return true;
}

} // namespace orvane

#include "core/commands/tests/support/MixerCommandTable.h"

#include "core/commands/EqAndMasteringCommands.h"
#include "core/commands/InsertEdits.h"
#include "core/commands/InsertListCommands.h"
#include "core/commands/MidiMappingCommands.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/PluginPresetCommands.h"
#include "core/commands/SnapshotCommands.h"
#include "core/commands/TagAndTuningCommands.h"
#include "core/commands/tests/support/ArgumentDrawing.h"
#include "core/model/StockEffectSettings.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

namespace orvane::testing {

namespace {

using namespace drawing;

uint64_t someReturnId(const Project &project, Random &random) {
    std::vector<uint64_t> ids{0};
    for (const auto &track : project.tracks)
        if (track->type == TrackType::Return) ids.push_back(track->id);
    return pick(random, ids);
}

/// Mostly a valid index; otherwise one just outside the list.
int32_t someIndex(Random &random, std::size_t count) {
    if (count > 0 && chance(random, 80))
        return static_cast<int32_t>(between(random, 0, static_cast<int64_t>(count) - 1));
    return chance(random, 50) ? -1 : static_cast<int32_t>(count);
}

/// Mostly a track with inserts, when there is one.
uint64_t trackWithInserts(const Project &project, Random &random) {
    std::vector<uint64_t> ids;
    for (const auto &track : project.tracks)
        if (!track->inserts.empty()) ids.push_back(track->id);
    return !ids.empty() && chance(random, 80) ? pick(random, ids) : someTrackId(project, random);
}

std::size_t someListIndex(Random &random, std::size_t count) {
    return static_cast<std::size_t>(between(random, 0, static_cast<int64_t>(count)));
}

std::size_t insertCount(const Project &project, uint64_t trackId) {
    const auto track = project.findTrack(trackId);
    return track ? track->inserts.size() : 0;
}

std::array<float, 12> someCents(Random &random) {
    std::array<float, 12> cents{};
    for (auto &value : cents)
        value = static_cast<float>(between(random, -5000, 5000)) / 100.0f;
    if (chance(random, 5)) cents[static_cast<std::size_t>(between(random, 0, 11))] = std::nanf("");
    return cents;
}

std::string someTag(Random &random) {
    return pick(random, std::vector<std::string>{"Drums", "Тёплый", "Bus", ""});
}

CommandTableRow trackMixerRow() {
    return {"SetTrackMixerCommand", [](const Project &project, Random &random) {
                return recipe<SetTrackMixerCommand>(
                    "SetTrackMixer", someTrackId(project, random), someValue(random, 0, 200),
                    someValue(random, -100, 100), chance(random, 30), chance(random, 20));
            }};
}

CommandTableRow sendRow() {
    return {"SetTrackSendCommand", [](const Project &project, Random &random) {
                const SendSlot send{someReturnId(project, random), someValue(random, 0, 150),
                                    chance(random, 30)};
                return recipe<SetTrackSendCommand>("SetTrackSend", someTrackId(project, random),
                                                   static_cast<int32_t>(between(random, -1, 4)),
                                                   send);
            }};
}

CommandTableRow macroRow() {
    return {"SetTrackMacroCommand", [](const Project &project, Random &random) {
                return recipe<SetTrackMacroCommand>("SetTrackMacro", someTrackId(project, random),
                                                    static_cast<int32_t>(between(random, -1, 4)),
                                                    someValue(random, -50, 170));
            }};
}

CommandTableRow bypassRow() {
    return {"ToggleInsertBypassCommand", [](const Project &project, Random &random) {
                const uint64_t track = trackWithInserts(project, random);
                return recipe<ToggleInsertBypassCommand>(
                    "ToggleInsertBypass", track, someIndex(random, insertCount(project, track)));
            }};
}

CommandTableRow inProcessRow() {
    return {"SetPluginsInProcessCommand", [](const Project &project, Random &random) {
                // An insert, a whole track or the whole song, in or out of the process.
                const uint64_t track = chance(random, 20) ? 0 : trackWithInserts(project, random);
                const int32_t index = chance(random, 30)
                                          ? -1
                                          : someIndex(random, insertCount(project, track));
                return recipe<SetPluginsInProcessCommand>("SetPluginsInProcess", track, index,
                                                          chance(random, 60));
            }};
}

CommandTableRow stockEffectRow() {
    return {"SetStockEffectSettingsCommand", [](const Project &project, Random &random) {
                // Mostly a built-in insert with settings, sometimes any insert or none.
                std::vector<std::pair<uint64_t, int32_t>> builtIn;
                for (const auto &track : project.tracks)
                    for (std::size_t i = 0; i < track->inserts.size(); ++i)
                        if (track->inserts[i].isStock &&
                            !stockParametersOf(track->inserts[i].pluginId).empty())
                            builtIn.emplace_back(track->id, static_cast<int32_t>(i));
                auto [track, index] = !builtIn.empty() && chance(random, 80)
                                          ? pick(random, builtIn)
                                          : std::pair{trackWithInserts(project, random), 0};
                if (index == 0 && chance(random, 20))
                    index = someIndex(random, insertCount(project, track));
                std::vector<float> values;
                for (int i = between(random, 0, 6); i > 0; --i)
                    values.push_back(someValue(random, -6000, 250000));
                return recipe<SetStockEffectSettingsCommand>("SetStockEffectSettings", track,
                                                             index, values);
            }};
}

CommandTableRow pluginParameterRow() {
    return {"SetPluginParameterCommand", [](const Project &project, Random &random) {
                const uint64_t track = trackWithInserts(project, random);
                // Sometimes outside the range, sometimes no number at all.
                const float newValue = someValue(random, -20, 120);
                return recipe<SetPluginParameterCommand>(
                    "SetPluginParameter", track, someIndex(random, insertCount(project, track)),
                    static_cast<uint32_t>(between(random, 0, 3)), someValue(random, 0, 100),
                    newValue);
            }};
}

CommandTableRow pluginPresetRow() {
    return {"LoadPluginPresetCommand", [](const Project &project, Random &random) {
                // Mostly an insert of a plug-in, which alone takes presets.
                std::vector<std::pair<uint64_t, int32_t>> plugins;
                for (const auto &track : project.tracks)
                    for (std::size_t i = 0; i < track->inserts.size(); ++i)
                        if (!track->inserts[i].isStock)
                            plugins.emplace_back(track->id, static_cast<int32_t>(i));
                uint64_t track = trackWithInserts(project, random);
                int32_t index = someIndex(random, insertCount(project, track));
                if (!plugins.empty() && chance(random, 80))
                    std::tie(track, index) = pick(random, plugins);
                // Mostly the insert's own plug-in; sometimes another, or no state at all.
                std::string pluginId = "vst3:E5F6";
                if (index >= 0 && index < static_cast<int32_t>(insertCount(project, track)) &&
                    chance(random, 85))
                    pluginId =
                        project.findTrack(track)->inserts[static_cast<std::size_t>(index)].pluginId;
                std::vector<uint8_t> state;
                for (int64_t i = chance(random, 10) ? 0 : between(random, 1, 6); i > 0; --i)
                    state.push_back(static_cast<uint8_t>(between(random, 0, 255)));
                return recipe<LoadPluginPresetCommand>("LoadPluginPreset", track, index, pluginId,
                                                       state);
            }};
}

ChannelEq8 someEq(Random &random) {
    ChannelEq8 eq;
    eq.enabled = chance(random, 80);
    eq.bypass = chance(random, 20);
    eq.outDb = someValue(random, -1200, 1200);
    for (auto &band : eq.bands) {
        if (chance(random, 50)) continue;
        band.type = static_cast<uint8_t>(between(random, 0, 4));
        band.freq = someValue(random, 2000, 2000000);
        band.gainDb = someValue(random, -1800, 1800);
        band.q = someValue(random, 10, 1000);
        band.enabled = chance(random, 80);
    }
    return eq;
}

std::string describeEq(const ChannelEq8 &eq) {
    std::string text = "eq(" + std::to_string(eq.outDb);
    for (const auto &band : eq.bands)
        text += ", " + std::to_string(band.freq) + "/" + std::to_string(band.gainDb) + "/" +
                std::to_string(band.q);
    return text + ")";
}

CommandTableRow channelEqRow() {
    return {"SetChannelEqCommand", [](const Project &project, Random &random) {
                // Track 0 is the master bus.
                const uint64_t track = chance(random, 25) ? 0 : someTrackId(project, random);
                const ChannelEq8 eq = someEq(random);
                return CommandRecipe{
                    "SetChannelEq(" + std::to_string(track) + ", " + describeEq(eq) + ")",
                    [track, eq] { return std::make_unique<SetChannelEqCommand>(track, eq); }};
            }};
}

CommandTableRow masteringRow() {
    return {"SetMasteringCommand", [](const Project &, Random &random) {
                MasteringUtility settings;
                settings.enabled = chance(random, 80);
                settings.bypass = chance(random, 20);
                settings.character = static_cast<int32_t>(between(random, 0, 3));
                settings.loudness = someValue(random, 0, 100);
                settings.excite = chance(random, 50);
                settings.exciteAmt = someValue(random, 0, 100);
                settings.width = someValue(random, 0, 200);
                settings.loudCmp = chance(random, 50);
                const std::string text = "SetMastering(" + std::to_string(settings.character) +
                                         ", " + std::to_string(settings.loudness) + ", " +
                                         std::to_string(settings.exciteAmt) + ", " +
                                         std::to_string(settings.width) + ")";
                return CommandRecipe{
                    text, [settings] { return std::make_unique<SetMasteringCommand>(settings); }};
            }};
}

InsertSlot someInsert(Random &random) {
    if (chance(random, 30))
        return {"vst3:C3D4", "Delay", "/plugins/Delay.vst3", {1, 2}, chance(random, 20), false,
                0,           {}};
    const std::string id =
        pick(random, std::vector<std::string>{"stock.eq", "stock.comp", "stock.delay"});
    return {id, id, {}, {}, chance(random, 20), true, 0, {}};
}

CommandTableRow addInsertRow() {
    return {"AddInsertCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                // Now and then past the end, where the insert goes last.
                const std::size_t index = someListIndex(random, insertCount(project, track) +
                                                                    (chance(random, 15) ? 3 : 0));
                const InsertSlot insert = someInsert(random);
                return CommandRecipe{"AddInsert(" + std::to_string(track) + ", \"" +
                                         insert.pluginId + "\", " + std::to_string(index) + ")",
                                     [track, insert, index] {
                                         return std::make_unique<AddInsertCommand>(track, insert,
                                                                                   index);
                                     }};
            }};
}

CommandTableRow removeInsertRow() {
    return {"RemoveInsertCommand", [](const Project &project, Random &random) {
                const uint64_t track = trackWithInserts(project, random);
                return recipe<RemoveInsertCommand>("RemoveInsert", track,
                                                   someIndex(random, insertCount(project, track)));
            }};
}

CommandTableRow moveInsertRow() {
    return {
        "MoveInsertCommand", [](const Project &project, Random &random) {
            // Mostly a track with two inserts or more and a neighbour in the list, so that
            // the move has something to swap with.
            std::vector<uint64_t> ids;
            for (const auto &track : project.tracks)
                if (track->inserts.size() > 1) ids.push_back(track->id);
            const uint64_t track = !ids.empty() && chance(random, 80)
                                       ? pick(random, ids)
                                       : trackWithInserts(project, random);
            const std::size_t count = insertCount(project, track);
            if (count > 1 && chance(random, 80)) {
                const auto index =
                    static_cast<int32_t>(between(random, 0, static_cast<int64_t>(count) - 2));
                return chance(random, 50)
                           ? recipe<MoveInsertCommand>("MoveInsert", track, index, int32_t{1})
                           : recipe<MoveInsertCommand>("MoveInsert", track, index + 1, int32_t{-1});
            }
            return recipe<MoveInsertCommand>("MoveInsert", track, someIndex(random, count),
                                             pick(random, std::vector<int32_t>{-1, 1, -2, 0, 3}));
        }};
}

CommandTableRow pluginTagRow() {
    return {"TogglePluginUserTagCommand", [](const Project &, Random &random) {
                const std::string plugin =
                    pick(random, std::vector<std::string>{"stock.comp", "vst3:A1B2", ""});
                return recipe<TogglePluginUserTagCommand>("TogglePluginUserTag", plugin,
                                                          someTag(random));
            }};
}

CommandTableRow audioTagRow() {
    return {"ToggleAudioMediaTagCommand", [](const Project &, Random &random) {
                const std::string media =
                    pick(random, std::vector<std::string>{"media/clip_1.wav", "loop.wav", ""});
                return recipe<ToggleAudioMediaTagCommand>("ToggleAudioMediaTag", media,
                                                          someTag(random));
            }};
}

CommandTableRow captureRow() {
    return {"CaptureMixerSnapshotCommand", [](const Project &, Random &random) {
                const std::string name =
                    pick(random, std::vector<std::string>{"A", "B", "Мастер", "Loaded"});
                return recipe<CaptureMixerSnapshotCommand>("CaptureMixerSnapshot", name);
            }};
}

CommandTableRow recallRow() {
    return {"RecallMixerSnapshotCommand", [](const Project &project, Random &random) {
                return recipe<RecallMixerSnapshotCommand>(
                    "RecallMixerSnapshot", someListIndex(random, project.mixerSnapshots.size()));
            }};
}

CommandTableRow recallHistoryRow() {
    return {"RecallMixerHistoryCommand", [](const Project &project, Random &random) {
                return recipe<RecallMixerHistoryCommand>(
                    "RecallMixerHistory",
                    someListIndex(random, project.mixerSnapshotHistory.size()));
            }};
}

CommandTableRow controlRoomRow() {
    return {"SetControlRoomCommand", [](const Project &, Random &random) {
                const ControlRoomSettings settings{someValue(random, 0, 200),
                                                   someValue(random, 0, 200), chance(random, 50),
                                                   chance(random, 50), chance(random, 20)};
                return recipe<SetControlRoomCommand>("SetControlRoom", settings);
            }};
}

CommandTableRow lowLatencyRow() {
    return {"SetLowLatencyModeCommand", [](const Project &, Random &random) {
                return recipe<SetLowLatencyModeCommand>("SetLowLatencyMode", chance(random, 50));
            }};
}

CommandTableRow scalaPresetRow() {
    return {"SetScalaPresetCommand", [](const Project &, Random &random) {
                return recipe<SetScalaPresetCommand>("SetScalaPreset",
                                                     static_cast<int32_t>(between(random, -1, 6)),
                                                     someCents(random));
            }};
}

CommandTableRow scalaFileRow() {
    return {"SetScalaFromFileCommand", [](const Project &, Random &random) {
                const std::string name =
                    pick(random, std::vector<std::string>{"Werckmeister III", "Пифагоров", ""});
                return recipe<SetScalaFromFileCommand>("SetScalaFromFile", name, someCents(random));
            }};
}

CommandTableRow kbmRow() {
    return {"SetKbmMappingCommand", [](const Project &, Random &random) {
                std::vector<int32_t> degrees;
                for (int64_t i = between(random, 0, 12); i > 0; --i)
                    degrees.push_back(static_cast<int32_t>(between(random, -1, 11)));
                return recipe<SetKbmMappingCommand>(
                    "SetKbmMapping", std::string(chance(random, 50) ? "white keys" : ""), degrees);
            }};
}

/// Mostly a mapping a control could learn; now and then a channel or lane no controller has.
MidiMapping someMapping(const Project &project, Random &random) {
    MidiMapping mapping;
    mapping.channel = static_cast<int32_t>(between(random, chance(random, 5) ? -1 : 0, 15));
    mapping.kind = static_cast<MidiSourceKind>(between(random, 0, 2));
    mapping.number = static_cast<int32_t>(between(random, 0, 3));
    mapping.trackId = someTrackId(project, random);
    mapping.lane = static_cast<int32_t>(between(random, sendMappingLane(3), 2));
    if (chance(random, 30)) mapping.lane = insertAutomationLane(someListIndex(random, 2));
    mapping.paramId = static_cast<uint32_t>(between(random, 0, 3));
    mapping.minimum = someValue(random, -100, 100);
    mapping.maximum = someValue(random, -100, 200);
    return mapping;
}

CommandTableRow learnMappingRow() {
    return {"LearnMidiMappingCommand", [](const Project &project, Random &random) {
                return recipe<LearnMidiMappingCommand>("LearnMidiMapping",
                                                       someMapping(project, random));
            }};
}

CommandTableRow removeMappingRow() {
    return {"RemoveMidiMappingCommand", [](const Project &project, Random &random) {
                const MidiMapping mapping = !project.midiMappings.empty() && chance(random, 80)
                                                ? pick(random, project.midiMappings)
                                                : someMapping(project, random);
                return recipe<RemoveMidiMappingCommand>("RemoveMidiMapping", mapping);
            }};
}

} // namespace

std::vector<CommandTableRow> mixerCommandRows() {
    return {trackMixerRow(),  sendRow(),          macroRow(),        bypassRow(),
            stockEffectRow(), pluginTagRow(),     audioTagRow(),     captureRow(),
            recallRow(),      recallHistoryRow(), controlRoomRow(),  lowLatencyRow(),
            scalaPresetRow(), scalaFileRow(),     kbmRow(),          channelEqRow(),
            masteringRow(),   addInsertRow(),     removeInsertRow(), moveInsertRow(),
            pluginPresetRow(), inProcessRow()};
}

std::vector<CommandTableRow> pluginParameterCommandRows() { return {pluginParameterRow()}; }

std::vector<CommandTableRow> midiMappingCommandRows() {
    return {learnMappingRow(), removeMappingRow()};
}

/// What the random project lacks and these commands read: VST 3 inserts with parameter
/// automation, snapshots and a full history as a file gives them back, and tags.
Project withPluginAndMixerState(Project project, Random &random) {
    for (auto &track : project.tracks) {
        if (chance(random, 40)) continue;
        InsertSlot insert{"vst3:A1B2", "Gain", "/plugins/Gain.vst3", {7}, chance(random, 30), false,
                          3,           {}};
        if (chance(random, 70)) insert.paramAutomation = {{0, 0.2f}, {4800, 0.8f}};
        track->inserts.push_back(insert);
    }
    MixerSnapshot loaded{"Loaded", {}, {0.5f, 1.0f, true, false, false}, false};
    for (const auto &track : project.tracks)
        loaded.tracks.push_back({track->id, 0.25f, -0.5f, true, false, {}, {}});
    project.mixerSnapshots.push_back(loaded);
    for (int64_t i = between(random, 0, 34); i > 0; --i)
        project.mixerSnapshotHistory.push_back({"Capture Loaded", loaded});
    // Learned controllers for removal to find, drawn from nothing so that the stream stays.
    for (const auto &track : project.tracks)
        project.midiMappings.push_back({0, MidiSourceKind::ControlChange,
                                        static_cast<int32_t>(track->id & 127), track->id,
                                        volumeMappingLane, 0, 0.0f, 1.0f});
    project.pluginUserTags["stock.comp"] = {"Bus", "Drums"};
    project.audioMediaTags["loop.wav"] = {"Тёплый"};
    return project;
}

PluginParameterStandIn::PluginParameterStandIn() {
    setPluginParameterHook([](const PluginParameterAddress &address, float normalized) {
        std::vector<uint8_t> state(sizeof address.parameterId + sizeof normalized);
        std::memcpy(state.data(), &address.parameterId, sizeof address.parameterId);
        std::memcpy(state.data() + sizeof address.parameterId, &normalized, sizeof normalized);
        return std::optional<std::vector<uint8_t>>(std::move(state));
    });
}

PluginParameterStandIn::~PluginParameterStandIn() { setPluginParameterHook({}); }

} // namespace orvane::testing

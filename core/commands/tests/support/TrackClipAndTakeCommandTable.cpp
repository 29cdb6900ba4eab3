#include "core/commands/tests/support/TrackClipAndTakeCommandTable.h"

#include "core/commands/tests/support/ArgumentDrawing.h"

#include "core/commands/ClipCommands.h"
#include "core/commands/ClipSettingCommands.h"
#include "core/commands/ImportMidiCommand.h"
#include "core/commands/InstrumentCommands.h"
#include "core/commands/SandboxCommands.h"
#include "core/commands/TakeCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/stock/SynthParameters.h"

#include <limits>
#include <optional>
#include <string>

namespace orvane::testing {

namespace {

std::vector<std::shared_ptr<Clip>> allClips(const Project &project) {
    std::vector<std::shared_ptr<Clip>> clips;
    for (const auto &track : project.tracks)
        clips.insert(clips.end(), track->clips.begin(), track->clips.end());
    return clips;
}

using drawing::missingId;
using drawing::pick;

uint64_t someClipId(const Project &project, Random &random) {
    const auto clips = allClips(project);
    if (clips.empty() || chance(random, 15)) return missingId(random, project.nextClipId);
    return pick(random, clips)->id;
}

/// Mostly a clip on the same track as `clipId`, so that two-clip commands get past their checks.
uint64_t partnerClipId(const Project &project, uint64_t clipId, Random &random) {
    const auto clip = project.findClip(clipId);
    const auto track = clip ? project.findTrack(clip->trackId) : nullptr;
    if (!track || chance(random, 25)) return someClipId(project, random);
    return pick(random, track->clips)->id;
}

uint64_t someTrackId(const Project &project, Random &random) {
    if (project.tracks.empty() || chance(random, 15)) return missingId(random, project.nextTrackId);
    return pick(random, project.tracks)->id;
}

/// The clip's edges, points inside and points beyond it.
int64_t somePosition(const Project &project, uint64_t clipId, Random &random) {
    const auto clip = project.findClip(clipId);
    if (!clip) return between(random, -1000, 200000);
    const int64_t start = clip->arrangeStart;
    const int64_t length = clip->length;
    switch (between(random, 0, 3)) {
    case 0: return start;
    case 1: return start + length;
    default: return start + between(random, -length / 2 - 1, length + length / 2 + 1);
    }
}

int64_t someLength(Random &random) {
    return chance(random, 20) ? between(random, -5, 1) : between(random, 2, 120000);
}

std::string call(const std::string &name, std::initializer_list<std::string> arguments) {
    std::string text = name + "(";
    for (const auto &argument : arguments)
        text += (text.back() == '(' ? "" : ", ") + argument;
    return text + ")";
}

template <typename CommandType> CommandTableRow oneClipRow(const char *name) {
    return {name, [name](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                return CommandRecipe{call(name, {std::to_string(clip)}),
                                     [clip] { return std::make_unique<CommandType>(clip); }};
            }};
}

CommandTableRow addTrackRow() {
    return {"AddTrackCommand", [](const Project &, Random &random) {
                const auto type = static_cast<TrackType>(between(random, 0, 3));
                const std::string name = chance(random, 50) ? "" : "Вокал";
                // The window gives a new track the synth; other callers give none.
                const bool synth = chance(random, 50);
                const std::string instrument = synth ? std::string(synthInstrumentId) : "";
                const std::string state = synth ? defaultSynthState() : "";
                return CommandRecipe{
                    call("AddTrack", {std::to_string(static_cast<int>(type)), name, instrument}),
                    [type, name, instrument, state] {
                        return std::make_unique<AddTrackCommand>(type, name, instrument, state);
                    }};
            }};
}

CommandTableRow removeTrackRow() {
    return {"RemoveTrackCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                return CommandRecipe{call("RemoveTrack", {std::to_string(track)}), [track] {
                                         return std::make_unique<RemoveTrackCommand>(track);
                                     }};
            }};
}

/// The track settings a header and the track menu edit, with values in and out of range.
std::vector<CommandTableRow> trackSettingRows() {
    const auto row = [](const char *name, auto make) {
        return CommandTableRow{name, [name, make](const Project &project, Random &random) {
                                   const uint64_t track = someTrackId(project, random);
                                   const int64_t value = between(random, -2, 9);
                                   return CommandRecipe{
                                       call(name, {std::to_string(track), std::to_string(value)}),
                                       [=] { return make(track, value); }};
                               }};
    };
    return {row("RenameTrackCommand",
                [](uint64_t track, int64_t value) {
                    return std::make_unique<RenameTrackCommand>(
                        track, value < 0 ? "" : "Дорожка " + std::to_string(value));
                }),
            row("SetTrackColorCommand",
                [](uint64_t track, int64_t value) {
                    return std::make_unique<SetTrackColorCommand>(
                        track, 0xFF000000u | static_cast<uint32_t>(value * 0x151515));
                }),
            row("SetTrackInputPairCommand",
                [](uint64_t track, int64_t value) {
                    return std::make_unique<SetTrackInputPairCommand>(track,
                                                                      static_cast<int32_t>(value));
                }),
            row("SetTrackMonitorCommand",
                [](uint64_t track, int64_t value) {
                    return std::make_unique<SetTrackMonitorCommand>(
                        track, static_cast<MonitorMode>((value + 2) % 3));
                }),
            row("SetTrackSandboxGroupingCommand",
                [](uint64_t track, int64_t value) {
                    return std::make_unique<SetTrackSandboxGroupingCommand>(
                        track,
                        value % 2 != 0 ? SandboxGrouping::PerTrack : SandboxGrouping::PerPlugin);
                }),
            row("SetTrackArmedCommand",
                [](uint64_t track, int64_t value) {
                    return std::make_unique<SetTrackArmedCommand>(track, value % 2 != 0);
                }),
            row("MoveTrackCommand", [](uint64_t track, int64_t value) {
                return std::make_unique<MoveTrackCommand>(track,
                                                          static_cast<std::size_t>(value + 2));
            })};
}

/// Copies of up to three clips, pasted at a position on some track.
CommandTableRow pasteRow() {
    return {"PasteClipsCommand", [](const Project &project, Random &random) {
                std::vector<std::shared_ptr<const Clip>> copied;
                std::string ids;
                for (int64_t count = between(random, 0, 3); count > 0; --count)
                    if (const auto clip = project.findClip(someClipId(project, random))) {
                        copied.push_back(cloneClipForUndo(*clip));
                        ids += std::to_string(clip->id) + " ";
                    }
                const int64_t position = between(random, -100, 300000);
                const uint64_t track = chance(random, 20) ? 0 : someTrackId(project, random);
                return CommandRecipe{
                    call("PasteClips", {ids, std::to_string(position), std::to_string(track)}),
                    [=] { return std::make_unique<PasteClipsCommand>(copied, position, track); }};
            }};
}

/// Two or three clip deletions and a move made as one step.
CommandTableRow groupRow() {
    return {"EditGroupCommand", [](const Project &project, Random &random) {
                std::vector<uint64_t> deleted;
                for (int64_t count = between(random, 1, 3); count > 0; --count)
                    deleted.push_back(someClipId(project, random));
                const uint64_t moved = someClipId(project, random);
                const int64_t start = between(random, 0, 200000);
                std::string text;
                for (const uint64_t id : deleted)
                    text += std::to_string(id) + " ";
                return CommandRecipe{
                    call("EditGroup", {text, std::to_string(moved), std::to_string(start)}), [=] {
                        std::vector<std::unique_ptr<Command>> steps;
                        steps.push_back(std::make_unique<MoveClipCommand>(moved, start, 0));
                        for (const uint64_t id : deleted)
                            steps.push_back(std::make_unique<DeleteClipCommand>(id));
                        return std::make_unique<EditGroupCommand>("Delete Clips", std::move(steps));
                    }};
            }};
}

/// An empty MIDI clip on some track (refused on a track of another kind).
CommandTableRow insertMidiClipRow() {
    return {"InsertMidiClipCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                const int64_t start = between(random, -100, 300000);
                const int64_t length = between(random, 0, 96000);
                return CommandRecipe{
                    call("InsertMidiClip",
                         {std::to_string(track), std::to_string(start), std::to_string(length)}),
                    [=] { return std::make_unique<InsertMidiClipCommand>(track, start, length); }};
            }};
}

/// A copy right after its source, or at a chosen start (as a selection's block is copied).
CommandTableRow duplicateRow() {
    return {"DuplicateClipCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const std::optional<int64_t> start =
                    chance(random, 50) ? std::nullopt
                                       : std::optional<int64_t>(between(random, -100, 300000));
                return CommandRecipe{
                    call("DuplicateClip",
                         {std::to_string(clip), start ? std::to_string(*start) : "next"}),
                    [=] { return std::make_unique<DuplicateClipCommand>(clip, start); }};
            }};
}

CommandTableRow splitRow() {
    return {"SplitClipCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const int64_t position = somePosition(project, clip, random);
                return CommandRecipe{
                    call("SplitClip", {std::to_string(clip), std::to_string(position)}),
                    [=] { return std::make_unique<SplitClipCommand>(clip, position); }};
            }};
}

CommandTableRow moveRow() {
    return {"MoveClipCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const int64_t start = between(random, -2000, 200000);
                const uint64_t track = chance(random, 40) ? 0 : someTrackId(project, random);
                return CommandRecipe{
                    call("MoveClip",
                         {std::to_string(clip), std::to_string(start), std::to_string(track)}),
                    [=] { return std::make_unique<MoveClipCommand>(clip, start, track); }};
            }};
}

CommandTableRow trimRow() {
    return {"TrimClipCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const int64_t start = somePosition(project, clip, random);
                const int64_t length = someLength(random);
                const int64_t offset = between(random, -100, 9000);
                return CommandRecipe{
                    call("TrimClip", {std::to_string(clip), std::to_string(start),
                                      std::to_string(length), std::to_string(offset)}),
                    [=] { return std::make_unique<TrimClipCommand>(clip, start, length, offset); }};
            }};
}

CommandTableRow glueRow() {
    return {"GlueClipsCommand", [](const Project &project, Random &random) {
                const uint64_t first = someClipId(project, random);
                const uint64_t second = partnerClipId(project, first, random);
                return CommandRecipe{
                    call("GlueClips", {std::to_string(first), std::to_string(second)}),
                    [=] { return std::make_unique<GlueClipsCommand>(first, second); }};
            }};
}

CommandTableRow crossfadeRow() {
    return {"CrossfadeClipsCommand", [](const Project &project, Random &random) {
                const uint64_t first = someClipId(project, random);
                const uint64_t second = partnerClipId(project, first, random);
                const int64_t length = someLength(random);
                return CommandRecipe{
                    call("CrossfadeClips",
                         {std::to_string(first), std::to_string(second), std::to_string(length)}),
                    [=] { return std::make_unique<CrossfadeClipsCommand>(first, second, length); }};
            }};
}

CommandTableRow gainRow() {
    return {"SetClipGainCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const float gain = chance(random, 5)
                                       ? std::numeric_limits<float>::quiet_NaN()
                                       : static_cast<float>(between(random, -200, 800)) / 100.0f;
                return CommandRecipe{
                    call("SetClipGain", {std::to_string(clip), std::to_string(gain)}),
                    [=] { return std::make_unique<SetClipGainCommand>(clip, gain); }};
            }};
}

CommandTableRow fadesRow() {
    return {"SetClipFadesCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const int64_t fadeIn = someLength(random);
                const int64_t fadeOut = someLength(random);
                return CommandRecipe{
                    call("SetClipFades",
                         {std::to_string(clip), std::to_string(fadeIn), std::to_string(fadeOut)}),
                    [=] { return std::make_unique<SetClipFadesCommand>(clip, fadeIn, fadeOut); }};
            }};
}

} // namespace

/// A file of one to three tracks (one maybe without notes), its maps taken or not.
CommandTableRow importMidiRow() {
    return {
        "ImportMidiCommand", [](const Project &project, Random &random) {
            midifile::MidiFile file;
            file.ticksPerQuarter = static_cast<int32_t>(between(random, 24, 960));
            file.tempos.push_back({0, static_cast<uint32_t>(between(random, 250000, 1000000))});
            file.meters.push_back({between(random, 0, 4000), 3, 4});
            const int64_t tracks = between(random, 1, 3);
            for (int64_t index = 0; index < tracks; ++index) {
                midifile::FileTrack track{index == 0 ? "Piano" : "", {}};
                for (int64_t note = between(random, 0, 4); note > 0; --note)
                    track.notes.push_back({0, static_cast<int32_t>(between(random, 0, 127)),
                                           static_cast<int32_t>(between(random, 1, 127)),
                                           between(random, 0, 10000), between(random, 0, 2000)});
                file.tracks.push_back(std::move(track));
            }
            const bool maps = chance(random, 50);
            const int64_t position = between(random, -100, 200000);
            const midifile::MidiImport plan = midifile::planMidiImport(file, project, maps);
            return CommandRecipe{
                call("ImportMidi",
                     {std::to_string(tracks), maps ? "maps" : "no maps", std::to_string(position)}),
                [plan, position] { return std::make_unique<ImportMidiCommand>(plan, position); }};
        }};
}

namespace {

/// Mostly a track that plays the synth, when there is one.
uint64_t synthTrackId(const Project &project, Random &random) {
    std::vector<uint64_t> ids;
    for (const auto &track : project.tracks)
        if (track->type == TrackType::Midi && track->instrument == synthInstrumentId)
            ids.push_back(track->id);
    return !ids.empty() && chance(random, 85) ? pick(random, ids)
                                              : drawing::someTrackId(project, random);
}

std::string somePresetName(Random &random) {
    std::vector<std::string> names{"No Such Preset", ""};
    for (const stock::SynthPreset &preset : stock::synthFactoryPresets())
        names.emplace_back(preset.name);
    return pick(random, names);
}

CommandTableRow trackInstrumentRow() {
    return {"SetTrackInstrumentCommand", [](const Project &project, Random &random) {
                const std::string instrument =
                    pick(random, std::vector<std::string>{
                                     std::string(synthInstrumentId), std::string(synthInstrumentId),
                                     "", std::string(drumsInstrumentId), "stock.unknown"});
                if (instrument == drumsInstrumentId)
                    return drawing::recipe<SetTrackInstrumentCommand>(
                        "SetTrackInstrument", drawing::someTrackId(project, random), instrument,
                        pick(random, std::vector<std::string>{defaultDrumsState(), "",
                                                              "pads=1\npad.0.note=x\n"}));
                // Mostly a preset's state, sometimes one that does not read.
                const stock::SynthPreset *preset = stock::findSynthPreset(somePresetName(random));
                const std::string state =
                    preset
                        ? stock::synthStateText(stock::synthPresetValues(*preset))
                        : pick(random,
                               std::vector<std::string>{"", "osc1.wave=", "filter.cutoff=300\n"});
                return drawing::recipe<SetTrackInstrumentCommand>(
                    "SetTrackInstrument", drawing::someTrackId(project, random), instrument, state);
            }};
}

CommandTableRow synthPresetRow() {
    return {"ApplySynthPresetCommand", [](const Project &project, Random &random) {
                return drawing::recipe<ApplySynthPresetCommand>(
                    "ApplySynthPreset", synthTrackId(project, random), somePresetName(random));
            }};
}

CommandTableRow synthParameterRow() {
    return {"SetSynthParameterCommand", [](const Project &project, Random &random) {
                const auto parameter =
                    static_cast<int32_t>(between(random, -1, stock::synthParamCount));
                return drawing::recipe<SetSynthParameterCommand>(
                    "SetSynthParameter", synthTrackId(project, random), parameter,
                    drawing::someValue(random, -10000, 2500000));
            }};
}

/// Mostly a track that plays the drum sampler, when there is one.
uint64_t drumTrackId(const Project &project, Random &random) {
    std::vector<uint64_t> ids;
    for (const auto &track : project.tracks)
        if (track->type == TrackType::Midi && track->instrument == drumsInstrumentId)
            ids.push_back(track->id);
    return !ids.empty() && chance(random, 85) ? pick(random, ids)
                                              : drawing::someTrackId(project, random);
}

CommandTableRow drumPadRow() {
    return {
        "SetDrumPadCommand", [](const Project &project, Random &random) {
            const uint64_t trackId = drumTrackId(project, random);
            const auto pad = static_cast<int32_t>(between(random, -1, 12));
            const auto setting = static_cast<DrumPadSetting>(between(random, 0, 4));
            const float value = drawing::someValue(random, -9000, 15000);
            return CommandRecipe{
                "SetDrumPad(" + std::to_string(trackId) + ", " + std::to_string(pad) + ", " +
                    std::to_string(static_cast<int>(setting)) + ", " + std::to_string(value) + ")",
                [=] { return std::make_unique<SetDrumPadCommand>(trackId, pad, setting, value); }};
        }};
}

CommandTableRow drumSampleRow() {
    return {"SetDrumSampleCommand", [](const Project &project, Random &random) {
                return drawing::recipe<SetDrumSampleCommand>(
                    "SetDrumSample", drumTrackId(project, random),
                    // Mostly a pad and a layer that exist, or the layer after the last.
                    static_cast<int32_t>(chance(random, 85) ? between(random, 0, 10)
                                                            : between(random, -1, 12)),
                    static_cast<int32_t>(chance(random, 85) ? between(random, 0, 1)
                                                            : between(random, -1, 2)),
                    pick(random, std::vector<std::string>{"media/kick.wav", "builtin:snare",
                                                          "builtin:clap", "",
                                                          "media/two\nlines.wav"}));
            }};
}

} // namespace

std::vector<CommandTableRow> trackClipAndTakeCommandRows() {
    std::vector<CommandTableRow> rows{addTrackRow(),
                                      removeTrackRow(),
                                      splitRow(),
                                      moveRow(),
                                      trimRow(),
                                      duplicateRow(),
                                      insertMidiClipRow(),
                                      glueRow(),
                                      crossfadeRow(),
                                      oneClipRow<DeleteClipCommand>("DeleteClip"),
                                      oneClipRow<SetTakeActiveCommand>("SetTakeActive"),
                                      oneClipRow<FlattenCompCommand>("FlattenComp"),
                                      gainRow(),
                                      fadesRow(),
                                      oneClipRow<ToggleClipLoopCommand>("ToggleClipLoop"),
                                      pasteRow(),
                                      groupRow(),
                                      importMidiRow(),
                                      trackInstrumentRow(),
                                      synthPresetRow(),
                                      synthParameterRow(),
                                      drumPadRow(),
                                      drumSampleRow()};
    for (auto &setting : trackSettingRows())
        rows.push_back(std::move(setting));
    return rows;
}

} // namespace orvane::testing

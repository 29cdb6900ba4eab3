#include "core/commands/tests/support/MidiEditCommandTable.h"

#include "core/commands/GrooveCommands.h"
#include "core/commands/InstrumentCommands.h"
#include "core/commands/NoteCommands.h"
#include "core/commands/NoteTransformCommands.h"
#include "core/model/BuiltInPresets.h"
#include "core/stock/SynthParameters.h"

#include <limits>
#include <sstream>
#include <string>

namespace orvane::testing {

namespace {

template <typename T> const T &pick(Random &random, const std::vector<T> &items) {
    return items[static_cast<std::size_t>(
        between(random, 0, static_cast<int64_t>(items.size()) - 1))];
}

float someFloat(Random &random, int64_t lowPercent, int64_t highPercent) {
    if (chance(random, 3)) return std::numeric_limits<float>::quiet_NaN();
    return static_cast<float>(between(random, lowPercent, highPercent)) / 100.0f;
}

uint64_t missingId(Random &random, uint64_t counter) {
    return pick(random, std::vector<uint64_t>{0, counter, counter + 5,
                                              std::numeric_limits<uint64_t>::max()});
}

/// Mostly a MIDI clip, sometimes an audio clip or one that does not exist.
uint64_t someClipId(const Project &project, Random &random) {
    std::vector<uint64_t> midi;
    std::vector<uint64_t> any;
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips) {
            any.push_back(clip->id);
            if (clip->kind == ClipKind::Midi) midi.push_back(clip->id);
        }
    if (!midi.empty() && chance(random, 80)) return pick(random, midi);
    if (any.empty() || chance(random, 40)) return missingId(random, project.nextClipId);
    return pick(random, any);
}

uint64_t someTrackId(const Project &project, Random &random) {
    if (chance(random, 20)) return 0;
    if (project.tracks.empty() || chance(random, 10)) return missingId(random, project.nextTrackId);
    return pick(random, project.tracks)->id;
}

int64_t clipLength(const Project &project, uint64_t clipId) {
    const auto clip = project.findClip(clipId);
    return clip ? std::max<int64_t>(clip->length, 1) : 48000;
}

MidiNote someNote(Random &random, int64_t length) {
    MidiNote note;
    note.pitch = chance(random, 15) ? pick(random, std::vector<int32_t>{0, 1, 126, 127})
                                    : static_cast<int32_t>(between(random, 24, 100));
    note.velocity = static_cast<float>(between(random, 1, 100)) / 100.0f;
    note.start = between(random, -50, length + length / 4);
    note.length = between(random, 0, length / 2 + 1);
    note.bendCents = static_cast<float>(between(random, -200, 200));
    return note;
}

/// Half the time a note already in the clip, nudged within the step's tolerance, so that
/// the step finds it.
MidiNote someDrumStep(const Project &project, uint64_t clipId, Random &random) {
    const auto clip = project.findClip(clipId);
    if (!clip || clip->notes.empty() || chance(random, 50))
        return someNote(random, clipLength(project, clipId));
    MidiNote step = pick(random, clip->notes);
    step.length = between(random, 0, 2400);
    step.start += between(random, -step.length / 4, step.length / 4);
    return step;
}

int64_t someStep(Random &random) {
    return chance(random, 10) ? between(random, -3, 1) : between(random, 100, 12000);
}

GridQuantize someGrid(Random &random) { return static_cast<GridQuantize>(between(random, 0, 7)); }

std::string text(uint64_t value) { return std::to_string(value); }
std::string text(int64_t value) { return std::to_string(value); }
std::string text(int32_t value) { return std::to_string(value); }
std::string text(uint32_t value) { return std::to_string(value); }
std::string text(bool value) { return value ? "true" : "false"; }
std::string text(GridQuantize value) { return "grid " + std::to_string(static_cast<int>(value)); }
std::string text(const std::string &value) { return '"' + value + '"'; }
std::string text(float value) {
    std::ostringstream out;
    out << value;
    return out.str();
}
std::string text(const MidiNote &note) {
    return "{pitch " + text(note.pitch) + ", velocity " + text(note.velocity) + ", start " +
           text(note.start) + ", length " + text(note.length) + "}";
}
std::string text(const std::vector<MidiNote> &notes) {
    std::string joined = "[";
    for (const MidiNote &note : notes)
        joined += (joined.size() > 1 ? ", " : "") + text(note);
    return joined + "]";
}

/// A recipe whose description is the call and whose maker builds the command anew.
template <typename CommandType, typename... Arguments>
CommandRecipe recipe(const std::string &name, Arguments... arguments) {
    std::string description = name + "(";
    ((description += text(arguments) + ", "), ...);
    if (sizeof...(Arguments) > 0) description.resize(description.size() - 2);
    return {description + ")", [=] { return std::make_unique<CommandType>(arguments...); }};
}

using Generate = std::function<CommandRecipe(const Project &, Random &)>;

CommandTableRow row(const char *name, Generate generate) { return {name, std::move(generate)}; }

/// A row for a command whose only argument is the clip id.
template <typename CommandType> CommandTableRow clipRow(const char *name) {
    return row(name, [name](const Project &project, Random &random) {
        return recipe<CommandType>(name, someClipId(project, random));
    });
}

std::vector<CommandTableRow> singleNoteRows() {
    return {
        row("AddMidiNote",
            [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                return recipe<AddMidiNoteCommand>("AddMidiNote", clip,
                                                  someNote(random, clipLength(project, clip)));
            }),
        row("MoveMidiNote",
            [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const auto found = project.findClip(clip);
                const auto count = found ? static_cast<int64_t>(found->notes.size()) : 0;
                const auto index = static_cast<int32_t>(between(random, -1, count));
                return recipe<MoveMidiNoteCommand>("MoveMidiNote", clip, index,
                                                   someNote(random, clipLength(project, clip)));
            }),
        row("DeleteMidiNote",
            [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const auto found = project.findClip(clip);
                const auto count = found ? static_cast<int64_t>(found->notes.size()) : 0;
                return recipe<DeleteMidiNoteCommand>(
                    "DeleteMidiNote", clip, static_cast<int32_t>(between(random, -1, count)));
            }),
        row("ToggleDrumStep",
            [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                return recipe<ToggleDrumStepCommand>("ToggleDrumStep", clip,
                                                     someDrumStep(project, clip, random));
            }),
        row("SetDrumStepVelocity",
            [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                return recipe<SetDrumStepVelocityCommand>("SetDrumStepVelocity", clip,
                                                          someDrumStep(project, clip, random),
                                                          someFloat(random, -10, 300));
            }),
        row("PasteMidiNotes",
            [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                std::vector<MidiNote> notes;
                for (int64_t i = between(random, 0, 5); i > 0; --i)
                    notes.push_back(someNote(random, clipLength(project, clip)));
                return recipe<PasteMidiNotesCommand>("PasteMidiNotes", clip,
                                                     between(random, -1000, 96000), notes);
            }),
    };
}

/// Both quantise commands take a target id and the same six grid values.
template <typename CommandType>
CommandTableRow quantiseRow(const char *name, uint64_t (*target)(const Project &, Random &)) {
    return row(name, [name, target](const Project &project, Random &random) {
        const uint64_t id = target(project, random);
        const GridQuantize grid = someGrid(random);
        const float swing = someFloat(random, 0, 150);
        const float strength = someFloat(random, -50, 150);
        const auto root = static_cast<int32_t>(between(random, 0, 11));
        const bool minor = chance(random, 50);
        const bool snapToScale = chance(random, 30);
        return recipe<CommandType>(name, id, grid, swing, strength, root, minor, snapToScale);
    });
}

std::vector<CommandTableRow> quantiseRows() {
    return {
        quantiseRow<QuantizeSelectionCommand>("QuantizeSelection", someTrackId),
        quantiseRow<IterativeQuantizeClipCommand>("IterativeQuantizeClip", someClipId),
        row("QuantizeMidiNotes",
            [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const double grid = chance(random, 10) ? 0.0 : 4.0 / between(random, 1, 48);
                std::vector<int32_t> chosen;
                std::string indices;
                for (int64_t count = between(random, 0, 3); count > 0; --count) {
                    chosen.push_back(static_cast<int32_t>(between(random, -1, 6)));
                    indices += std::to_string(chosen.back()) + " ";
                }
                const float swing = someFloat(random, 0, 150);
                const float strength = someFloat(random, -50, 150);
                const auto root = static_cast<int32_t>(between(random, 0, 11));
                const bool minor = chance(random, 50);
                const bool snapToScale = chance(random, 30);
                return CommandRecipe{
                    "QuantizeMidiNotes(" + std::to_string(clip) + ", " + std::to_string(grid) +
                        ", [" + indices + "], " + std::to_string(swing) + ", " +
                        std::to_string(strength) + ")",
                    [=] {
                        return std::make_unique<QuantizeMidiNotesCommand>(
                            clip, grid, chosen, swing, strength, root, minor, snapToScale);
                    }};
            }),
        row("HumanizeMidiClip",
            [](const Project &project, Random &random) {
                return recipe<HumanizeMidiClipCommand>(
                    "HumanizeMidiClip", someClipId(project, random), between(random, -10, 4800),
                    someFloat(random, 0, 100), someFloat(random, 0, 100),
                    static_cast<uint32_t>(random()));
            }),
    };
}

std::vector<CommandTableRow> wholeClipRows() {
    return {
        row("TransposeMidiClip",
            [](const Project &project, Random &random) {
                return recipe<TransposeMidiClipCommand>(
                    "TransposeMidiClip", someClipId(project, random),
                    static_cast<int32_t>(between(random, -140, 140)));
            }),
        row("ScaleMidiVelocity",
            [](const Project &project, Random &random) {
                return recipe<ScaleMidiVelocityCommand>(
                    "ScaleMidiVelocity", someClipId(project, random), someFloat(random, -50, 300),
                    someFloat(random, -50, 50));
            }),
        row("ScaleMidiDuration",
            [](const Project &project, Random &random) {
                return recipe<ScaleMidiDurationCommand>(
                    "ScaleMidiDuration", someClipId(project, random), someFloat(random, -100, 400));
            }),
        clipRow<ReverseMidiClipCommand>("ReverseMidiClip"),
        clipRow<LegatoMidiClipCommand>("LegatoMidiClip"),
        row("QuantizeMidiPitch",
            [](const Project &project, Random &random) {
                return recipe<QuantizeMidiPitchCommand>(
                    "QuantizeMidiPitch", someClipId(project, random),
                    static_cast<int32_t>(between(random, -2, 13)), chance(random, 50),
                    someFloat(random, -50, 150));
            }),
        row("ApplyTuningToMidiClip",
            [](const Project &project, Random &random) {
                return recipe<ApplyTuningToMidiClipCommand>(
                    "ApplyTuningToMidiClip", someClipId(project, random),
                    static_cast<int32_t>(between(random, -2, 13)), chance(random, 50));
            }),
        row("AdjustMidiPitchBend",
            [](const Project &project, Random &random) {
                return recipe<AdjustMidiPitchBendCommand>("AdjustMidiPitchBend",
                                                          someClipId(project, random),
                                                          someFloat(random, -30000, 30000));
            }),
    };
}

std::vector<CommandTableRow> generatorRows() {
    return {
        row("ArpeggiateMidiClip",
            [](const Project &project, Random &random) {
                return recipe<ArpeggiateMidiClipCommand>("ArpeggiateMidiClip",
                                                         someClipId(project, random),
                                                         someStep(random), chance(random, 50));
            }),
        row("GenerateMidiClip",
            [](const Project &project, Random &random) {
                // Steps follow the clip, which earlier edits may have stretched a long way,
                // so that a history does not grow to millions of notes.
                const uint64_t clip = someClipId(project, random);
                const int64_t step = chance(random, 10)
                                         ? between(random, -3, 1)
                                         : clipLength(project, clip) / between(random, 2, 64) + 1;
                const auto seed = static_cast<uint32_t>(random());
                return recipe<GenerateMidiClipCommand>("GenerateMidiClip", clip, step, seed,
                                                       someFloat(random, -10, 120));
            }),
        row("ApplyEuclideanStepSeq",
            [](const Project &project, Random &random) {
                return recipe<ApplyEuclideanStepSeqCommand>(
                    "ApplyEuclideanStepSeq", someClipId(project, random),
                    static_cast<int32_t>(between(random, -3, 12)),
                    static_cast<int32_t>(between(random, -1, 16)),
                    static_cast<int32_t>(between(random, -1, 20)), someStep(random));
            }),
    };
}

int32_t someGrooveIndex(const Project &project, Random &random) {
    return static_cast<int32_t>(
        between(random, -1, static_cast<int64_t>(project.groovePool.size()) + 1));
}

std::vector<CommandTableRow> grooveAndTrackRows() {
    return {
        row("ApplyGroove",
            [](const Project &project, Random &random) {
                return recipe<ApplyGrooveCommand>("ApplyGroove", someTrackId(project, random),
                                                  someGrooveIndex(project, random),
                                                  someFloat(random, -20, 150));
            }),
        row("ExtractGrooveToPool",
            [](const Project &project, Random &random) {
                return recipe<ExtractGrooveToPoolCommand>(
                    "ExtractGrooveToPool", someClipId(project, random),
                    std::string(chance(random, 50) ? "Грув" : ""));
            }),
        row("SetActiveGroove",
            [](const Project &project, Random &random) {
                return recipe<SetActiveGrooveCommand>("SetActiveGroove",
                                                      someGrooveIndex(project, random));
            }),
        row("ToggleTrackMpe",
            [](const Project &project, Random &random) {
                return recipe<ToggleTrackMpeCommand>("ToggleTrackMpe",
                                                     someTrackId(project, random));
            }),
        row("SetTrackExpressionMap",
            [](const Project &project, Random &random) {
                return recipe<SetTrackExpressionMapCommand>(
                    "SetTrackExpressionMap", someTrackId(project, random),
                    static_cast<int32_t>(between(random, -2, 4)));
            }),
    };
}

std::shared_ptr<Track> someMidiTrack(Project &project) {
    for (const auto &track : project.tracks)
        if (track->type == TrackType::Midi) return track;
    return project.addTrack(TrackType::Midi, "Синтезатор");
}

} // namespace

std::vector<CommandTableRow> midiEditCommandRows() {
    std::vector<CommandTableRow> rows;
    for (auto family :
         {singleNoteRows(), quantiseRows(), wholeClipRows(), generatorRows(), grooveAndTrackRows()})
        rows.insert(rows.end(), family.begin(), family.end());
    return rows;
}

void addMidiMaterial(Project &project, Random &random) {
    if (chance(random, 60))
        project.tempoMarkers = {
            {between(random, 0, 48000), static_cast<double>(between(random, 70, 170))},
            {between(random, 48000, 200000), static_cast<double>(between(random, 60, 200))}};
    if (chance(random, 40))
        project.meterMarkers = {{between(random, 0, 96000),
                                 static_cast<int32_t>(between(random, 2, 7)),
                                 chance(random, 50) ? 4 : 8}};
    project.timeSignature = {static_cast<int32_t>(between(random, 3, 5)), 4};
    if (chance(random, 60)) {
        project.groovePool = defaultGroovePool();
        project.activeGrooveIndex = static_cast<int32_t>(between(random, -1, 1));
        project.grooveTimingAmount = 0.3f;
        project.grooveVelocityAmount = 0.2f;
    }
    if (chance(random, 40)) project.kbmDegrees = {0, 2, 4, -1, 7, 9, 11};
    if (chance(random, 30)) project.expressionMaps = defaultExpressionMaps();
    project.scaleRoot = static_cast<int32_t>(between(random, 0, 11));
    project.scaleMinor = chance(random, 50);

    const auto track = someMidiTrack(project);
    if (chance(random, 60)) {
        track->instrument = std::string(synthInstrumentId);
        track->instrumentState = stock::synthStateText(
            stock::synthPresetValues(stock::synthFactoryPresets()[static_cast<std::size_t>(between(
                random, 0, static_cast<int64_t>(stock::synthFactoryPresets().size()) - 1))]));
    } else if (chance(random, 85)) {
        track->instrument = std::string(drumsInstrumentId);
        track->instrumentState = defaultDrumsState();
    }
    track->mpeEnabled = chance(random, 50);
    track->expressionMapIndex = static_cast<int32_t>(between(random, -1, 1));
    const auto clip = project.addClip(track->id, ClipKind::Midi);
    clip->arrangeStart = between(random, 0, 100000);
    clip->length = between(random, 24000, 192000);
    for (int64_t i = between(random, 10, 60); i > 0; --i)
        clip->notes.push_back(someNote(random, clip->length));
}

} // namespace orvane::testing

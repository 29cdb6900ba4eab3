#include "core/commands/NoteTransformCommands.h"

#include "core/commands/NoteCommands.h"
#include "core/commands/NoteEditing.h"
#include "core/music/Groove.h"
#include "core/music/NoteArithmetic.h"
#include "core/music/Rhythm.h"
#include "core/music/Scales.h"
#include "core/music/SessionPlayer.h"
#include "core/music/Tuning.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvane {

using note_arithmetic::clampToMidi;
using note_arithmetic::saturatingMultiply;

namespace {

/// Grid positions under the project's tempo and meter maps. The tempo map is sorted once,
/// not once per note.
class GridSnapper {
  public:
    GridSnapper(const Project &project, GridQuantize grid, float swing)
        : project_(project), grid_(grid), swing_(swing),
          sortedTempo_(sortedTempoMarkers(project.tempoMarkers)) {}

    int64_t operator()(int64_t position) const {
        return quantizeSamplesSorted(position, grid_, swing_, project_.sampleRate, sortedTempo_,
                                     project_.tempoBpm, project_.meterMarkers,
                                     project_.timeSignature);
    }

  private:
    const Project &project_;
    GridQuantize grid_;
    float swing_;
    std::vector<TempoMarker> sortedTempo_;
};

void quantizeNoteStarts(const GridSnapper &snap, std::vector<MidiNote> &notes, float strength) {
    for (MidiNote &note : notes)
        note.start = blendPosition(note.start, snap(note.start), strength);
}

bool matchesTrack(const Track &track, uint64_t trackId) {
    return trackId == 0 || track.id == trackId;
}

int64_t scaledSamples(int64_t samples, float factor) {
    return saturatingToInt64(static_cast<double>(samples) * static_cast<double>(factor));
}

/// Distinct pitches in order of first appearance, from the notes that start before `window`,
/// or from all notes when none does.
std::vector<int32_t> arpeggioPitches(const std::vector<MidiNote> &notes, int64_t window) {
    std::vector<int32_t> pitches;
    const auto collect = [&](bool onlyEarly) {
        for (const MidiNote &note : notes)
            if ((!onlyEarly || note.start < window) &&
                std::find(pitches.begin(), pitches.end(), note.pitch) == pitches.end())
                pitches.push_back(note.pitch);
    };
    collect(true);
    if (pitches.empty()) collect(false);
    return pitches;
}

} // namespace

MidiClipRewriteCommand::MidiClipRewriteCommand(uint64_t clipId, Behaviour behaviour)
    : clipId_(clipId), behaviour_(behaviour) {}

void MidiClipRewriteCommand::redo(Project &project) {
    captured_ = false;
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || (behaviour_.needsNotes && clip->notes.empty())) return;
    notesBefore_ = clip->notes;
    lengthBefore_ = clip->length;
    captured_ = true;
    std::vector<MidiNote> notes = notesBefore_;
    if (rewrite(project, *clip, notes)) replaceNotes(*clip, std::move(notes));
}

void MidiClipRewriteCommand::undo(Project &project) {
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || !captured_) return;
    // The next redo takes a new copy, so this one can go back without copying.
    replaceNotes(*clip, std::move(notesBefore_));
    notesBefore_.clear();
    captured_ = false;
    if (behaviour_.changesLength) clip->length = lengthBefore_;
}

QuantizeSelectionCommand::QuantizeSelectionCommand(uint64_t trackId, GridQuantize grid, float swing,
                                                   float strength, int32_t scaleRoot, bool minor,
                                                   bool snapToScale)
    : trackId_(trackId), grid_(grid), swing_(swing), strength_(clampUnit(strength)),
      scaleRoot_(scaleRoot), minor_(minor), snapToScale_(snapToScale) {}

void QuantizeSelectionCommand::redo(Project &project) {
    clips_.clear();
    if (grid_ == GridQuantize::Off) return;
    for (const auto &track : project.tracks)
        if (matchesTrack(*track, trackId_))
            for (const auto &clip : track->clips)
                if (!clip->isSessionClip())
                    clips_.push_back({clip->id, clip->arrangeStart, clip->notes});
    const GridSnapper snap(project, grid_, swing_);
    for (const ClipState &state : clips_) {
        const auto clip = project.findClip(state.clipId);
        if (!clip) continue;
        clip->arrangeStart = blendPosition(clip->arrangeStart, snap(clip->arrangeStart), strength_);
        if (clip->kind != ClipKind::Midi) continue;
        auto notes = clip->notes;
        quantizeNoteStarts(snap, notes, strength_);
        if (snapToScale_) snapMidiNotesToScale(notes, scaleRoot_, minor_);
        replaceNotes(*clip, std::move(notes));
    }
}

void QuantizeSelectionCommand::undo(Project &project) {
    for (const ClipState &state : clips_) {
        const auto clip = project.findClip(state.clipId);
        if (!clip) continue;
        clip->arrangeStart = state.arrangeStart;
        replaceNotes(*clip, state.notes);
    }
}

std::string QuantizeSelectionCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Quantize");
}

IterativeQuantizeClipCommand::IterativeQuantizeClipCommand(uint64_t clipId, GridQuantize grid,
                                                           float swing, float strength,
                                                           int32_t scaleRoot, bool minor,
                                                           bool snapToScale)
    : MidiClipRewriteCommand(clipId, {}), grid_(grid), swing_(swing),
      strength_(clampUnit(strength)), scaleRoot_(scaleRoot), minor_(minor),
      snapToScale_(snapToScale) {}

bool IterativeQuantizeClipCommand::rewrite(const Project &project, Clip &,
                                           std::vector<MidiNote> &notes) {
    if (grid_ == GridQuantize::Off) return false;
    quantizeNoteStarts(GridSnapper(project, grid_, swing_), notes, strength_);
    if (snapToScale_) snapMidiNotesToScale(notes, scaleRoot_, minor_);
    return true;
}

std::string IterativeQuantizeClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Iterative Quantize");
}

QuantizeMidiNotesCommand::QuantizeMidiNotesCommand(uint64_t clipId, double gridBeats,
                                                   std::vector<int32_t> noteIndices, float swing,
                                                   float strength, int32_t scaleRoot, bool minor,
                                                   bool snapToScale)
    : MidiClipRewriteCommand(clipId, {}), gridBeats_(gridBeats),
      noteIndices_(std::move(noteIndices)), swing_(swing), strength_(clampUnit(strength)),
      scaleRoot_(scaleRoot), minor_(minor), snapToScale_(snapToScale) {}

bool QuantizeMidiNotesCommand::rewrite(const Project &project, Clip &clip,
                                       std::vector<MidiNote> &notes) {
    if (!(gridBeats_ > 0.0) || !std::isfinite(gridBeats_)) return false;
    const auto tempo = sortedTempoMarkers(project.tempoMarkers);
    const double cell = gridBeats_;
    // A note's place is its place in the song: a clip off the grid keeps its notes on the
    // song's grid, not on a grid of its own.
    const auto snap = [&](int64_t position) {
        const double beat =
            samplesToMusicalBeatsSorted(position, project.sampleRate, tempo, project.tempoBpm);
        const auto toSamples = [&](double target) {
            return musicalBeatsToSamplesSorted(std::max(target, 0.0), project.sampleRate, tempo,
                                               project.tempoBpm);
        };
        if (swing_ > 0.0f) {
            const double half = cell / 2.0;
            const double k = std::floor(beat / half + 1e-9);
            if (k > 0.0 && std::fmod(k, 2.0) == 1.0)
                return toSamples(half * (k - 1.0) +
                                 cell * (0.5 + 0.5 * std::min(static_cast<double>(swing_), 1.0)));
        }
        return toSamples(cell * std::round(beat / cell));
    };
    std::vector<bool> chosen(notes.size(), noteIndices_.empty());
    for (const int32_t index : noteIndices_)
        if (index >= 0 && static_cast<std::size_t>(index) < notes.size())
            chosen[static_cast<std::size_t>(index)] = true;
    bool any = false;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (!chosen[i]) continue;
        MidiNote &note = notes[i];
        const int64_t at = saturatingAdd(clip.arrangeStart, note.start);
        const int64_t moved = blendPosition(at, snap(at), strength_);
        note.start = std::max<int64_t>(moved - clip.arrangeStart, 0);
        if (snapToScale_) {
            std::vector<MidiNote> one{note};
            snapMidiNotesToScale(one, scaleRoot_, minor_);
            note = one.front();
        }
        any = true;
    }
    return any;
}

std::string QuantizeMidiNotesCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Quantize Notes");
}

HumanizeMidiClipCommand::HumanizeMidiClipCommand(uint64_t clipId, int64_t span, float timingAmount,
                                                 float velocityAmount, uint32_t seed)
    : MidiClipRewriteCommand(clipId, {}), span_(span), timingAmount_(timingAmount),
      velocityAmount_(velocityAmount), seed_(seed) {}

bool HumanizeMidiClipCommand::rewrite(const Project &, Clip &, std::vector<MidiNote> &notes) {
    humanizeMidiNotes(notes, span_, timingAmount_, velocityAmount_, seed_);
    return true;
}

std::string HumanizeMidiClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Humanize MIDI");
}

TransposeMidiClipCommand::TransposeMidiClipCommand(uint64_t clipId, int32_t semitones)
    : MidiClipRewriteCommand(clipId, {}), semitones_(semitones) {}

bool TransposeMidiClipCommand::rewrite(const Project &, Clip &, std::vector<MidiNote> &notes) {
    for (MidiNote &note : notes)
        note.pitch = clampToMidi(static_cast<int64_t>(note.pitch) + semitones_);
    return true;
}

std::string TransposeMidiClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Transpose");
}

ScaleMidiVelocityCommand::ScaleMidiVelocityCommand(uint64_t clipId, float scale, float offset)
    : MidiClipRewriteCommand(clipId, {}), scale_(scale), offset_(offset) {}

bool ScaleMidiVelocityCommand::rewrite(const Project &, Clip &, std::vector<MidiNote> &notes) {
    for (MidiNote &note : notes)
        note.velocity = clampUnit(note.velocity * scale_ + offset_);
    return true;
}

std::string ScaleMidiVelocityCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Velocity");
}

ScaleMidiDurationCommand::ScaleMidiDurationCommand(uint64_t clipId, float factor)
    : MidiClipRewriteCommand(clipId, {.needsNotes = true, .changesLength = true}), factor_(factor) {
}

bool ScaleMidiDurationCommand::rewrite(const Project &, Clip &clip, std::vector<MidiNote> &notes) {
    for (MidiNote &note : notes) {
        note.start = scaledSamples(note.start, factor_);
        note.length = std::max<int64_t>(scaledSamples(note.length, factor_), 1);
    }
    clip.length = std::max<int64_t>(scaledSamples(clip.length, factor_), 1);
    return true;
}

std::string ScaleMidiDurationCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Scale MIDI Duration");
}

ReverseMidiClipCommand::ReverseMidiClipCommand(uint64_t clipId)
    : MidiClipRewriteCommand(clipId, {.needsNotes = true}) {}

bool ReverseMidiClipCommand::rewrite(const Project &, Clip &clip, std::vector<MidiNote> &notes) {
    const int64_t end = std::max<int64_t>(clip.length, 1);
    for (MidiNote &note : notes)
        note.start =
            std::max<int64_t>(saturatingSubtract(end, saturatingAdd(note.start, note.length)), 0);
    return true;
}

std::string ReverseMidiClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Reverse MIDI");
}

LegatoMidiClipCommand::LegatoMidiClipCommand(uint64_t clipId)
    : MidiClipRewriteCommand(clipId, {}) {}

bool LegatoMidiClipCommand::rewrite(const Project &, Clip &clip, std::vector<MidiNote> &notes) {
    std::sort(notes.begin(), notes.end(), [](const MidiNote &a, const MidiNote &b) {
        return a.start != b.start ? a.start < b.start : a.pitch < b.pitch;
    });
    for (std::size_t i = 0; i < notes.size(); ++i) {
        int64_t end = clip.length;
        for (std::size_t j = i + 1; j < notes.size(); ++j)
            if (notes[j].pitch == notes[i].pitch) {
                end = notes[j].start;
                break;
            }
        notes[i].length = std::max<int64_t>(saturatingSubtract(end, notes[i].start), 1);
    }
    return true;
}

std::string LegatoMidiClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "MIDI Legato");
}

ArpeggiateMidiClipCommand::ArpeggiateMidiClipCommand(uint64_t clipId, int64_t stepLength,
                                                     bool descending)
    : MidiClipRewriteCommand(clipId, {.changesLength = true}), stepLength_(stepLength),
      descending_(descending) {}

bool ArpeggiateMidiClipCommand::rewrite(const Project &, Clip &clip, std::vector<MidiNote> &notes) {
    // A step below one sample would pile every note onto the clip's first sample.
    if (stepLength_ < 1) return false;
    const int64_t window = std::max(saturatingMultiply(stepLength_, 4), stepLength_);
    std::vector<int32_t> pitches = arpeggioPitches(notes, window);
    if (pitches.empty()) return false;
    std::sort(pitches.begin(), pitches.end());
    if (descending_) std::reverse(pitches.begin(), pitches.end());
    float velocity = 0.85f;
    for (const MidiNote &note : notesBefore())
        velocity = std::max(velocity, note.velocity);
    std::vector<MidiNote> arpeggio;
    arpeggio.reserve(pitches.size());
    for (std::size_t i = 0; i < pitches.size(); ++i)
        arpeggio.push_back({.pitch = pitches[i],
                            .velocity = velocity,
                            .start = saturatingMultiply(static_cast<int64_t>(i), stepLength_),
                            .length = std::max<int64_t>(stepLength_ / 2, 1)});
    notes = std::move(arpeggio);
    const auto steps = static_cast<int64_t>(pitches.size()) + 1;
    clip.length = std::max(lengthBefore(), saturatingMultiply(steps, stepLength_));
    return true;
}

std::string ArpeggiateMidiClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Arpeggiate MIDI");
}

GenerateMidiClipCommand::GenerateMidiClipCommand(uint64_t clipId, int64_t step, uint32_t seed,
                                                 float density)
    : MidiClipRewriteCommand(clipId, {.changesLength = true}), step_(step), seed_(seed),
      density_(density) {}

bool GenerateMidiClipCommand::rewrite(const Project &project, Clip &clip,
                                      std::vector<MidiNote> &notes) {
    const int64_t length = std::max(step_, clip.length);
    notes = generateMidiClipNotes(length, step_, project.scaleRoot, project.scaleMinor, seed_,
                                  density_);
    clip.length = length;
    return true;
}

std::string GenerateMidiClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Generate MIDI");
}

ApplyEuclideanStepSeqCommand::ApplyEuclideanStepSeqCommand(uint64_t clipId, int32_t pitchIndex,
                                                           int32_t steps, int32_t pulses,
                                                           int64_t stepLength)
    : MidiClipRewriteCommand(clipId, {}), pitchIndex_(pitchIndex), steps_(steps), pulses_(pulses),
      stepLength_(stepLength) {}

bool ApplyEuclideanStepSeqCommand::rewrite(const Project &, Clip &, std::vector<MidiNote> &notes) {
    const int32_t pitch = kPitches[std::clamp(pitchIndex_, 0, 7)];
    applyEuclideanStepSeq(notes, pitch, steps_, pulses_, stepLength_, 0.85f);
    return true;
}

std::string ApplyEuclideanStepSeqCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Euclidean Fill");
}

int32_t tunedPitch(int32_t pitch, int32_t root, bool minor,
                   const std::vector<int32_t> &kbmDegrees) {
    if (kbmDegrees.empty()) return snapPitchToScale(pitch, root, minor);
    const int32_t degree = scaleDegreeIndex(pitch, root, minor);
    const int64_t mapped = midiPitchFromKbmDegree(degree, kbmDegrees, root, minor);
    const int64_t octaves = (static_cast<int64_t>(pitch) - root) / 12 - (mapped - root) / 12;
    return clampToMidi(mapped + 12 * octaves);
}

QuantizeMidiPitchCommand::QuantizeMidiPitchCommand(uint64_t clipId, int32_t scaleRoot, bool minor,
                                                   float strength)
    : MidiClipRewriteCommand(clipId, {.needsNotes = true}), scaleRoot_(scaleRoot), minor_(minor),
      strength_(clampUnit(strength)) {}

bool QuantizeMidiPitchCommand::rewrite(const Project &project, Clip &,
                                       std::vector<MidiNote> &notes) {
    for (MidiNote &note : notes) {
        const double target = tunedPitch(note.pitch, scaleRoot_, minor_, project.kbmDegrees);
        const double moved = std::round(strength_ * (target - note.pitch) + note.pitch);
        note.pitch = clampToMidi(static_cast<int64_t>(moved));
    }
    return true;
}

std::string QuantizeMidiPitchCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Pitch Quantize");
}

ApplyTuningToMidiClipCommand::ApplyTuningToMidiClipCommand(uint64_t clipId, int32_t scaleRoot,
                                                           bool minor)
    : MidiClipRewriteCommand(clipId, {.needsNotes = true}), scaleRoot_(scaleRoot), minor_(minor) {}

bool ApplyTuningToMidiClipCommand::rewrite(const Project &project, Clip &,
                                           std::vector<MidiNote> &notes) {
    for (MidiNote &note : notes) {
        note.pitch = clampToMidi(tunedPitch(note.pitch, scaleRoot_, minor_, project.kbmDegrees));
        note.bendCents = 0.0f;
    }
    return true;
}

std::string ApplyTuningToMidiClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Apply Tuning");
}

AdjustMidiPitchBendCommand::AdjustMidiPitchBendCommand(uint64_t clipId, float deltaCents)
    : MidiClipRewriteCommand(clipId, {.needsNotes = true}), deltaCents_(deltaCents) {}

bool AdjustMidiPitchBendCommand::rewrite(const Project &, Clip &, std::vector<MidiNote> &notes) {
    if (std::isnan(deltaCents_)) return false;
    for (MidiNote &note : notes) {
        const float bend = std::isnan(note.bendCents) ? 0.0f : note.bendCents;
        note.bendCents = std::clamp(bend + deltaCents_, -200.0f, 200.0f);
    }
    return true;
}

std::string AdjustMidiPitchBendCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Pitch Bend");
}

bool DeleteMidiNoteCommand::rewrite(const Project &, Clip &, std::vector<MidiNote> &notes) {
    if (index_ < 0 || index_ >= static_cast<int32_t>(notes.size())) return false;
    notes.erase(notes.begin() + index_);
    return true;
}

} // namespace orvane

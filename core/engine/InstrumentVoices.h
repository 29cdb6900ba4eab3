#pragma once

#include "core/engine/GraphSnapshot.h"
#include "core/model/Project.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace orvane {

struct RenderContext;
struct SessionEntryBlock;

// A MIDI track's built-in instrument: its notes become note-ons and note-offs at their exact
// frames, and the synth renders between them. Planning and states are made on the main
// thread; the `Rt` functions neither allocate, lock nor call the system.

/// What a publication tells the track's instrument: nothing for a track that plays the sine
/// voice (another kind of track, no instrument, an id this build does not know). A stored
/// state that does not read leaves the synth at its defaults. The General MIDI player's font
/// is loaded here when no other track holds it yet; a font that does not load gives the
/// track the synth at its defaults. The drum sampler's samples are loaded here too, files
/// named relative to `projectRoot`; a sample that does not load leaves its layer silent.
InstrumentPlan instrumentPlanOf(const Track &track, const std::string &projectRoot = {});

/// A prepared synth for the track, playing `plan`'s settings at `sampleRate`.
std::shared_ptr<InstrumentState> makeInstrumentState(uint64_t trackId, const InstrumentPlan &plan,
                                                     double sampleRate);

/// Whether `state` can go on playing `plan` at `sampleRate`: the same kind of instrument and,
/// for the General MIDI player, the same font and preset, for the drum sampler the same
/// samples.
bool instrumentStateFits(const InstrumentState &state, const InstrumentPlan &plan,
                         double sampleRate);

/// The track's instrument for the block, or null when it plays the sine voice.
InstrumentState *instrumentOfRt(const RenderContext &context, std::size_t trackIndex);

/// Adds the block of the track's instrument into `left` and `right`. With `clipsPlay` the
/// arrangement's notes drive it: a block that does not follow the last one (a locate, a cycle
/// wrap, the first after a stop) first releases every note, then starts the notes already
/// under way at its first frame. Without it (the transport stands) the clip notes are
/// released and ring out. Keys played live on the track sound through it either way.
/// Blocks are cut on a 16-frame grid fixed to the timeline, so live playback in periods that
/// are multiples of 16 frames sounds bit for bit as an export; other periods end a control
/// step early and the modulation drifts by rounding.
void playInstrumentRt(const RenderContext &context, std::size_t trackIndex, InstrumentState &state,
                      bool clipsPlay, float *left, float *right);

/// As `playInstrumentRt`, with the notes of the track's launched session clips in `blocks`
/// instead of the arrangement's: struck and released where the clips play them, released at
/// each loop's end and where a clip stops or is replaced.
void playSessionInstrumentRt(const RenderContext &context, std::size_t trackIndex,
                             InstrumentState &state, std::span<const SessionEntryBlock> blocks,
                             float *left, float *right);

/// Whether some instrument still plays a note or a tail.
bool instrumentsSoundRt(const DspStates &states);

/// Silences the instrument at once (after its track turned non-finite).
void resetInstrumentRt(InstrumentState &state);

} // namespace orvane

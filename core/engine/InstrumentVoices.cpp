#include "core/engine/InstrumentVoices.h"

#include "core/engine/ClipVoices.h"
#include "core/engine/RenderContext.h"
#include "core/engine/SessionPlayer.h"
#include "core/model/MusicalTime.h"

#include <algorithm>
#include <utility>

namespace orvane {

InstrumentPlan instrumentPlanOf(const Track &track, const std::string &projectRoot) {
    InstrumentPlan plan;
    if (track.type != TrackType::Midi) return plan;
    if (track.instrument == drumsInstrumentId) {
        stock::DrumKitPlan kit =
            stock::planDrumKit(stock::drumKitOfState(track.instrumentState), projectRoot);
        plan.drums = true;
        plan.drumSources = std::move(kit.sources);
        plan.drumMix = kit.mix;
        return plan;
    }
    if (track.instrument == gmInstrumentId) {
        (void)stock::readGmStateText(track.instrumentState, plan.gmSettings, nullptr);
        std::string error;
        plan.font = stock::SoundFont::load(plan.gmSettings.font, error);
        plan.gm = plan.font != nullptr;
        // Without its font the track still plays its notes, on the synth's defaults.
        if (!plan.gm) {
            plan.synth = true;
            plan.values = stock::synthDefaultValues();
        }
        return plan;
    }
    if (track.instrument != synthInstrumentId) return plan;
    plan.synth = true;
    plan.values = stock::synthDefaultValues();
    (void)stock::readSynthStateText(track.instrumentState, plan.values, nullptr);
    return plan;
}

std::shared_ptr<InstrumentState> makeInstrumentState(uint64_t trackId, const InstrumentPlan &plan,
                                                     double sampleRate) {
    auto state = std::make_shared<InstrumentState>();
    state->trackId = trackId;
    state->sampleRate = sampleRate;
    state->synth.setParameters(plan.values);
    state->synth.prepare(sampleRate, 0);
    state->applied = plan.values;
    if (plan.gm) {
        state->gm = std::make_unique<stock::GmPlayer>(plan.font, plan.gmSettings, sampleRate);
        state->gmSettings = plan.gmSettings;
    }
    if (plan.drums) {
        state->drums = std::make_unique<stock::DrumSampler>(plan.drumSources, sampleRate);
        state->drums->setMix(plan.drumMix);
        state->drumSources = plan.drumSources;
    }
    return state;
}

bool instrumentStateFits(const InstrumentState &state, const InstrumentPlan &plan,
                         double sampleRate) {
    if (!plan.plays() || state.sampleRate != sampleRate) return false;
    if (plan.gm != (state.gm != nullptr) || plan.drums != (state.drums != nullptr)) return false;
    if (plan.drums && state.drumSources != plan.drumSources) return false;
    return !plan.gm || state.gmSettings == plan.gmSettings;
}

InstrumentState *instrumentOfRt(const RenderContext &context, std::size_t trackIndex) {
    const auto &plans = context.snapshot.instruments;
    const auto &states = context.dsp.instruments;
    if (trackIndex >= plans.size() || trackIndex >= states.size() || !plans[trackIndex].plays())
        return nullptr;
    return states[trackIndex].get();
}

namespace {

using Kind = InstrumentEvent::Kind;

/// The events of one stretch of the block, frames `from` to `until`.
struct EventWindow {
    int64_t position = 0; // the block's first frame on the timeline
    int32_t from = 0;
    int32_t until = 0;
    /// The stretch follows a jump: notes already under way start at its first frame.
    bool chase = false;
};

class EventList {
  public:
    explicit EventList(InstrumentState &state) : state_(state) {}

    /// False when full: the stretch must be cut shorter.
    bool add(int32_t frame, Kind kind, int32_t pitch, float velocity) {
        if (count_ >= state_.events.size()) return false;
        state_.events[count_++] =
            InstrumentEvent{frame, kind, static_cast<uint8_t>(std::clamp(pitch, 0, 127)), velocity};
        return true;
    }
    void clear() { count_ = 0; }
    void sort() {
        std::sort(state_.events.begin(),
                  state_.events.begin() + static_cast<std::ptrdiff_t>(count_),
                  [](const InstrumentEvent &a, const InstrumentEvent &b) {
                      return a.frame != b.frame ? a.frame < b.frame : a.kind < b.kind;
                  });
    }
    std::size_t size() const { return count_; }
    const InstrumentEvent &operator[](std::size_t i) const { return state_.events[i]; }

  private:
    InstrumentState &state_;
    std::size_t count_ = 0;
};

/// The velocity a clip note strikes with: its level before the voice's own, with the clip's
/// gain, at most full. Zero for a keyswitch, which never sounds.
float noteVelocity(const Clip &clip, const MidiClipIndex &index, uint32_t note) {
    return std::min(clip.gain * index.level[note] / noteVoiceLevel, 1.0f);
}

/// The sorted notes that can act in [from, to): those that start before `to`, from the first
/// whose end, or an earlier note's, reaches `from`.
std::pair<std::size_t, std::size_t> notesReaching(const MidiClipIndex &index, int64_t from,
                                                  int64_t to) {
    const auto last = static_cast<std::size_t>(
        std::lower_bound(index.starts.begin(), index.starts.end(), to) - index.starts.begin());
    const auto first = static_cast<std::size_t>(
        std::lower_bound(index.endsSoFar.begin(),
                         index.endsSoFar.begin() + static_cast<std::ptrdiff_t>(last), from) -
        index.endsSoFar.begin());
    return {first, last};
}

/// One clip's notes in the window. A note sounds from its start to its end, both held within
/// the clip. False when the list ran full.
bool addClipEvents(const Clip &clip, const MidiClipIndex &index, const EventWindow &window,
                   EventList &events) {
    const int64_t from = saturatingAdd(window.position, window.from);
    const int64_t to = saturatingAdd(window.position, window.until);
    const int64_t clipStart = clip.arrangeStart;
    const int64_t clipEnd = saturatingAdd(clip.arrangeStart, std::max<int64_t>(clip.length, 0));
    if (clipStart >= to || clipEnd < from) return true;
    // A note whose end is the window's first frame still has its release here.
    const auto [first, last] = notesReaching(index, from, to);
    for (std::size_t sorted = first; sorted < last; ++sorted) {
        const uint32_t note = index.byStart[sorted];
        const float velocity = noteVelocity(clip, index, note);
        if (!(velocity > 0.0f)) continue;
        const MidiNote &midi = clip.notes[note];
        const int64_t start = std::max(index.starts[sorted], clipStart);
        const int64_t end = std::min(saturatingAdd(index.starts[sorted], midi.length), clipEnd);
        if (start >= end) continue;
        const auto frameOf = [&window](int64_t at) {
            return static_cast<int32_t>(at - window.position);
        };
        bool sounding = start < from; // struck before the window
        if (start >= from && start < to) {
            if (!events.add(frameOf(start), Kind::clipOn, midi.pitch, velocity)) return false;
            sounding = true;
        } else if (window.chase && start < from && end > from) {
            if (!events.add(window.from, Kind::clipOn, midi.pitch, velocity)) return false;
        } else if (window.chase) {
            // Before a jump's window nothing was struck that this one could end.
            sounding = false;
        }
        if (sounding && end >= from && end < to &&
            !events.add(frameOf(end), Kind::clipOff, midi.pitch, 0.0f))
            return false;
    }
    return true;
}

bool addArrangementEvents(const RenderContext &context, std::size_t trackIndex,
                          const EventWindow &window, EventList &events) {
    const GraphSnapshot &snapshot = context.snapshot;
    const Track &track = *snapshot.tracks[trackIndex];
    if (trackIndex >= snapshot.midiIndexes.size()) return true;
    const std::vector<MidiClipIndex> &indexes = snapshot.midiIndexes[trackIndex];
    for (std::size_t c = 0; c < track.clips.size() && c < indexes.size(); ++c) {
        const Clip &clip = *track.clips[c];
        if (clip.kind != ClipKind::Midi || clip.isSessionClip()) continue;
        if (!addClipEvents(clip, indexes[c], window, events)) return false;
    }
    return true;
}

/// One stretch of a session clip without a loop point inside it: `count` frames from block
/// frame `frame`, clip time `t` on. Notes end at the loop's end at the latest.
struct SessionStretch {
    int64_t frame = 0;
    int64_t t = 0;
    int64_t count = 0;
};

bool addSessionStretchEvents(const Clip &clip, const MidiClipIndex &index, int64_t noteLimit,
                             const SessionStretch &stretch, bool wrapped, const EventWindow &window,
                             EventList &events) {
    const auto inWindow = [&window](int64_t frame) {
        return frame >= window.from && frame < window.until;
    };
    const auto frameOf = [&stretch](int64_t at) {
        return static_cast<int32_t>(stretch.frame + (at - stretch.t));
    };
    const auto endOf = [&](const MidiNote &midi) {
        return std::min(saturatingAdd(midi.start, midi.length), noteLimit);
    };
    // Notes cut by the loop's end are released as it comes round again. They may start
    // anywhere before it, so they are found from the first note that reaches it.
    if (wrapped && inWindow(stretch.frame)) {
        const int64_t loopEnd = saturatingAdd(clip.arrangeStart, noteLimit);
        auto sorted = static_cast<std::size_t>(
            std::lower_bound(index.endsSoFar.begin(), index.endsSoFar.end(), loopEnd) -
            index.endsSoFar.begin());
        for (; sorted < index.byStart.size() && index.starts[sorted] < loopEnd; ++sorted) {
            const uint32_t note = index.byStart[sorted];
            const MidiNote &midi = clip.notes[note];
            if (!(noteVelocity(clip, index, note) > 0.0f) || midi.start >= endOf(midi) ||
                endOf(midi) < noteLimit)
                continue;
            if (!events.add(static_cast<int32_t>(stretch.frame), Kind::clipOff, midi.pitch, 0.0f))
                return false;
        }
    }
    // Only notes that start before the stretch ends and last into it act in it.
    const int64_t from = saturatingAdd(clip.arrangeStart, stretch.t);
    const int64_t to = saturatingAdd(from, stretch.count);
    const auto [first, last] = notesReaching(index, from, to);
    for (std::size_t sorted = first; sorted < last; ++sorted) {
        const uint32_t note = index.byStart[sorted];
        const float velocity = noteVelocity(clip, index, note);
        if (!(velocity > 0.0f)) continue;
        const MidiNote &midi = clip.notes[note];
        const int64_t start = midi.start;
        const int64_t end = endOf(midi);
        if (start >= end) continue;
        if (start >= stretch.t && start < stretch.t + stretch.count && inWindow(frameOf(start)) &&
            !events.add(frameOf(start), Kind::clipOn, midi.pitch, velocity))
            return false;
        // A release on the stretch's first frame belongs to a note that sounded up to it.
        if (end >= stretch.t && end < stretch.t + stretch.count && inWindow(frameOf(end)) &&
            !events.add(frameOf(end), Kind::clipOff, midi.pitch, 0.0f))
            return false;
    }
    return true;
}

/// The notes still sounding where an entry stops (its clip ended, was stopped or replaced)
/// are released there.
bool addSessionStopEvents(const Clip &clip, int64_t noteLimit, int64_t stoppedAt, int32_t frame,
                          const EventWindow &window, EventList &events) {
    if (frame < window.from || frame >= window.until) return true;
    for (const MidiNote &midi : clip.notes) {
        const int64_t end = std::min(saturatingAdd(midi.start, midi.length), noteLimit);
        if (midi.start < stoppedAt && end >= stoppedAt &&
            !events.add(frame, Kind::clipOff, midi.pitch, 0.0f))
            return false;
    }
    return true;
}

bool addSessionEvents(const RenderContext &context, std::size_t trackIndex,
                      std::span<const SessionEntryBlock> blocks, const EventWindow &window,
                      EventList &events) {
    const GraphSnapshot &snapshot = context.snapshot;
    if (trackIndex >= snapshot.midiIndexes.size()) return true;
    const std::vector<MidiClipIndex> &indexes = snapshot.midiIndexes[trackIndex];
    for (const SessionEntryBlock &block : blocks) {
        if (!block.clip || block.trackIndex != trackIndex || block.clipIndex >= indexes.size() ||
            block.clip->kind != ClipKind::Midi)
            continue;
        const Clip &clip = *block.clip;
        const MidiClipIndex &index = indexes[block.clipIndex];
        if (index.level.size() != clip.notes.size()) continue;
        const int64_t noteLimit = std::max<int64_t>(block.period, 1);
        SessionStretch stretch{block.firstFrame, block.startOffset, 0};
        bool wrapped = false;
        while (stretch.frame < block.endFrame) {
            stretch.count = block.loops
                                ? std::min(block.endFrame - stretch.frame, block.period - stretch.t)
                                : block.endFrame - stretch.frame;
            if (!addSessionStretchEvents(clip, index, noteLimit, stretch, wrapped, window, events))
                return false;
            stretch.frame += stretch.count;
            stretch.t += stretch.count;
            wrapped = block.loops && stretch.t >= block.period;
            if (wrapped) stretch.t = 0;
        }
        // An entry that stops in this block, or with its last frame, lets go of its notes.
        const bool stops = block.ended || block.endFrame < context.frames;
        if (stops && block.endFrame > block.firstFrame) {
            const auto frame =
                static_cast<int32_t>(std::min<int64_t>(block.endFrame, context.frames - 1));
            if (!addSessionStopEvents(clip, noteLimit, wrapped ? noteLimit : stretch.t, frame,
                                      window, events))
                return false;
        }
    }
    return true;
}

/// Keys played live: struck where they start sounding in the block, released where they stop
/// (or at the first frame when they no longer sound on the track at all).
bool addLiveEvents(const RenderContext &context, const InstrumentState &state, bool keysPlay,
                   const EventWindow &window, EventList &events) {
    const LiveMidiState *live = context.liveMidi;
    const auto inWindow = [&window](int32_t frame) {
        return frame >= window.from && frame < window.until;
    };
    for (std::size_t key = 0; key < 128; ++key) {
        const int32_t from = keysPlay ? std::max(live->soundFrom[key], 0) : 0;
        const int32_t until = keysPlay ? std::min(live->soundUntil[key], context.frames) : 0;
        const bool sounds =
            keysPlay && from < until && live->blockVelocity[key] > LiveMidiState::audibleVelocity;
        const auto pitch = static_cast<int32_t>(key);
        if (!sounds) {
            if (state.liveOn[key] && inWindow(0) && !events.add(0, Kind::liveOff, pitch, 0.0f))
                return false;
            continue;
        }
        if (!state.liveOn[key] && inWindow(from) &&
            !events.add(from, Kind::liveOn, pitch, std::min(live->blockVelocity[key], 1.0f)))
            return false;
        if (until < context.frames && inWindow(until) &&
            !events.add(until, Kind::liveOff, pitch, 0.0f))
            return false;
    }
    return true;
}

void noteOnRt(InstrumentState &state, int pitch, float velocity) {
    if (state.drums)
        state.drums->noteOn(pitch, velocity);
    else if (state.gm)
        state.gm->noteOn(pitch, velocity);
    else
        state.synth.noteOn(pitch, velocity);
}

void noteOffRt(InstrumentState &state, int pitch) {
    // A drum hit plays to its end whatever the key does.
    if (state.drums) return;
    if (state.gm)
        state.gm->noteOff(pitch);
    else
        state.synth.noteOff(pitch);
}

int activeVoicesRt(const InstrumentState &state) {
    if (state.drums) return state.drums->activeVoiceCount();
    return state.gm ? state.gm->activeVoiceCount() : state.synth.activeVoiceCount();
}

void applyEventRt(InstrumentState &state, const InstrumentEvent &event) {
    const std::size_t key = event.pitch;
    switch (event.kind) {
    case Kind::clipOn:
        if (state.held[key] < UINT16_MAX) ++state.held[key];
        noteOnRt(state, event.pitch, event.velocity);
        break;
    case Kind::liveOn:
        state.liveOn[key] = true;
        noteOnRt(state, event.pitch, event.velocity);
        break;
    case Kind::clipOff:
        if (state.held[key] == 0) return;
        if (--state.held[key] == 0 && !state.liveOn[key]) noteOffRt(state, event.pitch);
        break;
    case Kind::liveOff:
        if (!state.liveOn[key]) return;
        state.liveOn[key] = false;
        if (state.held[key] == 0) noteOffRt(state, event.pitch);
        break;
    }
}

/// Renders frames `from` to `until`, cut on a grid fixed to the timeline: the synth's
/// modulation steps restart with each call, so cutting where the device's blocks happen to
/// end would make live playback differ from an export.
void renderSynthRt(InstrumentState &state, int64_t position, float *left, float *right,
                   int32_t from, int32_t until) {
    if (state.drums) {
        if (until > from) state.drums->process(left + from, right + from, until - from);
        return;
    }
    if (state.gm) {
        // The player keeps its own fixed internal blocks whatever the calls' lengths.
        if (until > from) state.gm->process(left + from, right + from, until - from);
        return;
    }
    constexpr int64_t grid = stock::HalvoraSynth::controlFrames;
    while (from < until) {
        const int64_t at = saturatingAdd(position, from);
        const auto toGrid = static_cast<int32_t>(grid - (at % grid + grid) % grid);
        const int32_t count = std::min(until - from, toGrid);
        state.synth.process(left + from, right + from, count);
        from += count;
    }
}

/// Every note released through its envelope; with nothing left sounding the synth starts
/// over, so that what follows plays as an export from here would.
void releaseAllRt(InstrumentState &state) {
    state.held.fill(0);
    if (state.drums) return; // hits already struck ring out
    if (state.gm) {
        state.gm->allNotesOff();
        return;
    }
    state.synth.allNotesOff();
    if (state.synth.activeVoiceCount() == 0) state.synth.prepare(state.sampleRate, 0);
}

} // namespace

namespace {

/// The block of the track's instrument, its clip notes from `addClipNotes(window, events)`.
template <class ClipNotes>
void playInstrumentBlockRt(const RenderContext &context, std::size_t trackIndex,
                           InstrumentState &state, bool clipsPlay, float *left, float *right,
                           ClipNotes addClipNotes) {
    const InstrumentPlan &plan = context.snapshot.instruments[trackIndex];
    if (state.applied != plan.values) {
        state.synth.setParameters(plan.values);
        state.applied = plan.values;
    }
    if (state.drums && !(state.drums->mix() == plan.drumMix)) state.drums->setMix(plan.drumMix);
    const int64_t position = context.position;
    const bool jumped = clipsPlay && (!state.playing || position != state.nextPosition);
    if ((state.playing && !clipsPlay) || jumped) releaseAllRt(state);
    state.playing = clipsPlay;
    state.nextPosition =
        clipsPlay ? saturatingAdd(position, context.frames) : InstrumentState::noPosition;
    const bool keysPlay = liveKeysPlayOn(context.liveMidi, *context.snapshot.tracks[trackIndex]);
    const bool liveKeysToRelease =
        std::any_of(state.liveOn.begin(), state.liveOn.end(), [](bool on) { return on; });
    const bool watchLiveKeys = context.liveMidi && (keysPlay || liveKeysToRelease);

    EventList events(state);
    EventWindow window{position, 0, context.frames, jumped};
    while (window.from < context.frames) {
        window.until = context.frames;
        // A window with more events than the list holds is halved until they fit; a single
        // frame that still overflows loses the events past the list's end.
        for (;;) {
            events.clear();
            const bool fits =
                (!clipsPlay || addClipNotes(window, events)) &&
                (!watchLiveKeys || addLiveEvents(context, state, keysPlay, window, events));
            if (fits || window.until - window.from <= 1) break;
            window.until = window.from + (window.until - window.from) / 2;
        }
        events.sort();
        int32_t rendered = window.from;
        for (std::size_t i = 0; i < events.size(); ++i) {
            const InstrumentEvent &event = events[i];
            renderSynthRt(state, position, left, right, rendered, event.frame);
            rendered = std::max(rendered, event.frame);
            applyEventRt(state, event);
        }
        renderSynthRt(state, position, left, right, rendered, window.until);
        window.from = window.until;
        window.chase = false;
    }
}

} // namespace

void playInstrumentRt(const RenderContext &context, std::size_t trackIndex, InstrumentState &state,
                      bool clipsPlay, float *left, float *right) {
    playInstrumentBlockRt(context, trackIndex, state, clipsPlay, left, right,
                          [&](const EventWindow &window, EventList &events) {
                              return addArrangementEvents(context, trackIndex, window, events);
                          });
}

void playSessionInstrumentRt(const RenderContext &context, std::size_t trackIndex,
                             InstrumentState &state, std::span<const SessionEntryBlock> blocks,
                             float *left, float *right) {
    playInstrumentBlockRt(context, trackIndex, state, true, left, right,
                          [&](const EventWindow &window, EventList &events) {
                              return addSessionEvents(context, trackIndex, blocks, window, events);
                          });
}

bool instrumentsSoundRt(const DspStates &states) {
    return std::any_of(states.instruments.begin(), states.instruments.end(), [](const auto &state) {
        return state && (state->playing || activeVoicesRt(*state) > 0 ||
                         std::any_of(state->liveOn.begin(), state->liveOn.end(),
                                     [](bool on) { return on; }));
    });
}

void resetInstrumentRt(InstrumentState &state) {
    state.held.fill(0);
    state.liveOn.fill(false);
    if (state.gm) state.gm->allSoundOff();
    if (state.drums) state.drums->allSoundOff();
    state.synth.prepare(state.sampleRate, 0);
}

} // namespace orvane

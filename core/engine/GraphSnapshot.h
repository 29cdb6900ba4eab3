#pragma once

#include "core/engine/ResidentFloats.h"
#include "core/model/Project.h"
#include "core/model/RendererSettings.h"
#include "core/rt/LatestFramesRing.h"
#include "core/stock/Compressor.h"
#include "core/stock/Delay.h"
#include "core/stock/DrumSampler.h"
#include "core/stock/GmPlayer.h"
#include "core/stock/HalvoraSynth.h"
#include "core/stock/MasteringProcessor.h"
#include "core/stock/ParametricEq8.h"
#include "core/stock/Reverb.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

struct StockParameter;
class TrackWorkers;

/// Delay lines for plug-in delay compensation of one track. Only the audio thread touches
/// the samples once the state is published; growing a line means building a new state on
/// the main thread, so the audio thread never sees a buffer being resized.
struct PdcState {
    ResidentFloats left;
    ResidentFloats right;
    uint64_t writePos = 0;
};

/// Per-track state the renderers keep between blocks, created on the main thread when a
/// snapshot is published and reached by the audio thread only through that snapshot.
struct TrackRenderState {
    uint64_t trackId = 0;
    PdcState pdc;
    stock::ParametricEq8 eq;
    /// Set once a non-finite sample from this track has been reported, so that a track that
    /// keeps failing is reported once rather than on every block.
    bool nonFiniteReported = false;
};

/// The processor behind one stock insert; ids without a processor of their own leave both
/// empty and the engine's stage handles them.
struct StockInsertProcessor {
    /// What the stock stage does for this insert, resolved when the chain is built so that
    /// the block path compares no strings.
    enum class Kind : uint8_t { none, gain, saturation, delay, reverb, compressor, equaliser };

    std::string pluginId;
    bool isStock = false;
    /// The insert's stored settings when the chain was built: new settings build new
    /// processors, as the audio thread may be running these.
    std::vector<uint8_t> state;
    Kind kind = Kind::none;
    /// The index of the parameter the insert's automation drives, resolved when the chain
    /// is built; `notAutomated` when its lane is empty or names no parameter of the effect.
    static constexpr uint32_t notAutomated = UINT32_MAX;
    uint32_t automatedParameter = notAutomated;
    /// That parameter's description (its range), so that the block path looks nothing up.
    const StockParameter *automatedSetting = nullptr;
    std::unique_ptr<stock::Delay> delay;
    std::unique_ptr<stock::Reverb> reverb;
    std::unique_ptr<stock::Compressor> compressor;
    std::unique_ptr<stock::ParametricEq8> equaliser;
};

/// Processors parallel to one track's inserts. Rebuilt on the main thread only when the
/// list of insert ids changes, so effect tails carry over between publications.
struct StockInsertChain {
    std::vector<StockInsertProcessor> processors;
};

/// A note of a track's instrument at a frame of the block: from its clips or from the keys
/// played live. At one frame the releases come before the new notes, so a key struck again
/// where its note ends starts over.
struct InstrumentEvent {
    enum class Kind : uint8_t { clipOff, liveOff, clipOn, liveOn };
    int32_t frame = 0;
    Kind kind = Kind::clipOn;
    uint8_t pitch = 0;
    float velocity = 0.0f;
};

/// The instrument of one MIDI track and what it remembers between blocks. Made on the main
/// thread when a snapshot is published and kept for the track across publications (so held
/// notes ring on through an edit); only the audio thread touches it afterwards.
struct InstrumentState {
    static constexpr int64_t noPosition = INT64_MIN;
    static constexpr std::size_t eventCapacity = 512;

    uint64_t trackId = 0;
    double sampleRate = 48000.0;
    stock::HalvoraSynth synth;
    /// Set when the track plays the General MIDI player instead of the synth; its settings
    /// never change under it (other settings make another state).
    std::unique_ptr<stock::GmPlayer> gm;
    stock::GmSettings gmSettings;
    /// Set when the track plays the drum sampler; it plays the samples it was made with
    /// (`drumSources`, as loaded), and other samples make another state.
    std::unique_ptr<stock::DrumSampler> drums;
    std::vector<std::shared_ptr<const stock::DrumSample>> drumSources;
    /// The settings last handed to the synth; a snapshot with others hands over its own.
    stock::SynthValues applied{};
    /// Where the block after the last one rendered starts: any other start is a jump.
    int64_t nextPosition = noPosition;
    /// Clip notes are playing (the transport ran in the last block).
    bool playing = false;
    /// How many clip notes hold each key, so that overlapping notes of one pitch release it
    /// once, with the last of them.
    std::array<uint16_t, 128> held{};
    /// Keys played live that the synth is sounding.
    std::array<bool, 128> liveOn{};
    /// Room for one block's events, sorted in place.
    std::array<InstrumentEvent, eventCapacity> events{};
};

/// What a track's instrument is told by one publication: whether the track plays Halvora
/// Synth, and its parameters, the General MIDI player with its font, or the drum sampler with
/// its samples and pads (fonts and samples loaded and held here, on the main thread), read
/// from the stored state.
struct InstrumentPlan {
    bool synth = false;
    stock::SynthValues values{};
    bool gm = false;
    stock::GmSettings gmSettings;
    std::shared_ptr<const stock::SoundFont> font;
    bool drums = false;
    std::vector<std::shared_ptr<const stock::DrumSample>> drumSources;
    stock::DrumMix drumMix;
    /// Some instrument renders the track's notes rather than the sine voice.
    bool plays() const { return synth || gm || drums; }
};

/// Master-bus processors, prepared on the main thread, run by the audio thread.
struct MasterRenderState {
    stock::ParametricEq8 eq;
    stock::MasteringProcessor mastering;
};

/// Peak meter of one track, written by the audio thread, read by the main thread.
struct TrackMeter {
    std::atomic<uint64_t> trackId{0};
    std::atomic<float> peakL{0.0f};
    std::atomic<float> peakR{0.0f};
};

/// Working buffers of the audio thread: master, track and eight return pairs, and the
/// latency of every track read once per block, so a block sees one consistent set.
struct RenderScratch {
    int64_t blockSize = 0;
    std::vector<float> masterLeft, masterRight;
    std::vector<float> trackLeft, trackRight;
    std::array<std::vector<float>, 8> returnLeft, returnRight;
    /// Whether a send reached each return bus in the current block.
    std::array<bool, 8> returnFed{};
    std::vector<int64_t> trackLatencies;
};

/// The processing state one rendering of the tracks carries from block to block (effect
/// tails, EQ states, delay lines). Live playback and each export have their own, so an
/// export starts from silence and leaves nothing behind in what plays live.
struct DspStates {
    /// Parallel to the snapshot's `tracks`; null while the engine is released.
    std::vector<std::shared_ptr<TrackRenderState>> tracks;
    /// Parallel to the snapshot's `tracks`.
    std::vector<std::shared_ptr<StockInsertChain>> stockChains;
    /// Parallel to the snapshot's `tracks`: null for a track without an instrument.
    std::vector<std::shared_ptr<InstrumentState>> instruments;
    std::shared_ptr<MasterRenderState> master;
    bool empty() const { return !master; }
};

/// One MIDI clip's notes prepared at publication, so that a block visits only the notes that
/// sound in it and resolves each note's pitch and level without looking at other notes.
struct MidiClipIndex {
    /// Note indices sorted by absolute start.
    std::vector<uint32_t> byStart;
    /// Absolute start of `byStart[i]`.
    std::vector<int64_t> starts;
    /// Largest end among `byStart[0..i]`: the first entry past a block's start is the first
    /// note that can still sound in it.
    std::vector<int64_t> endsSoFar;
    /// Per note (clip order): frequency after tuning, and the level before the clip gain;
    /// 0 for a keyswitch, which never sounds.
    std::vector<double> frequency;
    std::vector<float> level;
};

using InsertHook = std::function<void(uint64_t trackId, float *left, float *right, int32_t frames)>;
using LatencyHook = std::function<int64_t(uint64_t trackId)>;

/// The immutable view the audio thread renders from. Tracks and clips are the snapshot's
/// own copies: the main thread edits the live project's containers freely while a block
/// renders. Sample buffers are shared, because a published buffer is never written again.
/// The stored settings the renderers read are its `RendererSettings`, filled by walking the
/// model's table of stored fields.
struct GraphSnapshot : RendererSettings {
    std::vector<std::shared_ptr<const Track>> tracks;
    bool sessionMode = false;
    bool anyArmed = false;
    /// Some audio track plays its input through its chain (see `Track::monitorsInput`).
    bool anyMonitorsInput = false;
    /// Some MIDI track is armed: its keys sound while the transport stands.
    bool anyArmedMidi = false;
    int64_t returnCount = 0;
    std::array<uint64_t, 8> returnIds{};

    // Real-time helpers prepared with the snapshot.
    double sampleRate = 48000.0;
    /// `tempoMarkers` sorted by position, so the audio thread converts without sorting.
    std::vector<TempoMarker> sortedTempoMarkers;
    /// Parallel to `tracks`, each parallel to the track's `clips`: the index of every MIDI
    /// clip (empty for other clips).
    std::vector<std::vector<MidiClipIndex>> midiIndexes;
    /// Parallel to `tracks`.
    std::vector<InstrumentPlan> instruments;
    /// Where every clip of `tracks` is, sorted by clip id: the session player looks up its
    /// playing clips every block, and a walk over thousands of arrangement clips would not fit
    /// a short period. Empty in a snapshot built by hand, which is then searched clip by clip.
    struct ClipPlace {
        uint64_t clipId = 0;
        uint32_t trackIndex = 0;
        uint32_t clipIndex = 0;
    };
    std::vector<ClipPlace> clipPlaces;
    /// Some track plays an instrument: the device keeps rendering after a stop while one
    /// still sounds.
    bool anyInstrument = false;
    /// What live playback renders with.
    DspStates live;
    /// What the running export renders with; empty when no export runs.
    DspStates exportStates;
    std::shared_ptr<LatestFramesRing> flashback;
    /// Parallel to `tracks`; the main thread copies these into the project for display.
    std::unique_ptr<TrackMeter[]> trackMeters;
    std::shared_ptr<RenderScratch> scratch;
    InsertHook insertHook;
    LatencyHook latencyHook;
    /// Whether `insertHook` may run for different tracks at the same time on different threads
    /// (the plug-in rack may; a hook that keeps state across tracks may not).
    bool insertHookTakesTracksConcurrently = false;
    /// The live device's helper threads for tracks, carried from snapshot to snapshot and
    /// replaced only when the block size or the number of tracks outgrows them; null on a
    /// single core or when the engine renders live on one thread.
    std::shared_ptr<TrackWorkers> liveWorkers;
};

} // namespace orvane

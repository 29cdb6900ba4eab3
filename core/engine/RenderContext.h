#pragma once

#include "core/engine/EngineRings.h"
#include "core/engine/GraphSnapshot.h"
#include "core/engine/LiveMidi.h"
#include "core/engine/MasterBus.h"

#include <cstddef>
#include <cstdint>

namespace orvane {

class MediaStreams;
class TrackWorkers;

/// Everything one rendering of the tracks reads and writes, gathered by the engine at the
/// top of a block. The renderers are free functions of it, so the arrangement, the session
/// and an export share one per-track chain and differ only in their `TrackSource` and in
/// what the context leaves out (an export gets no live keys, meters or flashback).
struct RenderContext {
    const GraphSnapshot &snapshot;
    RenderScratch &scratch;
    /// The live states or the export's.
    const DspStates &dsp;
    /// Timeline position of the block's first frame, and its length (1..scratch.blockSize).
    int64_t position = 0;
    int32_t frames = 0;
    float *const *outputs = nullptr;
    int32_t outputChannelCount = 0;
    /// The device's input channels for this piece (already offset to its first frame), for
    /// tracks that monitor their input; none in an export.
    const float *const *inputs = nullptr;
    int32_t inputCount = 0;
    int32_t inputFrame = 0;
    /// While stopped only the monitored inputs sound: clips and session slots stay silent.
    bool inputsOnly = false;
    /// Keys played live, for armed MIDI tracks; null in an export.
    const LiveMidiState *liveMidi = nullptr;
    /// Null in an export, which leaves the live meters and the flashback capture alone.
    MasterMeters *meters = nullptr;
    LatestFramesRing *flashback = nullptr;
    /// Where a track that produces a non-finite sample is reported; the notification ring is
    /// fed only by the thread that holds the rendering slot, which is the caller.
    NotificationRing *notifications = nullptr;
    /// The windows of file-backed clips that live playback or the export reads; null when
    /// nothing fills them (file-backed clips are then silent).
    MediaStreams *media = nullptr;
    /// An export's second thread for the tracks; null on a device.
    TrackWorkers *workers = nullptr;
    /// An export of one track as it leaves its inserts (a freeze), or 0.
    uint64_t preFaderTrackId = 0;
    /// Filled by `beginTracksRt`.
    bool anySolo = false;
    int64_t maxLatency = 0;
};

/// Where a source track's signal comes from: the arrangement's clips, the session's playing
/// clips, or whatever a test feeds. Called once per source track per block with cleared
/// buffers of `context.frames` floats to add into.
class TrackSource {
  public:
    virtual void produceRt(const RenderContext &context, std::size_t trackIndex, float *left,
                           float *right) = 0;
    /// True when `produceRt` reads only shared, unchanging state and its track's own, so
    /// that two threads may call it for different tracks at once.
    virtual bool producesTracksIndependently() const { return false; }

  protected:
    ~TrackSource() = default;
};

/// Clears the master and return buses, reads every track's latency once and finds the
/// solo state. False when the block cannot be rendered (no scratch, or longer than it).
[[nodiscard]] bool beginTracksRt(RenderContext &context);

/// One source track through the whole chain: mute and solo, source, pre-fader sends, channel
/// EQ, stock inserts, the insert hook, delay compensation, fader and pan (with automation),
/// post-fader sends, then into the master bus. A track whose signal turns non-finite is
/// silenced for the block, its state reset, and reported once.
void renderSourceTrackRt(RenderContext &context, std::size_t trackIndex, TrackSource &source);

/// Every return track: its chain on its return bus, then into the master bus.
void renderReturnTracksRt(RenderContext &context);

/// `beginTracksRt`, every source track in order, then the returns.
[[nodiscard]] bool renderTracksRt(RenderContext &context, TrackSource &source);

/// Master EQ, mastering, meters and flashback (live only), then the control room onto the
/// outputs.
void finishMasterRt(RenderContext &context);

/// The arrangement's source: audio clips with fades and warp, MIDI clips through the
/// publication's note index, and live keys on armed MIDI tracks.
class ArrangementSource final : public TrackSource {
  public:
    void produceRt(const RenderContext &context, std::size_t trackIndex, float *left,
                   float *right) override;
    /// Clips and note indexes are read-only; live keys play only on a device.
    bool producesTracksIndependently() const override { return true; }
};

/// Tracks from the arrangement, then the master: the whole arrangement block.
void renderArrangementRt(RenderContext &context);

/// Most keys one MIDI track sounds at once; beyond it the oldest notes give way.
inline constexpr int32_t maxVoicesPerTrack = 64;

} // namespace orvane

namespace orvane {

/// Prepares a MIDI clip's note index (publication, main thread).
void buildMidiClipIndex(const GraphSnapshot &snapshot, const Clip &clip, const ExpressionMap *map,
                        MidiClipIndex &index);

} // namespace orvane

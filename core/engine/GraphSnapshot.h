#pragma once

#include "core/model/Project.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orvane {

/// Delay lines for plug-in delay compensation of one track. Only the audio thread touches
/// the samples once the state is published; growing a line means building a new state on
/// the main thread, so the audio thread never sees a buffer being resized.
struct PdcState {
    std::vector<float> left;
    std::vector<float> right;
    uint64_t writePos = 0;
};

/// Per-track state the renderers keep between blocks, created on the main thread when a
/// snapshot is published and reached by the audio thread only through that snapshot.
struct TrackRenderState {
    uint64_t trackId = 0;
    PdcState pdc;
};

/// Peak meter of one track, written by the audio thread, read by the main thread.
struct TrackMeter {
    std::atomic<uint64_t> trackId{0};
    std::atomic<float> peakL{0.0f};
    std::atomic<float> peakR{0.0f};
};

/// Working buffers of the audio thread: master, track and eight return pairs.
struct RenderScratch {
    int64_t blockSize = 0;
    std::vector<float> masterLeft, masterRight;
    std::vector<float> trackLeft, trackRight;
    std::array<std::vector<float>, 8> returnLeft, returnRight;
};

using InsertHook = std::function<void(uint64_t trackId, float* left, float* right, int32_t frames)>;
using LatencyHook = std::function<int64_t(uint64_t trackId)>;

/// The immutable view the audio thread renders from. Tracks and clips are the snapshot's
/// own copies: the main thread edits the live project's containers freely while a block
/// renders. Sample buffers are shared, because a published buffer is never written again.
struct GraphSnapshot {
    std::vector<std::shared_ptr<const Track>> tracks;
    int32_t rows = 8;
    int32_t cols = 8;
    LaunchQuantize launchQuantize = LaunchQuantize::OneBar;
    std::vector<Scene> scenes;
    double tempoBpm = 120.0;
    TimeSignature timeSignature;
    std::vector<TempoMarker> tempoMarkers;
    std::vector<MeterMarker> meterMarkers;
    ControlRoomSettings controlRoom;
    ChannelEq8 masterEq;
    MasteringUtility mastering;
    float metronomeVolume = 0.8f;
    bool sessionMode = false;
    bool anyArmed = false;
    std::vector<ExpressionMap> expressionMaps;
    std::array<float, 12> scalaCents{};
    int32_t scaleRoot = 0;
    bool scaleMinor = false;
    std::vector<int32_t> kbmDegrees;
    int64_t returnCount = 0;
    std::array<uint64_t, 8> returnIds{};

    // Real-time helpers prepared with the snapshot.
    double sampleRate = 48000.0;
    /// `tempoMarkers` sorted by position, so the audio thread converts without sorting.
    std::vector<TempoMarker> sortedTempoMarkers;
    /// Parallel to `tracks`.
    std::vector<std::shared_ptr<TrackRenderState>> trackStates;
    /// Parallel to `tracks`; the main thread copies these into the project for display.
    std::unique_ptr<TrackMeter[]> trackMeters;
    std::shared_ptr<RenderScratch> scratch;
    InsertHook insertHook;
    LatencyHook latencyHook;
};

} // namespace orvane

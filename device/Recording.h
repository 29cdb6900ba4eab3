#pragma once

#include "core/engine/Engine.h"
#include "core/model/Project.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {

/// One captured take on its way into the project: stereo interleaved frames at the engine's
/// rate, and where on the timeline its first frame was heard (latency already taken off).
struct CapturedTake {
    std::vector<float> samples;
    int64_t start = 0;

    int64_t frames() const { return static_cast<int64_t>(samples.size() / 2); }
};

/// Where a take goes: into an existing session clip (overdub), into a live-loop slot (row
/// and column both set), or onto the arrangement of a track (0 = a new audio track).
struct RecordingDestination {
    uint64_t targetTrackId = 0;
    uint64_t overdubClipId = 0;
    int32_t sessionRow = -1;
    int32_t sessionColumn = -1;
};

/// One input pair's take and where it goes.
struct InputRecordingTarget {
    int32_t inputPair = 0;
    RecordingDestination destination;
};

/// What a take became: the track and the last clip added (0 when nothing was added) and the
/// frames kept.
struct RecordingOutcome {
    uint64_t trackId = 0;
    uint64_t clipId = 0;
    int64_t frames = 0;
};

/// The interleaved samples of frames [firstFrame, firstFrame + frameCount), cut at the end
/// of the input; empty when nothing is left (channels below 2 count as 1).
std::vector<float> extractPcmFrames(const std::vector<float> &samples, int32_t channels,
                                    int64_t firstFrame, int64_t frameCount);

/// Linear resampling of interleaved audio from one rate to another, computed in double
/// precision; the input comes back unchanged when the rates differ by less than 1 Hz.
std::vector<float> convertCaptureRate(const std::vector<float> &samples, int32_t channels,
                                      double fromRate, double toRate);

/// Interleaved `channels` (1 or 2) samples widened to stereo.
std::vector<float> widenToStereo(std::vector<float> samples, int32_t channels);

/// Gives `clip` the samples and places it at `start` (less the project's input latency
/// offset), with short fades, and raises the project's length to its end.
void finalizeAudioClip(Clip &clip, Engine &engine, std::vector<float> samples, int64_t start);
/// The same for a session clip, which has no place on the timeline.
void finalizeSessionAudioClip(Clip &clip, Engine &engine, std::vector<float> samples);

/// Makes `take` the one active clip among the track's arrangement clips of its kind that
/// start where it starts.
void activateTakeOnTrack(const std::vector<std::shared_ptr<Clip>> &clips, const Clip &take);

/// Turns a take into clips: overdub, live loop, one take per cycle pass or a single take,
/// with the project's punch range applied to arrangement and live-loop takes. A punch range
/// that keeps nothing adds nothing. Main thread; takes the project mutex and publishes.
RecordingOutcome placeRecordedTake(Engine &engine, CapturedTake take,
                                   const RecordingDestination &destination);

/// Moves recorded notes earlier by the frames their input arrived late, so that a note
/// lands where it was played against what was heard. A note that would then start before
/// the take keeps its end and starts with it; one that ended before the take is dropped.
void alignRecordedNotes(std::vector<MidiNote> &notes, int64_t latencyFrames);

/// A MIDI take that ran `takeFrames` frames from `start` (notes timed from `start` with the
/// cycle's jumps unrolled) while the engine cycled: each pass that holds notes becomes a
/// clip at the cycle start on its own take lane, named like an audio pass, and only the last
/// plays. Notes played before the cycle began are dropped, as audio is. Nullopt, with
/// nothing added, when the take did not outlast one pass of a running cycle.
std::optional<RecordingOutcome> placeCyclePassNotes(Engine &engine, uint64_t trackId,
                                                    const std::vector<MidiNote> &notes,
                                                    int64_t start, int64_t takeFrames);

/// A MIDI take: the notes (positions from `start`) become a clip on the MIDI track
/// `trackId`, placed at `start` on its own take lane. Nothing is added without notes.
RecordingOutcome placeRecordedNotes(Engine &engine, uint64_t trackId, std::vector<MidiNote> notes,
                                    int64_t start, int64_t length);

} // namespace orvane

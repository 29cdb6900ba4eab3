#pragma once

#include "app/shell/WorkspaceServices.h"
#include "core/engine/EngineRings.h"
#include "device/Recording.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

class OVMainView;

/// The record command around the engine's and the device's capture: picks and arms the
/// target track, runs the count-in, starts MIDI or audio recording in arrangement,
/// session-overdub or live-loop mode, and on the second press keeps the take as a clip.
/// Every outcome ends in a status text. Main thread only; transport changes travel as engine
/// requests.
class RecordingWorkflow {
  public:
    RecordingWorkflow(const WorkspaceServices &services, OVMainView &view);

    /// The take's leading track: the audio track whose take is kept first, else the MIDI
    /// track.
    uint64_t recordingTargetTrackId = 0;
    /// The MIDI track whose notes the running take records, 0 when none does.
    uint64_t midiTargetTrackId = 0;
    /// The other armed MIDI tracks of an arrangement take: they heard the same keys and get
    /// the same notes.
    std::vector<uint64_t> alsoMidiTrackIds;
    bool countInActive = false;
    uint64_t countInTargetTrack = 0;
    int64_t countInRecordStartSamples = 0;
    bool sessionOverdubMode = false;
    bool liveLoopMode = false;
    uint64_t sessionOverdubClipId = 0;
    bool sessionRecordSlotValid = false;
    int32_t sessionRecordRow = -1;
    int32_t sessionRecordCol = -1;
    /// The session grid cell under the pointer (-1 when none), set by the window.
    int32_t hoveredSessionRow = -1;
    int32_t hoveredSessionCol = -1;

    void toggleRecording();
    void startActualRecordingOnTrack(uint64_t trackId);
    /// Stops the running take and keeps it; false when nothing was recording.
    [[nodiscard]] bool stopRecordingAndSaveClip();
    /// Called by the user-interface tick: starts recording once the count-in has played.
    void tickCountIn();
    bool isRecordingActive() const;
    /// The armed track, else the selected audio or MIDI track; 0 when neither.
    uint64_t armedOrSelectedRecordTrackId() const;
    void togglePunch();
    void setPunchInAtPlayhead();
    void setPunchOutAtPlayhead();
    void toggleSessionOverdub();
    void toggleLiveLoop();
    /// Records the track's input into the session slot at `row` of launcher `column` (the
    /// track's place in the project), with the count-in as any take; the Session tab stays.
    void recordIntoSessionSlot(uint64_t trackId, int32_t row, int32_t column);

  private:
    /// Where each input pair's take goes: the target track first, then (in the arrangement)
    /// every other armed audio track, each from its chosen pair.
    std::vector<InputRecordingTarget> inputTargets() const;
    /// Opens the device again with as many input pairs as the armed tracks choose, when it
    /// captures fewer.
    void openInputPairsOfArmedTracks();
    void show(const std::string &text);
    void post(const Request &request);
    bool sessionModeOn() const { return sessionOverdubMode || liveLoopMode; }
    uint64_t pickOrAddTarget();
    void armOnly(uint64_t trackId);
    void chooseSessionDestination();
    /// A take placed on its track (0 ids when nothing was kept) and what to say about it.
    struct KeptTake {
        uint64_t trackId = 0;
        uint64_t clipId = 0;
        std::string status;
    };
    [[nodiscard]] bool startMidiRecording();
    /// Starts the device's capture; false, with the reason on the status line, when it fails.
    [[nodiscard]] bool startAudioRecording();
    KeptTake stopAudioRecording();
    KeptTake stopMidiRecording();
    /// The notes of a take for a session slot, as a looping clip in that slot.
    KeptTake keepMidiLoop(std::vector<MidiNote> notes);
    void keepTake(uint64_t trackId, uint64_t clipId);

    WorkspaceServices services;
    OVMainView &view;
    /// The next take goes into the slot asked for by `recordIntoSessionSlot`.
    bool slotRequested = false;
    int32_t requestedSlotRow = -1;
    int32_t requestedSlotCol = -1;
    /// A MIDI take runs (the engine was asked to record notes).
    bool midiTakeRunning = false;
    int64_t midiTakeStart = 0;
    /// The count-in's locate has reached the audio thread: the playhead was seen before the
    /// recording start. Until then the playhead still shows where record was pressed.
    bool countInPlayheadRewound = false;
};

} // namespace orvane

#pragma once

#include "core/engine/BlockIo.h"
#include "core/engine/ControllerMap.h"
#include "core/engine/EngineRings.h"
#include "core/engine/GraphSnapshot.h"
#include "core/engine/LiveMidi.h"
#include "core/engine/MasterBus.h"
#include "core/engine/MediaStreams.h"
#include "core/engine/MidiRecorder.h"
#include "core/engine/RenderContext.h"
#include "core/engine/RenderSlot.h"
#include "core/engine/RenderStages.h"
#include "core/engine/SessionPlayer.h"
#include "core/engine/SnapshotBuilder.h"
#include "core/engine/TrackWorkers.h"
#include "core/engine/Transport.h"
#include "core/model/Project.h"
#include "core/rt/RtPublished.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>
#include <vector>

namespace orvane {

/// Called by the engine when the device format changes, so the plug-in rack can prepare its
/// plug-ins for it (sample rate, longest block).
using DeviceFormatHook = std::function<void(double sampleRate, int32_t maxFrames)>;
using GraphPublishedHook = std::function<void()>;

/// Choices made once by whoever owns the engine, before it renders.
struct EngineOptions {
    /// Whether the master is kept for flashback capture. An engine that only exports never
    /// captures; without it, preparing leaves the 30 s ring (12 MiB at 48 kHz) unallocated.
    bool capturesFlashback = true;
    /// Whether an export spreads its tracks over a second thread where the machine has more
    /// than one core. The output is the same to the bit either way.
    bool exportOnTwoThreads = true;
    /// Whether live blocks spread their tracks over helper threads where the machine has more
    /// than one core. The output is the same to the bit either way.
    bool liveOnWorkerThreads = true;
};

/// What the device needs to decide whether it adds the raw input to the output.
struct InputMonitoring {
    /// The control room's talkback switch as last published, for the master section.
    std::atomic<bool> talkback{false};
    /// Set by each device block: some track played the device's input through its chain, so
    /// the device adds no raw copy of it.
    std::atomic<bool> tracksMonitorInput{false};
};

/// What live playback reads of file-backed clips, and what an export reads (filled off the
/// audio thread).
struct MediaStreamSlots {
    MediaStreamsSlot live;
    MediaStreamsSlot offline;
};

/// A timeline position in bars and beats. A beat is one unit of the meter's denominator (an
/// eighth in 6/8), as MIDI and JACK count them; `quarterBeats` counts quarter notes.
struct MusicalPosition {
    int32_t bar = 1;           // from 1
    int32_t beat = 1;          // from 1
    double beatFraction = 0.0; // how far into the beat, [0, 1)
    double quarterBeats = 0.0;
    double barStartQuarterBeats = 0.0;
    TimeSignature meter;
    /// The tempo in force, in quarter notes per minute.
    double quarterBpm = 120.0;
};

/// The real-time heart of the workstation and the front door of the engine: the live
/// project and its mutex, the transport, the request and notification rings, snapshot
/// publication and block rendering. The state behind it is split by owner: `Transport`
/// (positions and flags), `SnapshotBuilder` (snapshots and the processing state they carry),
/// the renderers of `RenderContext.h`, `MidiRecorder` and `MasterMeters`.
///
/// Threads and the rendering slot (`RenderSlot`, whose header has the whole state table). One
/// thread at a time renders; it holds the rendering slot for the block and is the only
/// consumer of the request rings and the only producer of the notification ring. The slot
/// is taken by
/// - a device: between `deviceStarted` and `deviceStopped`, every `processBlock` renders;
/// - an export: between `beginOfflineRender` and `endOfflineRender`, `processBlockOffline`
///   renders (device blocks come out silent meanwhile) and waits rather than skip a block;
/// - the main thread, only while neither owns the engine, to carry out queued requests
///   itself (MIDI recording without a device).
/// Members named `...Rt` run only while the slot is held; the others on the main thread
/// (debug builds check both). `prepareForDeviceFormat` may also run on the device layer's
/// own thread while no block renders.
class Engine {
  public:
    static constexpr int32_t maxRecordedNotes = MidiRecorder::maxRecordedNotes;
    static constexpr int64_t pdcHeadroomSamples = 8256;
    static constexpr uint32_t noReturnSlot = 0xFFFFFFFFu;

    Engine();
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // --- Document and publication (main thread) -------------------------------------
    Project project;
    mutable std::recursive_mutex projectMutex;

    void prepareToPlay(double newSampleRate, int32_t newBlockSize);
    void releaseResources();
    void rebuildRtCaches(int32_t newBlockSize);
    void publishGraph();
    void replaceProject(Project replacement);
    /// The snapshot most recently published, for main-thread readers.
    std::shared_ptr<const GraphSnapshot> currentGraph() const;
    /// Frees snapshots no block holds any more; called by publishing and by the user-interface
    /// tick, so no snapshot is ever freed on the audio thread.
    void collectRetiredGraphs();
    /// Copies the audio thread's track meters into the project's tracks for display.
    void copyTrackMetersToProject();
    void setInsertHook(InsertHook hook);
    void setLatencyHook(LatencyHook hook);
    /// Installs both hooks and returns once no block renders with the previous ones, so the
    /// owner of the previous hooks may go away (a rack uninstalls itself this way).
    /// `concurrentTracks`: the insert hook may run for different tracks at once.
    void setRenderHooks(InsertHook insert, LatencyHook latency, bool concurrentTracks = false);
    /// Called by `prepareForDeviceFormat` after the engine's own caches are rebuilt.
    void setDeviceFormatHook(DeviceFormatHook hook);
    /// Called at the end of every `publishGraph`, on the main thread with the project mutex
    /// held, so that whoever copies from the project for the audio thread (the rack, the notes
    /// of its instruments) follows every edit from the next block on.
    void setGraphPublishedHook(GraphPublishedHook hook);
    /// Counts `replaceProject` calls. Track ids start again in every project, so whoever keys
    /// state by track id (the rack) compares generations before trusting it.
    std::atomic<uint64_t> projectGeneration{0};

    static uint32_t returnSlotFor(const GraphSnapshot &snapshot, uint64_t trackId);

    // --- Device (the device layer) ------------------------------------------------------
    /// Before the device's first callback: from now on every `processBlock` renders and the
    /// main thread never claims the rendering slot. Returns once a claim in progress ended.
    void deviceStarted();
    /// After the device's last callback returned, also when the server shut the device down
    /// (callable from the server's thread).
    void deviceStopped();
    bool deviceActive() const { return renderSlot.deviceOwns(); }
    /// Before a larger period or a new sample rate arrives: rebuilds the real-time caches for
    /// blocks of up to `maxFrames`, prepares the processors afresh when the rate changed, calls
    /// the device format hook (the rack re-prepares its plug-ins) and publishes. Main thread,
    /// or the device layer's own thread while no block renders (a JACK buffer-size or
    /// sample-rate callback). Effect tails survive a change of period at the same rate.
    void prepareForDeviceFormat(double sampleRate, int32_t maxFrames);

    // --- Requests and notifications ---------------------------------------------------
    /// Producer side of one producer's ring; false when the ring was full and the request
    /// dropped. Each thread pushes only with its own `RequestProducer`.
    [[nodiscard]] bool pushRequest(RequestProducer producer, const Request &request);
    /// Consumer side of the notification ring (user-interface tick).
    [[nodiscard]] bool popNotification(Notification &notification);

    // --- Audio thread -------------------------------------------------------------------
    /// Renders one device period: queued requests at its start, `io.midi` at each event's
    /// frame, then the session or arrangement, the master and the metronome. A period longer
    /// than the prepared block is rendered in prepared-size pieces rather than dropped.
    /// While an export owns the engine, device blocks come out silent.
    void processBlock(const BlockIo &io);
    /// The same without inputs or MIDI: `channelCount` output buffers of `frames` floats;
    /// null buffers are skipped.
    void processBlock(float *const *channels, int32_t channelCount, int32_t frames);

    // --- Offline rendering (one thread at a time, the main thread or a worker) -------------
    /// Takes the engine for an export starting at `start` (at the playhead without it);
    /// false when another export has it. The export renders from fresh processing state,
    /// with its own position: it reads no live MIDI, consumes no request, writes no meter or
    /// flashback frame and leaves the live transport as it was.
    [[nodiscard]] bool beginOfflineRender();
    [[nodiscard]] bool beginOfflineRender(int64_t start);
    /// As above, delivering only track `preFaderTrackId` as it leaves its inserts: before its
    /// delay compensation, fader, pan and sends, and without the master section. What a
    /// freeze keeps.
    [[nodiscard]] bool beginOfflineRender(int64_t start, uint64_t preFaderTrackId);
    void endOfflineRender();
    /// The delay the track's inserts report now (0 without a latency hook).
    int64_t trackLatencySamples(uint64_t trackId);
    bool offlineRenderActive() const { return renderSlot.offlineOwns(); }
    /// One block of an export: the arrangement only, without the metronome click and without
    /// wrapping at the cycle end. Only between `beginOfflineRender` and `endOfflineRender`.
    void processBlockOffline(float *const *channels, int32_t channelCount, int32_t frames);
    EngineOptions options;

    // --- Transport (atomics) ------------------------------------------------------------
    Transport transport;
    /// Where the block being rendered starts, live or exported: an export keeps its own
    /// position and leaves the live playhead alone, and inserts read their automation here.
    std::atomic<int64_t> renderPosition{0};
    /// Where the last device block began once its requests were carried out, whether the
    /// transport rolled or not: the timeline position of the input that block captured.
    std::atomic<int64_t> deviceBlockStart{0};
    /// Frames the mix lags the playhead by, the delay that compensates the slowest chain;
    /// written by the audio thread with each block it plays.
    std::atomic<int64_t> mixLatencyFrames{0};
    /// The device's playback latency in frames; set by whoever starts the device.
    std::atomic<int64_t> playbackLatencyFrames{0};
    /// Where the song is as the listener hears it now: while playing, the playhead less the
    /// mix's and the device's latency, back across the cycle's jump while the cycle runs;
    /// stopped, the playhead. What the window shows moving (the playhead, the mixer's
    /// automated values) follows this, so that it moves with what is heard.
    int64_t heardPlayhead() const;

    // --- Rendering context -------------------------------------------------------------
    std::atomic<double> sampleRate{48000.0};
    std::atomic<int32_t> blockSize{512};
    /// What the user interface shows; playback updates it, never the document's tempo.
    std::atomic<double> tempo{120.0};
    /// `TimeSignature::packed()` of the current meter.
    std::atomic<uint64_t> meter{TimeSignature{}.packed()};
    std::atomic<int64_t> rtBlockSize{0};
    InputMonitoring monitoring;
    TimeSignature currentMeter() const { return TimeSignature::fromPacked(meter.load()); }

    // --- Session (main thread) --------------------------------------------------------------
    /// Session playback, for readers: session mode, a scene's own tempo and meter in force.
    const SessionPlayer &session() const { return sessionPlayer; }
    /// The session table as the audio thread last published it.
    SessionTableCopy readSessionTable() const { return sessionPlayer.readTable(); }
    /// Turns what the session is playing into arrangement clips at the playhead and publishes;
    /// returns the new clip ids. Takes the project mutex.
    std::vector<uint64_t> captureSessionToArrangement();

    // --- Live MIDI state (audio thread) --------------------------------------------------
    LiveMidiState liveMidi;

    // --- Learned controllers -------------------------------------------------------------
    /// Every publication hands it the project's mappings; live MIDI of a device block moves
    /// them before it reaches the keys. The main thread learns and collects moved values here.
    ControllerMap controllers;

    // --- Master meters (written by the audio thread) ---------------------------------------
    MasterMeters masterMeters;

    // --- File-backed media (filled off the audio thread) ---------------------------------
    MediaStreamSlots mediaStreams;
    /// Tempo follower estimate, 0 until the first one (main thread).
    double followedBpm = 0.0;

    // --- Master section (main thread) -----------------------------------------------------
    uint64_t flashbackAvailableSamples() const;
    /// The last `frames` frames of the master, oldest first, interleaved left, right.
    [[nodiscard]] bool readFlashback(uint64_t frames, std::vector<float> &out) const;
    void resizeFlashbackBuffer(int32_t seconds);
    void tickTempoFollower(double estimate);
    /// The recording calls travel to the rendering thread as requests; each returns false
    /// when its request could not be queued, so the caller can report the loss.
    [[nodiscard]] bool beginMidiRecording(int64_t start);
    [[nodiscard]] bool recordMidiNoteOn(int32_t note, float velocity, int64_t position);
    [[nodiscard]] bool recordMidiNoteOff(int32_t note, float velocity, int64_t position);
    /// Closes the take and returns it; false (and nothing in `take`) when the request could
    /// not be queued. While a device renders, waits for it to close the take, however long.
    [[nodiscard]] bool endMidiRecording(int64_t end, std::vector<MidiNote> &take);
    /// The take, empty when it was lost.
    std::vector<MidiNote> endMidiRecording(int64_t end);
    /// After `endMidiRecording`: how long the take ran, the cycle's jumps unrolled (its notes
    /// are timed on the same unrolled clock).
    int64_t midiTakeFrames() const { return midiRecorder.handedOverFrames(); }

    // --- MIDI recording state (rendering thread) ------------------------------------------
    MidiRecorder midiRecorder;

    // --- Musical time (main thread; each takes the project mutex) -------------------------
    int64_t beatsToSamples(double beats) const;
    double samplesToBeats(int64_t samples) const;
    TimeSignature timeSignatureAt(int64_t position) const;
    int64_t barLengthSamplesAt(int64_t position) const;
    int64_t barLengthSamples() const;
    void applyTempoAtPosition(int64_t position);
    void applyMeterAtPosition(int64_t position);
    double gridBeats(GridQuantize grid) const;
    int64_t quantizeSamples(int64_t position, GridQuantize grid, float swing) const;
    int64_t quantizeLaunchSamples(int64_t position, LaunchQuantize quantize) const;

    // --- Musical time on the published maps (any thread; no lock, no allocation) ---------
    /// Where `position` falls in bars and beats of the tempo and meter maps most recently
    /// published; what a transport master tells other programs each period.
    MusicalPosition musicalPositionRt(int64_t position) const noexcept;
    /// The timeline position of `quarterBeats` quarter notes from the start, in whole frames
    /// (truncated, once the arithmetic's rounding error is forgiven).
    int64_t quarterBeatsToSamplesRt(double quarterBeats) const noexcept;

    // --- Musical time on a snapshot (audio thread; no lock, no allocation) ---------------
    static int64_t beatsToSamplesRt(const GraphSnapshot &snapshot, double beats);
    static int64_t barLengthSamplesRt(const GraphSnapshot &snapshot, int64_t position);
    int64_t quantizeLaunchSamplesRt(const GraphSnapshot &snapshot, int64_t position,
                                    LaunchQuantize quantize) const;

  private:
    /// Carries out pending requests on the calling thread while neither a device nor an
    /// export owns the engine. False when one does (or a block is rendering right now).
    bool drainRequestsWhileIdle();
    [[nodiscard]] bool pushRecordingRequest(const Request &request);

    void renderDeviceBlockRt(const GraphSnapshot &snapshot, const BlockIo &io);
    void renderDevicePieceRt(const GraphSnapshot &snapshot, float *const *outputs,
                             int32_t outputChannelCount, int32_t frames,
                             std::span<const MidiEvent> midi, int32_t firstFrame, bool first);
    void renderOfflinePieceRt(const GraphSnapshot &snapshot, float *const *outputs,
                              int32_t outputChannelCount, int32_t frames);
    void drainRequestsRt(const GraphSnapshot &snapshot);
    void applyRequestRt(const Request &request, const GraphSnapshot &snapshot);
    void applyMidiEventRt(const MidiEvent &event, int32_t frame, int32_t frames);
    void stopTransportRt(const GraphSnapshot &snapshot, bool rewind);
    void noteOnRt(int32_t channel, int32_t note, double velocity, int32_t frame, int32_t frames);
    void noteOffRt(int32_t channel, int32_t note, int32_t frame);
    void followTempoRt(const GraphSnapshot &snapshot, int64_t position);
    void postNotificationRt(NotificationKind kind, uint64_t id, float value);
    RenderContext contextRt(const GraphSnapshot &snapshot, bool offline, float *const *outputs,
                            int32_t outputChannelCount, int32_t frames, int64_t position);

    void renderMetronomeRt(const GraphSnapshot &snapshot, float *const *channels,
                           int32_t channelCount, int32_t frames, int64_t position);

    struct Rings {
        std::array<RequestRing, requestProducerCount> requests;
        NotificationRing notifications;
    };
    /// The snapshots the audio thread reads and the builder that keeps their processing state.
    struct Publication {
        RtPublished<GraphSnapshot> graphs;
        SnapshotBuilder builder;
    };
    struct Hooks {
        InsertHook insert;
        LatencyHook latency;
        bool insertTakesTracksConcurrently = false;
        DeviceFormatHook deviceFormat;
        GraphPublishedHook graphPublished;
    };
    /// An export's own state, from `beginOfflineRender` to `endOfflineRender`.
    struct OfflineRender {
        /// The export's own playhead (rendering thread).
        int64_t position = 0;
        /// The track the export taps before its fader, or 0 for the whole mix.
        uint64_t preFaderTrackId = 0;
        /// The export's second thread.
        std::unique_ptr<TrackWorkers> workers;
    };
    /// The blocks being rendered.
    struct BlockProgress {
        /// Blocks the device or an export rendered: the main thread's sign that they still do.
        std::atomic<uint64_t> rendered{0};
        /// Frames of the piece being rendered, 0 between blocks (rendering thread).
        int32_t pieceFrames = 0;
        /// The device block being rendered, for the inputs of monitoring tracks (rendering
        /// thread).
        const BlockIo *device = nullptr;
    };

    Rings rings;
    Publication publication;
    Hooks hooks;

    /// Held by the thread that renders (or drains requests); see the class comment.
    RenderSlot renderSlot;
    BlockProgress blocks;
    OfflineRender offline;
    /// A new flashback ring for `rate`, or null when this engine captures none.
    std::shared_ptr<LatestFramesRing> newFlashbackRing(double rate, int32_t seconds) const;

    /// After `rings`, `tempo` and `meter`, which it reports to.
    SessionPlayer sessionPlayer{rings.notifications, tempo, meter};
};

} // namespace orvane

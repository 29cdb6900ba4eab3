#pragma once

#include "core/engine/EngineRings.h"
#include "core/engine/GraphSnapshot.h"
#include "core/engine/RenderStages.h"
#include "core/model/Project.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>
#include <vector>

namespace orvane {

struct ActiveSessionClip {
    uint64_t clipId = 0;
    int64_t offset = 0;
    bool playing = false;
    bool queued = false;
    int64_t launchAt = 0;
};

/// A consistent copy of the session table, as the audio thread last published it.
struct SessionTableCopy {
    std::array<ActiveSessionClip, 64> entries{};
    int32_t count = 0;
};

/// The table as the audio thread publishes it after every block: a sequence counter that is
/// odd while a copy is being written, around fields that are atomics, so that the main
/// thread reads a consistent copy without a lock and without a data race.
struct PublishedSessionTable {
    std::atomic<uint64_t> sequence{0};
    std::atomic<int32_t> count{0};
    std::array<std::atomic<uint64_t>, 64> clipIds{};
    std::array<std::atomic<int64_t>, 64> offsets{};
    std::array<std::atomic<uint8_t>, 64> flags{}; // 1 playing, 2 queued
    std::array<std::atomic<int64_t>, 64> launchAts{};
};

/// The real-time heart of the workstation: the live project and its mutex, the transport,
/// the request and notification rings, snapshot publication and block rendering.
///
/// Threads: `processBlock` and every `...Rt` member run on the audio thread (or on the one
/// thread that renders offline; never two at once). Everything else runs on the main thread
/// with `projectMutex` held or taken. `prepareToPlay` and `releaseResources` are called by
/// the device layer while its stream is stopped.
class Engine {
  public:
    static constexpr int32_t maxActiveSessionClips = 64;
    static constexpr int32_t maxRecordedNotes = 4096;
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
    /// Frees snapshots the audio thread has let go of; called by publishing and by the
    /// user-interface tick, so no snapshot is ever freed on the audio thread.
    void collectRetiredGraphs();
    /// Copies the audio thread's track meters into the project's tracks for display.
    void copyTrackMetersToProject();
    void setInsertHook(InsertHook hook);
    void setLatencyHook(LatencyHook hook);

    static uint32_t returnSlotFor(const GraphSnapshot &snapshot, uint64_t trackId);

    // --- Requests and notifications ---------------------------------------------------
    /// Producer side of one producer's ring; false when the ring was full and the request
    /// dropped. Each thread pushes only with its own `RequestProducer`.
    bool pushRequest(RequestProducer producer, const Request &request);
    /// Consumer side of the notification ring (user-interface tick).
    bool popNotification(Notification &notification);

    // --- Audio thread -------------------------------------------------------------------
    /// Renders one block into `channelCount` buffers of `frames` floats; null buffers are
    /// skipped. While an offline render owns the engine, device blocks come out silent.
    void processBlock(float *const *channels, int32_t channelCount, int32_t frames);

    // --- Offline rendering (one main-thread or worker caller at a time) -------------------
    /// Takes the engine for an offline mixdown; false when another offline render has it.
    bool beginOfflineRender();
    void endOfflineRender();
    bool offlineRenderActive() const { return offlineRendering.load(); }
    /// One block of a mixdown: the arrangement only, without the metronome click and without
    /// wrapping at the cycle end. Only between `beginOfflineRender` and `endOfflineRender`.
    void processBlockOffline(float *const *channels, int32_t channelCount, int32_t frames);

    // --- Transport (atomics) ------------------------------------------------------------
    std::atomic<bool> playing{false};
    std::atomic<bool> recording{false};
    std::atomic<bool> loopEnabled{false};
    std::atomic<bool> metronomeOn{false};
    std::atomic<int64_t> playhead{0};
    std::atomic<int64_t> loopStart{0};
    std::atomic<int64_t> loopEnd{0};

    // --- Rendering context -------------------------------------------------------------
    std::atomic<double> sampleRate{48000.0};
    std::atomic<int32_t> blockSize{512};
    /// What the user interface shows; playback updates it, never the document's tempo.
    std::atomic<double> tempo{120.0};
    /// `TimeSignature::packed()` of the current meter.
    std::atomic<uint64_t> meter{TimeSignature{}.packed()};
    std::atomic<int64_t> rtBlockSize{0};
    /// The control room's talkback switch as last published, for the master section.
    std::atomic<bool> talkback{false};
    TimeSignature currentMeter() const { return TimeSignature::fromPacked(meter.load()); }

    // --- Session state (audio thread) ----------------------------------------------------
    std::array<ActiveSessionClip, maxActiveSessionClips> activeSessionClips{};
    int32_t activeCount = 0;
    int32_t currentSceneRow = -1;
    std::atomic<bool> sessionMode{false};
    /// Set while a launched scene's own tempo is the displayed tempo: the tempo map is left
    /// alone, and neither the end-of-block follow nor a publication puts the map's tempo back.
    std::atomic<bool> sceneTempoInForce{false};
    std::atomic<bool> sceneMeterInForce{false};

    // --- Session (main thread) --------------------------------------------------------------
    /// The session table as the audio thread last published it.
    SessionTableCopy readSessionTable() const;
    /// Turns what the session is playing into arrangement clips at the playhead and publishes;
    /// returns the new clip ids. Takes the project mutex.
    std::vector<uint64_t> captureSessionToArrangement();

    // --- Live MIDI state (audio thread) --------------------------------------------------
    std::array<float, 128> heldVelocity{};
    std::array<float, 128> noteBend{};
    std::array<float, 128> notePressure{};
    std::array<int32_t, 16> lastNoteOnChannel{};

    // --- Master meters (written by the audio thread) ---------------------------------------
    std::atomic<float> masterPeakL{0.0f};
    std::atomic<float> masterPeakR{0.0f};
    std::atomic<float> masterLoudness{0.0f};
    /// Tempo follower estimate, 0 until the first one (main thread).
    double followedBpm = 0.0;

    // --- Master section (main thread) -----------------------------------------------------
    uint64_t flashbackAvailableSamples() const;
    /// The last `frames` frames of the master, oldest first, interleaved left, right.
    bool readFlashback(uint64_t frames, std::vector<float> &out) const;
    void resizeFlashbackBuffer(int32_t seconds);
    void tickTempoFollower(double estimate);
    void beginMidiRecording(int64_t start);
    void recordMidiNoteOn(int32_t note, float velocity, int64_t position);
    void recordMidiNoteOff(int32_t note, float velocity, int64_t position);
    std::vector<MidiNote> endMidiRecording(int64_t end);

    // --- MIDI recording state ------------------------------------------------------------
    // Touched only by the thread that renders blocks: the main thread's begin, record and
    // end calls travel as requests, and the finished take comes back through a hand-over
    // table. When no block is rendering (no device), the main thread claims the rendering
    // slot and carries the requests out itself.
    std::atomic<bool> midiRecordActive{false};
    int64_t midiRecordStart = 0;
    int32_t recordedCount = 0;
    std::array<MidiNote, maxRecordedNotes> recordedNotes{};
    std::array<bool, 128> noteOnPending{};
    std::array<int64_t, 128> noteOnPosition{};

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

    // --- Musical time on a snapshot (audio thread; no lock, no allocation) ---------------
    static int64_t beatsToSamplesRt(const GraphSnapshot &snapshot, double beats);
    static int64_t barLengthSamplesRt(const GraphSnapshot &snapshot, int64_t position);
    int64_t quantizeLaunchSamplesRt(const GraphSnapshot &snapshot, int64_t position,
                                    LaunchQuantize quantize) const;

  private:
    enum class TrackSource { Arrangement, Session };

    void beginMidiRecordingRt(int64_t start);
    void recordNoteOnRt(int32_t note, int64_t position);
    void recordNoteOffRt(int32_t note, float velocity, int64_t position);
    void endMidiRecordingRt(int64_t end, uint64_t sequence);
    /// Carries out pending requests on the calling thread when no block is rendering and
    /// none has started recently (no device is driving the engine). False when a device is.
    bool drainRequestsWhileIdle();
    bool pushRecordingRequest(const Request &request);
    void drainRequestsRt(const GraphSnapshot &snapshot);
    void applyRequestRt(const Request &request, const GraphSnapshot &snapshot);
    void stopTransportRt(const GraphSnapshot &snapshot, bool rewind);
    void noteOnRt(int64_t channelAndNote, double velocity);
    void noteOffRt(int64_t channelAndNote);
    void followTempoRt(const GraphSnapshot &snapshot, int64_t position);
    void postNotificationRt(uint8_t kind, uint64_t id, float value);

    // Renderer seams, each in its own source file.
    void renderArrangementRt(const GraphSnapshot &snapshot, float *const *channels,
                             int32_t channelCount, int32_t frames, int64_t position);
    void renderSessionRt(const GraphSnapshot &snapshot, float *const *channels,
                         int32_t channelCount, int32_t frames, int64_t position);
    void renderMetronomeRt(const GraphSnapshot &snapshot, float *const *channels,
                           int32_t channelCount, int32_t frames, int64_t position);
    /// False when no session clip of the track played in this block.
    bool produceSessionSourceRt(const GraphSnapshot &snapshot, std::size_t trackIndex,
                                float *left, float *right, int32_t frames, int64_t position) const;
    void launchSessionClipRt(const GraphSnapshot &snapshot, uint64_t clipId);
    /// Launches a scene quantised from `now`: the playhead for a request, the end of the
    /// block for a follow action.
    void launchSceneRt(const GraphSnapshot &snapshot, uint64_t sceneId, int64_t now);
    void stopSessionRt(const GraphSnapshot &snapshot);
    /// Hands the displayed tempo and meter back to the maps once a scene's own are over.
    void releaseSceneTempoRt(const GraphSnapshot &snapshot, int64_t position);
    void scheduleSessionBlockRt(const GraphSnapshot &snapshot, int32_t frames, int64_t position);
    void finishSessionBlockRt(const GraphSnapshot &snapshot, int64_t now);
    void handleSessionClipEnded(const GraphSnapshot &snapshot, const Clip &clip,
                                std::size_t entry, int64_t now);
    bool isSceneRowIdle(const GraphSnapshot &snapshot, int32_t row) const;
    void handleSceneRowEnded(const GraphSnapshot &snapshot, int32_t row, int64_t now,
                             bool applyFollowAction);
    void publishSessionTableRt();

    // Shared stages of the renderers.
    bool prepareTracksRt(const GraphSnapshot &snapshot, int32_t frames);
    void renderTracksRt(const GraphSnapshot &snapshot, int32_t frames, int64_t position,
                        TrackSource source);
    void renderSourceTrackRt(const GraphSnapshot &snapshot, std::size_t index, int32_t frames,
                             int64_t position, TrackSource source, bool anySolo,
                             int64_t maxLatency);
    void renderReturnTrackRt(const GraphSnapshot &snapshot, std::size_t index, int32_t frames,
                             int64_t position, bool anySolo);
    void runChannelStagesRt(const GraphSnapshot &snapshot, std::size_t index, float *left,
                            float *right, int32_t frames);
    void addSendsRt(const GraphSnapshot &snapshot, const Track &track, const float *left,
                    const float *right, int32_t frames, bool preFader);
    static void storePeaksRt(const GraphSnapshot &snapshot, std::size_t index, Peaks peaks);
    void produceArrangementSourceRt(const GraphSnapshot &snapshot, const Track &track, float *left,
                                    float *right, int32_t frames, int64_t position) const;
    void addMidiClipRt(const GraphSnapshot &snapshot, const Clip &clip, const ExpressionMap *map,
                       float *left, float *right, int32_t frames, int64_t position) const;
    void addLiveInputRt(const GraphSnapshot &snapshot, const Track &track, float *left,
                        float *right, int32_t frames, int64_t position) const;
    void finishMasterRt(const GraphSnapshot &snapshot, float *const *channels, int32_t channelCount,
                        int32_t frames);
    void updateMasterMeters(const GraphSnapshot &snapshot, const float *left, const float *right,
                            int32_t frames);
    void pushFlashback(const GraphSnapshot &snapshot, const float *left, const float *right,
                       int32_t frames);

    void renderBlockRt(float *const *channels, int32_t channelCount, int32_t frames, bool mixdown);
    const GraphSnapshot *acquireGraphRt();
    void releaseGraphRt();
    void ensureRenderCaches();
    std::shared_ptr<GraphSnapshot> buildSnapshot();

    std::array<RequestRing, requestProducerCount> requestRings;
    NotificationRing notifications;

    // Publication: the main thread owns every snapshot; the audio thread announces the one
    // it reads in `graphInUse`, so a retired snapshot is freed only once it is not in use.
    std::shared_ptr<const GraphSnapshot> publishedGraph;
    std::atomic<const GraphSnapshot *> graphForAudio{nullptr};
    std::atomic<const GraphSnapshot *> graphInUse{nullptr};
    std::vector<std::shared_ptr<const GraphSnapshot>> retiredGraphs;

    // Main-thread side of the per-track state and buffers handed to the audio thread.
    std::unordered_map<uint64_t, std::shared_ptr<TrackRenderState>> trackStates;
    std::unordered_map<uint64_t, std::shared_ptr<StockInsertChain>> stockChains;
    std::shared_ptr<MasterRenderState> masterState;
    std::shared_ptr<FlashbackRing> flashback;
    std::shared_ptr<RenderScratch> scratch;
    // Hand-over of a finished MIDI take from the rendering thread to the main thread.
    std::array<MidiNote, maxRecordedNotes> handOverNotes{};
    int32_t handOverCount = 0;
    std::atomic<uint64_t> midiTakesRequested{0}; // main thread
    std::atomic<uint64_t> midiTakesHandedOver{0};
    std::atomic<int64_t> lastBlockStartNanos{0};
    std::atomic<bool> offlineRendering{false};
    /// Set while a block renders, so that a second caller gets silence instead of sharing the
    /// audio thread's state.
    std::atomic<bool> blockInProgress{false};
    float loudnessState = 0.0f; // audio thread
    /// What each session entry does in the block being rendered (audio thread).
    struct SessionEntryBlock {
        const Clip *clip = nullptr;
        std::size_t trackIndex = 0;
        int64_t firstFrame = 0;
        int64_t endFrame = 0; // frames firstFrame..endFrame-1 sound
        int64_t startOffset = 0;
        int64_t period = 1;
        bool loops = false;
        bool ended = false;
    };
    std::array<SessionEntryBlock, maxActiveSessionClips> sessionBlock{};
    int32_t sessionBlockCount = 0;
    uint64_t sceneLaunchesRt = 0;
    PublishedSessionTable publishedSessionTable;
    InsertHook insertHook;
    LatencyHook latencyHook;
};

} // namespace orvane

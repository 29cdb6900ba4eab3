#pragma once

#include "core/engine/Engine.h"
#include "device/AudioBackend.h"
#include "device/DspLoad.h"
#include "device/InputRings.h"
#include "device/Recording.h"
#include "device/TakeJournal.h"
#include "device/TakeSpool.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orvane {

/// Connects the engine to the machine's sound: JACK first, ALSA through RtAudio second, and a
/// null device that keeps time when neither has anything to play on. Renders the engine on
/// the device's audio thread, mixes the input in while recording, keeps the latest input in a
/// monitor ring and hands captured input to the main thread for the recording.
///
/// Threads: `renderDevice` runs on the audio thread; `periodChanging`, `deviceUnderrun` and
/// `deviceLost` on the back end's own threads; everything else on the main thread. The audio
/// thread takes no lock: the monitor ring and the capture queue are lock-free, and the
/// recording buffer is only touched by the main thread (`drainCapture`).
class AudioDeviceEngine final : public DeviceHost {
  public:
    explicit AudioDeviceEngine(Engine &engine);
    ~AudioDeviceEngine() override;
    AudioDeviceEngine(const AudioDeviceEngine &) = delete;
    AudioDeviceEngine &operator=(const AudioDeviceEngine &) = delete;

    // --- Devices ---------------------------------------------------------------------------
    /// Every device that can play or capture now: "JACK" while a server answers, each ALSA
    /// device, and "Null". Ids number this list (1 upwards) until the next call.
    std::vector<AudioDeviceDesc> listDevices();
    uint32_t defaultOutputDeviceId();
    uint32_t defaultInputDeviceId();
    bool isValidDevice(uint32_t id, bool needsInput, bool needsOutput);
    /// The id of the device with that exact name in the current list, 0 when there is none.
    uint32_t deviceIdByName(const std::string &name);
    double inputNominalSampleRate() const;
    void refreshDeviceLabels();

    // --- Running ---------------------------------------------------------------------------
    bool applySettings(uint32_t outputId, uint32_t inputId, int32_t bufferFrames);
    bool start();
    void stop();
    bool startRecordQueue();
    void stopRecordQueue();
    bool ensureInputMonitor();

    // --- Input -----------------------------------------------------------------------------
    void pushMonitorSamples(const float *samples, int32_t frames, int32_t channels);
    void pullMonitorSamples(float *left, float *right, int32_t frames) const;
    bool readMonitorInterleaved(std::vector<float> &out, uint32_t frames) const;
    void capturePreview(std::vector<float> &out, int32_t &channels, int64_t &frames);
    /// Main thread: moves captured input into `recordBuffer` while recording; returns the
    /// frames appended. Input captured while not recording is left to the monitor ring.
    int64_t drainCapture();

    // --- Recording and bouncing (main thread) ------------------------------------------------
    /// Starts capturing input for a take from the next device block on; false (with
    /// `lastError`) when a recording runs already or no input can be captured.
    bool beginRecording();
    /// Ends the take and turns it into clips (see `placeRecordedTake`): the input is
    /// aligned by the latencies the device reports, so that what was played against the
    /// timeline lands where it was heard. Returns the frames kept, 0 when nothing was added;
    /// `outTrackId` and `outClipId` (may be null) name the track and the last clip added.
    /// Frames lost to a stalled main thread are counted in `lastRecordingOverflowFrames`
    /// and reported in `lastError` and the log.
    /// The take is the first input pair's.
    int64_t finishRecordingIntoProject(Engine &engine, uint64_t targetTrackId, uint64_t *outTrackId,
                                       uint64_t *outClipId, uint64_t overdubClipId,
                                       int32_t sessionRow, int32_t sessionColumn);
    /// Ends the take of every input pair at once and places each named pair's take at its
    /// destination, in the order given (a pair the device does not capture adds nothing).
    /// One outcome per target; `lastRecordingOverflowFrames` counts every pair's losses.
    std::vector<RecordingOutcome> finishRecordingInputsIntoProject(
        Engine &engine, std::span<const InputRecordingTarget> targets);
    /// Keeps the next takes on disk while they are recorded, so that they outlive a crash: a
    /// journal and one file per pair named in `targets` in the project folder's
    /// `takeJournalFolder` (see `TakeSpool`, `TakeJournal`). Set before `beginRecording`; an
    /// empty folder keeps takes in memory only.
    void keepTakesOnDisk(std::string projectFolder, std::vector<InputRecordingTarget> targets);
    /// After the takes were placed and kept (or there were none): the journal and the take
    /// files go. Until then the journal offers the take again should the program die.
    void forgetTakesOnDisk();
    /// The journal of the take being recorded or last recorded, empty when there is none.
    const std::string &takeJournalPath() const { return journalPath; }
    /// The device's reported round trip: capture plus playback latency, in frames.
    int64_t roundTripLatencyFrames() const;
    /// The device's reported playback latency, in frames (0 without a device).
    int64_t playbackLatencyFrames() const;
    /// How late recorded MIDI arrives against what the player heard: the MIDI input's
    /// reported latency plus the playback latency (see `alignRecordedNotes`).
    int64_t midiInputLatencyFrames() const;
    /// Offline mixdown of the arrangement (no click, no cycle wrap) into `out`, interleaved
    /// with `channels` (1: the left signal only). The export has its own position and state:
    /// the live transport and what the device plays are left as they were.
    bool bounce(std::vector<float> &out, int64_t start, int64_t frames, int32_t channels);
    /// `bounce` with one track soloed alone; every solo switch is put back afterwards.
    bool bounceTrack(uint64_t trackId, std::vector<float> &out, int64_t start, int64_t frames,
                     int32_t channels);
    /// Input frames the hand-off from the audio thread dropped, since the device opened.
    uint64_t captureOverflowFrames() const;
    /// Stereo input pairs the running device captures (0 without capture).
    int32_t capturedInputPairs() const { return capturedPairs.load(std::memory_order_relaxed); }
    /// Frames the device has asked for since this object was made (any thread).
    uint64_t renderedFrames() const { return framesRendered.load(std::memory_order_acquire); }
    /// MIDI messages a period could not carry, since the device opened.
    uint64_t droppedMidiEvents() const { return backend ? backend->droppedMidiEvents() : 0; }

    // --- Keeping time with other programs (main thread) ---------------------------------------
    /// How the device follows or leads the JACK transport and MIDI clock; takes effect at
    /// once on a running device and with every later start. False when the running device
    /// cannot keep time with others (only JACK can); the settings are kept for the next start.
    bool setTransportSync(const TransportSyncSettings &settings);
    const TransportSyncSettings &transportSync() const { return syncSettings; }
    /// The tempo of the MIDI clock arriving at the clock input, 0 while none arrives.
    double externalClockBpm() const { return backend ? backend->externalClockBpm() : 0.0; }
    /// With the clock input following tempo: sets the project's tempo to the clock's when they
    /// differ by more than a hundredth of a beat per minute, and publishes. True when it did.
    bool applyExternalClockTempo();

    // --- Device health -----------------------------------------------------------------------
    uint64_t xrunCount() const { return xruns.load(std::memory_order_relaxed); }
    bool deviceWasLost() const { return lost.load(std::memory_order_acquire); }
    /// Why the device went away, once `deviceWasLost`.
    std::string lostReason() const;
    /// Main thread, on its tick: prepares the engine (and through it the plug-ins) for a
    /// period or rate the device changed to since the last call. True when there was one.
    bool applyDeviceFormat();
    DspLoadSummary dspLoad() const { return loadMeter.summary(); }
    const DspLoadMeter &dspLoadMeter() const { return loadMeter; }
    /// Page faults the audio thread waited on the disk for (its own count, read from the
    /// kernel), since it first rendered; -1 before that or when the kernel does not say.
    long audioThreadMajorFaults() const;

    /// Main thread, while stopped. The observer must outlive every period: stop the device
    /// (or destroy it) before the observer goes.
    void setRenderObserver(RenderObserver *observer) { observerForAudio.store(observer); }
    /// Log lines ("audio started sr=…"); set while stopped.
    std::function<void(const std::string &line)> log;
    /// Connect the ports to the system's playback and capture ports when starting.
    bool connectPorts = true;
    /// Stereo input pairs to open (1 to `maxInputPairs`; JACK: in_1, in_2 for the first,
    /// in_3, in_4 for the second, ...), each recording its own take. Set while stopped.
    int32_t inputPairs = 1;

    // --- State -------------------------------------------------------------------------------
    LatestFramesRing monitor;
    std::vector<float> monitorScratchLeft, monitorScratchRight;
    Engine &engine;
    std::unique_ptr<AudioBackend> backend; // the output stream and its capture
    double sampleRate = 48000.0;
    int32_t bufferFrames = 512;
    int32_t requestedBufferFrames = 512;
    int32_t recordChannels = 1;
    bool recordNonInterleaved = false;
    double recordSampleRate = 48000.0;
    bool outputInterleaved = false;
    uint32_t outputDeviceId = 0, inputDeviceId = 0;
    std::string deviceLabel = "Default Output";
    std::string outputDeviceName, inputDeviceName;
    std::string lastError;
    std::atomic<bool> outputRunning{false};
    std::atomic<bool> recording{false};
    std::mutex recordMutex;
    std::vector<float> renderLeft, renderRight;
    /// One per input pair: the hand-off from the audio thread and the recording the main
    /// thread fills from it (under `recordMutex`). Only the opened pairs are allocated; the
    /// first pair's recording has `recordChannels` per frame.
    std::array<InputCapture, maxInputPairs> inputCaptures;
    bool recordQueueRunning = false;
    /// Timeline position of the first captured frame of the take, before latency alignment.
    int64_t recordStartSample = 0;
    int64_t recordLatencyFrames = 0; // the round trip a take is placed by
    /// Frames of the last take lost in the hand-off (0 when it arrived whole).
    uint64_t lastRecordingOverflowFrames = 0;

    // DeviceHost, called by the back end.
    void renderDevice(const float *const *inputs, int32_t inputCount, float *const *outputs,
                      int32_t outputCount, int32_t frames,
                      std::span<const MidiEvent> midi = {}) noexcept override;
    void periodChanging(double newSampleRate, int32_t frames) override;
    void deviceUnderrun() noexcept override;
    void deviceLost(const char *reason) override;
    RenderObserver *renderObserver() noexcept override { return observerForAudio.load(); }
    bool rendersUnderTrap() const noexcept override { return engine.deviceActive(); }

  private:
    std::string nameOf(uint32_t id) const;
    const AudioDeviceDesc *findDevice(uint32_t id) const;
    void resolveDefaultDevices();
    bool openOutput();
    bool startBackend();
    void closeOutput();
    void sizeRenderBuffers(int32_t frames);
    void prepareEngine(double rate, int32_t frames);
    void mixInputRt(int32_t frames) noexcept;
    void captureInputRt(const float *const *inputs, int32_t inputCount, int32_t frames) noexcept;
    /// Moves the take's start back by what was captured before the transport first moved.
    void noteWhereTheTakeRollsRt(int32_t frames) noexcept;
    /// Allocates the hand-off of every pair the freshly opened back end captures.
    void allocateInputCaptures();
    /// The pair's recording so far as a take placed on the timeline, its buffer left empty.
    std::optional<CapturedTake> takeFromPair(int32_t pair);
    /// Waits (briefly) until the device has finished a block begun after this call, so that
    /// nothing captured before a flag changed can still arrive.
    void waitForDeviceBlock();
    void writeLog(const std::string &line);
    /// Main thread: opens the journal and a spool per target pair for a take beginning now.
    void openTakeSpools();
    /// Main thread, from the drain: writes the journal again when the take's start moved.
    void noteTakeStartInJournal();
    /// Main thread: the spools get what is left and close; the journal stays.
    void closeTakeSpools();

    std::vector<AudioDeviceDesc> devices;
    TransportSyncSettings syncSettings;
    std::string spoolFolder;
    std::vector<InputRecordingTarget> spoolTargets;
    std::array<std::unique_ptr<TakeSpool>, maxInputPairs> spools;
    std::string journalPath;
    TakeJournal journal;
    DspLoadMeter loadMeter;
    std::atomic<uint64_t> xruns{0};
    std::atomic<bool> lost{false};
    std::array<char, 256> lostText{};
    std::atomic<RenderObserver *> observerForAudio{nullptr};
    std::atomic<int32_t> renderCapacity{0};
    /// Set by the audio thread with the first captured block of a take (release), cleared by
    /// the main thread before the take starts.
    std::atomic<bool> captureStartKnown{false};
    std::atomic<int32_t> capturedPairs{0};
    std::atomic<int64_t> captureStart{0};
    /// The audio thread's own count of a take's frames captured before the transport moved,
    /// and whether it has moved since the take began; reset by the main thread between takes.
    std::atomic<int64_t> standingCaptureFrames{0};
    std::atomic<bool> captureRolled{false};
    std::atomic<uint64_t> blocksRendered{0};
    std::atomic<uint64_t> framesRendered{0};
    /// Format changes the device announced, and those the main thread has prepared for.
    std::atomic<uint64_t> formatChanges{0};
    uint64_t formatChangesApplied = 0;
    std::atomic<int32_t> pendingFrames{0};
    /// The kernel's id of the thread that renders, taken with its first block.
    std::atomic<pid_t> audioThreadId{0};
    std::atomic<double> periodRate{48000.0};
    int64_t preparedFrames = 0;
};

/// Locks the process's memory against paging when the system allows it, so that the audio
/// thread never waits for the disk. Skipped in sanitizer builds (their shadow memory is far
/// larger than any lock limit). True when memory is locked.
bool lockMemoryIfAllowed();

} // namespace orvane

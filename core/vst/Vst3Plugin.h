#pragma once

#include "core/vst/Deadline.h"
#include "core/vst/PluginDescription.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::vst {

class PluginSandboxController;

/// One parameter as the plug-in's edit controller describes it.
struct PluginParameterInfo {
    uint32_t id = 0;
    std::string name;
    float normalizedValue = 0.0f;
    /// "dB", "Hz" and the like, as the plug-in labels the value; may be empty.
    std::string units;
    /// 0 for a continuous value, 1 for a switch, N for N + 1 choices.
    int32_t stepCount = 0;
    /// False for values the plug-in only reports (meters) or keeps to itself.
    bool editable = true;
};

/// A note to start at the beginning of the next block.
struct NoteOn {
    int pitch = 0;
    float velocity = 0.0f;
};

/// Hosts one VST 3 audio plug-in instance, in this process or (through the sandbox helper) in
/// another one, behind one interface.
///
/// Threads: `process` and `processInstrument` run on the audio thread; everything else on the
/// main thread. The audio thread never waits: it only tries the instance's processing lock and
/// leaves the block untouched while `prepare` or `unload` hold it. Parameter values reach the
/// audio thread through a lock-free hand-over; the edit controller is only ever called from the
/// main thread.
///
/// Out of process, every instance runs in a sandbox helper of its own, reached over one
/// connection that main-thread requests and the audio thread's blocks share under the same
/// processing lock. Parameter values ride on the audio thread's own exchanges, so setting one
/// never takes that lock. Every reply has a deadline; a helper that crashes, closes the
/// connection or keeps missing its deadlines is dropped, and the instance falls back to the
/// unloaded state.
class Vst3Plugin {
  public:
    Vst3Plugin();
    ~Vst3Plugin();
    Vst3Plugin(const Vst3Plugin &) = delete;
    Vst3Plugin &operator=(const Vst3Plugin &) = delete;

    /// Filled by `load`, cleared by `unload`.
    PluginDescription description;
    /// Latency in samples reported at the last `prepare`; 0 after `load` and `unload`.
    int32_t latency = 0;

    void setUseOutOfProcess(bool outOfProcess, PluginSandboxController *sandbox);
    bool usesOutOfProcess() const { return useOutOfProcess; }
    /// Where a sandboxed LV2 plug-in keeps the files it writes with its state (inside the
    /// project folder); sent to its helper now and to every helper that stands in for it.
    [[nodiscard]] bool setSandboxStateFolder(const std::string &folder);

    /// Loads the bundle at `path`. A `uid` of 32 hexadecimal digits picks the audio class whose
    /// id, in uppercase hexadecimal, equals it exactly; any other uid (empty, a path) takes the
    /// bundle's first audio class.
    [[nodiscard]] bool load(const std::string &path, const std::string &uid);
    [[nodiscard]] bool prepare(double sampleRate, int blockSize);
    /// Processes the two buffers in place.
    void process(float *left, float *right, int frames);
    /// Audio thread: processes in place within `deadline`. True when the buffers hold the
    /// plug-in's output; false when they were left as they were: the instance was busy with a
    /// main-thread request, is not loaded, or (out of process) its helper missed the deadline.
    /// A helper that misses short deadlines several blocks in a row is dropped; its reply, if
    /// it comes later, is discarded.
    [[nodiscard]] bool process(float *left, float *right, int frames, Deadline deadline);
    /// Audio thread: as above, starting and stopping notes at the start of the block (note-offs
    /// first; at most 50 events a block).
    [[nodiscard]] bool process(float *left, float *right, int frames, Deadline deadline,
                               std::span<const NoteOn> noteOns, std::span<const int> noteOffs);
    /// Audio thread, live playback: out of process, hands the block to the helper and returns
    /// the block it finished during the last period, so the output lags by `liveLatency`
    /// frames. The audio thread waits only for a helper running late, until `patience` passes.
    /// A block the helper missed plays dry (with the same lag), faded from the last good block,
    /// and is counted; the helper stays. False when the instance cannot run behind (in process,
    /// no shared block, busy, longer blocks than prepared): the caller then uses `process`.
    [[nodiscard]] bool processLive(float *left, float *right, int frames, Deadline patience,
                                   std::span<const NoteOn> noteOns, std::span<const int> noteOffs);
    /// Main thread: frames `processLive` adds, the prepared block size out of process, else 0.
    int32_t liveLatency() const;
    /// Main thread: blocks the helpers of this instance missed in live playback.
    uint64_t lateBlocks() const;
    /// Main thread, out of process: when the helper's process is gone, or it has missed every
    /// live block for a whole second, starts a new helper with the same plug-in, block size,
    /// parameter values and the state last seen, and returns true. The instance stays loaded.
    [[nodiscard]] bool restartLostHelper();
    /// Processes in place and starts and stops notes at the start of the block (note-offs
    /// first; at most 50 events a block).
    void processInstrument(float *left, float *right, int frames, std::span<const NoteOn> noteOns,
                           std::span<const int> noteOffs);

    [[nodiscard]] bool getState(std::vector<uint8_t> &state);
    [[nodiscard]] bool setState(const std::vector<uint8_t> &state);

    std::vector<PluginParameterInfo> listParameters();
    /// Clamps the value to [0, 1] and keeps it for every later block.
    [[nodiscard]] bool setParameterNormalized(uint32_t id, float value);
    /// Main thread: makes `id` settable from the audio thread, keeping its current value.
    void prepareParameterForAutomation(uint32_t id);
    /// Audio thread: the value reaches the plug-in with the next block (in process through its
    /// parameter changes, out of process on the block's own exchange), never through the edit
    /// controller. False for an id that was not prepared.
    [[nodiscard]] bool setParameterNormalizedRt(uint32_t id, float value);
    float getParameterNormalized(uint32_t id);
    /// The plug-in's own text for the value `normalized` would give `id` (without units);
    /// empty when it has none to offer.
    std::string parameterValueText(uint32_t id, float normalized);

    bool hasEditor();
    /// Opens the editor in a window of its own (at least 400 × 300), titled with the plug-in's
    /// name. `parent` is not used: the window is top-level.
    [[nodiscard]] bool attachEditor(void *parent);
    void closeEditor();
    /// X11 id of the open editor window, 0 when none is open.
    unsigned long editorWindowId() const;

    void unload();
    bool isLoaded() const;

    /// Main thread, out of process: when an audio transfer has failed since the last call,
    /// records "PROCESS write failed" or "PROCESS read failed" with the sandbox controller,
    /// stops this instance's helper and returns true. The instance is then unloaded.
    bool collectTransportFailure();
    /// Main thread, out of process: true when this instance's own helper died by itself (a
    /// crash while loading, processing or opening the editor), rather than being stopped.
    /// Reset by `load`.
    bool ownHelperCrashed() const;
    /// Process id of this instance's own helper, or -1 (in process, or not loaded).
    int32_t helperProcessId() const;
    /// Main thread: takes the parameter edits the plug-in reported from inside `process` and
    /// keeps them as edits made here; returns how many there were. Parameter reads do it too.
    size_t collectProcessEdits();

  private:
    struct Impl;

    [[nodiscard]] bool loadInProcess(const std::string &path, const std::string &uid);
    [[nodiscard]] bool loadOutOfProcess(const std::string &path, const std::string &uid);
    int connectHelper(const std::string &path, const std::string &uid);
    void attachSharedBlock(int fd);
    [[nodiscard]] bool processShared(float *left, float *right, int frames,
                                     std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                     Deadline deadline, bool patient);
    size_t collectChangedParams();
    void rememberParameter(uint32_t id, float value);
    void refreshParametersFromController();
    void flushParametersToProcessor();
    bool hasUnsentParameters();
    void processBlock(float *left, float *right, int frames, std::span<const NoteOn> noteOns,
                      std::span<const int> noteOffs);
    [[nodiscard]] bool processWithin(float *left, float *right, int frames,
                                     std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                     const Deadline *budget);

    [[nodiscard]] bool remoteExchange(std::string_view request, std::string &reply);
    [[nodiscard]] bool remoteExpectOk(std::string_view request);
    [[nodiscard]] bool sendChangedParams(int fd, Deadline deadline);
    [[nodiscard]] bool prepareRemote(double sampleRate, int blockSize);
    [[nodiscard]] bool getStateRemote(std::vector<uint8_t> &state);
    [[nodiscard]] bool processRemote(float *left, float *right, int frames,
                                     std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                     const Deadline *budget);
    [[nodiscard]] bool transferBlock(float *left, float *right, int frames, std::string_view lines,
                                     Deadline deadline, bool patient);
    void queueChangedParameters();
    size_t formatChangedParams();
    void commitParams();
    [[nodiscard]] bool dropLateReply(Deadline deadline, bool &broken);
    [[nodiscard]] bool missBlock(bool patient);
    void failTransfer(int failure);
    void dropHelper(const std::string &reason);
    void unloadRemote();

    std::unique_ptr<Impl> impl;
    bool useOutOfProcess = false;
    PluginSandboxController *controller = nullptr;
};

} // namespace orvane::vst

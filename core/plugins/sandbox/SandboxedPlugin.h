#pragma once

#include "core/plugins/Plugin.h"
#include "core/plugins/sandbox/SandboxProtocol.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::vst {

class PluginSandboxController;

/// One plug-in instance (VST 3, or LV2 by its "lv2:" id) in a sandbox helper of its own,
/// reached over one connection that main-thread requests and the audio thread's blocks share
/// under the same processing lock.
///
/// Threads: `process`, `processRt` and `processLiveRt` run on the audio thread; everything else
/// on the main thread. The audio thread never waits: it only tries the processing lock and
/// leaves the block untouched while a request holds it. Parameter values ride on the audio
/// thread's own exchanges, so setting one never takes that lock. Every reply has a deadline; a
/// helper that crashes, closes the connection or keeps missing its deadlines is dropped, and
/// the instance falls back to the unloaded state.
class SandboxedPlugin final : public Plugin {
  public:
    explicit SandboxedPlugin(PluginSandboxController &controller);
    ~SandboxedPlugin() override;

    /// Latency in samples reported at the last `prepare`; 0 after `load` and `unload`.
    int32_t latency = 0;

    /// Where a sandboxed LV2 plug-in keeps the files it writes with its state (inside the
    /// project folder); sent to its helper now and to every helper that stands in for it.
    [[nodiscard]] bool setStateFolder(const std::string &folder) override;

    /// Starts a helper that loads the bundle at `path` (or the LV2 plug-in whose id `path` is).
    /// A `uid` of 32 hexadecimal digits picks that audio class.
    [[nodiscard]] bool load(const std::string &path, const std::string &uid);
    [[nodiscard]] bool prepare(double sampleRate, int blockSize) override;
    int32_t latencySamples() const override { return latency; }
    /// Processes the two buffers in place.
    void process(float *left, float *right, int frames);
    /// Audio thread: processes in place within `deadline`. True when the buffers hold the
    /// plug-in's output; false when they were left as they were: the instance was busy with a
    /// main-thread request, is not loaded, or its helper missed the deadline. A helper that
    /// misses short deadlines several blocks in a row is dropped; its reply, if it comes later,
    /// is discarded.
    [[nodiscard]] bool process(float *left, float *right, int frames, Deadline deadline);
    /// Audio thread: as above, starting and stopping notes at the start of the block (note-offs
    /// first; at most 50 events a block).
    [[nodiscard]] bool process(float *left, float *right, int frames, Deadline deadline,
                               std::span<const NoteOn> noteOns, std::span<const int> noteOffs);
    /// Audio thread: the helper's protocol starts and stops notes at the start of a block, so
    /// the events' notes move there.
    [[nodiscard]] bool processRt(float *left, float *right, int32_t frames, Deadline deadline,
                                 std::span<const PluginMidiEvent> events) noexcept override;
    /// Audio thread, live playback: hands the block to the helper and returns the block it
    /// finished during the last period, so the output lags by `liveLatency` frames. The audio
    /// thread waits only for a helper running late, until `patience` passes. A block the helper
    /// missed plays dry (with the same lag), faded from the last good block, and is counted;
    /// the helper stays. False when the instance cannot run behind (no shared block, busy,
    /// longer blocks than prepared): the caller then uses `process`.
    [[nodiscard]] bool processLive(float *left, float *right, int frames, Deadline patience,
                                   std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                   std::span<const int32_t> noteOffFrames = {});
    [[nodiscard]] bool processLiveRt(float *left, float *right, int32_t frames, Deadline patience,
                                     std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                     std::span<const int32_t> noteOffFrames) noexcept override;
    /// Main thread: frames `processLive` adds, the prepared block size, else 0.
    int32_t liveLatency() const override;
    /// Main thread, before `prepare`: the helper is prepared for live blocks gathered `frames`
    /// at a time (0: never gathered), so that gathering can be switched on and off later
    /// without preparing the plug-in again while it plays.
    void setLiveAheadFrames(int frames) { aheadFrames = std::max(frames, 0); }
    int liveAheadFrames() const { return aheadFrames; }
    /// Main thread: live blocks are gathered and handed to the helper a batch at a time, and
    /// `liveLatency` becomes two batches; or each period goes on its own again. For inserts
    /// whose track carries no live input. The audio thread plays one block dry meanwhile.
    void gatherLiveBlocks(bool on);
    bool gathersLiveBlocks() const { return gathering; }
    /// Main thread: blocks the helpers of this instance missed in live playback.
    uint64_t lateBlocks() const;
    /// Main thread: what the plug-in itself cost in its helper since the last call.
    LoadStretch takeHelperLoad();
    /// Main thread: when the helper's process is gone, or it has missed every live block for a
    /// whole second, starts a new helper with the same plug-in, block size, parameter values
    /// and the state last seen, and returns true. The instance stays loaded.
    [[nodiscard]] bool restartLostHelper();
    /// Processes in place and starts and stops notes at the start of the block.
    void processInstrument(float *left, float *right, int frames, std::span<const NoteOn> noteOns,
                           std::span<const int> noteOffs);

    [[nodiscard]] bool getState(std::vector<uint8_t> &state) override;
    [[nodiscard]] bool setState(const std::vector<uint8_t> &state) override;

    /// Asks the helper, and keeps the values it reports for `getParameterNormalized`; empty
    /// when the helper does not answer.
    std::vector<PluginParameterInfo> listParameters() override;
    /// The helper lists the programs and takes a program's state from an instance of its own,
    /// so the plug-in's code never runs in the program for them.
    std::vector<PluginProgram> factoryPrograms() override;
    [[nodiscard]] bool programState(const PluginProgram &program, std::vector<uint8_t> &state,
                                    std::string &error) override;
    /// The plug-in's own text for the value, asked of the helper; empty when it does not say.
    std::string parameterValueText(uint32_t id, float normalized) override;
    /// Clamps the value to [0, 1] and keeps it for every later block; it travels with the next
    /// exchange.
    [[nodiscard]] bool setParameterNormalized(uint32_t id, float value) override;
    void prepareParameterForAutomation(uint32_t id) override;
    [[nodiscard]] bool setParameterNormalizedRt(uint32_t id, float value) noexcept override;
    float getParameterNormalized(uint32_t id) override;

    bool hasEditor() override;
    /// Opens the editor in a window of the helper's.
    [[nodiscard]] bool openEditor() override;
    EditorStatus pollEditor(std::vector<ParameterValue> &edits) override;
    void closeEditor() override;

    void unload() override;
    bool isLoaded() const override;
    bool runsInHelper() const override { return true; }

    /// Main thread: when an audio transfer has failed since the last call, records "PROCESS
    /// write failed" or "PROCESS read failed" with the sandbox controller, stops this
    /// instance's helper and returns true. The instance is then unloaded.
    bool collectTransportFailure();
    /// Main thread: true when this instance's own helper died by itself (a crash while
    /// loading, processing or opening the editor), rather than being stopped. Reset by `load`.
    bool ownHelperCrashed() const;
    /// Process id of this instance's own helper, or -1 when not loaded.
    int32_t helperProcessId() const;

  private:
    /// The helper's list, which `getParameterNormalized` falls back on; absent when it gave none.
    std::optional<std::vector<PluginParameterInfo>> askForParameters();
    void takeRestoredValues();
    struct Impl;

    int connectHelper(const std::string &path, const std::string &uid);
    void attachSharedBlock(int fd);
    [[nodiscard]] bool processShared(float *left, float *right, int frames,
                                     std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                     std::span<const int32_t> noteOffFrames, Deadline deadline,
                                     bool patient);
    size_t collectChangedParams();
    void rememberParameter(uint32_t id, float value);
    [[nodiscard]] bool processWithin(float *left, float *right, int frames,
                                     std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                     const Deadline *budget,
                                     std::span<const int32_t> noteOffFrames = {});
    [[nodiscard]] bool remoteExchange(std::string_view request, std::string &reply);
    [[nodiscard]] bool remoteExpectOk(std::string_view request);
    [[nodiscard]] bool sendChangedParams(int fd, Deadline deadline);
    [[nodiscard]] bool transferBlock(float *left, float *right, int frames, std::string_view lines,
                                     Deadline deadline, bool patient);
    size_t formatChangedParams();
    void commitParams();
    [[nodiscard]] bool dropLateReply(Deadline deadline, bool &broken);
    [[nodiscard]] bool missBlock(bool patient);
    void failTransfer(int failure);
    void dropHelper(const std::string &reason);
    void dropOnRequest(std::string_view request);

    std::unique_ptr<Impl> impl;
    PluginSandboxController *controller = nullptr;
    int aheadFrames = 0;
    bool gathering = false;
};

} // namespace orvane::vst

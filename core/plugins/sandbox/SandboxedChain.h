#pragma once

#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxSharedBlock.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvane::vst {

/// Consecutive sandboxed inserts of one track hosted by one helper and processed there in
/// series, one round trip per block: the chain's input goes out, its final output comes back.
/// One helper per plug-in isolates each; one per chain wakes one process per block instead of
/// one per insert, which is most of what a sandboxed insert costs. A crash of any member takes
/// the chain's helper down, and the chain comes back with every member's state.
///
/// Members are numbered from 0 in processing order. Each block carries every member's bypass
/// flag and the values staged for it, and the first member's notes, through the shared region.
/// Main thread, apart from the processing calls and the `...Rt` ones (audio thread).
class SandboxedChain {
  public:
    struct Member {
        std::string path;
        std::string uid;
    };

    explicit SandboxedChain(PluginSandboxController &controller);
    ~SandboxedChain();
    SandboxedChain(const SandboxedChain &) = delete;
    SandboxedChain &operator=(const SandboxedChain &) = delete;

    /// Starts a helper and loads every member into it; false, with nothing running, when one
    /// fails (the controller's `lastError` says why).
    [[nodiscard]] bool load(const std::vector<Member> &members);
    [[nodiscard]] bool prepare(double sampleRate, int blockSize);
    size_t size() const { return members.size(); }
    /// Samples the members delay by together.
    int32_t latency() const { return pluginLatency; }
    /// Frames `processLive` adds: one block for the whole chain.
    int32_t liveLatency() const;

    [[nodiscard]] bool setParameter(size_t member, uint32_t id, float value);
    [[nodiscard]] bool getState(size_t member, std::vector<uint8_t> &state);
    [[nodiscard]] bool setState(size_t member, const std::vector<uint8_t> &state);
    /// Where an LV2 member writes the files of its state; kept for a restarted helper.
    [[nodiscard]] bool setStateFolder(size_t member, const std::string &folder);
    /// Opens a member's own editor window in the helper; false when it has none or the
    /// member is out of range.
    bool openEditor(size_t member);
    void closeEditor(size_t member);
    /// As `Plugin::pollEditor`, for member `member`.
    EditorStatus pollEditor(size_t member, std::vector<ParameterValue> &edits);

    /// What a member's generic editor shows, as `Plugin` gives it for a plug-in of its own;
    /// empty (or false, with `error`) when the member is out of range or the helper gave none.
    std::vector<PluginParameterInfo> listParameters(size_t member);
    /// The value a member's parameter was last listed with or set to here; none when neither
    /// happened since its state was last set.
    std::optional<float> knownValue(size_t member, uint32_t id) const;
    std::string parameterValueText(size_t member, uint32_t id, float value);
    std::vector<PluginProgram> factoryPrograms(size_t member);
    [[nodiscard]] bool programState(size_t member, const PluginProgram &program,
                                    std::vector<uint8_t> &state, std::string &error);

    /// Audio thread: whether `member` sits out the blocks from the next one on, its latency
    /// kept. Out-of-range members are ignored.
    void setMemberBypassRt(size_t member, bool bypassed);
    /// Audio thread: a value for `member` to take before the next block it hears; a later
    /// value for the same parameter replaces it. A block carries `maximumParamsPerLine` values
    /// per member; the ones staged beyond that go with the blocks after it, in the order they
    /// came. False when the member is out of range or already holds `stagedValuesPerMember`
    /// other values.
    bool setMemberParameterRt(size_t member, uint32_t id, float value);
    static constexpr size_t stagedValuesPerMember = 4 * maximumParamsPerLine;

    /// Waits for the chain's block until `deadline`, as an offline render needs it: the output
    /// is the same to the bit as the members' in process. A helper that misses a wait of at
    /// least `stuckAfter` counts as stuck: its blocks and the ones after it are missed at once
    /// and counted until `restartLostHelper` replaces it. False for a missed block, which the
    /// caller passes on dry.
    [[nodiscard]] bool process(float *left, float *right, int frames,
                               Deadline deadline = Deadline::never(),
                               std::span<const NoteOn> noteOns = {},
                               std::span<const int> noteOffs = {},
                               std::span<const int32_t> noteOffFrames = {});
    /// Audio thread, live: one block behind; a helper running late is waited for until
    /// `patience` passes, then its block plays dry.
    [[nodiscard]] bool processLive(float *left, float *right, int frames, Deadline patience,
                                   std::span<const NoteOn> noteOns = {},
                                   std::span<const int> noteOffs = {},
                                   std::span<const int32_t> noteOffFrames = {});
    static constexpr std::chrono::milliseconds stuckAfter{100};

    /// Blocks the chain missed, live or offline, over every helper it had.
    uint64_t lateBlocks() const;
    /// Main thread: what `member` itself cost in the helper since the last call.
    LoadStretch takeHelperLoad(size_t member);
    int32_t helperProcessId() const { return helper.pid; }
    enum class Recovery {
        notNeeded,
        restarted,
        /// The helper was lost and none took its place: the chain passes its blocks on dry
        /// from now on, and says so once (the controller's `lastError` says why).
        failed,
    };
    /// When the helper died, missed every block for a second or was found stuck by an offline
    /// block, starts a new one with every member, its last known state and the block size.
    [[nodiscard]] Recovery restartLostHelper();

  private:
    [[nodiscard]] bool start();
    void stop(bool askFirst);
    [[nodiscard]] bool exchange(const std::string &request, std::string &reply);
    [[nodiscard]] bool expectOk(const std::string &request);
    static std::string addressed(size_t member, const std::string &request);
    [[nodiscard]] bool attachBlock();
    /// Under `processing`: the staged bypass flags and values as the next block's extras.
    SharedBlockClient::BlockExtras stagedExtras(std::span<const NoteOn> noteOns,
                                                std::span<const int> noteOffs,
                                                std::span<const int32_t> noteOffFrames = {});
    /// Drops the values the last block took; those it had no room for move up.
    void dropSentValues();
    bool missOfflineBlock(bool patient);

    /// What the audio thread staged for one member's next block.
    struct StagedMember {
        bool bypassed = false;
        size_t count = 0;
        std::array<ParameterValue, stagedValuesPerMember> values{};
    };

    PluginSandboxController &controller;
    std::vector<Member> members;
    std::vector<std::optional<std::vector<uint8_t>>> knownStates;
    std::vector<std::map<uint32_t, float>> knownValues;
    std::vector<std::string> stateFolders;
    HelperProcess helper;
    int fd = -1;
    std::unique_ptr<SharedBlockClient> block;
    // Kept by the main thread while it replaces `block`; the audio thread only tries it.
    std::mutex processing;
    double sampleRate = 48000.0;
    int blockSize = 0;
    int32_t pluginLatency = 0;
    uint64_t lateBeforeRestart = 0;
    // Audio thread, under `processing`.
    std::array<StagedMember, maximumChainLength> staged{};
    std::array<SharedBlockClient::MemberExtras, maximumChainLength> memberExtras{};
    // Set by the audio thread when an offline block found the helper stuck; cleared by a
    // restart.
    std::atomic<bool> stuck{false};
    std::atomic<uint64_t> offlineMisses{0};
};

} // namespace orvane::vst

#pragma once

#include "core/vst/PluginSandboxController.h"
#include "core/vst/SandboxSharedBlock.h"

#include <cstdint>
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
/// Members are numbered from 0 in processing order. Main thread, apart from `processLive`.
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

    /// Waits for the chain's block, as an offline render needs it: the output is the same to
    /// the bit as the members' in process.
    [[nodiscard]] bool process(float *left, float *right, int frames);
    /// Audio thread, live: one block behind, a late block played dry, never waiting.
    [[nodiscard]] bool processLive(float *left, float *right, int frames);

    uint64_t lateBlocks() const;
    int32_t helperProcessId() const { return helper.pid; }
    /// When the helper died or missed every block for a second, starts a new one with every
    /// member, its last known state and the block size; true when it did.
    [[nodiscard]] bool restartLostHelper();

  private:
    [[nodiscard]] bool start();
    void stop(bool askFirst);
    [[nodiscard]] bool exchange(const std::string &request, std::string &reply);
    [[nodiscard]] bool expectOk(const std::string &request);
    static std::string addressed(size_t member, const std::string &request);
    [[nodiscard]] bool attachBlock();

    PluginSandboxController &controller;
    std::vector<Member> members;
    std::vector<std::optional<std::vector<uint8_t>>> knownStates;
    HelperProcess helper;
    int fd = -1;
    std::unique_ptr<SharedBlockClient> block;
    // Kept by the main thread while it replaces `block`; the audio thread only tries it.
    std::mutex processing;
    double sampleRate = 48000.0;
    int blockSize = 0;
    int32_t pluginLatency = 0;
    uint64_t lateBeforeRestart = 0;
};

} // namespace orvane::vst

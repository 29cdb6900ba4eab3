#pragma once

#include "core/plugins/Plugin.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace orvane::vst {

class SandboxedChain;

/// One member of a shared helper's chain, seen as a plug-in of its own for what the window asks
/// of an insert: its parameters with their texts, its programs and its state. The chain plays
/// it, so this view processes nothing; it keeps the chain alive while it is held.
///
/// Threads: main thread only.
class SandboxedChainMember final : public Plugin {
  public:
    SandboxedChainMember(std::shared_ptr<SandboxedChain> chain, size_t member,
                         PluginDescription described);

    [[nodiscard]] bool prepare(double, int) override { return true; }
    bool isLoaded() const override;
    void unload() override {}
    int32_t latencySamples() const override { return 0; }
    [[nodiscard]] bool processRt(float *, float *, int32_t, Deadline,
                                 std::span<const PluginMidiEvent>) noexcept override {
        return false;
    }

    std::vector<PluginParameterInfo> listParameters() override;
    [[nodiscard]] bool setParameterNormalized(uint32_t id, float value) override;
    /// The value the chain last set or the helper listed, asked for afresh when the list is
    /// older than `freshFor`: values the helper changes itself (automation, the plug-in's own
    /// window) show within that time, without asking the helper for every row shown.
    float getParameterNormalized(uint32_t id) override;
    static constexpr std::chrono::milliseconds freshFor{100};
    [[nodiscard]] bool setParameterNormalizedRt(uint32_t, float) noexcept override { return false; }
    std::string parameterValueText(uint32_t id, float normalized) override;

    [[nodiscard]] bool getState(std::vector<uint8_t> &state) override;
    [[nodiscard]] bool setState(const std::vector<uint8_t> &state) override;
    std::vector<PluginProgram> factoryPrograms() override;
    [[nodiscard]] bool programState(const PluginProgram &program, std::vector<uint8_t> &state,
                                    std::string &error) override;
    bool runsInHelper() const override { return true; }

    const SandboxedChain *chainShown() const { return chain.get(); }
    size_t memberShown() const { return member; }

  private:
    std::shared_ptr<SandboxedChain> chain;
    size_t member = 0;
    std::chrono::steady_clock::time_point listedAt{};
};

} // namespace orvane::vst

#include "core/plugins/sandbox/SandboxedChainMember.h"

#include "core/plugins/sandbox/SandboxedChain.h"

#include <utility>

namespace orvane::vst {

SandboxedChainMember::SandboxedChainMember(std::shared_ptr<SandboxedChain> shown, size_t index,
                                           PluginDescription described)
    : chain(std::move(shown)), member(index) {
    description = std::move(described);
}

bool SandboxedChainMember::isLoaded() const { return chain && member < chain->size(); }

std::vector<PluginParameterInfo> SandboxedChainMember::listParameters() {
    if (!isLoaded()) return {};
    std::vector<PluginParameterInfo> listed = chain->listParameters(member);
    listedAt = std::chrono::steady_clock::now();
    return listed;
}

bool SandboxedChainMember::setParameterNormalized(uint32_t id, float value) {
    return isLoaded() && chain->setParameter(member, id, value);
}

float SandboxedChainMember::getParameterNormalized(uint32_t id) {
    if (!isLoaded()) return 0.0f;
    if (!chain->knownValue(member, id) || std::chrono::steady_clock::now() - listedAt > freshFor)
        (void)listParameters();
    return chain->knownValue(member, id).value_or(0.0f);
}

std::string SandboxedChainMember::parameterValueText(uint32_t id, float normalized) {
    return isLoaded() ? chain->parameterValueText(member, id, normalized) : std::string();
}

bool SandboxedChainMember::getState(std::vector<uint8_t> &state) {
    return isLoaded() && chain->getState(member, state);
}

// The state replaces the values known so far, which are asked for afresh.
bool SandboxedChainMember::setState(const std::vector<uint8_t> &state) {
    if (!isLoaded() || !chain->setState(member, state)) return false;
    listedAt = {};
    return true;
}

std::vector<PluginProgram> SandboxedChainMember::factoryPrograms() {
    return isLoaded() ? chain->factoryPrograms(member) : std::vector<PluginProgram>();
}

bool SandboxedChainMember::programState(const PluginProgram &program, std::vector<uint8_t> &state,
                                        std::string &error) {
    if (isLoaded()) return chain->programState(member, program, state, error);
    error = "the plug-in's helper has gone";
    return false;
}

} // namespace orvane::vst

// An effect that passes audio through unchanged, or misbehaves in one chosen way so that tests
// can watch the host (and later the sandbox) cope. The behaviour comes from the parameter
// "Behaviour" (normalised value × 5, rounded) or, at creation, from the environment variable
// HALVORA_TEST_MISBEHAVIOUR ("crash", "hang", "latency", "reject-state", "large-state").
// Three more values of that variable add a habit to any behaviour: "slow" takes 50 ms over
// every block, "slow-state" 200 ms over giving or taking its state, and "edit-in-process"
// reports a parameter edit from inside `process`, which plug-ins are not meant to do.
#include "core/plugins/vst3/testplugins/TestPluginSupport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvane::vst::testplugins {
namespace {

enum Behaviour { passThrough = 0, crash, hang, reportLatency, rejectState, largeState };
constexpr int behaviourSteps = 5;
constexpr uint32 reportedLatency = 256;
constexpr uint32 stateMagic = 0x4856424D; // "HVBM"
constexpr int32 largePayload = 70000;     // more than 64 KB

Behaviour behaviourFromEnvironment() {
    const char *value = std::getenv("HALVORA_TEST_MISBEHAVIOUR");
    std::string text = value ? value : "";
    if (text == "crash") return crash;
    if (text == "hang") return hang;
    if (text == "latency") return reportLatency;
    if (text == "reject-state") return rejectState;
    if (text == "large-state") return largeState;
    return passThrough;
}

double normalizedOf(Behaviour behaviour) { return static_cast<double>(behaviour) / behaviourSteps; }

Behaviour behaviourOf(double normalized) {
    long step = std::lround(std::clamp(normalized, 0.0, 1.0) * behaviourSteps);
    return static_cast<Behaviour>(step);
}

uint8_t payloadByte(int32 index) { return static_cast<uint8_t>((index * 7 + 3) & 0xFF); }

bool habitFromEnvironment(const char *habit) {
    const char *value = std::getenv("HALVORA_TEST_MISBEHAVIOUR");
    return value != nullptr && std::string(value) == habit;
}

constexpr auto slowBlock = std::chrono::milliseconds(50);
constexpr auto slowState = std::chrono::milliseconds(200);

class MisbehavingEffect : public TestPluginBase {
  public:
    MisbehavingEffect() : TestPluginBase({2, 2, false}) {
        Behaviour initial = behaviourFromEnvironment();
        behaviour.store(initial);
        controllerValues[0] = normalizedOf(initial);
    }

    tresult PLUGIN_API setComponentHandler(IComponentHandler *handler) override {
        componentHandler = handler;
        return kResultOk;
    }

    int32 parameterCount() override { return 1; }
    void describeParameter(int32, ParameterInfo &info) override {
        info.id = 0;
        copyTitle("Behaviour", info.title);
        copyTitle("Behaviour", info.shortTitle);
        info.stepCount = behaviourSteps;
        info.flags = ParameterInfo::kIsList;
    }
    uint32 latencySamples() override {
        return behaviour.load() == reportLatency ? reportedLatency : 0;
    }

    tresult processAudio(ProcessData &data) override {
        double values[8] = {normalizedOf(behaviour.load())};
        applyParameterChanges(data.inputParameterChanges, values);
        behaviour.store(behaviourOf(values[0]));
        if (behaviour.load() == crash) std::raise(SIGSEGV);
        if (behaviour.load() == hang)
            for (;;)
                pause();
        if (slow) std::this_thread::sleep_for(slowBlock);
        if (editsInProcess && componentHandler != nullptr) {
            ++editsReported;
            componentHandler->performEdit(0, normalizedOf(behaviour.load()) + 0.01 * editsReported);
        }
        copyInputToOutput(data);
        return kResultOk;
    }

    tresult writeState(IBStream &stream) override {
        if (slowWithState) std::this_thread::sleep_for(slowState);
        auto stored = static_cast<uint32>(behaviour.load());
        if (!writeExactly(stream, &stateMagic, 4) || !writeExactly(stream, &stored, 4))
            return kResultFalse;
        if (stored != largeState) return kResultOk;
        std::vector<uint8_t> payload(largePayload);
        for (int32 index = 0; index < largePayload; ++index)
            payload[index] = payloadByte(index);
        return writeExactly(stream, payload.data(), largePayload) ? kResultOk : kResultFalse;
    }

    tresult readState(IBStream &stream) override {
        if (slowWithState) std::this_thread::sleep_for(slowState);
        if (behaviour.load() == rejectState) return kResultFalse;
        uint32 magic = 0;
        uint32 stored = 0;
        if (!readExactly(stream, &magic, 4) || magic != stateMagic ||
            !readExactly(stream, &stored, 4) || stored > largeState)
            return kResultFalse;
        if (stored == largeState && !payloadIsIntact(stream)) return kResultFalse;
        behaviour.store(static_cast<Behaviour>(stored));
        controllerValues[0] = normalizedOf(static_cast<Behaviour>(stored));
        return kResultOk;
    }

  private:
    static bool payloadIsIntact(IBStream &stream) {
        std::vector<uint8_t> payload(largePayload);
        if (!readExactly(stream, payload.data(), largePayload)) return false;
        for (int32 index = 0; index < largePayload; ++index)
            if (payload[index] != payloadByte(index)) return false;
        return true;
    }

    static void copyInputToOutput(ProcessData &data) {
        if (data.numInputs < 1 || data.numOutputs < 1) return;
        AudioBusBuffers &in = data.inputs[0];
        AudioBusBuffers &out = data.outputs[0];
        for (int32 channel = 0; channel < out.numChannels; ++channel) {
            float *target = out.channelBuffers32[channel];
            const float *source = channel < in.numChannels ? in.channelBuffers32[channel] : nullptr;
            for (int32 frame = 0; frame < data.numSamples; ++frame)
                target[frame] = source ? source[frame] : 0.0f;
        }
    }

    std::atomic<Behaviour> behaviour{passThrough};
    const bool slow = habitFromEnvironment("slow");
    const bool slowWithState = habitFromEnvironment("slow-state");
    const bool editsInProcess = habitFromEnvironment("edit-in-process");
    IComponentHandler *componentHandler = nullptr;
    int editsReported = 0;
};

} // namespace
} // namespace orvane::vst::testplugins

orvane::vst::testplugins::TestPluginBase *makeTestPlugin() {
    return new orvane::vst::testplugins::MisbehavingEffect();
}

const orvane::vst::testplugins::TestPluginClass &testPluginClass() {
    static const orvane::vst::testplugins::TestPluginClass info{
        INLINE_UID(0x48564C54, 0x4D495342, 0x45484156, 0x45464658), "Halvora Misbehaving Effect",
        "Fx"};
    return info;
}

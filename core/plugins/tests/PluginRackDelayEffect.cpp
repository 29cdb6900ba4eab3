// A test effect that delays its input by exactly the latency it reports, so that delay
// compensation can be checked sample by sample. The delay comes from the environment variable
// HALVORA_TEST_RACK_DELAY when an instance is created (default 100 samples); one parameter,
// "Gain", scales the output linearly.
#include "core/plugins/vst3/testplugins/TestPluginSupport.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace orvane::vst::testplugins {
namespace {

constexpr uint32 stateMagic = 0x48565244; // "HVRD"
constexpr int32 defaultDelay = 100;
constexpr int32 maxDelay = 1 << 16;

int32 delayFromEnvironment() {
    const char *value = std::getenv("HALVORA_TEST_RACK_DELAY");
    if (value == nullptr) return defaultDelay;
    return std::clamp(std::atoi(value), 0, maxDelay);
}

class RackDelayEffect : public TestPluginBase {
  public:
    RackDelayEffect() : TestPluginBase({2, 2, false}), delay(delayFromEnvironment()) {
        controllerValues[0] = 1.0;
        for (auto &line : lines)
            line.assign(static_cast<size_t>(std::max(delay, 1)), 0.0f);
    }

    int32 parameterCount() override { return 1; }
    void describeParameter(int32, ParameterInfo &info) override {
        info.id = 0;
        copyTitle("Gain", info.title);
        copyTitle("Gain", info.shortTitle);
        info.defaultNormalizedValue = 1.0;
        info.flags = ParameterInfo::kCanAutomate;
    }
    uint32 latencySamples() override { return static_cast<uint32>(delay); }

    tresult processAudio(ProcessData &data) override {
        double values[8] = {gain.load()};
        applyParameterChanges(data.inputParameterChanges, values);
        gain.store(values[0]);
        if (data.numInputs < 1 || data.numOutputs < 1) return kResultOk;
        AudioBusBuffers &in = data.inputs[0];
        AudioBusBuffers &out = data.outputs[0];
        for (int32 channel = 0; channel < std::min<int32>(out.numChannels, 2); ++channel) {
            const float *source = channel < in.numChannels ? in.channelBuffers32[channel] : nullptr;
            float *target = out.channelBuffers32[channel];
            size_t position = positions[channel];
            for (int32 frame = 0; frame < data.numSamples; ++frame) {
                const float input = source ? source[frame] : 0.0f;
                float output = input;
                if (delay > 0) {
                    output = lines[channel][position];
                    lines[channel][position] = input;
                    position = (position + 1) % lines[channel].size();
                }
                target[frame] = static_cast<float>(output * gain.load());
            }
            positions[channel] = position;
        }
        return kResultOk;
    }

    tresult writeState(IBStream &stream) override {
        const float stored = static_cast<float>(gain.load());
        return writeExactly(stream, &stateMagic, 4) && writeExactly(stream, &stored, 4)
                   ? kResultOk
                   : kResultFalse;
    }
    tresult readState(IBStream &stream) override {
        uint32 magic = 0;
        float stored = 0.0f;
        if (!readExactly(stream, &magic, 4) || magic != stateMagic ||
            !readExactly(stream, &stored, 4))
            return kResultFalse;
        gain.store(std::clamp(static_cast<double>(stored), 0.0, 1.0));
        controllerValues[0] = gain.load();
        return kResultOk;
    }

  private:
    const int32 delay;
    std::vector<float> lines[2];
    size_t positions[2] = {0, 0};
    std::atomic<double> gain{1.0};
};

} // namespace
} // namespace orvane::vst::testplugins

orvane::vst::testplugins::TestPluginBase *makeTestPlugin() {
    return new orvane::vst::testplugins::RackDelayEffect();
}

const orvane::vst::testplugins::TestPluginClass &testPluginClass() {
    static const orvane::vst::testplugins::TestPluginClass info{
        INLINE_UID(0x48564C54, 0x5241434B, 0x44454C41, 0x59465831), "Halvora Rack Delay", "Fx"};
    return info;
}

// A small instrument for tests: every note plays a sine at its equal-tempered pitch
// (A4 = 440 Hz), starting at phase 0 on the note's sample offset, so tests can check both pitch
// and timing. One parameter, "Level", scales the output linearly.
#include "core/plugins/vst3/testplugins/TestPluginSupport.h"

#include <algorithm>
#include <cmath>

namespace orvane::vst::testplugins {
namespace {

constexpr uint32 stateMagic = 0x48565449; // "HVTI"
constexpr int voiceCount = 16;
constexpr double amplitude = 0.25;
constexpr double twoPi = 6.283185307179586;

struct Voice {
    bool active = false;
    int16 pitch = 0;
    double velocity = 0.0;
    double phase = 0.0;
    double increment = 0.0;
};

class TestInstrument : public TestPluginBase {
  public:
    TestInstrument() : TestPluginBase({0, 2, true}) { controllerValues[0] = 1.0; }

    int32 parameterCount() override { return 1; }
    void describeParameter(int32, ParameterInfo &info) override {
        info.id = 0;
        copyTitle("Level", info.title);
        copyTitle("Level", info.shortTitle);
        info.defaultNormalizedValue = 1.0;
        info.flags = ParameterInfo::kCanAutomate;
    }
    void prepareToPlay(double rate, int32) override { sampleRate = rate; }
    // Like many instruments, a processing restart begins silent: a host that restarts
    // processing on every block cuts every held note short.
    tresult PLUGIN_API setProcessing(TBool state) override {
        if (state)
            for (Voice &voice : voices)
                voice.active = false;
        return kResultOk;
    }

    tresult processAudio(ProcessData &data) override {
        double values[8] = {level.load()};
        applyParameterChanges(data.inputParameterChanges, values);
        level.store(values[0]);
        if (data.numOutputs < 1 || data.outputs[0].numChannels < 1) return kResultOk;
        int32 frame = 0;
        int32 eventCount = data.inputEvents ? data.inputEvents->getEventCount() : 0;
        for (int32 index = 0; index < eventCount; ++index) {
            Event event{};
            if (data.inputEvents->getEvent(index, event) != kResultOk) continue;
            int32 offset = std::clamp(event.sampleOffset, frame, data.numSamples);
            render(data, frame, offset);
            frame = offset;
            handle(event);
        }
        render(data, frame, data.numSamples);
        return kResultOk;
    }

    tresult writeState(IBStream &stream) override {
        float stored = static_cast<float>(level.load());
        return writeExactly(stream, &stateMagic, 4) && writeExactly(stream, &stored, 4)
                   ? kResultOk
                   : kResultFalse;
    }
    tresult readState(IBStream &stream) override {
        float stored = 0.0f;
        if (!readLevel(stream, stored)) return kResultFalse;
        level.store(stored);
        controllerValues[0] = stored;
        return kResultOk;
    }
    tresult PLUGIN_API setComponentState(IBStream *stream) override {
        float stored = 0.0f;
        if (stream == nullptr || !readLevel(*stream, stored)) return kResultFalse;
        controllerValues[0] = stored;
        return kResultOk;
    }

  private:
    static bool readLevel(IBStream &stream, float &stored) {
        uint32 magic = 0;
        return readExactly(stream, &magic, 4) && magic == stateMagic &&
               readExactly(stream, &stored, 4) && stored >= 0.0f && stored <= 1.0f;
    }

    void handle(const Event &event) {
        if (event.type == Event::kNoteOffEvent) {
            for (Voice &voice : voices)
                if (voice.active && voice.pitch == event.noteOff.pitch) voice.active = false;
            return;
        }
        if (event.type != Event::kNoteOnEvent) return;
        auto free =
            std::find_if(voices, voices + voiceCount, [](const Voice &v) { return !v.active; });
        if (free == voices + voiceCount) return;
        double frequency = 440.0 * std::pow(2.0, (event.noteOn.pitch - 69) / 12.0);
        *free = {true, event.noteOn.pitch, event.noteOn.velocity, 0.0,
                 twoPi * frequency / sampleRate};
    }

    void render(ProcessData &data, int32 from, int32 to) {
        AudioBusBuffers &bus = data.outputs[0];
        double gain = level.load() * amplitude;
        for (int32 frame = from; frame < to; ++frame) {
            double sample = 0.0;
            for (Voice &voice : voices) {
                if (!voice.active) continue;
                sample += voice.velocity * std::sin(voice.phase);
                voice.phase += voice.increment;
            }
            for (int32 channel = 0; channel < bus.numChannels; ++channel)
                bus.channelBuffers32[channel][frame] = static_cast<float>(gain * sample);
        }
    }

    Voice voices[voiceCount];
    double sampleRate = 48000.0;
    std::atomic<double> level{1.0};
};

} // namespace
} // namespace orvane::vst::testplugins

orvane::vst::testplugins::TestPluginBase *makeTestPlugin() {
    return new orvane::vst::testplugins::TestInstrument();
}

const orvane::vst::testplugins::TestPluginClass &testPluginClass() {
    static const orvane::vst::testplugins::TestPluginClass info{
        INLINE_UID(0x48564C54, 0x45535449, 0x4E535452, 0x554D4E54), "Halvora Test Instrument",
        "Instrument|Synth"};
    return info;
}

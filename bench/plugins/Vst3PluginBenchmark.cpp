// What the wrapper costs on top of the plug-in: Vst3Plugin::process on ZamComp against calling
// ZamComp's own IAudioProcessor::process with process data set up once, in the same run.
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/plugins/vst3/hosting/Module.h"
#include "core/plugins/vst3/hosting/PlugProvider.h"
#include "core/plugins/vst3/hosting/ProcessObjects.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

using namespace orvane::vst;
using namespace Steinberg::Vst;

constexpr int frames = 256;
constexpr double sampleRate = 48000.0;
const std::string zamComp = "/usr/lib/vst3/ZamComp.vst3";

std::vector<float> sine() {
    std::vector<float> samples(frames);
    for (int index = 0; index < frames; ++index)
        samples[index] = 0.5f * float(std::sin(2.0 * M_PI * 1000.0 * index / sampleRate));
    return samples;
}

void wrapperProcess(benchmark::State &state) {
    Vst3Plugin plugin;
    if (!plugin.load(zamComp, "") || !plugin.prepare(sampleRate, frames)) {
        state.SkipWithError("ZamComp did not load: install zam-plugins");
        return;
    }
    std::vector<float> left = sine(), right = sine();
    for (auto _ : state) {
        plugin.process(left.data(), right.data(), frames);
        benchmark::DoNotOptimize(left.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void directProcess(benchmark::State &state) {
    std::string errorText;
    auto module = Module::create(zamComp, errorText);
    if (!module) {
        state.SkipWithError(errorText.c_str());
        return;
    }
    const ClassInfo *audioClass = nullptr;
    std::vector<ClassInfo> classes = module->getFactory().classInfos();
    for (const ClassInfo &info : classes)
        if (info.category == kVstAudioEffectClass) audioClass = &info;
    PlugProvider provider(module->getFactory(), *audioClass, true);
    if (!provider.initialize()) {
        state.SkipWithError("ZamComp did not initialise");
        return;
    }
    auto component = provider.getComponent();
    Steinberg::FUnknownPtr<IAudioProcessor> processor(component);
    ProcessSetup setup{kRealtime, kSample32, frames, sampleRate};
    processor->setupProcessing(setup);
    for (BusDirection direction : {kInput, kOutput})
        for (int bus = 0; bus < component->getBusCount(kAudio, direction); ++bus)
            component->activateBus(kAudio, direction, bus, true);
    HostProcessData data;
    if (!data.prepare(*component, frames)) {
        state.SkipWithError("ZamComp's buses could not be prepared");
        return;
    }
    EventList events(50);
    ParameterChanges changes;
    changes.setCapacity(64, 1);
    // The plug-in reports its meters through output parameter changes and complains without.
    ParameterChanges outputChanges;
    outputChanges.setCapacity(64, 16);
    ProcessContext context{};
    context.sampleRate = sampleRate;
    context.tempo = 120.0;
    context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid;
    data.inputEvents = &events;
    data.inputParameterChanges = &changes;
    data.outputParameterChanges = &outputChanges;
    data.processContext = &context;
    component->setActive(true);
    processor->setProcessing(true);
    std::vector<float> left = sine(), right = sine();
    data.bindMainBuses(left.data(), right.data(), frames);
    for (auto _ : state) {
        outputChanges.clear();
        processor->process(data);
        benchmark::DoNotOptimize(left.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
    processor->setProcessing(false);
    component->setActive(false);
}

BENCHMARK(directProcess)->MinTime(2.0);
BENCHMARK(wrapperProcess)->MinTime(2.0);
BENCHMARK(directProcess)->MinTime(2.0);
BENCHMARK(wrapperProcess)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();

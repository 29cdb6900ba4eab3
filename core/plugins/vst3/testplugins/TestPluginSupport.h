#pragma once

// Scaffolding shared by the test-only plug-in bundles: one object that is component, processor
// and edit controller at once (it names no separate controller class), and a factory offering
// that one class. Each bundle defines `makeTestPlugin` and `testPluginClass`.

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstevents.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>

#include <atomic>
#include <cstring>
#include <string>

namespace orvane::vst::testplugins {

using namespace Steinberg;
using namespace Steinberg::Vst;

struct BusLayout {
    int32 audioInputChannels = 0; // 0: no audio input bus
    int32 audioOutputChannels = 2;
    bool eventInput = false;
};

inline void copyTitle(const char *text, String128 destination) {
    size_t index = 0;
    for (; text[index] != 0 && index < 127; ++index)
        destination[index] = static_cast<char16>(text[index]);
    destination[index] = 0;
}

/// Everything a plug-in needs to be hosted, with no-op defaults; subclasses override the
/// processing, state and parameter hooks they care about.
class TestPluginBase : public IComponent, public IAudioProcessor, public IEditController {
  public:
    explicit TestPluginBase(BusLayout layout) : layout(layout) {}
    virtual ~TestPluginBase() = default;

    // Hooks for the bundles.
    virtual tresult processAudio(ProcessData &data) = 0;
    virtual tresult writeState(IBStream &stream) = 0;
    virtual tresult readState(IBStream &stream) = 0;
    virtual int32 parameterCount() { return 0; }
    virtual void describeParameter(int32 index, ParameterInfo &info) { (void)index, (void)info; }
    virtual uint32 latencySamples() { return 0; }
    virtual void prepareToPlay(double sampleRate, int32 maxBlock) {
        (void)sampleRate, (void)maxBlock;
    }

    // IPluginBase
    tresult PLUGIN_API initialize(FUnknown *) override { return kResultOk; }
    tresult PLUGIN_API terminate() override { return kResultOk; }

    // IComponent
    tresult PLUGIN_API getControllerClassId(TUID) override { return kNotImplemented; }
    tresult PLUGIN_API setIoMode(IoMode) override { return kResultOk; }
    int32 PLUGIN_API getBusCount(MediaType type, BusDirection direction) override {
        if (type == kAudio && direction == kInput) return layout.audioInputChannels > 0 ? 1 : 0;
        if (type == kAudio && direction == kOutput) return layout.audioOutputChannels > 0 ? 1 : 0;
        if (type == kEvent && direction == kInput) return layout.eventInput ? 1 : 0;
        return 0;
    }
    tresult PLUGIN_API getBusInfo(MediaType type, BusDirection direction, int32 index,
                                  BusInfo &bus) override {
        if (index != 0 || getBusCount(type, direction) == 0) return kInvalidArgument;
        bus.mediaType = type;
        bus.direction = direction;
        bus.channelCount = type == kEvent        ? 16
                           : direction == kInput ? layout.audioInputChannels
                                                 : layout.audioOutputChannels;
        copyTitle(type == kEvent ? "Notes" : "Main", bus.name);
        bus.busType = kMain;
        bus.flags = BusInfo::kDefaultActive;
        return kResultOk;
    }
    tresult PLUGIN_API getRoutingInfo(RoutingInfo &, RoutingInfo &) override {
        return kNotImplemented;
    }
    tresult PLUGIN_API activateBus(MediaType, BusDirection, int32, TBool) override {
        return kResultOk;
    }
    tresult PLUGIN_API setActive(TBool) override { return kResultOk; }
    tresult PLUGIN_API setState(IBStream *state) override {
        return state ? readState(*state) : kInvalidArgument;
    }
    tresult PLUGIN_API getState(IBStream *state) override {
        return state ? writeState(*state) : kInvalidArgument;
    }

    // IAudioProcessor
    tresult PLUGIN_API setBusArrangements(SpeakerArrangement *, int32, SpeakerArrangement *,
                                          int32) override {
        return kResultFalse;
    }
    tresult PLUGIN_API getBusArrangement(BusDirection, int32, SpeakerArrangement &) override {
        return kNotImplemented;
    }
    tresult PLUGIN_API canProcessSampleSize(int32 size) override {
        return size == kSample32 ? kResultOk : kResultFalse;
    }
    uint32 PLUGIN_API getLatencySamples() override { return latencySamples(); }
    tresult PLUGIN_API setupProcessing(ProcessSetup &setup) override {
        if (setup.symbolicSampleSize != kSample32) return kResultFalse;
        prepareToPlay(setup.sampleRate, setup.maxSamplesPerBlock);
        return kResultOk;
    }
    tresult PLUGIN_API setProcessing(TBool) override { return kResultOk; }
    tresult PLUGIN_API process(ProcessData &data) override { return processAudio(data); }
    uint32 PLUGIN_API getTailSamples() override { return 0; }

    // IEditController: the controller keeps its own values, as a separate one would.
    tresult PLUGIN_API setComponentState(IBStream *) override { return kResultOk; }
    int32 PLUGIN_API getParameterCount() override { return parameterCount(); }
    tresult PLUGIN_API getParameterInfo(int32 index, ParameterInfo &info) override {
        if (index < 0 || index >= parameterCount()) return kInvalidArgument;
        std::memset(&info, 0, sizeof(info));
        describeParameter(index, info);
        return kResultOk;
    }
    tresult PLUGIN_API getParamStringByValue(ParamID, ParamValue, String128) override {
        return kNotImplemented;
    }
    tresult PLUGIN_API getParamValueByString(ParamID, TChar *, ParamValue &) override {
        return kNotImplemented;
    }
    ParamValue PLUGIN_API normalizedParamToPlain(ParamID, ParamValue value) override {
        return value;
    }
    ParamValue PLUGIN_API plainParamToNormalized(ParamID, ParamValue value) override {
        return value;
    }
    ParamValue PLUGIN_API getParamNormalized(ParamID id) override {
        return id < 8 ? controllerValues[id] : 0.0;
    }
    tresult PLUGIN_API setParamNormalized(ParamID id, ParamValue value) override {
        if (id >= static_cast<ParamID>(parameterCount())) return kInvalidArgument;
        controllerValues[id] = value;
        return kResultOk;
    }
    tresult PLUGIN_API setComponentHandler(IComponentHandler *) override { return kResultOk; }
    IPlugView *PLUGIN_API createView(FIDString) override { return nullptr; }

    // FUnknown
    tresult PLUGIN_API queryInterface(const TUID iid, void **object) override {
        QUERY_INTERFACE(iid, object, FUnknown::iid, IComponent)
        QUERY_INTERFACE(iid, object, IPluginBase::iid, IComponent)
        QUERY_INTERFACE(iid, object, IComponent::iid, IComponent)
        QUERY_INTERFACE(iid, object, IAudioProcessor::iid, IAudioProcessor)
        QUERY_INTERFACE(iid, object, IEditController::iid, IEditController)
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return ++references; }
    uint32 PLUGIN_API release() override {
        uint32 remaining = --references;
        if (remaining == 0) delete this;
        return remaining;
    }

  protected:
    BusLayout layout;
    ParamValue controllerValues[8] = {};

  private:
    std::atomic<uint32> references{1};
};

/// Reads the last value of every parameter change in the block into `values` (ids below 8).
inline void applyParameterChanges(IParameterChanges *changes, double *values) {
    if (changes == nullptr) return;
    for (int32 index = 0; index < changes->getParameterCount(); ++index) {
        IParamValueQueue *queue = changes->getParameterData(index);
        if (queue == nullptr || queue->getPointCount() <= 0 || queue->getParameterId() >= 8)
            continue;
        int32 offset = 0;
        ParamValue value = 0.0;
        if (queue->getPoint(queue->getPointCount() - 1, offset, value) == kResultOk)
            values[queue->getParameterId()] = value;
    }
}

inline bool readExactly(IBStream &stream, void *buffer, int32 size) {
    int32 read = 0;
    return stream.read(buffer, size, &read) == kResultOk && read == size;
}

inline bool writeExactly(IBStream &stream, const void *buffer, int32 size) {
    int32 written = 0;
    return stream.write(const_cast<void *>(buffer), size, &written) == kResultOk && written == size;
}

struct TestPluginClass {
    TUID id;
    const char *name;
    const char *subCategories;
};

} // namespace orvane::vst::testplugins

// Defined by each bundle.
orvane::vst::testplugins::TestPluginBase *makeTestPlugin();
const orvane::vst::testplugins::TestPluginClass &testPluginClass();

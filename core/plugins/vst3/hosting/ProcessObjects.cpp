#include "core/plugins/vst3/hosting/ProcessObjects.h"

#include <algorithm>

namespace orvane::vst {

using Steinberg::int32;
using Steinberg::kInvalidArgument;
using Steinberg::kNoInterface;
using Steinberg::kResultFalse;
using Steinberg::kResultOk;
using Steinberg::tresult;
using namespace Steinberg::Vst;

namespace {

template <class Interface>
tresult answerQuery(Interface *self, const Steinberg::TUID iid, void **object) {
    if (Steinberg::FUnknownPrivate::iidEqual(iid, Steinberg::FUnknown::iid) ||
        Steinberg::FUnknownPrivate::iidEqual(iid, Interface::iid)) {
        *object = self;
        return kResultOk;
    }
    *object = nullptr;
    return kNoInterface;
}

} // namespace

EventList::EventList(int capacity) : events(static_cast<size_t>(std::max(capacity, 0))) {}

tresult PLUGIN_API EventList::getEvent(int32 index, Event &event) {
    if (index < 0 || index >= count) return kInvalidArgument;
    event = events[static_cast<size_t>(index)];
    return kResultOk;
}

tresult PLUGIN_API EventList::addEvent(Event &event) {
    if (count >= static_cast<int32>(events.size())) return kResultFalse;
    events[static_cast<size_t>(count++)] = event;
    return kResultOk;
}

tresult PLUGIN_API EventList::queryInterface(const Steinberg::TUID iid, void **object) {
    return answerQuery<IEventList>(this, iid, object);
}

ParamValueQueue::ParamValueQueue(int capacity)
    : points(static_cast<size_t>(std::max(capacity, 1))) {}

void ParamValueQueue::reset(ParamID newId) {
    id = newId;
    count = 0;
}

tresult PLUGIN_API ParamValueQueue::getPoint(int32 index, int32 &sampleOffset, ParamValue &value) {
    if (index < 0 || index >= count) return kInvalidArgument;
    sampleOffset = points[static_cast<size_t>(index)].sampleOffset;
    value = points[static_cast<size_t>(index)].value;
    return kResultOk;
}

// Points arrive in time order; a point at the same offset as the last one replaces it.
tresult PLUGIN_API ParamValueQueue::addPoint(int32 sampleOffset, ParamValue value, int32 &index) {
    if (count > 0 && points[static_cast<size_t>(count - 1)].sampleOffset == sampleOffset) {
        points[static_cast<size_t>(count - 1)].value = value;
        index = count - 1;
        return kResultOk;
    }
    if (count >= static_cast<int32>(points.size())) return kResultFalse;
    points[static_cast<size_t>(count)] = {sampleOffset, value};
    index = count++;
    return kResultOk;
}

tresult PLUGIN_API ParamValueQueue::queryInterface(const Steinberg::TUID iid, void **object) {
    return answerQuery<IParamValueQueue>(this, iid, object);
}

void ParameterChanges::setCapacity(int parameters, int pointsPerParameter) {
    queues.assign(static_cast<size_t>(std::max(parameters, 0)),
                  ParamValueQueue(pointsPerParameter));
    count = 0;
}

ParamValueQueue *ParameterChanges::appendParameter(ParamID id) {
    if (count >= static_cast<int32>(queues.size())) return nullptr;
    ParamValueQueue &queue = queues[static_cast<size_t>(count++)];
    queue.reset(id);
    return &queue;
}

IParamValueQueue *PLUGIN_API ParameterChanges::getParameterData(int32 index) {
    if (index < 0 || index >= count) return nullptr;
    return &queues[static_cast<size_t>(index)];
}

IParamValueQueue *PLUGIN_API ParameterChanges::addParameterData(const ParamID &id, int32 &index) {
    for (int32 existing = 0; existing < count; ++existing) {
        if (queues[static_cast<size_t>(existing)].getParameterId() == id) {
            index = existing;
            return &queues[static_cast<size_t>(existing)];
        }
    }
    if (count >= static_cast<int32>(queues.size())) return nullptr;
    index = count;
    ParamValueQueue &queue = queues[static_cast<size_t>(count++)];
    queue.reset(id);
    return &queue;
}

tresult PLUGIN_API ParameterChanges::queryInterface(const Steinberg::TUID iid, void **object) {
    return answerQuery<IParameterChanges>(this, iid, object);
}

bool HostProcessData::describeBuses(IComponent &component, BusDirection direction, int maxSamples,
                                    std::vector<AudioBusBuffers> &buses,
                                    std::vector<BusChannels> &channels) {
    int32 count = std::max(component.getBusCount(kAudio, direction), 0);
    buses.assign(static_cast<size_t>(count), AudioBusBuffers());
    channels.assign(static_cast<size_t>(count), BusChannels());
    for (int32 index = 0; index < count; ++index) {
        BusInfo info{};
        if (component.getBusInfo(kAudio, direction, index, info) != kResultOk) return false;
        int32 channelCount = std::max(info.channelCount, 0);
        BusChannels &bus = channels[static_cast<size_t>(index)];
        bus.pointers.assign(static_cast<size_t>(channelCount), nullptr);
        bus.scratch.assign(static_cast<size_t>(channelCount) * static_cast<size_t>(maxSamples),
                           0.0f);
        for (int32 channel = 0; channel < channelCount; ++channel)
            bus.pointers[static_cast<size_t>(channel)] =
                bus.scratch.data() + static_cast<size_t>(channel) * maxSamples;
        buses[static_cast<size_t>(index)].numChannels = channelCount;
        buses[static_cast<size_t>(index)].channelBuffers32 = bus.pointers.data();
    }
    return true;
}

bool HostProcessData::prepare(IComponent &component, int maxSamplesPerBlock) {
    unprepare();
    maxBlock = std::max(maxSamplesPerBlock, 1);
    if (!describeBuses(component, kInput, maxBlock, inputBuses, inputChannels) ||
        !describeBuses(component, kOutput, maxBlock, outputBuses, outputChannels)) {
        unprepare();
        return false;
    }
    processMode = kRealtime;
    symbolicSampleSize = kSample32;
    numSamples = 0;
    numInputs = static_cast<int32>(inputBuses.size());
    numOutputs = static_cast<int32>(outputBuses.size());
    inputs = inputBuses.empty() ? nullptr : inputBuses.data();
    outputs = outputBuses.empty() ? nullptr : outputBuses.data();
    prepared = true;
    return true;
}

void HostProcessData::unprepare() {
    numInputs = 0;
    numOutputs = 0;
    inputs = nullptr;
    outputs = nullptr;
    numSamples = 0;
    inputBuses.clear();
    outputBuses.clear();
    inputChannels.clear();
    outputChannels.clear();
    maxBlock = 0;
    prepared = false;
}

void HostProcessData::bindBus(AudioBusBuffers &bus, BusChannels &channels, float *left,
                              float *right) {
    size_t count = channels.pointers.size();
    if (count >= 1) channels.pointers[0] = left;
    if (count >= 2) channels.pointers[1] = right;
    bus.channelBuffers32 = channels.pointers.data();
}

void HostProcessData::bindMainBuses(float *left, float *right, int frames) {
    numSamples = std::clamp(frames, 0, maxBlock);
    // Channels beyond the caller's two on the main bus, and every channel of the other buses,
    // read scratch that must be silent again after a plug-in that writes into its inputs.
    for (size_t bus = 0; bus < inputChannels.size(); ++bus) {
        size_t channelCount = inputChannels[bus].pointers.size();
        size_t firstScratch = bus == 0 ? std::min<size_t>(channelCount, 2) : 0;
        for (size_t channel = firstScratch; channel < channelCount; ++channel) {
            float *samples = inputChannels[bus].scratch.data() + channel * maxBlock;
            std::fill(samples, samples + numSamples, 0.0f);
        }
        inputBuses[bus].silenceFlags = 0;
    }
    if (!inputBuses.empty()) bindBus(inputBuses[0], inputChannels[0], left, right);
    if (!outputBuses.empty()) bindBus(outputBuses[0], outputChannels[0], left, right);
}

} // namespace orvane::vst

#pragma once

#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivstevents.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>

#include <vector>

// The per-block objects handed to a plug-in's process call. Their storage is sized up front on
// the main thread; on the audio thread they only clear and fill it, never allocate. They are
// owned by the host object that embeds them, so their reference counting never deletes.

namespace orvane::vst {

/// A fixed-capacity event list: events beyond the capacity are refused.
class EventList : public Steinberg::Vst::IEventList {
  public:
    explicit EventList(int capacity);
    virtual ~EventList() = default;

    void clear() { count = 0; }
    int capacity() const { return static_cast<int>(events.size()); }

    Steinberg::int32 PLUGIN_API getEventCount() override { return count; }
    Steinberg::tresult PLUGIN_API getEvent(Steinberg::int32 index,
                                           Steinberg::Vst::Event &event) override;
    Steinberg::tresult PLUGIN_API addEvent(Steinberg::Vst::Event &event) override;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

  private:
    std::vector<Steinberg::Vst::Event> events;
    Steinberg::int32 count = 0;
};

/// The points of one parameter within a block, up to a fixed number.
class ParamValueQueue : public Steinberg::Vst::IParamValueQueue {
  public:
    explicit ParamValueQueue(int capacity);
    virtual ~ParamValueQueue() = default;

    void reset(Steinberg::Vst::ParamID id);

    Steinberg::Vst::ParamID PLUGIN_API getParameterId() override { return id; }
    Steinberg::int32 PLUGIN_API getPointCount() override { return count; }
    Steinberg::tresult PLUGIN_API getPoint(Steinberg::int32 index, Steinberg::int32 &sampleOffset,
                                           Steinberg::Vst::ParamValue &value) override;
    Steinberg::tresult PLUGIN_API addPoint(Steinberg::int32 sampleOffset,
                                           Steinberg::Vst::ParamValue value,
                                           Steinberg::int32 &index) override;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

  private:
    struct Point {
        Steinberg::int32 sampleOffset;
        Steinberg::Vst::ParamValue value;
    };
    std::vector<Point> points;
    Steinberg::Vst::ParamID id = 0;
    Steinberg::int32 count = 0;
};

/// The parameter changes of one block, with room for a fixed number of parameters.
class ParameterChanges : public Steinberg::Vst::IParameterChanges {
  public:
    ParameterChanges() = default;
    virtual ~ParameterChanges() = default;

    /// Main thread only: room for `parameters` parameters of `pointsPerParameter` points each.
    void setCapacity(int parameters, int pointsPerParameter);
    int capacity() const { return static_cast<int>(queues.size()); }
    void clear() { count = 0; }
    /// Audio thread: a fresh queue for an id the caller knows is not in the list yet (no
    /// search, unlike addParameterData); null when the capacity is used up.
    ParamValueQueue *appendParameter(Steinberg::Vst::ParamID id);

    Steinberg::int32 PLUGIN_API getParameterCount() override { return count; }
    Steinberg::Vst::IParamValueQueue *PLUGIN_API getParameterData(Steinberg::int32 index) override;
    Steinberg::Vst::IParamValueQueue *PLUGIN_API addParameterData(const Steinberg::Vst::ParamID &id,
                                                                  Steinberg::int32 &index) override;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

  private:
    std::vector<ParamValueQueue> queues;
    Steinberg::int32 count = 0;
};

/// Process data whose bus and channel-pointer arrays belong to the host and are sized by
/// `prepare`. The caller's two buffers are bound to the first channels of the main buses on
/// every block; every other channel points at scratch memory owned here (zeroed for inputs),
/// so a plug-in always sees valid memory and the caller's buffers are never owned or freed.
class HostProcessData : public Steinberg::Vst::ProcessData {
  public:
    HostProcessData() = default;
    HostProcessData(const HostProcessData &) = delete;
    HostProcessData &operator=(const HostProcessData &) = delete;

    /// Main thread: sizes every array for the component's audio buses; false when the
    /// component reports a bus it cannot describe.
    [[nodiscard]] bool prepare(Steinberg::Vst::IComponent &component, int maxSamples);
    /// Main thread: forgets every bus and frees only memory owned here.
    void unprepare();
    bool isPrepared() const { return prepared; }

    /// Audio thread: points the main buses at the caller's buffers for `frames` samples and
    /// clears the scratch inputs a misbehaving plug-in may have written into.
    void bindMainBuses(float *left, float *right, int frames);

    /// Largest block the arrays were sized for.
    int maxSamples() const { return maxBlock; }

  private:
    struct BusChannels {
        std::vector<float *> pointers;
        std::vector<float> scratch;
    };
    [[nodiscard]] static bool describeBuses(Steinberg::Vst::IComponent &component,
                                            Steinberg::Vst::BusDirection direction, int maxSamples,
                                            std::vector<Steinberg::Vst::AudioBusBuffers> &buses,
                                            std::vector<BusChannels> &channels);
    static void bindBus(Steinberg::Vst::AudioBusBuffers &bus, BusChannels &channels, float *left,
                        float *right);

    std::vector<Steinberg::Vst::AudioBusBuffers> inputBuses;
    std::vector<Steinberg::Vst::AudioBusBuffers> outputBuses;
    std::vector<BusChannels> inputChannels;
    std::vector<BusChannels> outputChannels;
    int maxBlock = 0;
    bool prepared = false;
};

} // namespace orvane::vst

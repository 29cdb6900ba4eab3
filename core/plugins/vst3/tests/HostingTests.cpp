#include "core/plugins/vst3/PluginScanner.h"
#include "core/plugins/vst3/hosting/ParameterHandOver.h"
#include "core/plugins/vst3/hosting/ProcessObjects.h"
#include "core/plugins/vst3/hosting/Utf16.h"

#include <gtest/gtest.h>

#include <map>

namespace orvane::vst {
namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;

TEST(Utf16, ConvertsBothWaysIncludingSurrogatePairsAndCyrillic) {
    std::string text = "Громкость \xF0\x9F\x8E\xB9 Level";
    std::u16string wide = utf8ToUtf16(text);
    EXPECT_EQ(wide.size(), 18u) << "the keyboard emoji is a surrogate pair";
    EXPECT_EQ(utf16ToUtf8(wide.c_str()), text);
    EXPECT_EQ(utf16ToUtf8(nullptr), "");
}

TEST(Utf16, BrokenInputBecomesReplacementCharacters) {
    const char16_t lonely[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(utf16ToUtf8(lonely), "a\xEF\xBF\xBD"
                                   "b\xEF\xBF\xBD");
    EXPECT_EQ(utf8ToUtf16("a\xFF"
                          "b\xC3"),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(utf8ToUtf16("\xE0\x80\x80"), u"\uFFFD\uFFFD\uFFFD") << "overlong form";
}

TEST(Utf16, CopyIntoFixedArrayTruncatesWithoutSplittingAPair) {
    char16_t buffer[4];
    copyUtf8ToUtf16("ab\xF0\x9F\x8E\xB9", buffer, 4);
    EXPECT_EQ(std::u16string(buffer), u"ab");
    copyUtf8ToUtf16("abcdef", buffer, 4);
    EXPECT_EQ(std::u16string(buffer), u"abc");
}

TEST(ClassIds, AreWrittenAsUppercaseHexInStorageOrder) {
    std::array<uint8_t, 16> id{0x00, 0x01, 0xAB, 0xFF, 0x10, 0x20, 0x30, 0x40,
                               0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xCD};
    EXPECT_EQ(tuidToHex(id), "0001ABFF102030405060708090A0B0CD");
}

TEST(EventList, RefusesEventsBeyondItsCapacityUntilCleared) {
    EventList list(3);
    Event event{};
    for (int index = 0; index < 3; ++index) {
        event.sampleOffset = index;
        EXPECT_EQ(list.addEvent(event), kResultOk);
    }
    EXPECT_NE(list.addEvent(event), kResultOk);
    EXPECT_EQ(list.getEventCount(), 3);
    Event read{};
    ASSERT_EQ(list.getEvent(2, read), kResultOk);
    EXPECT_EQ(read.sampleOffset, 2);
    EXPECT_NE(list.getEvent(3, read), kResultOk);
    EXPECT_NE(list.getEvent(-1, read), kResultOk);
    list.clear();
    EXPECT_EQ(list.getEventCount(), 0);
    EXPECT_EQ(list.addEvent(event), kResultOk);
}

TEST(ParameterChanges, ReusesTheQueueOfAnIdAndRefusesBeyondCapacity) {
    ParameterChanges changes;
    changes.setCapacity(2, 2);
    int32 index = -1;
    IParamValueQueue *first = changes.addParameterData(7, index);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(index, 0);
    int32 pointIndex = -1;
    EXPECT_EQ(first->addPoint(0, 0.25, pointIndex), kResultOk);
    EXPECT_EQ(first->addPoint(0, 0.5, pointIndex), kResultOk) << "same offset replaces";
    EXPECT_EQ(first->getPointCount(), 1);
    EXPECT_EQ(first->addPoint(10, 0.75, pointIndex), kResultOk);
    EXPECT_NE(first->addPoint(20, 1.0, pointIndex), kResultOk) << "queue full";

    EXPECT_EQ(changes.addParameterData(7, index), first);
    ASSERT_NE(changes.addParameterData(9, index), nullptr);
    EXPECT_EQ(changes.addParameterData(11, index), nullptr);
    EXPECT_EQ(changes.getParameterCount(), 2);
    changes.clear();
    EXPECT_EQ(changes.getParameterCount(), 0);
    EXPECT_EQ(changes.getParameterData(0), nullptr);
    IParamValueQueue *reused = changes.addParameterData(11, index);
    ASSERT_NE(reused, nullptr);
    EXPECT_EQ(reused->getPointCount(), 0) << "a reused queue starts empty";
    EXPECT_EQ(reused->getParameterId(), 11u);
}

// A component that only answers bus questions, for sizing process data.
class BusOnlyComponent : public IComponent {
  public:
    BusOnlyComponent(std::vector<int32> inputs, std::vector<int32> outputs)
        : inputs(std::move(inputs)), outputs(std::move(outputs)) {}
    int32 PLUGIN_API getBusCount(MediaType type, BusDirection direction) override {
        if (type != kAudio) return 0;
        return int32((direction == kInput ? inputs : outputs).size());
    }
    tresult PLUGIN_API getBusInfo(MediaType, BusDirection direction, int32 index,
                                  BusInfo &info) override {
        auto &buses = direction == kInput ? inputs : outputs;
        if (index < 0 || index >= int32(buses.size())) return kInvalidArgument;
        info.channelCount = buses[size_t(index)];
        return kResultOk;
    }
    tresult PLUGIN_API initialize(FUnknown *) override { return kResultOk; }
    tresult PLUGIN_API terminate() override { return kResultOk; }
    tresult PLUGIN_API getControllerClassId(TUID) override { return kNotImplemented; }
    tresult PLUGIN_API setIoMode(IoMode) override { return kResultOk; }
    tresult PLUGIN_API getRoutingInfo(RoutingInfo &, RoutingInfo &) override {
        return kNotImplemented;
    }
    tresult PLUGIN_API activateBus(MediaType, BusDirection, int32, TBool) override {
        return kResultOk;
    }
    tresult PLUGIN_API setActive(TBool) override { return kResultOk; }
    tresult PLUGIN_API setState(IBStream *) override { return kResultOk; }
    tresult PLUGIN_API getState(IBStream *) override { return kResultOk; }
    tresult PLUGIN_API queryInterface(const TUID, void **object) override {
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

  private:
    std::vector<int32> inputs, outputs;
};

TEST(HostProcessData, BindsCallerBuffersToMainChannelsAndScratchToTheRest) {
    BusOnlyComponent component({4, 1}, {1});
    HostProcessData data;
    ASSERT_TRUE(data.prepare(component, 64));
    ASSERT_EQ(data.numInputs, 2);
    ASSERT_EQ(data.numOutputs, 1);
    std::vector<float> left(64, 1.0f), right(64, 2.0f);
    data.bindMainBuses(left.data(), right.data(), 32);
    EXPECT_EQ(data.numSamples, 32);
    EXPECT_EQ(data.inputs[0].channelBuffers32[0], left.data());
    EXPECT_EQ(data.inputs[0].channelBuffers32[1], right.data());
    EXPECT_EQ(data.outputs[0].numChannels, 1);
    EXPECT_EQ(data.outputs[0].channelBuffers32[0], left.data());

    // A plug-in that scribbles over its extra inputs gets silence again on the next block.
    float *extra = data.inputs[0].channelBuffers32[3];
    float *sidechain = data.inputs[1].channelBuffers32[0];
    ASSERT_NE(extra, nullptr);
    extra[5] = 9.0f;
    sidechain[0] = 9.0f;
    data.bindMainBuses(left.data(), right.data(), 32);
    EXPECT_EQ(extra[5], 0.0f);
    EXPECT_EQ(sidechain[0], 0.0f);
}

TEST(HostProcessData, ClampsBlockToPreparedSizeAndUnprepareForgetsBuses) {
    BusOnlyComponent component({2}, {2});
    HostProcessData data;
    ASSERT_TRUE(data.prepare(component, 16));
    std::vector<float> left(64), right(64);
    data.bindMainBuses(left.data(), right.data(), 64);
    EXPECT_EQ(data.numSamples, 16);
    data.unprepare();
    EXPECT_FALSE(data.isPrepared());
    EXPECT_EQ(data.numInputs, 0);
    EXPECT_EQ(data.inputs, nullptr);
    left[0] = 3.0f; // still the caller's memory
    EXPECT_EQ(left[0], 3.0f);
}

TEST(ParameterHandOver, KeepsTheLatestValueOfEveryIdInFirstSetOrder) {
    ParameterHandOver handOver(2);
    EXPECT_TRUE(handOver.set(5, 0.1f));
    EXPECT_TRUE(handOver.set(3, 0.2f));
    EXPECT_TRUE(handOver.set(5, 0.3f));
    EXPECT_FALSE(handOver.set(9, 0.4f)) << "full";
    handOver.grow(4);
    EXPECT_TRUE(handOver.set(9, 0.4f));
    std::vector<std::pair<uint32_t, float>> seen;
    handOver.forEach([&seen](uint32_t id, float value) { seen.emplace_back(id, value); });
    EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, float>>{{5, 0.3f}, {3, 0.2f}, {9, 0.4f}}));
}

} // namespace
} // namespace orvane::vst

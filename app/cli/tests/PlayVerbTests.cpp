#include "app/cli/PlayVerb.h"
#include "app/cli/RecordVerb.h"
#include "app/shell/LiveTick.h"

#include <gtest/gtest.h>

#include <semaphore>
#include <thread>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

struct ParseCase {
    std::vector<std::string> arguments;
    bool ok;
    std::string errorPart; // for failures
};

TEST(PlayArguments, AreReadOrRefusedWithAReason) {
    const std::vector<ParseCase> cases{
        {{"song.halvora"}, true, ""},
        {{"--demo", "--device", "null", "--buffer", "128", "--start", "4800", "--seconds", "2.5",
          "--no-connect"},
         true,
         ""},
        {{}, false, "no project folder given"},
        {{"a.halvora", "b.halvora"}, false, "more than one project folder"},
        {{"a.halvora", "--demo"}, false, "either a project folder or --demo"},
        {{"--demo", "--buffer"}, false, "--buffer needs a value"},
        {{"--demo", "--buffer", "63"}, false, "64 to 4096"},
        {{"--demo", "--buffer", "4097"}, false, "64 to 4096"},
        {{"--demo", "--buffer", "2x"}, false, "64 to 4096"},
        {{"--demo", "--start", "-1"}, false, "--start takes"},
        {{"--demo", "--seconds", "0"}, false, "--seconds takes"},
        {{"--demo", "--seconds", "nan"}, false, "--seconds takes"},
        {{"--demo", "--loud"}, false, "unknown option \"--loud\""},
        {{"--demo", "--jack-transport", "master"}, false, "lead, follow or off"},
        {{"--demo", "--jack-transport"}, false, "--jack-transport needs a value"},
        {{"--demo", "--midi-clock", "both"}, false, "out, in or off"},
    };
    for (const auto &test : cases) {
        PlayVerbOptions options;
        std::string error;
        EXPECT_EQ(parsePlayArguments(test.arguments, options, error), test.ok) << error;
        if (!test.ok) {
            EXPECT_NE(error.find(test.errorPart), std::string::npos) << error;
        }
    }
    PlayVerbOptions options;
    std::string error;
    ASSERT_TRUE(parsePlayArguments({"--demo", "--device", "null", "--buffer", "128", "--start",
                                    "4800", "--seconds", "2.5", "--no-connect"},
                                   options, error));
    EXPECT_TRUE(options.demo);
    EXPECT_EQ(options.device, "null");
    EXPECT_EQ(options.bufferFrames, 128);
    EXPECT_EQ(options.start, 4800);
    EXPECT_EQ(options.seconds, 2.5);
    EXPECT_FALSE(options.connect);
}

TEST(PlayArguments, LayTransportSyncOverTheSettings) {
    const TransportSyncSettings stored{JackTransportMode::lead, MidiClockMode::out, false};
    struct Case {
        std::vector<std::string> arguments;
        TransportSyncSettings expected;
    };
    for (const Case &test : std::vector<Case>{
             {{"--demo"}, stored},
             {{"--demo", "--jack-transport", "follow"},
              {JackTransportMode::follow, MidiClockMode::out, false}},
             {{"--demo", "--jack-transport", "off", "--midi-clock", "in", "--follow-clock-tempo"},
              {JackTransportMode::off, MidiClockMode::in, true}},
         }) {
        PlayVerbOptions options;
        std::string error;
        ASSERT_TRUE(parsePlayArguments(test.arguments, options, error)) << error;
        EXPECT_EQ(options.sync.over(stored), test.expected) << test.arguments.back();
    }
    // The record verb reads the same words.
    RecordVerbOptions record;
    std::string error;
    ASSERT_TRUE(parseRecordArguments({"song.halvora", "--track", "1", "--seconds", "1",
                                      "--jack-transport", "follow", "--midi-clock", "off"},
                                     record, error))
        << error;
    EXPECT_EQ(record.sync.over(stored).jackTransport, JackTransportMode::follow);
    EXPECT_EQ(record.sync.over(stored).midiClock, MidiClockMode::off);
    EXPECT_FALSE(parseRecordArguments(
        {"song.halvora", "--track", "1", "--seconds", "1", "--midi-clock", "sideways"}, record,
        error));
    EXPECT_NE(error.find("out, in or off"), std::string::npos) << error;
}

TEST(PlayDeviceChoice, MapsBackEndWordsAndExactNames) {
    const std::vector<std::string> all{"JACK", "ALSA: HDA Intel PCH", "ALSA: USB", "Null"};
    const std::vector<std::string> noServer{"Null"};
    struct Case {
        std::string choice;
        const std::vector<std::string> *names;
        std::string expected;
    };
    for (const Case &test : std::vector<Case>{{"jack", &all, "JACK"},
                                              {"alsa", &all, "ALSA: HDA Intel PCH"},
                                              {"null", &all, "Null"},
                                              {"ALSA: USB", &all, "ALSA: USB"},
                                              {"USB", &all, ""},
                                              {"JACK", &all, "JACK"},
                                              {"jack", &noServer, ""},
                                              {"alsa", &noServer, ""}})
        EXPECT_EQ(resolveDeviceChoice(test.choice, *test.names), test.expected) << test.choice;
}

TEST(PlaySummary, TellsBlocksXrunsAndLoad) {
    PlaySummary summary{"JACK", 48000.0, 256, 96000, 375, 2, 0.031, 0.125, false};
    EXPECT_EQ(describePlaySummary(summary),
              "played 2.000 s on \"JACK\" (48000 Hz, 256 frames): 375 blocks, 2 xruns, DSP load "
              "mean 3.1 %, worst 12.5 %");
    summary.interrupted = true;
    EXPECT_EQ(describePlaySummary(summary).rfind("stopped after 2.000 s", 0), 0u);
}

/// Lets the test make one device period late and wait for periods without sleeping.
class StallingObserver final : public RenderObserver {
  public:
    void blockStarted() override {
        if (stallOnce.exchange(false)) std::this_thread::sleep_for(100ms);
    }
    void blockFinished() override {
        blocks.fetch_add(1);
        done.release();
    }
    void waitForBlocksAfter(uint64_t count) {
        while (blocks.load() < count)
            ASSERT_TRUE(done.try_acquire_for(10s));
    }
    std::atomic<bool> stallOnce{false};
    std::atomic<uint64_t> blocks{0};

  private:
    std::counting_semaphore<> done{0};
};

TEST(LiveTick, HandsOnNotificationsAndTurnsUnderrunsIntoKindOne) {
    Engine engine;
    StallingObserver observer; // outlives the device, whose audio thread calls it
    AudioDeviceEngine device(engine);
    device.setRenderObserver(&observer);
    const uint32_t null = device.deviceIdByName("Null");
    ASSERT_TRUE(device.applySettings(null, 0, 512));
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::play()));
    ASSERT_TRUE(device.start());
    observer.waitForBlocksAfter(2);
    LiveTick tick(engine, device);
    std::vector<Notification> seen;
    const auto sink = [&seen](const Notification &notification) { seen.push_back(notification); };
    tick.run(sink);
    const uint64_t before = device.xrunCount();
    const auto countOf = [&seen](NotificationKind kind) {
        return std::count_if(seen.begin(), seen.end(),
                             [kind](const Notification &entry) { return entry.kind == kind; });
    };
    EXPECT_EQ(countOf(NotificationKind::deviceUnderrun), static_cast<long>(before));
    const auto blocks = observer.blocks.load();
    observer.stallOnce.store(true);
    observer.waitForBlocksAfter(blocks + 3);
    const LiveTickReport report = tick.run(sink);
    const uint64_t after = device.xrunCount();
    device.stop();
    ASSERT_GT(after, before);
    // One kind-1 notification per underrun, numbered by the running count, never twice.
    EXPECT_EQ(countOf(NotificationKind::deviceUnderrun), static_cast<long>(after));
    EXPECT_EQ(seen.back().kind, NotificationKind::deviceUnderrun);
    EXPECT_EQ(seen.back().value, static_cast<float>(after));
    EXPECT_GE(report.notifications, static_cast<int32_t>(after - before));
    EXPECT_EQ(tick.run(sink).notifications, 0);
}

} // namespace

#include "device/AudioDeviceEngine.h"
#include "device/TransportSync.h"
#include "device/tests/DeviceTestSupport.h"
#include "tests/support/JackServer.h"

#include <gtest/gtest.h>

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;

namespace {

constexpr double rate = 48000.0;

Project tempoProject(double bpm, TimeSignature meter = {}) {
    Project project;
    project.sampleRate = rate;
    project.tempoBpm = bpm;
    project.timeSignature = meter;
    return project;
}

// --- Musical position ---------------------------------------------------------------------------

struct PositionCase {
    const char *name;
    int64_t frame;
    int32_t bar, beat;
    double fraction;
    int32_t numerator, denominator;
    double quarterBpm;
};

TEST(MusicalPosition, CountsBarsAndBeatsThroughTempoAndMeterChanges) {
    Engine engine;
    Project project = tempoProject(120.0);
    // Two bars of 4/4 at 120 (96000 frames each), then 6/8 (72000 frames a bar), and 60 BPM
    // from bar 4 on.
    project.meterMarkers.push_back({192000, 6, 8});
    project.tempoMarkers.push_back({264000, 60.0});
    engine.replaceProject(project);
    const std::vector<PositionCase> cases{
        {"the start", 0, 1, 1, 0.0, 4, 4, 120.0},
        {"half a beat in", 12000, 1, 1, 0.5, 4, 4, 120.0},
        {"second bar, third beat", 96000 + 48000, 2, 3, 0.0, 4, 4, 120.0},
        {"the meter change starts bar 3", 192000, 3, 1, 0.0, 6, 8, 120.0},
        {"eighths are the beats of 6/8", 192000 + 12000 * 5, 3, 6, 0.0, 6, 8, 120.0},
        {"bar 4 at the slower tempo", 264000, 4, 1, 0.0, 6, 8, 60.0},
        {"an eighth at 60 BPM is half a second", 264000 + 36000, 4, 2, 0.5, 6, 8, 60.0},
        {"bar 5 is twice as long", 264000 + 144000, 5, 1, 0.0, 6, 8, 60.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // The timebase master asks this on the audio thread every period.
        MusicalPosition where;
        {
            AllocationScope scope;
            where = engine.musicalPositionRt(c.frame);
            EXPECT_EQ(scope.allocations() + scope.frees(), 0u);
        }
        EXPECT_EQ(where.bar, c.bar);
        EXPECT_EQ(where.beat, c.beat);
        EXPECT_NEAR(where.beatFraction, c.fraction, 1e-9);
        EXPECT_EQ(where.meter.numerator, c.numerator);
        EXPECT_EQ(where.meter.denominator, c.denominator);
        EXPECT_DOUBLE_EQ(where.quarterBpm, c.quarterBpm);
    }
    EXPECT_EQ(engine.quarterBeatsToSamplesRt(8.0), 192000);
}

// --- The clock writer, period by period ---------------------------------------------------------

/// Runs the writer over consecutive periods the way the device does and keeps every message
/// with its absolute frame.
struct ClockRun {
    struct Sent {
        int64_t frame;
        std::vector<uint8_t> bytes;
    };
    explicit ClockRun(const Engine &engine) : engine(engine) {}

    void periods(int64_t from, int count, int32_t frames, bool playing) {
        for (int index = 0; index < count; ++index, from += frames)
            period(from, frames, playing);
    }
    void period(int64_t start, int32_t frames, bool playing) {
        std::size_t count = 0;
        {
            AllocationScope scope;
            count = writer.periodRt(engine, playing, start, frames, messages);
            allocations += scope.allocations() + scope.frees();
        }
        for (std::size_t index = 0; index < count; ++index) {
            const auto &message = messages[index];
            sent.push_back({start + message.frame,
                            {message.bytes.begin(), message.bytes.begin() + message.size}});
        }
    }
    std::vector<int64_t> clockFrames() const {
        std::vector<int64_t> frames;
        for (const auto &message : sent)
            if (message.bytes[0] == midiClockByte) frames.push_back(message.frame);
        return frames;
    }
    std::vector<std::vector<uint8_t>> others() const {
        std::vector<std::vector<uint8_t>> found;
        for (const auto &message : sent)
            if (message.bytes[0] != midiClockByte) found.push_back(message.bytes);
        return found;
    }

    const Engine &engine;
    MidiClockWriter writer;
    MidiClockWriter::Messages messages{};
    std::vector<Sent> sent;
    uint64_t allocations = 0; // made or freed by the writer, on the audio thread's path
};

TEST(MidiClockWriter, PlacesTwentyFourClocksPerQuarterOnTheTempoMap) {
    Engine engine;
    Project project = tempoProject(120.0);
    project.tempoMarkers.push_back({48000, 240.0}); // twice as fast after one second
    engine.replaceProject(project);
    ClockRun run(engine);
    run.periods(0, 375, 256, true); // two seconds in periods that do not divide a clock
    const auto clocks = run.clockFrames();
    // 48 clocks 1000 frames apart in the first second, then 96 clocks 500 frames apart.
    ASSERT_EQ(clocks.size(), 48u + 96u);
    for (std::size_t index = 0; index < clocks.size(); ++index) {
        const int64_t expected = index < 48 ? static_cast<int64_t>(index) * 1000
                                            : 48000 + static_cast<int64_t>(index - 48) * 500;
        ASSERT_EQ(clocks[index], expected) << "clock " << index;
    }
    EXPECT_EQ(run.others(), (std::vector<std::vector<uint8_t>>{{midiStartByte}}));
    EXPECT_EQ(run.sent.front().bytes[0], midiStartByte); // before the first clock
    EXPECT_EQ(run.allocations, 0u);
}

TEST(MidiClockWriter, TellsStartsStopsAndJumpsWithSongPositions) {
    Engine engine;
    engine.replaceProject(tempoProject(120.0));
    struct Step {
        const char *name;
        int64_t start;
        bool playing;
        std::vector<std::vector<uint8_t>> expected;
    };
    // A sixteenth at 120 BPM is 6000 frames; song positions count sixteenths in two 7-bit
    // bytes, low first.
    const std::vector<Step> steps{
        {"standing at the start sends nothing", 0, false, {}},
        {"a locate while stopped", 60000, false, {{0xF2, 10, 0}}},
        {"playing from there continues", 60000, true, {{0xF2, 10, 0}, {0xFB}}},
        {"rolling on sends only clocks", 61000, true, {}},
        {"a jump while rolling", 6000 * 200, true, {{0xFC}, {0xF2, 200 & 0x7F, 200 >> 7}, {0xFB}}},
        {"stopping", 6000 * 200 + 1000, false, {{0xFC}}},
        {"a stop that rewinds", 0, false, {{0xF2, 0, 0}}},
        {"playing from the very start", 0, true, {{0xFA}}},
    };
    ClockRun run(engine);
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        run.sent.clear();
        run.period(step.start, 1000, step.playing);
        EXPECT_EQ(run.others(), step.expected);
        EXPECT_EQ(run.clockFrames().size(), step.playing ? 1u : 0u);
    }
    EXPECT_EQ(run.allocations, 0u);
}

TEST(SongPosition, CountsWholeSixteenthsWithinFourteenBits) {
    EXPECT_EQ(songPositionSixteenths(0.0), 0);
    EXPECT_EQ(songPositionSixteenths(1.2), 4);
    EXPECT_EQ(songPositionSixteenths(2.4999999999), 10);
    EXPECT_EQ(songPositionSixteenths(-3.0), 0);
    EXPECT_EQ(songPositionSixteenths(1e9), 0x3FFF);
    EXPECT_EQ(songPositionSixteenths(std::nan("")), 0);
}

TEST(TransportSyncNames, ReadBackWhatTheyWrite) {
    for (auto mode : {JackTransportMode::off, JackTransportMode::lead, JackTransportMode::follow})
        EXPECT_EQ(parseJackTransportMode(jackTransportModeName(mode)), mode);
    for (auto mode : {MidiClockMode::off, MidiClockMode::out, MidiClockMode::in})
        EXPECT_EQ(parseMidiClockMode(midiClockModeName(mode)), mode);
    EXPECT_FALSE(parseJackTransportMode("Lead"));
    EXPECT_FALSE(parseMidiClockMode(""));
}

// --- Against a real JACK server -----------------------------------------------------------------

/// Another program on the server: moves the JACK transport from the test, and records in its
/// process callback what the transport says every period and what arrives at its MIDI input.
/// Everything its process callback writes is allocated before activation.
class TransportProbe {
  public:
    struct Period {
        jack_transport_state_t state = JackTransportStopped;
        jack_position_t position{};
    };
    struct Message {
        int64_t time = 0; // the server's frame count
        std::array<uint8_t, 3> bytes{};
        std::size_t size = 0;
    };

    explicit TransportProbe(std::size_t periodRoom = 4096, std::size_t messageRoom = 4096) {
        jack_status_t status{};
        client = jack_client_open("probe", JackNoStartServer, &status);
        if (!client) return;
        midiIn = jack_port_register(client, "clock_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        midiOut =
            jack_port_register(client, "clock_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        periods.resize(periodRoom);
        messages.resize(messageRoom);
        jack_set_process_callback(client, &TransportProbe::process, this);
    }
    ~TransportProbe() {
        if (!client) return;
        jack_deactivate(client);
        jack_client_close(client);
    }
    bool ok() const { return client && midiIn && midiOut; }
    bool activate() { return jack_activate(client) == 0; }
    bool connect(const char *from, const char *to) { return jack_connect(client, from, to) == 0; }
    jack_client_t *handle() const { return client; }

    void start() { jack_transport_start(client); }
    void stop() { jack_transport_stop(client); }
    void locate(int64_t frame) {
        jack_transport_locate(client, static_cast<jack_nframes_t>(frame));
    }

    /// Sends these bytes as one message at the start of the next period.
    void send(std::vector<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), outgoing.begin());
        outgoingSize.store(bytes.size(), std::memory_order_release);
    }
    /// Sends a clock every `frames` frames while set (0: none).
    std::atomic<int64_t> clockEvery{0};

    std::size_t periodCount() const { return periodsSeen.load(std::memory_order_acquire); }
    std::size_t messageCount() const { return messagesSeen.load(std::memory_order_acquire); }
    bool waitForPeriods(std::size_t count, std::chrono::milliseconds timeout) const {
        const auto giveUp = std::chrono::steady_clock::now() + timeout;
        while (periodCount() < count) {
            if (std::chrono::steady_clock::now() > giveUp) return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }
    template <class Condition>
    bool waitFor(Condition condition, std::chrono::milliseconds timeout) {
        const auto giveUp = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > giveUp) return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    std::vector<Period> periods;
    std::vector<Message> messages;

  private:
    static int process(jack_nframes_t frames, void *context) {
        auto &self = *static_cast<TransportProbe *>(context);
        const auto now = static_cast<int64_t>(jack_last_frame_time(self.client));
        const std::size_t at = self.periodsSeen.load(std::memory_order_relaxed);
        if (at < self.periods.size()) {
            Period &period = self.periods[at];
            period.state = jack_transport_query(self.client, &period.position);
            self.periodsSeen.store(at + 1, std::memory_order_release);
        }
        void *in = jack_port_get_buffer(self.midiIn, frames);
        const uint32_t count = jack_midi_get_event_count(in);
        for (uint32_t index = 0; index < count; ++index) {
            jack_midi_event_t event{};
            const std::size_t stored = self.messagesSeen.load(std::memory_order_relaxed);
            if (jack_midi_event_get(&event, in, index) != 0 || stored == self.messages.size())
                continue;
            Message &message = self.messages[stored];
            message.time = now + event.time;
            message.size = std::min<std::size_t>(event.size, 3);
            std::copy(event.buffer, event.buffer + message.size, message.bytes.begin());
            self.messagesSeen.store(stored + 1, std::memory_order_release);
        }
        void *out = jack_port_get_buffer(self.midiOut, frames);
        jack_midi_clear_buffer(out);
        if (const std::size_t size = self.outgoingSize.exchange(0, std::memory_order_acquire))
            jack_midi_event_write(out, 0, self.outgoing.data(), size);
        if (const int64_t every = self.clockEvery.load(); every > 0) {
            for (int64_t frame = (every - self.sinceClock % every) % every; frame < frames;
                 frame += every) {
                const uint8_t clock = midiClockByte;
                jack_midi_event_write(out, static_cast<jack_nframes_t>(frame), &clock, 1);
            }
            self.sinceClock += frames;
        }
        return 0;
    }

    jack_client_t *client = nullptr;
    jack_port_t *midiIn = nullptr;
    jack_port_t *midiOut = nullptr;
    std::atomic<std::size_t> periodsSeen{0};
    std::atomic<std::size_t> messagesSeen{0};
    std::array<uint8_t, 3> outgoing{};
    std::atomic<std::size_t> outgoingSize{0};
    int64_t sinceClock = 0; // process thread
};

/// Halvora's side of every period: where the engine rendered from and whether it rolled,
/// beside what the JACK transport said in that same period, and what the period allocated.
class SyncObserver final : public RenderObserver {
  public:
    struct Block {
        int64_t start = 0;
        bool playing = false;
        bool jackRolling = false;
        int64_t jackFrame = 0;
    };
    SyncObserver(Engine &engine, jack_client_t *probe) : engine(engine), probe(probe) {
        blocks.resize(8192);
    }
    void blockStarted() override { counting.blockStarted(); }
    void blockFinished() override {
        const std::size_t at = count.load(std::memory_order_relaxed);
        if (at < blocks.size()) {
            jack_position_t position{};
            const auto state = jack_transport_query(probe, &position);
            blocks[at] = {engine.deviceBlockStart.load(), engine.transport.playing.load(),
                          state == JackTransportRolling, static_cast<int64_t>(position.frame)};
            count.store(at + 1, std::memory_order_release);
        }
        counting.blockFinished();
    }
    std::vector<Block> recorded() const {
        return {blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(count.load())};
    }

    CountingObserver counting;

  private:
    Engine &engine;
    jack_client_t *probe;
    std::vector<Block> blocks;
    std::atomic<std::size_t> count{0};
};

class JackTransportSync : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.ready()) << server.failure();
        ASSERT_TRUE(probe.ok());
        ASSERT_TRUE(probe.activate());
    }

    void startHalvora(TransportSyncSettings sync, Project project = tempoProject(120.0)) {
        engine.replaceProject(std::move(project));
        device.connectPorts = false;
        device.setTransportSync(sync);
        const uint32_t jack = device.deviceIdByName(jackDeviceName);
        ASSERT_NE(jack, 0u);
        device.setRenderObserver(&observer);
        ASSERT_TRUE(device.applySettings(jack, 0, 256)) << device.lastError;
        ASSERT_TRUE(device.start()) << device.lastError;
    }

    void waitForBlocks(int count) { ASSERT_TRUE(observer.counting.waitForBlocks(count, 10s)); }

    JackServer server; // 256-frame periods
    TransportProbe probe;
    Engine engine;
    SyncObserver observer{engine, probe.handle()};
    AudioDeviceEngine device{engine};
};

TEST_F(JackTransportSync, FollowsAnotherProgramsStartsStopsAndLocatesFrameForFrame) {
    startHalvora({JackTransportMode::follow});
    waitForBlocks(4);
    probe.locate(48000);
    waitForBlocks(4);
    probe.start();
    waitForBlocks(20);
    probe.locate(1234567); // not on a period boundary
    waitForBlocks(20);
    probe.stop();
    waitForBlocks(8);
    probe.locate(777);
    waitForBlocks(8);
    device.stop();

    const auto blocks = observer.recorded();
    int rolling = 0;
    bool sawLocateWhileRolling = false, sawLocateWhileStopped = false;
    for (const auto &block : blocks) {
        // Every period renders from exactly where the JACK transport stands in it.
        EXPECT_EQ(block.playing, block.jackRolling);
        EXPECT_EQ(block.start, block.jackFrame);
        rolling += block.jackRolling ? 1 : 0;
        sawLocateWhileRolling |= block.jackRolling && block.start == 1234567;
        sawLocateWhileStopped |= !block.jackRolling && block.start == 777;
    }
    EXPECT_GE(rolling, 20);
    EXPECT_TRUE(sawLocateWhileRolling);
    EXPECT_TRUE(sawLocateWhileStopped);
    EXPECT_EQ(engine.transport.playhead.load(), 777);
    EXPECT_EQ(observer.counting.allocations.load(), 0u);
    EXPECT_EQ(observer.counting.frees.load(), 0u);
}

TEST_F(JackTransportSync, FollowsTheCommandLineTransportClient) {
    startHalvora({JackTransportMode::follow});
    waitForBlocks(4);
    // Debian's jack_transport reads its commands from standard input.
    ASSERT_EQ(runTool({"sh", "-c", "printf 'locate 96000\\nplay\\n' | jack_transport"}), 0);
    waitForBlocks(12);
    ASSERT_EQ(runTool({"sh", "-c", "printf 'stop\\nlocate 24000\\n' | jack_transport"}), 0);
    ASSERT_TRUE(probe.waitFor([&] { return engine.transport.playhead.load() == 24000; }, 5s));
    waitForBlocks(2);
    device.stop();
    bool startedThere = false;
    for (const auto &block : observer.recorded()) {
        EXPECT_EQ(block.playing, block.jackRolling);
        if (block.jackRolling) {
            EXPECT_EQ(block.start, block.jackFrame);
        }
        startedThere |= block.playing && block.start == 96000;
    }
    EXPECT_TRUE(startedThere) << "the first rolling period starts where jack_transport located";
    EXPECT_FALSE(engine.transport.playing.load());
    EXPECT_EQ(observer.counting.allocations.load(), 0u);
}

TEST_F(JackTransportSync, LeadsTheJackTransportAndTellsBarsBeatsAndTempo) {
    // 90 BPM in 3/4: a beat is 32000 frames, a bar 96000.
    startHalvora({JackTransportMode::lead}, tempoProject(90.0, {3, 4}));
    waitForBlocks(4);
    const std::size_t firstPeriod = probe.periodCount();
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::locate(100000)));
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::play()));
    waitForBlocks(30);
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::locate(500000)));
    waitForBlocks(30);
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::pause()));
    waitForBlocks(8);
    const std::size_t lastPeriod = probe.periodCount();
    const int64_t pausedAt = engine.transport.playhead.load();
    // Rolling again, then going away: a leader takes its transport with it.
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::play()));
    ASSERT_TRUE(probe.waitFor(
        [&] { return probe.periods[probe.periodCount() - 1].state == JackTransportRolling; }, 5s));
    device.stop();
    const std::size_t afterLeader = probe.periodCount();
    ASSERT_TRUE(probe.waitForPeriods(afterLeader + 4, 5s));
    EXPECT_EQ(probe.periods[afterLeader + 3].state, JackTransportStopped);

    int rolling = 0;
    bool reachedSecondPlace = false;
    for (std::size_t index = firstPeriod; index < lastPeriod; ++index) {
        const auto &[state, position] = probe.periods[index];
        if (state != JackTransportRolling) continue;
        ++rolling;
        reachedSecondPlace |= position.frame >= 500000;
        SCOPED_TRACE("frame " + std::to_string(position.frame));
        ASSERT_TRUE(position.valid & JackPositionBBT);
        const double beats = static_cast<double>(position.frame) / 32000.0;
        EXPECT_EQ(position.bar, static_cast<int32_t>(beats / 3.0) + 1);
        EXPECT_EQ(position.beat, static_cast<int32_t>(std::fmod(beats, 3.0)) + 1);
        EXPECT_NEAR(position.tick, (beats - std::floor(beats)) * 1920.0, 1.0);
        EXPECT_FLOAT_EQ(position.beats_per_bar, 3.0f);
        EXPECT_FLOAT_EQ(position.beat_type, 4.0f);
        EXPECT_DOUBLE_EQ(position.beats_per_minute, 90.0);
    }
    EXPECT_GE(rolling, 40);
    EXPECT_TRUE(reachedSecondPlace);
    // JACK carries a start or a locate out some periods after it is asked: after each of
    // Halvora's own jumps (the start, the locate), it settles within a few periods on Halvora's
    // frames and stays on them.
    constexpr std::size_t settlingPeriods = 6;
    int lined = 0;
    const auto blocks = observer.recorded();
    std::size_t sinceJump = 0;
    for (std::size_t index = 1; index < blocks.size(); ++index) {
        const auto &block = blocks[index];
        const auto &before = blocks[index - 1];
        const bool jumped = block.playing && (!before.playing || block.start != before.start + 256);
        sinceJump = jumped ? 0 : sinceJump + 1;
        if (!block.playing || sinceJump < settlingPeriods) continue;
        EXPECT_TRUE(block.jackRolling) << "at " << block.start;
        EXPECT_EQ(block.start, block.jackFrame);
        ++lined;
    }
    EXPECT_GE(lined, 40);
    const auto &last = probe.periods[lastPeriod - 1];
    EXPECT_EQ(last.state, JackTransportStopped);
    EXPECT_EQ(static_cast<int64_t>(last.position.frame), pausedAt);
    EXPECT_EQ(observer.counting.allocations.load(), 0u);
}

/// The clock output's messages after the first start, as frames after it.
struct ClockSeen {
    std::vector<int64_t> clocks;
    std::vector<std::vector<uint8_t>> others;
    std::vector<int64_t> otherTimes;
};

ClockSeen clockSince(const TransportProbe &probe, std::size_t count, int64_t origin) {
    ClockSeen seen;
    for (std::size_t index = 0; index < count; ++index) {
        const auto &message = probe.messages[index];
        if (message.time < origin) continue;
        if (message.bytes[0] == midiClockByte) {
            seen.clocks.push_back(message.time - origin);
        } else {
            seen.others.emplace_back(message.bytes.begin(), message.bytes.begin() + message.size);
            seen.otherTimes.push_back(message.time - origin);
        }
    }
    return seen;
}

int64_t firstStartTime(const TransportProbe &probe, std::size_t count) {
    for (std::size_t index = 0; index < count; ++index)
        if (probe.messages[index].bytes[0] == midiStartByte) return probe.messages[index].time;
    return -1;
}

TEST_F(JackTransportSync, SendsFortyEightClocksASecondAtOneHundredTwentyForTenSeconds) {
    startHalvora({JackTransportMode::off, MidiClockMode::out});
    ASSERT_TRUE(probe.connect("Halvora:clock_out", "probe:clock_in"));
    waitForBlocks(2);
    ASSERT_TRUE(playFromStart(engine));
    // Ten seconds from the start message, and a period more for the last clock to arrive.
    ASSERT_TRUE(probe.waitFor(
        [&] {
            const int64_t start = firstStartTime(probe, probe.messageCount());
            return start >= 0 && probe.messageCount() > 0 &&
                   probe.messages[probe.messageCount() - 1].time >= start + 480000;
        },
        15s));
    const std::size_t count = probe.messageCount();
    device.stop();
    const int64_t start = firstStartTime(probe, count);
    const ClockSeen seen = clockSince(probe, count, start);
    std::vector<int64_t> inTenSeconds;
    std::copy_if(seen.clocks.begin(), seen.clocks.end(), std::back_inserter(inTenSeconds),
                 [](int64_t time) { return time < 480000; });
    ASSERT_EQ(inTenSeconds.size(), 480u);
    for (std::size_t index = 0; index < inTenSeconds.size(); ++index)
        ASSERT_EQ(inTenSeconds[index], static_cast<int64_t>(index) * 1000) << "clock " << index;
    EXPECT_EQ(seen.others.front(), std::vector<uint8_t>{midiStartByte});
    EXPECT_EQ(observer.counting.allocations.load(), 0u);
}

TEST_F(JackTransportSync, SendsTheSongPositionAfterALocateAndClocksOnFromThere) {
    startHalvora({JackTransportMode::off, MidiClockMode::out});
    ASSERT_TRUE(probe.connect("Halvora:clock_out", "probe:clock_in"));
    waitForBlocks(2);
    ASSERT_TRUE(playFromStart(engine));
    waitForBlocks(10);
    // Beat 6.25 at 120 BPM: 25 sixteenths, 150000 frames from the start.
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::locate(150000)));
    ASSERT_TRUE(probe.waitFor(
        [&] {
            for (std::size_t index = 0; index < probe.messageCount(); ++index)
                if (probe.messages[index].bytes[0] == midiContinueByte) return true;
            return false;
        },
        5s));
    waitForBlocks(60); // 15360 frames: 15 clocks
    const std::size_t count = probe.messageCount();
    device.stop();
    const ClockSeen seen = clockSince(probe, count, firstStartTime(probe, count));
    const std::vector<std::vector<uint8_t>> expected{
        {midiStartByte}, {midiStopByte}, {midiSongPositionByte, 25, 0}, {midiContinueByte}};
    ASSERT_EQ(seen.others, expected);
    // The jump happened at a period start; from there the clocks sit on 150000 + k × 1000.
    const int64_t jumpedAt = seen.otherTimes[1];
    int after = 0;
    for (const int64_t time : seen.clocks) {
        if (time < jumpedAt) continue;
        EXPECT_EQ((time - jumpedAt) % 1000, 0) << time;
        ++after;
    }
    EXPECT_GE(after, 10);
}

TEST_F(JackTransportSync, FollowsAnExternalClocksStartStopPositionAndTempo) {
    startHalvora({JackTransportMode::off, MidiClockMode::in, true});
    ASSERT_TRUE(probe.connect("probe:clock_out", "Halvora:clock_in"));
    waitForBlocks(2);
    // 150 BPM: a clock every 800 frames.
    probe.clockEvery.store(800);
    probe.send({midiStartByte});
    ASSERT_TRUE(probe.waitFor([&] { return engine.transport.playing.load(); }, 5s));
    ASSERT_TRUE(probe.waitFor([&] { return device.externalClockBpm() > 0.0; }, 5s));
    EXPECT_NEAR(device.externalClockBpm(), 150.0, 1e-9);
    ASSERT_TRUE(device.applyExternalClockTempo());
    {
        std::lock_guard lock(engine.projectMutex);
        EXPECT_DOUBLE_EQ(engine.project.tempoBpm, 150.0);
    }
    probe.send({midiStopByte});
    ASSERT_TRUE(probe.waitFor([&] { return !engine.transport.playing.load(); }, 5s));
    // Sixteenth 40 at 150 BPM: 10 beats of 19200 frames.
    probe.send({midiSongPositionByte, 40, 0});
    ASSERT_TRUE(probe.waitFor([&] { return engine.transport.playhead.load() == 192000; }, 5s));
    probe.send({midiContinueByte});
    ASSERT_TRUE(probe.waitFor([&] { return engine.transport.playing.load(); }, 5s));
    EXPECT_GE(engine.transport.playhead.load(), 192000);
    device.stop();
    EXPECT_EQ(observer.counting.allocations.load(), 0u);
}

} // namespace

// A sandboxed insert heard live through a JACK server: its helper runs one period behind, and
// the latency reported for that keeps every track in line, so that what leaves the program is
// the offline render, later by exactly that latency.
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/tests/PluginRackTestSupport.h"
#include "core/plugins/tests/RackRenderSession.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "device/AudioDeviceEngine.h"
#include "device/tests/DeviceTestSupport.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace orvane::vst {
namespace {

using orvane::testing::JackServer;
using orvane::testing::JackTestClient;
using orvane::testing::playFromStart;
using testing::RackEnvironment;
using testing::RenderSession;
using testing::ScopedEnvironment;
using testing::ThirdPartyLeaksIgnored;
using testing::zamBundle;
using testing::zamPluginsInstalled;
using namespace std::chrono_literals;

constexpr double rate = 48000.0;
// Silence first, so that the compressor has settled on its threshold before it hears a sound
// and the recording starts before the song does.
constexpr int64_t leadIn = 9600;
constexpr int64_t plainStart = leadIn + 12000;
constexpr int64_t songEnd = leadIn + 2 * 48000;
// Room in the recording beyond the song for the periods heard before playback starts.
constexpr int64_t recordingMargin = 96000;

std::shared_ptr<Clip> addToneClip(Engine &engine, uint64_t trackId, double hz, double amplitude,
                                  int64_t start) {
    auto clip = engine.project.addClip(trackId, ClipKind::Audio);
    clip->channels = 1;
    clip->arrangeStart = start;
    clip->length = songEnd - start;
    clip->audio = std::make_shared<std::vector<float>>(
        orvane::testing::sineSamples(hz, amplitude, rate, static_cast<std::size_t>(clip->length)));
    return clip;
}

/// A loud tone through ZamComp with its threshold held at the bottom (unless `withInsert` is
/// false) and a quieter tone on a track without inserts, mixed without the master stages that
/// keep state between renders. Returns the compressed track's id.
uint64_t buildSong(RenderSession &session, bool withInsert) {
    Engine &engine = session.engine;
    uint64_t compressed = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.sampleRate = rate;
        engine.project.masterEq.enabled = false;
        engine.project.mastering.enabled = false;
        engine.project.controlRoom.cueGain = 0.0f;
        auto loud = engine.project.addTrack(TrackType::Audio, "Compressed");
        loud->eq.enabled = false;
        addToneClip(engine, loud->id, 220.0, 0.8, leadIn);
        auto plain = engine.project.addTrack(TrackType::Audio, "Plain");
        plain->eq.enabled = false;
        plain->pan = 0.5f;
        addToneClip(engine, plain->id, 330.0, 0.3, plainStart);
        compressed = loud->id;
        engine.publishGraph();
    }
    if (!withInsert) return compressed;
    EXPECT_TRUE(session.rack.loadVst3(compressed, zamBundle("ZamComp"), ""))
        << session.controller.lastError;
    {
        // A held value reaches the plug-in with every block, live and offline alike.
        std::lock_guard lock(engine.projectMutex);
        InsertSlot &insert = engine.project.findTrack(compressed)->inserts.at(0);
        insert.automParamId = testing::zamCompThreshold;
        insert.paramAutomation = {{0, 0.0f}, {songEnd, 0.0f}};
        engine.publishGraph();
    }
    session.rack.publishRtView();
    return compressed;
}

std::vector<float> renderInProcess(bool withInsert) {
    RenderSession session(false);
    buildSong(session, withInsert);
    std::vector<float> out;
    std::string error;
    EXPECT_TRUE(renderMixdown(session.engine, out, 0, songEnd, 2, &error)) << error;
    return out;
}

int toPcm16(float sample) {
    return static_cast<int>(std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f));
}

/// The same sample once both are written as 16-bit PCM.
bool samePcm16(float a, float b) { return std::abs(toPcm16(a) - toPcm16(b)) <= 1; }

/// Frame `frame` of an interleaved stereo render, silence outside it.
float renderedAt(const std::vector<float> &render, int64_t frame, int channel) {
    if (frame < 0 || 2 * frame + 1 >= static_cast<int64_t>(render.size())) return 0.0f;
    return render[static_cast<std::size_t>(2 * frame + channel)];
}

/// Notes, on the audio thread, how far the song position runs ahead of the recorder's count
/// when a playing block leaves the program (the recorder, fed by Halvora's ports, takes the
/// block later in the same period), and whether any later block breaks that distance.
class PlaybackAnchor final : public RenderObserver {
  public:
    PlaybackAnchor(const Engine &engine, const JackTestClient &recorder, int64_t recorderRoom)
        : engine(engine), recorder(recorder), recorderRoom(recorderRoom) {}

    void blockStarted() override {}
    void blockFinished() override {
        const int64_t recorded = recorder.recordedFrames();
        if (!engine.transport.playing.load() || recorded >= recorderRoom) return;
        const int64_t distance = engine.deviceBlockStart.load(std::memory_order_acquire) - recorded;
        if (!anchored.load(std::memory_order_relaxed)) {
            songAhead.store(distance, std::memory_order_relaxed);
            anchored.store(true, std::memory_order_release);
        } else if (distance != songAhead.load(std::memory_order_relaxed)) {
            brokenBlocks.fetch_add(1, std::memory_order_relaxed);
        }
    }

    std::atomic<bool> anchored{false};
    std::atomic<int64_t> songAhead{0};
    std::atomic<uint64_t> brokenBlocks{0};

  private:
    const Engine &engine;
    const JackTestClient &recorder;
    const int64_t recorderRoom;
};

/// What the comparison of a recording with the render found, period by period.
struct PeriodTally {
    int64_t withSound = 0;
    int64_t matching = 0;
    int64_t mismatched = 0;
    /// Differing periods that carry the dry song instead.
    int64_t dry = 0;
    /// Periods whose render the dry song matches, where a skipped insert would go unseen.
    int64_t unlikeDry = 0;
    int64_t firstMismatch = -1;
};

/// Compares each recorded period with the render `latency` frames earlier, where the song
/// position of recorded frame i is i + `songAhead`.
PeriodTally comparePeriods(const std::vector<float> &left, const std::vector<float> &right,
                           int64_t songAhead, int64_t latency, int32_t period,
                           const std::vector<float> &render, const std::vector<float> &dry) {
    PeriodTally tally;
    const auto recorded = static_cast<int64_t>(std::min(left.size(), right.size()));
    for (int64_t first = 0; first + period <= recorded; first += period) {
        bool sound = false, matches = true, isDry = true, renderIsDry = true;
        for (int64_t i = first; i < first + period; ++i) {
            const int64_t songFrame = i + songAhead - latency;
            const float heard[2] = {left[static_cast<std::size_t>(i)],
                                    right[static_cast<std::size_t>(i)]};
            for (int channel = 0; channel < 2; ++channel) {
                const float expected = renderedAt(render, songFrame, channel);
                sound = sound || toPcm16(expected) != 0;
                matches = matches && samePcm16(heard[channel], expected);
                const float unprocessed = renderedAt(dry, songFrame, channel);
                isDry = isDry && samePcm16(heard[channel], unprocessed);
                renderIsDry = renderIsDry && samePcm16(expected, unprocessed);
            }
        }
        tally.withSound += sound ? 1 : 0;
        tally.matching += sound && matches ? 1 : 0;
        tally.dry += !matches && isDry ? 1 : 0;
        tally.unlikeDry += sound && !renderIsDry ? 1 : 0;
        if (!matches) {
            if (tally.firstMismatch < 0) tally.firstMismatch = first;
            ++tally.mismatched;
        }
    }
    return tally;
}

/// Halvora playing a rack's session on a JACK server into a recorder that takes what its
/// output ports send, one period after another, from the moment `start` connects them.
struct LiveRecording {
    LiveRecording(RenderSession &live, int32_t period, int64_t room) : live(live), room(room) {
        EXPECT_TRUE(recorder.ok()) << recorder.error();
        recorder.prepareRecording(room);
        EXPECT_TRUE(recorder.activate());
        device.connectPorts = false;
        const uint32_t jack = device.deviceIdByName(jackDeviceName);
        EXPECT_TRUE(device.applySettings(jack, jack, period)) << device.lastError;
        EXPECT_EQ(device.bufferFrames, period);
        // As the application prepares its plug-ins for the device it opened.
        live.rack.prepare(device.sampleRate, device.bufferFrames);
    }
    ~LiveRecording() {
        device.stop();
        device.setRenderObserver(nullptr);
    }

    /// Starts the device and records from the next periods on; false when either failed.
    bool start(RenderObserver *observer) {
        device.setRenderObserver(observer);
        if (!device.start()) {
            ADD_FAILURE() << device.lastError;
            return false;
        }
        if (!recorder.connect("Halvora:out_1", recorder.recordPort(0)) ||
            !recorder.connect("Halvora:out_2", recorder.recordPort(1)))
            return false;
        // Periods recorded after the connection: from here on the recorder runs after Halvora
        // in every period, which the anchor relies on.
        recorder.startRecording();
        return recorder.waitForRecordedFrames(4 * device.bufferFrames, 10s);
    }

    RenderSession &live;
    const int64_t room;
    JackTestClient recorder{"recorder", 2, 0};
    AudioDeviceEngine device{live.engine};
};

/// ZamComp found where the helpers and the rack look for VST 3 plug-ins.
template <class Param> class ZamCompOnJack : public ::testing::TestWithParam<Param> {
  protected:
    RackEnvironment environment;
    ScopedEnvironment folders{"VST3_PATH", testing::zamDir()};
    ThirdPartyLeaksIgnored zamLeaks;
};

/// A period size, and whether the insert's periods are gathered into batches.
class SandboxedInsertOnJack : public ZamCompOnJack<std::tuple<int32_t, bool>> {};

TEST_P(SandboxedInsertOnJack, PlaysTheRenderLaterByExactlyTheReportedLatency) {
    ASSERT_TRUE(zamPluginsInstalled());
    const auto [period, gathered] = GetParam();
    const std::vector<float> render = renderInProcess(true);
    const std::vector<float> dry = renderInProcess(false);
    ASSERT_EQ(render.size(), dry.size());
    ASSERT_LT(testing::rms(render.data(), render.size()),
              0.9 * testing::rms(dry.data(), dry.size()))
        << "the compressor must be heard for the comparison to mean anything";

    JackServer server(period);
    ASSERT_TRUE(server.ready()) << server.failure();
    RenderSession live(true);
    live.rack.gathersLiveBlocks = gathered;
    const uint64_t compressed = buildSong(live, true);
    ASSERT_FALSE(live.rack.slots.empty());
    ASSERT_NE(live.rack.slots[0].sandboxed, nullptr);
    const SandboxedPlugin &insert = *live.rack.slots[0].sandboxed;
    const int64_t room = songEnd + recordingMargin;
    // The anchor outlives the device, whose audio thread calls it.
    LiveRecording rig(live, period, room);
    PlaybackAnchor anchor(live.engine, rig.recorder, room);
    ASSERT_FALSE(::testing::Test::HasFailure());
    ASSERT_TRUE(rig.start(&anchor));
    ASSERT_TRUE(playFromStart(live.engine));
    ASSERT_TRUE(rig.recorder.waitForRecordedFrames(room, 60s)) << "the server stopped running";
    const int64_t reported = live.rack.latencySamples(compressed);
    rig.device.stop();

    const int32_t behind = gathered ? 2 * PluginRack::liveAheadFramesFor(48000.0) : period;
    EXPECT_EQ(reported, behind + insert.latency)
        << "a period or two batches behind, on top of its own latency";
    EXPECT_EQ(insert.gathersLiveBlocks(), gathered);
    ASSERT_TRUE(anchor.anchored.load());
    EXPECT_EQ(anchor.brokenBlocks.load(), 0u) << "a block was skipped or played twice";
    const int64_t songAhead = anchor.songAhead.load();
    ASSERT_LE(songEnd + reported - songAhead, room) << "the recording ended before the song";

    const PeriodTally tally = comparePeriods(rig.recorder.recording(0), rig.recorder.recording(1),
                                             songAhead, reported, period, render, dry);
    const uint64_t late = insert.lateBlocks();
    ASSERT_GT(tally.withSound, (songEnd - leadIn) / period - 2);
    EXPECT_EQ(tally.unlikeDry, tally.withSound)
        << "only periods unlike the dry song tell a skipped insert";
    // A period the helper missed plays dry, and the crossfades around it differ too; anything
    // else that differs is a fault.
    // A missed batch plays dry for as many periods as it holds, with a crossfade either side.
    const int64_t periodsPerMiss = gathered ? behind / 2 / period + 2 : 3;
    EXPECT_LE(tally.mismatched, periodsPerMiss * static_cast<int64_t>(late))
        << tally.mismatched << " periods differ from the render, the first at recorded frame "
        << tally.firstMismatch << ", " << tally.dry << " of them dry; the helper missed " << late
        << " blocks";
    if (static_cast<int64_t>(late) * 10 > tally.withSound)
        GTEST_SKIP() << "the helper missed " << late << " of " << tally.withSound
                     << " blocks: the machine is too busy to hear the insert live";
    EXPECT_GE(2 * tally.matching, tally.withSound);
}

/// The first recorded frame from which both channels stay below `floor` to the end.
int64_t silentFrom(const std::vector<float> &left, const std::vector<float> &right, float floor) {
    auto frame = static_cast<int64_t>(std::min(left.size(), right.size()));
    while (frame > 0 && std::abs(left[static_cast<std::size_t>(frame - 1)]) < floor &&
           std::abs(right[static_cast<std::size_t>(frame - 1)]) < floor)
        --frame;
    return frame;
}

/// How the compressor is hosted while an edit is made under it.
enum class Hosting { inProcess, eachPeriod, gathered };

class EditWhilePlayingOnJack : public ZamCompOnJack<Hosting> {};

// How soon an edit is heard: taking the compressed track's clip away while the song plays
// silences the output within the mix's reported latency (the gathered batches of a sandboxed
// insert, two of 1,024 frames at 48 kHz: 42.7 ms) and three periods: the one being rendered
// when the edit is published, the one that picks it up, and the one the recorder is taking.
TEST_P(EditWhilePlayingOnJack, IsHeardWithinTheMixLatencyAndThreePeriods) {
    ASSERT_TRUE(zamPluginsInstalled());
    const Hosting hosting = GetParam();
    constexpr int32_t period = 128;
    JackServer server(period);
    ASSERT_TRUE(server.ready()) << server.failure();
    RenderSession live(hosting != Hosting::inProcess);
    live.rack.gathersLiveBlocks = hosting == Hosting::gathered;
    const uint64_t compressed = buildSong(live, true);
    const int64_t room = songEnd + recordingMargin;
    LiveRecording rig(live, period, room);
    ASSERT_FALSE(::testing::Test::HasFailure());
    ASSERT_TRUE(rig.start(nullptr));
    uint64_t plainClip = 0, compressedClip = 0;
    {
        std::lock_guard lock(live.engine.projectMutex);
        for (const auto &track : live.engine.project.tracks)
            (track->id == compressed ? compressedClip : plainClip) = track->clips.at(0)->id;
        // Only the compressed track sounds, so that its edit silences everything.
        live.engine.project.removeClip(plainClip);
        live.engine.publishGraph();
    }
    ASSERT_TRUE(playFromStart(live.engine));
    // Well into the tone, past the lead-in and whatever the mix holds back.
    ASSERT_TRUE(rig.recorder.waitForRecordedFrames(leadIn + 24000, 20s));
    int64_t editedAt = 0;
    {
        std::lock_guard lock(live.engine.projectMutex);
        editedAt = rig.recorder.recordedFrames();
        live.engine.project.removeClip(compressedClip);
        live.engine.publishGraph();
    }
    ASSERT_TRUE(rig.recorder.waitForRecordedFrames(editedAt + 48000, 20s));
    const int64_t reported = live.rack.latencySamples(compressed);
    rig.device.stop();

    const std::vector<float> left = rig.recorder.recording(0);
    const std::vector<float> right = rig.recorder.recording(1);
    const int64_t heardAt = silentFrom(left, right, 1.0e-4f);
    ASSERT_LT(heardAt, static_cast<int64_t>(left.size())) << "the edit was never heard";
    ASSERT_GT(heardAt, editedAt - period) << "the song was silent before the edit";
    const int64_t bound = reported + 3 * period;
    const int64_t heardAfter = heardAt - editedAt;
    RecordProperty("heard_after_ms", std::to_string(1000.0 * heardAfter / rate));
    EXPECT_LE(heardAfter, bound) << "heard " << 1000.0 * heardAfter / rate << " ms after the edit, "
                                 << "bound " << 1000.0 * bound / rate << " ms";
    if (hosting == Hosting::gathered) {
        EXPECT_EQ(reported, 2 * PluginRack::liveAheadFramesFor(rate) +
                                live.rack.slots.at(0).sandboxed->latency);
    }
}

INSTANTIATE_TEST_SUITE_P(Hostings, EditWhilePlayingOnJack,
                         ::testing::Values(Hosting::inProcess, Hosting::eachPeriod,
                                           Hosting::gathered),
                         [](const auto &info) {
                             switch (info.param) {
                             case Hosting::inProcess: return std::string("in_process");
                             case Hosting::eachPeriod: return std::string("each_period");
                             case Hosting::gathered: return std::string("gathered");
                             }
                             return std::string("unknown");
                         });

INSTANTIATE_TEST_SUITE_P(DevicePeriods, SandboxedInsertOnJack,
                         ::testing::Combine(::testing::Values(128, 256), ::testing::Bool()),
                         [](const auto &info) {
                             return std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_gathered" : "_each_period");
                         });

} // namespace
} // namespace orvane::vst

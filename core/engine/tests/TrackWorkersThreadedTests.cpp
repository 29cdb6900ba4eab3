#include "core/engine/TrackWorkers.h"
#include "core/engine/tests/RenderRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <limits>
#include <random>
#include <thread>

using namespace orvane;
using namespace orvane::testing;

namespace {

/// A mix with something of every kind a track's chain does on its own: noise at different
/// gains and pans, fades, clip gain, EQ, a stock delay, fader automation, a mute, MIDI notes
/// and a track that turns non-finite half way.
void buildBusyMix(RenderRig &rig) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (int index = 0; index < 9; ++index) {
        auto track = rig.addTrack(TrackType::Audio);
        rig.edit([&](Project &project) {
            auto clip = project.addClip(track->id, ClipKind::Audio);
            auto samples = std::make_shared<std::vector<float>>(2 * 30000);
            for (float &sample : *samples)
                sample = noise(random);
            if (index == 4) (*samples)[2 * 15000] = std::numeric_limits<float>::infinity();
            clip->audio = samples;
            clip->channels = 2;
            clip->arrangeStart = 1000 * index;
            clip->gain = 0.5f + 0.05f * static_cast<float>(index);
            clip->fadeIn = index % 2 ? 3000 : 0;
            clip->fadeOut = index % 3 ? 0 : 5000;
            track->gain = 0.4f + 0.05f * static_cast<float>(index);
            track->pan = static_cast<float>(index - 4) / 4.0f;
            track->mute = index == 6;
            track->eq.enabled = index % 2 == 0;
            track->eq.bands[1].enabled = true;
            track->eq.bands[1].gainDb = 6.0f;
            if (index == 3) track->volumeAutomation = {{0, 0.2f}, {40000, 1.0f}};
            if (index == 5) {
                InsertSlot delay;
                delay.pluginId = "stock.delay";
                delay.isStock = true;
                track->inserts.push_back(delay);
            }
        });
    }
    // A return fed after the fader: the send is added by the thread that owns the block, so
    // the tracks still share it out.
    auto reverbReturn = rig.addTrack(TrackType::Return);
    rig.edit([&](Project &project) {
        reverbReturn->eq.enabled = true;
        SendSlot send;
        send.returnId = reverbReturn->id;
        send.level = 0.5f;
        send.pre = false;
        project.tracks[2]->sends[0] = send;
    });
    auto synth = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &project) {
        auto clip = project.addClip(synth->id, ClipKind::Midi);
        clip->length = 40000;
        for (int note = 0; note < 8; ++note)
            clip->notes.push_back(MidiNote{48 + 3 * note, 0.8f, 4000 * note, 6000});
    });
}

struct Export {
    std::vector<float> left, right;
    std::vector<uint64_t> silenced;
};

Export exportMix(bool twoThreads) {
    RenderRig rig;
    rig.engine.options.exportOnTwoThreads = twoThreads;
    buildBusyMix(rig);
    drainNotifications(rig.engine);
    Export result;
    EXPECT_TRUE(rig.engine.beginOfflineRender(0));
    StereoOutput block(512);
    for (int i = 0; i < 90; ++i) {
        rig.engine.processBlockOffline(block.channels.data(), 2, block.frames);
        result.left.insert(result.left.end(), block.left.begin(), block.left.end());
        result.right.insert(result.right.end(), block.right.begin(), block.right.end());
    }
    rig.engine.endOfflineRender();
    for (const Notification &notification : drainNotifications(rig.engine))
        if (notification.kind == NotificationKind::trackSilenced)
            result.silenced.push_back(notification.id);
    return result;
}

} // namespace

// Spreading an export's tracks over two threads changes nothing: the same samples to the
// bit, and the same report of the track that went non-finite.
TEST(TrackWorkers, AnExportOnTwoThreadsEqualsTheExportOnOne) {
    const Export alone = exportMix(false);
    const Export shared = exportMix(true);
    ASSERT_EQ(alone.left.size(), shared.left.size());
    float loudest = 0.0f;
    for (std::size_t i = 0; i < alone.left.size(); ++i) {
        ASSERT_EQ(std::bit_cast<uint32_t>(alone.left[i]), std::bit_cast<uint32_t>(shared.left[i]))
            << "left sample " << i;
        ASSERT_EQ(std::bit_cast<uint32_t>(alone.right[i]), std::bit_cast<uint32_t>(shared.right[i]))
            << "right sample " << i;
        loudest = std::max(loudest, std::abs(alone.left[i]));
    }
    EXPECT_GT(loudest, 0.1f) << "the mix must actually sound";
    EXPECT_EQ(alone.silenced.size(), 1u);
    EXPECT_EQ(shared.silenced, alone.silenced);
}

/// The busy mix played live, in 64-frame periods, with and without the device's helpers.
struct LivePlay {
    std::vector<std::vector<float>> out;
    uint64_t sharedBlocks = 0;
};

LivePlay playMixLive(bool onHelpers) {
    RenderRig rig(RenderSetup{48000.0, 64, false});
    rig.engine.options.liveOnWorkerThreads = onHelpers;
    buildBusyMix(rig);
    drainNotifications(rig.engine);
    LivePlay result;
    result.out = rig.playFrames(0, 45000);
    const auto graph = rig.engine.currentGraph();
    result.sharedBlocks = graph->liveWorkers ? graph->liveWorkers->blocksShared() : 0;
    return result;
}

// The live device spreads its tracks the same way: every period the same to the bit.
TEST(TrackWorkers, LivePeriodsOnHelperThreadsEqualThePeriodsOnOne) {
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core: no helpers";
    const LivePlay alone = playMixLive(false);
    const LivePlay shared = playMixLive(true);
    EXPECT_EQ(alone.sharedBlocks, 0u);
    EXPECT_GT(shared.sharedBlocks, 500u) << "the periods did not reach the helpers";
    ASSERT_EQ(alone.out[0].size(), shared.out[0].size());
    float loudest = 0.0f;
    for (std::size_t channel = 0; channel < 2; ++channel)
        for (std::size_t i = 0; i < alone.out[channel].size(); ++i) {
            ASSERT_EQ(std::bit_cast<uint32_t>(alone.out[channel][i]),
                      std::bit_cast<uint32_t>(shared.out[channel][i]))
                << "channel " << channel << ", sample " << i;
            loudest = std::max(loudest, std::abs(alone.out[channel][i]));
        }
    EXPECT_GT(loudest, 0.1f) << "the mix must actually sound";
}

// Every index runs once per block however the threads race for them, and the helpers really
// take part: index 0 waits for index 1, which only another thread can then run.
class TrackWorkersHelpers : public ::testing::TestWithParam<int32_t> {};

TEST_P(TrackWorkersHelpers, EveryIndexRunsOnceAndTheHelpersTakePart) {
    TrackWorkers workers(64, 16, GetParam());
    EXPECT_EQ(workers.helperCount(), GetParam());
    struct Tally {
        std::array<std::atomic<int>, 64> runs{};
        std::atomic<bool> secondDone{false};
        std::atomic<bool> helped{true};
    } tally;
    const auto job = [](void *context, int32_t index) {
        auto &counts = *static_cast<Tally *>(context);
        counts.runs[static_cast<std::size_t>(index)].fetch_add(1);
        if (index == 1) counts.secondDone.store(true);
        if (index != 0) return;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!counts.secondDone.load() && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        if (!counts.secondDone.load()) counts.helped.store(false);
    };
    for (int block = 0; block < 300; ++block) {
        const int32_t count = 2 + block % 63;
        tally.secondDone.store(false);
        workers.forEach(count, job, &tally);
        for (int32_t index = 0; index < 64; ++index)
            ASSERT_EQ(tally.runs[static_cast<std::size_t>(index)].exchange(0),
                      index < count ? 1 : 0)
                << "block " << block << ", index " << index;
        ASSERT_TRUE(tally.helped.load()) << "block " << block;
    }
    // Past the capacity, the rest is the caller's to do alone.
    workers.forEach(100, job, &tally);
    EXPECT_EQ(tally.runs[63].load(), 1);
    EXPECT_EQ(workers.blocksShared(), 301u);
}

INSTANTIATE_TEST_SUITE_P(OneOrThree, TrackWorkersHelpers, ::testing::Values(1, 3));

#include "core/engine/MediaPrefetch.h"
#include "core/engine/tests/RenderRig.h"
#include "tests/support/StreamedTestMedia.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <thread>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr int64_t rate = 48000;

/// `tracks` tracks each holding one file-backed clip of `seconds` from the timeline start.
void addStreamedTracks(RenderRig &rig, int tracks, int64_t seconds) {
    for (int i = 0; i < tracks; ++i) {
        const auto track = rig.addTrack(TrackType::Audio);
        const SharedSamples samples = unlinkedPcmSamples(rampPcm(seconds * rate));
        ASSERT_TRUE(samples);
        rig.edit([&](Project &project) {
            const auto clip = project.addClip(track->id, ClipKind::Audio);
            clip->audio = samples;
            clip->length = seconds * rate;
        });
    }
}

float loudest(const StereoOutput &out) { return static_cast<float>(peakOf(out.left)); }

/// Renders one block and says whether it sounded.
bool blockSounds(RenderRig &rig, int32_t frames = 256) {
    StereoOutput out(frames);
    out.render(rig.engine);
    return loudest(out) > 0.0f;
}

TEST(MediaPrefetcher, AOneBarCycleOverALongProjectPlaysWithoutADryBlockOnAPacedThread) {
    RenderRig rig;
    addStreamedTracks(rig, 4, 60);
    const int64_t barStart = 30 * rate;
    const int64_t bar = 2 * rate; // 4/4 at 120 bpm
    MediaPrefetcher prefetcher(rig.engine);
    prefetcher.readAhead(barStart);
    send(rig.engine, Request::setCycle(barStart, barStart + bar, true));
    send(rig.engine, Request::locate(barStart));
    send(rig.engine, Request::play());
    // A device thread: a 256-frame block every 5.3 ms, two and a half times round the cycle.
    constexpr int32_t frames = 256;
    const auto period = std::chrono::microseconds(frames * 1000000 / rate);
    auto next = std::chrono::steady_clock::now();
    int silentBlocks = 0;
    for (int64_t done = 0; done < 5 * rate; done += frames) {
        if (!blockSounds(rig, frames)) ++silentBlocks;
        next += period;
        std::this_thread::sleep_until(next);
    }
    EXPECT_EQ(silentBlocks, 0);
    EXPECT_EQ(prefetcher.dryBlocks(), 0u);
    EXPECT_GE(rig.engine.transport.playhead.load(), barStart);
    EXPECT_LT(rig.engine.transport.playhead.load(), barStart + bar);
}

TEST(MediaPrefetcher, ALocateReadAheadFirstSoundsAtOnceAndAnyOtherOnceTheDiskHasCaughtUp) {
    RenderRig rig;
    addStreamedTracks(rig, 2, 20);
    MediaPrefetcher::Options options;
    options.period = std::chrono::milliseconds(2);
    MediaPrefetcher prefetcher(rig.engine, options);
    prefetcher.readAhead(0);
    send(rig.engine, Request::play());
    for (int block = 0; block < 20; ++block)
        EXPECT_TRUE(blockSounds(rig)) << block;

    // Read ahead before the jump, as the window and the play verb do: no block is lost.
    prefetcher.readAhead(12 * rate);
    send(rig.engine, Request::locate(12 * rate));
    EXPECT_TRUE(blockSounds(rig));
    EXPECT_EQ(prefetcher.dryBlocks(), 0u);

    // A jump nobody announced: silent at most until the disk thread's next passes.
    send(rig.engine, Request::locate(17 * rate));
    blockSounds(rig);
    ASSERT_TRUE(prefetcher.waitForPasses(prefetcher.passes() + 2, std::chrono::seconds(20)));
    EXPECT_TRUE(blockSounds(rig));

    // Blocks played dry before a jump stay counted after it.
    const uint64_t dry = prefetcher.dryBlocks();
    EXPECT_GT(dry, 0u);
    prefetcher.readAhead(3 * rate);
    EXPECT_EQ(prefetcher.dryBlocks(), dry);
}

TEST(MediaPrefetcher, ACycleSetAsThePlayheadNearsItsEndKeepsWhatPlaysAndFindsItsStart) {
    RenderRig rig;
    addStreamedTracks(rig, 2, 20);
    // The disk thread sleeps through the test: only the reads the transport asks for count.
    MediaPrefetcher::Options options;
    options.period = std::chrono::seconds(30);
    MediaPrefetcher prefetcher(rig.engine, options);
    ASSERT_TRUE(prefetcher.waitForPasses(1, std::chrono::seconds(20)));
    prefetcher.readAhead(5 * rate);
    send(rig.engine, Request::locate(5 * rate));
    send(rig.engine, Request::play());
    constexpr int32_t frames = 256;
    const int64_t cycleEnd = 6 * rate;
    while (rig.engine.transport.playhead.load() < cycleEnd - 4 * frames)
        ASSERT_TRUE(blockSounds(rig, frames));

    prefetcher.readCycleStart(2 * rate);
    send(rig.engine, Request::setCycle(2 * rate, cycleEnd, true));
    for (int block = 0; block < 12; ++block)
        EXPECT_TRUE(blockSounds(rig, frames)) << block;
    EXPECT_LT(rig.engine.transport.playhead.load(), 3 * rate);
    EXPECT_EQ(prefetcher.dryBlocks(), 0u);
}

// As the window locates: the target is read first, then the locate is queued, and the blocks
// the transport plays before it takes the request still play where the clips were.
TEST(MediaPrefetcher, ALocateReadAheadKeepsTheClipsSoundingUntilTheJump) {
    RenderRig rig;
    addStreamedTracks(rig, 3, 20);
    // The disk thread sleeps through the test: only the reads the transport asks for count.
    MediaPrefetcher::Options options;
    options.period = std::chrono::seconds(30);
    MediaPrefetcher prefetcher(rig.engine, options);
    ASSERT_TRUE(prefetcher.waitForPasses(1, std::chrono::seconds(20)));
    prefetcher.readAhead(2 * rate);
    send(rig.engine, Request::locate(2 * rate));
    send(rig.engine, Request::play());
    constexpr int32_t frames = 256;
    for (int block = 0; block < 8; ++block)
        ASSERT_TRUE(blockSounds(rig, frames)) << block;

    struct Jump {
        const char *what;
        int64_t target;
    };
    for (const Jump jump : {Jump{"far ahead", 14 * rate}, Jump{"back", 5 * rate},
                            Jump{"a little ahead", 5 * rate + rate / 2}}) {
        const int64_t before = rig.engine.transport.playhead.load();
        prefetcher.readAhead(jump.target);
        for (int block = 0; block < 6; ++block)
            EXPECT_TRUE(blockSounds(rig, frames)) << jump.what << ", block " << block;
        EXPECT_EQ(rig.engine.transport.playhead.load(), before + 6 * frames) << jump.what;
        send(rig.engine, Request::locate(jump.target));
        for (int block = 0; block < 6; ++block)
            EXPECT_TRUE(blockSounds(rig, frames)) << jump.what << ", after, block " << block;
        EXPECT_EQ(rig.engine.transport.playhead.load(), jump.target + 6 * frames) << jump.what;
    }
    EXPECT_EQ(prefetcher.dryBlocks(), 0u);
}

} // namespace

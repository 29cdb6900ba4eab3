#include "core/engine/ClipVoices.h"
#include "core/engine/MediaPrefetch.h"
#include "core/engine/tests/RenderRig.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/StreamedTestMedia.h"

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::testing;

namespace {

/// How a clip is placed and read: every path of the clip reader.
struct ClipReading {
    const char *name;
    int64_t sourceOffset = 0;
    int64_t fadeIn = 0;
    int64_t fadeOut = 0;
    double stretchRatio = 1.0;
    std::vector<WarpMarker> warp;
};

const ClipReading readings[] = {
    {"plain", 0, 0, 0, 1.0, {}},
    {"offsetWithFades", 300, 700, 900, 1.0, {}},
    {"stretched", 0, 0, 0, 1.37, {}},
    {"warped", 100, 0, 0, 1.0, {{0, 0}, {2000, 3100}, {4000, 3500}}},
};

/// A disk thread that reads only when asked: the windows a test gets are the ones it asked for.
MediaPrefetcher::Options askedOnly() {
    MediaPrefetcher::Options options;
    options.period = std::chrono::hours(1);
    return options;
}

std::shared_ptr<Clip> addClip(RenderRig &rig, const SharedSamples &samples,
                              const ClipReading &reading) {
    const auto track = rig.addTrack(TrackType::Audio);
    std::shared_ptr<Clip> clip;
    rig.edit([&](Project &project) {
        clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = samples;
        clip->channels = 2;
        clip->arrangeStart = 256;
        clip->length = 6000;
        clip->sourceOffset = reading.sourceOffset;
        clip->fadeIn = reading.fadeIn;
        clip->fadeOut = reading.fadeOut;
        clip->stretchRatio = reading.stretchRatio;
        clip->warpMarkers = reading.warp;
    });
    return clip;
}

/// The output of one clip holding `samples`, placed as `reading` says, its media read ahead.
std::vector<std::vector<float>> renderClip(const SharedSamples &samples,
                                           const ClipReading &reading) {
    RenderRig rig;
    addClip(rig, samples, reading);
    MediaPrefetcher prefetcher(rig.engine, askedOnly());
    prefetcher.readAhead(0);
    auto out = rig.playFrames(0, 7000);
    EXPECT_EQ(prefetcher.dryBlocks(), 0u);
    return out;
}

TEST(StreamedMediaRender, AFileBackedClipSoundsExactlyAsItsHeapFloats) {
    const std::vector<int16_t> pcm = rampPcm(8000);
    const SharedSamples streamed = unlinkedPcmSamples(pcm);
    const SharedSamples heap = makeSampleBuffer(asFloats(pcm));
    ASSERT_TRUE(streamed);
    for (const ClipReading &reading : readings) {
        SCOPED_TRACE(reading.name);
        const auto fromFile = renderClip(streamed, reading);
        const auto fromHeap = renderClip(heap, reading);
        EXPECT_EQ(fromFile, fromHeap);
        float loudest = 0.0f;
        for (const float value : fromFile[1])
            loudest = std::max(loudest, std::abs(value));
        EXPECT_GT(loudest, 0.5f) << "the clip must actually sound";
    }
}

TEST(StreamedMediaRender, PlayingFileBackedAudioNeitherAllocatesNorFrees) {
    RenderRig rig;
    const auto track = rig.addTrack(TrackType::Audio);
    const SharedSamples streamed = unlinkedPcmSamples(rampPcm(48000));
    rig.edit([&](Project &project) {
        const auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = streamed;
        clip->length = 48000;
        clip->fadeIn = 100;
    });
    MediaPrefetcher prefetcher(rig.engine, askedOnly());
    ASSERT_TRUE(prefetcher.waitForPasses(1, std::chrono::seconds(20)));
    prefetcher.readAhead(0);
    send(rig.engine, Request::play());
    StereoOutput out(512);
    AllocationScope scope;
    for (int block = 0; block < 90; ++block)
        out.render(rig.engine);
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
    EXPECT_EQ(prefetcher.dryBlocks(), 0u);
}

TEST(StreamedMediaRender, AClipWhoseFramesAreNotReadYetIsSilentAloneAndCounted) {
    RenderRig rig;
    const auto steady = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(steady, 4096, 0.25f, -0.25f);
    const std::vector<std::vector<float>> alone = rig.playFrames(0, 2048);
    const auto clip = addClip(rig, unlinkedPcmSamples(rampPcm(8000)), readings[0]);
    // Streams published but never filled: the disk has not caught up.
    auto streams = std::make_shared<MediaStreams>(std::vector<Clip>{*clip}, 48000);
    rig.engine.mediaStreams.live.publish(streams);
    EXPECT_EQ(rig.playFrames(0, 2048), alone);
    EXPECT_GE(streams->dryBlocks(), 3u) << "every block the clip sounds in is counted";
    rig.engine.mediaStreams.live.publish(nullptr);
}

/// Windows a live stream holds of a clip, and a gap between them that the disk has not read.
struct GapCase {
    const char *name;
    int64_t windowFrames;
    std::vector<std::pair<WindowRole, int64_t>> windows; // role and first frame
};

// A clip whose next block finds no window fades out over the block before the gap, and in over
// the first after it: the waveform is never cut mid-way.
TEST(StreamedMediaRender, ALiveClipFadesOutBeforeAGapInItsWindowsAndInAfterIt) {
    const GapCase cases[] = {
        {"windows ending on block boundaries",
         1024,
         {{WindowRole::playing, 0}, {WindowRole::cue, 2048}}},
        {"windows ending inside a block, one block between gaps",
         1000,
         {{WindowRole::playing, 0}, {WindowRole::cue, 2100}}},
    };
    const SharedSamples constant = unlinkedPcmSamples(std::vector<int16_t>(2 * 8192, 16384));
    for (const GapCase &test : cases) {
        RenderRig rig;
        const auto clip = addClip(rig, constant, readings[0]);
        rig.edit([&](Project &) { clip->arrangeStart = 0; });
        auto streams = std::make_shared<MediaStreams>(std::vector<Clip>{*clip}, test.windowFrames);
        streams->setFadesAtGaps(true);
        std::vector<int16_t> staging;
        for (const auto &[role, first] : test.windows)
            ASSERT_TRUE(streams->find(clip->id)->fill(role, first, staging, false)) << test.name;
        rig.engine.mediaStreams.live.publish(streams);
        const std::vector<std::vector<float>> out = rig.playFrames(0, 4096);
        rig.engine.mediaStreams.live.publish(nullptr);

        float loudest = 0.0f, largestStep = 0.0f;
        int silent = 0;
        for (const std::vector<float> &channel : out)
            for (std::size_t i = 0; i < channel.size(); ++i) {
                loudest = std::max(loudest, std::abs(channel[i]));
                if (channel[i] == 0.0f) ++silent;
                if (i > 0)
                    largestStep = std::max(largestStep, std::abs(channel[i] - channel[i - 1]));
            }
        ASSERT_GT(loudest, 0.1f) << test.name << ": the clip must sound";
        EXPECT_GT(silent, 0) << test.name << ": the gap must be heard";
        EXPECT_GT(streams->dryBlocks(), 0u) << test.name;
        // A fade over a block moves a constant by its level over the block's frames each frame.
        EXPECT_LT(largestStep, 2.0f * loudest / static_cast<float>(rig.setup.blockSize))
            << test.name;
    }
}

/// The source frames a block reads, as the resident window must hold them.
struct SpanCase {
    const char *name;
    int64_t sourceOffset;
    double stretchRatio;
    int64_t t;
    int64_t count;
    FrameSpan expected;
};

TEST(StreamedMediaRender, TheFramesABlockReadsIncludeItsInterpolationNeighbours) {
    const SpanCase cases[] = {
        {"plain", 0, 1.0, 100, 512, {100, 611}},
        {"offset", 500, 1.0, 0, 512, {500, 1011}},
        {"pastTheEndClamps", 0, 1.0, 9800, 512, {9800, 9999}},
        {"beforeTheStartClamps", -300, 1.0, 0, 512, {0, 211}},
        {"stretchedReadsTwiceAsFar", 0, 2.0, 1000, 500, {2000, 2999}},
    };
    for (const SpanCase &c : cases) {
        SCOPED_TRACE(c.name);
        Clip clip;
        clip.kind = ClipKind::Audio;
        clip.audio = makeSampleBuffer(std::vector<float>(2 * 10000, 0.1f));
        clip.channels = 2;
        clip.length = 20000;
        clip.sourceOffset = c.sourceOffset;
        clip.stretchRatio = c.stretchRatio;
        const FrameSpan span = audioClipFramesRead(clip, buildClipWarpTable(clip), c.t, c.count);
        EXPECT_EQ(span.first, c.expected.first);
        EXPECT_GE(span.last, c.expected.last);
        EXPECT_LE(span.last, c.expected.last + 2);
    }
}

} // namespace

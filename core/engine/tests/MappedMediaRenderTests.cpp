#include "core/engine/MediaPrefetch.h"
#include "core/engine/tests/RenderRig.h"
#include "tests/support/MappedTestMedia.h"
#include "tests/support/AllocationCounter.h"

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

/// The output of one clip holding `samples`, placed as `reading` says.
std::vector<std::vector<float>> renderClip(const SharedSamples &samples,
                                           const ClipReading &reading) {
    RenderRig rig;
    const auto track = rig.addTrack(TrackType::Audio);
    rig.edit([&](Project &project) {
        const auto clip = project.addClip(track->id, ClipKind::Audio);
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
    return rig.playFrames(0, 7000);
}

TEST(MappedMediaRender, AMappedClipSoundsExactlyAsItsHeapFloats) {
    const std::vector<int16_t> pcm = rampPcm(8000);
    const SharedSamples mapped = mappedPcm(pcm);
    const SharedSamples heap = makeSampleBuffer(asFloats(pcm));
    ASSERT_TRUE(mapped);
    for (const ClipReading &reading : readings) {
        SCOPED_TRACE(reading.name);
        const auto fromMap = renderClip(mapped, reading);
        const auto fromHeap = renderClip(heap, reading);
        EXPECT_EQ(fromMap, fromHeap);
        float loudest = 0.0f;
        for (const float value : fromMap[1])
            loudest = std::max(loudest, std::abs(value));
        EXPECT_GT(loudest, 0.5f) << "the clip must actually sound";
    }
}

TEST(MappedMediaRender, PlayingMappedAudioNeitherAllocatesNorFrees) {
    RenderRig rig;
    const auto track = rig.addTrack(TrackType::Audio);
    const SharedSamples mapped = mappedPcm(rampPcm(48000));
    rig.edit([&](Project &project) {
        const auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = mapped;
        clip->length = 48000;
        clip->fadeIn = 100;
    });
    send(rig.engine, Request::play());
    StereoOutput out(512);
    AllocationScope scope;
    for (int block = 0; block < 90; ++block)
        out.render(rig.engine);
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
}

/// The interleaved sample ranges each advice call names.
struct AdvisedRange {
    const SampleBuffer *buffer;
    int64_t first;
    int64_t count;
};

std::vector<AdvisedRange> advisedRanges(const MediaPlan &plan, int64_t from, int64_t until,
                                        bool withSession) {
    std::vector<AdvisedRange> ranges;
    forEachMediaSpan(plan, from, until, withSession,
                     [&](const SampleBuffer &buffer, int64_t first, int64_t count) {
                         ranges.push_back({&buffer, first, count});
                     });
    return ranges;
}

TEST(MediaSpans, NameTheSourceSamplesTheTimelineSpanPlays) {
    Project project;
    const auto track = project.addTrack(TrackType::Audio, "");
    const SharedSamples samples = makeSampleBuffer(std::vector<float>(2 * 10000, 0.1f));
    const auto clip = project.addClip(track->id, ClipKind::Audio);
    clip->audio = samples;
    clip->arrangeStart = 1000;
    clip->length = 5000;
    clip->sourceOffset = 500;
    const auto session = project.addClip(track->id, ClipKind::Audio);
    session->audio = samples;
    session->length = 8000;
    session->sessionRow = 0;
    session->sessionCol = 0;
    const MediaPlan plan = planMedia(project);
    ASSERT_EQ(plan.arrangement.size(), 1u);
    ASSERT_EQ(plan.session.size(), 1u);

    // Timeline 0..2000 meets the clip's first 1000 frames: source frames 500..1499.
    const auto head = advisedRanges(plan, 0, 2000, false);
    ASSERT_EQ(head.size(), 1u);
    EXPECT_EQ(head[0].buffer, samples.get());
    EXPECT_EQ(head[0].first, 2 * 500);
    EXPECT_GE(head[0].first + head[0].count, 2 * 1500);
    EXPECT_LE(head[0].first + head[0].count, 2 * 1503);

    // Past the clip's end nothing is named; the session clip is named from its start.
    EXPECT_TRUE(advisedRanges(plan, 6000, 9000, false).empty());
    const auto withSession = advisedRanges(plan, 6000, 9000, true);
    ASSERT_EQ(withSession.size(), 1u);
    EXPECT_EQ(withSession[0].first, 0);
    EXPECT_GE(withSession[0].count, 2 * 3000);

    // A stretch ratio of 2 reads the source about twice as fast as the timeline moves.
    clip->stretchRatio = 2.0;
    const auto stretched = advisedRanges(planMedia(project), 1000, 3000, false);
    ASSERT_EQ(stretched.size(), 1u);
    EXPECT_EQ(stretched[0].first, 2 * 500);
    EXPECT_GE(stretched[0].count, 2 * 4000);
    EXPECT_TRUE(advisedRanges(plan, 3000, 3000, true).empty());
}

} // namespace

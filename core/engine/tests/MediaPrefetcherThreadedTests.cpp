#include "core/engine/MediaPrefetch.h"
#include "core/engine/tests/RenderRig.h"
#include "tests/support/MappedTestMedia.h"
#include "tests/support/ResidentMemory.h"

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr int64_t rate = 48000;
constexpr int64_t secondBytes = rate * 2 * sizeof(int16_t);

/// A clip of `seconds` of mapped audio at `start` on a new track, none of it resident.
SharedSamples addMappedClip(RenderRig &rig, int64_t seconds, int64_t start) {
    const auto track = rig.addTrack(TrackType::Audio);
    const SharedSamples mapped = mappedPcm(rampPcm(seconds * rate));
    EXPECT_TRUE(mapped);
    rig.edit([&](Project &project) {
        const auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = mapped;
        clip->arrangeStart = start;
        clip->length = seconds * rate;
    });
    if (mapped) mapped->release(0, mapped->size());
    return mapped;
}

TEST(MediaPrefetcher, ReadsAheadOfThePlayheadAndReleasesWhatLiesBehind) {
    RenderRig rig;
    const SharedSamples mapped = addMappedClip(rig, 12, 0);
    ASSERT_TRUE(mapped);
    ASSERT_LT(residentBytesAround(mapped->pcm16()), secondBytes / 4);

    MediaPrefetcher::Options options;
    options.aheadSeconds = 1.0;
    options.behindSeconds = 0.5;
    options.period = std::chrono::milliseconds(2);
    rig.engine.playhead.store(3 * rate);
    MediaPrefetcher prefetcher(rig.engine, options);
    ASSERT_TRUE(prefetcher.waitForPasses(prefetcher.passes() + 2, std::chrono::seconds(20)));
    EXPECT_GE(residentBytesAround(mapped->pcm16()), secondBytes * 9 / 10)
        << "the next second is in memory before it plays";

    // The kernel maps whole folios, so residency is only checked where it must fall: what was
    // played (2.5 s to 8.5 s behind the new position) leaves the resident set.
    mapped->prefetch(0, mapped->size());
    const int64_t whole = residentBytesAround(mapped->pcm16());
    rig.engine.playhead.store(9 * rate);
    ASSERT_TRUE(prefetcher.waitForPasses(prefetcher.passes() + 2, std::chrono::seconds(20)));
    EXPECT_LE(residentBytesAround(mapped->pcm16()), whole - 5 * secondBytes);
    for (int64_t i = 9 * rate * 2; i < 10 * rate * 2; i += 997)
        EXPECT_EQ(mapped->at(i), asFloats({mapped->pcm16()[i]})[0]);
}

TEST(MediaPrefetcher, ReadingAheadAtOnceFillsTheFirstWindow) {
    RenderRig rig;
    const SharedSamples mapped = addMappedClip(rig, 6, rate);
    ASSERT_TRUE(mapped);
    MediaPrefetcher::Options options;
    options.aheadSeconds = 2.0;
    options.period = std::chrono::hours(1); // only the pass at start-up
    MediaPrefetcher prefetcher(rig.engine, options);
    ASSERT_TRUE(prefetcher.waitForPasses(1, std::chrono::seconds(20)));
    mapped->release(0, mapped->size());
    prefetcher.readAhead(2 * rate);
    EXPECT_GE(residentBytesAround(mapped->pcm16()), 2 * secondBytes * 9 / 10);
}

} // namespace

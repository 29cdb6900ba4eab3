#include "core/rt/LatestFramesRing.h"

#include "tests/support/AllocationCounter.h"
#include "tests/support/RampFrames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace orvane;
using orvane::testing::AllocationScope;

namespace {

constexpr uint64_t monitorFrames = 65536; // the device's input monitor

using orvane::testing::ramp;

TEST(LatestFramesRing, NothingIsKeptBeforeItIsAllocated) {
    LatestFramesRing ring;
    const auto input = ramp(16, 1.0f);
    ring.push(input.data(), 16, 1);
    EXPECT_EQ(ring.writeCount(), 0u);
    std::vector<float> left(16, 9.0f), right(16, 9.0f), out;
    ring.pull(left.data(), right.data(), 16);
    EXPECT_EQ(left, std::vector<float>(16, 0.0f));
    EXPECT_FALSE(ring.readInterleaved(out, 16));
}

TEST(LatestFramesRing, MonoFeedsBothSidesAndStereoKeepsTheFirstTwoChannels) {
    LatestFramesRing ring;
    ring.allocate(monitorFrames);
    const auto mono = ramp(4, 1.0f);
    ring.push(mono.data(), 4, 1);
    const auto wide = ramp(4, 10.0f, 3);
    ring.push(wide.data(), 4, 3);
    std::vector<float> out;
    ASSERT_TRUE(ring.readInterleaved(out, 8));
    EXPECT_EQ(out, (std::vector<float>{1, 1, 2, 2, 3, 3, 4, 4, 10, 10.5f, 11, 11.5f, 12, 12.5f, 13,
                                       13.5f}));
}

TEST(LatestFramesRing, PullGivesTheLatestFramesOrSilenceWhenTooFewWereWritten) {
    LatestFramesRing ring;
    ring.allocate(monitorFrames);
    const auto input = ramp(100, 0.0f);
    ring.pushPlanar(input.data(), nullptr, 100);
    std::vector<float> left(10), right(10), out;
    ring.pull(left.data(), right.data(), 10);
    EXPECT_EQ(left, ramp(10, 90.0f));
    EXPECT_EQ(right, left);
    std::vector<float> many(512, 7.0f), alsoMany(512, 7.0f);
    ring.pull(many.data(), alsoMany.data(), 512);
    EXPECT_EQ(many, std::vector<float>(512, 0.0f));
    EXPECT_FALSE(ring.readInterleaved(out, 512));
}

TEST(LatestFramesRing, WrapsAroundItsSixtyFiveThousandSlots) {
    LatestFramesRing ring;
    ring.allocate(monitorFrames);
    const int32_t block = 4096;
    float next = 0.0f;
    for (int i = 0; i < 20; ++i) { // 81,920 frames: past the end once
        const auto input = ramp(block, next);
        const auto right = ramp(block, -next);
        ring.pushPlanar(input.data(), right.data(), block);
        next += block;
    }
    std::vector<float> out;
    ASSERT_TRUE(ring.readInterleaved(out, 3));
    const float lastStart = next - block;
    EXPECT_EQ(out, (std::vector<float>{next - 3, -lastStart + 4093, next - 2, -lastStart + 4094,
                                       next - 1, -lastStart + 4095}));
    EXPECT_FALSE(ring.readInterleaved(out, monitorFrames + 1));
}

// The master's flashback: any length, with slots to spare that no reader is handed.
TEST(LatestFramesRing, AnyLengthWithHeadroomKeepsTheNewestFramesInOrder) {
    struct Shape {
        uint64_t frames;
        uint64_t headroom;
    };
    for (const Shape shape : {Shape{1, 0}, Shape{7, 0}, Shape{100, 3}, Shape{441, 48}}) {
        SCOPED_TRACE(::testing::Message() << shape.frames << " + " << shape.headroom);
        LatestFramesRing ring(shape.frames, shape.headroom);
        EXPECT_EQ(ring.capacity(), shape.frames);
        float next = 0.0f;
        for (int32_t block : {1, 5, 64, 3, 500, 2}) {
            const auto input = ramp(block, next);
            const auto right = ramp(block, next + 1000.0f);
            ring.pushPlanar(input.data(), right.data(), block);
            next += static_cast<float>(block);
            EXPECT_EQ(ring.available(), std::min<uint64_t>(ring.writeCount(), shape.frames));
        }
        std::vector<float> out;
        ASSERT_TRUE(ring.readInterleaved(out, shape.frames));
        for (uint64_t i = 0; i < shape.frames; ++i) {
            const float expected = next - static_cast<float>(shape.frames - i);
            ASSERT_EQ(out[2 * i], expected) << i;
            ASSERT_EQ(out[2 * i + 1], expected + 1000.0f) << i;
        }
        EXPECT_FALSE(ring.readInterleaved(out, shape.frames + 1)) << "headroom is not handed out";
    }
}

TEST(LatestFramesRing, TheWriterNeitherAllocatesNorFrees) {
    LatestFramesRing ring(monitorFrames);
    const auto input = ramp(256, 0.0f, 2);
    std::vector<float> left(256), right(256);
    AllocationScope scope;
    for (int block = 0; block < 300; ++block) { // past the end of the slots
        ring.push(input.data(), 256, 2);
        ring.pull(left.data(), right.data(), 256);
    }
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
    EXPECT_EQ(left, ramp(256, 0.0f));
    EXPECT_EQ(right, ramp(256, 0.5f));
}

} // namespace

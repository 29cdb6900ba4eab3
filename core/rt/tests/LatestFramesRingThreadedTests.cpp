// The latest-frames ring read while its writer laps it: a copy is either whole and in order or
// refused, never torn (and the ThreadSanitizer run finds no race in it).
#include "core/rt/LatestFramesRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

using namespace orvane;

namespace {

struct CopyTally {
    int whole = 0;
    int torn = 0;
};

void copyUntil(const LatestFramesRing &ring, uint64_t frames, const std::atomic<bool> &done,
               CopyTally &tally) {
    std::vector<float> copy;
    while (!done.load()) {
        if (!ring.readInterleaved(copy, frames)) continue;
        ++tally.whole;
        for (std::size_t i = 2; i < copy.size(); i += 2)
            if (copy[i] != copy[i - 2] + 1.0f || copy[i + 1] != -copy[i]) {
                ++tally.torn;
                break;
            }
    }
}

struct Lapping {
    const char *name;
    uint64_t frames;   // the ring's capacity
    uint64_t headroom; // slots beyond it
    uint64_t copied;   // frames each reader copies
    int readers;
};

// The device's input monitor, read by the tempo follower, and a flashback-shaped ring (any
// length, with headroom) copied whole by two readers at once.
const Lapping lappings[] = {
    {"monitor", 65536, 0, 8192, 1},
    {"flashback", 48000, 4800, 48000, 2},
};

TEST(LatestFramesRingThreads, ReadersGetWholeCopiesWhileTheWriterLapsTheRing) {
    for (const Lapping &lapping : lappings) {
        SCOPED_TRACE(lapping.name);
        LatestFramesRing ring(lapping.frames, lapping.headroom);
        constexpr int32_t block = 256;
        // About sixteen laps of the ring, every frame numbered exactly.
        const int blocks = static_cast<int>(16 * (lapping.frames + lapping.headroom) / block);
        std::atomic<bool> done{false};
        std::thread writer([&] {
            std::vector<float> left(block), right(block);
            for (int b = 0; b < blocks; ++b) {
                for (int32_t i = 0; i < block; ++i) {
                    left[i] = static_cast<float>(b * block + i);
                    right[i] = -left[i];
                }
                ring.pushPlanar(left.data(), right.data(), block);
            }
            done = true;
        });
        std::vector<CopyTally> tallies(static_cast<std::size_t>(lapping.readers));
        std::vector<std::thread> readers;
        for (auto &tally : tallies)
            readers.emplace_back([&] { copyUntil(ring, lapping.copied, done, tally); });
        writer.join();
        for (auto &reader : readers)
            reader.join();
        for (const CopyTally &tally : tallies)
            EXPECT_EQ(tally.torn, 0);
        std::vector<float> copy;
        EXPECT_TRUE(ring.readInterleaved(copy, lapping.copied));
        EXPECT_EQ(copy.back(), -static_cast<float>(blocks * block - 1));
        RecordProperty(std::string(lapping.name) + "_whole_copies", tallies[0].whole);
    }
}

} // namespace

// The latest-input ring read while the audio thread writes: a copy is either whole and in
// order or refused, never torn (and the ThreadSanitizer run finds no race in it).
#include "device/InputRings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace orvane;

TEST(MonitorRingThreads, AReaderGetsWholeCopiesWhileTheWriterLapsIt) {
    MonitorRing ring;
    ring.allocate();
    constexpr int32_t block = 256;
    constexpr int blocks = 4000; // about 16 laps of the ring, every frame numbered exactly
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
    std::vector<float> copy;
    int whole = 0, torn = 0;
    while (!done.load()) {
        if (!ring.readInterleaved(copy, 8192)) continue;
        ++whole;
        for (std::size_t i = 2; i < copy.size(); i += 2)
            if (copy[i] != copy[i - 2] + 1.0f || copy[i + 1] != -copy[i]) {
                ++torn;
                break;
            }
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_TRUE(ring.readInterleaved(copy, 8192));
    EXPECT_EQ(copy.back(), -static_cast<float>(blocks * block - 1));
    RecordProperty("whole_copies", whole);
}

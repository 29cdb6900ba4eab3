// One producer and one consumer on threads of their own: every entry arrives once and in
// order, and the ThreadSanitizer run finds no race on the slots.
#include "core/rt/SpscRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

using namespace orvane;

namespace {

struct Numbered {
    uint64_t sequence = 0;
    uint64_t twice = 0; // written with the sequence: a torn slot shows as a mismatch
};

TEST(SpscRingThreads, EveryEntryArrivesOnceAndInOrderWhenTheProducerRetries) {
    SpscRing<Numbered, 64> ring;
    constexpr uint64_t count = 200000;
    std::thread producer([&] {
        for (uint64_t i = 0; i < count; ++i)
            while (!ring.push({i, 2 * i}))
                std::this_thread::yield();
    });
    uint64_t expected = 0, torn = 0;
    Numbered entry;
    while (expected < count) {
        if (!ring.pop(entry)) continue;
        if (entry.twice != 2 * entry.sequence) ++torn;
        ASSERT_EQ(entry.sequence, expected);
        ++expected;
    }
    producer.join();
    EXPECT_EQ(torn, 0u);
    EXPECT_FALSE(ring.pop(entry));
}

TEST(SpscRingThreads, AProducerThatDropsWhenFullLeavesAnOrderedSubsequence) {
    SpscRing<Numbered, 16> ring;
    constexpr uint64_t count = 100000;
    std::atomic<uint64_t> pushed{0};
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint64_t i = 0; i < count; ++i)
            if (ring.push({i, 2 * i})) pushed.fetch_add(1, std::memory_order_relaxed);
        done = true;
    });
    uint64_t received = 0, last = 0, outOfOrder = 0;
    Numbered entry;
    auto take = [&] {
        while (ring.pop(entry)) {
            if (received > 0 && entry.sequence <= last) ++outOfOrder;
            if (entry.twice != 2 * entry.sequence) ++outOfOrder;
            last = entry.sequence;
            ++received;
        }
    };
    while (!done.load())
        take();
    producer.join();
    take();
    EXPECT_EQ(outOfOrder, 0u);
    EXPECT_EQ(received, pushed.load());
    EXPECT_GT(received, 0u);
}

} // namespace

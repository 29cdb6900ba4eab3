#include "core/rt/SpscRing.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace orvane;
using orvane::testing::AllocationScope;

namespace {

struct Entry {
    uint32_t id = 0;
    float value = 0.0f;
    bool operator==(const Entry &) const = default;
};

std::vector<int> popAll(SpscRing<int, 8> &ring) {
    std::vector<int> taken;
    int value = 0;
    while (ring.pop(value))
        taken.push_back(value);
    return taken;
}

TEST(SpscRing, HandsEntriesOverInOrderAndRefusesWhenFullOrEmpty) {
    SpscRing<int, 8> ring;
    int value = -1;
    EXPECT_FALSE(ring.pop(value));
    EXPECT_EQ(value, -1);
    static_assert(SpscRing<int, 8>::capacity == 7, "one slot tells full from empty");
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(ring.push(i)) << i;
    EXPECT_EQ(ring.size(), 7u);
    EXPECT_FALSE(ring.push(99)) << "a full ring drops the newest entry";
    EXPECT_EQ(popAll(ring), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ring.size(), 0u);
}

TEST(SpscRing, KeepsOrderAcrossManyLapsOfItsSlots) {
    SpscRing<int, 8> ring;
    int next = 0, expected = 0;
    // Uneven bursts so that the full and empty edges fall on every slot.
    for (int round = 0; round < 40; ++round) {
        const int burst = 1 + round % 7;
        for (int i = 0; i < burst; ++i)
            ASSERT_TRUE(ring.push(next++));
        for (int value : popAll(ring))
            ASSERT_EQ(value, expected++);
    }
    EXPECT_EQ(expected, next);
}

TEST(SpscRing, DrainVisitsEveryWaitingEntryAndFreesItsSlots) {
    SpscRing<Entry, 4> ring;
    const std::vector<Entry> sent{{1, 0.25f}, {2, 0.5f}, {3, 0.75f}};
    for (const Entry &entry : sent)
        ASSERT_TRUE(ring.push(entry));
    std::vector<Entry> seen;
    EXPECT_EQ(ring.drain([&](const Entry &entry) { seen.push_back(entry); }), 3u);
    EXPECT_EQ(seen, sent);
    EXPECT_EQ(ring.drain([&](const Entry &) { ADD_FAILURE() << "the ring is empty"; }), 0u);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_TRUE(ring.push({i, 0.0f}));
    EXPECT_FALSE(ring.push({3, 0.0f}));
}

TEST(SpscRing, NeitherSideAllocatesOrFrees) {
    SpscRing<Entry, 64> ring;
    std::size_t visited = 0;
    AllocationScope scope;
    for (uint32_t i = 0; i < 200; ++i) {
        (void)ring.push({i, 1.0f});
        Entry entry;
        if (i % 3 == 0) (void)ring.pop(entry);
    }
    visited = ring.drain([](const Entry &) {});
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
    EXPECT_EQ(visited, 63u);
}

} // namespace

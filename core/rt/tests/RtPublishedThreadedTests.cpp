// Readers on threads of their own while the writer publishes and frees: every copy a reader
// sees is whole and no older than the one it saw before, and every retired copy is freed
// (ThreadSanitizer and AddressSanitizer see the frees racing with no read).
#include "core/rt/RtPublished.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

using namespace orvane;

namespace {

struct Generation {
    explicit Generation(uint64_t number) : number(number), values(64, number) { ++alive; }
    ~Generation() { --alive; }
    uint64_t number;
    std::vector<uint64_t> values; // each equal to `number`, checked by every reader
    static inline std::atomic<int> alive{0};
};

struct ReaderTally {
    uint64_t reads = 0;
    uint64_t torn = 0;
    uint64_t backwards = 0;
};

template <std::size_t slots>
void readUntil(const RtPublished<Generation, slots> &published, const std::atomic<bool> &done,
               ReaderTally &tally) {
    uint64_t lastSeen = 0;
    while (!done.load(std::memory_order_relaxed)) {
        typename RtPublished<Generation, slots>::Reader reader(published);
        if (!reader) continue;
        ++tally.reads;
        for (uint64_t value : reader->values)
            if (value != reader->number) ++tally.torn;
        if (reader->number < lastSeen) ++tally.backwards;
        lastSeen = reader->number;
    }
}

template <std::size_t slots> void publishWhileReadersRead(int readerCount) {
    std::vector<ReaderTally> tallies(static_cast<std::size_t>(readerCount));
    {
        RtPublished<Generation, slots> published;
        published.publish(std::make_shared<const Generation>(1));
        std::atomic<bool> done{false};
        std::vector<std::thread> readers;
        for (auto &tally : tallies)
            readers.emplace_back([&] { readUntil(published, done, tally); });
        for (uint64_t number = 2; number <= 3000; ++number)
            published.publish(std::make_shared<const Generation>(number));
        done = true;
        for (auto &reader : readers)
            reader.join();
        EXPECT_EQ(published.readersNow(), 0u);
        published.waitForRetired();
        EXPECT_EQ(published.retiredCount(), 0u);
        EXPECT_EQ(Generation::alive.load(), 1) << "only the current copy is left";
    }
    EXPECT_EQ(Generation::alive.load(), 0);
    for (const ReaderTally &tally : tallies) {
        EXPECT_EQ(tally.torn, 0u);
        EXPECT_EQ(tally.backwards, 0u);
    }
}

TEST(RtPublishedThreads, ReadersWithASlotEachSeeWholeCopiesInOrder) {
    publishWhileReadersRead<4>(3);
}

TEST(RtPublishedThreads, ReadersBeyondTheSlotsWaitForOneAndStillSeeWholeCopies) {
    publishWhileReadersRead<2>(5);
}

} // namespace

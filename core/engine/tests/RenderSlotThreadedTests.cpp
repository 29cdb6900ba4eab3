// A device thread, an export and the main thread compete for the rendering slot: never two
// holders at once. Under ThreadSanitizer the plain counter also proves that each holder sees
// the previous one's writes.
#include "core/engine/RenderSlot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace orvane;

TEST(RenderSlotThreads, OneHolderAtATimeWhileOwnersComeAndGo) {
    RenderSlot slot;
    std::atomic<int> holders{0};
    std::atomic<int> mostHolders{0};
    int64_t blocks = 0; // written only under a claim
    const auto hold = [&](const RenderSlot::Claim &claim) {
        if (!claim) return;
        const int now = holders.fetch_add(1) + 1;
        int most = mostHolders.load();
        while (now > most && !mostHolders.compare_exchange_weak(most, now)) {
        }
        ++blocks;
        holders.fetch_sub(1);
    };
    std::atomic<bool> done{false};
    std::thread device([&] {
        while (!done.load())
            hold(slot.claimForDevice());
    });
    std::thread idleDrain([&] {
        while (!done.load())
            hold(slot.claimWhileIdle());
    });
    int64_t exportBlocks = 0;
    for (int round = 0; round < 2000; ++round) {
        if (round % 3 == 0) slot.deviceStarted();
        ASSERT_TRUE(slot.beginOffline());
        // An export's claim always wins in the end; a device block only backs off.
        for (int block = 0; block < 4; ++block) {
            const RenderSlot::Claim claim = slot.claimForOffline();
            ASSERT_TRUE(claim);
            hold(claim);
            ++exportBlocks;
        }
        slot.endOffline();
        if (round % 3 == 0) slot.deviceStopped();
    }
    done.store(true);
    device.join();
    idleDrain.join();
    EXPECT_EQ(mostHolders.load(), 1);
    EXPECT_GE(blocks, exportBlocks);
    EXPECT_EQ(slot.state(), RenderSlot::State{});
}

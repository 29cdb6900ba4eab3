// The rendering slot walked through its whole state table: every state, every call, the
// calls it refuses and the ones that wait for a block in progress.
#include "core/engine/RenderSlot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

using namespace orvane;

namespace {

enum class Call {
    deviceStarted,
    deviceStopped,
    beginOffline,
    endOffline,
    claimForDevice,
    claimForOffline,
    claimWhileIdle
};

/// The states as the header's table names them.
RenderSlot::State named(const std::string &name) {
    if (name == "idle") return {};
    if (name == "all three") return {true, true, true};
    RenderSlot::State state;
    state.device = name.find("device") != std::string::npos;
    state.offline = name.find("offline") != std::string::npos;
    state.held = name.find("held") != std::string::npos;
    return state;
}

/// Brings a fresh slot into `state`; the claim returned holds it when the state says held.
RenderSlot::Claim enter(RenderSlot &slot, RenderSlot::State state) {
    if (state.device) slot.deviceStarted();
    if (state.offline) {
        EXPECT_TRUE(slot.beginOffline());
    }
    if (!state.held) return {};
    if (state.offline) return slot.claimForOffline();
    return state.device ? slot.claimForDevice() : slot.claimWhileIdle();
}

/// Makes the call; a claim it wins is held while the state after it is read.
bool perform(RenderSlot &slot, Call call, RenderSlot::State &after) {
    bool granted = true;
    const auto claimed = [&](RenderSlot::Claim claim) {
        granted = static_cast<bool>(claim);
        after = slot.state();
    };
    switch (call) {
    case Call::deviceStarted: slot.deviceStarted(); break;
    case Call::deviceStopped: slot.deviceStopped(); break;
    case Call::beginOffline: granted = slot.beginOffline(); break;
    case Call::endOffline: slot.endOffline(); break;
    case Call::claimForDevice: claimed(slot.claimForDevice()); return granted;
    case Call::claimForOffline: claimed(slot.claimForOffline()); return granted;
    case Call::claimWhileIdle: claimed(slot.claimWhileIdle()); return granted;
    }
    after = slot.state();
    return granted;
}

struct Transition {
    const char *from;
    Call call;
    /// "refused", a state, or "waits, " and the state it returns in.
    const char *outcome;
};

// Columns of the header's table, row by row.
constexpr Call deviceStarted = Call::deviceStarted, deviceStopped = Call::deviceStopped,
               beginOffline = Call::beginOffline, endOffline = Call::endOffline,
               claimForDevice = Call::claimForDevice, claimForOffline = Call::claimForOffline,
               claimWhileIdle = Call::claimWhileIdle;

const Transition table[] = {
    {"idle", deviceStarted, "device"},
    {"idle", deviceStopped, "idle"},
    {"idle", beginOffline, "offline"},
    {"idle", endOffline, "idle"},
    {"idle", claimForDevice, "held"},
    {"idle", claimForOffline, "refused"},
    {"idle", claimWhileIdle, "held"},
    {"held", deviceStarted, "waits, device"},
    {"held", deviceStopped, "held"},
    {"held", beginOffline, "waits, offline"},
    {"held", endOffline, "held"},
    {"held", claimForDevice, "refused"},
    {"held", claimForOffline, "refused"},
    {"held", claimWhileIdle, "refused"},
    {"device", deviceStarted, "device"},
    {"device", deviceStopped, "idle"},
    {"device", beginOffline, "device+offline"},
    {"device", endOffline, "device"},
    {"device", claimForDevice, "device+held"},
    {"device", claimForOffline, "refused"},
    {"device", claimWhileIdle, "refused"},
    {"device+held", deviceStarted, "waits, device"},
    {"device+held", deviceStopped, "held"},
    {"device+held", beginOffline, "waits, device+offline"},
    {"device+held", endOffline, "device+held"},
    {"device+held", claimForDevice, "refused"},
    {"device+held", claimForOffline, "refused"},
    {"device+held", claimWhileIdle, "refused"},
    {"offline", deviceStarted, "device+offline"},
    {"offline", deviceStopped, "offline"},
    {"offline", beginOffline, "refused"},
    {"offline", endOffline, "idle"},
    {"offline", claimForDevice, "refused"},
    {"offline", claimForOffline, "offline+held"},
    {"offline", claimWhileIdle, "refused"},
    {"offline+held", deviceStarted, "waits, device+offline"},
    {"offline+held", deviceStopped, "offline+held"},
    {"offline+held", beginOffline, "refused"},
    {"offline+held", endOffline, "held"},
    {"offline+held", claimForDevice, "refused"},
    {"offline+held", claimForOffline, "waits, offline+held"},
    {"offline+held", claimWhileIdle, "refused"},
    {"device+offline", deviceStarted, "device+offline"},
    {"device+offline", deviceStopped, "offline"},
    {"device+offline", beginOffline, "refused"},
    {"device+offline", endOffline, "device"},
    {"device+offline", claimForDevice, "refused"},
    {"device+offline", claimForOffline, "all three"},
    {"device+offline", claimWhileIdle, "refused"},
    {"all three", deviceStarted, "waits, device+offline"},
    {"all three", deviceStopped, "offline+held"},
    {"all three", beginOffline, "refused"},
    {"all three", endOffline, "device+held"},
    {"all three", claimForDevice, "refused"},
    {"all three", claimForOffline, "waits, all three"},
    {"all three", claimWhileIdle, "refused"},
};

std::string describe(RenderSlot::State state) {
    return std::string(state.device ? "device " : "") + (state.offline ? "offline " : "") +
           (state.held ? "held" : "");
}

} // namespace

TEST(RenderSlot, EveryCallInEveryStateDoesWhatTheTableSays) {
    for (const Transition &row : table) {
        SCOPED_TRACE(std::string(row.from) + " call " + std::to_string(static_cast<int>(row.call)) +
                     " -> " + row.outcome);
        const std::string outcome = row.outcome;
        const bool refused = outcome == "refused";
        const bool waits = outcome.rfind("waits, ", 0) == 0;
        RenderSlot slot;
        std::optional<RenderSlot::Claim> inProgress(enter(slot, named(row.from)));
        ASSERT_EQ(slot.state(), named(row.from)) << describe(slot.state());

        std::atomic<bool> returned{false};
        RenderSlot::State after;
        bool granted = false;
        std::thread caller([&] {
            granted = perform(slot, row.call, after);
            returned.store(true);
        });
        if (waits) {
            // It must still be waiting for the block in progress, however long that takes.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_FALSE(returned.load());
            inProgress.reset();
        }
        caller.join();
        inProgress.reset();
        EXPECT_EQ(granted, !refused);
        if (refused) {
            EXPECT_EQ(after, named(row.from)) << describe(after);
            continue;
        }
        EXPECT_EQ(after, named(waits ? outcome.substr(7) : outcome)) << describe(after);
    }
}

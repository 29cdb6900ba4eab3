#pragma once

#include "tests/support/JackTestClient.h"

#include <chrono>
#include <cstdint>
#include <thread>

namespace orvane::bench {

/// Underruns that a client doing next to nothing sees on the server in `seconds`: the floor
/// the machine's scheduling sets, measured in the same run as the figures it qualifies. The
/// client must already be active; nothing else should be running on the server meanwhile.
inline uint64_t idleClientXruns(const testing::JackTestClient &client, double seconds) {
    const uint64_t before = client.xruns();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return client.xruns() - before;
}

} // namespace orvane::bench

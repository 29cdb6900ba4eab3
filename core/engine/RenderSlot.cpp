#include "core/engine/RenderSlot.h"

#include <thread>

namespace orvane {

void RenderSlot::deviceStarted() {
    word.fetch_or(deviceBit);
    // A claim that began before the flag ends within a few requests; one that begins after
    // it sees the device and backs off.
    waitUntilReleased();
}

void RenderSlot::deviceStopped() { word.fetch_and(static_cast<uint8_t>(~deviceBit)); }

bool RenderSlot::beginOffline() {
    if ((word.fetch_or(offlineBit) & offlineBit) != 0) return false;
    waitUntilReleased();
    return true;
}

void RenderSlot::endOffline() { word.fetch_and(static_cast<uint8_t>(~offlineBit)); }

RenderSlot::Claim RenderSlot::claimForDevice() {
    return tryHold(offlineBit) ? Claim(this) : Claim();
}

RenderSlot::Claim RenderSlot::claimForOffline() {
    while (offlineOwns()) {
        if (tryHold(0)) return Claim(this);
        std::this_thread::yield();
    }
    return Claim();
}

RenderSlot::Claim RenderSlot::claimWhileIdle() {
    return tryHold(deviceBit | offlineBit) ? Claim(this) : Claim();
}

RenderSlot::State RenderSlot::state() const {
    const uint8_t flags = word.load();
    return State{(flags & deviceBit) != 0, (flags & offlineBit) != 0, (flags & heldBit) != 0};
}

bool RenderSlot::tryHold(uint8_t refusing) {
    uint8_t expected = word.load();
    while ((expected & (refusing | heldBit)) == 0)
        if (word.compare_exchange_weak(expected, static_cast<uint8_t>(expected | heldBit)))
            return true;
    return false;
}

void RenderSlot::waitUntilReleased() const {
    while ((word.load() & heldBit) != 0)
        std::this_thread::yield();
}

} // namespace orvane

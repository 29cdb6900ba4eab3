#include "core/engine/Transport.h"

#include <algorithm>
#include <cmath>

namespace orvane {

int64_t Transport::clampPosition(double position) {
    if (!(position > 0.0)) return 0; // negative, zero or NaN
    if (position >= static_cast<double>(maxPosition)) return maxPosition;
    return static_cast<int64_t>(position);
}

int64_t Transport::clampPosition(int64_t position) {
    return std::clamp<int64_t>(position, 0, maxPosition);
}

void Transport::locateRt(double position) { playhead.store(clampPosition(position)); }

void Transport::setCycleRt(double start, double end, bool enabled) {
    loopEnabled.store(enabled);
    loopStart.store(clampPosition(start));
    loopEnd.store(clampPosition(end));
}

void Transport::stopRt(bool rewind) {
    playing.store(false);
    recording.store(false);
    if (rewind) playhead.store(0);
}

int64_t Transport::nextPositionRt(int64_t position, int32_t frames, bool wrap) const {
    int64_t next = clampPosition(clampPosition(position) + std::max<int32_t>(frames, 0));
    const int64_t cycleStart = loopStart.load();
    const int64_t cycleEnd = loopEnd.load();
    if (wrap && loopEnabled.load() && cycleEnd > cycleStart && next >= cycleEnd)
        next = cycleStart + (next - cycleEnd) % (cycleEnd - cycleStart);
    return next;
}

} // namespace orvane

#pragma once

#include <chrono>
#include <ctime>

namespace orvane::vst {

/// A point in time after which a socket transfer or an audio block counts as failed. `never`
/// waits without end (the helper waits for its client that way).
struct Deadline {
    std::chrono::steady_clock::time_point at;
    bool unlimited = false;

    static Deadline never() { return {{}, true}; }
    static Deadline after(std::chrono::nanoseconds span) {
        return {std::chrono::steady_clock::now() + span, false};
    }
    bool passed() const { return !unlimited && std::chrono::steady_clock::now() >= at; }
    /// Milliseconds left, for poll: -1 without a deadline, 0 once it has passed.
    int remainingMilliseconds() const;
    /// Time left for ppoll, to the microsecond: null without a deadline, zero once it has
    /// passed. `storage` holds the value the result points at.
    const timespec *remaining(timespec &storage) const;
};

} // namespace orvane::vst

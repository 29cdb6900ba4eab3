#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

// A track's automation lanes by number: 0 volume, 1 pan, 2 mute, 3 the parameter of the
// track's first VST 3 insert, and `firstInsertLane` + i the parameter automation of insert i.

/// The lane of the track's first insert; numbers 4 to 15 stay volume as older projects had it.
constexpr int32_t firstInsertLane = 16;

/// The lane of insert `insertIndex`'s parameter automation.
constexpr int32_t insertAutomationLane(std::size_t insertIndex) {
    return firstInsertLane + static_cast<int32_t>(insertIndex);
}

} // namespace orvane

#pragma once

#include "core/model/Project.h"
#include "core/model/SaturatingMath.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace orvane {

/// Position of the clip with `clipId` in the track's clip list.
std::optional<std::size_t> clipIndex(const Track &track, uint64_t clipId);

/// Puts `clip` back at `index`, or at the end when the list has become shorter, so that an
/// undo returns a clip to the place it was taken from.
void insertClipAt(Track &track, std::shared_ptr<Clip> clip, std::size_t index);

/// Moves a clip already held by `track` to `index` (or to the end when the list is shorter).
void moveClipWithinTrack(Track &track, uint64_t clipId, std::size_t index);

} // namespace orvane

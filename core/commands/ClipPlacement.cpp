#include "core/commands/ClipPlacement.h"

#include <limits>
#include <utility>

namespace orvane {

std::optional<std::size_t> clipIndex(const Track &track, uint64_t clipId) {
    for (std::size_t index = 0; index < track.clips.size(); ++index)
        if (track.clips[index] && track.clips[index]->id == clipId) return index;
    return std::nullopt;
}

void insertClipAt(Track &track, std::shared_ptr<Clip> clip, std::size_t index) {
    if (index > track.clips.size()) index = track.clips.size();
    track.clips.insert(track.clips.begin() + static_cast<std::ptrdiff_t>(index), std::move(clip));
}

void moveClipWithinTrack(Track &track, uint64_t clipId, std::size_t index) {
    const auto current = clipIndex(track, clipId);
    if (!current) return;
    std::shared_ptr<Clip> clip = track.clips[*current];
    track.clips.erase(track.clips.begin() + static_cast<std::ptrdiff_t>(*current));
    insertClipAt(track, std::move(clip), index);
}

} // namespace orvane

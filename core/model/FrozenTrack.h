#pragma once

#include "core/model/Project.h"

#include <algorithm>
#include <string_view>

namespace orvane {

/// The name of the clip the freeze command places: the track's render through its channel
/// stages and inserts.
inline constexpr std::string_view freezeClipName = "Freeze";

/// Whether the track plays its own freeze: it is marked frozen and its freeze clip plays. Only
/// then are the stages that clip already holds left out. The mark alone, as a document may
/// carry it, changes nothing the track sounds like.
inline bool playsItsFreeze(const Track &track) {
    return track.frozen &&
           std::any_of(track.clips.begin(), track.clips.end(), [](const auto &clip) {
               return clip && clip->takeActive && !clip->isSessionClip() &&
                      clip->name == freezeClipName;
           });
}

} // namespace orvane

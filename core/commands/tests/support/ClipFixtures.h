#pragma once

#include "core/model/Project.h"

#include <initializer_list>
#include <memory>
#include <vector>

namespace orvane::testing {

inline std::shared_ptr<Clip> placeClip(Project &project, uint64_t trackId, ClipKind kind,
                                       int64_t start, int64_t length) {
    auto clip = project.addClip(trackId, kind);
    clip->arrangeStart = start;
    clip->length = length;
    return clip;
}

inline std::shared_ptr<const std::vector<float>> samples(std::initializer_list<float> values) {
    return std::make_shared<const std::vector<float>>(values);
}

inline std::vector<uint64_t> clipIds(const Track &track) {
    std::vector<uint64_t> ids;
    for (const auto &clip : track.clips)
        ids.push_back(clip->id);
    return ids;
}

} // namespace orvane::testing

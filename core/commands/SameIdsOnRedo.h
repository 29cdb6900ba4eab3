#pragma once

#include "core/model/Project.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace orvane {

/// The id counters of a project, as a creating command found them on its first run.
struct IdCounters {
    uint64_t track = 1;
    uint64_t clip = 1;
    uint64_t scene = 1;
};

/// While alive, a redo of a creating command draws the ids its first run drew, so the objects
/// come back under the ids that later commands of the history refer to. Ids are never handed
/// out twice: the first run's ids were taken from the counters, which only advance, and its
/// objects are gone after the undo. The counters end where they were or further.
class SameIdsOnRedo {
  public:
    SameIdsOnRedo(std::optional<IdCounters> &firstRun, Project &project) : project_(project) {
        const IdCounters now{project.nextTrackId, project.nextClipId, project.nextSceneId};
        if (!firstRun) {
            firstRun = now;
            return;
        }
        counterAfter_ = now;
        project.nextTrackId = firstRun->track;
        project.nextClipId = firstRun->clip;
        project.nextSceneId = firstRun->scene;
    }

    ~SameIdsOnRedo() {
        if (!counterAfter_) return;
        project_.nextTrackId = std::max(project_.nextTrackId, counterAfter_->track);
        project_.nextClipId = std::max(project_.nextClipId, counterAfter_->clip);
        project_.nextSceneId = std::max(project_.nextSceneId, counterAfter_->scene);
    }

    SameIdsOnRedo(const SameIdsOnRedo &) = delete;
    SameIdsOnRedo &operator=(const SameIdsOnRedo &) = delete;

  private:
    Project &project_;
    std::optional<IdCounters> counterAfter_;
};

} // namespace orvane

#pragma once

#include "core/model/Project.h"
#include "core/project_io/ProjectFolder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

/// A copy of the document that shares no track or clip with `project`, for work that reads
/// it away from the main thread while the user goes on editing. The sample buffers stay
/// shared: they are never written once made.
Project copyProjectDocument(const Project &project);

/// A clip whose media file a save wrote or collected under another name.
struct MediaRename {
    uint64_t clipId = 0;
    std::string before; // the clip's "audioFile" in the snapshot that was saved
    std::string after;  // what the saved document names
};

/// A track whose instrument state a save rewrote: the drum sampler's samples copied into
/// the project's media and named relative to its folder.
struct InstrumentStateRename {
    uint64_t trackId = 0;
    std::string before;
    std::string after;
};

/// What a save of a snapshot did.
struct SavedDocument {
    project_io::SaveResult result;
    std::vector<MediaRename> renames;
    std::vector<InstrumentStateRename> instrumentRenames;
};

/// Saves `snapshot` into `folder`, collecting the media with `collectAll`. The drum samples
/// a kit plays from outside the folder's media (chosen before the project had a folder, or
/// those of the folder it was saved in before) are always copied in. Safe on any thread as
/// long as the snapshot is the caller's own.
SavedDocument saveDocumentSnapshot(Project &snapshot, const std::string &folder, bool collectAll);

/// Gives the live document's clips the media names a save chose, where a clip still names
/// the file it had when the snapshot was taken; a clip changed meanwhile keeps its own and
/// the next save writes it. The same for the instrument states a save rewrote. The caller
/// holds the project lock.
void adoptSavedMediaNames(Project &live, const std::vector<MediaRename> &renames,
                          const std::vector<InstrumentStateRename> &instrumentRenames = {});

} // namespace orvane

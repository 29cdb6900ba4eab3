#pragma once

#include "core/model/Project.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::project_io {

struct MissingMediaEntry {
    uint64_t clipId = 0;
    std::string audioFile; // as stored in the clip
};

struct SaveResult {
    bool ok = false;
    std::string error; // empty on success
};

/// Writes the project into `folder`: every audio clip with audio in memory as
/// "media/clip_<id>.wav", with `collectAll` also copies of the files that clips play from
/// elsewhere, and last "project.json". Every file is replaced durably, so a save that fails
/// or is cut off leaves the previous document intact. A media file that cannot be written
/// fails the save with a message naming it, after everything else has been written.
SaveResult saveProject(Project &project, const std::string &folder, bool collectAll);

/// Reads "project.json" of `folder`. Id counters are raised above every id in use, so that
/// a damaged counter can never hand out an id twice.
std::optional<Project> loadProject(const std::string &folder);

/// Loads the WAV file of every audio clip that has a file but no audio. True when every
/// attempted clip loaded; otherwise `error` names the last file that did not.
bool hydrateProjectMedia(Project &project, std::string *error = nullptr);

/// Audio clips whose file does not exist, in track and clip order.
std::vector<MissingMediaEntry> findMissingMedia(const Project &project);

bool relinkClipMedia(Project &project, uint64_t clipId, const std::string &path,
                     std::string *error = nullptr);

/// Looks up each missing file by name anywhere below `folder` (the first file of a name the
/// walk meets wins) and relinks the clip to it. Returns the number of clips relinked.
int relinkMissingFromFolder(Project &project, const std::vector<MissingMediaEntry> &missing,
                            const std::string &folder);

} // namespace orvane::project_io

namespace orvane {

/// Copies `source` into the "media" folder of the project at `projectRoot` under its own
/// name and sets `relativePath` to "media/<name>". Another file of the same name already
/// there is never overwritten: the copy then takes a free name such as "kick (2).wav".
bool copyFileIntoProjectMedia(const std::string &source, const std::string &projectRoot,
                              std::string &relativePath);

} // namespace orvane

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

/// A clip whose media could not be read, and why.
struct MediaLoadFailure {
    uint64_t clipId = 0;
    std::string path;   // as opened: the root joined with the clip's "audioFile"
    std::string reason; // "No such file or directory", "not a regular file", ...
};

/// Writes the project into `folder`: the audio of every audio clip as
/// "media/clip_<id>.wav", with `collectAll` also copies of the files that clips play from
/// elsewhere, and last "project.json". Clip audio is written only when its buffer is not the
/// one that file was last written from or read into (buffers are immutable, so an unchanged
/// clip keeps its file and an autosave of a large project costs no media writes). Every file
/// is replaced durably, so a save that fails or is cut off leaves the previous document
/// intact. A media file that cannot be written fails the save with a message naming it,
/// after everything else has been written.
SaveResult saveProject(Project &project, const std::string &folder, bool collectAll);

/// Forgets which buffer each media file holds: the next save writes the media of every clip.
void forgetWrittenMedia();

/// Reads "project.json" of `folder`. Id counters are raised above every id in use, so that
/// a damaged counter can never hand out an id twice. A document that is not a regular file
/// (a FIFO, a device) is refused at once. `error`, when given, says why nothing was loaded.
std::optional<Project> loadProject(const std::string &folder, std::string *error = nullptr);

/// Reads the media file of every audio clip that has a file but no audio, in any encoding
/// the decoder reads, converted to the project's sample rate. True when every attempted clip
/// loaded; otherwise `error` names the last file that did not, with the reason.
[[nodiscard]] bool hydrateProjectMedia(Project &project, std::string *error = nullptr);
/// The same, listing every clip that did not load.
[[nodiscard]] bool hydrateProjectMedia(Project &project, std::vector<MediaLoadFailure> &failures);

/// Audio clips whose file does not exist, in track and clip order.
std::vector<MissingMediaEntry> findMissingMedia(const Project &project);

[[nodiscard]] bool relinkClipMedia(Project &project, uint64_t clipId, const std::string &path,
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
[[nodiscard]] bool copyFileIntoProjectMedia(const std::string &source,
                                            const std::string &projectRoot,
                                            std::string &relativePath);

} // namespace orvane

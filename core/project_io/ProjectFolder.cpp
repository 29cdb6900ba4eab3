#include "core/project_io/ProjectFolder.h"

#include "core/audiofile/AudioFile.h"
#include "core/project_io/DurableFile.h"
#include "core/project_io/ProjectDocument.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace orvane::project_io {

namespace fs = std::filesystem;

namespace {

constexpr const char *documentName = "project.json";

std::string mediaName(uint64_t clipId, const std::string &extension) {
    return "clip_" + std::to_string(clipId) + extension;
}

/// An absolute "audioFile" replaces the root; a relative one is taken from the root.
fs::path resolveMedia(const std::string &root, const std::string &audioFile) {
    return fs::path(root) / audioFile;
}

bool hasAudio(const Clip &clip) { return clip.audio && !clip.audio->empty(); }

/// What identifies one version of a file on disk: replaced, rewritten or removed behind our
/// back, it no longer matches.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modified = 0; // nanoseconds
    bool operator==(const FileStamp &) const = default;
};

std::optional<FileStamp> stampOf(const fs::path &file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return FileStamp{status.st_dev, status.st_ino, status.st_size,
                     int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec};
}

/// Which buffer each media file was last written from or read into. Buffers are immutable,
/// so while a clip still holds that very buffer (and the file is as we left it) the file
/// needs no rewrite. Buffers are held weakly and compared by identity: any shared buffer
/// type can be recorded, and a freed buffer never matches a new one at the same address.
class MediaLedger {
  public:
    void record(const fs::path &file, const std::shared_ptr<const void> &buffer) {
        const std::optional<FileStamp> stamp = stampOf(file);
        std::lock_guard lock(mutex_);
        if (stamp)
            entries_[keyOf(file)] = {buffer, *stamp};
        else
            entries_.erase(keyOf(file));
    }

    bool holds(const fs::path &file, const std::shared_ptr<const void> &buffer) {
        const std::optional<FileStamp> stamp = stampOf(file);
        std::lock_guard lock(mutex_);
        const auto found = entries_.find(keyOf(file));
        return stamp && found != entries_.end() && found->second.stamp == *stamp &&
               found->second.buffer.lock() == buffer;
    }

    void clear() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

  private:
    struct Entry {
        std::weak_ptr<const void> buffer;
        FileStamp stamp;
    };
    static std::string keyOf(const fs::path &file) {
        std::error_code error;
        return fs::absolute(file, error).lexically_normal().string();
    }
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

MediaLedger &mediaLedger() {
    static MediaLedger ledger;
    return ledger;
}

template <typename Visit> void forEachAudioClip(const Project &project, Visit visit) {
    for (const auto &track : project.tracks) {
        if (!track) continue;
        for (const auto &clip : track->clips)
            if (clip && clip->kind == ClipKind::Audio) visit(*clip);
    }
}

bool isInsideFolder(const fs::path &file, const fs::path &folder) {
    std::error_code error;
    const fs::path canonicalFile = fs::weakly_canonical(fs::absolute(file), error);
    const fs::path canonicalFolder = fs::weakly_canonical(folder, error);
    if (error) return false;
    const auto [folderEnd, fileAt] = std::mismatch(canonicalFolder.begin(), canonicalFolder.end(),
                                                   canonicalFile.begin(), canonicalFile.end());
    return folderEnd == canonicalFolder.end() ||
           (std::next(folderEnd) == canonicalFolder.end() && folderEnd->empty());
}

/// Media are written in float unless the project asks for 24 bits; nothing Halvora records
/// or computes is rounded to 16.
MediaEncoding mediaEncodingOf(const Project &project) {
    return project.mediaBitDepth == 24 ? MediaEncoding::Pcm24 : MediaEncoding::Float32;
}

/// Writes the clip's audio as its media file unless a file in the project already holds that
/// buffer; false names a failure to report.
/// Copies the regular file `source` into the open file `descriptor`.
bool copyFileInto(const fs::path &source, int descriptor) {
    const int input = openRegularFile(source.string(), nullptr);
    if (input < 0) return false;
    char block[1 << 16];
    bool copied = true;
    for (;;) {
        const ssize_t got = ::read(input, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            copied = got == 0;
            break;
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put =
                ::write(descriptor, block + written, static_cast<std::size_t>(got - written));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                ::close(input);
                return false;
            }
            written += put;
        }
    }
    ::close(input);
    return copied;
}

/// A media file this save leaves in the folder and the audio it holds.
struct SavedMedia {
    SharedSamples audio;
    int32_t channels = 2;
    fs::path file;
};

/// Whether `saved` holds the very samples of `clip`: the same buffer, or equal bytes.
bool holdsSameAudio(const SavedMedia &saved, const Clip &clip) {
    if (saved.channels != std::max(1, clip.channels)) return false;
    if (saved.audio == clip.audio) return true;
    return saved.audio->size() == clip.audio->size() && *saved.audio == *clip.audio;
}

/// Gives `target` the contents of `existing` as a second name of the same file, durably and
/// atomically as any write. False, with nothing left behind, where links are not to be had.
bool linkMedia(const fs::path &existing, const fs::path &target) {
    fs::path temporary;
    const int descriptor = createTemporaryFor(target, temporary);
    if (descriptor < 0) return false;
    ::close(descriptor);
    std::error_code ignored;
    // The exclusive name is ours; the link takes its place.
    if (!fs::remove(temporary, ignored) || ::link(existing.c_str(), temporary.c_str()) != 0) {
        fs::remove(temporary, ignored);
        return false;
    }
    return commitTemporaryFile(temporary, target);
}

bool writeClipAudio(Clip &clip, const fs::path &root, const fs::path &mediaFolder,
                    double sampleRate, MediaEncoding encoding, std::vector<SavedMedia> &saved) {
    const int channels = std::max(1, clip.channels);
    // A file inside the project that already holds this audio is kept as it is, whatever
    // its name or encoding.
    const fs::path current = fs::path(clip.audioFile).lexically_normal();
    if (!clip.audioFile.empty() && current.is_relative() && *current.begin() != ".." &&
        mediaLedger().holds(root / current, clip.audio.owner())) {
        saved.push_back({clip.audio, channels, root / current});
        return true;
    }
    const std::string fileName = mediaName(clip.id, ".wav");
    const fs::path target = mediaFolder / fileName;
    const std::string relative = "media/" + fileName;
    if (mediaLedger().holds(target, clip.audio.owner())) {
        clip.audioFile = relative;
        saved.push_back({clip.audio, channels, target});
        return true;
    }
    // Audio another clip of this save already wrote (a duplicate, a copy, equal pieces) is
    // the same file under this clip's name: one copy on the disk, and every reader still
    // finds a file of its own for each clip.
    for (const SavedMedia &earlier : saved) {
        if (!holdsSameAudio(earlier, clip) || !linkMedia(earlier.file, target)) continue;
        mediaLedger().record(target, clip.audio.owner());
        clip.audioFile = relative;
        saved.push_back({clip.audio, channels, target});
        return true;
    }
    const auto frames = static_cast<int64_t>(clip.audio->size()) / channels;
    if (frames > std::numeric_limits<int>::max()) return false;
    fs::path temporary;
    const int descriptor = createTemporaryFor(target, temporary);
    if (descriptor < 0) return false;
    bool written = exportMediaWav(descriptor, *clip.audio, channels, sampleRate, encoding);
    if (::close(descriptor) != 0) written = false;
    if (!written) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    if (!commitTemporaryFile(temporary, target)) return false;
    mediaLedger().record(target, clip.audio.owner());
    if (clip.audioFile != relative) clip.audioFile = relative;
    saved.push_back({clip.audio, channels, target});
    return true;
}

/// Copies a file the clip plays from outside the media folder; missing files and files
/// already inside are left alone. False names a failure to report.
bool collectClipFile(Clip &clip, const std::string &previousRoot, const fs::path &mediaFolder) {
    fs::path source = clip.audioFile;
    if (!source.has_root_directory()) source = fs::path(previousRoot) / source;
    std::error_code error;
    if (!fs::exists(source, error) || isInsideFolder(source, mediaFolder)) return true;
    const std::string fileName = mediaName(clip.id, source.extension().string());
    const fs::path target = mediaFolder / fileName;
    fs::path temporary;
    const int descriptor = createTemporaryFor(target, temporary);
    if (descriptor < 0) return false;
    bool copied = copyFileInto(source, descriptor);
    if (::close(descriptor) != 0) copied = false;
    if (!copied) {
        fs::remove(temporary, error);
        return false;
    }
    if (!commitTemporaryFile(temporary, target)) return false;
    clip.audioFile = "media/" + fileName;
    return true;
}

/// Returns the message for the first media file that could not be written, or empty.
std::string saveMedia(Project &project, const fs::path &root, const fs::path &mediaFolder,
                      bool collectAll) {
    std::string failure;
    const std::string previousRoot = project.rootPath;
    std::vector<SavedMedia> saved;
    forEachAudioClip(project, [&](Clip &clip) {
        bool written = true;
        std::string fileName;
        if (hasAudio(clip) && clip.length >= 1) {
            written = writeClipAudio(clip, root, mediaFolder, project.sampleRate,
                                     mediaEncodingOf(project), saved);
            fileName = mediaName(clip.id, ".wav");
        } else if (collectAll && !clip.audioFile.empty()) {
            written = collectClipFile(clip, previousRoot, mediaFolder);
            fileName = mediaName(clip.id, fs::path(clip.audioFile).extension().string());
        }
        if (!written && failure.empty()) failure = "cannot write media/" + fileName;
    });
    return failure;
}

uint64_t counterAbove(uint64_t counter, uint64_t largestId) {
    const uint64_t next =
        largestId == std::numeric_limits<uint64_t>::max() ? largestId : largestId + 1;
    return std::max({counter, next, uint64_t{1}});
}

void raiseIdCounters(Project &project) {
    uint64_t largestTrack = 0, largestClip = 0, largestScene = 0, largestMarker = 0;
    for (const auto &track : project.tracks) {
        largestTrack = std::max(largestTrack, track->id);
        for (const auto &clip : track->clips)
            largestClip = std::max(largestClip, clip->id);
    }
    for (const auto &scene : project.session.scenes)
        largestScene = std::max(largestScene, scene.id);
    for (const auto &marker : project.markers)
        largestMarker = std::max(largestMarker, marker.id);
    project.nextTrackId = counterAbove(project.nextTrackId, largestTrack);
    project.nextClipId = counterAbove(project.nextClipId, largestClip);
    project.nextSceneId = counterAbove(project.nextSceneId, largestScene);
    project.nextMarkerId = counterAbove(project.nextMarkerId, largestMarker);
}

void attachAudio(Clip &clip, const fs::path &file, SharedSamples samples, int32_t channels,
                 int64_t frames) {
    clip.audio = std::move(samples);
    clip.channels = channels;
    if (clip.length < 1) clip.length = frames;
    mediaLedger().record(file, clip.audio.owner());
}

/// Gives the clip the audio of `file`. Files of the project's own media folder, which saving
/// only ever replaces whole, are read from the file as they play when they hold the project's
/// format; anything else is decoded into the heap. False with `reason` when unreadable.
bool loadClipMedia(Clip &clip, const fs::path &file, const Project &project, std::string &reason) {
    if (!project.rootPath.empty() && isInsideFolder(file, fs::path(project.rootPath) / "media")) {
        StreamedMedia streamed;
        if (openStreamedMedia(file.string(), project.sampleRate, streamed)) {
            attachAudio(clip, file, std::move(streamed.samples), streamed.channels,
                        streamed.frames);
            return true;
        }
    }
    DecodedAudio decoded;
    if (!readMediaFile(file.string(), project.sampleRate, decoded, &reason)) return false;
    attachAudio(clip, file, std::move(decoded.samples), decoded.channels, decoded.frames);
    return true;
}

/// The whole document, or nothing with `error` saying why. Only a regular file is read, so
/// a FIFO or a device in its place cannot block the load.
std::optional<std::string> readDocument(const fs::path &file, std::string *error) {
    std::string reason;
    const int descriptor = openRegularFile(file.string(), &reason);
    if (descriptor < 0) {
        if (error) *error = "cannot read \"" + file.string() + "\": " + reason;
        return std::nullopt;
    }
    std::string text;
    char block[1 << 16];
    while (true) {
        const ssize_t got = ::read(descriptor, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ::close(descriptor);
            if (got == 0) return text;
            if (error) *error = "cannot read \"" + file.string() + "\": " + std::strerror(errno);
            return std::nullopt;
        }
        text.append(block, static_cast<std::size_t>(got));
    }
}

} // namespace

SaveResult saveProject(Project &project, const std::string &folder, bool collectAll) {
    try {
        const fs::path root(folder);
        // A link in place of the project or one of its folders would carry the write, with
        // the owner's rights, wherever it points.
        for (const fs::path &part : {root, root / "media", root / "plugins"}) {
            if (fs::is_symlink(fs::symlink_status(part)))
                return {false, "\"" + part.string() + "\" is a symbolic link"};
            fs::create_directories(part);
        }
        const fs::path mediaFolder = fs::absolute(root / "media");
        const std::string mediaFailure = saveMedia(project, root, mediaFolder, collectAll);
        if (!writeFileDurably(root / documentName, toJson(project)))
            return {false, "cannot write project.json"};
        project.rootPath = folder;
        if (!mediaFailure.empty()) return {false, mediaFailure};
        return {true, {}};
    } catch (const std::exception &exception) {
        return {false, exception.what()};
    }
}

void forgetWrittenMedia() { mediaLedger().clear(); }

std::optional<Project> loadProject(const std::string &folder, std::string *error) {
    const fs::path document = fs::path(folder) / documentName;
    try {
        const std::optional<std::string> text = readDocument(document, error);
        if (!text) return std::nullopt;
        std::string parseError;
        std::optional<Project> project = fromJson(*text, &parseError);
        if (!project) {
            if (error) *error = "\"" + document.string() + "\" does not parse: " + parseError;
            return std::nullopt;
        }
        project->rootPath = folder;
        raiseIdCounters(*project);
        return project;
    } catch (const std::bad_alloc &) {
        if (error) *error = "not enough memory to load \"" + document.string() + "\"";
        return std::nullopt;
    }
}

bool hydrateProjectMedia(Project &project, std::vector<MediaLoadFailure> &failures) {
    failures.clear();
    if (project.rootPath.empty()) {
        failures.push_back({0, {}, "project has no root path"});
        return false;
    }
    forEachAudioClip(project, [&](Clip &clip) {
        if (clip.audioFile.empty() || hasAudio(clip)) return;
        const fs::path path = resolveMedia(project.rootPath, clip.audioFile);
        std::string reason;
        if (!loadClipMedia(clip, path, project, reason))
            failures.push_back({clip.id, path.string(), reason});
    });
    return failures.empty();
}

bool hydrateProjectMedia(Project &project, std::string *error) {
    std::vector<MediaLoadFailure> failures;
    if (hydrateProjectMedia(project, failures)) return true;
    if (error) {
        const MediaLoadFailure &last = failures.back();
        *error = last.path.empty() ? last.reason : "cannot load " + last.path + ": " + last.reason;
    }
    return false;
}

std::vector<MissingMediaEntry> findMissingMedia(const Project &project) {
    std::vector<MissingMediaEntry> missing;
    if (project.rootPath.empty()) return missing;
    forEachAudioClip(project, [&](const Clip &clip) {
        if (clip.audioFile.empty() || hasAudio(clip)) return;
        std::error_code error;
        if (!fs::exists(resolveMedia(project.rootPath, clip.audioFile), error))
            missing.push_back({clip.id, clip.audioFile});
    });
    return missing;
}

bool relinkClipMedia(Project &project, uint64_t clipId, const std::string &path,
                     std::string *error) {
    const std::shared_ptr<Clip> clip = project.findClip(clipId);
    if (!clip || clip->kind != ClipKind::Audio) {
        if (error) *error = "clip not found";
        return false;
    }
    std::string reason;
    if (!loadClipMedia(*clip, path, project, reason)) {
        if (error) *error = "cannot import " + path + ": " + reason;
        return false;
    }
    const fs::path file(path);
    clip->audioFile = file.filename().string();
    if (!project.rootPath.empty()) {
        std::error_code failure;
        const fs::path relative =
            fs::absolute(file, failure).lexically_relative(fs::absolute(project.rootPath, failure));
        if (!failure && !relative.empty()) clip->audioFile = relative.string();
    }
    return true;
}

int relinkMissingFromFolder(Project &project, const std::vector<MissingMediaEntry> &missing,
                            const std::string &folder) {
    if (missing.empty() || folder.empty()) return 0;
    std::unordered_map<std::string, std::string> filesByName;
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        std::error_code statusError;
        if (walk->is_regular_file(statusError))
            filesByName.emplace(walk->path().filename().string(), walk->path().string());
    }
    int relinked = 0;
    for (const MissingMediaEntry &entry : missing) {
        const auto found = filesByName.find(fs::path(entry.audioFile).filename().string());
        if (found != filesByName.end() && relinkClipMedia(project, entry.clipId, found->second))
            ++relinked;
    }
    return relinked;
}

} // namespace orvane::project_io

namespace orvane {

namespace {

namespace fs = std::filesystem;

bool sameContents(const fs::path &first, const fs::path &second) {
    std::error_code error;
    if (fs::file_size(first, error) != fs::file_size(second, error) || error) return false;
    std::ifstream a(first, std::ios::binary);
    std::ifstream b(second, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(a), std::istreambuf_iterator<char>(),
                      std::istreambuf_iterator<char>(b), std::istreambuf_iterator<char>());
}

/// The source's own name, or "stem (n)ext" for the first n from 2 that is free, unless the
/// file of that name already holds the same bytes.
fs::path mediaTargetFor(const fs::path &source, const fs::path &mediaFolder) {
    const fs::path wanted = mediaFolder / source.filename();
    std::error_code error;
    if (!fs::exists(wanted, error) || sameContents(source, wanted)) return wanted;
    for (int copy = 2;; ++copy) {
        const fs::path candidate =
            mediaFolder / (source.stem().string() + " (" + std::to_string(copy) + ")" +
                           source.extension().string());
        if (!fs::exists(candidate, error) || sameContents(source, candidate)) return candidate;
    }
}

} // namespace

bool copyFileIntoProjectMedia(const std::string &source, const std::string &projectRoot,
                              std::string &relativePath) {
    std::error_code error;
    const fs::path mediaFolder = fs::path(projectRoot) / "media";
    fs::create_directories(mediaFolder, error);
    if (error) return false;
    const fs::path target = mediaTargetFor(source, mediaFolder);
    // A file already there holds the same bytes: rewriting it in place could pull pages from
    // under a mapping that reads it.
    if (!fs::exists(target, error)) {
        fs::copy_file(source, target, fs::copy_options::none, error);
        if (error) return false;
    }
    relativePath = (fs::path("media") / target.filename()).string();
    return true;
}

} // namespace orvane

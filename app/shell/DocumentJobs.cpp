#include "app/shell/DocumentJobs.h"

#include "core/stock/DrumKit.h"

#include <filesystem>
#include <memory>
#include <unordered_map>

namespace orvane {

Project copyProjectDocument(const Project &project) {
    Project copy = project;
    for (auto &track : copy.tracks) {
        if (!track) continue;
        track = std::make_shared<Track>(*track);
        for (auto &clip : track->clips)
            if (clip) clip = std::make_shared<Clip>(*clip);
    }
    return copy;
}

namespace {

std::unordered_map<uint64_t, std::string> mediaNamesOf(const Project &project) {
    std::unordered_map<uint64_t, std::string> names;
    for (const auto &track : project.tracks) {
        if (!track) continue;
        for (const auto &clip : track->clips)
            if (clip && clip->kind == ClipKind::Audio) names.emplace(clip->id, clip->audioFile);
    }
    return names;
}

namespace fs = std::filesystem;

bool insideFolder(const fs::path &file, const fs::path &folder) {
    std::error_code error;
    const fs::path parent = fs::weakly_canonical(file, error).parent_path();
    return !error && fs::equivalent(parent, folder, error);
}

/// Copies every drum sample a kit of `snapshot` plays from outside `folder`'s media into it,
/// and rewrites the kit to name the copies. A sample that cannot be copied keeps its name:
/// the kit plays it from where it is while it is there.
std::vector<InstrumentStateRename> collectDrumSamples(Project &snapshot,
                                                      const std::string &folder) {
    std::vector<InstrumentStateRename> renames;
    std::error_code error;
    // A link in place of the folder would carry the copies elsewhere; the save refuses it.
    for (const fs::path &part : {fs::path(folder), fs::path(folder) / "media"})
        if (fs::is_symlink(fs::symlink_status(part, error))) return renames;
    const fs::path media = fs::path(folder) / "media";
    for (const auto &track : snapshot.tracks) {
        if (!track || track->type != TrackType::Midi || track->instrument != drumsInstrumentId)
            continue;
        stock::DrumKit kit;
        if (!stock::readDrumStateText(track->instrumentState, kit, nullptr)) continue;
        bool changed = false;
        for (stock::DrumPad &pad : kit.pads)
            for (stock::DrumLayer &layer : pad.layers) {
                if (layer.file.empty() || layer.file.starts_with(stock::builtinDrumPrefix))
                    continue;
                fs::path source(layer.file);
                if (source.is_relative()) {
                    if (snapshot.rootPath.empty()) continue;
                    source = fs::path(snapshot.rootPath) / source;
                }
                if (fs::exists(media, error) && insideFolder(source, media)) {
                    const std::string relative = (fs::path("media") / source.filename()).string();
                    changed = changed || relative != layer.file;
                    layer.file = relative;
                    continue;
                }
                std::string relative;
                if (!fs::is_regular_file(source, error) ||
                    !copyFileIntoProjectMedia(source.string(), folder, relative))
                    continue;
                layer.file = relative;
                changed = true;
            }
        if (!changed) continue;
        const std::string after = stock::writeDrumStateText(kit);
        renames.push_back({track->id, track->instrumentState, after});
        track->instrumentState = after;
    }
    return renames;
}

} // namespace

SavedDocument saveDocumentSnapshot(Project &snapshot, const std::string &folder, bool collectAll) {
    const auto before = mediaNamesOf(snapshot);
    SavedDocument saved;
    saved.instrumentRenames = collectDrumSamples(snapshot, folder);
    saved.result = project_io::saveProject(snapshot, folder, collectAll);
    for (const auto &[clipId, after] : mediaNamesOf(snapshot)) {
        const auto was = before.find(clipId);
        if (was != before.end() && was->second != after)
            saved.renames.push_back({clipId, was->second, after});
    }
    return saved;
}

void adoptSavedMediaNames(Project &live, const std::vector<MediaRename> &renames,
                          const std::vector<InstrumentStateRename> &instrumentRenames) {
    for (const MediaRename &rename : renames) {
        const std::shared_ptr<Clip> clip = live.findClip(rename.clipId);
        if (clip && clip->audioFile == rename.before) clip->audioFile = rename.after;
    }
    for (const InstrumentStateRename &rename : instrumentRenames) {
        const std::shared_ptr<Track> track = live.findTrack(rename.trackId);
        if (track && track->instrumentState == rename.before) track->instrumentState = rename.after;
    }
}

} // namespace orvane

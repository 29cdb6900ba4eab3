#include "app/shell/DocumentJobs.h"

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

} // namespace

SavedDocument saveDocumentSnapshot(Project &snapshot, const std::string &folder, bool collectAll) {
    const auto before = mediaNamesOf(snapshot);
    SavedDocument saved;
    saved.result = project_io::saveProject(snapshot, folder, collectAll);
    for (const auto &[clipId, after] : mediaNamesOf(snapshot)) {
        const auto was = before.find(clipId);
        if (was != before.end() && was->second != after)
            saved.renames.push_back({clipId, was->second, after});
    }
    return saved;
}

void adoptSavedMediaNames(Project &live, const std::vector<MediaRename> &renames) {
    for (const MediaRename &rename : renames) {
        const std::shared_ptr<Clip> clip = live.findClip(rename.clipId);
        if (clip && clip->audioFile == rename.before) clip->audioFile = rename.after;
    }
}

} // namespace orvane

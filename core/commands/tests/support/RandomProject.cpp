#include "core/commands/tests/support/RandomProject.h"

#include <memory>
#include <string>
#include <vector>

namespace orvane::testing {

namespace {

std::vector<AutomationPoint> randomPoints(Random &random, int count) {
    std::vector<AutomationPoint> points;
    int64_t t = 0;
    for (int i = 0; i < count; ++i) {
        t += between(random, 1, 20000);
        points.push_back({t, static_cast<float>(between(random, 0, 100)) / 100.0f});
    }
    return points;
}

std::shared_ptr<const std::vector<float>> randomSamples(Random &random, int32_t channels) {
    const int64_t frames = between(random, 0, 48);
    std::vector<float> samples;
    for (int64_t i = 0; i < frames * std::max(channels, 1); ++i)
        samples.push_back(static_cast<float>(between(random, -1000, 1000)) / 1000.0f);
    return std::make_shared<const std::vector<float>>(std::move(samples));
}

void fillAudio(Random &random, Clip &clip, const SharedSamples &shared) {
    clip.audioFile = "media/clip_" + std::to_string(clip.id) + ".wav";
    clip.channels = static_cast<int32_t>(between(random, 0, 2));
    if (shared && chance(random, 25))
        clip.audio = shared;
    else if (chance(random, 80))
        clip.audio = randomSamples(random, clip.channels);
}

void fillNotes(Random &random, Clip &clip) {
    const int count = static_cast<int>(between(random, 0, 6));
    for (int i = 0; i < count; ++i) {
        MidiNote note;
        note.pitch = static_cast<int32_t>(48 + 3 * between(random, 0, 5));
        note.velocity = static_cast<float>(between(random, 1, 127)) / 127.0f;
        note.start = between(random, -100, clip.length + 100);
        note.length = between(random, 0, std::max<int64_t>(clip.length, 1));
        clip.notes.push_back(note);
    }
}

void fillClip(Random &random, Clip &clip, int32_t column, const SharedSamples &shared) {
    static constexpr int64_t takeStarts[] = {0, 48000, 96000};
    clip.arrangeStart =
        chance(random, 50) ? takeStarts[between(random, 0, 2)] : between(random, 0, 200000);
    clip.length = chance(random, 10) ? between(random, 0, 1) : between(random, 2, 96000);
    clip.sourceOffset = between(random, 0, 4000);
    clip.loop = chance(random, 20);
    clip.loopLength = chance(random, 50) ? 0 : between(random, 1, 96000);
    clip.gain = static_cast<float>(between(random, 0, 300)) / 100.0f;
    clip.fadeIn = between(random, 0, 2000);
    clip.fadeOut = between(random, 0, 2000);
    clip.stretchRatio = chance(random, 20) ? 1.5 : 1.0;
    if (chance(random, 20)) clip.warpMarkers = {{0, 0}, {between(random, 1, 9000), 4800}};
    if (chance(random, 20)) clip.gainEnvelope = randomPoints(random, 3);
    clip.takeLane = static_cast<int32_t>(between(random, 0, 3));
    clip.takeActive = chance(random, 50);
    if (chance(random, 20)) {
        clip.sessionRow = static_cast<int32_t>(between(random, 0, 3));
        clip.sessionCol = column;
        clip.launchMode = static_cast<SessionLaunchMode>(between(random, 0, 3));
    }
    if (clip.kind == ClipKind::Audio)
        fillAudio(random, clip, shared);
    else
        fillNotes(random, clip);
}

void fillTrack(Random &random, Project &project, Track &track, int32_t column) {
    track.gain = static_cast<float>(between(random, 0, 200)) / 100.0f;
    track.pan = static_cast<float>(between(random, -100, 100)) / 100.0f;
    track.mute = chance(random, 10);
    track.volumeAutomation = randomPoints(random, static_cast<int>(between(random, 0, 3)));
    if (chance(random, 30))
        track.automationClips.push_back({7, 0, 48000, 1, randomPoints(random, 2)});
    if (chance(random, 20))
        track.inserts.push_back({"stock.compressor", "Comp", "", {1, 2, 3}, false, true, 0, {}});
    const ClipKind usual = track.type == TrackType::Midi ? ClipKind::Midi : ClipKind::Audio;
    const ClipKind other = usual == ClipKind::Midi ? ClipKind::Audio : ClipKind::Midi;
    SharedSamples shared;
    const int count = static_cast<int>(between(random, 0, 6));
    for (int i = 0; i < count; ++i) {
        const auto clip = project.addClip(track.id, chance(random, 10) ? other : usual);
        fillClip(random, *clip, column, shared);
        if (clip->audio) shared = clip->audio;
    }
}

void addScenes(Random &random, Project &project) {
    std::vector<uint64_t> sessionClipIds{0};
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (clip->isSessionClip()) sessionClipIds.push_back(clip->id);
    const int count = static_cast<int>(between(random, 0, 3));
    for (int i = 0; i < count; ++i) {
        Scene scene;
        scene.id = project.nextSceneId++;
        scene.name = "Сцена " + std::to_string(scene.id);
        for (std::size_t slot = 0; slot < project.tracks.size(); ++slot)
            scene.clips.push_back(sessionClipIds[between(
                random, 0, static_cast<int64_t>(sessionClipIds.size()) - 1)]);
        project.session.scenes.push_back(scene);
    }
}

} // namespace

int64_t between(Random &random, int64_t lo, int64_t hi) {
    if (hi <= lo) return lo;
    return lo + static_cast<int64_t>(random() % static_cast<uint64_t>(hi - lo + 1));
}

bool chance(Random &random, int percent) { return between(random, 1, 100) <= percent; }

Project randomProject(Random &random) {
    Project project;
    project.name = "Проект " + std::to_string(between(random, 1, 999));
    project.tempoBpm = static_cast<double>(between(random, 60, 180));
    static constexpr TrackType types[] = {TrackType::Audio, TrackType::Midi, TrackType::Audio,
                                          TrackType::Midi, TrackType::Return};
    const int trackCount = static_cast<int>(between(random, 1, 4));
    for (int i = 0; i < trackCount; ++i) {
        const auto track =
            project.addTrack(types[between(random, 0, 4)], chance(random, 50) ? "" : "Бас");
        fillTrack(random, project, *track, i);
    }
    addScenes(random, project);
    // Ids of deleted objects are never handed out again, so counters usually run ahead.
    project.nextTrackId += static_cast<uint64_t>(between(random, 0, 2));
    project.nextClipId += static_cast<uint64_t>(between(random, 0, 2));
    return project;
}

} // namespace orvane::testing

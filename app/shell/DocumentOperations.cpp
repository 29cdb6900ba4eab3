#include "app/shell/DocumentOperations.h"

#include "core/model/MusicalTime.h"
#include "core/model/Translate.h"

#include <algorithm>
#include <limits>

namespace orvane {

namespace {

bool isOrdinaryTrack(const Track &track) {
    return track.type != TrackType::Unused && track.type != TrackType::Return;
}

std::vector<uint64_t> returnTrackIds(const Project &project) {
    std::vector<uint64_t> ids;
    for (const auto &track : project.tracks)
        if (track && track->type == TrackType::Return) ids.push_back(track->id);
    return ids;
}

int64_t beatsFromStart(const Project &project, double beats) {
    return musicalBeatsToSamples(beats, project.sampleRate, project.tempoMarkers, project.tempoBpm);
}

std::shared_ptr<Clip> addMidiClip(Project &project, uint64_t trackId, int64_t length) {
    auto clip = project.addClip(trackId, ClipKind::Midi);
    clip->length = length;
    return clip;
}

} // namespace

void HVEnsureReturnTracks(Project &project) {
    if (returnTrackIds(project).empty()) project.addTrack(TrackType::Return, "Reverb A");
    if (returnTrackIds(project).size() < 2) project.addTrack(TrackType::Return, "Delay B");
    const std::vector<uint64_t> returns = returnTrackIds(project);
    for (const auto &track : project.tracks) {
        if (!track || !isOrdinaryTrack(*track)) continue;
        for (std::size_t slot = 0; slot < 2; ++slot)
            if (track->sends[slot].returnId == 0) track->sends[slot].returnId = returns[slot];
    }
}

Project buildStartupProject(double sampleRate) {
    Project project;
    project.name = "Untitled";
    project.sampleRate = sampleRate;
    auto midi =
        project.addTrack(TrackType::Midi, withArguments(translate("Track", "MIDI %1"), {"1"}));
    project.addTrack(TrackType::Audio, withArguments(translate("Track", "Audio %1"), {"1"}));

    const int64_t beat = beatsFromStart(project, 1.0);
    const double barBeats = beatsPerBar(usableMeter(project.timeSignature));
    auto phrase = addMidiClip(project, midi->id, beatsFromStart(project, 4.0 * barBeats));
    const int32_t pitches[3] = {60, 64, 67};
    for (int32_t index = 0; index < 3; ++index)
        phrase->notes.push_back(
            MidiNote{pitches[index], 0.85f, beatsFromStart(project, index), beat, 1.0f, 0.0f});

    const int64_t bar = beatsFromStart(project, barBeats);
    auto loop = addMidiClip(project, midi->id, bar);
    loop->name = "Loop A";
    loop->sessionRow = 0;
    loop->sessionCol = 1;
    loop->loop = true;
    loop->loopLength = bar;
    loop->notes.push_back(MidiNote{48, 0.9f, 0, beatsFromStart(project, 0.5), 1.0f, 0.0f});

    HVEnsureReturnTracks(project);
    return project;
}

int64_t arrangementExportLength(const Project &project) {
    const double fourBars = 4.0 * beatsPerBar(usableMeter(project.timeSignature));
    int64_t end = std::max(beatsFromStart(project, fourBars), project.lengthSamples);
    for (const auto &track : project.tracks) {
        if (!track) continue;
        for (const auto &clip : track->clips)
            if (clip && !clip->isSessionClip())
                end = std::max(
                    end, saturatingAdd(clip->arrangeStart, std::max<int64_t>(clip->length, 1)));
    }
    return saturatingAdd(end, beatsFromStart(project, 1.0));
}

} // namespace orvane

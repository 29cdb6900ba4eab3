#include "core/midifile/MidiConversion.h"
#include "core/model/SaturatingMath.h"

#include "core/model/MusicalTime.h"
#include "core/model/TempoMapIndex.h"
#include "core/stock/GmPlayer.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace orvane::midifile {

namespace {

constexpr int32_t exportTicksPerQuarter = 480;

double bpmOf(uint32_t microsecondsPerQuarter) {
    return 60'000'000.0 / static_cast<double>(std::max<uint32_t>(microsecondsPerQuarter, 1));
}

uint32_t microsecondsOf(double bpm) {
    return static_cast<uint32_t>(
        std::clamp(std::llround(60'000'000.0 / usableBpm(bpm)), 1LL, 0xFFFFFFLL));
}

/// The file's tempo map in samples: each change placed by the time the changes before it
/// take to reach it.
ImportedTimeMaps timeMapsOf(const MidiFile &file, double sampleRate) {
    ImportedTimeMaps maps;
    const double ticksPerBeat = std::max(file.ticksPerQuarter, 1);
    // The map grows as the changes are read; each is placed by one search of what came
    // before it, so that a file of many changes imports in n log n, not n².
    TempoMapIndex placed(sampleRate, maps.tempoBpm);
    for (const FileTempo &tempo : file.tempos) {
        const double bpm = bpmOf(tempo.microsecondsPerQuarter);
        if (tempo.tick == 0) {
            maps.tempoBpm = bpm;
            maps.tempoMarkers.clear();
            placed = TempoMapIndex(sampleRate, bpm);
            continue;
        }
        const int64_t position =
            placed.beatsToSamples(static_cast<double>(tempo.tick) / ticksPerBeat);
        maps.tempoMarkers.push_back({position, bpm});
        placed.add({position, bpm});
    }
    for (const FileMeter &meter : file.meters) {
        const TimeSignature signature{meter.numerator, meter.denominator};
        if (meter.tick == 0) {
            maps.timeSignature = signature;
            continue;
        }
        maps.meterMarkers.push_back(
            {placed.beatsToSamples(static_cast<double>(meter.tick) / ticksPerBeat),
             signature.numerator, signature.denominator});
    }
    return maps;
}

float velocityOf(int32_t velocity) {
    return static_cast<float>(std::clamp(velocity, 1, 127)) / 127.0f;
}

int32_t fileVelocity(float velocity) {
    return std::clamp(static_cast<int32_t>(std::lround(velocity * 127.0f)), 1, 127);
}

/// Converts under one tempo map, sorted once for every note and marker it places.
struct SampleClock {
    SampleClock(double sampleRate, const std::vector<TempoMarker> &markers, double bpm)
        : index(sampleRate, markers, bpm) {}
    TempoMapIndex index;
    int64_t samplesAt(double beats) const { return index.beatsToSamples(beats); }
    double beatsAt(int64_t samples) const { return index.samplesToBeats(samples); }
};

int64_t ticksOf(double beats) {
    return std::max<int64_t>(std::llround(beats * exportTicksPerQuarter), 0);
}

void addClipNotes(const Clip &clip, const SampleClock &clock, int64_t origin, FileTrack &track) {
    const double originBeats = clock.beatsAt(origin);
    for (const MidiNote &note : clip.notes) {
        if (note.start < 0 || note.start >= clip.length) continue;
        const int64_t start = clip.arrangeStart + note.start;
        const int64_t end = clip.arrangeStart + std::min(note.start + note.length, clip.length);
        const int64_t startTick = ticksOf(clock.beatsAt(start) - originBeats);
        const int64_t endTick = ticksOf(clock.beatsAt(end) - originBeats);
        track.notes.push_back({0, std::clamp(note.pitch, 0, 127), fileVelocity(note.velocity),
                               startTick, std::max<int64_t>(endTick - startTick, 1)});
    }
}

FileTrack trackOf(const Track &track, const SampleClock &clock) {
    FileTrack file;
    file.name = track.name;
    for (const auto &clip : track.clips)
        if (clip && clip->kind == ClipKind::Midi && !clip->isSessionClip())
            addClipNotes(*clip, clock, 0, file);
    std::stable_sort(
        file.notes.begin(), file.notes.end(), [](const FileNote &a, const FileNote &b) {
            return a.startTick != b.startTick ? a.startTick < b.startTick : a.pitch < b.pitch;
        });
    return file;
}

void addTimeMaps(const Project &project, const SampleClock &clock, int64_t origin, MidiFile &file) {
    const double originBeats = clock.beatsAt(origin);
    file.tempos.push_back(
        {0, microsecondsOf(tempoAtPosition(origin, project.tempoMarkers, project.tempoBpm))});
    for (const TempoMarker &marker : sortedTempoMarkers(project.tempoMarkers))
        if (marker.position > origin)
            file.tempos.push_back({ticksOf(clock.beatsAt(marker.position) - originBeats),
                                   microsecondsOf(marker.bpm)});
    const TimeSignature first =
        usableMeter(meterAtPosition(origin, project.meterMarkers, project.timeSignature));
    file.meters.push_back({0, first.numerator, first.denominator});
    for (const MeterMarker &marker : project.meterMarkers)
        if (marker.position > origin)
            file.meters.push_back({ticksOf(clock.beatsAt(marker.position) - originBeats),
                                   std::max(marker.num, 1), std::max(marker.den, 1)});
    std::stable_sort(file.meters.begin(), file.meters.end(),
                     [](const FileMeter &a, const FileMeter &b) { return a.tick < b.tick; });
}

/// A file track's General MIDI part. A track that mixes channels (format 0 files keep the
/// whole song in one) plays as the channel most of its notes use, the lowest on a tie.
stock::GmSettings generalMidiPartOf(const FileTrack &track) {
    std::array<std::size_t, 16> counts{};
    for (const FileNote &note : track.notes)
        ++counts[static_cast<std::size_t>(std::clamp(note.channel, 0, 15))];
    const auto channel =
        static_cast<std::size_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
    stock::GmSettings part;
    constexpr std::size_t drumChannel = 9; // channel 10 as a General MIDI file counts
    part.drums = channel == drumChannel;
    part.program = std::max(track.programs[channel], 0);
    return part;
}

} // namespace

MidiImport planMidiImport(const MidiFile &file, const Project &project, bool takeTimeMaps,
                          const std::function<bool(double)> &progress) {
    MidiImport plan;
    if (takeTimeMaps) plan.maps = timeMapsOf(file, project.sampleRate);
    const std::vector<TempoMarker> &markers =
        plan.maps ? plan.maps->tempoMarkers : project.tempoMarkers;
    const SampleClock clock{project.sampleRate, markers,
                            plan.maps ? plan.maps->tempoBpm : project.tempoBpm};
    const double ticksPerBeat = std::max(file.ticksPerQuarter, 1);
    int number = 0;
    for (const FileTrack &track : file.tracks) {
        ++number;
        if (track.notes.empty()) continue;
        ImportedMidiTrack imported;
        imported.name = track.name.empty() ? "MIDI " + std::to_string(number) : track.name;
        imported.clip.kind = ClipKind::Midi;
        imported.clip.name = imported.name;
        imported.instrument = std::string(gmInstrumentId);
        imported.instrumentState = stock::writeGmStateText(generalMidiPartOf(track));
        int64_t end = 0;
        for (const FileNote &note : track.notes) {
            const int64_t start =
                clock.samplesAt(static_cast<double>(note.startTick) / ticksPerBeat);
            const int64_t stop = clock.samplesAt(
                static_cast<double>(note.startTick + note.lengthTicks) / ticksPerBeat);
            MidiNote added;
            added.pitch = note.pitch;
            added.velocity = velocityOf(note.velocity);
            added.start = start;
            added.length = std::max<int64_t>(stop - start, 1);
            imported.clip.notes.push_back(added);
            end = std::max(end, saturatingAdd(added.start, added.length));
        }
        // The clip runs to the end of the bar its last note ends in.
        const double bar =
            beatsPerBar(usableMeter(plan.maps ? plan.maps->timeSignature : project.timeSignature));
        const double endBeats = clock.beatsAt(end);
        imported.clip.length =
            std::max(clock.samplesAt(std::ceil(endBeats / bar - 1e-9) * bar), end);
        plan.tracks.push_back(std::move(imported));
        if (progress &&
            !progress(static_cast<double>(number) / static_cast<double>(file.tracks.size()))) {
            plan.tracks.clear();
            return plan;
        }
    }
    return plan;
}

bool planFitsTimeline(const MidiImport &plan, int64_t startSamples) {
    if (startSamples < 0 || startSamples >= timelineLimit) return false;
    const int64_t room = timelineLimit - startSamples;
    for (const ImportedMidiTrack &track : plan.tracks) {
        // Lengths and ends are checked, not only starts: the clip is as long as its last note.
        if (track.clip.length >= room) return false;
        for (const MidiNote &note : track.clip.notes)
            if (note.start < 0 || note.start >= room || note.length >= room - note.start)
                return false;
    }
    return true;
}

std::optional<MidiFile> midiFileFromProject(const Project &project, MidiExportScope scope,
                                            uint64_t id, std::string &error) {
    const SampleClock clock{project.sampleRate, project.tempoMarkers, project.tempoBpm};
    MidiFile file;
    file.ticksPerQuarter = exportTicksPerQuarter;
    int64_t origin = 0;
    if (scope == MidiExportScope::Clip) {
        const auto clip = project.findClip(id);
        if (!clip || clip->kind != ClipKind::Midi) {
            error = "no MIDI clip with id " + std::to_string(id);
            return std::nullopt;
        }
        origin = clip->arrangeStart;
        FileTrack track;
        const auto owner = project.findTrack(clip->trackId);
        track.name = clip->name.empty() && owner ? owner->name : clip->name;
        addClipNotes(*clip, clock, origin, track);
        file.tracks.push_back(std::move(track));
    } else if (scope == MidiExportScope::Track) {
        const auto track = project.findTrack(id);
        if (!track || track->type != TrackType::Midi) {
            error = "no MIDI track with id " + std::to_string(id);
            return std::nullopt;
        }
        file.tracks.push_back(trackOf(*track, clock));
    } else {
        for (const auto &track : project.tracks)
            if (track && track->type == TrackType::Midi)
                file.tracks.push_back(trackOf(*track, clock));
        if (file.tracks.empty()) {
            error = "the project has no MIDI track";
            return std::nullopt;
        }
    }
    addTimeMaps(project, clock, origin, file);
    return file;
}

} // namespace orvane::midifile

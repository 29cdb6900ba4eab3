#pragma once

#include "core/midifile/MidiFile.h"
#include "core/model/Project.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Between a MIDI file's ticks and a project's samples, through beats: a note keeps its
// place in the music under whichever tempo map the project plays.
namespace orvane::midifile {

/// One MIDI track to add: a name, one clip starting at 0 that holds every note, and the
/// General MIDI player at the file track's program (the percussion kit for channel 10).
struct ImportedMidiTrack {
    std::string name;
    Clip clip;
    std::string instrument;
    std::string instrumentState;
};

/// The tempo and meter maps a file brings, in the project's samples.
struct ImportedTimeMaps {
    double tempoBpm = 120.0;
    std::vector<TempoMarker> tempoMarkers;
    TimeSignature timeSignature;
    std::vector<MeterMarker> meterMarkers;
};

struct MidiImport {
    std::vector<ImportedMidiTrack> tracks;
    /// Set when the file's maps replace the project's.
    std::optional<ImportedTimeMaps> maps;
};

/// What importing `file` into `project` adds: one track per file track with notes (named
/// after the track, else "MIDI n") playing the General MIDI player as the file asks for
/// (the program of the channel most of its notes use; channel 10 as drums), placed under the file's
/// tempo map when `takeTimeMaps`, else under the project's.
/// `progress`, when given, hears the fraction done after each track and stops the planning
/// (leaving the plan without tracks) by returning false.
MidiImport planMidiImport(const MidiFile &file, const Project &project, bool takeTimeMaps,
                          const std::function<bool(double)> &progress = {});

/// Whether the planned clips, placed at `startSamples`, end before `timelineLimit`: a file can
/// place notes at ticks no song reaches, which a render of the saved project would refuse.
bool planFitsTimeline(const MidiImport &plan, int64_t startSamples);

/// What to write: the arrangement clips of one track, or of every MIDI track (one file track
/// each), or one clip alone (its notes from its own start).
enum class MidiExportScope : uint8_t { Song, Track, Clip };

/// A format 1 file of the project's notes with its tempo and meter maps, at 480 ticks a
/// quarter. nullopt with `error` when the track or clip is not there or holds no MIDI.
std::optional<MidiFile> midiFileFromProject(const Project &project, MidiExportScope scope,
                                            uint64_t id, std::string &error);

} // namespace orvane::midifile

#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Standard MIDI Files as notes, a tempo map and a meter map: what moves between programs.
// Controllers, sysex and other meta events are read past safely and not kept.
namespace orvane::midifile {

struct FileNote {
    int32_t channel = 0;    // 0..15
    int32_t pitch = 60;     // 0..127
    int32_t velocity = 100; // 1..127
    int64_t startTick = 0;
    int64_t lengthTicks = 0;
    bool operator==(const FileNote &) const = default;
};

struct FileTempo {
    int64_t tick = 0;
    uint32_t microsecondsPerQuarter = 500000;
    bool operator==(const FileTempo &) const = default;
};

struct FileMeter {
    int64_t tick = 0;
    int32_t numerator = 4;
    int32_t denominator = 4;
    bool operator==(const FileMeter &) const = default;
};

struct FileTrack {
    std::string name;
    std::vector<FileNote> notes; // by start, then pitch
    /// Per channel, the program its first program change in the track selects (0..127), or
    /// `noProgram`: what a General MIDI player plays the channel's notes with.
    static constexpr int32_t noProgram = -1;
    std::array<int32_t, 16> programs = filledPrograms();

  private:
    static constexpr std::array<int32_t, 16> filledPrograms() {
        std::array<int32_t, 16> all{};
        all.fill(noProgram);
        return all;
    }
};

struct MidiFile {
    int32_t format = 1;
    int32_t ticksPerQuarter = 480;
    /// Every track of the file, those without notes included, in file order.
    std::vector<FileTrack> tracks;
    /// Tempo and meter changes of all tracks, by tick.
    std::vector<FileTempo> tempos;
    std::vector<FileMeter> meters;
};

/// Reads a format 0 or 1 file with a ticks-per-quarter division. Running status, sysex and
/// every meta event are understood; a note still sounding at the end of its track ends there.
/// False with `error` saying what is wrong for anything else, with `file` then untouched.
[[nodiscard]] bool readMidiFile(std::span<const uint8_t> bytes, MidiFile &file, std::string &error);
/// The same from a file on disk, refusing what is not a regular file or is over 64 MB.
[[nodiscard]] bool readMidiFileAt(const std::string &path, MidiFile &file, std::string &error);

/// Format 1: a first track with the tempo and meter maps, then one track per file track with
/// its name and notes. Running status is used between events of one channel.
std::vector<uint8_t> writeMidiFile(const MidiFile &file);
/// Writes it into the open file `descriptor`; false with `errno` when a write failed.
[[nodiscard]] bool writeMidiFileTo(int descriptor, const MidiFile &file);
/// Writes it through a temporary file beside `path`, of a name no other file has, that
/// replaces it once complete. Nothing else in the folder is touched.
[[nodiscard]] bool writeMidiFileAt(const std::string &path, const MidiFile &file,
                                   std::string &error);

} // namespace orvane::midifile

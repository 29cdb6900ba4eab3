#pragma once

#include "app/cli/SyncArguments.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

/// A range of samples given as "START:END".
struct SampleRange {
    int64_t start = 0;
    int64_t end = 0;
};

struct RecordVerbOptions {
    std::string projectFolder;
    bool demo = false; // refused: a recording needs a project to save into
    /// Every --track in order: the audio tracks record the device's input pairs in this
    /// order (the first in_1 and in_2, the next in_3 and in_4, ...); one MIDI track may record
    /// the MIDI input beside them.
    std::vector<uint64_t> trackIds;
    double seconds = 0.0;
    std::optional<SampleRange> punch;
    std::optional<SampleRange> cycle;
    std::string device; // "jack", "alsa", "null", a device name, or empty
    std::optional<int32_t> bufferFrames;
    int64_t start = 0;
    bool connect = true;
    /// `--jack-transport`, `--midi-clock`, `--follow-clock-tempo`.
    SyncArguments sync{};
    bool help = false;
};

/// Reads the arguments after "record". False with `error` set for anything it does not
/// understand or that is missing (the track and the length are required).
[[nodiscard]] bool parseRecordArguments(const std::vector<std::string> &arguments,
                                        RecordVerbOptions &options, std::string &error);

/// "START:END" with 0 <= START < END; nullopt otherwise.
std::optional<SampleRange> parseSampleRange(const std::string &text);

/// The whole command: load the project, play it from `--start` on the device while the
/// tracks record their input (audio from one of the device's input pairs on each audio
/// track, notes from the MIDI input on a MIDI track) for `--seconds`, place the takes (punch
/// and cycle applied) and save the project. One summary line goes to `output`. Returns 0
/// when the project was saved (or nothing was recorded and it was left alone), 1 when the
/// project or device cannot be used, saving failed or the device went away during the take
/// (what was recorded until then is still placed and saved), 2 for a usage error.
int runRecordVerb(const std::vector<std::string> &arguments, std::FILE *output, std::FILE *errors);

const char *recordVerbHelp();

} // namespace orvane

#pragma once

#include "app/cli/SyncArguments.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

struct PlayVerbOptions {
    std::string projectFolder; // empty with `demo`
    bool demo = false;
    std::string device;                  // "jack", "alsa", "null", a device name, or empty
    std::optional<int32_t> bufferFrames; // 64…4096
    int64_t start = 0;
    std::optional<double> seconds;
    bool connect = true;
    /// `--jack-transport`, `--midi-clock`, `--follow-clock-tempo`.
    SyncArguments sync{};
    bool help = false;
};

/// What the summary line tells about a finished playback.
struct PlaySummary {
    std::string device;
    double sampleRate = 48000.0;
    int32_t bufferFrames = 0;
    int64_t playedFrames = 0;
    uint64_t blocks = 0;
    uint64_t xruns = 0;
    double meanLoad = 0.0;
    double worstLoad = 0.0;
    bool interrupted = false; // Ctrl-C
};

/// Reads the arguments after "play". False with `error` set for anything it does not
/// understand.
[[nodiscard]] bool parsePlayArguments(const std::vector<std::string> &arguments,
                                      PlayVerbOptions &options, std::string &error);

/// "jack", "alsa" and "null" name the back ends' devices; anything else must be the exact
/// name of a listed device. Empty when nothing of that name exists.
std::string resolveDeviceChoice(const std::string &choice,
                                const std::vector<std::string> &deviceNames);

std::string describePlaySummary(const PlaySummary &summary);

/// The whole command: load (or build the demo), open the device, play the arrangement from
/// `--start` in real time, and stop at the end, on Ctrl-C or when the device goes away. The
/// live display goes to `errors` when it is a terminal, the summary line to `output`.
/// Returns 0 when playback ran to its end or was interrupted, 1 when the project or device
/// cannot be used or the device was lost, 2 for a usage error.
int runPlayVerb(const std::vector<std::string> &arguments, std::FILE *output, std::FILE *errors);

const char *playVerbHelp();

} // namespace orvane

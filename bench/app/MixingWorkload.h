#pragma once

#include <cstdint>
#include <filesystem>

namespace orvane::bench {

/// Writes the mixing workload into `folder` unless it is there already: 32 tracks, each one
/// 60-second 16-bit stereo clip at 48 kHz with its own gain and pan, channel EQ off or with
/// `eqBands` enabled bands, no master processing. Beside "project.json" it writes
/// "peers.txt", one line per track: the media file and the left and right gains the track's
/// fader and pan give, so that other mixers can be asked for the same mix.
std::filesystem::path writeMixingProject(const std::filesystem::path &folder, int32_t eqBands);

} // namespace orvane::bench

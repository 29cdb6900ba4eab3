#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "device/TransportSyncSettings.h"

namespace orvane {

/// The user's audio choices, kept between runs. Devices are remembered by name: device
/// numbers change whenever hardware or sound servers come and go.
struct DeviceSettings {
    std::string outputDevice; // "hv.outputDevice"; empty = choose automatically
    std::string inputDevice;  // "hv.inputDevice"; empty = the output device's input
    int32_t bufferSize = 512; // "hv.bufferSize", always within 64…4096
    /// "hv.jackTransport" (off, lead, follow), "hv.midiClock" (off, out, in) and
    /// "hv.followClockTempo" (0, 1).
    TransportSyncSettings sync{};
};

inline constexpr int32_t smallestBufferFrames = 64;
inline constexpr int32_t largestBufferFrames = 4096;

int32_t clampBufferFrames(int64_t frames);

/// The user's home: "HOME", else the user database; empty when neither names one. Never a
/// shared folder such as /tmp that another user could prepare.
std::filesystem::path userHomeFolder();

/// "$XDG_CONFIG_HOME/Halvora/settings.ini", else "$HOME/.config/Halvora/settings.ini"; with
/// HOME unset, the home folder from the user database. Empty when no home can be found.
std::filesystem::path deviceSettingsPath();

/// Reads the keys from `path`. A missing file gives the defaults; a damaged line or an
/// unusable value is skipped (that key keeps its default) and described in `warnings`.
DeviceSettings loadDeviceSettings(const std::filesystem::path &path,
                                  std::string *warnings = nullptr);

/// Writes the keys into `path`, keeping every other line of the file (first-run state
/// and whatever else the application stores there). The file is replaced only once the new
/// one is completely written. False with `error` set when it cannot be written.
[[nodiscard]] bool saveDeviceSettings(const std::filesystem::path &path,
                                      const DeviceSettings &settings, std::string &error);

} // namespace orvane

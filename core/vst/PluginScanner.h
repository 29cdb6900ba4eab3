#pragma once

#include "core/vst/PluginDescription.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvane::vst {

/// Handed to the scan's progress callback once per bundle.
struct ScanProgress {
    int current = 0; // 1-based number of the bundle being looked at
    int total = 0;
    std::string path;
};

using ScanProgressCallback = std::function<void(const ScanProgress &)>;

/// Folders searched for ".vst3" bundles: "$HOME/.vst3", "/usr/lib/vst3", "/usr/local/lib/vst3",
/// or, when VST3_PATH is set, its colon-separated folders instead.
std::vector<std::string> defaultVst3Paths();

/// The per-user support folder, created with its parents on every call (failures ignored):
/// "$XDG_DATA_HOME/Halvora", else "$HOME/.local/share/Halvora", with the home folder taken from
/// the user database when HOME is unset.
std::string halvoraSupportDir();
std::string defaultVstCompatPath();
std::string defaultVstBlacklistPath();
std::string defaultVstWhitelistPath();

/// Patterns of an allow-list file: empty lines and lines starting with "#" are skipped. Empty
/// when the file cannot be opened.
std::vector<std::string> loadVstWhitelist(const std::string &path);
/// True when no patterns are given, or when a pattern equals the uid or occurs, ignoring ASCII
/// case, in the name, uid or vendor.
bool pluginMatchesWhitelist(const PluginDescription &description,
                            const std::vector<std::string> &patterns);

/// Sets the browser tags from keywords in the name, category and vendor ("FX" when none fits).
void assignPluginTags(PluginDescription &description);

/// A class id as 32 uppercase hexadecimal digits, bytes in storage order.
std::string tuidToHex(const std::array<uint8_t, 16> &id);

/// Finds plug-in bundles (the walk) and the classes inside them (the factory pass), keeping a
/// blacklist of uids or bundle paths to leave out.
class PluginScanner {
  public:
    std::vector<std::string> searchPaths;
    std::vector<std::string> blacklist;
    std::vector<PluginDescription> results;

    void setSearchPaths(std::vector<std::string> paths);
    void setBlacklist(std::vector<std::string> uids);
    void addToBlacklist(const std::string &uid);
    bool saveBlacklist(const std::string &path) const;
    bool loadBlacklist(const std::string &path);

    /// The bundle walk: one description per ".vst3" bundle, no plug-in code loaded.
    std::vector<PluginDescription> scan(const ScanProgressCallback &progress = {});
    /// The walk, then every bundle's factory: one description per audio class.
    std::vector<PluginDescription> scanWithFactory(const ScanProgressCallback &progress = {});

    bool saveScanCache(const std::string &path) const;
    bool loadScanCache(const std::string &path);

  private:
    bool isBlacklisted(const std::string &uid) const;
};

} // namespace orvane::vst

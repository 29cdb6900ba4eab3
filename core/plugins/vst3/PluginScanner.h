#pragma once

#include "core/plugins/PluginDescription.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
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

/// "$XDG_DATA_HOME", else "$HOME/.local/share", with the home folder taken from the user
/// database when HOME is unset.
std::string userDataHome();

/// The per-user support folder, created with its parents on every call (failures ignored):
/// "$XDG_DATA_HOME/Halvora", else "$HOME/.local/share/Halvora", with the home folder taken from
/// the user database when HOME is unset.
std::string halvoraSupportDir();
std::string defaultVstCompatPath();
std::string defaultVstBlacklistPath();
std::string defaultVstWhitelistPath();
/// The scan cache kept between starts: "vst_scan_cache.tsv" in the support folder.
std::string defaultVstScanCachePath();

/// Patterns of an allow-list file: empty lines and lines starting with "#" are skipped. Empty
/// when the file cannot be opened.
std::vector<std::string> loadVstWhitelist(const std::string &path);
/// True when no patterns are given, or when a pattern equals the uid or occurs, ignoring ASCII
/// case, in the name, uid or vendor.
bool pluginMatchesWhitelist(const PluginDescription &description,
                            const std::vector<std::string> &patterns);

/// The tab-separated fields of one line of the plug-in files (an empty line gives one empty
/// field).
std::vector<std::string> splitTabs(const std::string &line);

/// Sets the browser tags from keywords in the name, category and vendor ("FX" when none fits).
void assignPluginTags(PluginDescription &description);

/// A class id as 32 uppercase hexadecimal digits, bytes in storage order.
std::string tuidToHex(const std::array<uint8_t, 16> &id);

/// Loads the bundle in this process and describes its audio classes; absent when the bundle
/// cannot be loaded. The bundle's code runs: call it where a crash may be afforded.
std::optional<std::vector<PluginDescription>> describeBundleClasses(const std::string &bundle);

/// What looking inside one bundle gave: its audio classes, or why there are none.
struct BundleClasses {
    enum Outcome { described, notLoadable, crashed };
    Outcome outcome = notLoadable;
    std::vector<PluginDescription> classes;
};
/// Looks inside one bundle, in this process or elsewhere.
using BundleDescriber = std::function<BundleClasses(const std::string &bundle)>;
/// `describeBundleClasses` as a describer: the bundle's code runs in this process.
BundleClasses describeBundleInProcess(const std::string &bundle);

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
    [[nodiscard]] bool saveBlacklist(const std::string &path) const;
    [[nodiscard]] bool loadBlacklist(const std::string &path);

    /// The bundle walk: one description per ".vst3" bundle, no plug-in code loaded.
    std::vector<PluginDescription> scan(const ScanProgressCallback &progress = {});
    /// The walk, then every bundle's factory: one description per audio class.
    std::vector<PluginDescription> scanWithFactory(const ScanProgressCallback &progress = {});
    /// The walk, then every bundle through `describe`: one description per audio class. A
    /// bundle the cache at `cachePath` already describes, and that has not changed since the
    /// cache was written, is taken from it; the cache is rewritten afterwards. A bundle that
    /// crashed its describer is put on the blacklist (by path) and left out; the scan goes on.
    /// `cachePath` may be empty: no cache.
    std::vector<PluginDescription> scanWithDescriber(const BundleDescriber &describe,
                                                     const std::string &cachePath,
                                                     const ScanProgressCallback &progress = {});
    /// Only `bundles` (paths a walk found) through `describe`, as `scanWithDescriber` does, for
    /// a caller that needs the classes of a few bundles and must not run any other's code. The
    /// cache at `cachePath` is read but not rewritten, since this covers part of the folders.
    std::vector<PluginDescription> describeBundles(const std::vector<std::string> &bundles,
                                                   const BundleDescriber &describe,
                                                   const std::string &cachePath);
    /// Bundle paths that crashed their describer during the last `scanWithDescriber` or
    /// `describeBundles`.
    std::vector<std::string> crashedBundles;

    [[nodiscard]] bool saveScanCache(const std::string &path) const;
    [[nodiscard]] bool loadScanCache(const std::string &path);

  private:
    bool isBlacklisted(const std::string &uid) const;
    static std::vector<PluginDescription> cachedDescriptions(const std::string &cachePath);
};

} // namespace orvane::vst

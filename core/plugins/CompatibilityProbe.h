#pragma once

#include <string>
#include <vector>

namespace orvane::vst {

/// One plug-in's outcome in the compatibility report, or one row of the built-in matrix.
struct CompatibilityEntry {
    std::string name;
    std::string id;
    bool loaded = false;
    bool stateSaved = false;
    bool editorOpened = false;
    std::string note;
    /// "VST3" or "LV2".
    std::string format = "VST3";
    /// The first check that failed: "load", "prepare", "state" or "audio"; empty when all
    /// passed.
    std::string failedStage = {};
};

struct VstCompatibilityResult {
    int found = 0;
    int tested = 0;
    int passed = 0;
    int soakBlocks = 0;
    bool sandboxOk = false;
    int whitelistSize = 0;
    std::vector<CompatibilityEntry> entries;
};

/// How the probe runs beyond the Part's two numbers.
struct ProbeSettings {
    /// Scan and test every plug-in in sandbox helpers, so that one that crashes or hangs is
    /// recorded instead of ending the probe.
    bool sandboxed = false;
    /// Where the helper program is; empty means beside the running executable.
    std::string helperFolder;
};

/// One line per plug-in format among the tested entries: how many, how many passed, and how
/// many failed at each check.
std::vector<std::string> probeSummaryByFormat(const std::vector<CompatibilityEntry> &entries);

/// The plug-ins the product is tested against, as data.
std::vector<CompatibilityEntry> builtInTestMatrix();
/// The entries of a report file; empty when it cannot be read. Lines with fewer than five
/// tab-terminated fields are skipped; a flag is true only when it reads "1".
std::vector<CompatibilityEntry> loadCompatibilityReport(const std::string &path);
/// Merges `entries` into the report at `path` by id (a new entry replaces the old one in its
/// place; others are added at the end) and rewrites it; false when it cannot be written.
[[nodiscard]] bool saveCompatibilityReport(const std::string &path,
                                           const std::vector<CompatibilityEntry> &entries);
/// Scans the VST 3 and LV2 folders, runs at most `maximumPlugins` effects (and LV2 instruments)
/// through load, prepare, a state round trip, two blocks and the editor, checks that the sandbox
/// helper hosts one, soaks one plug-in for `soakSeconds` (93.75 blocks of 512 frames a second) and
/// merges the outcome into the report at `defaultVstCompatPath`.
VstCompatibilityResult runVstCompatibilityProbe(int maximumPlugins, int soakSeconds,
                                                const ProbeSettings &settings = {});

} // namespace orvane::vst

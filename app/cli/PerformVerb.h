#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orvane {

/// One step of a headless performance, taken at the top of the block holding `sample`.
struct PerformAction {
    enum class Kind { LaunchClip, LaunchScene, Release, Stop };
    int64_t sample = 0;
    Kind kind = Kind::LaunchClip;
    uint64_t id = 0; // clip or scene id; 0 for stop
};

struct PerformOptions {
    std::string projectFolder;
    std::string outputPath;
    int64_t length = 0;
    int32_t block = 512;
    std::vector<PerformAction> actions; // in the order given
    bool quiet = false;
    bool help = false;
};

/// Reads "SAMPLE:launch-clip:ID", "SAMPLE:launch-scene:ID", "SAMPLE:release:ID" or
/// "SAMPLE:stop". False with `error` set for anything else.
[[nodiscard]] bool parsePerformAction(const std::string &text, PerformAction &action,
                                      std::string &error);

/// Reads the arguments after "perform". False with `error` set for anything it does not
/// understand.
[[nodiscard]] bool parsePerformArguments(const std::vector<std::string> &arguments,
                                         PerformOptions &options, std::string &error);

/// The whole command: load, play the session block by block with the actions, write what the
/// master produced. Returns 0 on success, 1 when the project or output cannot be used, 2 for
/// bad arguments (bad actions and ids the project does not hold included).
int runPerformVerb(const std::vector<std::string> &arguments, std::FILE *output, std::FILE *errors);

const char *performVerbHelp();

} // namespace orvane

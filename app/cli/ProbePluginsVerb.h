#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orvane {

/// `Halvora probe-plugins [--soak SECONDS] [--sandbox]`: runs the plug-in compatibility probe
/// over the installed VST 3 plug-ins, prints the outcome per plug-in, the summary and the
/// built-in test matrix, and merges the outcome into the report file. With `--sandbox` every
/// plug-in is scanned and tested in a helper, so one that crashes is recorded, not fatal.
/// Returns the exit status: 0 probed, 2 bad arguments.
int runProbePluginsVerb(const std::vector<std::string> &arguments, std::FILE *output,
                        std::FILE *errors);

const char *probePluginsHelp();

} // namespace orvane

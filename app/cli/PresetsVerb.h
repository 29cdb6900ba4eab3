#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orvane {

/// `Halvora presets PLUGIN-ID`: prints the names of the plug-in's presets, one per line, the
/// factory ones first, then the user's; a user preset that cannot be read is named on
/// `errors` and left out. Returns the exit status: 0 listed, 1 no such plug-in, 2 bad
/// arguments.
int runPresetsVerb(const std::vector<std::string> &arguments, std::FILE *output, std::FILE *errors);

const char *presetsHelp();

} // namespace orvane

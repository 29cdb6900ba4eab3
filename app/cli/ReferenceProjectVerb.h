#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orvane {

/// `Halvora reference-project DIR [--tracks N] [--seconds S] [--force]`: writes the reference
/// session (N audio tracks, 16 MIDI tracks, two returns, master chain) as a project folder
/// with its media. A folder that exists and is not empty is refused without --force. Returns
/// the exit status: 0 written, 1 the folder cannot or may not be written, 2 bad arguments.
int runReferenceProjectVerb(const std::vector<std::string> &arguments, std::FILE *output,
                            std::FILE *errors);

const char *referenceProjectHelp();

} // namespace orvane

#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orvane {

/// `Halvora --headless [PROJECT]`: the application without a window. Opens the project (or
/// builds the start-up project), starts audio (the null device when no sound server
/// answers), then carries out one document operation per line of `inputFd` and prints every
/// status text to `output`. Questions (unsaved changes, recovery, missing media) and file
/// choosers without an argument are answered by the next input line. Returns the exit status.
int runHeadless(const std::vector<std::string> &arguments, int inputFd, std::FILE *output,
                std::FILE *errors);

const char *headlessHelp();

} // namespace orvane

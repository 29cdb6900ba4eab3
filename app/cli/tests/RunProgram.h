#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orvane::testing {

struct ProgramRun {
    int exitStatus = -1; // -1 when the program did not exit normally
    int signal = 0;      // the signal that ended it, if any
    std::string output;  // standard output
    std::string errors;  // standard error
};

/// Runs the built `Halvora` with `arguments` (no shell involved) and waits for it. `input`,
/// when given, is its standard input (kept in the scratch folder as "stdin.txt").
ProgramRun runHalvora(const std::vector<std::string> &arguments,
                      const std::filesystem::path &scratchFolder, const std::string &input = {});

/// The built `Halvora` started in the background, for tests that act on it while it runs.
struct RunningProgram {
    int pid = -1;
    std::filesystem::path scratchFolder;
};
RunningProgram startHalvora(const std::vector<std::string> &arguments,
                            const std::filesystem::path &scratchFolder,
                            const std::string &input = {});
/// Waits for a program `startHalvora` started and collects what it printed.
ProgramRun finishHalvora(const RunningProgram &program);

/// A fresh empty folder for one test under the test's temporary folder.
std::filesystem::path makeScratchFolder(const std::string &name);

/// The raw 16-bit samples and the header fields of a WAV file the program wrote.
struct WrittenWav {
    bool valid = false;
    int32_t channels = 0;
    uint32_t sampleRate = 0;
    std::vector<int16_t> samples;
};
WrittenWav readWrittenWav(const std::filesystem::path &path);

/// Interleaved stereo test audio: a sine at `frequency` on the left and a slightly detuned
/// cosine on the right, at `level`.
std::shared_ptr<std::vector<float>> stereoTone(double frequency, int64_t frames, float level,
                                               double sampleRate);

} // namespace orvane::testing

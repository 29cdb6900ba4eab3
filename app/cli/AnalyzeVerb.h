#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

/// What the detectors find in one audio file, with frame positions in the file's own rate.
struct AudioAnalysisReport {
    int64_t frames = 0;
    int32_t channels = 2;
    double sampleRate = 48000.0;
    std::optional<double> tempoBpm;
    double fundamentalHz = 0.0; // 0 when there is none
    int64_t onsetFrame = 0;     // 0 when there is none
    std::vector<int64_t> transients;
};

/// Onsets count once the windowed energy passes -40 dBFS; transients are the slicing
/// command's: peaks above 0.015, up to 32 of them.
inline constexpr float analysisOnsetThreshold = 1e-4f;
inline constexpr float analysisTransientThreshold = 0.015f;
inline constexpr int32_t analysisMaxTransients = 32;

AudioAnalysisReport analyseAudio(const std::vector<float> &samples, int32_t channels,
                                 double sampleRate);
std::string describeAnalysisText(const AudioAnalysisReport &report, const std::string &path);
std::string describeAnalysisJson(const AudioAnalysisReport &report, const std::string &path);

/// "Halvora analyze FILE [--json]": reads the file, runs the detectors and prints what they
/// found. Returns 0, 1 when the file cannot be read, 2 for a usage error.
int runAnalyzeVerb(const std::vector<std::string> &arguments, std::FILE *output, std::FILE *errors);

const char *analyzeVerbHelp();

} // namespace orvane

#include "app/cli/AnalyzeVerb.h"

#include "app/shell/RenderOutput.h"

#include "core/audiofile/AudioFile.h"
#include "core/music/AudioAnalysis.h"
#include "core/project_io/DocumentEncoding.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

namespace orvane {

namespace {

/// Files other than 16-bit WAV are decoded at this rate; positions are then in its frames.
constexpr double decodeSampleRate = 48000.0;

struct AnalyzeOptions {
    std::string path;
    bool json = false;
    bool help = false;
};

bool parseAnalyzeArguments(const std::vector<std::string> &arguments, AnalyzeOptions &options,
                           std::string &error) {
    for (const auto &argument : arguments) {
        if (argument == "--json") {
            options.json = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (!argument.empty() && argument[0] == '-') {
            error = "unknown option \"" + argument + "\"";
            return false;
        } else if (options.path.empty()) {
            options.path = argument;
        } else {
            error = "one audio file at a time, not also \"" + argument + "\"";
            return false;
        }
    }
    if (options.path.empty() && !options.help) {
        error = "which audio file?";
        return false;
    }
    return true;
}

/// 16-bit WAV keeps its own rate; anything else the decoders read comes at 48 kHz.
bool readAudio(const std::string &path, std::vector<float> &samples, double &sampleRate,
               std::string &error) {
    ImportedWav wav;
    if (importWav(path, wav) && wav.samples) {
        samples = std::move(*wav.samples);
        sampleRate = wav.sampleRate;
        return true;
    }
    DecodedAudio decoded;
    std::string reason;
    if (!decodeAudioFile(path, decodeSampleRate, decoded, &reason) || !decoded.samples) {
        // The decoder gives no reason when it read the file and found no frame in it.
        error = "cannot read \"" + printableText(path) +
                "\": " + (reason.empty() ? "it holds no samples (0 frames)" : reason);
        return false;
    }
    samples = std::move(*decoded.samples);
    sampleRate = decoded.sampleRate;
    return true;
}

/// Rates and values no recording has: the detectors would report numbers that mean nothing.
bool checkAnalysable(const std::vector<float> &samples, double sampleRate, std::string &error) {
    constexpr double lowestRate = 1000.0, highestRate = 768000.0;
    constexpr float largestValue = 1.0e4f;
    if (!(sampleRate >= lowestRate && sampleRate <= highestRate)) {
        error = "its sample rate of " + std::to_string(static_cast<int64_t>(sampleRate)) +
                " Hz lies outside " + std::to_string(static_cast<int64_t>(lowestRate)) + " to " +
                std::to_string(static_cast<int64_t>(highestRate)) + " Hz";
        return false;
    }
    // A burst of NaN is skipped by the detectors; an infinity or a huge value is not.
    if (std::any_of(samples.begin(), samples.end(), [](float value) {
            return std::isinf(value) || std::fabs(value) > largestValue;
        })) {
        error = "it holds infinite or impossibly large sample values";
        return false;
    }
    return true;
}

std::string formatted(const char *format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string frameAndSeconds(int64_t frame, double sampleRate) {
    return std::to_string(frame) + formatted(" (%.3f s)", static_cast<double>(frame) / sampleRate);
}

void appendKey(std::string &out, const char *key) {
    out += out.size() > 1 ? ",\"" : "\"";
    out += key;
    out += "\":";
}

} // namespace

AudioAnalysisReport analyseAudio(const std::vector<float> &samples, int32_t channels,
                                 double sampleRate) {
    AudioAnalysisReport report;
    report.channels = channels;
    report.sampleRate = sampleRate;
    if (channels < 1) return report;
    report.frames = static_cast<int64_t>(samples.size()) / channels;
    const float *data = samples.empty() ? nullptr : samples.data();
    report.tempoBpm = detectTempoBpm(data, report.frames, channels, sampleRate);
    report.fundamentalHz = estimateAudioFundamentalHz(data, report.frames, channels, sampleRate);
    report.onsetFrame = detectAudioOnset(data, report.frames, channels, analysisOnsetThreshold);
    report.transients = detectAudioTransients(data, report.frames, channels, sampleRate,
                                              analysisTransientThreshold, analysisMaxTransients);
    return report;
}

std::string describeAnalysisText(const AudioAnalysisReport &report, const std::string &path) {
    const double rate = report.sampleRate;
    std::string text = "file: " + printableText(path) + "\n";
    text += "frames: " + std::to_string(report.frames) +
            ", channels: " + std::to_string(report.channels) +
            formatted(", sample rate: %.0f Hz", rate) +
            formatted(", duration: %.3f s\n", static_cast<double>(report.frames) / rate);
    text += report.tempoBpm ? formatted("tempo: %.1f BPM\n", *report.tempoBpm) : "tempo: none\n";
    text += report.fundamentalHz > 0.0 ? formatted("fundamental: %.1f Hz\n", report.fundamentalHz)
                                       : "fundamental: none\n";
    text += report.onsetFrame > 0
                ? "onset: frame " + frameAndSeconds(report.onsetFrame, rate) + "\n"
                : "onset: none\n";
    text += "transients: " + std::to_string(report.transients.size()) + "\n";
    for (const int64_t frame : report.transients)
        text += "  frame " + frameAndSeconds(frame, rate) + "\n";
    return text;
}

std::string describeAnalysisJson(const AudioAnalysisReport &report, const std::string &path) {
    using namespace project_io;
    std::string out = "{";
    appendKey(out, "file");
    out += '"';
    appendEscaped(out, path);
    out += '"';
    appendKey(out, "frames");
    appendInteger(out, report.frames);
    appendKey(out, "channels");
    appendInteger(out, report.channels);
    appendKey(out, "sampleRate");
    appendNumber(out, report.sampleRate);
    appendKey(out, "tempoBpm");
    if (report.tempoBpm)
        appendNumber(out, *report.tempoBpm);
    else
        out += "null";
    appendKey(out, "fundamentalHz");
    if (report.fundamentalHz > 0.0)
        appendNumber(out, report.fundamentalHz);
    else
        out += "null";
    appendKey(out, "onsetFrame");
    if (report.onsetFrame > 0)
        appendInteger(out, report.onsetFrame);
    else
        out += "null";
    appendKey(out, "transients");
    out += '[';
    for (std::size_t i = 0; i < report.transients.size(); ++i) {
        if (i > 0) out += ',';
        appendInteger(out, report.transients[i]);
    }
    out += "]}\n";
    return out;
}

int runAnalyzeVerb(const std::vector<std::string> &arguments, std::FILE *output,
                   std::FILE *errors) {
    AnalyzeOptions options;
    std::string error;
    if (!parseAnalyzeArguments(arguments, options, error)) {
        std::fprintf(errors, "Halvora analyze: %s\nsee \"Halvora analyze --help\"\n",
                     error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(analyzeVerbHelp(), output);
        return 0;
    }
    try {
        std::vector<float> samples;
        double sampleRate = 0.0;
        if (!readAudio(options.path, samples, sampleRate, error)) {
            std::fprintf(errors, "Halvora analyze: %s\n", error.c_str());
            return 1;
        }
        if (!checkAnalysable(samples, sampleRate, error)) {
            std::fprintf(errors, "Halvora analyze: cannot analyse \"%s\": %s\n",
                         printableText(options.path).c_str(), error.c_str());
            return 1;
        }
        // Every reader hands over interleaved stereo.
        const auto report = analyseAudio(samples, 2, sampleRate);
        const std::string text = options.json ? describeAnalysisJson(report, options.path)
                                              : describeAnalysisText(report, options.path);
        std::fputs(text.c_str(), output);
        return 0;
    } catch (const std::bad_alloc &) {
        std::fprintf(errors, "Halvora analyze: cannot read \"%s\": not enough memory to read it\n",
                     printableText(options.path).c_str());
        return 1;
    }
}

const char *analyzeVerbHelp() {
    return R"(usage: Halvora analyze FILE [--json]

Prints the tempo, the fundamental frequency, the onset and the transients that the audio
detectors find in FILE. 16-bit WAV files are read at their own sample rate; other formats
are decoded at 48000 Hz, and frame positions count frames at that rate.

  --json     one JSON object instead of text; absent values are null
  --help     this text
)";
}

} // namespace orvane

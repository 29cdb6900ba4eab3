#include "core/audiofile/Loudness.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <ebur128.h>

namespace orvane {

namespace {

ebur128_state *asState(void *state) { return static_cast<ebur128_state *>(state); }

double toDecibels(double level) {
    return level > 0.0 ? 20.0 * std::log10(level) : -std::numeric_limits<double>::infinity();
}

bool parseDecibels(std::string_view text, double &value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const char *end = text.data() + text.size();
    const auto [stop, fault] = std::from_chars(text.data(), end, value);
    return fault == std::errc{} && stop == end && std::isfinite(value);
}

// Far beyond these a target is a typing mistake, not a delivery.
constexpr double lowestTarget = -70.0;
constexpr double highestPeak = 0.0;
constexpr double highestLoudness = 0.0;

} // namespace

LoudnessMeter::LoudnessMeter(int32_t channels, double sampleRate) : channels_(channels) {
    state_ = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                          EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
}

LoudnessMeter::~LoudnessMeter() {
    ebur128_state *state = asState(state_);
    if (state) ebur128_destroy(&state);
}

void LoudnessMeter::take(const float *interleaved, int64_t frames) {
    if (state_ && frames > 0)
        ebur128_add_frames_float(asState(state_), interleaved, static_cast<size_t>(frames));
}

LoudnessFigures LoudnessMeter::figures() const {
    LoudnessFigures figures;
    figures.integratedLufs = -std::numeric_limits<double>::infinity();
    figures.truePeakDb = figures.samplePeakDb = -std::numeric_limits<double>::infinity();
    ebur128_state *state = asState(state_);
    if (!state) return figures;
    double loudness = 0.0;
    if (ebur128_loudness_global(state, &loudness) == EBUR128_SUCCESS)
        figures.integratedLufs = loudness;
    double range = 0.0;
    if (ebur128_loudness_range(state, &range) == EBUR128_SUCCESS && std::isfinite(range))
        figures.loudnessRangeLu = range;
    double truePeak = 0.0, samplePeak = 0.0;
    for (int32_t channel = 0; channel < channels_; ++channel) {
        double value = 0.0;
        if (ebur128_true_peak(state, static_cast<unsigned>(channel), &value) == EBUR128_SUCCESS)
            truePeak = std::max(truePeak, value);
        if (ebur128_sample_peak(state, static_cast<unsigned>(channel), &value) == EBUR128_SUCCESS)
            samplePeak = std::max(samplePeak, value);
    }
    figures.truePeakDb = toDecibels(truePeak);
    figures.samplePeakDb = toDecibels(samplePeak);
    return figures;
}

bool parseNormalization(std::string_view text, Normalization &normalization, std::string &error) {
    normalization = {};
    if (text == "off") return true;
    const std::size_t colon = text.find(':');
    const std::string_view kind = text.substr(0, colon);
    std::string_view rest = colon == std::string_view::npos ? "" : text.substr(colon + 1);
    const std::string usage = "--normalize takes off, peak:DB, truepeak:DB or lufs:LUFS[:CEILING], "
                              "not \"" +
                              std::string(text) + "\"";
    if (kind == "peak" || kind == "truepeak") {
        normalization.mode = kind == "peak" ? NormalizeMode::Peak : NormalizeMode::TruePeak;
        if (!parseDecibels(rest, normalization.target) || normalization.target > highestPeak ||
            normalization.target < lowestTarget) {
            error = usage + " (a peak from -70 to 0 dB)";
            return false;
        }
        return true;
    }
    if (kind != "lufs") {
        error = usage;
        return false;
    }
    normalization.mode = NormalizeMode::Loudness;
    const std::size_t second = rest.find(':');
    if (second != std::string_view::npos) {
        if (!parseDecibels(rest.substr(second + 1), normalization.ceilingDb) ||
            normalization.ceilingDb > highestPeak || normalization.ceilingDb < lowestTarget) {
            error = usage + " (a ceiling from -70 to 0 dBTP)";
            return false;
        }
        rest = rest.substr(0, second);
    }
    if (!parseDecibels(rest, normalization.target) || normalization.target > highestLoudness ||
        normalization.target < lowestTarget) {
        error = usage + " (a loudness from -70 to 0 LUFS)";
        return false;
    }
    return true;
}

double wantedNormalizationGainDb(const LoudnessFigures &measured,
                                 const Normalization &normalization) {
    double gainDb = 0.0;
    switch (normalization.mode) {
    case NormalizeMode::Off: return 0.0;
    case NormalizeMode::Peak: gainDb = normalization.target - measured.samplePeakDb; break;
    case NormalizeMode::TruePeak: gainDb = normalization.target - measured.truePeakDb; break;
    case NormalizeMode::Loudness:
        gainDb = normalization.target - measured.integratedLufs;
        gainDb = std::min(gainDb, normalization.ceilingDb - measured.truePeakDb);
        break;
    }
    return std::isfinite(gainDb) ? gainDb : 0.0;
}

double normalizationGain(const LoudnessFigures &measured, const Normalization &normalization) {
    const double gainDb =
        std::min(wantedNormalizationGainDb(measured, normalization), largestNormalizationGainDb);
    return std::pow(10.0, gainDb / 20.0);
}

bool stoppedAtTruePeakCeiling(const LoudnessFigures &written, const Normalization &normalization) {
    if (normalization.mode != NormalizeMode::Loudness) return false;
    if (!std::isfinite(written.integratedLufs) || !std::isfinite(written.truePeakDb)) return false;
    return written.integratedLufs < normalization.target - 0.5 &&
           written.truePeakDb > normalization.ceilingDb - 0.5;
}

} // namespace orvane

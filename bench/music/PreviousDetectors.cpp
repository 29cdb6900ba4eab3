// The detectors as they were before onset-strength tempo, the normalised difference
// function, fixed onset windows and envelope-rise transients: the baseline that the analysis
// benchmarks measure the current detectors against, in the same run.
#include "bench/music/PreviousDetectors.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvane::previous {

namespace {

/// One value per frame: the sample itself for mono, else the mean of the first two channels.
float monoAt(const float *samples, int64_t frame, int32_t channels) {
    const float *at = samples + frame * channels;
    return channels == 1 ? at[0] : 0.5f * (at[0] + at[1]);
}

/// |change| of the all-channel mean of every h-th frame: a coarse picture of where the signal
/// moves, sampled at about 150 values a second.
std::vector<double> tempoEnvelope(const float *samples, int64_t frames, int32_t channels,
                                  int64_t hop) {
    std::vector<double> envelope;
    envelope.reserve(static_cast<std::size_t>(frames / hop + 1));
    double previous = 0.0;
    for (int64_t frame = 0; frame < frames; frame += hop) {
        double sum = 0.0;
        for (int32_t c = 0; c < channels; ++c)
            sum += samples[frame * channels + c];
        const double mean = sum / channels;
        envelope.push_back(std::abs(mean - previous));
        previous = mean;
    }
    return envelope;
}

/// The lag with the largest autocorrelation in lo..hi (inclusive); 0 when no sum is above 0.
int64_t strongestEnvelopeLag(const std::vector<double> &envelope, int64_t lo, int64_t hi) {
    const auto count = static_cast<int64_t>(envelope.size());
    int64_t best = 0;
    double bestSum = 0.0;
    for (int64_t lag = lo; lag <= hi; ++lag) {
        double sum = 0.0;
        for (int64_t i = 0; i + lag < count; ++i)
            sum +=
                envelope[static_cast<std::size_t>(i)] * envelope[static_cast<std::size_t>(i + lag)];
        if (sum > bestSum) {
            bestSum = sum;
            best = lag;
        }
    }
    return best;
}

double foldIntoTempoRange(double bpm) {
    while (bpm < 70.0)
        bpm *= 2.0;
    while (bpm > 190.0)
        bpm *= 0.5;
    return std::clamp(bpm, 60.0, 200.0);
}

/// Rates turn into frame counts below; a damaged document's rate must not overflow them.
bool isUsableRate(double sampleRate) { return sampleRate > 0.0 && sampleRate <= 1e8; }

} // namespace

std::optional<double> detectTempoBpm(const float *samples, int64_t frames, int32_t channels,
                                     double sampleRate) {
    if (!samples || frames < 8192 || channels < 1 || !isUsableRate(sampleRate)) return std::nullopt;
    const int64_t hop = std::max<int64_t>(1, static_cast<int64_t>(sampleRate / 150.0));
    const auto envelope = tempoEnvelope(samples, frames, channels, hop);
    const auto count = static_cast<int64_t>(envelope.size());
    if (count < 128) return std::nullopt;
    // The searched periods follow from the envelope's rate, so that 200 down to 60 BPM is
    // covered whatever the length of the audio.
    const double envelopeRate = sampleRate / static_cast<double>(hop);
    const int64_t shortest =
        std::max<int64_t>(8, static_cast<int64_t>(60.0 * envelopeRate / 200.0));
    const int64_t longest = std::min(count / 2, static_cast<int64_t>(60.0 * envelopeRate / 60.0));
    const int64_t lag = strongestEnvelopeLag(envelope, shortest, longest);
    if (lag == 0) return std::nullopt;
    const double period = static_cast<double>(lag * hop) / sampleRate;
    return foldIntoTempoRange(60.0 / period);
}

double estimateAudioFundamentalHz(const float *samples, int64_t frames, int32_t channels,
                                  double sampleRate) {
    if (!samples || frames < 256 || channels < 1 || !isUsableRate(sampleRate)) return 0.0;
    const int64_t count = std::min<int64_t>(frames, 4096);
    std::vector<float> mono(static_cast<std::size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        mono[static_cast<std::size_t>(i)] = monoAt(samples, i, channels);
    const int64_t lo = std::max<int64_t>(1, static_cast<int64_t>(sampleRate / 1000.0));
    const int64_t hi = std::min(static_cast<int64_t>(sampleRate / 50.0), count / 2);
    int64_t bestLag = 0;
    float bestSum = 0.0f;
    for (int64_t lag = lo; lag < hi; ++lag) {
        double sum = 0.0;
        for (int64_t i = 0; i + lag < count; ++i)
            sum += static_cast<double>(mono[static_cast<std::size_t>(i)]) *
                   mono[static_cast<std::size_t>(i + lag)];
        if (static_cast<float>(sum) > bestSum) {
            bestSum = static_cast<float>(sum);
            bestLag = lag;
        }
    }
    return bestLag == 0 ? 0.0 : sampleRate / static_cast<double>(bestLag);
}

int64_t detectAudioOnset(const float *samples, int64_t frames, int32_t channels, float threshold) {
    if (!samples || frames < 2 || channels < 1) return 0;
    const int64_t window = std::max<int64_t>(frames / 200, 64);
    const auto energyAt = [&](int64_t frame) {
        const double value = monoAt(samples, frame, channels);
        return value * value;
    };
    // A sliding sum over frames t .. min(t + W, frames) − 1; the window shortens at the end.
    double sum = 0.0;
    for (int64_t i = 0; i < std::min(window, frames); ++i)
        sum += energyAt(i);
    double previousMean = sum / static_cast<double>(std::min(window, frames));
    for (int64_t t = 1; t < frames; ++t) {
        sum -= energyAt(t - 1);
        if (t + window - 1 < frames) sum += energyAt(t + window - 1);
        sum = std::max(sum, 0.0); // rounding must not leave a silent window below zero
        const double mean = sum / static_cast<double>(std::min(t + window, frames) - t);
        if (t > window && mean > threshold && mean > 2.5 * previousMean)
            return std::max<int64_t>(t - window / 2, 0);
        previousMean = mean;
    }
    return 0;
}

std::vector<int64_t> detectAudioTransients(const float *samples, int64_t frames, int32_t channels,
                                           double sampleRate, float threshold, int32_t maxCount) {
    std::vector<int64_t> found;
    if (!samples || frames < 2 || channels < 1 || !isUsableRate(sampleRate) || maxCount < 1)
        return found;
    const int64_t spacing = std::max<int64_t>(1, static_cast<int64_t>(0.03 * sampleRate));
    const auto peakAt = [&](int64_t frame) {
        float peak = 0.0f;
        for (int32_t c = 0; c < channels; ++c)
            peak = std::max(peak, std::abs(samples[frame * channels + c]));
        return peak;
    };
    float previous = peakAt(0);
    for (int64_t i = 1; i < frames; ++i) {
        const float peak = peakAt(i);
        const bool farEnough = found.empty() || i - found.back() >= spacing;
        if (peak > threshold && peak > previous && farEnough) {
            found.push_back(i);
            if (static_cast<int32_t>(found.size()) >= maxCount) break;
        }
        previous = peak;
    }
    return found;
}

} // namespace orvane::previous

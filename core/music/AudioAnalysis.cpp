#include "core/music/AudioAnalysis.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

/// One value per frame: the sample itself for mono, else the mean of the first two channels.
float monoAt(const float *samples, int64_t frame, int32_t channels) {
    const float *at = samples + frame * channels;
    return channels == 1 ? at[0] : 0.5f * (at[0] + at[1]);
}

/// Linear interpolation of every channel at fractional input frame `position`.
void interpolateFrame(const float *input, int64_t inputFrames, double position, float *output,
                      int32_t channels) {
    const auto i0 = std::min(static_cast<int64_t>(position), inputFrames - 1);
    const auto fraction = static_cast<float>(position - static_cast<double>(i0));
    const int64_t i1 = std::min(i0 + 1, inputFrames - 1);
    for (int32_t c = 0; c < channels; ++c) {
        const float a = input[i0 * channels + c];
        const float b = input[i1 * channels + c];
        output[c] = a + (b - a) * fraction;
    }
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

AudioFingerprint silentFingerprint() { return {0.0f, 0.0f, 1.0f, 0.0f}; }

/// Rates turn into frame counts below; a damaged document's rate must not overflow them.
bool isUsableRate(double sampleRate) { return sampleRate > 0.0 && sampleRate <= 1e8; }

} // namespace

ClipAudioWindow clipAnalysisWindow(const Clip &clip) {
    ClipAudioWindow window;
    window.channels = clip.channels < 2 ? 1 : clip.channels;
    const int64_t available = clip.audioFrameCount() - std::max<int64_t>(clip.sourceOffset, 0);
    const int64_t frames = std::min(clip.length, available);
    if (clip.sourceOffset < 0 || frames < 1) return window;
    const int64_t first = clip.sourceOffset * window.channels;
    if (const float *floats = clip.audio->floats()) {
        window.samples = floats + first;
    } else {
        auto converted = std::make_shared<std::vector<float>>(
            static_cast<std::size_t>(frames * window.channels));
        clip.audio->copyTo(first, frames * window.channels, converted->data());
        window.samples = converted->data();
        window.converted = std::move(converted);
    }
    window.frames = frames;
    return window;
}

void stretchAudio(const float *input, int64_t inputFrames, float *output, int64_t outputFrames,
                  int32_t channels) {
    if (!input || !output || inputFrames < 1 || outputFrames < 1 || channels < 1) return;
    const double step = static_cast<double>(inputFrames) / static_cast<double>(outputFrames);
    for (int64_t j = 0; j < outputFrames; ++j)
        interpolateFrame(input, inputFrames, step * static_cast<double>(j), output + j * channels,
                         channels);
}

bool pitchShiftInterleaved(std::vector<float> &buffer, int32_t channels, float semitones) {
    // Beyond four octaves down a buffer would grow sixteen-fold and more; nobody means that.
    if (!(std::abs(semitones) >= 0.0001f) || !(std::abs(semitones) <= 48.0f) || channels < 1)
        return false;
    const auto frames = static_cast<int64_t>(buffer.size()) / channels;
    if (frames < 2) return false;
    const double ratio = std::pow(2.0, static_cast<double>(semitones) / 12.0);
    const auto shiftedFrames =
        std::max<int64_t>(1, static_cast<int64_t>(static_cast<double>(frames) / ratio));
    std::vector<float> shifted(static_cast<std::size_t>(shiftedFrames * channels));
    for (int64_t j = 0; j < shiftedFrames; ++j)
        interpolateFrame(buffer.data(), frames, static_cast<double>(j) * ratio,
                         shifted.data() + j * channels, channels);
    buffer = std::move(shifted);
    return true;
}

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

bool splitSimpleStems(const float *samples, int64_t frames, int32_t channels,
                      SimpleStemBuffers &stems) {
    if (!samples || frames <= 0 || channels <= 0) return false;
    const auto size = static_cast<std::size_t>(frames * channels);
    for (auto *stem : {&stems.bass, &stems.mid, &stems.high}) {
        stem->resize(size);
        // Every value of the first two channels is written below; only further ones stay 0.
        if (channels > 2) std::fill(stem->begin(), stem->end(), 0.0f);
    }
    // Both channels in one pass over the frames: half the memory traffic of one pass per
    // channel, and two independent filter chains for the processor to overlap.
    const int32_t split = std::min(channels, 2);
    float bass[2] = {0.0f, 0.0f};
    float mid[2] = {0.0f, 0.0f};
    for (int64_t frame = 0; frame < frames; ++frame) {
        for (int32_t c = 0; c < split; ++c) {
            const auto at = static_cast<std::size_t>(frame * channels + c);
            const float x = samples[at];
            bass[c] += 0.04f * (x - bass[c]);
            const float rest = x - bass[c];
            mid[c] += 0.12f * (rest - mid[c]);
            stems.bass[at] = bass[c];
            stems.mid[at] = mid[c];
            stems.high[at] = rest - mid[c];
        }
    }
    return true;
}

AudioFingerprint computeAudioFingerprint(const float *samples, int64_t frames, int32_t channels) {
    if (!samples || frames < 1 || channels < 1) return silentFingerprint();
    const int64_t count = std::min<int64_t>(frames, 8192);
    double energy = 0.0;
    double evenEnergy = 0.0;
    double oddEnergy = 0.0;
    double weighted = 0.0;
    int64_t crossings = 0;
    float previous = 0.0f;
    for (int64_t i = 0; i < count; ++i) {
        const float m = monoAt(samples, i, channels);
        const double square = static_cast<double>(m) * m;
        energy += square;
        (i % 2 == 0 ? evenEnergy : oddEnergy) += square;
        weighted += static_cast<double>(i) * square;
        if (i > 0 && (previous >= 0.0f) != (m >= 0.0f)) ++crossings;
        previous = m;
    }
    AudioFingerprint print;
    print.rms = static_cast<float>(std::sqrt(energy / static_cast<double>(count)));
    print.zeroCrossingRate =
        static_cast<float>(crossings) / static_cast<float>(std::max<int64_t>(count, 2) - 1);
    print.evenOddRatio = static_cast<float>(evenEnergy / std::max(oddEnergy, 1e-9));
    print.energyCentroid =
        energy <= 1e-12 ? 0.5f : static_cast<float>(weighted / energy / static_cast<double>(count));
    return print;
}

float fingerprintDistance(const AudioFingerprint &a, const AudioFingerprint &b) {
    const float rms = a.rms - b.rms;
    const float crossing = a.zeroCrossingRate - b.zeroCrossingRate;
    const float ratio = a.evenOddRatio - b.evenOddRatio;
    const float centroid = a.energyCentroid - b.energyCentroid;
    return rms * rms + 4.0f * crossing * crossing + ratio * ratio + 2.0f * centroid * centroid;
}

namespace {

bool hasAudio(const Clip &clip) {
    return clip.kind == ClipKind::Audio && clip.audio && !clip.audio->empty();
}

AudioFingerprint fingerprintOfClip(const Clip &clip) {
    const int32_t channels = std::max(clip.channels, 1);
    const FloatSamples samples(*clip.audio);
    return computeAudioFingerprint(samples.data(), samples.size() / channels, channels);
}

} // namespace

std::vector<SimilarClipMatch> findSimilarAudioClips(const Project &project, uint64_t clipId,
                                                    std::size_t maxCount) {
    std::vector<SimilarClipMatch> matches;
    const auto reference = project.findClip(clipId);
    if (!reference || !hasAudio(*reference)) return matches;
    const AudioFingerprint wanted = fingerprintOfClip(*reference);
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (clip->id != clipId && hasAudio(*clip))
                matches.push_back(
                    {clip->id, clip->name, fingerprintDistance(wanted, fingerprintOfClip(*clip))});
    std::sort(matches.begin(), matches.end(),
              [](const auto &a, const auto &b) { return a.distance < b.distance; });
    if (matches.size() > maxCount) matches.resize(maxCount);
    return matches;
}

double tempoAdaptationStretchRatio(double projectBpm, double detectedBpm) {
    if (!(detectedBpm > 0.0) || !std::isfinite(projectBpm)) return 1.0;
    return std::max(projectBpm, 1.0) / detectedBpm;
}

} // namespace orvane

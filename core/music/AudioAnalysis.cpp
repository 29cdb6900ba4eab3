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

/// Sum of squares of every channel of frames [first, first + count).
double energyOf(const float *samples, int64_t first, int64_t count, int32_t channels) {
    double sum = 0.0;
    const float *at = samples + first * channels;
    for (int64_t i = 0; i < count * channels; ++i)
        sum += static_cast<double>(at[i]) * at[i];
    return sum;
}

/// How strongly something starts in each hop: the rise of the hop's RMS over the previous
/// hop's, rectified so that decays count for nothing. Every sample contributes, so a click of
/// one sample counts as much as a long one.
std::vector<double> onsetStrengthEnvelope(const float *samples, int64_t frames, int32_t channels,
                                          int64_t hop) {
    std::vector<double> envelope;
    envelope.reserve(static_cast<std::size_t>(frames / hop + 1));
    double previousLevel = 0.0;
    for (int64_t first = 0; first < frames; first += hop) {
        const int64_t count = std::min(hop, frames - first);
        const double level = std::sqrt(energyOf(samples, first, count, channels) /
                                       static_cast<double>(count * channels));
        envelope.push_back(std::max(level - previousLevel, 0.0));
        previousLevel = level;
    }
    // A rise split over two hops by where it falls must still make one peak.
    std::vector<double> smoothed(envelope.size(), 0.0);
    for (std::size_t i = 0; i < envelope.size(); ++i) {
        const double before = i > 0 ? envelope[i - 1] : 0.0;
        const double after = i + 1 < envelope.size() ? envelope[i + 1] : 0.0;
        smoothed[i] = 0.25 * before + 0.5 * envelope[i] + 0.25 * after;
    }
    return smoothed;
}

double envelopeAutocorrelation(const std::vector<double> &envelope, int64_t lag) {
    const auto count = static_cast<int64_t>(envelope.size());
    double sum = 0.0;
    for (int64_t i = 0; i + lag < count; ++i)
        sum += envelope[static_cast<std::size_t>(i)] * envelope[static_cast<std::size_t>(i + lag)];
    return sum;
}

/// The lag in lo..hi (inclusive) around which the autocorrelation is largest, summed over it
/// and its two neighbours: a beat period that falls between two lags splits its pairs of
/// onsets between them, and must not lose to a multiple that happens to fall on one lag.
/// A half or a third of that lag that correlates nearly as well is the beat itself, the
/// longer lag a multiple of it. 0 when no sum is above 0.
int64_t strongestEnvelopeLag(const std::vector<double> &envelope, int64_t lo, int64_t hi) {
    // Audio shorter than two of the slowest beats holds no lag to search.
    if (hi < lo) return 0;
    std::vector<double> sums;
    sums.reserve(static_cast<std::size_t>(hi - lo + 3));
    for (int64_t lag = lo - 1; lag <= hi + 1; ++lag)
        sums.push_back(envelopeAutocorrelation(envelope, lag));
    const auto around = [&](int64_t lag) {
        const auto i = static_cast<std::size_t>(lag - lo + 1);
        return sums[i - 1] + sums[i] + sums[i + 1];
    };
    int64_t best = 0;
    double bestSum = 0.0;
    for (int64_t lag = lo; lag <= hi; ++lag)
        if (around(lag) > bestSum) {
            bestSum = around(lag);
            best = lag;
        }
    if (best == 0) return 0;
    constexpr double nearlyAsWell = 0.8;
    for (const int64_t divisor : {3, 2}) {
        const int64_t shorter = (best + divisor / 2) / divisor;
        if (shorter >= lo && around(shorter) >= nearlyAsWell * bestSum) return shorter;
    }
    return best;
}

/// Offset in −0.5..0.5 of the extremum of the parabola through three equally spaced values.
double parabolicOffset(double before, double at, double after) {
    const double curvature = before - 2.0 * at + after;
    if (curvature == 0.0) return 0.0;
    return std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
}

/// The beat period in hops, finer than one hop: the period of `lag` is measured over as many
/// beats as the envelope holds (up to 64), where an error of one hop is a 64th of one.
double refinedEnvelopePeriod(const std::vector<double> &envelope, int64_t lag) {
    const auto count = static_cast<int64_t>(envelope.size());
    const int64_t beats = std::clamp<int64_t>((count / 2) / lag, 1, 64);
    int64_t best = beats * lag;
    double bestSum = -1.0;
    for (int64_t candidate = beats * (lag - 1); candidate <= beats * (lag + 1); ++candidate) {
        if (candidate < 1 || candidate + 1 >= count) continue;
        const double sum = envelopeAutocorrelation(envelope, candidate);
        if (sum > bestSum) {
            bestSum = sum;
            best = candidate;
        }
    }
    const double offset = parabolicOffset(envelopeAutocorrelation(envelope, best - 1), bestSum,
                                          envelopeAutocorrelation(envelope, best + 1));
    return (static_cast<double>(best) + offset) / static_cast<double>(beats);
}

double foldIntoTempoRange(double bpm) {
    // Half a BPM of leeway, so that a tempo measured a hair under 70 is not doubled.
    while (bpm < 69.5)
        bpm *= 2.0;
    while (bpm > 190.5)
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
    const int64_t hop = std::max<int64_t>(1, std::llround(sampleRate / 500.0));
    const auto envelope = onsetStrengthEnvelope(samples, frames, channels, hop);
    const auto count = static_cast<int64_t>(envelope.size());
    if (count < 16) return std::nullopt;
    // The searched periods follow from the envelope's rate, so that 200 down to 60 BPM is
    // covered whatever the length of the audio.
    const double envelopeRate = sampleRate / static_cast<double>(hop);
    const int64_t shortest =
        std::max<int64_t>(2, static_cast<int64_t>(60.0 * envelopeRate / 200.0));
    const int64_t longest = std::min(count / 2, static_cast<int64_t>(60.0 * envelopeRate / 60.0));
    const int64_t lag = strongestEnvelopeLag(envelope, shortest, longest);
    if (lag == 0) return std::nullopt;
    const double period = refinedEnvelopePeriod(envelope, lag) / envelopeRate;
    return foldIntoTempoRange(60.0 / period);
}

namespace {

/// The normalised difference of the signal with itself `lag` frames later, for every lag up
/// to `longest`: 1 on average, near 0 where the signal repeats. The normalisation keeps short
/// lags, which sum more terms, from winning over the true period of a low tone.
std::vector<double> normalisedDifference(const std::vector<float> &mono, int64_t longest) {
    const auto window = static_cast<int64_t>(mono.size()) - longest;
    std::vector<double> normalised(static_cast<std::size_t>(longest + 1), 1.0);
    double runningSum = 0.0;
    for (int64_t lag = 1; lag <= longest; ++lag) {
        double difference = 0.0;
        for (int64_t i = 0; i < window; ++i) {
            const double delta = static_cast<double>(mono[static_cast<std::size_t>(i)]) -
                                 mono[static_cast<std::size_t>(i + lag)];
            difference += delta * delta;
        }
        runningSum += difference;
        normalised[static_cast<std::size_t>(lag)] =
            runningSum > 0.0 ? difference * static_cast<double>(lag) / runningSum : 1.0;
    }
    return normalised;
}

/// The first lag from `shortest` where the difference dips below `threshold`, followed down
/// to the bottom of that dip; else the deepest lag if it dips at all; 0 without a dip.
int64_t firstPeriodDip(const std::vector<double> &normalised, int64_t shortest) {
    constexpr double threshold = 0.1;
    constexpr double noPeriod = 0.5;
    const auto longest = static_cast<int64_t>(normalised.size()) - 1;
    int64_t deepest = 0;
    for (int64_t lag = shortest; lag <= longest; ++lag) {
        const auto at = [&](int64_t l) { return normalised[static_cast<std::size_t>(l)]; };
        if (at(lag) < threshold) {
            while (lag + 1 <= longest && at(lag + 1) < at(lag))
                ++lag;
            return lag;
        }
        if (deepest == 0 || at(lag) < at(deepest)) deepest = lag;
    }
    return deepest != 0 && normalised[static_cast<std::size_t>(deepest)] < noPeriod ? deepest : 0;
}

} // namespace

double estimateAudioFundamentalHz(const float *samples, int64_t frames, int32_t channels,
                                  double sampleRate) {
    if (!samples || frames < 256 || channels < 1 || !isUsableRate(sampleRate)) return 0.0;
    constexpr double lowestHz = 40.0;
    constexpr double highestHz = 2000.0;
    // Three periods of the lowest tone: one lag's span plus two periods to compare.
    const auto wanted = static_cast<int64_t>(3.0 * sampleRate / lowestHz);
    const int64_t count = std::min(frames, std::max<int64_t>(4096, wanted));
    std::vector<float> mono(static_cast<std::size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        mono[static_cast<std::size_t>(i)] = monoAt(samples, i, channels);
    const int64_t shortest = std::max<int64_t>(2, static_cast<int64_t>(sampleRate / highestHz));
    const int64_t longest = std::min(static_cast<int64_t>(sampleRate / lowestHz) + 1, count / 2);
    if (longest <= shortest + 1) return 0.0;
    const auto normalised = normalisedDifference(mono, longest);
    const int64_t lag = firstPeriodDip(normalised, shortest);
    if (lag == 0) return 0.0;
    double period = static_cast<double>(lag);
    if (lag < longest)
        period += parabolicOffset(normalised[static_cast<std::size_t>(lag - 1)],
                                  normalised[static_cast<std::size_t>(lag)],
                                  normalised[static_cast<std::size_t>(lag + 1)]);
    return sampleRate / period;
}

namespace {

constexpr int64_t onsetWindow = 256;

/// Energy over up to `onsetWindow` frames on either side of a frame, kept up to date as the
/// frame moves on by one.
struct EnergyAroundFrame {
    const float *samples;
    int64_t frames;
    int32_t channels;
    int64_t frame = 0;
    double before = 0.0;
    double after = 0.0;

    double energyAt(int64_t at) const { return energyOf(samples, at, 1, channels); }
    int64_t framesBefore() const { return std::min(frame, onsetWindow); }
    int64_t framesAfter() const { return std::min(onsetWindow, frames - frame); }
    double meanBefore() const {
        return framesBefore() > 0 ? before / static_cast<double>(framesBefore() * channels) : 0.0;
    }
    double meanAfter() const { return after / static_cast<double>(framesAfter() * channels); }

    void start() { after = energyOf(samples, 0, std::min(onsetWindow, frames), channels); }
    void advance() {
        const double leaving = energyAt(frame);
        after -= leaving;
        if (frame + onsetWindow < frames) after += energyAt(frame + onsetWindow);
        before += leaving;
        if (frame >= onsetWindow) before -= energyAt(frame - onsetWindow);
        // Rounding must not leave a silent window below zero.
        after = std::max(after, 0.0);
        before = std::max(before, 0.0);
        ++frame;
    }
};

/// Within a window's span from a detected jump, the frame where the energy after it stands
/// highest over the energy before it: where the new sound begins.
int64_t sharpestRise(EnergyAroundFrame energy) {
    // Far below any audible energy; keeps a silent stretch from dividing by zero.
    constexpr double floor = 1e-20;
    int64_t best = energy.frame;
    double bestRatio = -1.0;
    const int64_t last = std::min(energy.frame + onsetWindow, energy.frames - 1);
    while (true) {
        const double ratio = (energy.meanAfter() + floor) / (energy.meanBefore() + floor);
        if (ratio > bestRatio) {
            bestRatio = ratio;
            best = energy.frame;
        }
        if (energy.frame >= last) break;
        energy.advance();
    }
    return best;
}

} // namespace

int64_t detectAudioOnset(const float *samples, int64_t frames, int32_t channels, float threshold) {
    if (!samples || frames < 2 || channels < 1) return 0;
    // A fixed window, not a share of the file: a long file's onset is as audible as a short
    // one's.
    EnergyAroundFrame energy{samples, frames, channels};
    energy.start();
    for (; energy.frame < frames; energy.advance()) {
        const double mean = energy.meanAfter();
        if (mean > threshold && mean > 2.5 * energy.meanBefore()) return sharpestRise(energy);
    }
    return 0;
}

namespace {

/// The loudest magnitude of any channel in each block of `block` frames.
std::vector<float> blockPeaks(const float *samples, int64_t frames, int32_t channels,
                              int64_t block) {
    std::vector<float> peaks;
    peaks.reserve(static_cast<std::size_t>(frames / block + 1));
    for (int64_t first = 0; first < frames; first += block) {
        const int64_t end = std::min(first + block, frames);
        float peak = 0.0f;
        for (int64_t i = first * channels; i < end * channels; ++i)
            peak = std::max(peak, std::abs(samples[i]));
        peaks.push_back(peak);
    }
    return peaks;
}

float loudestOf(const std::vector<float> &peaks, std::size_t first, std::size_t end) {
    float loudest = 0.0f;
    for (std::size_t i = first; i < end; ++i)
        loudest = std::max(loudest, peaks[i]);
    return loudest;
}

/// The first frame from `first` whose magnitude on any channel exceeds `level`.
int64_t firstFrameAbove(const float *samples, int64_t first, int64_t end, int32_t channels,
                        float level) {
    for (int64_t frame = first; frame < end; ++frame)
        for (int32_t c = 0; c < channels; ++c)
            if (std::abs(samples[frame * channels + c]) > level) return frame;
    return first;
}

} // namespace

std::vector<int64_t> detectAudioTransients(const float *samples, int64_t frames, int32_t channels,
                                           double sampleRate, float threshold, int32_t maxCount) {
    std::vector<int64_t> found;
    if (!samples || frames < 2 || channels < 1 || !isUsableRate(sampleRate) || maxCount < 1)
        return found;
    const int64_t spacing = std::max<int64_t>(1, static_cast<int64_t>(0.03 * sampleRate));
    // The envelope in 1 ms blocks, compared with its loudest over the 10 ms before: a steady
    // tone of 50 Hz and up peaks as high within any 10 ms, so only a real attack rises above.
    const int64_t block = std::max<int64_t>(1, static_cast<int64_t>(0.001 * sampleRate));
    constexpr std::size_t history = 10;
    const auto peaks = blockPeaks(samples, frames, channels, block);
    // The first blocks have nothing before them to rise from.
    for (std::size_t b = 1; b < peaks.size(); ++b) {
        const float before = loudestOf(peaks, b > history ? b - history : 0, b);
        // A rise by more than the threshold and to over twice the level before: a slow swell
        // grows by less than the threshold in 10 ms.
        if (peaks[b] <= threshold || peaks[b] - before <= threshold || peaks[b] <= 2.0f * before)
            continue;
        const auto first = static_cast<int64_t>(b) * block;
        const int64_t frame = firstFrameAbove(samples, first, std::min(first + block, frames),
                                              channels, before + threshold);
        if (!found.empty() && frame - found.back() < spacing) continue;
        found.push_back(frame);
        if (static_cast<int32_t>(found.size()) >= maxCount) break;
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

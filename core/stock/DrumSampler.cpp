#include "core/stock/DrumSampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>

namespace orvane::stock {

namespace {

// The tuning interpolator: a Kaiser-windowed sinc eight zero crossings a side, from a table
// read with linear interpolation. Its images sit below −70 dB, where a four-point polynomial
// leaves them near −40 dB in the top octave.
constexpr int halfTaps = 8;
constexpr int tableSteps = 256;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

/// Made on first use, which is a sampler's constructor on the main thread.
const std::array<float, halfTaps * tableSteps + 2> &kernel() {
    static const auto table = [] {
        std::array<float, halfTaps * tableSteps + 2> made{};
        constexpr double beta = 7.5;
        const double norm = besselI0(beta);
        for (int i = 0; i <= halfTaps * tableSteps; ++i) {
            const double u = static_cast<double>(i) / tableSteps;
            const double r = u / halfTaps;
            const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
            const double arg = std::numbers::pi * u;
            made[static_cast<std::size_t>(i)] =
                static_cast<float>((i == 0 ? 1.0 : std::sin(arg) / arg) * window);
        }
        return made;
    }();
    return table;
}

// The same kernel at the source's bandwidth, laid out by phase: for a fraction p / phaseCount
// past a frame, the weights of the sixteen frames around it. A voice that plays lower than
// recorded (or at pitch between frames) blends two neighbouring phases and runs two short
// dot products instead of walking the kernel tap by tap.
constexpr int phaseCount = 512;
constexpr int phaseTaps = 2 * halfTaps;
using PhaseTable = std::array<std::array<float, phaseTaps>, phaseCount + 1>;

const PhaseTable &phases() {
    static const auto table = [] {
        auto made = std::make_unique<PhaseTable>();
        constexpr double beta = 7.5;
        const double norm = besselI0(beta);
        for (int p = 0; p <= phaseCount; ++p)
            for (int j = 0; j < phaseTaps; ++j) {
                // Frame `centre - halfTaps + 1 + j` seen from `centre + p / phaseCount`.
                const double u =
                    std::abs(static_cast<double>(j - halfTaps + 1) - double(p) / phaseCount);
                const double r = u / halfTaps;
                const double window =
                    r >= 1.0 ? 0.0 : besselI0(beta * std::sqrt(1.0 - r * r)) / norm;
                const double arg = std::numbers::pi * u;
                made->at(static_cast<std::size_t>(p))[static_cast<std::size_t>(j)] =
                    static_cast<float>((u == 0.0 ? 1.0 : std::sin(arg) / arg) * window);
            }
        return made;
    }();
    return *table;
}

} // namespace

DrumKitPlan planDrumKit(const DrumKit &kit, const std::string &projectRoot) {
    DrumKitPlan plan;
    const std::size_t padCount = std::min(kit.pads.size(), drum_limits::maxPads);
    plan.mix.padCount = static_cast<int32_t>(padCount);
    for (std::size_t p = 0; p < padCount; ++p) {
        const DrumPad &pad = kit.pads[p];
        DrumPadMix &mix = plan.mix.pads[p];
        mix.note = std::clamp(pad.note, 0, 127);
        const float gain = std::pow(
            10.0f, std::clamp(pad.gainDb, drum_limits::minGainDb, drum_limits::maxGainDb) / 20.0f);
        const float pan = std::clamp(pad.pan, -1.0f, 1.0f);
        mix.gainLeft = gain * std::min(1.0f, 1.0f - pan);
        mix.gainRight = gain * std::min(1.0f, 1.0f + pan);
        mix.step = std::exp2(
            static_cast<double>(std::clamp(pad.tune, drum_limits::minTune, drum_limits::maxTune)) /
            12.0);
        mix.chokeGroup = pad.chokeGroup;
        const std::size_t layerCount = std::min(pad.layers.size(), drum_limits::maxLayers);
        mix.layerCount = static_cast<int32_t>(layerCount);
        for (std::size_t l = 0; l < layerCount; ++l) {
            const DrumLayer &layer = pad.layers[l];
            mix.low[l] = static_cast<uint8_t>(std::clamp(layer.lowVelocity, 1, 127));
            mix.high[l] = static_cast<uint8_t>(std::clamp(layer.highVelocity, 1, 127));
            mix.source[l] = -1;
            std::string error;
            auto sample = loadDrumSample(layer.file, projectRoot, error);
            if (!sample) {
                plan.errors.push_back(pad.name + ": " + error);
                continue;
            }
            auto found = std::find(plan.sources.begin(), plan.sources.end(), sample);
            if (found == plan.sources.end())
                found = plan.sources.insert(plan.sources.end(), std::move(sample));
            mix.source[l] = static_cast<int16_t>(found - plan.sources.begin());
        }
    }
    return plan;
}

DrumSampler::DrumSampler(const std::vector<std::shared_ptr<const DrumSample>> &sources,
                         double sampleRate)
    : sampleRate_(sampleRate > 0.0 ? sampleRate : 48000.0) {
    (void)kernel();
    (void)phases();
    samples_.reserve(sources.size());
    for (const auto &source : sources)
        samples_.push_back(drumSampleAtRate(source, sampleRate_));
    fadeStep_ = static_cast<float>(1.0 / std::max(1.0, chokeFadeSeconds * sampleRate_));
}

DrumSampler::Voice &DrumSampler::freeVoice() {
    Voice *oldest = &voices_[0];
    for (Voice &voice : voices_) {
        if (!voice.active) return voice;
        if (voice.order < oldest->order) oldest = &voice;
    }
    // Every voice sounds: the oldest hit, by now the quietest as a rule, makes way.
    return *oldest;
}

void DrumSampler::noteOn(int pitch, float velocity) {
    if (!(velocity > 0.0f)) return;
    const int midiVelocity = std::clamp(static_cast<int>(std::lround(velocity * 127.0f)), 1, 127);
    const float level = std::min(velocity, 1.0f);
    for (int32_t p = 0; p < mix_.padCount; ++p) {
        const DrumPadMix &pad = mix_.pads[static_cast<std::size_t>(p)];
        if (pad.note != pitch) continue;
        if (pad.chokeGroup > 0)
            for (Voice &voice : voices_)
                if (voice.active && voice.chokeGroup == pad.chokeGroup && voice.pad != p)
                    voice.fading = true;
        for (int32_t l = 0; l < pad.layerCount; ++l) {
            const auto layer = static_cast<std::size_t>(l);
            if (midiVelocity < pad.low[layer] || midiVelocity > pad.high[layer]) continue;
            const int16_t source = pad.source[layer];
            if (source >= 0 && static_cast<std::size_t>(source) < samples_.size()) {
                Voice &voice = freeVoice();
                voice = Voice{};
                voice.sample = samples_[static_cast<std::size_t>(source)].get();
                voice.step = pad.step;
                voice.cutoff = std::min(1.0, 1.0 / pad.step);
                voice.gainLeft = pad.gainLeft * level;
                voice.gainRight = pad.gainRight * level;
                voice.pad = p;
                voice.chokeGroup = pad.chokeGroup;
                voice.order = ++counter_;
                voice.active = true;
            }
            break; // the first layer whose range holds the velocity plays
        }
    }
}

void DrumSampler::allSoundOff() {
    for (Voice &voice : voices_)
        voice.active = false;
}

void DrumSampler::renderVoice(Voice &voice, float *left, float *right, int frames) const {
    const auto &table = kernel();
    const PhaseTable &phaseTable = phases();
    const float *sourceLeft = voice.sample->left.data();
    const float *sourceRight = voice.sample->right.data();
    const int64_t length = voice.sample->frames();
    const bool fullBand = voice.cutoff == 1.0;
    const double reach = halfTaps / voice.cutoff;
    const auto stride = static_cast<float>(voice.cutoff * tableSteps);
    constexpr auto kernelEnd = static_cast<float>(halfTaps * tableSteps);
    for (int i = 0; i < frames; ++i) {
        const double position = voice.position;
        if (position - reach >= static_cast<double>(length)) {
            voice.active = false;
            return;
        }
        const double whole = std::floor(position);
        const auto centre = static_cast<int64_t>(whole);
        const auto fraction = static_cast<float>(position - whole);
        float valueLeft = 0.0f;
        float valueRight = 0.0f;
        if (fraction == 0.0f && fullBand) {
            // On a source frame at the source's bandwidth the sinc is that frame alone.
            if (centre < length) {
                valueLeft = sourceLeft[centre];
                valueRight = sourceRight[centre];
            }
        } else if (fullBand && centre >= halfTaps - 1 && centre + halfTaps < length) {
            const float scaled = fraction * phaseCount;
            const auto phase = std::min(static_cast<int>(scaled), phaseCount - 1);
            const float blend = scaled - static_cast<float>(phase);
            const auto &from = phaseTable[static_cast<std::size_t>(phase)];
            const auto &to = phaseTable[static_cast<std::size_t>(phase) + 1];
            const float *frameLeft = sourceLeft + centre - (halfTaps - 1);
            const float *frameRight = sourceRight + centre - (halfTaps - 1);
            // Four running sums a side, which the compiler keeps in vector lanes.
            std::array<float, 4> sumsLeft{}, sumsRight{};
            for (std::size_t j = 0; j < phaseTaps; j += 4)
                for (std::size_t lane = 0; lane < 4; ++lane) {
                    const float tap = from[j + lane] + (to[j + lane] - from[j + lane]) * blend;
                    sumsLeft[lane] += frameLeft[j + lane] * tap;
                    sumsRight[lane] += frameRight[j + lane] * tap;
                }
            valueLeft = (sumsLeft[0] + sumsLeft[1]) + (sumsLeft[2] + sumsLeft[3]);
            valueRight = (sumsRight[0] + sumsRight[1]) + (sumsRight[2] + sumsRight[3]);
        } else {
            // Near the sample's ends, or narrowed for a voice that plays higher: the taps at
            // and before the position, then those after it, each frame further away `stride`
            // table steps further along the kernel.
            float sumLeft = 0.0f;
            float sumRight = 0.0f;
            const auto addTap = [&](int64_t k, float at) {
                const auto index = static_cast<std::size_t>(at);
                const float within = at - static_cast<float>(index);
                const float tap = table[index] + (table[index + 1] - table[index]) * within;
                sumLeft += sourceLeft[k] * tap;
                sumRight += sourceRight[k] * tap;
            };
            float at = fraction * stride;
            for (int64_t k = centre; k >= 0 && at < kernelEnd; --k, at += stride)
                if (k < length) addTap(k, at);
            at = (1.0f - fraction) * stride;
            for (int64_t k = centre + 1; k < length && at < kernelEnd; ++k, at += stride)
                addTap(k, at);
            const auto bandwidth = static_cast<float>(voice.cutoff);
            valueLeft = sumLeft * bandwidth;
            valueRight = sumRight * bandwidth;
        }
        left[i] += valueLeft * voice.gainLeft * voice.fade;
        right[i] += valueRight * voice.gainRight * voice.fade;
        voice.position += voice.step;
        if (voice.fading) {
            voice.fade -= fadeStep_;
            if (voice.fade <= 0.0f) {
                voice.active = false;
                return;
            }
        }
    }
}

void DrumSampler::process(float *left, float *right, int frames) {
    if (frames <= 0) return;
    for (Voice &voice : voices_)
        if (voice.active) renderVoice(voice, left, right, frames);
}

int DrumSampler::activeVoiceCount() const {
    return static_cast<int>(std::count_if(voices_.begin(), voices_.end(),
                                          [](const Voice &voice) { return voice.active; }));
}

} // namespace orvane::stock

#include "core/stock/SynthDsp.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>

namespace orvane::stock::synth {

namespace {

constexpr int minTableBits = 11;
constexpr int maxTableBits = 16;
// Linear interpolation leaves images of each harmonic k at about (k / size)^2 of its level;
// 32 samples per highest harmonic keep their sum more than 80 dB under the fundamental.
constexpr int samplesPerHarmonic = 32;

// In-place radix-2 transform with a positive exponent: out[n] = sum_k in[k] e^(2 pi i k n/N).
void inverseTransform(std::vector<std::complex<double>> &data) {
    const size_t size = data.size();
    for (size_t i = 1, j = 0; i < size; ++i) {
        size_t bit = size >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }
    for (size_t length = 2; length <= size; length <<= 1) {
        const double angle = 2.0 * std::numbers::pi / static_cast<double>(length);
        for (size_t k = 0; k < length / 2; ++k) {
            const std::complex<double> twiddle = std::polar(1.0, angle * static_cast<double>(k));
            for (size_t start = 0; start < size; start += length) {
                const std::complex<double> even = data[start + k];
                const std::complex<double> odd = data[start + k + length / 2] * twiddle;
                data[start + k] = even + odd;
                data[start + k + length / 2] = even - odd;
            }
        }
    }
}

// Sine amplitude of harmonic k of each shape (zero where the shape has none).
double sawHarmonic(int k) { return -2.0 / (std::numbers::pi * k); }

double triangleHarmonic(int k) {
    if (k % 2 == 0) return 0.0;
    const double sign = (k / 2) % 2 == 0 ? 1.0 : -1.0;
    return sign * 8.0 / (std::numbers::pi * std::numbers::pi * k * k);
}

// Appends one cycle of sum_k amplitude(k) sin(2 pi k n / size), k = 1..harmonics, plus the
// guard sample that lets interpolation read past the end.
template <typename Amplitude>
void appendCycle(std::vector<float> &storage, int bits, int harmonics, Amplitude amplitude) {
    const size_t size = size_t{1} << bits;
    std::vector<std::complex<double>> spectrum(size);
    // The real part of -i a e^(i theta) is a sin(theta).
    for (int k = 1; k <= harmonics; ++k)
        spectrum[static_cast<size_t>(k)] = std::complex<double>(0.0, -amplitude(k));
    inverseTransform(spectrum);
    for (const std::complex<double> &value : spectrum)
        storage.push_back(static_cast<float>(value.real()));
    storage.push_back(static_cast<float>(spectrum[0].real()));
}

} // namespace

const WaveTables &WaveTables::instance() {
    static const WaveTables tables;
    return tables;
}

WaveTables::WaveTables() {
    for (int step = 0;; ++step) {
        const int harmonics =
            std::min(maxHarmonics, static_cast<int>(std::exp2(static_cast<double>(step) / 4.0)));
        if (!levels_.empty() && levels_.back().harmonics == harmonics) continue;
        const int wanted =
            std::bit_width(static_cast<unsigned>(harmonics * samplesPerHarmonic - 1));
        Level level{harmonics, saw_.size(), std::clamp(wanted, minTableBits, maxTableBits)};
        levels_.push_back(level);
        appendCycle(saw_, level.bits, harmonics, sawHarmonic);
        appendCycle(triangle_, level.bits, harmonics, triangleHarmonic);
        if (harmonics == maxHarmonics) break;
    }
    appendCycle(sine_, minTableBits, 1, [](int) { return 1.0; });

    size_t level = 0;
    levelForHarmonics_[0] = -1;
    for (int harmonics = 1; harmonics <= maxHarmonics; ++harmonics) {
        while (level + 1 < levels_.size() && levels_[level + 1].harmonics <= harmonics)
            ++level;
        levelForHarmonics_[static_cast<size_t>(harmonics)] = static_cast<int16_t>(level);
    }
}

WaveTable WaveTables::tableAt(const std::vector<float> &storage, const Level &level) const {
    const auto shift = static_cast<uint32_t>(32 - level.bits);
    return {storage.data() + level.offset, shift, std::ldexp(1.0f, -static_cast<int>(shift))};
}

WaveTable WaveTables::table(SynthWave wave, double cyclesPerSample) const {
    // The most harmonics h with h × cyclesPerSample still below one half.
    int harmonics = maxHarmonics;
    if (cyclesPerSample >= 0.5) return {};
    if (cyclesPerSample > 0.5 / maxHarmonics)
        harmonics = static_cast<int>(std::ceil(0.5 / cyclesPerSample)) - 1;
    const int level = levelForHarmonics_[static_cast<size_t>(harmonics)];
    if (level < 0) return {};
    if (wave == SynthWave::Sine) return tableAt(sine_, Level{1, 0, minTableBits});
    const std::vector<float> &storage = wave == SynthWave::Triangle ? triangle_ : saw_;
    return tableAt(storage, levels_[static_cast<size_t>(level)]);
}

EnvelopeRates EnvelopeRates::make(float attack, float decay, float sustain, float release,
                                  double sampleRate) {
    constexpr double sixtyDb = 6.907755278982137; // ln(1000)
    EnvelopeRates rates;
    rates.attackStep = static_cast<float>(1.0 / (std::max(attack, 1.0e-4f) * sampleRate));
    rates.decayCoef =
        static_cast<float>(std::exp(-sixtyDb / (std::max(decay, 1.0e-4f) * sampleRate)));
    rates.releaseCoef =
        static_cast<float>(std::exp(-sixtyDb / (std::max(release, 1.0e-4f) * sampleRate)));
    rates.sustain = sustain;
    return rates;
}

} // namespace orvane::stock::synth

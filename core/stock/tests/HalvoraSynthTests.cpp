#include "core/stock/HalvoraSynth.h"

#include "core/stock/tests/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <numbers>
#include <string>
#include <vector>

namespace orvane::stock {
namespace {

using P = SynthParam;
using orvane::testing::peakOf;
using orvane::testing::rmsOf;
using orvane::testing::slice;

constexpr double rate = 48000.0;
constexpr double pi = std::numbers::pi;

struct Setting {
    P param;
    float value;
};

// A plain sine through an open filter with a near-instant attack, so that what is measured
// is the part under test.
void configure(HalvoraSynth &synth, const std::vector<Setting> &settings,
               double sampleRate = rate) {
    synth.prepare(sampleRate, 256);
    synth.setParameter(P::Osc1Wave, float(SynthWave::Sine));
    synth.setParameter(P::Osc1Level, 1.0f);
    synth.setParameter(P::AmpAttack, 0.001f);
    for (const Setting &setting : settings)
        synth.setParameter(setting.param, setting.value);
}

// Renders in host-sized blocks and returns the left channel.
std::vector<float> render(HalvoraSynth &synth, double seconds, double sampleRate = rate) {
    std::vector<float> left(size_t(seconds * sampleRate), 0.0f);
    std::vector<float> right = left;
    for (size_t done = 0; done < left.size(); done += 256) {
        const int frames = int(std::min<size_t>(256, left.size() - done));
        synth.process(left.data() + done, right.data() + done, frames);
    }
    return left;
}

void append(std::vector<float> &to, const std::vector<float> &more) {
    to.insert(to.end(), more.begin(), more.end());
}

double noteHz(double semitones) { return 440.0 * std::exp2((semitones - 69.0) / 12.0); }
double cents(double measured, double expected) { return 1200.0 * std::log2(measured / expected); }

// Frequency from the first and last upward zero crossing from `begin` on, each placed between
// samples by linear interpolation: over a long window that is far finer than a cent.
double zeroCrossingHz(const std::vector<float> &x, size_t begin, size_t end,
                      double sampleRate = rate) {
    double first = -1.0;
    double last = -1.0;
    int periods = -1;
    for (size_t i = begin + 1; i < end; ++i) {
        if (x[i - 1] >= 0.0f || x[i] < 0.0f) continue;
        const double at = double(i - 1) + x[i - 1] / double(x[i - 1] - x[i]);
        if (first < 0.0) first = at;
        last = at;
        ++periods;
    }
    return periods > 0 ? periods * sampleRate / (last - first) : 0.0;
}

// Amplitude of the `hz` component of x[begin, end), Hann-windowed so that neighbouring
// harmonics do not leak into it.
double hannAmplitude(const std::vector<float> &x, size_t begin, size_t end, double hz) {
    std::complex<double> sum;
    double weights = 0.0;
    const double n = double(end - begin);
    for (size_t i = begin; i < end; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * pi * double(i - begin) / n);
        sum += w * double(x[i]) * std::polar(1.0, -2.0 * pi * hz * double(i) / rate);
        weights += w;
    }
    return 2.0 * std::abs(sum) / weights;
}

TEST(HalvoraSynth, NotesAcrossTheKeyboardAreInTune) {
    struct Case {
        P firstOfOsc;
        SynthWave wave;
        float octave, semitone, fine;
    };
    const Case cases[] = {
        {P::Osc1Wave, SynthWave::Sine, 0, 0, 0},        {P::Osc1Wave, SynthWave::Saw, 0, 0, 0},
        {P::Osc1Wave, SynthWave::Triangle, 1, -5, -47}, {P::Osc2Wave, SynthWave::Sine, -1, 7, 33},
        {P::Osc2Wave, SynthWave::Pulse, 0, 0, 12.5f},
    };
    double worst = 0.0;
    for (const Case &c : cases) {
        for (int note = 24; note <= 108; note += 6) {
            HalvoraSynth synth;
            const int first = int(c.firstOfOsc);
            configure(synth, {{P::Osc1Level, 0}});
            synth.setParameter(first, float(c.wave));
            synth.setParameter(first + 1, c.octave);
            synth.setParameter(first + 2, c.semitone);
            synth.setParameter(first + 3, c.fine);
            synth.setParameter(first + 5, 1.0f);
            synth.noteOn(note, 1.0f);
            const std::vector<float> out = render(synth, 0.5);
            const double expected = noteHz(note + 12.0 * c.octave + c.semitone + c.fine / 100.0);
            const double error = cents(zeroCrossingHz(out, 2400, out.size()), expected);
            EXPECT_LT(std::abs(error), 1.0) << "note " << note << " wave " << int(c.wave);
            worst = std::max(worst, std::abs(error));
        }
    }
    std::printf("worst pitch error: %.4f cents\n", worst);
}

// The saw runs at f0 = rate × p / q with p and q coprime, over a window of a whole number of
// its q-sample cycles. Every harmonic then falls on a DFT bin that is a multiple of the
// fundamental's bin, and every alias (a harmonic folded at half the rate, or an image of the
// table interpolation) on another multiple of rate / q that is not. The Hann window spreads a
// harmonic over three bins only, so the energy outside those triples is the non-harmonic
// energy; Parseval gives it as the total minus the triples.
TEST(HalvoraSynth, FourKilohertzSawAndPulseAliasLessThanEightyDb) {
    struct Case {
        double sampleRate;
        int p, q, cycles;
        SynthWave wave;
    };
    const Case cases[] = {{48000.0, 40, 479, 100, SynthWave::Saw},
                          {48000.0, 40, 479, 100, SynthWave::Pulse},
                          {44100.0, 10, 109, 400, SynthWave::Saw}};
    for (const Case &c : cases) {
        const double f0 = c.sampleRate * c.p / c.q;
        HalvoraSynth synth;
        // A high-pass far below the tone leaves the oscillator's aliases as they are, where the
        // default low-pass near half the rate would hide those that fold to the top.
        configure(synth,
                  {{P::Osc1Wave, float(c.wave)},
                   {P::Osc1PulseWidth, 37},
                   {P::FilterMode, float(SynthFilterMode::HighPass)},
                   {P::FilterCutoff, 20}},
                  c.sampleRate);
        const int note = 107;
        synth.setParameter(P::Osc1Fine, float(1200.0 * std::log2(f0 / noteHz(note))));
        synth.noteOn(note, 1.0f);
        const std::vector<float> out = render(synth, 1.2, c.sampleRate);
        const size_t n = size_t(c.q) * size_t(c.cycles);
        const size_t begin = out.size() - n;
        std::vector<double> windowed(n);
        double total = 0.0;
        for (size_t i = 0; i < n; ++i) {
            windowed[i] = (0.5 - 0.5 * std::cos(2.0 * pi * double(i) / double(n))) * out[begin + i];
            total += windowed[i] * windowed[i];
        }
        auto binEnergy = [&](int bin) {
            std::complex<double> sum;
            for (size_t i = 0; i < n; ++i)
                sum +=
                    windowed[i] * std::polar(1.0, -2.0 * pi * double(bin) * double(i) / double(n));
            return (bin == 0 ? 1.0 : 2.0) * std::norm(sum) / double(n);
        };
        const int fundamentalBin = c.p * c.cycles;
        double harmonic = binEnergy(0) + binEnergy(1);
        double fundamental = 0.0;
        for (int k = 1; k * f0 < c.sampleRate / 2; ++k) {
            const double triple = binEnergy(k * fundamentalBin - 1) +
                                  binEnergy(k * fundamentalBin) + binEnergy(k * fundamentalBin + 1);
            if (k == 1) fundamental = triple;
            harmonic += triple;
        }
        const double aliasDb = 10.0 * std::log10(std::max(total - harmonic, 1e-30) / fundamental);
        std::printf("%.0f Hz at %.0f Hz, wave %d: non-harmonic energy %.1f dB\n", f0, c.sampleRate,
                    int(c.wave), aliasDb);
        EXPECT_LT(aliasDb, -80.0) << f0 << " Hz at " << c.sampleRate;
    }
}

TEST(HalvoraSynth, WaveformsHaveTheirHarmonicBalance) {
    struct Case {
        SynthWave wave;
        float pulseWidth;
        int harmonic;
        double ratioToFundamental;
    };
    const Case cases[] = {
        {SynthWave::Saw, 50, 2, 1.0 / 2.0},
        {SynthWave::Saw, 50, 7, 1.0 / 7.0},
        {SynthWave::Triangle, 50, 2, 0.0},
        {SynthWave::Triangle, 50, 3, 1.0 / 9.0},
        {SynthWave::Pulse, 50, 2, 0.0},
        {SynthWave::Pulse, 50, 3, 1.0 / 3.0},
        // A pulse of duty d has harmonics in proportion to |sin(pi k d)| / k.
        {SynthWave::Pulse, 25, 2, 0.5 / std::sin(pi / 4)},
        {SynthWave::Pulse, 25, 4, 0.0},
        {SynthWave::Pulse, 10, 3, std::sin(0.3 * pi) / (3.0 * std::sin(0.1 * pi))},
    };
    for (const Case &c : cases) {
        HalvoraSynth synth;
        configure(synth, {{P::Osc1Wave, float(c.wave)}, {P::Osc1PulseWidth, c.pulseWidth}});
        synth.noteOn(57, 1.0f);
        const std::vector<float> out = render(synth, 0.6);
        const double f0 = noteHz(57);
        const double ratio = hannAmplitude(out, 4800, out.size(), c.harmonic * f0) /
                             hannAmplitude(out, 4800, out.size(), f0);
        EXPECT_NEAR(ratio, c.ratioToFundamental, 0.003)
            << "wave " << int(c.wave) << " width " << c.pulseWidth << " harmonic " << c.harmonic;
    }
}

// A two-pole stage, or two of them, tuned to a Butterworth response: the bilinear transform
// maps f to the analogue frequency tan(pi f / rate) / tan(pi fc / rate).
double butterworthDb(SynthFilterMode mode, int poles, double hz, double cutoffHz) {
    const double w = std::tan(pi * hz / rate) / std::tan(pi * cutoffHz / rate);
    const double low = 1.0 / std::sqrt(1.0 + std::pow(w, 2.0 * poles));
    return 20.0 * std::log10(mode == SynthFilterMode::LowPass ? low : low * std::pow(w, poles));
}

TEST(HalvoraSynth, FilterCutsAtTheCutoffAsSet) {
    const double f0 = noteHz(43);
    const double cutoff = 10.0 * f0;
    auto harmonicLevels = [&](SynthFilterMode mode, int poles, float cutoffHz, float resonance) {
        HalvoraSynth synth;
        configure(synth, {{P::Osc1Wave, float(SynthWave::Saw)},
                          {P::FilterMode, float(mode)},
                          {P::FilterSlope, poles == 4 ? 1.0f : 0.0f},
                          {P::FilterCutoff, cutoffHz},
                          {P::FilterResonance, resonance}});
        synth.noteOn(43, 1.0f);
        const std::vector<float> out = render(synth, 1.2);
        std::vector<double> levels;
        for (int k : {5, 10, 20})
            levels.push_back(hannAmplitude(out, 9600, out.size(), k * f0));
        return levels;
    };
    // A high-pass far below the harmonics measured passes them untouched.
    const std::vector<double> open = harmonicLevels(SynthFilterMode::HighPass, 2, 20.0f, 0.0f);
    for (SynthFilterMode mode : {SynthFilterMode::LowPass, SynthFilterMode::HighPass}) {
        for (int poles : {2, 4}) {
            const std::vector<double> levels = harmonicLevels(mode, poles, float(cutoff), 0.0f);
            for (size_t i = 0; i < levels.size(); ++i) {
                const double hz = f0 * (i == 0 ? 5 : i == 1 ? 10 : 20);
                EXPECT_NEAR(20.0 * std::log10(levels[i] / open[i]),
                            butterworthDb(mode, poles, hz, cutoff), 0.25)
                    << "mode " << int(mode) << " poles " << poles << " at " << hz << " Hz";
            }
        }
    }
    // At no resonance the two-pole band-pass has the Butterworth damping, sqrt 2.
    const double w = std::tan(pi * 20 * f0 / rate) / std::tan(pi * cutoff / rate);
    const double bandAtOctave = std::sqrt(2.0) * w / std::hypot(1.0 - w * w, std::sqrt(2.0) * w);
    std::vector<double> bandDb;
    for (int poles : {2, 4}) {
        const std::vector<double> band =
            harmonicLevels(SynthFilterMode::BandPass, poles, float(cutoff), 0.0f);
        EXPECT_NEAR(20.0 * std::log10(band[1] / open[1]), 0.0, 0.25) << poles << " poles";
        bandDb.push_back(20.0 * std::log10(band[2] / open[2]));
    }
    EXPECT_NEAR(bandDb[0], 20.0 * std::log10(bandAtOctave), 0.25);
    EXPECT_LT(bandDb[1], bandDb[0] - 3.0);
    const std::vector<double> resonant =
        harmonicLevels(SynthFilterMode::LowPass, 2, float(cutoff), 1.0f);
    EXPECT_GT(20.0 * std::log10(resonant[1] / open[1]), 20.0);
}

// Level of harmonic 10 against the fundamental of a saw on `note`, over [fromMs, toMs).
double brightnessDb(const std::vector<Setting> &settings, int note, float velocity, double fromMs,
                    double toMs) {
    HalvoraSynth synth;
    configure(synth, settings);
    synth.setParameter(P::Osc1Wave, float(SynthWave::Saw));
    synth.noteOn(note, velocity);
    const std::vector<float> out = render(synth, toMs / 1000);
    const auto from = size_t(fromMs * 48);
    return 20.0 * std::log10(hannAmplitude(out, from, out.size(), 10 * noteHz(note)) /
                             hannAmplitude(out, from, out.size(), noteHz(note)));
}

TEST(HalvoraSynth, CutoffFollowsKeysEnvelopeAndVelocity) {
    const std::vector<Setting> lowPass{{P::FilterCutoff, 400}, {P::FilterSlope, 1}};
    auto with = [&](std::vector<Setting> more) {
        more.insert(more.begin(), lowPass.begin(), lowPass.end());
        return more;
    };
    // Full key tracking keeps the cutoff at the same harmonic on every key; none does not.
    const auto tracked = with({{P::FilterKeyTrack, 1}});
    EXPECT_NEAR(brightnessDb(tracked, 43, 1, 200, 800), brightnessDb(tracked, 55, 1, 200, 800),
                0.3);
    EXPECT_GT(brightnessDb(lowPass, 43, 1, 200, 800) - brightnessDb(lowPass, 55, 1, 200, 800),
              12.0);

    // Four octaves of envelope that decays to nothing: bright at first, back to the set
    // cutoff once it has decayed; softer keys open it less when velocity is routed to it.
    const auto swept = with({{P::FilterEnvAmount, 4},
                             {P::FilterDecay, 0.3f},
                             {P::FilterSustain, 0},
                             {P::FilterVelocity, 1}});
    const double early = brightnessDb(swept, 43, 1, 0, 100);
    const double late = brightnessDb(swept, 43, 1, 600, 900);
    EXPECT_GT(early - late, 20.0);
    EXPECT_NEAR(late, brightnessDb(lowPass, 43, 1, 600, 900), 0.3);
    EXPECT_LT(brightnessDb(swept, 43, 0.3f, 0, 100), early - 6.0);
}

// Tremolo at full depth swings the level from full to nothing, but only with the wheel up
// when the wheel controls the depth.
TEST(HalvoraSynth, LfoSwingsTheLevelAsTheWheelAllows) {
    for (float wheel : {0.0f, 1.0f}) {
        HalvoraSynth synth;
        configure(synth, {{P::LfoAmp, 1}, {P::LfoPitch, 0}, {P::LfoRate, 4}});
        synth.modWheel(wheel);
        synth.noteOn(81, 1.0f);
        const std::vector<float> out = render(synth, 1.0);
        double lowest = 1e9, highest = 0.0;
        for (size_t at = 2400; at + 480 <= out.size(); at += 480) {
            lowest = std::min(lowest, peakOf(slice(out, at, at + 480)));
            highest = std::max(highest, peakOf(slice(out, at, at + 480)));
        }
        if (wheel == 0.0f) {
            EXPECT_GT(lowest, 0.99 * highest);
        } else {
            EXPECT_LT(lowest, 0.05 * highest);
        }
    }
}

// The envelope of a 1760 Hz sine: its peak in each millisecond.
std::vector<double> envelopeOf(const std::vector<float> &x) {
    std::vector<double> envelope;
    for (size_t i = 0; i + 48 <= x.size(); i += 48)
        envelope.push_back(peakOf(slice(x, i, i + 48)));
    return envelope;
}

// Milliseconds from `from` until the envelope first meets `reached`.
double msUntil(const std::vector<double> &envelope, size_t from,
               const std::function<bool(double)> &reached) {
    for (size_t i = from; i < envelope.size(); ++i)
        if (reached(envelope[i])) return double(i - from);
    return -1.0;
}

TEST(HalvoraSynth, AmpEnvelopeTakesItsTimes) {
    // Decay and release fall 60 dB of their distance in their time, so 20 dB in a third.
    const double attack = 200, decay = 300, sustain = 0.5, release = 450, held = 1500;
    HalvoraSynth synth;
    configure(synth, {{P::AmpAttack, float(attack / 1000)},
                      {P::AmpDecay, float(decay / 1000)},
                      {P::AmpSustain, float(sustain)},
                      {P::AmpRelease, float(release / 1000)}});
    synth.noteOn(93, 1.0f);
    std::vector<float> out = render(synth, held / 1000);
    synth.noteOff(93);
    append(out, render(synth, 1.0));
    const std::vector<double> env = envelopeOf(out);
    const double peak = *std::max_element(env.begin(), env.end());
    const double level = peak * sustain;
    EXPECT_NEAR(msUntil(env, 0, [&](double e) { return e >= 0.99 * peak; }), 0.99 * attack,
                0.03 * attack);
    EXPECT_NEAR(
        msUntil(env, size_t(attack), [&](double e) { return e - level <= 0.1 * (peak - level); }),
        decay / 3, 0.03 * decay);
    EXPECT_NEAR(env[size_t(held) - 5], level, 0.01 * peak);
    EXPECT_NEAR(msUntil(env, size_t(held), [&](double e) { return e <= 0.1 * level; }), release / 3,
                0.03 * release);
    EXPECT_NEAR(msUntil(env, size_t(held), [&](double e) { return e <= 0.01 * level; }),
                2 * release / 3, 0.03 * release);
    EXPECT_EQ(synth.activeVoiceCount(), 0);
}

double maxStep(const std::vector<float> &x, size_t begin, size_t end) {
    double largest = 0.0;
    for (size_t i = std::max<size_t>(begin, 1); i < std::min(end, x.size()); ++i)
        largest = std::max(largest, std::abs(double(x[i]) - double(x[i - 1])));
    return largest;
}

// A click is a jump between neighbouring samples. A steady sine of the higher pitch at full
// level sets the largest step that is not one.
TEST(HalvoraSynth, NotesStartStopAndAreStolenWithoutClicks) {
    struct Case {
        const char *name;
        std::vector<Setting> settings;
        std::function<void(HalvoraSynth &)> before;
        std::function<void(HalvoraSynth &)> event;
    };
    const Case cases[] = {
        {"note on", {}, [](HalvoraSynth &) {}, [](HalvoraSynth &s) { s.noteOn(64, 1.0f); }},
        {"note off",
         {},
         [](HalvoraSynth &s) { s.noteOn(64, 1.0f); },
         [](HalvoraSynth &s) { s.noteOff(64); }},
        {"steal",
         {{P::Polyphony, 1}},
         [](HalvoraSynth &s) { s.noteOn(57, 1.0f); },
         [](HalvoraSynth &s) { s.noteOn(64, 1.0f); }},
        {"retrigger while releasing",
         {{P::AmpSustain, 0.5f}},
         [](HalvoraSynth &s) {
             s.noteOn(64, 1.0f);
             s.noteOff(64);
         },
         [](HalvoraSynth &s) { s.noteOn(64, 1.0f); }},
        {"mono new key",
         {{P::VoiceMode, float(SynthVoiceMode::Mono)}},
         [](HalvoraSynth &s) { s.noteOn(57, 1.0f); },
         [](HalvoraSynth &s) { s.noteOn(64, 1.0f); }},
        {"all notes off",
         {},
         [](HalvoraSynth &s) { s.noteOn(64, 1.0f); },
         [](HalvoraSynth &s) { s.allNotesOff(); }},
        {"gain drop",
         {},
         [](HalvoraSynth &s) { s.noteOn(64, 1.0f); },
         [](HalvoraSynth &s) { s.setParameter(P::MasterGain, -40.0f); }},
        {"level drop",
         {},
         [](HalvoraSynth &s) { s.noteOn(64, 1.0f); },
         [](HalvoraSynth &s) { s.setParameter(P::Osc1Level, 0.0f); }},
    };
    HalvoraSynth reference;
    configure(reference, {});
    reference.noteOn(64, 1.0f);
    const std::vector<float> steady = render(reference, 0.5);
    const double allowed = 1.25 * maxStep(steady, 12000, steady.size());
    for (const Case &c : cases) {
        HalvoraSynth synth;
        configure(synth, c.settings);
        synth.setParameter(P::AmpAttack, 0.005f);
        c.before(synth);
        // Not a whole number of periods, so that no jump hides at a zero crossing.
        std::vector<float> out = render(synth, 0.1037);
        c.event(synth);
        append(out, render(synth, 0.3));
        EXPECT_LT(maxStep(out, 4800, out.size()), allowed) << c.name;
        EXPECT_GT(rmsOf(slice(out, 0, 9600)) + rmsOf(slice(out, 4800, 6000)), 0.0) << c.name;
    }
}

TEST(HalvoraSynth, AFullPoolGivesUpAReleasingVoiceBeforeAHeldOne) {
    HalvoraSynth synth;
    configure(synth, {{P::Polyphony, 2}});
    synth.noteOn(57, 1.0f);
    synth.noteOn(60, 1.0f);
    render(synth, 0.1);
    synth.noteOff(60);
    render(synth, 0.02);
    synth.noteOn(64, 1.0f);
    const std::vector<float> out = render(synth, 0.3);
    const double held = hannAmplitude(out, 4800, out.size(), noteHz(57));
    EXPECT_NEAR(hannAmplitude(out, 4800, out.size(), noteHz(64)), held, 0.01 * held);
    EXPECT_LT(hannAmplitude(out, 4800, out.size(), noteHz(60)), 0.001 * held);
}

TEST(HalvoraSynth, PitchBendWheelAndGlideMoveThePitch) {
    struct Bend {
        float range, bend;
        double semitones;
    };
    for (const Bend b : {Bend{2, 1, 2}, Bend{2, -1, -2}, Bend{7, 1, 7}, Bend{12, -0.5f, -6}}) {
        HalvoraSynth synth;
        configure(synth, {{P::BendRange, b.range}});
        synth.pitchBend(b.bend);
        synth.noteOn(60, 1.0f);
        const std::vector<float> out = render(synth, 0.3);
        EXPECT_LT(std::abs(cents(zeroCrossingHz(out, 2400, out.size()), noteHz(60 + b.semitones))),
                  1.0)
            << b.range << " " << b.bend;
    }

    // Vibrato of one semitone appears only with the wheel up.
    for (float wheel : {0.0f, 1.0f}) {
        HalvoraSynth synth;
        configure(synth, {{P::LfoPitch, 1.0f}, {P::LfoRate, 5.0f}, {P::LfoModWheel, 1.0f}});
        synth.modWheel(wheel);
        synth.noteOn(69, 1.0f);
        const std::vector<float> out = render(synth, 0.5);
        double lowest = 1e9, highest = 0.0;
        for (size_t at = 2400; at + 960 < out.size(); at += 480) {
            const double hz = zeroCrossingHz(out, at, at + 960);
            lowest = std::min(lowest, hz);
            highest = std::max(highest, hz);
        }
        const double swing = cents(highest, lowest);
        if (wheel == 0.0f) {
            EXPECT_LT(swing, 1.0);
        } else {
            EXPECT_GT(swing, 150.0);
        }
    }

    HalvoraSynth synth;
    configure(synth, {{P::VoiceMode, float(SynthVoiceMode::Legato)}, {P::GlideTime, 0.2f}});
    synth.noteOn(60, 1.0f);
    render(synth, 0.2);
    synth.noteOn(72, 1.0f);
    const std::vector<float> out = render(synth, 0.5);
    const double midway = zeroCrossingHz(out, 4320, 5280);
    EXPECT_NEAR(cents(midway, noteHz(60)), 600.0, 60.0);
    EXPECT_LT(std::abs(cents(zeroCrossingHz(out, 12000, out.size()), noteHz(72))), 1.0);
}

// With one voice, a second key takes the voice over and letting it go returns to the key
// still held.
TEST(HalvoraSynth, OneVoiceModesFollowTheNewestHeldKey) {
    for (SynthVoiceMode mode : {SynthVoiceMode::Mono, SynthVoiceMode::Legato}) {
        HalvoraSynth synth;
        configure(synth, {{P::VoiceMode, float(mode)}, {P::AmpAttack, 0.05f}});
        synth.noteOn(60, 1.0f);
        std::vector<float> out = render(synth, 0.3);
        synth.noteOn(67, 1.0f);
        append(out, render(synth, 0.3));
        synth.noteOff(67);
        append(out, render(synth, 0.3));
        EXPECT_LT(std::abs(cents(zeroCrossingHz(out, 16800, 28800), noteHz(67))), 1.0);
        EXPECT_LT(std::abs(cents(zeroCrossingHz(out, 31200, 43200), noteHz(60))), 1.0);
        EXPECT_GT(rmsOf(slice(out, 40000)), 0.5 * rmsOf(slice(out, 0, 14400)));
        synth.noteOff(60);
        const std::vector<float> after = render(synth, 1.5);
        EXPECT_LT(peakOf(slice(after, 48000)), 1e-6);
        // Neither mode starts the envelope again from silence at the second key.
        const double justAfter = peakOf(slice(out, 14400, 14400 + 480));
        EXPECT_GT(justAfter, 0.9 * peakOf(slice(out, 9600, 14400)));
    }
}

TEST(HalvoraSynth, VelocityScalesTheLevelBySensitivity) {
    struct Case {
        float sensitivity, velocity;
        double ratio;
    };
    for (const Case c : {Case{1, 0.25f, 0.25}, Case{0, 0.25f, 1.0}, Case{1, 1, 1}}) {
        auto level = [&](float velocity) {
            HalvoraSynth synth;
            configure(synth, {{P::AmpVelocity, c.sensitivity}});
            synth.noteOn(69, velocity);
            return rmsOf(slice(render(synth, 0.3), 4800));
        };
        EXPECT_NEAR(level(c.velocity) / level(1.0f), c.ratio, 1e-3) << c.sensitivity;
    }
}

TEST(HalvoraSynth, EveryPresetLoadsAndPlays) {
    ASSERT_GE(HalvoraSynth::factoryPresets().size(), 6u);
    for (const SynthPreset &preset : HalvoraSynth::factoryPresets()) {
        HalvoraSynth synth;
        ASSERT_TRUE(synth.applyPreset(preset.name));
        for (const SynthPresetValue &value : preset.values)
            EXPECT_EQ(synth.parameter(value.param), value.value) << preset.name;
        for (int note : {48, 55, 60, 64})
            synth.noteOn(note, 0.8f);
        std::vector<float> out = render(synth, 1.0);
        for (int note : {48, 55, 60, 64})
            synth.noteOff(note);
        append(out, render(synth, 0.5));
        EXPECT_GT(rmsOf(slice(out, 0, 48000)), 0.01) << preset.name;
        EXPECT_LT(peakOf(out), 1.0) << preset.name;
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float s) { return std::isfinite(s); }));
    }
    HalvoraSynth synth;
    EXPECT_FALSE(synth.applyPreset("No such sound"));
}

TEST(HalvoraSynth, NormalisedValuesMapBackAndStayInRange) {
    for (int i = 0; i < HalvoraSynth::parameterCount(); ++i) {
        const SynthParamInfo &info = HalvoraSynth::parameterInfo()[size_t(i)];
        EXPECT_GE(info.defaultValue, info.min) << info.id;
        EXPECT_LE(info.defaultValue, info.max) << info.id;
        HalvoraSynth synth;
        float previous = -1e9f;
        for (float normalized : {0.0f, 0.2f, 0.5f, 0.8f, 1.0f}) {
            synth.setParameterNormalized(i, normalized);
            const float plain = synth.parameter(i);
            EXPECT_GE(plain, previous) << info.id;
            previous = plain;
            if (info.steps == 0) {
                EXPECT_NEAR(synth.parameterNormalized(i), normalized, 1e-5) << info.id;
            }
        }
        EXPECT_EQ(synth.parameter(i), info.max) << info.id;
        synth.setParameter(i, info.min - 1000.0f);
        EXPECT_EQ(synth.parameter(i), info.min) << info.id;
    }
}

TEST(HalvoraSynth, StateTextRoundTripsEveryParameter) {
    HalvoraSynth original;
    for (int i = 0; i < HalvoraSynth::parameterCount(); ++i)
        original.setParameterNormalized(i, float((i * 37) % 101) / 100.0f);
    HalvoraSynth copy;
    std::string error;
    ASSERT_TRUE(copy.setStateText(original.stateText(), &error)) << error;
    for (int i = 0; i < HalvoraSynth::parameterCount(); ++i)
        EXPECT_EQ(copy.parameter(i), original.parameter(i)) << synthParameters()[size_t(i)].id;

    ASSERT_TRUE(copy.setStateText("future.knob=3\n  osc2.level = 0.25 \r\n\n", &error)) << error;
    EXPECT_EQ(copy.parameter(P::Osc2Level), 0.25f);
    EXPECT_EQ(copy.parameter(P::FilterCutoff), synthParameter(P::FilterCutoff).defaultValue);
}

TEST(HalvoraSynth, MalformedStateIsRejectedWithoutChange) {
    for (const char *bad : {"osc1.level 0.5", "=0.5", "osc1.level=", "osc1.level=abc",
                            "osc1.level=0.5x", "osc1.level=nan", "osc1.level=inf"}) {
        HalvoraSynth synth;
        synth.applyPreset("Pad");
        const std::string before = synth.stateText();
        std::string error;
        EXPECT_FALSE(synth.setStateText(std::string("osc2.level=0.1\n") + bad + "\n", &error))
            << bad;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
        EXPECT_EQ(synth.stateText(), before) << bad;
    }
}

} // namespace
} // namespace orvane::stock

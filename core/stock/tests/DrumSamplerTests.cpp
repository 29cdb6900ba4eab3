#include "core/stock/DrumSampler.h"

#include "tests/support/AllocationCounter.h"
#include "tests/support/TestSignals.h"
#include "tests/support/TestWavFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <unistd.h>

namespace orvane::stock {
namespace {

namespace fs = std::filesystem;
constexpr double rate = 48000.0;

std::shared_ptr<const DrumSample> sampleOf(std::vector<float> left, std::vector<float> right = {}) {
    auto sample = std::make_shared<DrumSample>();
    sample->right = right.empty() ? left : std::move(right);
    sample->left = std::move(left);
    sample->sampleRate = rate;
    return sample;
}

std::vector<float> sine(double hz, double amplitude, double seconds, double at = rate) {
    return orvane::testing::sineSamples(hz, amplitude, at, static_cast<std::size_t>(seconds * at));
}

/// A pad on `note` playing source `source` for every velocity.
DrumPadMix padMix(int note, int16_t source, int choke = 0) {
    DrumPadMix pad;
    pad.note = note;
    pad.chokeGroup = choke;
    pad.layerCount = 1;
    pad.low[0] = 1;
    pad.high[0] = 127;
    pad.source[0] = source;
    return pad;
}

struct Render {
    std::vector<float> left, right;
};

/// Renders `frames` after striking `notes` at their frames, in blocks of `block`.
Render render(DrumSampler &sampler, int frames,
              const std::vector<std::tuple<int, int, float>> &notes, int block = 64) {
    Render out{std::vector<float>(static_cast<std::size_t>(frames)),
               std::vector<float>(static_cast<std::size_t>(frames))};
    for (int from = 0; from < frames;) {
        int until = std::min(frames, from + block);
        for (const auto &[at, pitch, velocity] : notes) {
            if (at == from) sampler.noteOn(pitch, velocity);
            if (at > from && at < until) until = at;
        }
        sampler.process(out.left.data() + from, out.right.data() + from, until - from);
        from = until;
    }
    return out;
}

/// The frequency of a steady tone, from the first to the last upward zero crossing.
double measuredFrequency(std::span<const float> samples) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
            const double at = static_cast<double>(i - 1) +
                              samples[i - 1] / static_cast<double>(samples[i - 1] - samples[i]);
            if (first < 0.0)
                first = at;
            else
                ++crossings;
            last = at;
        }
    }
    return crossings > 0 ? crossings * rate / (last - first) : 0.0;
}

double largestStep(std::span<const float> samples) {
    double step = 0.0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        step = std::max(step, std::abs(static_cast<double>(samples[i]) - samples[i - 1]));
    return step;
}

/// A 32-bit float stereo WAV file.
void writeFloatWav(const std::string &path, const std::vector<float> &left,
                   const std::vector<float> &right, uint32_t sampleRate) {
    orvane::testing::RiffBuilder riff;
    riff.format(3, 2, sampleRate, 32);
    std::vector<uint8_t> body;
    for (std::size_t i = 0; i < left.size(); ++i)
        for (const float value : {left[i], right[i]}) {
            uint32_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            orvane::testing::putLittleEndian(body, bits, 4);
        }
    riff.chunk("data", static_cast<uint32_t>(body.size()), body).sealed().writeTo(path);
}

/// A 16-bit mono WAV file.
void writePcmWav(const std::string &path, uint32_t sampleRate, const std::vector<int16_t> &pcm) {
    orvane::testing::RiffBuilder riff;
    riff.format(1, 1, sampleRate, 16).data(pcm).sealed().writeTo(path);
}

class TempFolder {
  public:
    TempFolder()
        : path_(fs::temp_directory_path() /
                ("halvora-drums-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string file(const std::string &name) const { return (path_ / name).string(); }
    std::string path() const { return path_.string(); }

  private:
    fs::path path_;
};

TEST(DrumKitState, EditedKitReadsBackAsWritten) {
    DrumKit kit = defaultDrumKit();
    kit.pads[0].gainDb = -4.5f;
    kit.pads[0].pan = 0.25f;
    kit.pads[0].tune = -3.0f;
    kit.pads[2].name = "Snare = tight";
    kit.pads[2].layers = {{"media/soft.wav", 1, 60}, {"media/hard (2).flac", 61, 127}};
    DrumKit read;
    ASSERT_TRUE(readDrumStateText(writeDrumStateText(kit), read, nullptr));
    EXPECT_EQ(read, kit);
    ASSERT_TRUE(readDrumStateText("", read, nullptr));
    EXPECT_EQ(read, defaultDrumKit());
}

TEST(DrumKitState, TextThatDoesNotReadChangesNothing) {
    const std::string good = writeDrumStateText(defaultDrumKit());
    for (const std::string bad :
         {"pads=x\n", "pads=65\n", "pads=1\npad.1.note=36\n", "pads=1\npad.0.note=128\n",
          "pads=1\npad.0.gain=loud\n", "pads=1\npad.0.choke=9\n", "pads=1\npad.0.layers=9\n",
          "pads=1\npad.0.layers=1\npad.0.layer.1.file=a.wav\n",
          "pads=1\npad.0.layers=1\npad.0.layer.0.low=0\n",
          "pads=1\npad.0.layers=1\npad.0.layer.0.low=90\npad.0.layer.0.high=10\n",
          "pads=1\nno equals sign\n", "pads=1\npad.0.tune=nan\n"}) {
        DrumKit kit;
        kit.pads.push_back(DrumPad{});
        const DrumKit before = kit;
        std::string error;
        EXPECT_FALSE(readDrumStateText(bad, kit, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(kit, before) << bad;
    }
}

TEST(DrumSampler, NotePlaysItsPadsSampleWithGainPanAndVelocity) {
    TempFolder folder;
    const auto left = sine(220.0, 0.6, 0.05);
    const auto right = orvane::testing::uniformNoise(left.size(), -0.5f, 0.5f, 7);
    writeFloatWav(folder.file("hit.wav"), left, right, 48000);

    struct Case {
        float gainDb, pan, velocity;
    };
    for (const Case c :
         {Case{0.0f, 0.0f, 1.0f}, Case{-6.0f, 0.5f, 0.8f}, Case{3.0f, -1.0f, 0.3f}}) {
        DrumKit kit;
        kit.pads.push_back(
            DrumPad{40, "Hit", c.gainDb, c.pan, 0.0f, 0, {{"media/hit.wav", 1, 127}}});
        fs::create_directories(folder.file("media"));
        fs::copy_file(folder.file("hit.wav"), folder.file("media/hit.wav"),
                      fs::copy_options::overwrite_existing);
        const DrumKitPlan plan = planDrumKit(kit, folder.path());
        ASSERT_TRUE(plan.errors.empty()) << plan.errors.front();
        DrumSampler sampler(plan.sources, rate);
        sampler.setMix(plan.mix);
        const int frames = static_cast<int>(left.size()) + 500;
        const Render out = render(sampler, frames, {{100, 40, c.velocity}, {200, 41, 1.0f}}, 37);
        const float gain = std::pow(10.0f, c.gainDb / 20.0f) * c.velocity;
        const float toLeft = gain * std::min(1.0f, 1.0f - c.pan);
        const float toRight = gain * std::min(1.0f, 1.0f + c.pan);
        for (int i = 0; i < frames; ++i) {
            const int at = i - 100;
            const bool inside = at >= 0 && at < static_cast<int>(left.size());
            const auto index = static_cast<std::size_t>(inside ? at : 0);
            ASSERT_FLOAT_EQ(out.left[static_cast<std::size_t>(i)],
                            inside ? left[index] * toLeft : 0.0f)
                << "frame " << i;
            ASSERT_FLOAT_EQ(out.right[static_cast<std::size_t>(i)],
                            inside ? right[index] * toRight : 0.0f)
                << "frame " << i;
        }
    }
}

TEST(DrumSampler, TuneMovesThePitchBySemitones) {
    const double tone = 1000.0;
    for (const float tune : {7.0f, -12.0f, 12.0f, 0.5f, -5.25f}) {
        DrumSampler sampler({sampleOf(sine(tone, 0.5, 1.0))}, rate);
        DrumMix mix;
        mix.padCount = 1;
        mix.pads[0] = padMix(60, 0);
        mix.pads[0].step = std::exp2(tune / 12.0);
        sampler.setMix(mix);
        const Render out = render(sampler, 24000, {{0, 60, 1.0f}});
        const auto steady = std::span<const float>(out.left).subspan(2000, 12000);
        const double expected = tone * std::exp2(tune / 12.0);
        EXPECT_NEAR(measuredFrequency(steady), expected, expected * 1e-4) << tune;
        // The interpolator keeps the level of a tone well inside the band.
        EXPECT_NEAR(orvane::testing::peakOf(steady), 0.5, 0.005) << tune;
    }
}

TEST(DrumSampler, TunedToneStaysCleanOfImages) {
    // A high tone tuned by a fraction of a semitone lands between source frames everywhere:
    // what is not the tone is the interpolator's error.
    const double tone = 9000.0;
    const float tune = 0.37f;
    DrumSampler sampler({sampleOf(sine(tone, 0.5, 1.0))}, rate);
    DrumMix mix;
    mix.padCount = 1;
    mix.pads[0] = padMix(60, 0);
    mix.pads[0].step = std::exp2(tune / 12.0);
    sampler.setMix(mix);
    const Render out = render(sampler, 24000, {{0, 60, 1.0f}});
    const double expected = tone * std::exp2(tune / 12.0);
    // The least-squares fit of a sine and a cosine at the expected frequency.
    const std::size_t from = 4000, until = 20000;
    double ss = 0.0, cc = 0.0, sc = 0.0, ys = 0.0, yc = 0.0;
    for (std::size_t i = from; i < until; ++i) {
        const double phase = 2.0 * std::numbers::pi * expected * static_cast<double>(i) / rate;
        const double s = std::sin(phase), c = std::cos(phase);
        ss += s * s;
        cc += c * c;
        sc += s * c;
        ys += out.left[i] * s;
        yc += out.left[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    double residual = 0.0;
    for (std::size_t i = from; i < until; ++i) {
        const double phase = 2.0 * std::numbers::pi * expected * static_cast<double>(i) / rate;
        const double fitted = a * std::sin(phase) + b * std::cos(phase);
        residual += (out.left[i] - fitted) * (out.left[i] - fitted);
    }
    const double amplitude = std::hypot(a, b);
    const double n = static_cast<double>(until - from);
    const double errorDb = 10.0 * std::log10(residual / n / (amplitude * amplitude / 2.0));
    EXPECT_NEAR(amplitude, 0.5, 0.001);
    EXPECT_LT(errorDb, -75.0);
}

TEST(DrumSampler, ChokeFadesTheOpenHatWithoutAClick) {
    // A low tone at near full scale: a cut without a fade would jump by up to its peak.
    const auto open = sine(100.0, 0.9, 1.0);
    const auto closed = sine(3000.0, 0.3, 0.05);
    DrumMix mix;
    mix.padCount = 2;
    mix.pads[0] = padMix(46, 0, 1);
    mix.pads[1] = padMix(42, 1, 1);
    const int chokeAt = 10007; // a quarter of the way up a period: the tone is at its peak
    const auto play = [&](const std::vector<std::tuple<int, int, float>> &notes) {
        DrumSampler sampler({sampleOf(open), sampleOf(closed)}, rate);
        sampler.setMix(mix);
        return render(sampler, 20000, notes);
    };
    const Render both = play({{0, 46, 1.0f}, {chokeAt, 42, 1.0f}});
    const Render closedAlone = play({{chokeAt, 42, 1.0f}});
    std::vector<float> openPart(both.left.size());
    for (std::size_t i = 0; i < openPart.size(); ++i)
        openPart[i] = both.left[i] - closedAlone.left[i];

    const auto fade = static_cast<std::size_t>(DrumSampler::chokeFadeSeconds * rate);
    const auto after = std::span<const float>(openPart).subspan(chokeAt + fade + 1);
    EXPECT_LT(orvane::testing::peakOf(after), 1e-6);
    const double natural = 0.9 * 2.0 * std::numbers::pi * 100.0 / rate;
    EXPECT_LT(largestStep(openPart), natural + 0.9 / static_cast<double>(fade) + 1e-4);
    EXPECT_GT(orvane::testing::peakOf(std::span<const float>(openPart).subspan(chokeAt - 200, 200)),
              0.85);

    // Pads outside the group, or of another group, ring on.
    mix.pads[1].chokeGroup = 2;
    const Render other = play({{0, 46, 1.0f}, {chokeAt, 42, 1.0f}});
    EXPECT_GT(orvane::testing::peakOf(std::span<const float>(other.left).subspan(15000)), 0.85);
}

TEST(DrumSampler, VelocityLayersChooseTheirSample) {
    const std::vector<std::vector<float>> levels{std::vector<float>(200, 0.1f),
                                                 std::vector<float>(200, 0.2f),
                                                 std::vector<float>(200, 0.4f)};
    DrumMix mix;
    mix.padCount = 1;
    mix.pads[0].note = 38;
    mix.pads[0].layerCount = 3;
    mix.pads[0].low = {1, 41, 101};
    mix.pads[0].high = {40, 100, 127};
    mix.pads[0].source = {0, 1, 2};
    struct Case {
        float velocity;
        std::size_t layer;
    };
    for (const Case c :
         {Case{1.0f / 127.0f, 0}, Case{40.0f / 127.0f, 0}, Case{41.0f / 127.0f, 1}, Case{0.5f, 1},
          Case{100.0f / 127.0f, 1}, Case{101.0f / 127.0f, 2}, Case{1.0f, 2}}) {
        DrumSampler sampler({sampleOf(levels[0]), sampleOf(levels[1]), sampleOf(levels[2])}, rate);
        sampler.setMix(mix);
        const Render out = render(sampler, 300, {{0, 38, c.velocity}});
        EXPECT_FLOAT_EQ(out.left[50], levels[c.layer][50] * c.velocity) << c.velocity;
        EXPECT_EQ(out.left[250], 0.0f);
    }
    // A velocity no layer holds strikes nothing.
    mix.pads[0].high[2] = 110;
    DrumSampler sampler({sampleOf(levels[0]), sampleOf(levels[1]), sampleOf(levels[2])}, rate);
    sampler.setMix(mix);
    EXPECT_EQ(orvane::testing::peakOf(render(sampler, 300, {{0, 38, 1.0f}}).left), 0.0);
}

TEST(DrumSampler, DefaultKitIsTheSameEveryTimeAndEveryPadSounds) {
    for (int s = 0; s < drumSoundCount; ++s) {
        const DrumSample first = synthesiseDrumSound(static_cast<DrumSound>(s));
        const DrumSample second = synthesiseDrumSound(static_cast<DrumSound>(s));
        EXPECT_EQ(first.left, second.left) << s;
        EXPECT_EQ(first.right, second.right) << s;
    }
    const DrumKit kit = defaultDrumKit();
    const DrumKitPlan plan = planDrumKit(kit, {});
    ASSERT_TRUE(plan.errors.empty());
    ASSERT_EQ(plan.sources.size(), static_cast<std::size_t>(drumSoundCount));
    const std::vector<int> generalMidi{36, 37, 38, 39, 41, 42, 45, 46, 48, 49, 51};
    std::vector<int> notes;
    for (const DrumPad &pad : kit.pads)
        notes.push_back(pad.note);
    EXPECT_EQ(notes, generalMidi);
    std::vector<std::vector<float>> sounds;
    for (const DrumPad &pad : kit.pads) {
        DrumSampler sampler(plan.sources, rate);
        sampler.setMix(plan.mix);
        const Render out = render(sampler, 24000, {{0, pad.note, 1.0f}});
        const auto attack = std::span<const float>(out.left).subspan(0, 2400);
        EXPECT_GT(orvane::testing::peakOf(attack), 0.5) << pad.name;
        EXPECT_LT(orvane::testing::peakOf(out.left), 1.0) << pad.name;
        EXPECT_GT(orvane::testing::rmsOf(attack), 0.05) << pad.name;
        for (const auto &other : sounds)
            EXPECT_NE(other, out.left) << pad.name;
        sounds.push_back(out.left);
    }
    const auto closedHat = std::find_if(kit.pads.begin(), kit.pads.end(),
                                        [](const DrumPad &pad) { return pad.note == 42; });
    const auto openHat = std::find_if(kit.pads.begin(), kit.pads.end(),
                                      [](const DrumPad &pad) { return pad.note == 46; });
    EXPECT_GT(closedHat->chokeGroup, 0);
    EXPECT_EQ(closedHat->chokeGroup, openHat->chokeGroup);
}

TEST(DrumSampler, DefaultKitClosedHatChokesTheOpenHat) {
    const DrumKitPlan plan = planDrumKit(defaultDrumKit(), {});
    const auto play = [&](const std::vector<std::tuple<int, int, float>> &notes) {
        DrumSampler sampler(plan.sources, rate);
        sampler.setMix(plan.mix);
        return render(sampler, 30000, notes);
    };
    const Render both = play({{0, 46, 1.0f}, {9600, 42, 1.0f}});
    const Render closedAlone = play({{9600, 42, 1.0f}});
    const Render openAlone = play({{0, 46, 1.0f}});
    std::vector<float> openPart(both.left.size());
    for (std::size_t i = 0; i < openPart.size(); ++i)
        openPart[i] = both.left[i] - closedAlone.left[i];
    const auto fade = static_cast<std::size_t>(DrumSampler::chokeFadeSeconds * rate);
    EXPECT_GT(orvane::testing::peakOf(std::span<const float>(openAlone.left).subspan(9600 + fade)),
              0.01);
    EXPECT_LT(orvane::testing::peakOf(std::span<const float>(openPart).subspan(9600 + fade + 1)),
              1e-6);
    EXPECT_LE(largestStep(std::span<const float>(openPart).subspan(9000, 2000)),
              largestStep(std::span<const float>(openAlone.left).subspan(9000, 2000)) + 1e-6);
}

TEST(DrumSampler, SamplesReachTheEnginesRate) {
    // A tone recorded at 44.1 kHz plays at its own pitch at 48 kHz, at its level.
    auto recorded = std::make_shared<DrumSample>();
    recorded->left = sine(1000.0, 0.5, 0.5, 44100.0);
    recorded->right = recorded->left;
    recorded->sampleRate = 44100.0;
    const auto converted = drumSampleAtRate(recorded, rate);
    EXPECT_EQ(converted->sampleRate, rate);
    EXPECT_NEAR(static_cast<double>(converted->frames()), 0.5 * rate, 1.0);
    const auto middle = std::span<const float>(converted->left).subspan(2000, 18000);
    EXPECT_NEAR(measuredFrequency(middle), 1000.0, 0.1);
    EXPECT_NEAR(orvane::testing::peakOf(middle), 0.5, 0.002);
    EXPECT_EQ(drumSampleAtRate(converted, rate), converted);
    EXPECT_EQ(drumSampleAtRate(recorded, rate), converted) << "converted once while it plays";
}

TEST(DrumSampler, FilesThatAreNotSamplesAreRefusedWithAReason) {
    TempFolder folder;
    std::ofstream(folder.file("notes.wav")) << "not audio at all";
    std::ofstream(folder.file("empty.wav"));
    writePcmWav(folder.file("silent.wav"), 48000, {});
    fs::create_directories(folder.file("folder.wav"));
    // A rate no recording has, as a damaged or hostile header may claim.
    writePcmWav(folder.file("fast.wav"), 50000000, {1, 2, 3, 4});
    for (const std::string name :
         {"missing.wav", "notes.wav", "empty.wav", "silent.wav", "folder.wav", "fast.wav"}) {
        std::string error;
        EXPECT_EQ(loadDrumSample(name, folder.path(), error), nullptr) << name;
        EXPECT_NE(error.find(name), std::string::npos) << error;
        error.clear();
        EXPECT_FALSE(checkDrumSampleFile(folder.file(name), error)) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
    std::string error;
    EXPECT_EQ(loadDrumSample("builtin:cowbell", {}, error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(DrumSampler, PlaysWithoutAllocating) {
    const DrumKitPlan plan = planDrumKit(defaultDrumKit(), {});
    DrumSampler sampler(plan.sources, rate);
    DrumMix tuned = plan.mix;
    for (int32_t p = 0; p < tuned.padCount; ++p)
        tuned.pads[static_cast<std::size_t>(p)].step = 1.3;
    std::vector<float> left(64), right(64);
    orvane::testing::AllocationScope scope;
    for (int block = 0; block < 400; ++block) {
        sampler.setMix(block % 2 ? tuned : plan.mix);
        sampler.noteOn(plan.mix.pads[static_cast<std::size_t>(block % plan.mix.padCount)].note,
                       0.4f + 0.001f * static_cast<float>(block));
        sampler.process(left.data(), right.data(), 64);
    }
    sampler.allSoundOff();
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
    EXPECT_EQ(sampler.activeVoiceCount(), 0);
}

} // namespace
} // namespace orvane::stock

// The same renders at every device format: rates of 44.1, 48 and 96 kHz, blocks of 32 to 512
// frames and random periods up to 4096. Expected values come from formulas written here, not
// from the engine's own stages.
#include "core/engine/tests/RenderRig.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

class RenderMatrix : public ::testing::TestWithParam<RenderSetup> {};

/// Only one band of the eight, a peak of `gainDb` at `frequency`.
ChannelEq8 singlePeak(float frequency, float gainDb) {
    ChannelEq8 eq;
    for (EqBandSettings &band : eq.bands)
        band.enabled = false;
    eq.bands[4] = EqBandSettings{2, frequency, gainDb, 1.0f, true};
    return eq;
}

} // namespace

// A clip and a MIDI note, each checked sample by sample: the clip through fader and balance
// pan, the note as a sine from its start at its tuned pitch.
TEST_P(RenderMatrix, ClipsAndNotesSoundTheSameAtEveryFormat) {
    RenderRig rig(GetParam());
    const double rate = GetParam().rate;
    auto audio = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(audio, 100000, 0.3f, 0.2f);
    rig.edit([&](Project &) { audio->pan = -0.5f; });
    auto keys = rig.addTrack(TrackType::Midi);
    constexpr int64_t noteStart = 1234;
    rig.edit([&](Project &project) {
        auto clip = project.addClip(keys->id, ClipKind::Midi);
        clip->length = 20000;
        clip->notes.push_back(MidiNote{69, 0.5f, noteStart, 6000, 1.0f, 0.0f});
    });
    const int64_t frames = 9000;
    const auto out = rig.playFrames(0, frames);
    ASSERT_EQ(out[0].size(), static_cast<std::size_t>(frames));
    const float fader = RenderRig::defaultFader;
    for (int64_t i = 0; i < frames; ++i) {
        double note = 0.0;
        if (i >= noteStart && i < noteStart + 6000)
            note = 0.5 * 0.2 * std::sin(twoPi * 440.0 * static_cast<double>(i - noteStart) / rate);
        const auto at = static_cast<std::size_t>(i);
        ASSERT_NEAR(out[0][at], fader * (0.3 + note), 2e-5) << i;
        ASSERT_NEAR(out[1][at], fader * (0.2 * 0.5 + note), 2e-5) << i;
    }
}

// Channel EQ, master EQ and mastering all on. A sine at the bands' centre frequency comes out,
// once the filters have settled, at the input level times the fader, both peaks' gains (a
// peaking band has exactly its gain at its centre) and the mastering make-up (the level stays
// below the mastering compressor's threshold, so only the make-up applies).
TEST_P(RenderMatrix, ChannelEqMasterEqAndMasteringFollowTheirFormulas) {
    RenderRig rig(GetParam());
    const double rate = GetParam().rate;
    constexpr double frequency = 1000.0;
    constexpr double amplitude = 0.05;
    auto track = rig.addTrack(TrackType::Audio);
    auto clip = rig.addConstantClip(track, 1, 0.0f, 0.0f, 1);
    rig.edit([&](Project &project) {
        const auto frames = static_cast<std::size_t>(rate / 2);
        auto tone = std::make_shared<std::vector<float>>(frames);
        for (std::size_t i = 0; i < frames; ++i)
            (*tone)[i] = static_cast<float>(amplitude * std::sin(twoPi * frequency * i / rate));
        clip->audio = tone;
        track->eq = singlePeak(1000.0f, 6.0f);
        project.masterEq = singlePeak(1000.0f, -3.0f);
        project.mastering = MasteringUtility{};
        project.mastering.enabled = true;
        project.mastering.character = 0;
        project.mastering.loudness = 0.35f; // threshold -13.8 dB, make-up 1.4 dB
    });
    const auto out = rig.playFrames(0, static_cast<int64_t>(rate / 2));
    const double expected =
        amplitude * RenderRig::defaultFader * std::pow(10.0, (6.0 - 3.0 + 4.0 * 0.35) / 20.0);
    const auto settled = static_cast<std::size_t>(rate * 0.3);
    EXPECT_NEAR(peakOf(slice(out[0], settled)), expected, expected * 0.005);
    EXPECT_NEAR(peakOf(slice(out[1], settled)), expected, expected * 0.005);

    // Switching the three off leaves only the fader: the chain was really in the signal.
    rig.edit([&](Project &project) {
        track->eq.enabled = false;
        project.masterEq.enabled = false;
        project.mastering.enabled = false;
    });
    const auto plain = rig.playFrames(0, static_cast<int64_t>(rate / 2));
    EXPECT_NEAR(peakOf(slice(plain[0], settled)), amplitude * RenderRig::defaultFader, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Formats, RenderMatrix, ::testing::ValuesIn(renderSetups()),
                         [](const auto &info) { return info.param.name(); });

#include "core/stock/Compressor.h"
#include "core/stock/Delay.h"
#include "core/stock/HalvoraSynth.h"
#include "core/stock/MasteringProcessor.h"
#include "core/stock/ParametricEq8.h"
#include "core/stock/Reverb.h"
#include "core/stock/SimpleSynth.h"

#include "core/stock/tests/Signals.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane::stock {
namespace {

constexpr int frames = 512;

struct Buffers {
    std::vector<float> left = testing::noise(frames, 0.8f, 1);
    std::vector<float> right = testing::noise(frames, 0.8f, 2);
};

TEST(RealTime, ChannelEqAndToneControlProcessWithoutAllocating) {
    ParametricEq8 eq;
    eq.prepare(48000.0);
    ChannelEq8 settings;
    settings.bands[2].gainDb = 6.0f;
    EQ tone;
    tone.lowDb = 3.0f;
    Buffers buffers;
    orvane::testing::AllocationScope scope;
    for (int block = 0; block < 4; ++block) {
        eq.setSettings(settings);
        eq.process(buffers.left.data(), buffers.right.data(), frames);
        tone.process(buffers.left.data(), buffers.right.data(), frames);
    }
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
}

TEST(RealTime, StockEffectsProcessWithoutAllocating) {
    Compressor compressor;
    compressor.prepare(48000.0);
    Delay delay;
    delay.prepare(48000.0);
    Reverb reverb;
    reverb.prepare(48000.0);
    SimpleSynth synth;
    synth.prepare(48000.0);
    Buffers buffers;
    const std::vector<float> sidechain = testing::noise(frames, 1.0f, 3);
    orvane::testing::AllocationScope scope;
    for (int block = 0; block < 4; ++block) {
        synth.noteOn(60 + block, 0.7f);
        synth.process(buffers.left.data(), buffers.right.data(), frames);
        synth.noteOff(60 + block);
        compressor.process(buffers.left.data(), buffers.right.data(), frames);
        compressor.process(buffers.left.data(), buffers.right.data(), frames, sidechain.data());
        delay.process(buffers.left.data(), buffers.right.data(), frames);
        reverb.process(buffers.left.data(), buffers.right.data(), frames);
    }
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
}

TEST(RealTime, HalvoraSynthPlaysStealsAndChangesParametersWithoutAllocating) {
    HalvoraSynth synth;
    synth.prepare(48000.0, frames);
    synth.applyPreset("Pad");
    synth.setParameter(SynthParam::Polyphony, 8.0f);
    Buffers buffers;
    orvane::testing::AllocationScope scope;
    for (int block = 0; block < 16; ++block) {
        // More notes than voices, so that voices are stolen too.
        for (int note = 0; note < 3; ++note)
            synth.noteOn(40 + 3 * block + note, 0.8f);
        synth.setParameter(SynthParam::FilterCutoff, 200.0f + 300.0f * float(block));
        synth.setParameterNormalized(static_cast<int>(SynthParam::Osc2Wave),
                                     0.1f * float(block % 10));
        synth.setParameter(SynthParam::VoiceMode, float(block / 6));
        synth.pitchBend(0.1f * float(block % 5));
        synth.modWheel(0.5f);
        synth.process(buffers.left.data(), buffers.right.data(), frames);
        synth.noteOff(40 + 3 * block);
        if (block == 12) synth.allNotesOff();
    }
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
}

TEST(RealTime, MasteringProcessorRunsWithoutAllocating) {
    MasteringProcessor processor;
    processor.prepare(48000.0);
    MasteringUtility settings;
    settings.character = 1;
    settings.excite = true;
    settings.width = 1.4f;
    Buffers buffers;
    orvane::testing::AllocationScope scope;
    for (int block = 0; block < 4; ++block) {
        processor.setSettings(settings);
        processor.process(buffers.left.data(), buffers.right.data(), frames);
    }
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
}

} // namespace
} // namespace orvane::stock

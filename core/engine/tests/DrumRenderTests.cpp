// The drum sampler as a MIDI track plays it: clip notes strike their pads at their exact
// frames, pad edits reach hits struck afterwards while earlier hits ring on, and no block
// allocates.
#include "core/engine/tests/RenderRig.h"
#include "core/stock/DrumSampler.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr float fader = RenderRig::defaultFader;

std::shared_ptr<Track> addDrumTrack(RenderRig &rig, const std::vector<MidiNote> &notes,
                                    const stock::DrumKit &kit = stock::defaultDrumKit()) {
    auto track = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &project) {
        track->instrument = std::string(drumsInstrumentId);
        track->instrumentState = stock::writeDrumStateText(kit);
        auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->length = 4 * 48000;
        clip->notes = notes;
    });
    return track;
}

TEST(DrumTrack, ClipNotesStrikeTheirPadsAtTheirFrames) {
    RenderRig rig;
    addDrumTrack(rig, {MidiNote{38, 1.0f, 1000, 100}, MidiNote{36, 1.0f, 30000, 100}});
    const auto out = rig.play(0, 80);
    const stock::DrumSample snare = stock::synthesiseDrumSound(stock::DrumSound::Snare);
    const stock::DrumSample kick = stock::synthesiseDrumSound(stock::DrumSound::Kick);
    for (std::size_t i = 0; i < 1000; ++i)
        ASSERT_EQ(out[0][i], 0.0f) << i;
    // The note's end does not stop the hit: it plays to its end, and the kick adds to it.
    for (std::size_t i = 0; i < 40000 - 1000; ++i) {
        float expected = i < snare.left.size() ? snare.left[i] * fader : 0.0f;
        if (i + 1000 >= 30000 && i + 1000 - 30000 < kick.left.size())
            expected += kick.left[i + 1000 - 30000] * fader;
        ASSERT_NEAR(out[0][1000 + i], expected, 1e-6f) << i;
        ASSERT_NEAR(out[1][1000 + i], expected, 1e-6f) << i;
    }
}

TEST(DrumTrack, PadEditsReachLaterHitsWhileEarlierHitsRingOn) {
    RenderRig rig;
    auto track = addDrumTrack(rig, {MidiNote{36, 1.0f, 0, 100}, MidiNote{36, 1.0f, 24000, 100}});
    send(rig.engine, Request::locate(0));
    send(rig.engine, Request::play());
    std::vector<float> left;
    StereoOutput block(512);
    for (int i = 0; i < 20; ++i) {
        block.render(rig.engine);
        left.insert(left.end(), block.left.begin(), block.left.end());
    }
    // Six decibels down, after the first hit and before the second.
    stock::DrumKit quieter = stock::defaultDrumKit();
    quieter.pads[0].gainDb = -6.0f;
    rig.edit([&](Project &) { track->instrumentState = stock::writeDrumStateText(quieter); });
    for (int i = 0; i < 60; ++i) {
        block.render(rig.engine);
        left.insert(left.end(), block.left.begin(), block.left.end());
    }
    const stock::DrumSample kick = stock::synthesiseDrumSound(stock::DrumSound::Kick);
    const auto kickAt = [&](std::size_t i) { return i < kick.left.size() ? kick.left[i] : 0.0f; };
    const float down = std::pow(10.0f, -6.0f / 20.0f);
    for (std::size_t i = 0; i < 24000; ++i)
        ASSERT_NEAR(left[i], kickAt(i) * fader, 1e-6f) << i;
    for (std::size_t i = 24000; i < 30000; ++i)
        ASSERT_NEAR(left[i], (kickAt(i) + kickAt(i - 24000) * down) * fader, 1e-6f) << i;
}

TEST(DrumTrack, SamplesPlayAtTheirPitchAtEveryRate) {
    for (const double rate : {44100.0, 96000.0}) {
        RenderRig rig(RenderSetup{rate, 256, false});
        stock::DrumKit kit = stock::defaultDrumKit();
        addDrumTrack(rig, {MidiNote{36, 1.0f, 0, 100}}, kit);
        const auto out = rig.playFrames(0, static_cast<int64_t>(rate * 0.5));
        // The kick's body settles at 48 Hz: its period does not change with the device rate.
        int crossings = 0;
        double first = -1.0, last = 0.0;
        const auto from = static_cast<std::size_t>(rate * 0.25);
        const auto until = static_cast<std::size_t>(rate * 0.45);
        for (std::size_t i = from; i < until; ++i)
            if (out[0][i - 1] < 0.0f && out[0][i] >= 0.0f) {
                if (first < 0.0)
                    first = static_cast<double>(i);
                else
                    ++crossings;
                last = static_cast<double>(i);
            }
        ASSERT_GT(crossings, 3) << rate;
        EXPECT_NEAR(crossings * rate / (last - first), 48.0, 1.5) << rate;
    }
}

TEST(DrumTrack, BlocksNeitherAllocateNorFreeThroughHitsChokesJumpsAndStops) {
    RenderRig rig;
    std::vector<MidiNote> notes;
    const int pattern[] = {36, 42, 38, 46, 42, 39, 37, 41, 45, 48, 49, 51};
    for (int i = 0; i < 400; ++i)
        notes.push_back(MidiNote{pattern[i % 12], 0.3f + 0.05f * (i % 14), i * 600, 300});
    auto track = addDrumTrack(rig, notes);
    rig.edit([&](Project &) { track->armed = true; });
    StereoOutput block(512);
    uint64_t allocations = 0, frees = 0;
    send(rig.engine, RequestType::play);
    for (int i = 0; i < 300; ++i) {
        if (i % 50 == 49) send(rig.engine, Request::locate(i * 331));
        if (i % 30 == 0) sendMidi(rig.engine, RequestType::midiNoteOn, 46, 0.9);
        if (i % 30 == 7) sendMidi(rig.engine, RequestType::midiNoteOff, 46);
        if (i == 200) send(rig.engine, RequestType::pause);
        if (i == 250) send(rig.engine, RequestType::play);
        AllocationScope scope;
        block.render(rig.engine);
        allocations += scope.allocations();
        frees += scope.frees();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(frees, 0u);
}

} // namespace

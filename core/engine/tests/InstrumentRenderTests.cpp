#include "core/engine/ClipVoices.h"
#include "core/engine/tests/RenderRig.h"
#include "core/stock/DrumKit.h"
#include "core/stock/SynthParameters.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr float fader = RenderRig::defaultFader;
constexpr double rate = 48000.0;

/// The synth as a plain sine: one oscillator, no vibrato, the filter open.
std::string sineState() {
    stock::SynthValues values = stock::synthDefaultValues();
    values[static_cast<std::size_t>(stock::SynthParam::Osc1Wave)] = 0.0f;
    values[static_cast<std::size_t>(stock::SynthParam::LfoPitch)] = 0.0f;
    return stock::synthStateText(values);
}

std::string presetState(std::string_view name) {
    return stock::synthStateText(stock::synthPresetValues(*stock::findSynthPreset(name)));
}

/// A MIDI track with one clip holding `notes`, playing `instrument` with `state`.
std::shared_ptr<Track> addMidiTrack(RenderRig &rig, const std::vector<MidiNote> &notes,
                                    const std::string &instrument, const std::string &state,
                                    int64_t clipLength = 4 * 48000) {
    auto track = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &project) {
        track->instrument = instrument;
        track->instrumentState = state;
        auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->length = clipLength;
        clip->notes = notes;
    });
    return track;
}

/// Rising zero crossings in `samples[from, to)`.
int risingCrossings(const std::vector<float> &samples, std::size_t from, std::size_t to) {
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i)
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) ++crossings;
    return crossings;
}

float peakOf(const std::vector<float> &samples, std::size_t from, std::size_t to) {
    float peak = 0.0f;
    for (std::size_t i = from; i < to; ++i)
        peak = std::max(peak, std::abs(samples[i]));
    return peak;
}

/// The largest step from one sample to the next in `samples[from, to)`.
float largestStep(const std::vector<float> &samples, std::size_t from, std::size_t to) {
    float step = 0.0f;
    for (std::size_t i = from + 1; i < to; ++i)
        step = std::max(step, std::abs(samples[i] - samples[i - 1]));
    return step;
}

std::vector<float> renderBlocks(RenderRig &rig, int blocks, int32_t frames = 512) {
    std::vector<float> left;
    StereoOutput block(frames);
    for (int i = 0; i < blocks; ++i) {
        block.render(rig.engine);
        left.insert(left.end(), block.left.begin(), block.left.end());
    }
    return left;
}

} // namespace

TEST(InstrumentTrack, SynthPlaysTheNotesPitchFromItsFrame) {
    RenderRig rig;
    addMidiTrack(rig, {MidiNote{69, 1.0f, 1000, 30000}}, std::string(synthInstrumentId),
                 sineState());
    const auto out = rig.play(0, 80);
    for (std::size_t i = 0; i < 1000; ++i)
        ASSERT_EQ(out[0][i], 0.0f) << i;
    const auto first = static_cast<std::size_t>(
        std::find_if(out[0].begin(), out[0].end(), [](float s) { return s != 0.0f; }) -
        out[0].begin());
    EXPECT_LE(first, 1002u);
    // Half a second of 440 Hz after the attack: 220 periods.
    EXPECT_NEAR(risingCrossings(out[0], 4000, 28000), 220, 1);
    EXPECT_GT(peakOf(out[0], 4000, 28000), 0.05f);
    // Released at frame 31000 and silent once its 0.3 s release has run out.
    EXPECT_EQ(peakOf(out[0], 31000 + 20000, out[0].size()), 0.0f);
}

TEST(InstrumentTrack, WithoutAnInstrumentTheTrackPlaysTheSineVoiceBitForBit) {
    for (const std::string instrument : {"", "stock.unknown"}) {
        RenderRig rig;
        addMidiTrack(rig, {MidiNote{64, 0.8f, 300, 9000}}, instrument, sineState());
        const auto out = rig.play(0, 24);
        // The voice's own pieces: the published pitch and level, and its sine.
        const MidiClipIndex &index = rig.engine.currentGraph()->midiIndexes[0][0];
        EXPECT_EQ(index.level[0], 0.8f * noteVoiceLevel);
        std::vector<float> expected(out[0].size(), 0.0f);
        std::vector<float> right(out[0].size(), 0.0f);
        addNoteFrames(index.level[0], 0, index.frequency[0] / rate, expected.data() + 300,
                      right.data() + 300, 9000);
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(out[0][i], expected[i] * fader) << instrument << " at " << i;
    }
}

TEST(InstrumentTrack, AHeldNoteRingsOnThroughRepublication) {
    const auto render = [](bool republish) {
        RenderRig rig;
        addMidiTrack(rig, {MidiNote{57, 0.9f, 0, 48000}}, std::string(synthInstrumentId),
                     presetState("Pad"));
        send(rig.engine, RequestType::play);
        auto out = renderBlocks(rig, 20);
        // Another track and a new snapshot, with the note held.
        if (republish) rig.addTrack(TrackType::Audio);
        const auto more = renderBlocks(rig, 20);
        out.insert(out.end(), more.begin(), more.end());
        return out;
    };
    const auto steady = render(false);
    const auto republished = render(true);
    EXPECT_GT(peakOf(steady, 10240, 20480), 0.01f);
    ASSERT_EQ(steady.size(), republished.size());
    for (std::size_t i = 0; i < steady.size(); ++i)
        ASSERT_EQ(steady[i], republished[i]) << i;
}

TEST(InstrumentTrack, NewSettingsReachTheSoundingSynthWithoutRestartingTheNote) {
    RenderRig rig;
    auto track = addMidiTrack(rig, {MidiNote{60, 1.0f, 0, 96000}}, std::string(synthInstrumentId),
                              sineState());
    send(rig.engine, RequestType::play);
    const auto before = renderBlocks(rig, 20);
    stock::SynthValues quiet = stock::synthDefaultValues();
    quiet[static_cast<std::size_t>(stock::SynthParam::Osc1Wave)] = 0.0f;
    quiet[static_cast<std::size_t>(stock::SynthParam::LfoPitch)] = 0.0f;
    quiet[static_cast<std::size_t>(stock::SynthParam::MasterGain)] = -40.0f;
    rig.edit([&](Project &) { track->instrumentState = stock::synthStateText(quiet); });
    const auto after = renderBlocks(rig, 20);
    const float loud = peakOf(before, 5000, before.size());
    // The gain glides over a few milliseconds: no step, and a hundredth of the level after.
    EXPECT_NEAR(peakOf(after, 4000, after.size()) / loud, 0.01f, 0.002f);
    EXPECT_LT(largestStep(after, 0, 1024), 2.0f * largestStep(before, 5000, before.size()));
}

TEST(InstrumentTrack, ALocateReleasesHeldNotesWithoutAClick) {
    RenderRig rig;
    addMidiTrack(rig, {MidiNote{69, 1.0f, 0, 150000}}, std::string(synthInstrumentId), sineState(),
                 200000);
    send(rig.engine, RequestType::play);
    const auto held = renderBlocks(rig, 20);
    // Past the end of the clip: nothing starts there.
    send(rig.engine, Request::locate(300000));
    const auto after = renderBlocks(rig, 60);
    const float steadyStep = largestStep(held, 5000, held.size());
    std::vector<float> joined(held.end() - 64, held.end());
    joined.insert(joined.end(), after.begin(), after.begin() + 64);
    EXPECT_LE(largestStep(joined, 0, joined.size()), 1.05f * steadyStep);
    EXPECT_GT(peakOf(after, 0, 512), 0.5f * peakOf(held, 5000, held.size()));
    // The 0.3 s release runs out within the 0.64 s rendered after the jump.
    EXPECT_EQ(peakOf(after, after.size() - 512, after.size()), 0.0f);
}

TEST(InstrumentTrack, AJumpIntoANoteStartsItWhereItIsUnderWay) {
    RenderRig rig;
    addMidiTrack(rig, {MidiNote{69, 1.0f, 0, 100000}}, std::string(synthInstrumentId), sineState(),
                 200000);
    const auto out = rig.play(50000, 40);
    EXPECT_NE(peakOf(out[0], 0, 4), 0.0f);
    EXPECT_NEAR(risingCrossings(out[0], 2000, 20000), 165, 1);
}

TEST(InstrumentTrack, StoppingReleasesTheNotesAndLetsThemRingOut) {
    RenderRig rig;
    addMidiTrack(rig, {MidiNote{69, 1.0f, 0, 150000}}, std::string(synthInstrumentId), sineState());
    send(rig.engine, RequestType::play);
    const auto held = renderBlocks(rig, 20);
    send(rig.engine, RequestType::pause);
    const auto stopped = renderBlocks(rig, 60);
    EXPECT_GT(peakOf(stopped, 0, 512), 0.5f * peakOf(held, 5000, held.size()));
    EXPECT_LT(peakOf(stopped, 9600, 10112), 0.5f * peakOf(stopped, 0, 512));
    EXPECT_EQ(peakOf(stopped, stopped.size() - 512, stopped.size()), 0.0f);
}

/// `track`'s clip made the one session clip of the song, launched at once.
void moveClipToTheGrid(RenderRig &rig, const std::shared_ptr<Track> &track, bool loop) {
    rig.edit([&](Project &project) {
        project.session.launchQuantize = LaunchQuantize::Immediate;
        Clip &clip = *track->clips.front();
        clip.sessionRow = 0;
        clip.sessionCol = 0;
        clip.launchQuantize = LaunchQuantize::Immediate;
        clip.loop = loop;
        clip.loopLength = clip.length;
        Scene scene;
        scene.id = project.nextSceneId++;
        scene.clips = {clip.id};
        project.session.scenes.push_back(scene);
    });
}

// Launched from the grid, a clip on an instrument track plays through the instrument exactly
// as the same clip played from the arrangement: not through the plain sine voice.
TEST(InstrumentTrack, ASessionClipPlaysThroughTheInstrumentAsFromTheArrangement) {
    const std::vector<MidiNote> notes = {MidiNote{69, 1.0f, 700, 20000},
                                         MidiNote{38, 0.9f, 9000, 50000}, // held past the end
                                         MidiNote{42, 0.7f, 30000, 4000}};
    for (const auto &[instrument, state] :
         {std::pair{std::string(synthInstrumentId), sineState()},
          std::pair{std::string(drumsInstrumentId), std::string()}}) {
        RenderRig arrangement;
        addMidiTrack(arrangement, notes, instrument, state, 40000);
        RenderRig grid;
        const auto track = addMidiTrack(grid, notes, instrument, state, 40000);
        moveClipToTheGrid(grid, track, false);
        const auto expected = arrangement.play(0, 120);
        send(grid.engine, RequestType::play);
        send(grid.engine, RequestType::launchSessionClip,
             static_cast<int64_t>(track->clips.front()->id));
        const auto played = renderBlocks(grid, 120);
        ASSERT_GT(peakOf(expected[0], 0, expected[0].size()), 0.01f) << instrument;
        for (std::size_t i = 0; i < played.size(); ++i)
            ASSERT_EQ(played[i], expected[0][i]) << instrument << " at " << i;
    }
}

// A looping session clip strikes its notes again on every pass and lets go of them at the
// loop's end, so a note cut by the loop does not hang.
TEST(InstrumentTrack, ALoopingSessionClipStrikesItsNotesOnEveryPass) {
    RenderRig rig;
    const auto track = addMidiTrack(rig, {MidiNote{69, 1.0f, 1000, 4000},
                                          MidiNote{57, 1.0f, 30000, 30000}},
                                    std::string(synthInstrumentId), sineState(), 48000);
    moveClipToTheGrid(rig, track, true);
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(track->clips.front()->id));
    const auto out = renderBlocks(rig, 290); // 148,480 frames: three passes and more
    for (const std::size_t pass : {0u, 48000u, 96000u}) {
        // 440 Hz for 3,000 frames after the attack: 27.5 periods.
        EXPECT_NEAR(risingCrossings(out, pass + 1500, pass + 4500), 27.5, 1) << pass;
        EXPECT_GT(peakOf(out, pass + 1500, pass + 4500), 0.05f) << pass;
    }
    // The second note, cut by the loop's end, rings out in its release and is silent
    // before the next pass strikes it again.
    EXPECT_EQ(peakOf(out, 48000 + 26000, 48000 + 29900), 0.0f);
}

// Notes stored out of order, one long note over many short ones and notes cut by the loop's
// end: a looping clip on the grid sounds as its copies laid end to end in the arrangement.
TEST(InstrumentTrack, ALoopingSessionClipSoundsAsItsCopiesInTheArrangement) {
    constexpr int64_t period = 24000;
    std::vector<MidiNote> notes = {MidiNote{60, 0.8f, 15000, 2000}, MidiNote{48, 1.0f, 100, 30000},
                                   MidiNote{72, 0.6f, 22000, 9000}, MidiNote{64, 0.9f, 3000, 500},
                                   MidiNote{67, 0.7f, 3000, 1500}, MidiNote{76, 0.5f, 23990, 5}};
    for (int i = 0; i < 40; ++i) // a run of short notes the long one spans
        notes.push_back(MidiNote{80 + i % 7, 0.4f, 4000 + i * 250, 120});
    RenderRig arrangement;
    const auto laid = addMidiTrack(arrangement, notes, std::string(synthInstrumentId),
                                   sineState(), period);
    arrangement.edit([&](Project &project) {
        for (int64_t copy = 1; copy < 3; ++copy) {
            auto clip = project.addClip(laid->id, ClipKind::Midi);
            clip->arrangeStart = copy * period;
            clip->length = period;
            clip->notes = notes;
        }
    });
    RenderRig grid;
    const auto track =
        addMidiTrack(grid, notes, std::string(synthInstrumentId), sineState(), period);
    moveClipToTheGrid(grid, track, true);
    const auto expected = arrangement.play(0, 150); // 76,800 frames
    send(grid.engine, RequestType::play);
    send(grid.engine, RequestType::launchSessionClip, static_cast<int64_t>(track->clips.front()->id));
    const auto played = renderBlocks(grid, 150);
    ASSERT_GT(peakOf(expected[0], 0, 3 * period), 0.01f);
    for (std::size_t i = 0; i < 3 * period; ++i)
        ASSERT_EQ(played[i], expected[0][i]) << "at " << i;
}

TEST(InstrumentTrack, AnExportSoundsAsLivePlayback) {
    // Device periods on the synth's 16-frame control grid, as every usual period is.
    for (const RenderSetup setup :
         {RenderSetup{48000.0, 512, false}, RenderSetup{48000.0, 128, false},
          RenderSetup{96000.0, 32, false}}) {
        RenderRig rig(setup);
        const std::vector<MidiNote> notes{{48, 0.9f, 100, 20000},
                                          {55, 0.7f, 10007, 30000},
                                          {60, 1.0f, 24001, 3000},
                                          {60, 0.5f, 27001, 9000},
                                          {67, 0.6f, 41000, 20000}};
        addMidiTrack(rig, notes, std::string(synthInstrumentId), presetState("Lead"));
        addMidiTrack(rig, notes, std::string(synthInstrumentId), presetState("Pluck"));
        constexpr int64_t frames = 72000;
        const auto live = rig.playFrames(0, frames);
        ASSERT_TRUE(rig.engine.beginOfflineRender(0));
        std::vector<float> exported;
        StereoOutput block(4096);
        while (static_cast<int64_t>(exported.size()) < frames) {
            rig.engine.processBlockOffline(block.channels.data(), 2, block.frames);
            exported.insert(exported.end(), block.left.begin(), block.left.end());
        }
        rig.engine.endOfflineRender();
        EXPECT_GT(peakOf(live[0], 0, frames), 0.05f);
        for (std::size_t i = 0; i < static_cast<std::size_t>(frames); ++i)
            ASSERT_EQ(live[0][i], exported[i]) << setup.name() << " at " << i;
    }
}

TEST(InstrumentTrack, BlocksNeitherAllocateNorFreeThroughNotesJumpsAndStops) {
    RenderRig rig;
    std::vector<MidiNote> notes;
    for (int i = 0; i < 200; ++i)
        notes.push_back(MidiNote{36 + i % 48, 0.8f, i * 700, 1500 + i % 5 * 900});
    auto track =
        addMidiTrack(rig, notes, std::string(synthInstrumentId), presetState("Keys"), 200 * 700);
    rig.edit([&](Project &) { track->armed = true; });
    StereoOutput block(512);
    uint64_t allocations = 0;
    uint64_t frees = 0;
    const auto renderCounted = [&] {
        AllocationScope scope;
        block.render(rig.engine);
        allocations += scope.allocations();
        frees += scope.frees();
    };
    send(rig.engine, RequestType::play);
    for (int i = 0; i < 300; ++i) {
        if (i % 50 == 49) send(rig.engine, Request::locate(i * 331));
        if (i % 30 == 0) sendMidi(rig.engine, RequestType::midiNoteOn, 72, 0.9);
        if (i % 30 == 7) sendMidi(rig.engine, RequestType::midiNoteOff, 72);
        if (i == 200) send(rig.engine, RequestType::pause);
        if (i == 250) send(rig.engine, RequestType::play);
        renderCounted();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(frees, 0u);
}

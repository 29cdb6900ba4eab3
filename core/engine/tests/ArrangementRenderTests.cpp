#include "core/engine/tests/RenderRig.h"
#include "core/model/MusicalTime.h"
#include "core/music/ExpressionMaps.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace orvane;
using namespace orvane::testing;

namespace {
constexpr float fader = RenderRig::defaultFader;
} // namespace

TEST(ArrangementAudio, FadesScaleLinearlyAtBothEnds) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    auto clip = rig.addConstantClip(track, 1000, 1.0f, 1.0f);
    rig.edit([&](Project &) {
        clip->fadeIn = 100;
        clip->fadeOut = 100;
    });
    const auto out = rig.play(0, 2);
    EXPECT_FLOAT_EQ(out[0][50], fader * 0.5f);
    EXPECT_FLOAT_EQ(out[1][50], fader * 0.5f);
    EXPECT_FLOAT_EQ(out[0][500], fader);
    EXPECT_FLOAT_EQ(out[0][950], fader * 0.5f);
    EXPECT_EQ(out[0][1000], 0.0f); // the clip has ended
}

TEST(ArrangementAudio, MonoFeedsBothSidesAndStereoKeepsThem) {
    RenderRig rig;
    auto mono = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(mono, 512, 0.5f, 0.0f, 1);
    auto out = rig.play(0);
    EXPECT_FLOAT_EQ(out[0][10], 0.5f * fader);
    EXPECT_FLOAT_EQ(out[1][10], 0.5f * fader);

    RenderRig stereoRig;
    auto stereo = stereoRig.addTrack(TrackType::Audio);
    stereoRig.addConstantClip(stereo, 512, 0.25f, 0.75f);
    out = stereoRig.play(0);
    EXPECT_FLOAT_EQ(out[0][10], 0.25f * fader);
    EXPECT_FLOAT_EQ(out[1][10], 0.75f * fader);
}

TEST(ArrangementAudio, SessionClipsAndInactiveTakesStaySilent) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    auto session = rig.addConstantClip(track, 512, 1.0f, 1.0f);
    auto take = rig.addConstantClip(track, 512, 1.0f, 1.0f);
    rig.edit([&](Project &) {
        session->sessionRow = 0;
        session->sessionCol = 0;
        take->takeActive = false;
    });
    const auto out = rig.play(0);
    for (float sample : out[0])
        ASSERT_EQ(sample, 0.0f);
}

TEST(ArrangementAudio, WarpedAndStretchedClipsFollowThePerSampleMap) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    auto clip = rig.addConstantClip(track, 1, 0.0f, 0.0f, 1);
    rig.edit([&](Project &) {
        // A ramp, so a sample's value tells where in the source it was read.
        auto ramp = std::make_shared<std::vector<float>>(5000);
        for (std::size_t i = 0; i < ramp->size(); ++i)
            (*ramp)[i] = static_cast<float>(i) * 1e-4f;
        clip->audio = ramp;
        clip->length = 2048;
        clip->sourceOffset = 100;
        clip->stretchRatio = 1.5;
        clip->warpMarkers = {{700, 300}, {1500, 1400}};
    });
    const auto out = rig.play(0, 4);
    for (int64_t t = 0; t < 2048; t += 37) {
        const double source = std::clamp(clipTimelineToSource(*clip, t), 0.0, 4999.0);
        EXPECT_NEAR(out[0][static_cast<std::size_t>(t)], fader * source * 1e-4, 1e-6) << t;
    }
}

TEST(ArrangementAudio, NegativeSourcePositionsReadTheFirstFrame) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    auto clip = rig.addConstantClip(track, 4, 0.5f, 0.5f);
    rig.edit([&](Project &) {
        clip->length = 512;
        clip->sourceOffset = -100000;
        clip->warpMarkers = {{10, -50}};
    });
    const auto out = rig.play(0);
    EXPECT_FLOAT_EQ(out[0][0], 0.5f * fader);
    EXPECT_FLOAT_EQ(out[1][511], 0.5f * fader);
}

TEST(ArrangementMixer, PanUsesTheBalanceLaw) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 512, 1.0f, 1.0f);
    rig.edit([&](Project &) { track->pan = 1.0f; });
    auto out = rig.play(0);
    EXPECT_EQ(out[0][5], 0.0f);
    EXPECT_FLOAT_EQ(out[1][5], fader);
    rig.edit([&](Project &) { track->pan = -0.5f; });
    out = rig.play(0);
    EXPECT_FLOAT_EQ(out[0][5], fader);
    EXPECT_FLOAT_EQ(out[1][5], fader * 0.5f);
}

TEST(ArrangementMixer, SingleAutomationPointsActAsStaticValues) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 512, 1.0f, 1.0f);
    rig.edit([&](Project &) { track->volumeAutomation = {{300, 0.5f}}; });
    auto out = rig.play(0);
    EXPECT_FLOAT_EQ(out[0][0], 0.5f * fader);
    EXPECT_FLOAT_EQ(out[0][511], 0.5f * fader);

    rig.edit([&](Project &) {
        track->volumeAutomation.clear();
        track->muteAutomation = {{0, 1.0f}};
        track->mute = true;
    });
    EXPECT_EQ(rig.play(0)[0][10], 0.0f);
    rig.edit([&](Project &) { track->mute = false; });
    EXPECT_FLOAT_EQ(rig.play(0)[0][10], fader);
}

TEST(ArrangementMixer, TwoVolumePointsRampPerSample) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 1024, 1.0f, 1.0f);
    rig.edit([&](Project &) { track->volumeAutomation = {{0, 0.0f}, {512, 1.0f}}; });
    const auto out = rig.play(0, 2);
    EXPECT_EQ(out[0][0], 0.0f);
    EXPECT_NEAR(out[0][256], 0.5f * fader, 1e-6);
    EXPECT_NEAR(out[0][700], fader, 1e-6); // after the last point, its value holds
}

TEST(ArrangementMixer, AutomationClipOverridesTheLaneWhereItLies) {
    Track track;
    track.volumeAutomation = {{0, 0.2f}};
    track.automationClips.push_back(AutomationClip{1, 100, 100, 0, {{0, 0.0f}, {100, 1.0f}}});
    EXPECT_FLOAT_EQ(readAutomationAt(track, 0, 50, 1.0f), 0.2f);
    EXPECT_FLOAT_EQ(readAutomationAt(track, 0, 150, 1.0f), 0.5f);
    EXPECT_FLOAT_EQ(readAutomationAt(track, 0, 200, 1.0f), 0.2f);
    track.automationClips[0].points.resize(1);
    EXPECT_FLOAT_EQ(readAutomationAt(track, 0, 150, 0.9f), 0.9f);
    EXPECT_FLOAT_EQ(readAutomationAt(track, 7, 10, 0.9f), 0.2f); // unknown lanes read volume
}

TEST(ArrangementRouting, MutedTrackFeedsNoReturnAndKeepsItsMeters) {
    RenderRig rig;
    auto reverb = rig.addTrack(TrackType::Return);
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 4096, 0.5f, 0.5f);
    rig.edit([&](Project &) { track->sends[1] = SendSlot{reverb->id, 1.0f, true}; });
    auto out = rig.play(0);
    // Pre-fader send at unity, then the return's own fader: 0.5 x 1.125 twice over.
    EXPECT_FLOAT_EQ(out[0][0], 0.5f * fader + 0.5f * fader);
    rig.engine.copyTrackMetersToProject();
    const float peak = track->peakL;
    EXPECT_FLOAT_EQ(peak, 0.5f * fader);

    rig.edit([&](Project &) { track->mute = true; });
    out = rig.play(512);
    for (float sample : out[0])
        ASSERT_EQ(sample, 0.0f);
    rig.engine.copyTrackMetersToProject();
    EXPECT_FLOAT_EQ(track->peakL, peak);
}

TEST(ArrangementRouting, AReturnsEqRingsOnAfterItsSendFallsSilentAndIsQuietOnceAtRest) {
    RenderRig rig;
    auto reverb = rig.addTrack(TrackType::Return);
    rig.edit([&](Project &) {
        reverb->eq.enabled = true;
        reverb->eq.bands[3].enabled = true;
        reverb->eq.bands[3].freq = 200.0f;
        reverb->eq.bands[3].q = 20.0f;
        reverb->eq.bands[3].gainDb = 12.0f;
    });
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 4096, 0.5f, 0.5f);
    rig.edit([&](Project &) { track->sends[1] = SendSlot{reverb->id, 1.0f, false}; });
    rig.play(0, 1);
    // A muted track sends nothing: the narrow band rings on for thousands of frames alone.
    rig.edit([&](Project &) { track->mute = true; });
    const auto out = rig.play(512, 3);
    float tail = 0.0f;
    for (std::size_t i = 512; i < out[0].size(); ++i)
        tail = std::max(tail, std::abs(out[0][i]));
    EXPECT_GT(tail, 1e-3f);

    // With nothing sent and nothing ringing, the return is silent.
    RenderRig quiet;
    auto unused = quiet.addTrack(TrackType::Return);
    quiet.edit([&](Project &) { unused->eq.enabled = true; });
    for (const auto &channel : quiet.play(0, 2))
        for (const float sample : channel)
            ASSERT_EQ(sample, 0.0f);
}

TEST(ArrangementRouting, SoloSilencesUnsoloedReturns) {
    RenderRig rig;
    auto reverb = rig.addTrack(TrackType::Return);
    auto soloed = rig.addTrack(TrackType::Audio);
    auto other = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(soloed, 512, 0.25f, 0.25f);
    rig.addConstantClip(other, 512, 0.5f, 0.5f);
    rig.edit([&](Project &) {
        soloed->solo = true;
        soloed->sends[2] = SendSlot{reverb->id, 1.0f, false};
    });
    const auto out = rig.play(0);
    EXPECT_FLOAT_EQ(out[0][100], 0.25f * fader);
}

TEST(ArrangementRouting, SendsReachOnlyTheFirstEightReturnsAndSendZeroFollowsMacroTwo) {
    RenderRig rig;
    std::vector<std::shared_ptr<Track>> returns;
    for (int i = 0; i < 9; ++i)
        returns.push_back(rig.addTrack(TrackType::Return));
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 512, 1.0f, 1.0f);
    rig.edit([&](Project &) { track->sends[1] = SendSlot{returns[8]->id, 1.0f, false}; });
    EXPECT_FLOAT_EQ(rig.play(0)[0][0], fader);

    rig.edit([&](Project &) {
        track->sends[1] = SendSlot{};
        track->sends[0] = SendSlot{returns[0]->id, 0.5f, true};
        track->macros[2] = 1.0f; // send 0 gain x (1 x 1.75 + 0.25) = x 2
    });
    EXPECT_FLOAT_EQ(rig.play(0)[0][0], fader + 1.0f * fader);
}

TEST(ArrangementRouting, DelayCompensationDelaysTheTracksWithLessLatency) {
    RenderRig rig;
    auto early = rig.addTrack(TrackType::Audio);
    auto late = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(early, 2048, 1.0f, 1.0f);
    const uint64_t lateId = late->id;
    rig.engine.setLatencyHook([lateId](uint64_t id) -> int64_t { return id == lateId ? 256 : 0; });
    const auto out = rig.play(0, 2);
    EXPECT_EQ(out[0][255], 0.0f);
    EXPECT_FLOAT_EQ(out[0][256], fader);
    EXPECT_FLOAT_EQ(out[0][1000], fader);
}

TEST(ArrangementRouting, InsertHookAndStockStagesProcessTheTrack) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 512, 0.5f, 0.5f);
    uint64_t seenTrack = 0;
    rig.engine.setInsertHook([&seenTrack](uint64_t id, float *left, float *right, int32_t frames) {
        seenTrack = id;
        for (int32_t i = 0; i < frames; ++i)
            right[i] = -left[i];
    });
    rig.edit([&](Project &) {
        track->inserts.push_back(
            InsertSlot{"stock.compressor", "Comp", "", {}, false, true, 0, {}});
        track->inserts.push_back(InsertSlot{"stock.eq", "EQ", "", {}, true, true, 0, {}});
    });
    const auto out = rig.play(0);
    EXPECT_EQ(seenTrack, track->id);
    EXPECT_FLOAT_EQ(out[0][3], std::tanh(1.2f * 0.5f) * fader);
    EXPECT_FLOAT_EQ(out[1][3], -std::tanh(1.2f * 0.5f) * fader);
}

TEST(ArrangementRouting, ReplacingTheProjectDropsEffectTailsOfReusedTrackIds) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 512, 1.0f, 1.0f);
    rig.edit([&](Project &) {
        track->inserts.push_back(InsertSlot{"stock.delay", "Delay", "", {}, false, true, 0, {}});
    });
    rig.play(0, 1);

    Project silent;
    silent.masterEq.enabled = false;
    silent.mastering.enabled = false;
    silent.controlRoom.cueGain = 0.0f;
    auto fresh = silent.addTrack(TrackType::Audio, "");
    ASSERT_EQ(fresh->id, track->id);
    fresh->inserts = track->inserts;
    rig.engine.replaceProject(std::move(silent));
    const auto out = rig.play(512, 40);
    for (float sample : out[0])
        ASSERT_EQ(sample, 0.0f);
}

TEST(ArrangementMidi, NotesSoundAtTheirPitchFromTheirStart) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &project) {
        auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->length = 48000;
        clip->notes.push_back(MidiNote{69, 1.0f, 100, 4000});
    });
    const auto out = rig.play(0, 10);
    ASSERT_EQ(out[0].size(), 5120u);
    for (int i = 0; i <= 100; ++i)
        ASSERT_EQ(out[0][static_cast<std::size_t>(i)], 0.0f) << i;
    EXPECT_GT(out[0][110], 0.0f);
    int crossings = 0;
    for (std::size_t i = 101; i < 4100; ++i)
        if ((out[0][i - 1] < 0.0f) != (out[0][i] < 0.0f)) ++crossings;
    // 4000 samples of 440 Hz at 48 kHz hold 36.7 periods, two crossings each.
    EXPECT_NEAR(crossings, 73, 1);
    float peak = 0.0f;
    for (float sample : out[0])
        peak = std::max(peak, sample);
    EXPECT_NEAR(peak, fader * 0.2f, 1e-3);
    EXPECT_EQ(out[0][4200], 0.0f);
}

TEST(ArrangementMidi, KeyswitchesAreSilentAndScaleTheNotesAfterThem) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &project) {
        project.expressionMaps = {
            ExpressionMap{"Test", {ExpressionArticulation{"Soft", 24, 0.5f, 0, 0}}}};
        track->expressionMapIndex = 0;
        auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->length = 4096;
        clip->notes.push_back(MidiNote{24, 1.0f, 0, 4096});
        clip->notes.push_back(MidiNote{81, 1.0f, 0, 4096});
    });
    auto out = rig.play(0, 4);
    EXPECT_NEAR(peakOf(out[0]), fader * 0.2f * 0.5f, 1e-3);

    rig.edit([&](Project &) { track->expressionMapIndex = -1; });
    out = rig.play(0, 4);
    EXPECT_GT(peakOf(out[0]), fader * 0.2f); // both notes sound without a map
}

TEST(ArrangementMidi, ArmedTrackPlaysHeldKeys) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &) { track->armed = true; });
    sendMidi(rig.engine, RequestType::midiNoteOn, 69, 0.5);
    auto out = rig.play(0, 2);
    float peak = 0.0f;
    for (float sample : out[0])
        peak = std::max(peak, sample);
    EXPECT_NEAR(peak, fader * 0.5f * 0.2f, 1e-3);
    sendMidi(rig.engine, RequestType::midiNoteOff, 69);
    out = rig.play(0);
    for (float sample : out[0])
        ASSERT_EQ(sample, 0.0f);
}

TEST(ArrangementLimits, PeriodsLargerThanPreparedRenderInPiecesAndAdvance) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 8192, 1.0f, 1.0f);
    const auto out = rig.play(0, 1, 1300);
    ASSERT_EQ(out[0].size(), 1300u);
    for (float sample : out[0])
        ASSERT_FLOAT_EQ(sample, RenderRig::defaultFader);
    EXPECT_EQ(rig.engine.transport.playhead, 1300);
}

TEST(ArrangementAudio, UnwarpedClipsSoundTheSameAsAnIdentityWarp) {
    auto render = [](bool identityMarker) {
        RenderRig rig;
        auto track = rig.addTrack(TrackType::Audio);
        auto clip = rig.addConstantClip(track, 1, 0.0f, 0.0f);
        rig.edit([&](Project &) {
            auto noise = std::make_shared<std::vector<float>>(6000);
            uint32_t state = 12345;
            for (float &sample : *noise) {
                state = state * 1664525u + 1013904223u;
                sample = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
            }
            clip->audio = noise;
            clip->arrangeStart = 100;
            clip->sourceOffset = 7;
            clip->fadeIn = 300;
            clip->fadeOut = 200;
            clip->gain = 0.7f;
            if (identityMarker) clip->warpMarkers = {{1000, 1007}}; // forces the general path
        });
        return rig.play(0, 7);
    };
    const auto direct = render(false);
    const auto general = render(true);
    ASSERT_EQ(direct[0].size(), general[0].size());
    for (std::size_t i = 0; i < direct[0].size(); ++i) {
        ASSERT_EQ(direct[0][i], general[0][i]) << i;
        ASSERT_EQ(direct[1][i], general[1][i]) << i;
    }
    EXPECT_NE(direct[0][500], 0.0f);
}

TEST(ArrangementLimits, PositionsFromADamagedDocumentNeitherOverflowNorSound) {
    RenderRig rig;
    constexpr int64_t far = std::numeric_limits<int64_t>::max();
    auto keys = rig.addTrack(TrackType::Midi);
    auto audio = rig.addTrack(TrackType::Audio);
    auto clip = rig.addConstantClip(audio, 64, 1.0f, 1.0f);
    rig.edit([&](Project &project) {
        auto midi = project.addClip(keys->id, ClipKind::Midi);
        midi->arrangeStart = far - 10;
        midi->length = far;
        midi->notes.push_back(MidiNote{60, 1.0f, far, far});
        midi->notes.push_back(MidiNote{61, 1.0f, -far, far});
        clip->arrangeStart = far - 5;
        clip->length = far;
    });
    auto out = rig.play(0);
    for (float sample : out[0])
        ASSERT_EQ(sample, 0.0f);
    out = rig.play(far - 4096, 2);
    for (float sample : out[0])
        ASSERT_TRUE(std::isfinite(sample));
}

// The levels the publication gives each note equal the expression map's own rule, which scans
// the notes stored before the note; here on shuffled notes, where stored order and time
// order differ.
TEST(ArrangementMidi, PublishedNoteLevelsFollowTheExpressionMapRule) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Midi);
    const ExpressionMap map{"Test",
                            {ExpressionArticulation{"Soft", 24, 0.5f, 0, 0},
                             ExpressionArticulation{"Loud", 25, 1.5f, 0, 0}}};
    std::vector<MidiNote> notes;
    std::mt19937 random(99);
    for (int i = 0; i < 400; ++i) {
        const int32_t pitch = random() % 10 == 0 ? 24 + static_cast<int32_t>(random() % 2)
                                                 : 40 + static_cast<int32_t>(random() % 40);
        notes.push_back(MidiNote{pitch, 0.1f + static_cast<float>(random() % 90) / 100.0f,
                                 static_cast<int64_t>(random() % 5000), 100,
                                 0.5f + static_cast<float>(random() % 50) / 100.0f, 0.0f});
    }
    rig.edit([&](Project &project) {
        project.expressionMaps = {map};
        track->expressionMapIndex = 0;
        auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->length = 6000;
        clip->notes = notes;
    });
    const auto snapshot = rig.engine.currentGraph();
    const MidiClipIndex &index = snapshot->midiIndexes[0][0];
    ASSERT_EQ(index.level.size(), notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const MidiNote &note = notes[i];
        const bool keyswitch = note.pitch == 24 || note.pitch == 25;
        const float expected = keyswitch ? 0.0f
                                         : expressionVelocityAt(map, notes, note) *
                                               note.expression * note.velocity * 0.2f;
        ASSERT_FLOAT_EQ(index.level[i], expected) << i;
    }
}

// Stacked notes sound with at most the track's voice limit; the newest keep sounding.
TEST(ArrangementMidi, StackedNotesAreCappedAtTheVoiceLimitKeepingTheNewest) {
    RenderRig rig;
    auto track = rig.addTrack(TrackType::Midi);
    constexpr int noteCount = 200;
    rig.edit([&](Project &project) {
        auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->length = 20000;
        for (int i = 0; i < noteCount; ++i)
            clip->notes.push_back(MidiNote{40 + i % 50, 0.01f, i, 10000, 1.0f, 0.0f});
    });
    const auto out = rig.play(1024);
    for (std::size_t frame = 0; frame < out[0].size(); frame += 37) {
        double expected = 0.0;
        for (int i = noteCount - maxVoicesPerTrack; i < noteCount; ++i) {
            const double frequency = 440.0 * std::pow(2.0, (40 + i % 50 - 69) / 12.0);
            const double phase = static_cast<double>(1024 + frame - i) * frequency / 48000.0;
            expected += 0.01 * 0.2 * std::sin(2.0 * M_PI * (phase - std::floor(phase)));
        }
        ASSERT_NEAR(out[0][frame], RenderRig::defaultFader * expected, 1e-4) << frame;
    }
}

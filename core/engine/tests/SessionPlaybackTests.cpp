#include "core/engine/ClipVoices.h"
#include "core/engine/tests/RenderRig.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <span>

namespace orvane::testing {
namespace {

/// A rig with one audio track whose session clips play constant levels, so that where each
/// clip sounds can be read off the output.
class SessionRig : public RenderRig {
  public:
    explicit SessionRig(RenderSetup setup = {}) : RenderRig(setup) {
        track = addTrack(TrackType::Audio);
        edit([](Project &project) {
            project.session.launchQuantize = LaunchQuantize::Immediate;
            for (int row = 0; row < 3; ++row) {
                Scene scene;
                scene.id = project.nextSceneId++;
                project.session.scenes.push_back(scene);
            }
        });
    }

    /// A session clip of `frames` frames at `value`, in `row`, listed in that row's scene.
    std::shared_ptr<Clip> sessionClip(int row, int64_t frames, float value) {
        const auto clip = addConstantClip(track, frames, value, value);
        edit([&](Project &project) {
            clip->sessionRow = row;
            clip->sessionCol = 0;
            clip->length = frames;
            clip->launchQuantize = LaunchQuantize::Immediate;
            project.session.scenes[static_cast<std::size_t>(row)].clips = {clip->id};
        });
        return clip;
    }

    uint64_t sceneId(int row) {
        std::lock_guard lock(engine.projectMutex);
        return engine.project.session.scenes[static_cast<std::size_t>(row)].id;
    }

    /// Renders `blocks` blocks of `frames` and joins the left channel.
    std::vector<float> render(int blocks, int32_t frames = 512) {
        std::vector<float> left;
        StereoOutput out(frames);
        for (int i = 0; i < blocks; ++i) {
            out.render(engine);
            left.insert(left.end(), out.left.begin(), out.left.end());
        }
        return left;
    }

    std::vector<Notification> notifications() {
        std::vector<Notification> all;
        Notification next;
        while (engine.popNotification(next))
            all.push_back(next);
        return all;
    }

    static bool posted(const std::vector<Notification> &all, NotificationKind kind, uint64_t id,
                       float value) {
        return std::any_of(all.begin(), all.end(), [&](const Notification &n) {
            return n.kind == kind && n.id == id && n.value == value;
        });
    }

    std::shared_ptr<Track> track;
};

constexpr float fader = RenderRig::defaultFader;

TEST(SessionLaunch, QuantisedLaunchesWaitForTheNextBoundary) {
    SessionRig rig;
    const auto clip = rig.sessionClip(0, 1000, 0.5f);
    rig.edit([&](Project &) { clip->launchQuantize = LaunchQuantize::OneBar; });
    for (const auto &[playhead, expected] :
         {std::pair<int64_t, int64_t>{100000, 192000}, {96000, 192000}}) {
        send(rig.engine, RequestType::locate, 0, static_cast<double>(playhead));
        send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(clip->id));
        rig.render(1);
        const SessionTableCopy table = rig.engine.readSessionTable();
        ASSERT_EQ(table.count, 1);
        EXPECT_TRUE(table.entries[0].queued);
        EXPECT_EQ(table.entries[0].launchAt, expected) << playhead;
    }
    // Without a quantisation of its own the clip takes the grid's, which here is immediate.
    rig.edit([&](Project &) { clip->launchQuantize = LaunchQuantize::Immediate; });
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(clip->id));
    rig.render(1);
    EXPECT_TRUE(rig.engine.readSessionTable().entries[0].playing);
}

// A scene with a launch quantisation of its own launches on it, the others on the grid's;
// the clips' own quantisations count only when they are launched one by one.
TEST(SessionLaunch, ASceneLaunchesOnItsOwnQuantisationOrElseTheGrids) {
    const struct {
        bool own;
        LaunchQuantize quantize;
        int64_t launchAt; // -1: at once
    } cases[] = {{false, LaunchQuantize::OneBeat, 192000},
                 {true, LaunchQuantize::OneBeat, 120000},
                 {true, LaunchQuantize::EightBars, 768000},
                 {true, LaunchQuantize::Immediate, -1}};
    for (const auto &row : cases) {
        SessionRig rig;
        const auto clip = rig.sessionClip(0, 1000, 0.5f);
        rig.edit([&](Project &project) {
            project.session.launchQuantize = LaunchQuantize::OneBar; // 96000 samples
            clip->launchQuantize = LaunchQuantize::EightBars;
            Scene &scene = project.session.scenes[0];
            scene.useSceneLaunchQuantize = row.own;
            scene.sceneLaunchQuantize = row.quantize;
        });
        send(rig.engine, RequestType::locate, 0, 100000.0);
        send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(0)));
        rig.render(1);
        const SessionTableCopy table = rig.engine.readSessionTable();
        ASSERT_EQ(table.count, 1);
        const auto shown = static_cast<int>(row.quantize);
        if (row.launchAt < 0) {
            EXPECT_TRUE(table.entries[0].playing) << shown;
        } else {
            EXPECT_TRUE(table.entries[0].queued) << row.own << " " << shown;
            EXPECT_EQ(table.entries[0].launchAt, row.launchAt) << row.own << " " << shown;
        }
    }
}

TEST(SessionLaunch, AQueuedClipStartsOnItsFrameFromItsFirstSample) {
    for (const int64_t into : {100, 0}) {
        SessionRig rig;
        const auto clip = rig.sessionClip(0, 5000, 0.5f);
        rig.edit([&](Project &project) {
            clip->launchQuantize = LaunchQuantize::OneBeat; // 24000 samples at 120 BPM
            clip->fadeIn = 4;
            project.session.launchQuantize = LaunchQuantize::OneBeat;
        });
        // The beat at 24000 falls `into` frames into the third block.
        send(rig.engine, RequestType::locate, 0, static_cast<double>(24000 - 1024 - into));
        send(rig.engine, RequestType::play);
        send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(clip->id));
        const auto left = rig.render(4);
        const auto start = static_cast<std::size_t>(1024 + into);
        for (std::size_t i = 0; i < start; ++i)
            ASSERT_EQ(left[i], 0.0f)
                << "frame " << i << ", launch " << into << " frames into a block";
        EXPECT_EQ(left[start], 0.0f); // the first sample of a 4-sample fade-in is silent
        EXPECT_FLOAT_EQ(left[start + 1], 0.5f * fader * 0.25f);
        EXPECT_FLOAT_EQ(left[start + 4], 0.5f * fader);
    }
}

TEST(SessionLaunch, ToggleClipsStopOnTheSecondLaunchAndGateClipsOnRelease) {
    SessionRig rig;
    const auto toggle = rig.sessionClip(0, 100000, 0.5f);
    const auto gate = rig.sessionClip(1, 100000, 0.25f);
    rig.edit([&](Project &) {
        toggle->launchMode = SessionLaunchMode::Toggle;
        gate->launchMode = SessionLaunchMode::Gate;
    });
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(toggle->id));
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(gate->id));
    EXPECT_FLOAT_EQ(rig.render(1).back(), 0.75f * fader);
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(toggle->id));
    EXPECT_FLOAT_EQ(rig.render(1).back(), 0.25f * fader);
    EXPECT_TRUE(SessionRig::posted(rig.notifications(), NotificationKind::sessionClipEnded,
                                   toggle->id, 0.0f));
    send(rig.engine, RequestType::releaseSessionClip, static_cast<int64_t>(gate->id));
    EXPECT_EQ(rig.render(1).back(), 0.0f);
}

TEST(SessionLaunch, AFullTableStoresNoMoreButStillReportsTheLaunch) {
    SessionRig rig;
    std::vector<std::shared_ptr<Clip>> clips;
    for (int i = 0; i < 65; ++i)
        clips.push_back(rig.sessionClip(0, 100000, 0.001f));
    send(rig.engine, RequestType::play);
    for (const auto &clip : clips)
        send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(clip->id));
    rig.render(1);
    const SessionTableCopy table = rig.engine.readSessionTable();
    EXPECT_EQ(table.count, 64);
    EXPECT_TRUE(std::none_of(table.entries.begin(), table.entries.end(),
                             [&](const auto &e) { return e.clipId == clips.back()->id; }));
    EXPECT_TRUE(SessionRig::posted(rig.notifications(), NotificationKind::sessionClipLaunched,
                                   clips.back()->id, 1.0f));
}

TEST(SessionEnds, PlayOnceAndZeroLengthLoopsEndAndRunTheirFollowActions) {
    for (const bool playOnce : {true, false}) {
        SessionRig rig;
        const auto first = rig.sessionClip(0, 700, 0.5f);
        const auto second = rig.sessionClip(1, 100000, 0.25f);
        rig.edit([&](Project &) {
            first->loop = true;
            first->loopLength = playOnce ? 300 : 0;
            first->launchMode = playOnce ? SessionLaunchMode::PlayOnce : SessionLaunchMode::Trigger;
            first->followAction = FollowAction::NextClipInColumn;
        });
        send(rig.engine, RequestType::play);
        send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(first->id));
        const auto left = rig.render(3);
        EXPECT_FLOAT_EQ(left[699], 0.5f * fader);
        EXPECT_EQ(left[700], 0.0f);                 // the rest of the block it ended in
        EXPECT_FLOAT_EQ(left[1024], 0.25f * fader); // the next clip from the next block on
        const auto all = rig.notifications();
        EXPECT_TRUE(SessionRig::posted(all, NotificationKind::sessionClipEnded, first->id, 1.0f));
        EXPECT_TRUE(
            SessionRig::posted(all, NotificationKind::sessionClipLaunched, second->id, 1.0f));
    }
}

TEST(SessionEnds, NextClipOnTheLastRowOnlyReportsTheEnd) {
    SessionRig rig;
    const auto last = rig.sessionClip(2, 300, 0.5f);
    rig.edit([&](Project &) { last->followAction = FollowAction::NextClipInColumn; });
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(last->id));
    const auto left = rig.render(3);
    EXPECT_TRUE(std::all_of(left.begin() + 300, left.end(), [](float v) { return v == 0.0f; }));
    const auto all = rig.notifications();
    EXPECT_TRUE(SessionRig::posted(all, NotificationKind::sessionClipEnded, last->id, 1.0f));
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const Notification &n) {
                                return n.kind == NotificationKind::sessionClipLaunched;
                            }),
              1);
}

TEST(SessionScenes, SceneTempoIsShownWhileTheScenePlaysAndValidatedFirst) {
    SessionRig rig;
    rig.sessionClip(0, 100000, 0.5f);
    rig.sessionClip(1, 100000, 0.5f);
    rig.edit([](Project &project) {
        project.session.scenes[0].useSceneTempo = true;
        project.session.scenes[0].sceneTempoBpm = 500.0;
        project.session.scenes[1].useSceneTempo = true;
        project.session.scenes[1].sceneTempoBpm = 90.0;
    });
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(0)));
    rig.render(2);
    EXPECT_EQ(rig.engine.tempo.load(), 120.0);
    send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(1)));
    rig.render(4);
    EXPECT_TRUE(SessionRig::posted(rig.notifications(), NotificationKind::transport, 0, 90.0f));
    rig.edit([](Project &project) { project.name = "edited"; }); // a publication
    rig.render(2);
    EXPECT_EQ(rig.engine.tempo.load(), 90.0);
    std::lock_guard lock(rig.engine.projectMutex);
    EXPECT_EQ(rig.engine.project.tempoBpm, 120.0); // the tempo map is the song's
}

TEST(SessionTransport, StopHandsPlaybackBackToTheArrangementAndPauseKeepsTheSession) {
    SessionRig rig;
    const auto session = rig.sessionClip(0, 100000, 0.5f);
    rig.addConstantClip(rig.track, 100000, 0.125f, 0.125f); // in the arrangement at 0
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(session->id));
    EXPECT_FLOAT_EQ(rig.render(1).back(), 0.5f * fader);
    send(rig.engine, RequestType::pause);
    rig.render(1);
    send(rig.engine, RequestType::play);
    EXPECT_FLOAT_EQ(rig.render(1).back(), 0.5f * fader);
    send(rig.engine, RequestType::stop);
    send(rig.engine, RequestType::play);
    EXPECT_FLOAT_EQ(rig.render(1).back(), 0.125f * fader);
    EXPECT_FALSE(rig.engine.session().sessionMode());
    EXPECT_EQ(rig.engine.readSessionTable().count, 0);

    // A new project empties the table too, so nothing of the old one plays on.
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(session->id));
    rig.render(1);
    Project fresh;
    fresh.masterEq.enabled = fresh.mastering.enabled = false;
    rig.engine.replaceProject(fresh);
    rig.render(1);
    EXPECT_FALSE(rig.engine.session().sessionMode());
    EXPECT_EQ(rig.engine.readSessionTable().count, 0);
}

TEST(SessionTransport, AMutedTracksClipKeepsTimeWithItsScene) {
    SessionRig rig;
    const auto clip = rig.sessionClip(0, 100000, 0.5f);
    rig.edit([&](Project &) { clip->fadeIn = 100000; });
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(0)));
    rig.render(1);
    rig.edit([&](Project &) { rig.track->mute = true; });
    EXPECT_EQ(rig.render(2).back(), 0.0f);
    rig.edit([&](Project &) { rig.track->mute = false; });
    // 3 × 512 frames have passed by the start of the fourth block.
    EXPECT_FLOAT_EQ(rig.render(1).front(), 0.5f * fader * 1536.0f / 100000.0f);
}

TEST(SessionCapture, APlayedClipBecomesAnArrangementClipOfThePlayedLength) {
    SessionRig rig;
    const auto audio = rig.sessionClip(0, 100000, 0.5f);
    rig.edit([&](Project &project) {
        audio->name = "Loop";
        auto midiTrack = project.addTrack(TrackType::Midi, "");
        auto midi = project.addClip(midiTrack->id, ClipKind::Midi);
        midi->name = "Keys";
        midi->sessionRow = 0;
        midi->length = 100000;
        midi->notes = {MidiNote{60, 0.8f, 0, 40000}, MidiNote{62, 0.8f, 29000, 500},
                       MidiNote{64, 0.8f, 31000, 10}};
        project.session.scenes[0].clips = {audio->id, midi->id};
    });
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(0)));
    rig.render(60, 500); // 30000 samples
    const auto captured = rig.engine.captureSessionToArrangement();
    ASSERT_EQ(captured.size(), 2u);
    std::lock_guard lock(rig.engine.projectMutex);
    const auto copy = rig.engine.project.findClip(captured[0]);
    EXPECT_EQ(copy->name, "Capture Loop");
    EXPECT_EQ(copy->length, 30000);
    EXPECT_EQ(copy->arrangeStart, 30000);
    EXPECT_EQ(copy->sessionRow, -1);
    const auto keys = rig.engine.project.findClip(captured[1]);
    EXPECT_EQ(keys->length, 30000);
    ASSERT_EQ(keys->notes.size(), 2u);
    EXPECT_EQ(keys->notes[0].length, 30000);
    EXPECT_EQ(keys->notes[1].length, 500);
}

TEST(SessionClipSamples, AClipFrameHasItsFadesGainAndInterpolationAndIsSilentOutsideItsSpan) {
    Clip clip;
    clip.channels = 2;
    auto samples = std::make_shared<std::vector<float>>();
    for (int frame = 0; frame < 100; ++frame) {
        samples->push_back(static_cast<float>(frame) / 100.0f);
        samples->push_back(-1.0f);
    }
    clip.audio = samples;
    clip.length = 80;
    clip.gain = 0.5f;
    clip.fadeIn = 10;
    clip.fadeOut = 20;
    clip.stretchRatio = 0.5; // reads half a source frame per frame
    EXPECT_EQ(sampleAudioClip(clip, -1).left, 0.0f);
    EXPECT_EQ(sampleAudioClip(clip, 80).left, 0.0f);
    EXPECT_FLOAT_EQ(sampleAudioClip(clip, 5).left, 0.5f * 0.5f * 0.025f);
    EXPECT_FLOAT_EQ(sampleAudioClip(clip, 5).right, 0.5f * 0.5f * -1.0f);
    EXPECT_FLOAT_EQ(sampleAudioClip(clip, 31).left, 0.5f * 0.155f);
    EXPECT_FLOAT_EQ(sampleAudioClip(clip, 70).left, 0.5f * 0.5f * 0.35f);
    clip.audio.reset();
    EXPECT_EQ(sampleAudioClip(clip, 31).left, 0.0f);
}

// At 48 kHz and 120 BPM a bar is 96000 samples; the grid quantises to one bar.
constexpr int64_t bar = 96000;

/// Renders in blocks of `block` until the output reaches `frames` frames.
std::vector<float> renderUntil(SessionRig &rig, std::vector<float> left, int64_t frames,
                               int32_t block) {
    while (static_cast<int64_t>(left.size()) < frames) {
        const auto more = rig.render(1, block);
        left.insert(left.end(), more.begin(), more.end());
    }
    return left;
}

TEST(SessionFollowActions, TheNextSceneStartsOnTheBarLineWhereTheLastOneEnded) {
    for (const int32_t block : {64, 480, 512}) {
        SCOPED_TRACE(::testing::Message() << "blocks of " << block);
        for (const bool sceneFollows : {false, true}) {
            SessionRig rig({48000.0, block});
            const auto first = rig.sessionClip(0, bar, 0.5f);
            rig.sessionClip(1, bar, 0.25f);
            rig.edit([&](Project &project) {
                project.session.launchQuantize = LaunchQuantize::OneBar;
                if (sceneFollows)
                    project.session.scenes[0].followAction = FollowAction::NextScene;
                else
                    first->followAction = FollowAction::NextScene;
            });
            send(rig.engine, RequestType::play);
            send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(0)));
            const auto left = renderUntil(rig, {}, 2 * bar + 1000, block);
            EXPECT_EQ(left[bar - 1], 0.0f);
            EXPECT_FLOAT_EQ(left[bar], 0.5f * fader);
            EXPECT_FLOAT_EQ(left[2 * bar - 1], 0.5f * fader);
            EXPECT_FLOAT_EQ(left[2 * bar], 0.25f * fader) << "scene follows: " << sceneFollows;
        }
        // A scene that follows itself plays on, in time with the bars: a bar line that falls
        // inside a block (3 bars, with blocks of 512) costs at most the rest of that block.
        SessionRig rig({48000.0, block});
        rig.sessionClip(0, bar, 0.5f);
        rig.edit([&](Project &project) {
            project.session.launchQuantize = LaunchQuantize::OneBar;
            project.session.scenes[0].followAction = FollowAction::Again;
        });
        send(rig.engine, RequestType::play);
        send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(0)));
        const auto left = renderUntil(rig, {}, 4 * bar + 1000, block);
        for (const int64_t frame :
             {bar, 2 * bar - 1, 2 * bar, int64_t{250000}, 3 * bar + block, 4 * bar - 1, 4 * bar})
            EXPECT_FLOAT_EQ(left[static_cast<std::size_t>(frame)], 0.5f * fader) << frame;
    }
}

TEST(SessionLaunch, AQuantisedLaunchKeepsWhatPlaysUntilTheLaunchPoint) {
    enum class Launch { OtherScene, SameClipAgain, AtOnce };
    for (const int32_t block : {64, 480, 512})
        for (const Launch launch : {Launch::OtherScene, Launch::SameClipAgain, Launch::AtOnce}) {
            SCOPED_TRACE(::testing::Message() << "blocks of " << block << ", case " << int(launch));
            SessionRig rig({48000.0, block});
            const auto playing = rig.sessionClip(0, 4 * bar, 0.5f);
            rig.sessionClip(1, 4 * bar, 0.25f);
            rig.edit(
                [](Project &project) { project.session.launchQuantize = LaunchQuantize::OneBar; });
            send(rig.engine, RequestType::play);
            send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(0)));
            auto left = renderUntil(rig, {}, 120320, block);
            const auto requestAt = static_cast<int64_t>(left.size());
            if (launch == Launch::AtOnce)
                rig.edit([](Project &project) {
                    project.session.launchQuantize = LaunchQuantize::Immediate;
                });
            if (launch == Launch::SameClipAgain)
                send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(playing->id));
            else
                send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(1)));
            left = renderUntil(rig, std::move(left), 2 * bar + 4000, block);
            if (launch == Launch::AtOnce) {
                EXPECT_FLOAT_EQ(left[static_cast<std::size_t>(requestAt)], 0.25f * fader);
                continue;
            }
            for (const int64_t frame : {requestAt, int64_t{130000}, 2 * bar - 1})
                EXPECT_FLOAT_EQ(left[static_cast<std::size_t>(frame)], 0.5f * fader) << frame;
            const float next = launch == Launch::OtherScene ? 0.25f : 0.5f;
            EXPECT_FLOAT_EQ(left[2 * bar], next * fader);
            const SessionTableCopy table = rig.engine.readSessionTable();
            const auto entries = std::span(table.entries.data(), std::size_t(table.count));
            std::vector<ActiveSessionClip> running;
            std::copy_if(entries.begin(), entries.end(), std::back_inserter(running),
                         [](const auto &entry) { return entry.playing || entry.queued; });
            ASSERT_EQ(running.size(), 1u) << "the replaced entry has left the table";
            // The launched clip started on the bar line.
            EXPECT_EQ(running[0].offset, static_cast<int64_t>(left.size()) - 2 * bar);
        }
}

TEST(SessionLaunch, ATrackCanPlayOneClipAtATime) {
    for (const bool oneAtATime : {false, true}) {
        SessionRig rig;
        const auto first = rig.sessionClip(0, 4 * bar, 0.5f);
        const auto second = rig.sessionClip(1, 4 * bar, 0.25f);
        rig.edit([&](Project &) { rig.track->oneClipAtATime = oneAtATime; });
        send(rig.engine, RequestType::play);
        send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(first->id));
        rig.render(2);
        send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(second->id));
        EXPECT_FLOAT_EQ(rig.render(1).front(), (oneAtATime ? 0.25f : 0.75f) * fader);
    }
    // Quantised, the clip that plays hands over on the bar line.
    SessionRig rig;
    const auto first = rig.sessionClip(0, 4 * bar, 0.5f);
    const auto second = rig.sessionClip(1, 4 * bar, 0.25f);
    rig.edit([&](Project &project) {
        rig.track->oneClipAtATime = true;
        project.session.launchQuantize = LaunchQuantize::OneBar;
    });
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(first->id));
    auto left = renderUntil(rig, {}, 120320, 512);
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(second->id));
    left = renderUntil(rig, std::move(left), 2 * bar + 512, 512);
    EXPECT_FLOAT_EQ(left[2 * bar - 1], 0.5f * fader);
    EXPECT_FLOAT_EQ(left[2 * bar], 0.25f * fader);
}

InsertSlot stockInsert(const char *id) { return InsertSlot{id, "", "", {}, false, true, 0, {}}; }

TEST(SessionTails, AStoppedClipsTrackRingsOnThroughItsEchoAndReverb) {
    SessionRig rig;
    const auto clip = rig.sessionClip(0, 4800, 0.5f);
    rig.edit([&](Project &) {
        rig.track->inserts = {stockInsert("stock.delay"), stockInsert("stock.reverb")};
    });
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(clip->id));
    const auto left = rig.render(120);
    // Echoes 250 ms apart, each 0.3 of the one before: the first three are far above the floor.
    for (const int64_t echo : {1, 2, 3}) {
        const auto from = static_cast<std::size_t>(echo * 12000 + 100);
        const float peak =
            *std::max_element(left.begin() + static_cast<std::ptrdiff_t>(from),
                              left.begin() + static_cast<std::ptrdiff_t>(from + 4000),
                              [](float a, float b) { return std::abs(a) < std::abs(b); });
        EXPECT_GT(std::abs(peak), 1e-3f) << "echo " << echo;
    }
}

TEST(SessionRealTime, RenderingTheSessionAllocatesNothing) {
    SessionRig rig;
    const auto looped = rig.sessionClip(0, 900, 0.5f);
    const auto follower = rig.sessionClip(1, 700, 0.25f);
    rig.edit([&](Project &project) {
        looped->loop = true;
        looped->loopLength = 600;
        looped->gainEnvelope = {{0, 0.0f}, {600, 1.0f}};
        follower->followAction = FollowAction::Again;
        project.session.scenes[0].followAction = FollowAction::NextScene;
        auto midiTrack = project.addTrack(TrackType::Midi, "");
        auto midi = project.addClip(midiTrack->id, ClipKind::Midi);
        midi->sessionRow = 0;
        midi->length = 1500;
        midi->followAction = FollowAction::NextScene;
        midi->notes = {MidiNote{60, 0.8f, 0, 1000}};
        project.session.scenes[0].clips = {looped->id, midi->id};
    });
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(0)));
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(follower->id));
    StereoOutput out(256);
    out.render(rig.engine);
    AllocationScope scope;
    for (int block = 0; block < 64; ++block)
        out.render(rig.engine);
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
    EXPECT_TRUE(rig.engine.session().sessionMode());
}

TEST(SessionRealTime, TailsAndQuantisedHandoversAllocateNothing) {
    SessionRig rig;
    const auto first = rig.sessionClip(0, 3000, 0.5f);
    const auto second = rig.sessionClip(1, 90000, 0.25f);
    rig.edit([&](Project &project) {
        rig.track->inserts = {stockInsert("stock.delay"), stockInsert("stock.reverb")};
        rig.track->oneClipAtATime = true;
        project.session.launchQuantize = LaunchQuantize::OneBeat;
    });
    send(rig.engine, RequestType::play);
    send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(first->id));
    StereoOutput out(512);
    out.render(rig.engine);
    AllocationScope scope;
    for (int block = 0; block < 120; ++block) {
        if (block == 50)
            send(rig.engine, RequestType::launchSessionClip, static_cast<int64_t>(second->id));
        if (block == 80)
            send(rig.engine, RequestType::launchScene, static_cast<int64_t>(rig.sceneId(0)));
        out.render(rig.engine);
    }
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
    EXPECT_TRUE(rig.engine.session().sessionMode());
}

} // namespace
} // namespace orvane::testing

// Each command that creates objects, followed by an edit of what it created: undoing both and
// redoing both must bring the edit back, which needs the object back under its first id.
#include "core/commands/AudioProcessingCommands.h"
#include "core/commands/AutomationCommands.h"
#include "core/commands/ClipSettingCommands.h"
#include "core/commands/CommandStack.h"
#include "core/commands/SessionCommands.h"
#include "core/music/tests/AudioSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace orvane::testing {
namespace {

/// An audio track with a clip of clicks in the arrangement and the same clicks in the first
/// session cell, a MIDI track, two scenes.
struct CreationProject {
    Project project;
    uint64_t audioTrack = 0;
    uint64_t midiTrack = 0;
    uint64_t arrangementClip = 0;
    uint64_t sessionClip = 0;
    SharedSamples clicks;

    CreationProject() {
        project.sampleRate = 48000.0;
        project.session.cols = 2;
        for (int row = 0; row < 2; ++row) {
            Scene scene;
            scene.id = project.nextSceneId++;
            scene.name = "S" + std::to_string(row);
            scene.clips.assign(2, 0);
            project.session.scenes.push_back(scene);
        }
        audioTrack = project.addTrack(TrackType::Audio, "Loops")->id;
        midiTrack = project.addTrack(TrackType::Midi, "Keys")->id;
        clicks = std::make_shared<const std::vector<float>>(clickTrack(600.0, 0.5, 48000.0, 2));
        arrangementClip = addClicks(-1)->id;
        const auto session = addClicks(0);
        session->sessionCol = 0;
        sessionClip = session->id;
        project.session.scenes[0].clips[0] = sessionClip;
    }

    std::shared_ptr<Clip> addClicks(int32_t row) {
        const auto clip = project.addClip(audioTrack, ClipKind::Audio);
        clip->audio = clicks;
        clip->channels = 2;
        clip->length = clip->audioFrameCount();
        clip->sessionRow = row;
        return clip;
    }
};

enum class Created { Scene, Clip, AutomationClip };

struct CreatorRow {
    const char *name;
    Created created;
    std::function<std::unique_ptr<Command>(const CreationProject &)> make;
};

SharedSamples rendered(int64_t frames) {
    return std::make_shared<const std::vector<float>>(static_cast<std::size_t>(frames * 2), 0.25f);
}

std::vector<CreatorRow> creatorRows() {
    return {
        {"InsertScene", Created::Scene,
         [](const auto &p) {
             return std::make_unique<InsertSceneCommand>(p.project.session.scenes[0].id);
         }},
        {"DuplicateScene", Created::Scene,
         [](const auto &p) {
             return std::make_unique<DuplicateSceneCommand>(p.project.session.scenes[0].id);
         }},
        {"DuplicateSessionClip", Created::Clip,
         [](const auto &p) {
             return std::make_unique<DuplicateSessionClipCommand>(p.sessionClip);
         }},
        {"InsertSessionPlayerClip", Created::Clip,
         [](const auto &p) {
             return std::make_unique<InsertSessionPlayerClipCommand>(
                 p.midiTrack, 1, 1, SessionPlayerSettings{SessionPlayerKind::DrumsFourFour, 96000});
         }},
        {"CaptureSessionToArrange", Created::Clip,
         [](const auto &p) {
             auto copy = std::make_shared<Clip>(*p.project.findClip(p.sessionClip));
             copy->sessionRow = copy->sessionCol = -1;
             copy->arrangeStart = 96000;
             return CaptureSessionToArrangeCommand::fromCopies({copy});
         }},
        {"AddAutomationClip", Created::AutomationClip,
         [](const auto &p) {
             return std::make_unique<AddAutomationClipCommand>(p.audioTrack, 0, 1000, 4000);
         }},
        {"SplitAudioStems", Created::Clip,
         [](const auto &p) { return std::make_unique<SplitAudioStemsCommand>(p.arrangementClip); }},
        {"SliceAudioAtTransients", Created::Clip,
         [](const auto &p) {
             return std::make_unique<SliceAudioAtTransientsCommand>(p.arrangementClip);
         }},
        {"BounceTrackInPlace", Created::Clip,
         [](const auto &p) {
             return std::make_unique<BounceTrackInPlaceCommand>(p.audioTrack, 0, 4800,
                                                                rendered(4800));
         }},
        {"FreezeTrackInPlace", Created::Clip,
         [](const auto &p) {
             return std::make_unique<FreezeTrackInPlaceCommand>(p.audioTrack, 0, 4800,
                                                                rendered(4800));
         }},
        {"CaptureFlashback", Created::Clip,
         [](const auto &p) {
             return std::make_unique<CaptureFlashbackCommand>(p.midiTrack, 0, 4800, rendered(4800));
         }},
    };
}

/// The newest object of the kind, which the creating command has just made.
uint64_t newestId(const Project &project, Created created) {
    return created == Created::Scene ? project.nextSceneId - 1 : project.nextClipId - 1;
}

std::unique_ptr<Command> editOf(const Project &project, Created created, uint64_t id) {
    switch (created) {
    case Created::Scene: return std::make_unique<RenameSceneCommand>(id, "Edited");
    case Created::Clip: return std::make_unique<SetClipGainCommand>(id, 0.25f);
    case Created::AutomationClip: break;
    }
    for (const auto &track : project.tracks)
        for (const auto &clip : track->automationClips)
            if (clip.id == id)
                return std::make_unique<SetAutomationPointCommand>(track->id, clip.lane,
                                                                   clip.start + 7, 0.125f);
    return nullptr;
}

bool editIsThere(const Project &project, Created created, uint64_t id) {
    if (created == Created::Scene)
        return std::ranges::any_of(project.session.scenes, [id](const Scene &scene) {
            return scene.id == id && scene.name == "Edited";
        });
    if (created == Created::Clip) {
        const auto clip = project.findClip(id);
        return clip && clip->gain == 0.25f;
    }
    for (const auto &track : project.tracks)
        for (const auto &clip : track->automationClips)
            if (clip.id == id)
                return std::ranges::any_of(clip.points, [](const AutomationPoint &point) {
                    return point.t == 7 && point.v == 0.125f;
                });
    return false;
}

TEST(CreatedObjects, AnEditOfWhatACommandCreatedSurvivesUndoAndRedoOfBoth) {
    for (const auto &row : creatorRows()) {
        SCOPED_TRACE(row.name);
        CreationProject setup;
        Project &project = setup.project;
        CommandStack stack;
        const Project before = project;
        stack.execute(project, row.make(setup));
        const uint64_t id = newestId(project, row.created);
        ASSERT_GT(id, newestId(before, row.created)) << "nothing was created";
        auto edit = editOf(project, row.created, id);
        ASSERT_TRUE(edit);
        stack.execute(project, std::move(edit));
        ASSERT_TRUE(editIsThere(project, row.created, id));

        stack.undo(project);
        stack.undo(project);
        EXPECT_FALSE(editIsThere(project, row.created, id));
        stack.redo(project);
        stack.redo(project);
        EXPECT_TRUE(editIsThere(project, row.created, id));
    }
}

} // namespace
} // namespace orvane::testing

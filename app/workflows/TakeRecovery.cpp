#include "app/workflows/TakeRecovery.h"

#include "core/audiofile/AudioFile.h"
#include "core/model/MusicalTime.h"
#include "core/model/Translate.h"
#include "device/TakeJournal.h"

#include <algorithm>
#include <filesystem>

namespace orvane {

namespace fs = std::filesystem;

namespace {

constexpr int32_t stereo = 2;
/// The short fades a recorded take gets, as a take kept in the ordinary way.
constexpr double recordedFadeBeats = 0.05;

/// Frames [first, first + count) of interleaved stereo samples.
std::shared_ptr<const std::vector<float>> framesOf(const std::vector<float> &samples, int64_t first,
                                                   int64_t count) {
    const auto begin = samples.begin() + static_cast<std::ptrdiff_t>(first * stereo);
    return std::make_shared<const std::vector<float>>(
        begin, begin + static_cast<std::ptrdiff_t>(count * stereo));
}

/// The take as the ordinary end of a recording would place it: what was heard before the
/// timeline's start is cut, and only what lies inside a punch range is kept. False when
/// nothing is left.
bool placeTake(const TakeJournal &journal, const DecodedAudio &audio, RecoveredTake &take) {
    if (!audio.samples || audio.frames < 1) return false;
    // Where the file's first frame was heard on the timeline.
    const int64_t heardAt = journal.captureStart - journal.latencyFrames;
    int64_t first = std::max<int64_t>(-heardAt, 0), end = audio.frames;
    if (journal.punchEnabled) {
        first = std::max(first, journal.punchIn - heardAt);
        end = std::min(end, journal.punchOut - heardAt);
    }
    if (end <= first) return false;
    take.start = heardAt + first;
    take.frames = end - first;
    take.samples = SharedSamples(framesOf(*audio.samples, first, take.frames));
    return true;
}

} // namespace

InterruptedTakes readInterruptedTakes(const std::string &projectFolder, double sampleRate) {
    InterruptedTakes found;
    for (const std::string &path : interruptedTakeJournals(projectFolder)) {
        std::string error;
        const auto journal = readTakeJournal(path, error);
        if (!journal) {
            found.problems.push_back(error);
            continue;
        }
        bool whole = true;
        for (const JournalTake &entry : journal->takes) {
            const std::string file = (fs::path(path).parent_path() / entry.file).string();
            DecodedAudio audio;
            std::string reason;
            if (!readMediaFile(file, sampleRate, audio, &reason)) {
                // A file the writer had only begun holds no frames yet: nothing to offer.
                std::error_code fault;
                if (fs::exists(file, fault) && fs::file_size(file, fault) > 44) {
                    found.problems.push_back(file + ": " + reason);
                    whole = false;
                }
                continue;
            }
            RecoveredTake take;
            take.trackId = entry.trackId;
            if (placeTake(*journal, audio, take)) found.takes.push_back(std::move(take));
        }
        // A journal with a file that did not read stays, with that file, for another try.
        if (whole) found.journals.push_back(path);
    }
    return found;
}

void forgetInterruptedTakes(const std::vector<std::string> &journals) {
    for (const std::string &journal : journals)
        removeTakeJournal(journal);
}

RecoverTakesCommand::RecoverTakesCommand(std::vector<RecoveredTake> recovered)
    : takes(std::move(recovered)) {}

std::string RecoverTakesCommand::name() const { return "Recover Takes"; }

void RecoverTakesCommand::redo(Project &project) {
    placedClips.clear();
    madeTracks.clear();
    previousActive.clear();
    for (const RecoveredTake &take : takes) {
        if (!take.samples || take.frames < 1) continue;
        auto track = project.findTrack(take.trackId);
        if (!track || track->type != TrackType::Audio) {
            track = project.addTrack(TrackType::Audio, translate("TakeRecovery", "Recovered take"));
            madeTracks.push_back(track->id);
        }
        const int64_t start = std::max<int64_t>(take.start - project.inputLatencyOffsetSamples, 0);
        int32_t lane = -1;
        for (const auto &clip : track->clips)
            if (clip && !clip->isSessionClip() && clip->kind == ClipKind::Audio &&
                clip->arrangeStart == start) {
                lane = std::max(lane, clip->takeLane);
                previousActive.emplace_back(clip->id, clip->takeActive);
                clip->takeActive = false;
            }
        const auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->name = translate("TakeRecovery", "Recovered take");
        clip->audio = take.samples;
        clip->channels = stereo;
        clip->length = take.frames;
        clip->arrangeStart = start;
        clip->takeLane = lane + 1;
        clip->takeActive = true;
        const int64_t fade = musicalBeatsToSamples(recordedFadeBeats, project.sampleRate,
                                                   project.tempoMarkers, project.tempoBpm);
        clip->fadeIn = clip->fadeOut = std::min(fade, take.frames / 20);
        project.lengthSamples = std::max(project.lengthSamples, start + take.frames);
        placedClips.emplace_back(track->id, clip->id);
    }
}

void RecoverTakesCommand::undo(Project &project) {
    for (const auto &[trackId, clipId] : placedClips)
        project.removeClip(clipId);
    for (const auto &[clipId, active] : previousActive)
        if (const auto clip = project.findClip(clipId)) clip->takeActive = active;
    for (const uint64_t trackId : madeTracks)
        project.removeTrack(trackId);
    placedClips.clear();
    madeTracks.clear();
    previousActive.clear();
}

} // namespace orvane

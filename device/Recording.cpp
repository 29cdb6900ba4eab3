#include "device/Recording.h"

#include "core/model/Translate.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <string>

namespace orvane {

namespace {

constexpr int32_t stereo = 2;
/// A cycle's leftover shorter than this is a few frames past the last pass, not a take.
constexpr double shortestTakeBeats = 0.25;
constexpr double recordedFadeBeats = 0.05;

std::shared_ptr<const std::vector<float>> shareSamples(std::vector<float> samples) {
    return std::make_shared<const std::vector<float>>(std::move(samples));
}

bool isAudioTrack(const std::shared_ptr<Track> &track) {
    return track && track->type == TrackType::Audio;
}

/// Where a take recorded from `start` lands: the user's own input offset is taken off.
int64_t placedStart(const Project &project, int64_t start) {
    return std::max<int64_t>(start - project.inputLatencyOffsetSamples, 0);
}

int64_t recordedFade(Engine &engine, int64_t length) {
    return std::min(engine.beatsToSamples(recordedFadeBeats), length / 20);
}

/// 1 + the highest take lane among the track's arrangement clips of `kind` starting at
/// `start`, or 0 when none does.
int32_t nextTakeLane(const Track &track, int64_t start, ClipKind kind) {
    int32_t lane = -1;
    for (const auto &clip : track.clips)
        if (clip && !clip->isSessionClip() && clip->kind == kind && clip->arrangeStart == start)
            lane = std::max(lane, clip->takeLane);
    return lane + 1;
}

std::shared_ptr<Track> recordingTrack(Project &project, uint64_t targetTrackId) {
    if (auto track = project.findTrack(targetTrackId); isAudioTrack(track)) return track;
    // Numbers the tracks recording makes, for the life of the process.
    static uint64_t recTake = 1;
    return project.addTrack(TrackType::Audio, withArguments(translate("Recording", "Take %1"),
                                                            {std::to_string(recTake++)}));
}

/// Mixes the take into a session clip at the loop position where recording began; the clip
/// grows rather than wrapping the take around its loop.
RecordingOutcome overdubSessionClip(Engine &engine, Clip &clip, const CapturedTake &take) {
    const int64_t frames = take.frames();
    const int64_t loopFrames =
        clip.loopLength >= 1 ? clip.loopLength : std::max(clip.length, frames);
    const int32_t channels = std::max(clip.channels, 1);
    const int64_t loopStart = engine.transport.loopStart.load();
    const int64_t offset = (take.start >= loopStart ? take.start - loopStart : 0) % loopFrames;
    std::vector<float> mixed = clip.audio ? clip.audio->toVector() : std::vector<float>();
    if (!clip.audio) mixed.assign(static_cast<std::size_t>(loopFrames) * channels, 0.0f);
    const auto needed = static_cast<std::size_t>(offset + frames) * channels;
    if (mixed.size() < needed) mixed.resize(needed, 0.0f);
    for (int64_t frame = 0; frame < frames; ++frame)
        for (int32_t channel = 0; channel < channels; ++channel) {
            float &target = mixed[static_cast<std::size_t>((offset + frame) * channels + channel)];
            const float added = take.samples[static_cast<std::size_t>(
                frame * stereo + std::min(channel, stereo - 1))];
            target = std::clamp(target + added, -1.0f, 1.0f);
        }
    clip.audio = shareSamples(std::move(mixed));
    clip.length = std::max({clip.length, offset + frames, loopFrames});
    if (clip.loopLength < 1) clip.loopLength = loopFrames;
    engine.publishGraph();
    return {clip.trackId, clip.id, frames};
}

RecordingOutcome recordLiveLoop(Engine &engine, CapturedTake take, int32_t row, int32_t column) {
    Project &project = engine.project;
    const auto index = static_cast<std::size_t>(column);
    if (index >= project.tracks.size() || !isAudioTrack(project.tracks[index])) return {};
    const auto track = project.tracks[index];
    for (const auto &other : project.tracks)
        if (other)
            std::erase_if(other->clips, [&](const auto &clip) {
                return clip && clip->sessionRow == row && clip->sessionCol == column;
            });
    const int64_t bar = std::max<int64_t>(engine.barLengthSamples(), 1);
    const int64_t bars = std::max<int64_t>((take.frames() + bar - 1) / bar, 1);
    const int64_t length = bars * bar;
    take.samples.resize(static_cast<std::size_t>(length) * stereo, 0.0f);
    const auto clip = project.addClip(track->id, ClipKind::Audio);
    clip->name = "Loop R" + std::to_string(row) + "C" + std::to_string(column);
    clip->sessionRow = row;
    clip->sessionCol = column;
    clip->loop = true;
    finalizeSessionAudioClip(*clip, engine, std::move(take.samples));
    engine.publishGraph();
    return {track->id, clip->id, length};
}

/// Keeps the frames inside the punch range; false when none are.
bool applyPunch(const Project &project, CapturedTake &take) {
    if (!project.punchEnabled || project.punchOut <= project.punchIn) return true;
    const int64_t keepStart = std::max<int64_t>(project.punchIn - take.start, 0);
    const int64_t keepEnd = std::min<int64_t>(project.punchOut - take.start, take.frames());
    if (keepEnd <= keepStart) return false;
    take.samples = extractPcmFrames(take.samples, stereo, keepStart, keepEnd - keepStart);
    take.start += keepStart;
    return true;
}

/// The name of the take a cycle pass leaves on `lane`.
std::string passTakeName(const Track &track, int32_t lane) {
    return withArguments(translate("Recording", "%1 Take %2"),
                         {track.name, std::to_string(lane + 1)});
}

/// A MIDI take clip on `lane` at `start`, at least `minimumLength` long and long enough for
/// its notes; the project grows to its end.
std::shared_ptr<Clip> addMidiTakeClip(Engine &engine, const Track &track, std::string name,
                                      int32_t lane, int64_t start, int64_t minimumLength,
                                      std::vector<MidiNote> notes) {
    const auto clip = engine.project.addClip(track.id, ClipKind::Midi);
    clip->name = std::move(name);
    clip->arrangeStart = start;
    clip->takeLane = lane;
    clip->length = minimumLength;
    for (const MidiNote &note : notes)
        clip->length = std::max(clip->length, note.start + note.length);
    clip->notes = std::move(notes);
    Project &project = engine.project;
    project.lengthSamples = std::max(project.lengthSamples, clip->arrangeStart + clip->length);
    return clip;
}

std::shared_ptr<Clip> addTakeClip(Engine &engine, Track &track, std::string name, int32_t lane,
                                  std::vector<float> samples, int64_t start) {
    const auto clip = engine.project.addClip(track.id, ClipKind::Audio);
    clip->name = std::move(name);
    clip->takeLane = lane;
    clip->takeActive = true;
    finalizeAudioClip(*clip, engine, std::move(samples), start);
    return clip;
}

/// One take per full pass of the cycle, and the rest as a last take when it is long enough.
std::shared_ptr<Clip> addCycleTakes(Engine &engine, Track &track, const CapturedTake &take,
                                    int64_t loopStart, int64_t cycle) {
    const int64_t frames = take.frames();
    // Frames before the first whole pass are dropped: those recorded before the cycle, and
    // the rest of a pass that recording joined part-way.
    const int64_t lead = loopStart > take.start
                             ? std::min(loopStart - take.start, frames)
                             : (cycle - (take.start - loopStart) % cycle) % cycle;
    const int32_t firstLane =
        nextTakeLane(track, placedStart(engine.project, loopStart), ClipKind::Audio);
    std::shared_ptr<Clip> last;
    int32_t lane = firstLane;
    int64_t at = lead;
    for (; at + cycle <= frames; at += cycle, ++lane)
        last = addTakeClip(engine, track, passTakeName(track, lane), lane,
                           extractPcmFrames(take.samples, stereo, at, cycle), loopStart);
    if (frames - at > engine.beatsToSamples(shortestTakeBeats))
        last = addTakeClip(engine, track, passTakeName(track, lane), lane,
                           extractPcmFrames(take.samples, stereo, at, frames - at), loopStart);
    return last;
}

} // namespace

std::vector<float> extractPcmFrames(const std::vector<float> &samples, int32_t channels,
                                    int64_t firstFrame, int64_t frameCount) {
    const int64_t stride = std::max(channels, 1);
    const int64_t available = static_cast<int64_t>(samples.size()) / stride;
    const int64_t begin = std::clamp<int64_t>(firstFrame, 0, available);
    const int64_t end =
        std::clamp<int64_t>(begin + std::max<int64_t>(frameCount, 0), begin, available);
    return {samples.begin() + begin * stride, samples.begin() + end * stride};
}

std::vector<float> convertCaptureRate(const std::vector<float> &samples, int32_t channels,
                                      double fromRate, double toRate) {
    const int64_t stride = std::max(channels, 1);
    const int64_t frames = static_cast<int64_t>(samples.size()) / stride;
    if (!(fromRate > 0.0) || !(toRate > 0.0) || std::abs(fromRate - toRate) < 1.0 || frames < 1)
        return samples;
    const auto outFrames = static_cast<int64_t>(std::llround(toRate * frames / fromRate));
    std::vector<float> out(static_cast<std::size_t>(outFrames * stride));
    for (int64_t frame = 0; frame < outFrames; ++frame) {
        const double position = fromRate * static_cast<double>(frame) / toRate;
        const auto k = std::min(static_cast<int64_t>(position), frames - 1);
        const int64_t next = std::min(k + 1, frames - 1);
        const double fraction = position - static_cast<double>(k);
        for (int64_t channel = 0; channel < stride; ++channel) {
            const double a = samples[static_cast<std::size_t>(k * stride + channel)];
            const double b = samples[static_cast<std::size_t>(next * stride + channel)];
            out[static_cast<std::size_t>(frame * stride + channel)] =
                static_cast<float>(a + (b - a) * fraction);
        }
    }
    return out;
}

std::vector<float> widenToStereo(std::vector<float> samples, int32_t channels) {
    if (channels >= stereo) return samples;
    std::vector<float> wide(samples.size() * stereo);
    for (std::size_t i = 0; i < samples.size(); ++i)
        wide[2 * i] = wide[2 * i + 1] = samples[i];
    return wide;
}

void finalizeSessionAudioClip(Clip &clip, Engine &engine, std::vector<float> samples) {
    clip.channels = stereo;
    clip.length = static_cast<int64_t>(samples.size() / stereo);
    clip.audio = shareSamples(std::move(samples));
    clip.fadeIn = clip.fadeOut = recordedFade(engine, clip.length);
}

void finalizeAudioClip(Clip &clip, Engine &engine, std::vector<float> samples, int64_t start) {
    finalizeSessionAudioClip(clip, engine, std::move(samples));
    // The recording stays where it was played: moving it onto the grid would put every
    // recorded note off the beat it was played on.
    Project &project = engine.project;
    clip.arrangeStart = placedStart(project, start);
    project.lengthSamples = std::max(project.lengthSamples, clip.arrangeStart + clip.length);
}

void activateTakeOnTrack(const std::vector<std::shared_ptr<Clip>> &clips, const Clip &take) {
    for (const auto &clip : clips)
        if (clip && !clip->isSessionClip() && clip->arrangeStart == take.arrangeStart &&
            clip->kind == take.kind)
            clip->takeActive = clip->id == take.id;
}

RecordingOutcome placeRecordedTake(Engine &engine, CapturedTake take,
                                   const RecordingDestination &destination) {
    if (take.frames() < 1) return {};
    std::lock_guard lock(engine.projectMutex);
    Project &project = engine.project;
    if (destination.overdubClipId != 0) {
        const auto clip = project.findClip(destination.overdubClipId);
        if (clip && clip->kind == ClipKind::Audio && clip->isSessionClip())
            return overdubSessionClip(engine, *clip, take);
    }
    // The punch range holds for live-loop takes too: what was played outside it stays out.
    if (!applyPunch(project, take)) return {};
    if (destination.sessionRow >= 0 && destination.sessionColumn >= 0)
        return recordLiveLoop(engine, std::move(take), destination.sessionRow,
                              destination.sessionColumn);
    const auto track = recordingTrack(project, destination.targetTrackId);
    const int64_t loopStart = engine.transport.loopStart.load();
    const int64_t cycle = engine.transport.loopEnd.load() - loopStart;
    const int64_t frames = take.frames();
    std::shared_ptr<Clip> last;
    if (engine.transport.loopEnabled.load() && cycle >= 1 && frames > cycle) {
        last = addCycleTakes(engine, *track, take, loopStart, cycle);
    } else {
        const int32_t lane =
            nextTakeLane(*track, placedStart(project, take.start), ClipKind::Audio);
        last = addTakeClip(engine, *track, track->name, lane, std::move(take.samples), take.start);
    }
    if (last) activateTakeOnTrack(track->clips, *last);
    engine.publishGraph();
    return {track->id, last ? last->id : 0, frames};
}

void alignRecordedNotes(std::vector<MidiNote> &notes, int64_t latencyFrames) {
    if (latencyFrames <= 0) return;
    std::erase_if(notes, [latencyFrames](const MidiNote &note) {
        return note.start + note.length <= latencyFrames;
    });
    for (MidiNote &note : notes) {
        const int64_t end = note.start + note.length - latencyFrames;
        note.start = std::max<int64_t>(note.start - latencyFrames, 0);
        note.length = end - note.start;
    }
}

std::optional<RecordingOutcome> placeCyclePassNotes(Engine &engine, uint64_t trackId,
                                                    const std::vector<MidiNote> &notes,
                                                    int64_t start, int64_t takeFrames) {
    const int64_t loopStart = engine.transport.loopStart.load();
    const int64_t cycle = engine.transport.loopEnd.load() - loopStart;
    if (!engine.transport.loopEnabled.load() || cycle < 1 || takeFrames <= cycle)
        return std::nullopt;
    // Pass k holds the notes that began in [loopStart + k·cycle, loopStart + (k + 1)·cycle)
    // on the unrolled clock, each timed from its pass's start.
    std::map<int64_t, std::vector<MidiNote>> passes;
    for (const MidiNote &note : notes) {
        const int64_t intoCycle = start + note.start - loopStart;
        if (intoCycle < 0) continue;
        MidiNote placed = note;
        placed.start = intoCycle % cycle;
        passes[intoCycle / cycle].push_back(placed);
    }
    std::lock_guard lock(engine.projectMutex);
    const auto track = engine.project.findTrack(trackId);
    if (!track || track->type != TrackType::Midi) return RecordingOutcome{};
    const int32_t firstLane = nextTakeLane(*track, loopStart, ClipKind::Midi);
    std::shared_ptr<Clip> last;
    int32_t lane = firstLane;
    for (auto &[pass, passNotes] : passes) {
        last = addMidiTakeClip(engine, *track, passTakeName(*track, lane), lane, loopStart, cycle,
                               std::move(passNotes));
        ++lane;
    }
    if (!last) return RecordingOutcome{};
    activateTakeOnTrack(track->clips, *last);
    engine.publishGraph();
    return RecordingOutcome{trackId, last->id, takeFrames};
}

RecordingOutcome placeRecordedNotes(Engine &engine, uint64_t trackId, std::vector<MidiNote> notes,
                                    int64_t start, int64_t length) {
    if (notes.empty()) return {};
    std::lock_guard lock(engine.projectMutex);
    const auto track = engine.project.findTrack(trackId);
    if (!track || track->type != TrackType::Midi) return {};
    const int64_t placed = std::max<int64_t>(start, 0);
    const int32_t lane = nextTakeLane(*track, placed, ClipKind::Midi);
    const auto clip = addMidiTakeClip(engine, *track, track->name, lane, placed,
                                      std::max<int64_t>(length, 0), std::move(notes));
    activateTakeOnTrack(track->clips, *clip);
    engine.publishGraph();
    return {trackId, clip->id, clip->length};
}

} // namespace orvane

#include "core/engine/SessionPlayer.h"

#include "core/engine/ClipVoices.h"
#include "core/engine/Engine.h"
#include "core/engine/InstrumentVoices.h"
#include "core/engine/RenderContext.h"
#include "core/model/MusicalTime.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <thread>

namespace orvane {

// The clip launcher on the audio thread. Each block runs in three steps:
// 1. the table is scheduled: every active entry learns where in the block it starts, where it
//    stops and from which clip time, whether or not its track is heard, so that a muted
//    track's clips keep time with the rest of their scene;
// 2. the tracks render through the same chain as the arrangement, each taking its signal from
//    the entries of its own clips;
// 3. clips that ended in the block run their follow actions, then the scene rows they left
//    idle run theirs. Everything launched there is quantised from the start of the block, the
//    playhead, as a launch during the block would be. A scene whose launch point the block
//    already passed starts on the next block's first frame, its clips as far in as if they
//    had begun on that point: a clip ending on a bar line hands over there, and a scene that
//    follows on stays on the bars even when a bar line falls inside a block.
// A quantised launch leaves what plays sounding until its launch point and replaces it there,
// to the sample.

namespace {

struct FoundClip {
    const Clip *clip = nullptr;
    std::size_t trackIndex = 0;
    std::size_t clipIndex = 0;
};

FoundClip findClipRt(const GraphSnapshot &snapshot, uint64_t clipId) {
    if (clipId == 0) return {};
    if (!snapshot.clipPlaces.empty()) {
        const auto place = std::lower_bound(
            snapshot.clipPlaces.begin(), snapshot.clipPlaces.end(), clipId,
            [](const GraphSnapshot::ClipPlace &each, uint64_t id) { return each.clipId < id; });
        if (place == snapshot.clipPlaces.end() || place->clipId != clipId) return {};
        return {snapshot.tracks[place->trackIndex]->clips[place->clipIndex].get(),
                place->trackIndex, place->clipIndex};
    }
    for (std::size_t index = 0; index < snapshot.tracks.size(); ++index) {
        const auto &clips = snapshot.tracks[index]->clips;
        for (std::size_t c = 0; c < clips.size(); ++c)
            if (clips[c] && clips[c]->id == clipId) return {clips[c].get(), index, c};
    }
    return {};
}

/// The session clip in the cell below, searched across the tracks in order.
const Clip *clipBelowRt(const GraphSnapshot &snapshot, const Clip &clip) {
    for (const auto &track : snapshot.tracks)
        for (const auto &candidate : track->clips)
            if (candidate && candidate->sessionRow == clip.sessionRow + 1 &&
                candidate->sessionCol == clip.sessionCol)
                return candidate.get();
    return nullptr;
}

bool isActive(const ActiveSessionClip &entry) { return entry.playing || entry.queued; }

bool sessionClipLoops(const Clip &clip) {
    return clip.loop && clip.loopLength > 0 && clip.launchMode != SessionLaunchMode::PlayOnce;
}

/// A looping clip repeats its loop; any other clip plays its length, or one 4/4 bar from the
/// song start when it has none.
int64_t sessionClipPeriod(const GraphSnapshot &snapshot, const Clip &clip) {
    if (sessionClipLoops(clip)) return clip.loopLength;
    if (clip.length >= 1) return clip.length;
    return std::max<int64_t>(Engine::beatsToSamplesRt(snapshot, 4.0), 1);
}

bool isQuantised(LaunchQuantize quantize) {
    return quantize == LaunchQuantize::OneBeat || quantize == LaunchQuantize::OneBar ||
           quantize == LaunchQuantize::EightBars;
}

int64_t launchPointRt(const GraphSnapshot &snapshot, int64_t now, LaunchQuantize quantize) {
    return quantizeLaunchPosition(now, quantize, Engine::beatsToSamplesRt(snapshot, 1.0),
                                  Engine::barLengthSamplesRt(snapshot, now));
}

ActiveSessionClip launchedEntry(uint64_t clipId, int64_t at, int64_t now) {
    const bool queued = at > now;
    return ActiveSessionClip{clipId, 0, !queued, queued, queued ? at : 0, -1};
}

/// Ends an entry's place in the table; its slot is free for the next launch.
void clearEntry(ActiveSessionClip &entry) { entry = ActiveSessionClip{}; }

/// The note index the publication prepared for a MIDI clip, or null.
const MidiClipIndex *noteIndexOf(const GraphSnapshot &snapshot, const SessionEntryBlock &block) {
    if (block.trackIndex >= snapshot.midiIndexes.size()) return nullptr;
    const auto &indexes = snapshot.midiIndexes[block.trackIndex];
    if (block.clipIndex >= indexes.size()) return nullptr;
    const MidiClipIndex &index = indexes[block.clipIndex];
    return index.level.size() == block.clip->notes.size() ? &index : nullptr;
}

/// Adds one stretch of a session clip without a loop point inside it: `count` frames from
/// clip time `t` on. Notes sound with the voice the publication prepared for them.
void addSessionClipFrames(const GraphSnapshot &snapshot, const SessionEntryBlock &block,
                          const ClipWarpTable &warp, int64_t t, int64_t count, float *left,
                          float *right) {
    const Clip &clip = *block.clip;
    const ClipLevel level{clip.gain, clip.gainEnvelope.size() >= 2 ? &clip.gainEnvelope : nullptr};
    if (clip.kind == ClipKind::Audio) {
        const int64_t sounding = std::clamp<int64_t>(audioClipSpan(clip) - t, 0, count);
        addAudioClipFrames(clip, warp, t, sounding, left, right, level);
        return;
    }
    const MidiClipIndex *index = noteIndexOf(snapshot, block);
    if (!index) return;
    const double rate = snapshot.sampleRate > 0.0 ? snapshot.sampleRate : 48000.0;
    for (std::size_t i = 0; i < clip.notes.size(); ++i) {
        const MidiNote &note = clip.notes[i];
        const int64_t begin = std::max(t, note.start);
        const int64_t end = std::min(t + count, saturatingAdd(note.start, note.length));
        if (begin >= end || index->level[i] == 0.0f) continue;
        const double step = index->frequency[i] / rate;
        const auto at = static_cast<std::size_t>(begin - t);
        if (!level.envelope) {
            addNoteFrames(clip.gain * index->level[i], begin - note.start, step, left + at,
                          right + at, end - begin);
            continue;
        }
        for (int64_t p = begin; p < end; ++p) {
            const float value = level.at(p) * index->level[i] *
                                sineAtPhase(static_cast<double>(p - note.start) * step);
            left[at + static_cast<std::size_t>(p - begin)] += value;
            right[at + static_cast<std::size_t>(p - begin)] += value;
        }
    }
}

/// The session's source for the shared track chain: every entry scheduled on the track.
class SessionSource final : public TrackSource {
  public:
    explicit SessionSource(std::span<const SessionEntryBlock> blocks) : blocks(blocks) {}

    void produceRt(const RenderContext &context, std::size_t trackIndex, float *left,
                   float *right) override {
        // A track with an instrument plays its clips' notes and the keys through it.
        if (InstrumentState *instrument = instrumentOfRt(context, trackIndex)) {
            playSessionInstrumentRt(context, trackIndex, *instrument, blocks, left, right);
            return;
        }
        for (const SessionEntryBlock &block : blocks)
            if (block.clip && block.trackIndex == trackIndex && block.endFrame > block.firstFrame)
                addEntry(context.snapshot, block, left, right);
        const Track &track = *context.snapshot.tracks[trackIndex];
        // Live keys keep sounding on an armed instrument track while the session plays.
        if (liveKeysPlayOn(context.liveMidi, track))
            addLiveInputRt(context.snapshot, *context.liveMidi, track, left, right, context.frames,
                           context.position);
    }

  private:
    static void addEntry(const GraphSnapshot &snapshot, const SessionEntryBlock &block, float *left,
                         float *right) {
        const Clip &clip = *block.clip;
        const ClipWarpTable warp =
            clip.kind == ClipKind::Audio ? buildClipWarpTable(clip) : ClipWarpTable{};
        int64_t frame = block.firstFrame;
        int64_t t = block.startOffset;
        while (frame < block.endFrame) {
            const int64_t count = block.loops ? std::min(block.endFrame - frame, block.period - t)
                                              : block.endFrame - frame;
            const auto index = static_cast<std::size_t>(frame);
            addSessionClipFrames(snapshot, block, warp, t, count, left + index, right + index);
            frame += count;
            t += count;
            if (block.loops && t >= block.period) t = 0;
        }
    }

    std::span<const SessionEntryBlock> blocks;
};

} // namespace

void followTempoMapRt(const GraphSnapshot &snapshot, int64_t position, std::atomic<double> &tempo) {
    const double inForce =
        usableBpm(tempoAtPosition(position, snapshot.sortedTempoMarkers, snapshot.tempoBpm));
    if (std::abs(inForce - tempo.load()) > 0.01) tempo.store(inForce);
}

void SessionPlayer::postNotificationRt(NotificationKind kind, uint64_t id, float value) {
    // A full ring drops the notification; the user interface catches up from the state.
    (void)notifications.push(Notification{kind, id, value});
}

// --- Launching ---------------------------------------------------------------------------

void SessionPlayer::launchSceneRt(const GraphSnapshot &snapshot, uint64_t sceneId, int64_t now) {
    sessionModeOn.store(true);
    startSceneRt(snapshot, sceneId, now);
}

void SessionPlayer::launchClipRt(const GraphSnapshot &snapshot, uint64_t clipId, int64_t now) {
    sessionModeOn.store(true);
    const FoundClip found = findClipRt(snapshot, clipId);
    const auto entries =
        std::span(activeSessionClips.data(), static_cast<std::size_t>(activeCount));
    const auto ofClip = [clipId](const ActiveSessionClip &e) { return e.clipId == clipId; };
    const bool running = std::any_of(entries.begin(), entries.end(),
                                     [&](const auto &e) { return ofClip(e) && isActive(e); });
    if (found.clip && found.clip->launchMode == SessionLaunchMode::Toggle && running) {
        releaseClipRt(clipId);
        postNotificationRt(NotificationKind::sessionClipEnded, clipId, 0.0f);
        return;
    }
    const auto playing = std::find_if(entries.begin(), entries.end(),
                                      [&](const auto &e) { return ofClip(e) && e.playing; });
    // A legato relaunch carries on from where the clip is: it simply keeps playing.
    if (!(found.clip && found.clip->legatoLaunch && playing != entries.end())) {
        LaunchQuantize quantize = snapshot.launchQuantize;
        if (found.clip && found.clip->launchQuantize != LaunchQuantize::Immediate)
            quantize = found.clip->launchQuantize;
        const int64_t at = launchPointRt(snapshot, now, quantize);
        if (found.clip && snapshot.tracks[found.trackIndex]->oneClipAtATime)
            replaceTrackEntriesRt(snapshot, found.trackIndex, clipId, at > now ? at : now);
        placeLaunchedEntryRt(launchedEntry(clipId, at, now), at > now);
    }
    postNotificationRt(NotificationKind::sessionClipLaunched, clipId, 1.0f);
}

void SessionPlayer::placeLaunchedEntryRt(const ActiveSessionClip &launched, bool quantised) {
    const auto entries =
        std::span(activeSessionClips.data(), static_cast<std::size_t>(activeCount));
    const uint64_t clipId = launched.clipId;
    // A launch still waiting is moved to the new point; a playing entry of the clip plays on
    // until a quantised relaunch takes over, and gives its place to an immediate one.
    auto slot = std::find_if(entries.begin(), entries.end(),
                             [clipId](const auto &e) { return e.clipId == clipId && e.queued; });
    const auto playing = std::find_if(entries.begin(), entries.end(), [clipId](const auto &e) {
        return e.clipId == clipId && e.playing;
    });
    if (playing != entries.end()) {
        if (quantised)
            playing->replacedAt = launched.launchAt;
        else if (slot == entries.end())
            slot = playing;
    }
    if (slot == entries.end())
        slot = std::find_if(entries.begin(), entries.end(),
                            [](const auto &e) { return !isActive(e); });
    if (slot != entries.end())
        *slot = launched;
    else if (activeCount < maxActiveSessionClips)
        activeSessionClips[static_cast<std::size_t>(activeCount++)] = launched;
}

void SessionPlayer::replaceTrackEntriesRt(const GraphSnapshot &snapshot, std::size_t trackIndex,
                                          uint64_t launchedClipId, int64_t at) {
    for (int32_t i = 0; i < activeCount; ++i) {
        ActiveSessionClip &entry = activeSessionClips[static_cast<std::size_t>(i)];
        if (entry.clipId == launchedClipId || !isActive(entry)) continue;
        const FoundClip found = findClipRt(snapshot, entry.clipId);
        if (!found.clip || found.trackIndex != trackIndex) continue;
        if (entry.queued)
            clearEntry(entry);
        else
            entry.replacedAt = entry.replacedAt >= 0 ? std::min(entry.replacedAt, at) : at;
    }
}

void SessionPlayer::startSceneRt(const GraphSnapshot &snapshot, uint64_t sceneId, int64_t now,
                                 int64_t renderedUntil) {
    const auto scene = std::find_if(snapshot.scenes.begin(), snapshot.scenes.end(),
                                    [sceneId](const Scene &s) { return s.id == sceneId; });
    if (scene == snapshot.scenes.end()) return;
    currentSceneRow = static_cast<int32_t>(scene - snapshot.scenes.begin());
    ++sceneLaunchesRt;
    const LaunchQuantize quantize =
        scene->useSceneLaunchQuantize ? scene->sceneLaunchQuantize : snapshot.launchQuantize;
    const int64_t at = isQuantised(quantize) ? launchPointRt(snapshot, now, quantize) : now;
    keepPlayingUntilRt(at > now ? at : -1);
    // A launch point the rendered block already passed (a follow action's, quantised from the
    // block's start) starts the clips in step with it, as if they had begun there: the scene
    // stays on the grid instead of ending a little late and waiting a whole unit next time.
    const int64_t passed = at > now && at < renderedUntil ? renderedUntil - at : 0;
    for (const uint64_t clipId : scene->clips) {
        if (clipId == 0 || activeCount >= maxActiveSessionClips) continue;
        ActiveSessionClip entry = launchedEntry(clipId, at, now);
        if (passed > 0) entry = ActiveSessionClip{clipId, passed, true, false, 0, -1};
        activeSessionClips[static_cast<std::size_t>(activeCount++)] = entry;
    }
    postNotificationRt(NotificationKind::sceneLaunched, sceneId, 1.0f);

    // The scene's tempo is what the user sees while the scene plays; the tempo map, which
    // times the song, stays as it is.
    const bool ownTempo =
        scene->useSceneTempo && scene->sceneTempoBpm >= 20.0 && scene->sceneTempoBpm <= 400.0;
    sceneTempo.store(ownTempo);
    if (ownTempo) {
        tempo.store(scene->sceneTempoBpm);
        postNotificationRt(NotificationKind::transport, 0,
                           static_cast<float>(scene->sceneTempoBpm));
    }
    const bool ownMeter =
        scene->useSceneMeter && scene->sceneMeterNum >= 1 && scene->sceneMeterDen >= 1;
    if (ownMeter)
        meter.store(TimeSignature{scene->sceneMeterNum, scene->sceneMeterDen}.packed());
    else if (sceneMeter.load())
        meter.store(meterAtPosition(now, snapshot.meterMarkers, snapshot.timeSignature).packed());
    sceneMeter.store(ownMeter);
}

void SessionPlayer::keepPlayingUntilRt(int64_t at) {
    int32_t kept = 0;
    for (int32_t i = 0; i < activeCount && at >= 0; ++i) {
        ActiveSessionClip &entry = activeSessionClips[static_cast<std::size_t>(i)];
        // What waits for a launch point gives way to the new launch; what plays sounds on.
        if (!entry.playing) continue;
        entry.replacedAt = entry.replacedAt >= 0 ? std::min(entry.replacedAt, at) : at;
        activeSessionClips[static_cast<std::size_t>(kept++)] = entry;
    }
    activeCount = kept;
}

void SessionPlayer::releaseSceneTempoRt(const GraphSnapshot &snapshot, int64_t position) {
    if (sceneMeter.exchange(false))
        meter.store(
            meterAtPosition(position, snapshot.meterMarkers, snapshot.timeSignature).packed());
    if (sceneTempo.exchange(false)) followTempoMapRt(snapshot, position, tempo);
}

void SessionPlayer::releaseClipRt(uint64_t clipId) {
    for (int32_t i = 0; i < activeCount; ++i) {
        auto &active = activeSessionClips[static_cast<std::size_t>(i)];
        if (active.clipId == clipId) active.playing = active.queued = false;
    }
}

void SessionPlayer::stopRt(const GraphSnapshot &snapshot, int64_t now) {
    activeCount = 0;
    sessionTails.fill(SessionTail{});
    sessionBlockCount = 0;
    currentSceneRow = -1;
    sessionModeOn.store(false);
    releaseSceneTempoRt(snapshot, now);
}

// --- Rendering ---------------------------------------------------------------------------

void SessionPlayer::scheduleBlockRt(const GraphSnapshot &snapshot, int32_t frames,
                                    int64_t position) {
    sessionBlockCount = activeCount;
    for (int32_t i = 0; i < activeCount; ++i) {
        ActiveSessionClip &entry = activeSessionClips[static_cast<std::size_t>(i)];
        SessionEntryBlock &block = sessionBlock[static_cast<std::size_t>(i)];
        block = SessionEntryBlock{};
        if (!isActive(entry)) continue;
        const FoundClip found = findClipRt(snapshot, entry.clipId);
        if (!found.clip) continue;
        int64_t first = 0;
        if (entry.queued) {
            // A launch point on the block's first frame, or one the playhead already passed
            // (after a locate), starts at the top of the block.
            if (entry.launchAt >= position + frames) continue;
            first = std::max<int64_t>(entry.launchAt - position, 0);
            entry.queued = false;
            entry.playing = true;
        }
        block.clip = found.clip;
        block.trackIndex = found.trackIndex;
        block.clipIndex = found.clipIndex;
        block.firstFrame = first;
        block.period = sessionClipPeriod(snapshot, *found.clip);
        block.loops = sessionClipLoops(*found.clip);
        const int64_t sounding = frames - first;
        if (block.loops) {
            entry.offset = std::max<int64_t>(entry.offset, 0) % block.period;
            block.startOffset = entry.offset;
            block.endFrame = frames;
            entry.offset = (entry.offset + sounding) % block.period;
            continue;
        }
        block.startOffset = entry.offset;
        const int64_t remaining = std::max<int64_t>(block.period - entry.offset, 0);
        if (remaining > sounding) {
            block.endFrame = frames;
            entry.offset += sounding;
            continue;
        }
        // The clip's last sample plays in this block.
        block.endFrame = first + remaining;
        entry.offset += remaining;
        entry.playing = false;
        block.ended = true;
    }
    for (int32_t i = 0; i < activeCount; ++i)
        endReplacedEntryRt(static_cast<std::size_t>(i), frames, position);
}

void SessionPlayer::endReplacedEntryRt(std::size_t index, int32_t frames, int64_t position) {
    ActiveSessionClip &entry = activeSessionClips[index];
    if (entry.replacedAt < 0 || entry.replacedAt >= position + frames) return;
    SessionEntryBlock &block = sessionBlock[index];
    // Sounds up to the launch point, which the launched entries start on; a point the
    // playhead already passed leaves nothing of it in this block.
    const int64_t stop = std::max<int64_t>(entry.replacedAt - position, 0);
    if (block.clip && stop < block.endFrame) block.endFrame = std::max(stop, block.firstFrame);
    // Replaced, it has no follow action of its own to run.
    block.ended = false;
    clearEntry(entry);
}

bool SessionPlayer::trackSoundsRt(const RenderContext &context, std::size_t trackIndex) const {
    for (int32_t i = 0; i < sessionBlockCount; ++i) {
        const SessionEntryBlock &block = sessionBlock[static_cast<std::size_t>(i)];
        if (block.clip && block.trackIndex == trackIndex && block.endFrame > block.firstFrame)
            return true;
    }
    const Track &track = *context.snapshot.tracks[trackIndex];
    return liveKeysPlayOn(context.liveMidi, track) && anyLiveKeySounds(*context.liveMidi);
}

void SessionPlayer::renderRt(RenderContext &context) {
    const GraphSnapshot &snapshot = context.snapshot;
    if (!beginTracksRt(context)) return;
    scheduleBlockRt(snapshot, context.frames, context.position);
    SessionSource source(
        std::span(sessionBlock.data(), static_cast<std::size_t>(sessionBlockCount)));
    for (std::size_t index = 0; index < snapshot.tracks.size(); ++index)
        if (snapshot.tracks[index]->type != TrackType::Return)
            renderTrackRt(context, index, source);
    renderReturnTracksRt(context);
    finishMasterRt(context);
    finishBlockRt(snapshot, context.position, context.position + context.frames);
}

namespace {

float blockPeak(const float *left, const float *right, int32_t frames) {
    float peak = 0.0f;
    for (int32_t i = 0; i < frames; ++i)
        peak = std::max({peak, std::abs(left[i]), std::abs(right[i])});
    return peak;
}

} // namespace

void SessionPlayer::renderTrackRt(RenderContext &context, std::size_t index, TrackSource &source) {
    const bool sounds = trackSoundsRt(context, index);
    const bool tracked = index < sessionTails.size();
    // A track whose clips stopped keeps its chain running while its delays and reverbs ring
    // on; one that has fallen silent is left out after its source, as is one that never
    // sounded.
    if (!sounds && !(tracked && sessionTails[index].remaining > 0)) return;
    float *left = context.scratch.trackLeft.data();
    float *right = context.scratch.trackRight.data();
    // A muted track writes nothing; what it leaves must not read as a tail.
    std::fill_n(left, context.frames, 0.0f);
    std::fill_n(right, context.frames, 0.0f);
    renderSourceTrackRt(context, index, source);
    if (!tracked) return;
    const double rate = context.snapshot.sampleRate > 0.0 ? context.snapshot.sampleRate : 48000.0;
    SessionTail &tail = sessionTails[index];
    if (sounds) {
        tail = SessionTail{static_cast<int64_t>(maxSessionTailSeconds * rate), 0};
        return;
    }
    tail.remaining = std::max<int64_t>(tail.remaining - context.frames, 0);
    tail.silent = blockPeak(left, right, context.frames) < sessionTailFloor
                      ? tail.silent + context.frames
                      : 0;
    // An echo may lie up to two seconds behind the last: only a longer silence ends the tail.
    if (tail.silent > static_cast<int64_t>(sessionTailSilenceSeconds * rate)) tail = {};
}

// --- Ends and follow actions -------------------------------------------------------------

void SessionPlayer::finishBlockRt(const GraphSnapshot &snapshot, int64_t now,
                                  int64_t renderedUntil) {
    const uint64_t launchesBefore = sceneLaunchesRt;
    std::array<int32_t, maxActiveSessionClips> endedRows{};
    std::size_t endedRowCount = 0;
    for (int32_t i = 0; i < sessionBlockCount; ++i) {
        const SessionEntryBlock &block = sessionBlock[static_cast<std::size_t>(i)];
        if (!block.ended) continue;
        handleClipEndedRt(snapshot, *block.clip, static_cast<std::size_t>(i), now, renderedUntil);
        // A scene launched by a follow action has replaced the whole table.
        if (sceneLaunchesRt != launchesBefore) break;
        const int32_t row = block.clip->sessionRow;
        if (row >= 0 && std::find(endedRows.begin(), endedRows.begin() + endedRowCount, row) ==
                            endedRows.begin() + endedRowCount)
            endedRows[endedRowCount++] = row;
    }
    sessionBlockCount = 0;
    for (std::size_t i = 0; i < endedRowCount; ++i) {
        if (!isSceneRowIdle(snapshot, endedRows[i])) continue;
        handleSceneRowEndedRt(snapshot, endedRows[i], now, renderedUntil,
                              sceneLaunchesRt == launchesBefore);
    }
}

void SessionPlayer::handleClipEndedRt(const GraphSnapshot &snapshot, const Clip &clip,
                                      std::size_t entry, int64_t now, int64_t renderedUntil) {
    postNotificationRt(NotificationKind::sessionClipEnded, clip.id, 1.0f);
    ActiveSessionClip &active = activeSessionClips[entry];
    const auto sceneCount = static_cast<int64_t>(snapshot.scenes.size());
    const int32_t row = clip.sessionRow;
    switch (clip.followAction) {
    case FollowAction::Again:
        active.offset = 0;
        active.playing = true;
        break;
    case FollowAction::NextScene:
        if (row >= 0 && row + 1 < sceneCount)
            startSceneRt(snapshot, snapshot.scenes[static_cast<std::size_t>(row + 1)].id, now,
                         renderedUntil);
        break;
    case FollowAction::PreviousScene:
        if (row >= 1 && row - 1 < sceneCount)
            startSceneRt(snapshot, snapshot.scenes[static_cast<std::size_t>(row - 1)].id, now,
                         renderedUntil);
        break;
    case FollowAction::NextClipInColumn:
        if (row >= 0 && clip.sessionCol >= 0) {
            const Clip *next = clipBelowRt(snapshot, clip);
            if (!next || next->id == 0) break;
            // A quantised launch waiting to cut this track must cut the clip that follows
            // on, or it would play on beside the launched scene.
            active = ActiveSessionClip{next->id, 0, true, false, 0, active.replacedAt};
            postNotificationRt(NotificationKind::sessionClipLaunched, next->id, 1.0f);
        }
        break;
    default: break;
    }
}

bool SessionPlayer::isSceneRowIdle(const GraphSnapshot &snapshot, int32_t row) const {
    if (row < 0) return true;
    for (int32_t i = 0; i < activeCount; ++i) {
        const ActiveSessionClip &entry = activeSessionClips[static_cast<std::size_t>(i)];
        if (!isActive(entry)) continue;
        const FoundClip found = findClipRt(snapshot, entry.clipId);
        if (found.clip && found.clip->sessionRow == row) return false;
    }
    return true;
}

void SessionPlayer::handleSceneRowEndedRt(const GraphSnapshot &snapshot, int32_t row, int64_t now,
                                          int64_t renderedUntil, bool applyFollowAction) {
    if (row < 0 || static_cast<std::size_t>(row) >= snapshot.scenes.size()) return;
    const Scene &scene = snapshot.scenes[static_cast<std::size_t>(row)];
    postNotificationRt(NotificationKind::sceneLaunched, scene.id, 0.0f);
    if (row == currentSceneRow) releaseSceneTempoRt(snapshot, now);
    if (!applyFollowAction) return;
    switch (scene.followAction) {
    case FollowAction::Again: startSceneRt(snapshot, scene.id, now, renderedUntil); break;
    case FollowAction::NextScene:
        if (static_cast<std::size_t>(row) + 1 < snapshot.scenes.size())
            startSceneRt(snapshot, snapshot.scenes[static_cast<std::size_t>(row) + 1].id, now,
                         renderedUntil);
        break;
    case FollowAction::PreviousScene:
        if (row > 0)
            startSceneRt(snapshot, snapshot.scenes[static_cast<std::size_t>(row) - 1].id, now,
                         renderedUntil);
        break;
    default: break;
    }
}

// --- The table for the main thread -------------------------------------------------------

void SessionPlayer::publishTableRt() {
    PublishedSessionTable &table = publishedSessionTable;
    const uint64_t sequence = table.sequence.load(std::memory_order_relaxed);
    table.sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    table.count.store(activeCount, std::memory_order_relaxed);
    for (std::size_t i = 0; i < static_cast<std::size_t>(activeCount); ++i) {
        const ActiveSessionClip &entry = activeSessionClips[i];
        table.clipIds[i].store(entry.clipId, std::memory_order_relaxed);
        table.offsets[i].store(entry.offset, std::memory_order_relaxed);
        table.flags[i].store(static_cast<uint8_t>((entry.playing ? 1 : 0) | (entry.queued ? 2 : 0)),
                             std::memory_order_relaxed);
        table.launchAts[i].store(entry.launchAt, std::memory_order_relaxed);
    }
    table.sequence.store(sequence + 2, std::memory_order_release);
}

SessionTableCopy SessionPlayer::readTable() const {
    const PublishedSessionTable &table = publishedSessionTable;
    SessionTableCopy copy;
    while (true) {
        const uint64_t before = table.sequence.load(std::memory_order_acquire);
        if (before % 2 == 1) {
            std::this_thread::yield();
            continue;
        }
        copy.count =
            std::clamp(table.count.load(std::memory_order_relaxed), 0, maxActiveSessionClips);
        for (std::size_t i = 0; i < static_cast<std::size_t>(copy.count); ++i) {
            const uint8_t flags = table.flags[i].load(std::memory_order_relaxed);
            copy.entries[i] = ActiveSessionClip{table.clipIds[i].load(std::memory_order_relaxed),
                                                table.offsets[i].load(std::memory_order_relaxed),
                                                (flags & 1) != 0, (flags & 2) != 0,
                                                table.launchAts[i].load(std::memory_order_relaxed)};
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (table.sequence.load(std::memory_order_relaxed) == before) return copy;
    }
}

} // namespace orvane

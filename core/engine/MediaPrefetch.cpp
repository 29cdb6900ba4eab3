#include "core/engine/MediaPrefetch.h"

#include "core/engine/ClipVoices.h"
#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"
#include "core/model/SaturatingMath.h"

#include <algorithm>
#include <chrono>
#include <tuple>

namespace orvane {

namespace {

/// Frames kept before where a clip is read: a warped clip may read a little backwards.
constexpr int64_t framesBehind = 256;

/// The frames `clip` reads for `count` frames from timeline position `position` on; empty
/// when it does not sound there.
FrameSpan framesAtPosition(const Clip &clip, int64_t position, int64_t count) {
    const int64_t span = audioClipSpan(clip);
    const int64_t begin = std::max(position, clip.arrangeStart);
    const int64_t end =
        std::min(saturatingAdd(position, count), saturatingAdd(clip.arrangeStart, span));
    if (begin >= end) return {};
    return audioClipFramesRead(clip, buildClipWarpTable(clip), begin - clip.arrangeStart,
                               end - begin);
}

/// What makes two plans read different windows.
auto streamKey(const Clip &clip) {
    return std::make_tuple(clip.id, clip.audio.owner(), clip.arrangeStart, clip.length,
                           clip.sourceOffset, clip.stretchRatio, clip.warpMarkers.size(),
                           clip.isSessionClip());
}

bool samePlan(const MediaPlan &a, const MediaPlan &b) {
    const auto same = [](const std::vector<Clip> &x, const std::vector<Clip> &y) {
        return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](const Clip &p, const Clip &q) {
            return streamKey(p) == streamKey(q);
        });
    };
    return same(a.arrangement, b.arrangement) && same(a.session, b.session);
}

/// Fills `role` from a little before `span` when no published window holds it. While every
/// spare window is still being read, the fill waits for the next pass, as all fills here do.
void keepResident(ClipStream &stream, WindowRole role, FrameSpan span,
                  std::vector<int16_t> &staging) {
    if (span.empty() || stream.covers(span)) return;
    (void)stream.fill(role, span.first - framesBehind, staging, true);
}

} // namespace

MediaPlan planMedia(const Project &project) {
    MediaPlan plan;
    for (const auto &track : project.tracks) {
        if (!track || track->type != TrackType::Audio) continue;
        for (const auto &clip : track->clips) {
            if (!clip || clip->kind != ClipKind::Audio || !clip->audio || clip->audio->empty())
                continue;
            Clip copy = *clip;
            copy.notes.clear();
            (clip->isSessionClip() ? plan.session : plan.arrangement).push_back(std::move(copy));
        }
    }
    return plan;
}

ExportMediaReader::ExportMediaReader(Engine &engine, int64_t windowFrames) : engine_(engine) {
    {
        std::lock_guard lock(engine.projectMutex);
        streams_ =
            std::make_shared<MediaStreams>(planMedia(engine.project).arrangement, windowFrames);
    }
    engine_.mediaStreams.offline.publish(streams_);
    if (!streams_->empty()) reader_ = std::thread([this] { run(); });
}

ExportMediaReader::~ExportMediaReader() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (reader_.joinable()) reader_.join();
    engine_.mediaStreams.offline.publish(nullptr);
    checkFiles();
}

void ExportMediaReader::checkFiles() {
    lastCheck_ = std::chrono::steady_clock::now();
    for (const auto &stream : streams_->streams())
        stream->clip().audio->file()->checkStillThere();
}

void ExportMediaReader::prepareBlock(int64_t position, int32_t frames) {
    if (streams_->empty()) return;
    // A file deleted or replaced under a long export is named while it runs, not only after.
    if (std::chrono::steady_clock::now() - lastCheck_ >= std::chrono::seconds(1)) checkFiles();
    // The reader reads a window ahead: waking it every quarter window keeps it ahead
    // without a thread switch per block.
    const bool ready = resident(position, frames);
    if (ready && position < nextWake_ && position >= lastWake_) return;
    lastWake_ = position;
    nextWake_ = saturatingAdd(position, std::max<int64_t>(streams_->windowFrames() / 4, 1));
    std::unique_lock lock(mutex_);
    position_ = position;
    frames_ = frames;
    const uint64_t request = ++requests_;
    wake_.notify_one();
    if (!ready) progress_.wait(lock, [&] { return passes_ >= request; });
}

bool ExportMediaReader::resident(int64_t position, int32_t frames) {
    for (const auto &stream : streams_->streams()) {
        const FrameSpan needed = framesAtPosition(stream->clip(), position, frames);
        if (!needed.empty() && !stream->residentRt(needed)) return false;
    }
    return true;
}

void ExportMediaReader::run() {
    std::unique_lock lock(mutex_);
    uint64_t seen = 0;
    while (true) {
        wake_.wait(lock, [&] { return stopping_ || requests_ != seen; });
        if (stopping_) return;
        seen = requests_;
        const int64_t position = position_;
        const int32_t frames = frames_;
        lock.unlock();
        readFor(position, frames);
        lock.lock();
        passes_ = seen;
        progress_.notify_all();
    }
}

void ExportMediaReader::readFor(int64_t position, int32_t frames) {
    // The next window starts this far before the current one ends, so that a block reading
    // across the seam finds all its frames in one of them.
    constexpr int64_t seam = 4096;
    for (const auto &stream : streams_->streams()) {
        const Clip &clip = stream->clip();
        const FrameSpan needed = framesAtPosition(clip, position, frames);
        if (needed.empty()) {
            // Past its end the clip's windows go; an export never comes back.
            if (saturatingAdd(clip.arrangeStart, audioClipSpan(clip)) <= position &&
                stream->windowOf(WindowRole::playing)) {
                stream->clear();
                stream->trim();
            }
            // Not sounding yet: nothing before its first window is needed.
            if (clip.arrangeStart > position && !stream->windowOf(WindowRole::playing) &&
                clip.arrangeStart - position < stream->windowFrames())
                (void)stream->fill(WindowRole::playing,
                                   framesAtPosition(clip, clip.arrangeStart, frames).first,
                                   staging_, true);
            continue;
        }
        const WindowRole holder = stream->roleHolding(needed);
        if (holder == WindowRole::cue) stream->rename(WindowRole::cue, WindowRole::playing);
        if (holder == WindowRole::none)
            (void)stream->fill(WindowRole::playing, needed.first, staging_, true);
        const ResidentWindow *playing = stream->windowOf(WindowRole::playing);
        if (!playing) continue;
        const int64_t end = playing->firstFrame + playing->frames;
        const int64_t next = std::max(playing->firstFrame + 1, end - seam);
        const ResidentWindow *cue = stream->windowOf(WindowRole::cue);
        if (end < clip.audioFrameCount() && (!cue || cue->firstFrame != next))
            (void)stream->fill(WindowRole::cue, next, staging_, true);
    }
}

MediaPrefetcher::MediaPrefetcher(Engine &engine, Options options)
    : engine_(engine), options_(options), thread_([this] { run(); }) {}

MediaPrefetcher::~MediaPrefetcher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    engine_.mediaStreams.live.publish(nullptr);
}

uint64_t MediaPrefetcher::passes() const {
    std::lock_guard lock(mutex_);
    return passes_;
}

bool MediaPrefetcher::waitForPasses(uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, timeout, [&] { return passes_ >= count; });
}

uint64_t MediaPrefetcher::dryBlocks() const {
    std::lock_guard lock(fillMutex_);
    return retiredDry_ + (streams_ ? streams_->dryBlocks() : 0);
}

void MediaPrefetcher::readAhead(int64_t position) {
    std::lock_guard fill(fillMutex_);
    MediaPlan plan;
    {
        std::lock_guard projectLock(engine_.projectMutex);
        plan = planMedia(engine_.project);
    }
    // The transport gets there only with its next block: until then the disk thread keeps
    // reading for `position`, not for where the playhead still is.
    announced_ = position;
    announcedAt_ = std::chrono::steady_clock::now();
    // The clips go on playing where they are until the jump: their windows stay, and the
    // target's are added beside them.
    if (streams_ && samePlan(plan, plan_)) {
        fillStreams(*streams_, position);
        return;
    }
    plan_ = std::move(plan);
    refreshStreams(position);
}

void MediaPrefetcher::readCycleStart(int64_t start) {
    std::lock_guard fill(fillMutex_);
    if (!streams_) refreshStreams(engine_.transport.playhead.load());
    const int64_t window = windowFrames();
    for (const auto &stream : streams_->streams())
        keepCycleStartResident(*stream, std::max<int64_t>(start, 0), window);
}

int64_t MediaPrefetcher::windowFrames() const {
    return static_cast<int64_t>(options_.aheadSeconds * std::max(engine_.sampleRate.load(), 1.0));
}

void MediaPrefetcher::keepCycleStartResident(ClipStream &stream, int64_t cycleStart,
                                             int64_t window) {
    const Clip &clip = stream.clip();
    if (clip.isSessionClip()) return;
    const int64_t back = std::max(cycleStart, clip.arrangeStart);
    if (back < saturatingAdd(cycleStart, window))
        keepResident(stream, WindowRole::cycle, framesAtPosition(clip, back, window / 2), staging_);
}

void MediaPrefetcher::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        pass();
        lock.lock();
        ++passes_;
        wake_.notify_all();
        wake_.wait_for(lock, nothingToStream_ ? idlePeriod : options_.period,
                       [this] { return stopping_; });
    }
}

void MediaPrefetcher::pass() {
    std::lock_guard fill(fillMutex_);
    retired_.clear();
    {
        std::unique_lock projectLock(engine_.projectMutex, std::try_to_lock);
        if (projectLock.owns_lock()) {
            MediaPlan plan = planMedia(engine_.project);
            if (!samePlan(plan, plan_)) {
                plan_ = std::move(plan);
                projectLock.unlock();
                refreshStreams(readingPosition(std::chrono::steady_clock::now()));
            }
        }
    }
    const auto now = std::chrono::steady_clock::now();
    const int64_t position = readingPosition(now);
    if (!streams_) refreshStreams(position);
    fillStreams(*streams_, position);
    nothingToStream_ = streams_->empty();
    if (now - lastCheck_ >= std::chrono::seconds(1)) {
        lastCheck_ = now;
        for (const auto &stream : streams_->streams())
            stream->clip().audio->file()->checkStillThere();
    }
}

int64_t MediaPrefetcher::readingPosition(std::chrono::steady_clock::time_point now) {
    const int64_t playhead = engine_.transport.playhead.load();
    if (announced_ < 0) return playhead;
    const double rate = std::max(engine_.sampleRate.load(), 1.0);
    const bool arrived =
        playhead >= announced_ && playhead < saturatingAdd(announced_, static_cast<int64_t>(rate));
    if (arrived || now - announcedAt_ > std::chrono::seconds(2)) announced_ = -1;
    return announced_ < 0 ? playhead : announced_;
}

void MediaPrefetcher::refreshStreams(int64_t position) {
    std::vector<Clip> clips = plan_.arrangement;
    clips.insert(clips.end(), plan_.session.begin(), plan_.session.end());
    const double rate = std::max(engine_.sampleRate.load(), 1.0);
    auto next =
        std::make_shared<MediaStreams>(clips, static_cast<int64_t>(options_.aheadSeconds * rate));
    next->setFadesAtGaps(true);
    // Clips that go on playing find their frames in the new windows at once.
    if (streams_) {
        for (const auto &stream : next->streams())
            if (const ClipStream *old = streams_->find(stream->clipId());
                old && old->lastReadFrame() >= 0)
                (void)stream->fill(WindowRole::playing, old->lastReadFrame() - framesBehind,
                                   staging_, true);
        retiredDry_ += streams_->dryBlocks();
    }
    fillStreams(*next, position);
    // The streams replaced are freed by the disk thread's next pass: the main thread calls
    // this before it queues a locate, and freeing every window of a large project takes a
    // while.
    if (streams_) retired_.push_back(std::move(streams_));
    streams_ = std::move(next);
    engine_.mediaStreams.live.publish(streams_);
}

void MediaPrefetcher::fillStreams(MediaStreams &streams, int64_t position) {
    const int64_t window = windowFrames();
    const bool cycling = engine_.transport.loopEnabled.load();
    const int64_t cycleStart = engine_.transport.loopStart.load();
    for (const auto &stream : streams.streams()) {
        const Clip &clip = stream->clip();
        const int64_t frameCount = clip.audioFrameCount();
        // Where the clip is being read, half a window ahead. A window read ahead for a jump
        // that the clip plays from now goes on as its playing one, so that reading ahead for
        // the next jump does not take it away.
        if (const int64_t reading = stream->lastReadFrame(); reading >= 0) {
            if (stream->roleHolding({reading, reading}) == WindowRole::cue)
                stream->rename(WindowRole::cue, WindowRole::playing);
            keepResident(*stream, WindowRole::playing,
                         {reading, std::min(reading + window / 2, frameCount - 1)}, staging_);
        }
        if (clip.isSessionClip()) {
            // A launch may come at any time: the first frames stay resident.
            keepResident(*stream, WindowRole::cue,
                         audioClipFramesRead(clip, buildClipWarpTable(clip), 0,
                                             std::min(window / 2, audioClipSpan(clip))),
                         staging_);
            continue;
        }
        // What the playhead reaches within a window, and where the cycle jumps back to.
        const int64_t reach = std::max(position, clip.arrangeStart);
        if (reach < saturatingAdd(position, window))
            keepResident(*stream, WindowRole::cue, framesAtPosition(clip, reach, window / 2),
                         staging_);
        if (cycling) keepCycleStartResident(*stream, cycleStart, window);
    }
}

} // namespace orvane

#include "core/engine/MediaPrefetch.h"

#include "core/engine/ClipVoices.h"
#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"
#include "core/model/SaturatingMath.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

/// The source samples a clip plays for timeline offsets [first, last] (relative to its
/// start), as one interleaved range.
void adviseClipRange(const Clip &clip, int64_t first, int64_t last, const MediaAdvice &advice) {
    const int64_t channels = clip.channels < 2 ? 1 : clip.channels;
    const double a = clipTimelineToSource(clip, first);
    const double b = clipTimelineToSource(clip, last);
    const int64_t from = saturatingToInt64(std::floor(std::min(a, b)));
    // The reader interpolates towards the next frame.
    const int64_t to = saturatingToInt64(std::ceil(std::max(a, b))) + 1;
    const int64_t frames = clip.audioFrameCount();
    const int64_t begin = std::clamp<int64_t>(from, 0, frames);
    const int64_t end = std::clamp<int64_t>(to + 1, 0, frames);
    if (end > begin) advice(*clip.audio, begin * channels, (end - begin) * channels);
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

void forEachMediaSpan(const MediaPlan &plan, int64_t from, int64_t until, bool withSession,
                      const MediaAdvice &advice) {
    if (until <= from) return;
    for (const Clip &clip : plan.arrangement) {
        const int64_t span = audioClipSpan(clip);
        const int64_t first = std::max(from, clip.arrangeStart);
        const int64_t last = std::min(until, saturatingAdd(clip.arrangeStart, span)) - 1;
        if (last < first) continue;
        adviseClipRange(clip, first - clip.arrangeStart, last - clip.arrangeStart, advice);
    }
    if (!withSession) return;
    for (const Clip &clip : plan.session)
        adviseClipRange(clip, 0, std::min(until - from, audioClipSpan(clip)) - 1, advice);
}

MediaWindow::MediaWindow(MediaPlan plan, int64_t start, int64_t ahead)
    : plan_(std::move(plan)), ahead_(std::max<int64_t>(ahead, 1)), released_(start),
      requested_(start) {}

void MediaWindow::advance(int64_t position) {
    if (position < requested_ - ahead_ / 2) return;
    // Nothing is read ahead here: the kernel's read-ahead serves a sequential reader, and
    // populating ahead would only grow the resident window.
    requested_ = saturatingAdd(position, ahead_);
    // One window behind stays: a warped clip may read a little before the position.
    const int64_t releaseUntil = position - ahead_;
    forEachMediaSpan(plan_, released_, releaseUntil, false,
                     [](const SampleBuffer &buffer, int64_t first, int64_t count) {
                         buffer.release(first, count);
                     });
    released_ = std::max(released_, releaseUntil);
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
}

uint64_t MediaPrefetcher::passes() const {
    std::lock_guard lock(mutex_);
    return passes_;
}

bool MediaPrefetcher::waitForPasses(uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, timeout, [&] { return passes_ >= count; });
}

void MediaPrefetcher::readAhead(int64_t position) {
    MediaPlan plan;
    {
        std::lock_guard projectLock(engine_.projectMutex);
        plan = planMedia(engine_.project);
    }
    const double rate = std::max(engine_.sampleRate.load(), 1.0);
    forEachMediaSpan(plan, position,
                     saturatingAdd(position, static_cast<int64_t>(options_.aheadSeconds * rate)),
                     true, [](const SampleBuffer &buffer, int64_t first, int64_t count) {
                         buffer.prefetch(first, count);
                     });
}

void MediaPrefetcher::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        pass();
        lock.lock();
        ++passes_;
        wake_.notify_all();
        wake_.wait_for(lock, options_.period, [this] { return stopping_; });
    }
}

void MediaPrefetcher::pass() {
    {
        std::unique_lock projectLock(engine_.projectMutex, std::try_to_lock);
        if (projectLock.owns_lock()) plan_ = planMedia(engine_.project);
    }
    const double rate = std::max(engine_.sampleRate.load(), 1.0);
    const auto ahead = static_cast<int64_t>(options_.aheadSeconds * rate);
    const auto behind = static_cast<int64_t>(options_.behindSeconds * rate);
    const int64_t position = engine_.playhead.load();
    const auto prefetch = [](const SampleBuffer &buffer, int64_t first, int64_t count) {
        buffer.prefetch(first, count);
    };
    forEachMediaSpan(plan_, position, saturatingAdd(position, ahead), true, prefetch);
    // A cycle jumps back to its start: that must be ready before the jump.
    if (engine_.loopEnabled.load()) {
        const int64_t loopStart = engine_.loopStart.load();
        forEachMediaSpan(plan_, loopStart, saturatingAdd(loopStart, ahead), false, prefetch);
    }
    if (lastPosition_ >= 0 && position > lastPosition_ && !engine_.loopEnabled.load())
        forEachMediaSpan(plan_, lastPosition_ - behind, position - behind, false,
                         [](const SampleBuffer &buffer, int64_t first, int64_t count) {
                             buffer.release(first, count);
                         });
    lastPosition_ = position;
}

} // namespace orvane

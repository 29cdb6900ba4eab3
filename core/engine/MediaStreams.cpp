#include "core/engine/MediaStreams.h"

#include <algorithm>
#include <thread>

namespace orvane {

namespace {

constexpr uint32_t bit(int window) { return 1u << static_cast<uint32_t>(window); }

thread_local MediaStreams *threadStreams = nullptr;

} // namespace

ClipStream::ClipStream(const Clip &clip, int64_t windowFrames)
    : clip_(clip), clipId_(clip.id), channels_(clip.channels < 2 ? 1 : clip.channels),
      frameCount_(clip.audioFrameCount()), windowFrames_(std::max<int64_t>(windowFrames, 1)) {}

const ResidentWindow *ClipStream::holdRt(FrameSpan span) {
    lastRead_.store(span.first, std::memory_order_relaxed);
    const ResidentWindow *window = holdWindowRt(span);
    if (!window) dry_.fetch_add(1, std::memory_order_relaxed);
    return window;
}

bool ClipStream::residentRt(FrameSpan span) {
    const bool held = holdWindowRt(span) != nullptr;
    releaseRt();
    return held;
}

const ResidentWindow *ClipStream::holdWindowRt(FrameSpan span) {
    uint32_t mask = published_.load();
    // Announce the windows about to be read, then make sure they are still the published
    // ones: the filler rewrites only windows it sees neither published nor announced.
    for (int attempt = 0;; ++attempt) {
        held_.store(mask);
        const uint32_t again = published_.load();
        if (again == mask) break;
        mask = again;
        if (attempt == 3) {
            held_.store(0);
            return nullptr;
        }
    }
    for (int window = 0; window < windowCount; ++window)
        if ((mask & bit(window)) && windows_[window].holds(span)) return &windows_[window];
    held_.store(0);
    return nullptr;
}

bool ClipStream::covers(FrameSpan span) const {
    const uint32_t mask = published_.load();
    for (int window = 0; window < windowCount; ++window)
        if ((mask & bit(window)) && windows_[window].holds(span)) return true;
    return false;
}

bool ClipStream::fill(WindowRole role, int64_t firstFrame, std::vector<int16_t> &staging,
                      bool readersRunning) {
    const MediaFile *file = clip_.audio ? clip_.audio->file() : nullptr;
    if (!file || frameCount_ < 1) return false;
    const uint32_t published = published_.load();
    int previous = -1;
    for (int window = 0; window < windowCount; ++window)
        if ((published & bit(window)) && roles_[window] == role) previous = window;
    const auto samples = static_cast<std::size_t>(windowFrames_ * channels_);
    int target = readersRunning ? -1 : previous;
    if (target < 0) target = spareWindow(published, samples);
    if (target < 0) return false;
    ResidentWindow &window = windows_[target];
    const int64_t first = std::clamp<int64_t>(firstFrame, 0, frameCount_ - 1);
    const int64_t frames = std::min(windowFrames_, frameCount_ - first);
    if (window.samples.size() < samples) window.samples.reallocate(samples);
    file->read(first * channels_, frames * channels_, window.samples.data(), staging);
    window.firstFrame = first;
    window.frames = frames;
    uint32_t next = published | bit(target);
    if (previous >= 0 && previous != target) {
        next &= ~bit(previous);
        roles_[previous] = WindowRole::none;
    }
    roles_[target] = role;
    published_.store(next);
    return true;
}

int ClipStream::spareWindow(uint32_t published, std::size_t samples) const {
    // A window whose memory was touched before is taken first: fresh memory costs a page
    // fault per page on its first fill, and a stream that cycles through all its windows
    // would pay that for every one of them.
    const uint32_t held = held_.load();
    int fresh = -1;
    for (int window = 0; window < windowCount; ++window) {
        if ((published & bit(window)) || (held & bit(window))) continue;
        if (windows_[window].samples.size() >= samples) return window;
        if (fresh < 0) fresh = window;
    }
    return fresh;
}

WindowRole ClipStream::roleHolding(FrameSpan span) const {
    const uint32_t mask = published_.load();
    for (int window = 0; window < windowCount; ++window)
        if ((mask & bit(window)) && windows_[window].holds(span)) return roles_[window];
    return WindowRole::none;
}

const ResidentWindow *ClipStream::windowOf(WindowRole role) const {
    const uint32_t mask = published_.load();
    for (int window = 0; window < windowCount; ++window)
        if ((mask & bit(window)) && roles_[window] == role) return &windows_[window];
    return nullptr;
}

void ClipStream::retire(WindowRole role) {
    const uint32_t mask = published_.load();
    for (int window = 0; window < windowCount; ++window)
        if ((mask & bit(window)) && roles_[window] == role) {
            roles_[window] = WindowRole::none;
            published_.store(mask & ~bit(window));
            return;
        }
}

void ClipStream::rename(WindowRole from, WindowRole to) {
    retire(to);
    const uint32_t mask = published_.load();
    for (int window = 0; window < windowCount; ++window)
        if ((mask & bit(window)) && roles_[window] == from) roles_[window] = to;
}

void ClipStream::trim() {
    const uint32_t keep = published_.load() | held_.load();
    for (int window = 0; window < windowCount; ++window)
        if (!(keep & bit(window))) windows_[window].samples = ResidentFloats();
}

void ClipStream::clear() {
    published_.store(0);
    roles_.fill(WindowRole::none);
}

MediaStreams::MediaStreams(const std::vector<Clip> &clips, int64_t windowFrames)
    : windowFrames_(std::max<int64_t>(windowFrames, 1)) {
    for (const Clip &clip : clips)
        if (clip.kind == ClipKind::Audio && clip.audio && clip.audio->file())
            streams_.push_back(std::make_unique<ClipStream>(clip, windowFrames));
    std::stable_sort(streams_.begin(), streams_.end(),
                     [](const auto &a, const auto &b) { return a->clipId() < b->clipId(); });
}

ClipStream *MediaStreams::find(uint64_t clipId) const {
    const auto found =
        std::lower_bound(streams_.begin(), streams_.end(), clipId,
                         [](const auto &stream, uint64_t id) { return stream->clipId() < id; });
    return found != streams_.end() && (*found)->clipId() == clipId ? found->get() : nullptr;
}

uint64_t MediaStreams::dryBlocks() const {
    uint64_t total = unplanned_.load(std::memory_order_relaxed);
    for (const auto &stream : streams_)
        total += stream->dryBlocks();
    return total;
}

void MediaStreamsSlot::publish(std::shared_ptr<MediaStreams> streams) {
    MediaStreams *const previous = owned_.get();
    published_.store(streams.get());
    // A block that took the previous streams before the store gives them back within a
    // block; one that starts after it takes the new ones.
    while (previous && inUse_.load() == previous)
        std::this_thread::yield();
    owned_ = std::move(streams);
}

MediaStreams *MediaStreamsSlot::enterRt() {
    MediaStreams *streams = published_.load();
    for (;;) {
        inUse_.store(streams);
        MediaStreams *const again = published_.load();
        if (again == streams) return streams;
        streams = again;
    }
}

MediaStreams *currentMediaStreamsRt() { return threadStreams; }

CurrentMediaStreams::CurrentMediaStreams(MediaStreams *streams) : previous_(threadStreams) {
    threadStreams = streams;
}

CurrentMediaStreams::~CurrentMediaStreams() { threadStreams = previous_; }

} // namespace orvane

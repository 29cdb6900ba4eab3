#pragma once

#include "core/engine/ResidentFloats.h"
#include "core/model/Project.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvane {

/// Source frames [first, last] of a clip's audio, both within it; empty when last < first.
struct FrameSpan {
    int64_t first = 0;
    int64_t last = -1;
    bool empty() const { return last < first; }
};

/// Interleaved floats of a clip's source frames [firstFrame, firstFrame + frames), read
/// from its file.
struct ResidentWindow {
    ResidentFloats samples;
    int64_t firstFrame = 0;
    int64_t frames = 0;
    bool holds(FrameSpan span) const {
        return !span.empty() && span.first >= firstFrame && span.last < firstFrame + frames;
    }
};

/// Why a stream keeps a window: where the clip is being read, where it will start sounding
/// (the playhead, or a session clip's start), and where a cycle jumps back to.
enum class WindowRole : uint8_t { none, playing, cue, cycle };

/// The windows of one file-backed clip that a renderer reads instead of the file. One side
/// (the disk thread, or an export's rendering thread between blocks) fills windows and
/// publishes them; the other (whichever thread renders the clip) holds one published window
/// while it reads it. A window is written only while it is neither published nor held, so
/// the reader never waits and never sees a window change under it; a block whose frames no
/// published window holds plays silence for this clip alone and is counted.
class ClipStream {
  public:
    static constexpr int windowCount = 4;

    /// A stream for `clip` (a file-backed audio clip) with windows of `windowFrames` frames.
    ClipStream(const Clip &clip, int64_t windowFrames);

    uint64_t clipId() const { return clipId_; }
    const Clip &clip() const { return clip_; }
    int64_t windowFrames() const { return windowFrames_; }

    // Rendering side: never allocates, never waits.

    /// A published window holding `span`, held until `releaseRt`; null (counted as a dry
    /// block) when none holds it. Remembers `span` as where the clip is being read.
    const ResidentWindow *holdRt(FrameSpan span);
    void releaseRt() { held_.store(0); }
    /// True when a published window holds `span`: `holdRt` without holding or counting,
    /// for the rendering side to look before a block.
    bool residentRt(FrameSpan span);
    /// The clip went silent for want of its frames (or faded out before such a block): its
    /// next resident block fades in. `takeGapRt` says so once.
    void noteGapRt() { gap_.store(true, std::memory_order_relaxed); }
    bool takeGapRt() { return gap_.exchange(false, std::memory_order_relaxed); }

    // Filling side: one thread at a time.

    /// True when some published window holds `span`.
    bool covers(FrameSpan span) const;
    /// Reads `windowFrames` frames from `firstFrame` (kept within the audio) into a window
    /// that no reader can be looking at, and publishes it in place of the window `role` had.
    /// With `readersRunning` false (nothing renders meanwhile) the role's own window is
    /// refilled in place. False when every spare window is still held.
    [[nodiscard]] bool fill(WindowRole role, int64_t firstFrame, std::vector<int16_t> &staging,
                            bool readersRunning);
    /// The role of a published window holding `span`; none when no window holds it.
    WindowRole roleHolding(FrameSpan span) const;
    /// The published window of `role`, or null.
    const ResidentWindow *windowOf(WindowRole role) const;
    /// Unpublishes the window of `role`; a reader holding it finishes its block with it.
    void retire(WindowRole role);
    /// The window of `from` goes on as the window of `to` (whose own window is retired).
    void rename(WindowRole from, WindowRole to);
    /// The frame the renderer asked for last; -1 before the first.
    int64_t lastReadFrame() const { return lastRead_.load(std::memory_order_relaxed); }
    uint64_t dryBlocks() const { return dry_.load(std::memory_order_relaxed); }
    /// Frees the memory of windows nobody publishes or holds (an export past the clip).
    void trim();
    /// Unpublishes every window; their memory stays for the next fill.
    void clear();

  private:
    /// A window neither published nor held, or -1; one with storage for `samples` first.
    int spareWindow(uint32_t published, std::size_t samples) const;
    const ResidentWindow *holdWindowRt(FrameSpan span);

    Clip clip_;
    uint64_t clipId_;
    int64_t channels_;
    int64_t frameCount_;
    int64_t windowFrames_;
    std::array<ResidentWindow, windowCount> windows_;
    std::array<WindowRole, windowCount> roles_{};
    std::atomic<uint32_t> published_{0};
    std::atomic<uint32_t> held_{0};
    std::atomic<int64_t> lastRead_{-1};
    std::atomic<uint64_t> dry_{0};
    std::atomic<bool> gap_{false};
};

/// The streams of every file-backed audio clip of a set of clips, found by clip id.
class MediaStreams {
  public:
    /// Streams for the clips of `clips` whose audio is in a file.
    MediaStreams(const std::vector<Clip> &clips, int64_t windowFrames);

    /// The clip's stream, or null. Allocates nothing.
    ClipStream *find(uint64_t clipId) const;
    const std::vector<std::unique_ptr<ClipStream>> &streams() const { return streams_; }
    bool empty() const { return streams_.empty(); }
    int64_t windowFrames() const { return windowFrames_; }
    /// Blocks any clip played silent for want of its samples, those of clips the streams
    /// were made before included.
    uint64_t dryBlocks() const;
    /// Counts a block of a file-backed clip that has no stream here (it came after them).
    void countUnplannedRt() const { unplanned_.fetch_add(1, std::memory_order_relaxed); }
    /// Live streams, which a block may find without its frames: a clip then fades out before
    /// the gap and in after it. Set before the streams are published.
    void setFadesAtGaps(bool fades) { fadesAtGaps_ = fades; }
    bool fadesAtGaps() const { return fadesAtGaps_; }

  private:
    std::vector<std::unique_ptr<ClipStream>> streams_; // by clip id
    int64_t windowFrames_;
    mutable std::atomic<uint64_t> unplanned_{0};
    bool fadesAtGaps_ = false;
};

/// The media streams one kind of rendering (live or an export) reads, handed from the side
/// that fills them to the renderers. Replacing them waits until no block reads the old ones.
class MediaStreamsSlot {
  public:
    /// Makes `streams` (may be null) the ones renderers get; returns once none reads the
    /// previous ones, which it then lets go. One thread at a time.
    void publish(std::shared_ptr<MediaStreams> streams);
    const std::shared_ptr<MediaStreams> &current() const { return owned_; }

    /// The streams for one block, held until `leaveRt`.
    MediaStreams *enterRt();
    void leaveRt() { inUse_.store(nullptr); }

  private:
    std::shared_ptr<MediaStreams> owned_;
    std::atomic<MediaStreams *> published_{nullptr};
    std::atomic<MediaStreams *> inUse_{nullptr};
};

/// Holds a slot's streams for the length of a block.
class MediaStreamsUse {
  public:
    explicit MediaStreamsUse(MediaStreamsSlot &slot) : slot_(slot), streams_(slot.enterRt()) {}
    ~MediaStreamsUse() { slot_.leaveRt(); }
    MediaStreamsUse(const MediaStreamsUse &) = delete;
    MediaStreamsUse &operator=(const MediaStreamsUse &) = delete;
    MediaStreams *get() const { return streams_; }

  private:
    MediaStreamsSlot &slot_;
    MediaStreams *streams_;
};

/// The streams the clip readers of this thread use while a track renders: set for the
/// length of one track's source by the chain that renders it, whichever thread runs it.
MediaStreams *currentMediaStreamsRt();
class CurrentMediaStreams {
  public:
    explicit CurrentMediaStreams(MediaStreams *streams);
    ~CurrentMediaStreams();
    CurrentMediaStreams(const CurrentMediaStreams &) = delete;
    CurrentMediaStreams &operator=(const CurrentMediaStreams &) = delete;

  private:
    MediaStreams *previous_;
};

} // namespace orvane

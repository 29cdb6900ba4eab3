#pragma once

#include "core/engine/EngineRings.h"
#include "core/engine/GraphSnapshot.h"
#include "core/engine/RenderContext.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace orvane {

struct ActiveSessionClip {
    uint64_t clipId = 0;
    int64_t offset = 0;
    bool playing = false;
    bool queued = false;
    int64_t launchAt = 0;
    /// Where a quantised launch takes over from this entry: it plays until then and is gone
    /// from then on. Negative while nothing is to replace it.
    int64_t replacedAt = -1;
};

/// A consistent copy of the session table, as the audio thread last published it.
struct SessionTableCopy {
    std::array<ActiveSessionClip, 64> entries{};
    int32_t count = 0;
};

/// The table as the audio thread publishes it after every block: a sequence counter that is
/// odd while a copy is being written, around fields that are atomics, so that the main
/// thread reads a consistent copy without a lock and without a data race.
struct PublishedSessionTable {
    std::atomic<uint64_t> sequence{0};
    std::atomic<int32_t> count{0};
    std::array<std::atomic<uint64_t>, 64> clipIds{};
    std::array<std::atomic<int64_t>, 64> offsets{};
    std::array<std::atomic<uint8_t>, 64> flags{}; // 1 playing, 2 queued
    std::array<std::atomic<int64_t>, 64> launchAts{};
};

/// What one session entry does in the block being rendered (audio thread).
struct SessionEntryBlock {
    const Clip *clip = nullptr;
    std::size_t trackIndex = 0;
    std::size_t clipIndex = 0; // among its track's clips
    int64_t firstFrame = 0;
    int64_t endFrame = 0; // frames firstFrame..endFrame-1 sound
    int64_t startOffset = 0;
    int64_t period = 1;
    bool loops = false;
    bool ended = false;
};

/// The displayed tempo follows the tempo map at `position` (rendering thread).
void followTempoMapRt(const GraphSnapshot &snapshot, int64_t position, std::atomic<double> &tempo);

/// Session playback: the table of launched clips, their launch, release and follow actions,
/// the render step that plays them through the shared track chain, and the copy of the table
/// the main thread reads. Needs no engine: what it reports goes to a notification ring, and a
/// scene that brings its own tempo or meter shows them in the two displayed values it is
/// given, which it hands back to the maps once the scene is over.
///
/// Threads: members named `...Rt` run on the thread that holds the rendering slot; the
/// const accessors on any thread.
class SessionPlayer {
  public:
    static constexpr int32_t maxActiveSessionClips = 64;

    SessionPlayer(NotificationRing &notifications, std::atomic<double> &displayedTempo,
                  std::atomic<uint64_t> &displayedMeter)
        : notifications(notifications), tempo(displayedTempo), meter(displayedMeter) {}
    SessionPlayer(const SessionPlayer &) = delete;
    SessionPlayer &operator=(const SessionPlayer &) = delete;

    // --- Requests (rendering thread); `now` is the playhead ----------------------------
    /// Launches a clip quantised from `now`, or stops it when it toggles and runs.
    void launchClipRt(const GraphSnapshot &snapshot, uint64_t clipId, int64_t now);
    /// Launches a scene quantised from `now`; what plays keeps playing until the launch point.
    void launchSceneRt(const GraphSnapshot &snapshot, uint64_t sceneId, int64_t now);
    void releaseClipRt(uint64_t clipId);
    /// Empties the table, leaves session mode and hands tempo and meter back to the maps.
    void stopRt(const GraphSnapshot &snapshot, int64_t now);

    // --- Rendering (rendering thread) ---------------------------------------------------
    /// Whether the next playing block is the session's rather than the arrangement's.
    bool playsRt() const { return sessionModeOn.load() && activeCount > 0; }
    /// One block of the playing session clips through the shared per-track chain
    /// (`beginTracksRt` ... `finishMasterRt`), then the clips' and scenes' follow actions.
    void renderRt(RenderContext &context);
    void publishTableRt();

    // --- Readers (any thread) -----------------------------------------------------------
    /// The table as the rendering thread last published it.
    SessionTableCopy readTable() const;
    bool sessionMode() const { return sessionModeOn.load(); }
    /// While a launched scene's own tempo is the displayed tempo: the tempo map is left alone,
    /// and neither the end-of-block follow nor a publication puts the map's tempo back.
    bool sceneTempoInForce() const { return sceneTempo.load(); }
    bool sceneMeterInForce() const { return sceneMeter.load(); }

  private:
    void postNotificationRt(NotificationKind kind, uint64_t id, float value);
    /// Launches a scene quantised from `now`: the playhead for a request, the start of the
    /// block just rendered for a follow action. `renderedUntil` is the end of that block: a
    /// launch point before it has passed.
    void startSceneRt(const GraphSnapshot &snapshot, uint64_t sceneId, int64_t now,
                      int64_t renderedUntil = -1);
    /// Puts a launched entry in the table; `quantised` when it waits for its launch point.
    void placeLaunchedEntryRt(const ActiveSessionClip &launched, bool quantised);
    /// For a track that plays one clip at a time: its other entries end at `at`.
    void replaceTrackEntriesRt(const GraphSnapshot &snapshot, std::size_t trackIndex,
                               uint64_t launchedClipId, int64_t at);
    /// Leaves the playing entries sounding until `at` and drops those still waiting; all of
    /// them go at once when `at` is negative.
    void keepPlayingUntilRt(int64_t at);
    /// Cuts the entry off at its replacement point when that falls in the block.
    void endReplacedEntryRt(std::size_t index, int32_t frames, int64_t position);
    /// Hands the displayed tempo and meter back to the maps once a scene's own are over.
    void releaseSceneTempoRt(const GraphSnapshot &snapshot, int64_t position);
    void scheduleBlockRt(const GraphSnapshot &snapshot, int32_t frames, int64_t position);
    /// True when some session clip of the track, or a live key on it, sounds in the block.
    bool trackSoundsRt(const RenderContext &context, std::size_t trackIndex) const;
    /// One source track of the session, or of its tail once its clips stopped.
    void renderTrackRt(RenderContext &context, std::size_t trackIndex, TrackSource &source);
    void finishBlockRt(const GraphSnapshot &snapshot, int64_t now, int64_t renderedUntil);
    void handleClipEndedRt(const GraphSnapshot &snapshot, const Clip &clip, std::size_t entry,
                           int64_t now, int64_t renderedUntil);
    bool isSceneRowIdle(const GraphSnapshot &snapshot, int32_t row) const;
    void handleSceneRowEndedRt(const GraphSnapshot &snapshot, int32_t row, int64_t now,
                               int64_t renderedUntil, bool applyFollowAction);

    NotificationRing &notifications;
    std::atomic<double> &tempo;
    std::atomic<uint64_t> &meter;

    std::array<ActiveSessionClip, maxActiveSessionClips> activeSessionClips{};
    int32_t activeCount = 0;
    int32_t currentSceneRow = -1;
    std::atomic<bool> sessionModeOn{false};
    std::atomic<bool> sceneTempo{false};
    std::atomic<bool> sceneMeter{false};

    std::array<SessionEntryBlock, maxActiveSessionClips> sessionBlock{};
    int32_t sessionBlockCount = 0;
    /// Per track (by index, for the first 256), how long its chain may still ring on after
    /// its clips stopped: until its output stayed below −120 dBFS for longer than the longest
    /// echo (two seconds), at most ten seconds.
    struct SessionTail {
        int64_t remaining = 0;
        int64_t silent = 0;
    };
    static constexpr double maxSessionTailSeconds = 10.0;
    static constexpr double sessionTailSilenceSeconds = 2.0;
    static constexpr float sessionTailFloor = 1e-6f;
    std::array<SessionTail, 256> sessionTails{};
    uint64_t sceneLaunchesRt = 0;
    PublishedSessionTable publishedSessionTable;
};

} // namespace orvane

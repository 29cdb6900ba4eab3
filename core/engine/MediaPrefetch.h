#pragma once

#include "core/engine/MediaStreams.h"
#include "core/model/Project.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orvane {

class Engine;

/// The audio clips of a project as the media readers see them: copies taken under the
/// project lock, so that they can be looked at later from any thread.
struct MediaPlan {
    std::vector<Clip> arrangement; // audio clips on the timeline that hold audio
    std::vector<Clip> session;     // session clips that hold audio
};
MediaPlan planMedia(const Project &project);

/// Reads an export's file-backed clips ahead of it on a thread of its own, in pieces of
/// `windowFrames` frames: while the rendering thread mixes one window of every sounding clip,
/// the next is read. Before each block the rendering thread makes sure the frames it needs
/// are there, waiting for the reader if they are not, so an export never plays a clip dry.
/// Memory stays at two windows per sounding clip.
class ExportMediaReader {
  public:
    ExportMediaReader(Engine &engine, int64_t windowFrames);
    ~ExportMediaReader();
    ExportMediaReader(const ExportMediaReader &) = delete;
    ExportMediaReader &operator=(const ExportMediaReader &) = delete;

    /// Makes the frames of the block [position, position + frames) resident.
    void prepareBlock(int64_t position, int32_t frames);

  private:
    /// Reports files deleted or replaced since they were opened.
    void checkFiles();
    void run();
    /// Keeps every clip's window for the block at `position` and the one after it resident.
    void readFor(int64_t position, int32_t frames);
    bool resident(int64_t position, int32_t frames);

    Engine &engine_;
    std::shared_ptr<MediaStreams> streams_;
    std::vector<int16_t> staging_; // the reader thread's
    std::chrono::steady_clock::time_point lastCheck_ = std::chrono::steady_clock::now();
    std::mutex mutex_;
    std::condition_variable wake_;     // the reader: a new block position, or stop
    std::condition_variable progress_; // the rendering thread: the reader finished a pass
    int64_t position_ = -1;
    int64_t lastWake_ = 0; // the rendering thread's
    int64_t nextWake_ = 0;
    int32_t frames_ = 0;
    uint64_t requests_ = 0;
    uint64_t passes_ = 0;
    bool stopping_ = false;
    std::thread reader_;
};

/// The disk thread of live playback: keeps every file-backed clip that sounds or is about to
/// a window ahead of where it is read, the start of the cycle and of every session clip
/// resident, and refills after a locate or a cycle jump. The audio thread only ever reads
/// those windows; a clip whose frames are not there yet is silent for that block and
/// counted. It takes the project lock only by trying, so it never holds up a command.
class MediaPrefetcher {
  public:
    struct Options {
        double aheadSeconds = 1.5;
        std::chrono::milliseconds period{10};
    };
    MediaPrefetcher(Engine &engine, Options options);
    explicit MediaPrefetcher(Engine &engine) : MediaPrefetcher(engine, Options{}) {}
    ~MediaPrefetcher();
    MediaPrefetcher(const MediaPrefetcher &) = delete;
    MediaPrefetcher &operator=(const MediaPrefetcher &) = delete;

    /// Reads what plays from `position` at once on the calling thread (not the audio
    /// thread): before playback starts or jumps there, so that its first blocks find it.
    void readAhead(int64_t position);
    /// Reads where a cycle about to be set jumps back to, on the calling thread, keeping
    /// what plays now: the playhead may be a block away from the cycle's end.
    void readCycleStart(int64_t start);

    /// Completed passes over the project; a test waits on it with `waitForPasses`.
    uint64_t passes() const;
    /// Waits until at least `count` passes are done or `timeout` has gone by.
    [[nodiscard]] bool waitForPasses(uint64_t count, std::chrono::milliseconds timeout) const;
    /// Blocks in which some clip played silent because its frames were not read yet.
    uint64_t dryBlocks() const;

  private:
    void run();
    void pass();
    /// Where the disk thread reads for: the playhead, or a position announced by
    /// `readAhead` until the playhead gets there.
    int64_t readingPosition(std::chrono::steady_clock::time_point now);
    /// New streams for the plan, filled for `position` before the audio thread sees them.
    void refreshStreams(int64_t position);
    void fillStreams(MediaStreams &streams, int64_t position);
    void keepCycleStartResident(ClipStream &stream, int64_t cycleStart, int64_t window);
    int64_t windowFrames() const;

    Engine &engine_;
    Options options_;
    mutable std::mutex fillMutex_; // the disk thread and `readAhead`
    MediaPlan plan_;
    std::shared_ptr<MediaStreams> streams_;
    /// Streams replaced by `readAhead`, left for the disk thread to free.
    std::vector<std::shared_ptr<MediaStreams>> retired_;
    std::vector<int16_t> staging_;
    uint64_t retiredDry_ = 0;
    int64_t announced_ = -1;
    std::chrono::steady_clock::time_point announcedAt_{};
    std::chrono::steady_clock::time_point lastCheck_{};
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
    bool stopping_ = false;
    uint64_t passes_ = 0;
    /// A project without file-backed audio has nothing to keep ahead: the disk thread then
    /// only looks for new media now and then, instead of waking a hundred times a second.
    static constexpr std::chrono::milliseconds idlePeriod{100};
    bool nothingToStream_ = false; // the disk thread's own
    std::thread thread_;
};

} // namespace orvane

#pragma once

#include "core/model/Project.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orvane {

class Engine;

/// The audio clips of a project as the media read-ahead sees them: copies taken under the
/// project lock, so that they can be looked at later from any thread.
struct MediaPlan {
    std::vector<Clip> arrangement; // audio clips on the timeline that hold audio
    std::vector<Clip> session;     // session clips that hold audio
};
MediaPlan planMedia(const Project &project);

/// What to do with a stretch of one buffer's samples.
using MediaAdvice = std::function<void(const SampleBuffer &buffer, int64_t first, int64_t count)>;

/// Calls `advice` for the samples that the arrangement plays between timeline positions
/// `from` and `until`, one call per clip meeting the span, and with `withSession` also for
/// the first `until` - `from` frames of every session clip (a launch may come at any time).
void forEachMediaSpan(const MediaPlan &plan, int64_t from, int64_t until, bool withSession,
                      const MediaAdvice &advice);

/// Keeps an offline render's mapped media to a window around its position: what was played
/// leaves the process's resident set (it stays in the page cache), while the kernel's own
/// read-ahead serves the render's sequential reading. Called on the rendering thread between
/// blocks; it works only every half window, so its system calls cost nothing next to the mix.
class MediaWindow {
  public:
    MediaWindow(MediaPlan plan, int64_t start, int64_t ahead);
    void advance(int64_t position);

  private:
    MediaPlan plan_;
    int64_t ahead_;
    int64_t released_;  // everything before this was released
    int64_t requested_; // everything before this was asked for
};

/// Reads live playback's media ahead of the playhead on a thread of its own, so that the
/// audio thread never waits on a page of a mapped file, and releases what lies behind. It
/// takes the project lock only by trying, so it never holds up a command.
class MediaPrefetcher {
  public:
    struct Options {
        double aheadSeconds = 4.0;
        double behindSeconds = 2.0;
        std::chrono::milliseconds period{100};
    };
    MediaPrefetcher(Engine &engine, Options options);
    explicit MediaPrefetcher(Engine &engine) : MediaPrefetcher(engine, Options{}) {}
    ~MediaPrefetcher();
    MediaPrefetcher(const MediaPrefetcher &) = delete;
    MediaPrefetcher &operator=(const MediaPrefetcher &) = delete;

    /// Reads ahead from `position` at once on the calling thread (not the audio thread):
    /// before playback starts there, so that its first blocks find their pages.
    void readAhead(int64_t position);

    /// Completed passes over the project; a test waits on it with `waitForPasses`.
    uint64_t passes() const;
    /// Waits until at least `count` passes are done or `timeout` has gone by.
    bool waitForPasses(uint64_t count, std::chrono::milliseconds timeout) const;

  private:
    void run();
    void pass();

    Engine &engine_;
    Options options_;
    MediaPlan plan_;
    int64_t lastPosition_ = -1;
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
    bool stopping_ = false;
    uint64_t passes_ = 0;
    std::thread thread_;
};

} // namespace orvane

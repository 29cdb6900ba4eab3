#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace orvane {

/// What a running job and the main thread share: how far the job has come and whether the
/// user asked it to stop. Both sides may touch it at any time.
class JobControl {
  public:
    /// `fraction` in 0..1; a job that cannot tell leaves it unknown (negative).
    void report(double fraction) { done.store(fraction, std::memory_order_relaxed); }
    double fraction() const { return done.load(std::memory_order_relaxed); }
    void cancel() { stopAsked.store(true, std::memory_order_relaxed); }
    bool cancelled() const { return stopAsked.load(std::memory_order_relaxed); }
    void reset() {
        done.store(-1.0, std::memory_order_relaxed);
        stopAsked.store(false, std::memory_order_relaxed);
        memoryRanOut.store(false, std::memory_order_relaxed);
    }
    /// The work stopped because memory ran out.
    void noteOutOfMemory() { memoryRanOut.store(true, std::memory_order_relaxed); }
    bool ranOutOfMemory() const { return memoryRanOut.load(std::memory_order_relaxed); }

  private:
    std::atomic<double> done{-1.0};
    std::atomic<bool> stopAsked{false};
    std::atomic<bool> memoryRanOut{false};
};

/// Work too long for the main thread, made by a main-thread "prepare" step that asked the
/// user and took a snapshot of what the work reads. `perform` touches nothing but that
/// snapshot, so it may run on any thread; `finish` runs back on the main thread with what
/// `perform` left in the shared state and is the only step that changes the document.
struct LongJob {
    std::string title; // shown beside the progress
    bool cancellable = true;
    std::function<void(JobControl &)> perform;
    std::function<void()> finish;
};

/// Runs the whole job on the calling thread, for the commands that have no window.
void runLongJobHere(LongJob &job);

/// One job at a time on a thread of its own. The owner starts a job, learns through `wake`
/// (called on the worker once `perform` returned) that it is done, and finishes it on its own
/// thread. The destructor waits for a running job without finishing it.
class LongJobThread {
  public:
    LongJobThread() = default;
    ~LongJobThread();
    LongJobThread(const LongJobThread &) = delete;
    LongJobThread &operator=(const LongJobThread &) = delete;

    /// False (and nothing started) while an earlier job is running or unfinished.
    [[nodiscard]] bool start(LongJob job, std::function<void()> wake = {});
    /// A job was started and not finished yet.
    bool busy() const { return worker.joinable(); }
    /// Its `perform` has returned.
    bool performed() const { return performDone.load(std::memory_order_acquire); }
    JobControl &control() { return jobControl; }
    const std::string &title() const { return job.title; }
    bool cancellable() const { return job.cancellable; }
    /// When `perform` has returned, runs `finish` here; true when it did.
    bool finishIfDone();
    /// Waits for `perform` and runs `finish` here; false when no job was started.
    [[nodiscard]] bool waitAndFinish();

  private:
    void completeFinish();

    LongJob job;
    JobControl jobControl;
    std::atomic<bool> performDone{false};
    std::thread worker;
};

} // namespace orvane

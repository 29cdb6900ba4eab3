#include "app/shell/LongJob.h"

#include <new>
#include <utility>

namespace orvane {

namespace {

/// Runs `perform`; allocation failure ends the work, never the application: the job's
/// `finish` then sees the result it left unset and reports a failure.
void performGuarded(LongJob &job, JobControl &control) {
    if (!job.perform) return;
    try {
        job.perform(control);
    } catch (const std::bad_alloc &) {
        control.noteOutOfMemory();
    }
}

} // namespace

void runLongJobHere(LongJob &job) {
    JobControl control;
    performGuarded(job, control);
    if (job.finish) job.finish();
}

LongJobThread::~LongJobThread() {
    if (worker.joinable()) worker.join();
}

bool LongJobThread::start(LongJob next, std::function<void()> wake) {
    if (worker.joinable()) return false;
    job = std::move(next);
    jobControl.reset();
    performDone.store(false, std::memory_order_relaxed);
    worker = std::thread([this, wake = std::move(wake)] {
        performGuarded(job, jobControl);
        performDone.store(true, std::memory_order_release);
        if (wake) wake();
    });
    return true;
}

bool LongJobThread::finishIfDone() {
    if (!worker.joinable() || !performed()) return false;
    completeFinish();
    return true;
}

bool LongJobThread::waitAndFinish() {
    if (!worker.joinable()) return false;
    completeFinish();
    return true;
}

void LongJobThread::completeFinish() {
    worker.join();
    // Cleared before `finish` runs, so that it may start the next job.
    LongJob done = std::move(job);
    job = {};
    if (done.finish) done.finish();
}

} // namespace orvane

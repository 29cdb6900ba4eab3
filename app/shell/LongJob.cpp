#include "app/shell/LongJob.h"

#include <utility>

namespace orvane {

void runLongJobHere(LongJob &job) {
    JobControl control;
    if (job.perform) job.perform(control);
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
        if (job.perform) job.perform(jobControl);
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

#include "app/window/PeakCache.h"

#include <algorithm>

namespace orvane {

const PeakLevel *WaveformPeaks::levelFor(double framesPerPixel) const {
    const PeakLevel *chosen = levels.empty() ? nullptr : &levels.front();
    for (const auto &level : levels)
        if (static_cast<double>(level.framesPerBucket) <= framesPerPixel) chosen = &level;
    return chosen;
}

namespace {

PeakLevel finestLevel(const float *samples, int32_t channels, int64_t frames) {
    PeakLevel level;
    level.framesPerBucket = WaveformPeaks::finestFrames;
    const int64_t buckets = (frames + level.framesPerBucket - 1) / level.framesPerBucket;
    level.minimum.assign(static_cast<std::size_t>(buckets), 0.0f);
    level.maximum.assign(static_cast<std::size_t>(buckets), 0.0f);
    for (int64_t frame = 0; frame < frames; ++frame) {
        const auto bucket = static_cast<std::size_t>(frame / level.framesPerBucket);
        const float *first = samples + frame * channels;
        const auto [low, high] = std::minmax_element(first, first + channels);
        level.minimum[bucket] = std::min(level.minimum[bucket], *low);
        level.maximum[bucket] = std::max(level.maximum[bucket], *high);
    }
    return level;
}

PeakLevel coarserLevel(const PeakLevel &finer) {
    PeakLevel level;
    level.framesPerBucket = finer.framesPerBucket * WaveformPeaks::stepFactor;
    const std::size_t buckets =
        (finer.minimum.size() + WaveformPeaks::stepFactor - 1) / WaveformPeaks::stepFactor;
    level.minimum.resize(buckets);
    level.maximum.resize(buckets);
    for (std::size_t bucket = 0; bucket < buckets; ++bucket) {
        const std::size_t from = bucket * WaveformPeaks::stepFactor;
        const std::size_t to = std::min(finer.minimum.size(), from + WaveformPeaks::stepFactor);
        level.minimum[bucket] =
            *std::min_element(finer.minimum.begin() + from, finer.minimum.begin() + to);
        level.maximum[bucket] =
            *std::max_element(finer.maximum.begin() + from, finer.maximum.begin() + to);
    }
    return level;
}

} // namespace

WaveformPeaks buildWaveformPeaks(const float *samples, int64_t count, int32_t channels) {
    WaveformPeaks peaks;
    channels = std::max(channels, 1);
    peaks.frames = count / channels;
    if (peaks.frames == 0) return peaks;
    peaks.levels.push_back(finestLevel(samples, channels, peaks.frames));
    while (peaks.levels.back().minimum.size() > 1)
        peaks.levels.push_back(coarserLevel(peaks.levels.back()));
    return peaks;
}

WaveformPeaks buildWaveformPeaks(const std::vector<float> &samples, int32_t channels) {
    return buildWaveformPeaks(samples.data(), static_cast<int64_t>(samples.size()), channels);
}

WaveformPeaks buildWaveformPeaks(const SampleBuffer &samples, int32_t channels) {
    const FloatSamples converted(samples);
    return buildWaveformPeaks(converted.data(), converted.size(), channels);
}

PeakCache::PeakCache() : worker([this] { run(); }) {}

PeakCache::~PeakCache() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
        queue.clear();
    }
    wake.notify_all();
    worker.join();
}

std::shared_ptr<const WaveformPeaks> PeakCache::peaksFor(const Samples &samples, int32_t channels) {
    if (!samples) return nullptr;
    std::lock_guard lock(mutex);
    const auto owner = samples.owner();
    auto found = entries.find(owner.get());
    if (found != entries.end() && found->second.source.lock() == owner) return found->second.peaks;
    entries[owner.get()] = Entry{owner, nullptr};
    queue.push_back(Job{samples, channels});
    wake.notify_one();
    return nullptr;
}

void PeakCache::waitUntilIdle() {
    std::unique_lock lock(mutex);
    idle.wait(lock, [this] { return queue.empty() && !building; });
}

uint64_t PeakCache::finishedBuilds() const {
    std::lock_guard lock(mutex);
    return finished;
}

void PeakCache::pruneReleased() {
    std::lock_guard lock(mutex);
    std::erase_if(entries, [](const auto &entry) { return entry.second.source.expired(); });
}

void PeakCache::run() {
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !queue.empty(); });
        if (stopping) break;
        Job job = std::move(queue.front());
        queue.pop_front();
        building = true;
        lock.unlock();
        auto peaks =
            std::make_shared<const WaveformPeaks>(buildWaveformPeaks(*job.samples, job.channels));
        lock.lock();
        const auto owner = job.samples.owner();
        auto found = entries.find(owner.get());
        if (found != entries.end() && found->second.source.lock() == owner)
            found->second.peaks = std::move(peaks);
        ++finished;
        building = false;
        if (queue.empty()) idle.notify_all();
    }
    building = false;
    idle.notify_all();
}

} // namespace orvane

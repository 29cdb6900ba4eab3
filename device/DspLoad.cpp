#include "device/DspLoad.h"

#include <algorithm>
#include <cmath>

namespace orvane {

void DspLoadMeter::record(double load) {
    if (!std::isfinite(load) || load < 0.0) load = 0.0;
    const auto bin = std::min(static_cast<std::size_t>(load / binWidth), binCount - 1);
    // One writer: plain read-modify-write through relaxed loads and stores is enough.
    bins[bin].store(bins[bin].load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    sum.store(sum.load(std::memory_order_relaxed) + load, std::memory_order_relaxed);
    if (load > worst.load(std::memory_order_relaxed)) worst.store(load, std::memory_order_relaxed);
    blockCount.store(blockCount.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void DspLoadMeter::reset() {
    for (auto &bin : bins)
        bin.store(0, std::memory_order_relaxed);
    sum.store(0.0, std::memory_order_relaxed);
    worst.store(0.0, std::memory_order_relaxed);
    blockCount.store(0, std::memory_order_release);
}

DspLoadSummary DspLoadMeter::summary() const {
    DspLoadSummary result;
    result.blocks = blockCount.load(std::memory_order_acquire);
    if (result.blocks == 0) return result;
    result.mean = sum.load(std::memory_order_relaxed) / static_cast<double>(result.blocks);
    result.worst = worst.load(std::memory_order_relaxed);
    uint64_t total = 0;
    for (const auto &bin : bins)
        total += bin.load(std::memory_order_relaxed);
    const auto wanted = static_cast<uint64_t>(std::ceil(0.99 * static_cast<double>(total)));
    uint64_t seen = 0;
    for (std::size_t index = 0; index < binCount; ++index) {
        seen += bins[index].load(std::memory_order_relaxed);
        if (seen >= wanted) {
            // The bin's upper edge, never above the worst block actually seen.
            result.p99 = std::min(static_cast<double>(index + 1) * binWidth, result.worst);
            break;
        }
    }
    return result;
}

} // namespace orvane

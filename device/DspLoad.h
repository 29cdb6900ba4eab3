#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace orvane {

/// What the audio thread spent on its blocks, as fractions of the period (1.0 = the whole
/// time the device gave it).
struct DspLoadSummary {
    uint64_t blocks = 0;
    double mean = 0.0;
    double p99 = 0.0;
    double worst = 0.0;
};

/// Block loads gathered without locks or allocation: one writer (the audio thread), readers
/// on any thread. The 99th percentile comes from a histogram in steps of a quarter percent.
class DspLoadMeter {
  public:
    static constexpr double binWidth = 0.0025;
    static constexpr std::size_t binCount = 801; // the last bin holds everything from 200 %

    /// Writer.
    void record(double load);
    /// Writer, while no block runs (a new device or a new period).
    void reset();
    DspLoadSummary summary() const;
    uint64_t blocks() const { return blockCount.load(std::memory_order_acquire); }
    double loadSum() const { return sum.load(std::memory_order_acquire); }

  private:
    std::array<std::atomic<uint32_t>, binCount> bins{};
    std::atomic<uint64_t> blockCount{0};
    std::atomic<double> sum{0.0};
    std::atomic<double> worst{0.0};
};

} // namespace orvane

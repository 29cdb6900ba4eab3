#include "app/cli/EngineSelfCheck.h"

#include "core/engine/Engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

namespace orvane {

EngineSelfCheckReport runEngineSelfCheck(double sampleRate, int32_t blockSize, int32_t blocks) {
    Engine engine;
    engine.prepareToPlay(sampleRate, blockSize);
    const bool queued = engine.pushRequest(RequestProducer::MainThread, Request::play());

    std::vector<float> left(static_cast<std::size_t>(blockSize)), right(left.size());
    std::array<float *, 2> channels{left.data(), right.data()};
    EngineSelfCheckReport report;
    for (int32_t block = 0; block < blocks; ++block) {
        engine.processBlock(channels.data(), 2, blockSize);
        for (std::size_t i = 0; i < left.size(); ++i)
            report.peak = std::max({report.peak, std::abs(left[i]), std::abs(right[i])});
        ++report.blocksRendered;
    }
    report.sampleRate = engine.sampleRate.load();
    report.blockSize = engine.blockSize.load();
    report.playhead = engine.transport.playhead.load();
    report.passed = queued && engine.transport.playing.load() &&
                    report.playhead == static_cast<int64_t>(blockSize) * blocks &&
                    std::isfinite(report.peak);
    return report;
}

std::string describeSelfCheck(const EngineSelfCheckReport &report) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "engine self-check: %s\n  sample rate  %.0f Hz\n  block size   %d frames\n"
                  "  rendered     %d blocks\n  playhead     %lld samples\n  output peak  %.6f\n",
                  report.passed ? "ok" : "FAILED", report.sampleRate, report.blockSize,
                  report.blocksRendered, static_cast<long long>(report.playhead),
                  static_cast<double>(report.peak));
    return text;
}

} // namespace orvane

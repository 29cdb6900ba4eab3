#pragma once

#include <cstdint>
#include <string>

namespace orvane {

struct EngineSelfCheckReport {
    double sampleRate = 0.0;
    int32_t blockSize = 0;
    int32_t blocksRendered = 0;
    int64_t playhead = 0;
    float peak = 0.0f;
    bool passed = false;
};

/// Prepares an engine on the default project, plays a few blocks and reports what it saw.
EngineSelfCheckReport runEngineSelfCheck(double sampleRate, int32_t blockSize, int32_t blocks);
std::string describeSelfCheck(const EngineSelfCheckReport &report);

} // namespace orvane

#include "app/cli/EngineSelfCheck.h"

#include <gtest/gtest.h>

using namespace orvane;

TEST(EngineSelfCheck, DefaultProjectPlaysSilentlyAndAdvances) {
    const auto report = runEngineSelfCheck(44100.0, 256, 5);
    EXPECT_TRUE(report.passed);
    EXPECT_EQ(report.playhead, 1280);
    EXPECT_EQ(report.sampleRate, 44100.0);
    EXPECT_EQ(report.blockSize, 256);
    EXPECT_EQ(report.peak, 0.0f);
    EXPECT_NE(describeSelfCheck(report).find("playhead     1280 samples"), std::string::npos);
}

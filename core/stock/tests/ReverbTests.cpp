#include "core/stock/Reverb.h"

#include "core/stock/tests/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace orvane::stock {
namespace {

std::vector<float> impulseResponse(float size, size_t frames) {
    Reverb reverb;
    reverb.prepare(48000.0);
    reverb.mix = 1.0f;
    reverb.size = size;
    std::vector<float> left(frames, 0.0f);
    left[0] = 1.0f;
    std::vector<float> right = left;
    reverb.process(left.data(), right.data(), static_cast<int>(frames));
    EXPECT_EQ(left, right);
    return left;
}

double energyFrom(const std::vector<float> &samples, size_t begin) {
    double energy = 0.0;
    for (size_t i = begin; i < samples.size(); ++i)
        energy += double(samples[i]) * samples[i];
    return energy;
}

TEST(Reverb, MixZeroIsTheIdentity) {
    Reverb reverb;
    reverb.prepare(48000.0);
    reverb.mix = 0.0f;
    reverb.size = 0.9f;
    const std::vector<float> input = testing::noise(2048, 1.0f, 21);
    std::vector<float> left = input;
    std::vector<float> right = input;
    reverb.process(left.data(), right.data(), 2048);
    EXPECT_EQ(left, input);
    EXPECT_EQ(right, input);
}

TEST(Reverb, LargerSizeRingsLonger) {
    const std::vector<float> small = impulseResponse(0.0f, 400);
    const std::vector<float> large = impulseResponse(1.0f, 400);
    EXPECT_GT(energyFrom(large, 20), 10.0 * energyFrom(small, 20));
}

TEST(Reverb, TailDiesAwayAndSizeIsHeldToItsRange) {
    const std::vector<float> largest = impulseResponse(1.0f, 20000);
    EXPECT_LT(std::fabs(largest.back()), 1e-6f);
    EXPECT_EQ(impulseResponse(7.0f, 20000), largest);
    EXPECT_EQ(impulseResponse(-3.0f, 500), impulseResponse(0.0f, 500));
}

} // namespace
} // namespace orvane::stock

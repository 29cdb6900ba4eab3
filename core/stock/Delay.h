#pragma once

#include <cstddef>
#include <vector>

namespace orvane::stock {

/// Stereo feedback delay ("stock.delay") with up to two seconds of delay. `prepare`
/// allocates the delay lines; `process` only reads and writes them.
class Delay {
  public:
    float mix = 0.5f;
    float feedback = 0.3f;
    float timeMs = 250.0f;

    void prepare(double sampleRate);
    /// In place. Does nothing before `prepare`.
    void process(float *left, float *right, int frames);

    /// Samples per delay line: trunc(2 × sample rate), 0 before `prepare`.
    size_t ringLength() const { return leftRing_.size(); }
    /// How far behind the write position the delayed signal is read with the current
    /// `timeMs`: at least 1, at most the ring length minus 1.
    size_t delaySamples() const;

  private:
    std::vector<float> leftRing_;
    std::vector<float> rightRing_;
    size_t writeIndex_ = 0;
    double sampleRate_ = 48000.0;
};

} // namespace orvane::stock

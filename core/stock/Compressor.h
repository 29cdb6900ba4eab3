#pragma once

namespace orvane::stock {

/// Feed-forward peak compressor ("stock.compressor"; also the loudness stage of the
/// mastering processor). The owner sets the public fields between blocks.
class Compressor {
  public:
    float thresholdDb = -6.0f;
    /// Ratios below 1 (and NaN) act as 1: below 1:1 the gain above the threshold would grow
    /// without bound.
    float ratio = 4.0f;
    /// Times of zero or less make the envelope follow the detector at once.
    float attackMs = 5.0f;
    float releaseMs = 80.0f;
    float makeupDb = 0.0f;

    void prepare(double sampleRate);
    /// In place. `sidechain` is an optional mono detector input of `frames` samples.
    void process(float *left, float *right, int frames, const float *sidechain = nullptr);

    float envelope() const { return envelope_; }
    double sampleRate() const { return sampleRate_; }

  private:
    double sampleRate_ = 48000.0;
    float envelope_ = 0.0f;
};

/// exp(−1 / (sampleRate × ms / 1000)), or 0 (no smoothing) for times of zero or less.
float smoothingCoefficient(double sampleRate, float ms);

} // namespace orvane::stock

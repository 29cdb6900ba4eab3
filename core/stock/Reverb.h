#pragma once

#include <array>

namespace orvane::stock {

/// A light "reverb" ("stock.reverb"): four cascaded one-pole smoothers per channel whose
/// outputs are added back to the input.
class Reverb {
  public:
    float mix = 0.3f;
    /// 0..1; values outside are held to that range, because above 1 the smoothers would
    /// feed back more than they take in and the output would grow without bound.
    float size = 0.5f;

    void prepare(double sampleRate);
    /// In place.
    void process(float *left, float *right, int frames);

    double sampleRate() const { return sampleRate_; }

  private:
    std::array<float, 4> leftStates_{};
    std::array<float, 4> rightStates_{};
    double sampleRate_ = 48000.0;
};

} // namespace orvane::stock

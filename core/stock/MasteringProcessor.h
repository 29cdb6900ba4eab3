#pragma once

#include "core/model/Project.h"
#include "core/stock/Compressor.h"

#include <cstdint>

namespace orvane::stock {

enum class MasteringCharacter : int32_t { Transparent = 0, Warm = 1, Punchy = 2 };

/// The name the mastering panel shows for a character value; unknown values read as
/// "Transparent", as they sound.
const char *masteringCharacterLabel(int32_t character);

/// Last stage of the master bus: optional saturation ("Warm"), exciter, stereo width and a
/// loudness compressor. The engine calls `setSettings` then `process` every block on the
/// audio thread; neither allocates.
class MasteringProcessor {
  public:
    void prepare(double sampleRate);
    /// Copies the settings and derives the compressor's threshold, ratio and make-up.
    void setSettings(const MasteringUtility &settings);
    /// In place. Passes the audio untouched when disabled or bypassed.
    void process(float *left, float *right, int frames);

    const MasteringUtility &settings() const { return settings_; }
    const Compressor &compressor() const { return compressor_; }
    double sampleRate() const { return sampleRate_; }

  private:
    MasteringUtility settings_;
    double sampleRate_ = 48000.0;
    Compressor compressor_;
    float exciterLeft_ = 0.0f;
    float exciterRight_ = 0.0f;
};

} // namespace orvane::stock

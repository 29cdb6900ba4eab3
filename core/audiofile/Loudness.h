#pragma once

#include "core/audiofile/AudioExport.h"

#include <cstdint>
#include <string>
#include <string_view>

// Loudness after EBU R128 (integrated, gated) and true peak, as a delivery is measured.
namespace orvane {

struct LoudnessFigures {
    /// -inf when everything was below the gate (silence).
    double integratedLufs = 0.0;
    double truePeakDb = 0.0;
    double samplePeakDb = 0.0;
    /// How far the loudness moves over the file, in LU; 0 when it is too short to tell.
    double loudnessRangeLu = 0.0;
};

/// Measures the samples an export writes; a tap of `AudioExportWriter`.
class LoudnessMeter final : public ExportTap {
  public:
    LoudnessMeter(int32_t channels, double sampleRate);
    ~LoudnessMeter() override;
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;

    void take(const float *interleaved, int64_t frames) override;
    LoudnessFigures figures() const;

  private:
    void *state_ = nullptr; // ebur128_state
    int32_t channels_;
};

enum class NormalizeMode : uint8_t { Off, Peak, TruePeak, Loudness };

struct Normalization {
    NormalizeMode mode = NormalizeMode::Off;
    /// dBFS for a peak, LUFS for loudness.
    double target = 0.0;
    /// Loudness normalisation never lifts the true peak above this (dBTP).
    double ceilingDb = -1.0;
};

/// "off", "peak:DB", "truepeak:DB" or "lufs:LUFS[:CEILING]" (ceiling -1 dBTP when not given).
[[nodiscard]] bool parseNormalization(std::string_view text, Normalization &normalization,
                                      std::string &error);

/// The most normalisation ever raises a render. What needs more is near-silence (a click,
/// hum, the dither of an empty mix) that would otherwise be blown up to full scale; a real
/// master this quiet is better lifted by hand, knowing it.
constexpr double largestNormalizationGainDb = 20.0;

/// The gain in dB that takes a signal measured as `measured` to the target, without the
/// limit above; 0 for silence or when off.
double wantedNormalizationGainDb(const LoudnessFigures &measured,
                                 const Normalization &normalization);
/// The linear gain that takes a signal measured as `measured` to the target, at most
/// `largestNormalizationGainDb`; 1 for silence or when off.
double normalizationGain(const LoudnessFigures &measured, const Normalization &normalization);
/// Whether loudness normalisation stopped short of its target at the true-peak ceiling, read
/// from the figures of the file it wrote: quieter than asked by more than half a unit, with
/// the true peak at the ceiling.
bool stoppedAtTruePeakCeiling(const LoudnessFigures &written, const Normalization &normalization);

} // namespace orvane

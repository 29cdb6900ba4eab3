#pragma once

#include "core/stock/ParametricEq8.h"

namespace orvane::stock {

/// One band of a stereo cascade: its coefficients and the states it updates.
struct CascadeBand {
    BiquadCoeffs coeffs;
    BiquadState *left = nullptr;
    BiquadState *right = nullptr;
};

constexpr int maxCascadeBands = 8;

/// Runs both channels, in place, through `bandCount` (0..8) biquads in the order given and
/// multiplies the result by `outGain`. The output is bit-identical to calling
/// `processBiquad` band by band for every sample; only the scheduling differs (the bands
/// run as a pipeline, band k one sample behind band k − 1, two bands per vector).
void processStereoCascade(const CascadeBand *bands, int bandCount, float *left, float *right,
                          int frames, float outGain);

} // namespace orvane::stock

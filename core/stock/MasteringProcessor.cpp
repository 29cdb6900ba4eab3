#include "core/stock/MasteringProcessor.h"

#include "core/stock/SampleRate.h"

#include <cmath>

namespace orvane::stock {

namespace {

// NaN settings from a damaged document take the low end of the range.
float clampSetting(float value, float low, float high) {
    if (!(value >= low)) return low;
    return value > high ? high : value;
}

MasteringCharacter characterOf(int32_t value) {
    if (value == static_cast<int32_t>(MasteringCharacter::Warm)) return MasteringCharacter::Warm;
    if (value == static_cast<int32_t>(MasteringCharacter::Punchy))
        return MasteringCharacter::Punchy;
    return MasteringCharacter::Transparent;
}

inline float saturate(float x) { return 0.92f * x + 0.08f * std::tanh(1.4f * x); }

inline float excite(float x, float &lp, float k, float amount) {
    lp = lp + k * (x - lp);
    return x + 0.35f * amount * std::tanh(2.5f * (x - lp));
}

} // namespace

const char *masteringCharacterLabel(int32_t character) {
    switch (characterOf(character)) {
    case MasteringCharacter::Warm: return "Warm";
    case MasteringCharacter::Punchy: return "Punchy";
    case MasteringCharacter::Transparent: break;
    }
    return "Transparent";
}

void MasteringProcessor::prepare(double sampleRate) {
    sampleRate_ = usableSampleRate(sampleRate);
    compressor_.prepare(sampleRate_);
    compressor_.thresholdDb = -6.0f;
    compressor_.ratio = 4.0f;
    compressor_.attackMs = 5.0f;
    compressor_.releaseMs = 80.0f;
    exciterLeft_ = 0.0f;
    exciterRight_ = 0.0f;
}

void MasteringProcessor::setSettings(const MasteringUtility &settings) {
    settings_ = settings;
    const float loudness = clampSetting(settings.loudness, 0.0f, 1.0f);
    const bool punchy = characterOf(settings.character) == MasteringCharacter::Punchy;
    compressor_.thresholdDb = 12.0f * loudness - 18.0f;
    compressor_.ratio = punchy ? 6.0f : 3.5f;
    compressor_.makeupDb = (punchy ? 6.0f : 4.0f) * loudness;
}

void MasteringProcessor::process(float *left, float *right, int frames) {
    if (!settings_.enabled || settings_.bypass || frames < 1) return;
    if (left == nullptr || right == nullptr) return;
    const MasteringCharacter character = characterOf(settings_.character);
    const bool warm = character == MasteringCharacter::Warm;
    const float width = clampSetting(settings_.width, 0.0f, 2.0f);
    const float exciteAmount =
        settings_.excite ? clampSetting(settings_.exciteAmt, 0.0f, 1.0f) : 0.0f;
    const bool exciting = exciteAmount > 0.001f;
    const float exciterStep = warm ? 0.12f : 0.08f;
    // Width 1 is the common setting; skipping it keeps the image bit-exact instead of
    // rebuilding it from mid and side with rounding.
    const bool widening = width != 1.0f;

    for (int i = 0; i < frames; ++i) {
        float l = left[i];
        float r = right[i];
        if (warm) {
            l = saturate(l);
            r = saturate(r);
        }
        if (exciting) {
            l = excite(l, exciterLeft_, exciterStep, exciteAmount);
            r = excite(r, exciterRight_, exciterStep, exciteAmount);
        }
        if (widening) {
            const float mid = (l + r) * 0.5f;
            const float side = width * (l - r) * 0.5f;
            l = mid + side;
            r = mid - side;
        }
        left[i] = l;
        right[i] = r;
    }
    compressor_.process(left, right, frames);
}

} // namespace orvane::stock

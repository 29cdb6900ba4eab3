#pragma once

#include "core/stock/DrumKit.h"
#include "core/stock/DrumSamples.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane::stock {

/// What the audio thread needs of one pad, with no string or heap in it, so that new settings
/// are copied in between blocks without allocating.
struct DrumPadMix {
    int32_t note = -1;
    float gainLeft = 1.0f;
    float gainRight = 1.0f;
    /// Source frames per output frame: 2^(tune / 12).
    double step = 1.0;
    int32_t chokeGroup = 0;
    int32_t layerCount = 0;
    std::array<uint8_t, drum_limits::maxLayers> low{};
    std::array<uint8_t, drum_limits::maxLayers> high{};
    /// Index into the sampler's samples; −1 for a layer whose sample did not load (silent).
    std::array<int16_t, drum_limits::maxLayers> source{};
    bool operator==(const DrumPadMix &) const = default;
};

struct DrumMix {
    std::array<DrumPadMix, drum_limits::maxPads> pads{};
    int32_t padCount = 0;
    bool operator==(const DrumMix &) const = default;
};

/// A kit ready to play: the samples every layer names, loaded (in pad and layer order, one
/// entry per distinct sample), and the settings that point into them. `errors` lists the
/// layers whose sample did not load; they stay silent.
struct DrumKitPlan {
    std::vector<std::shared_ptr<const DrumSample>> sources;
    DrumMix mix;
    std::vector<std::string> errors;
};

/// Loads what `kit` plays; relative files are found under `projectRoot`. Main thread only.
DrumKitPlan planDrumKit(const DrumKit &kit, const std::string &projectRoot);

/// The drum sampler's voices: one-shot samples struck by notes, each pad panned, tuned by a
/// band-limited sinc interpolator, with choke groups and velocity layers. Made on the main
/// thread, where the samples are converted to the engine's rate; `setMix`, the note calls and
/// `process` neither allocate, lock nor call the system.
class DrumSampler {
  public:
    static constexpr int maxVoices = 64;
    /// A choked voice fades out over this long, which no ear hears as a click.
    static constexpr double chokeFadeSeconds = 0.005;

    DrumSampler(const std::vector<std::shared_ptr<const DrumSample>> &sources, double sampleRate);

    /// The samples as the voices play them, at the engine's rate, in `sources`' order.
    const std::vector<std::shared_ptr<const DrumSample>> &samples() const { return samples_; }
    double sampleRate() const { return sampleRate_; }

    /// Settings for the notes struck from now on; voices already sounding keep theirs.
    void setMix(const DrumMix &mix) { mix_ = mix; }
    const DrumMix &mix() const { return mix_; }

    /// Strikes every pad on `pitch` with the layer whose range holds the velocity (0..1, as
    /// 1..127); a pad with a choke group first fades out the group's other pads. Zero
    /// velocity does nothing: a drum hit plays to its end.
    void noteOn(int pitch, float velocity);
    /// Silences every voice at once.
    void allSoundOff();
    /// Adds the voices into both buffers.
    void process(float *left, float *right, int frames);
    int activeVoiceCount() const;

  private:
    struct Voice {
        const DrumSample *sample = nullptr;
        double position = 0.0;
        double step = 1.0;
        /// The interpolator's bandwidth, below 1 when the pad plays higher than recorded.
        double cutoff = 1.0;
        float gainLeft = 0.0f;
        float gainRight = 0.0f;
        float fade = 1.0f;
        bool fading = false;
        int32_t pad = -1;
        int32_t chokeGroup = 0;
        uint64_t order = 0;
        bool active = false;
    };

    Voice &freeVoice();
    void renderVoice(Voice &voice, float *left, float *right, int frames) const;

    std::vector<std::shared_ptr<const DrumSample>> samples_;
    double sampleRate_ = 48000.0;
    float fadeStep_ = 1.0f;
    DrumMix mix_{};
    std::array<Voice, maxVoices> voices_{};
    uint64_t counter_ = 0;
};

} // namespace orvane::stock

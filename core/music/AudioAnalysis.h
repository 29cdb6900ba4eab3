#pragma once

#include "core/model/Project.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Measurements and transforms of interleaved float audio held in memory. Time-domain methods
// without transforms; none keeps state. A frame count and a channel count always come
// from the caller and the functions never read beyond frames × channels values.

/// Output of `splitSimpleStems`, each frames × channels values.
struct SimpleStemBuffers {
    std::vector<float> bass;
    std::vector<float> mid;
    std::vector<float> high;
};

/// A few numbers that describe how a clip sounds, compared by `fingerprintDistance`.
struct AudioFingerprint {
    float rms = 0.0f;
    float zeroCrossingRate = 0.0f;
    /// Energy of even samples over energy of odd samples.
    float evenOddRatio = 1.0f;
    /// Where the energy's centre of gravity lies in time, 0 to 1.
    float energyCentroid = 0.0f;
};

struct SimilarClipMatch {
    uint64_t clipId = 0;
    std::string name;
    float distance = 0.0f;
};

/// The part of a clip's samples that its timeline span plays: from `sourceOffset` for
/// min(`length`, buffer frames − `sourceOffset`) frames. Analyses of a clip read this window
/// only, so a clip longer than its audio is never read past the buffer's end.
struct ClipAudioWindow {
    const float *samples = nullptr;                      // null when the window is empty
    std::shared_ptr<const std::vector<float>> converted; // holds `samples` of mapped audio
    int64_t frames = 0;
    int32_t channels = 1;
};
ClipAudioWindow clipAnalysisWindow(const Clip &clip);

/// Linear-interpolation resampling of `inputFrames` frames into `outputFrames`; pitch and
/// duration change together. Does nothing when any count is below 1.
void stretchAudio(const float *input, int64_t inputFrames, float *output, int64_t outputFrames,
                  int32_t channels);

/// Replaces `buffer` by itself resampled 2^(semitones / 12) times faster (a higher pitch gives
/// a shorter buffer). False, unchanged, for a shift under 0.0001 semitone or over 48 semitones,
/// fewer than 2 frames or no channels.
[[nodiscard]] bool pitchShiftInterleaved(std::vector<float> &buffer, int32_t channels,
                                         float semitones);

/// Tempo in 60 to 200 BPM from the autocorrelation of a 500 Hz onset-strength envelope (the
/// rectified rise of each 2 ms hop's level), its period measured over up to 64 beats; nothing
/// for fewer than 8192 frames or an envelope without a beat.
std::optional<double> detectTempoBpm(const float *samples, int64_t frames, int32_t channels,
                                     double sampleRate);

/// Fundamental in Hz (40 Hz to 2 kHz) from the normalised difference function of the first
/// 4096 frames (more at rates above 45 kHz, three periods of 40 Hz): the first lag where the
/// signal nearly repeats, refined between lags; 0 when there is none.
double estimateAudioFundamentalHz(const float *samples, int64_t frames, int32_t channels,
                                  double sampleRate);

/// Frame where a sound starts: the first place where the mean energy of the next 256 frames
/// exceeds `threshold` and 2.5 times that of the 256 before, placed where the energy after
/// stands highest over the energy before; 0 when there is none.
int64_t detectAudioOnset(const float *samples, int64_t frames, int32_t channels, float threshold);

/// Attacks: where the 1 ms peak envelope rises above `threshold`, by more than `threshold`
/// and to over twice its loudest of the 10 ms before, placed at the first frame above that
/// level; at least 30 ms apart, at most `maxCount`. A steady tone or a slow swell has none.
std::vector<int64_t> detectAudioTransients(const float *samples, int64_t frames, int32_t channels,
                                           double sampleRate, float threshold, int32_t maxCount);

/// Bass, mid and high of the first two channels by two one-pole filters; the three add up to
/// the input. False for no frames, no channels or absent samples.
[[nodiscard]] bool splitSimpleStems(const float *samples, int64_t frames, int32_t channels,
                                    SimpleStemBuffers &stems);

AudioFingerprint computeAudioFingerprint(const float *samples, int64_t frames, int32_t channels);
float fingerprintDistance(const AudioFingerprint &a, const AudioFingerprint &b);

/// The other audio clips with samples, nearest in sound to the clip `clipId` first.
std::vector<SimilarClipMatch> findSimilarAudioClips(const Project &project, uint64_t clipId,
                                                    std::size_t maxCount);

/// The `stretchRatio` that plays audio of `detectedBpm` at `projectBpm`: the renderer reads
/// source frame = timeline offset × ratio, so a faster clip in a slower project reads slower.
double tempoAdaptationStretchRatio(double projectBpm, double detectedBpm);

} // namespace orvane

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Exported audio in the formats a delivery asks for: converted to the delivery's rate,
// scaled, dithered and encoded as it is rendered, so that a long export never holds its
// whole output in memory.
namespace orvane {

enum class ExportContainer : uint8_t { Wav, Flac, Ogg, Mp3 };

struct ExportFormat {
    ExportContainer container = ExportContainer::Wav;
    /// WAV: 16, 24 or 32 (float); FLAC: 16 or 24; Ogg and MP3 encode from float.
    int32_t bits = 16;
    /// 0 keeps the rate the project renders at.
    double sampleRate = 0.0;
    /// TPDF dither on integer samples below 32 bits.
    bool dither = true;
    /// Ogg and MP3: 0 smallest file to 1 best sound.
    double quality = 0.7;
};

/// "wav", "flac", "ogg" or "mp3".
[[nodiscard]] bool parseExportContainer(std::string_view name, ExportContainer &container);
std::string_view exportContainerName(ExportContainer container);
/// The depth a format takes when none is given: 16 bits for WAV and FLAC.
int32_t defaultExportBits(ExportContainer container);
/// The delivery rates an export converts to.
bool isExportSampleRate(double sampleRate);
/// False with `error` for a combination that cannot be written (FLAC in float, MP3 at
/// 96 kHz, ...).
[[nodiscard]] bool checkExportFormat(const ExportFormat &format, double renderRate,
                                     std::string &error);
/// True when the samples are rounded to integers below 32 bits, where dither applies.
bool quantisesToInteger(const ExportFormat &format);
/// The rate the file is written at.
double exportRateOf(const ExportFormat &format, double renderRate);
/// The frames an export of `renderFrames` rendered frames holds at the file's rate.
int64_t exportFramesOf(const ExportFormat &format, double renderRate, int64_t renderFrames);
/// The most frames a file of this format can hold, by its headers' 32-bit sizes.
int64_t largestExportFrames(const ExportFormat &format, int32_t channels);

/// Sees every sample as it goes to the file (after conversion and gain, before dither).
class ExportTap {
  public:
    virtual ~ExportTap() = default;
    virtual void take(const float *interleaved, int64_t frames) = 0;
};

/// Rate conversion, gain, dither and encoding of one export. Feed it the rendered blocks with
/// `append`, then call `finish`. Without a file (`openMeasureOnly`) it only converts and
/// hands the samples to the tap, which is how a normalising export measures first.
class AudioExportWriter {
  public:
    AudioExportWriter();
    ~AudioExportWriter();
    AudioExportWriter(const AudioExportWriter &) = delete;
    AudioExportWriter &operator=(const AudioExportWriter &) = delete;

    /// Writes into `descriptor`, a regular file the caller opened and closes afterwards.
    /// `originFrame` is the first rendered frame's place on the timeline: dither is drawn from
    /// it, so that a part exported alone matches the same part of a whole export.
    [[nodiscard]] bool open(int descriptor, const ExportFormat &format, int32_t channels,
                            double renderRate, int64_t originFrame, std::string &error);
    [[nodiscard]] bool openMeasureOnly(const ExportFormat &format, int32_t channels,
                                       double renderRate, std::string &error);
    void setGain(double linearGain) { gain_ = static_cast<float>(linearGain); }
    void setTap(ExportTap *tap) { tap_ = tap; }

    /// False once writing failed; `error` then says why.
    [[nodiscard]] bool append(const float *interleaved, int64_t frames);
    /// Converts what the rate converter holds back, pads or trims to the exact length,
    /// and completes the file's headers.
    [[nodiscard]] bool finish();
    int64_t framesWritten() const { return written_; }
    const std::string &error() const { return error_; }
    /// The system's error number of the write to the file that failed; 0 for none.
    int writeErrorNumber() const;

  private:
    struct Resampler;
    struct Output;
    [[nodiscard]] bool prepare(const ExportFormat &format, int32_t channels, double renderRate,
                               std::string &error);
    [[nodiscard]] bool emit(const float *interleaved, int64_t frames);
    [[nodiscard]] bool encode(const float *interleaved, int64_t frames);
    /// Hands the encoded frames held back to the file: one write for many blocks, as a
    /// system call per block costs more than the block's encoding on some machines.
    [[nodiscard]] bool writePending();
    bool fail(const std::string &why);

    ExportFormat format_;
    int32_t channels_ = 2;
    double renderRate_ = 48000.0;
    int64_t originFrame_ = 0;
    int64_t rendered_ = 0;
    int64_t written_ = 0;
    float gain_ = 1.0f;
    ExportTap *tap_ = nullptr;
    void *file_ = nullptr; // SNDFILE
    /// Where libsndfile's writes go: every one is checked here, as some of its encoders
    /// (MP3) drop a failed write without a word.
    std::unique_ptr<Output> output_;
    std::unique_ptr<Resampler> resampler_;
    std::vector<float> scaled_;
    static constexpr std::size_t writeBatchFrames = 16384;
    std::vector<float> pendingFloats_;
    std::vector<int32_t> pendingIntegers_;
    std::size_t pendingFrames_ = 0;
    std::string error_;
    bool failed_ = false;
};

/// TPDF dither for `bits`-bit integers, scaled by 2^(bits-1)-1 as the WAV writer scales:
/// the sum of two independent uniform values of one step each, drawn from the sample's place
/// (frame on the timeline and channel) so that it is the same whenever that place is
/// exported. Without dither the sample is rounded. Saturates at full scale. A sample of
/// exactly zero stays zero, undithered.
int32_t quantiseSample(float sample, int32_t bits, bool dither, int64_t frame, int32_t channel);

} // namespace orvane

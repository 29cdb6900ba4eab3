#include "core/audiofile/AudioExport.h"

#include "core/model/Translate.h"
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

#include <samplerate.h>
#include <sndfile.h>

namespace orvane {

namespace {

constexpr std::array<double, 4> exportRates{44100.0, 48000.0, 88200.0, 96000.0};
constexpr int64_t convertChunkFrames = 4096;

SNDFILE *asFile(void *file) { return static_cast<SNDFILE *>(file); }

int sndfileFormatOf(const ExportFormat &format) {
    switch (format.container) {
    case ExportContainer::Wav:
        return SF_FORMAT_WAV | (format.bits == 32   ? SF_FORMAT_FLOAT
                                : format.bits == 24 ? SF_FORMAT_PCM_24
                                                    : SF_FORMAT_PCM_16);
    case ExportContainer::Flac:
        return SF_FORMAT_FLAC | (format.bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    case ExportContainer::Ogg: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case ExportContainer::Mp3: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    }
    return 0;
}

bool takesBits(const ExportFormat &format) {
    return format.container == ExportContainer::Wav || format.container == ExportContainer::Flac;
}

uint64_t mixBits(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

/// Two uniform values in [0, 1) summed and centred: triangular over -1..1 steps.
double triangularNoise(int64_t frame, int32_t channel) {
    const uint64_t bits =
        mixBits(static_cast<uint64_t>(frame) * 8u + static_cast<uint32_t>(channel));
    constexpr double unit = 1.0 / 4294967296.0;
    return static_cast<double>(bits >> 32) * unit + static_cast<double>(bits & 0xFFFFFFFFu) * unit -
           1.0;
}

} // namespace

/// libsamplerate at its best quality, fed block by block.
struct AudioExportWriter::Resampler {
    SRC_STATE *state = nullptr;
    double ratio = 1.0;
    int32_t channels = 2;
    std::vector<float> output;

    ~Resampler() {
        if (state) src_delete(state);
    }
};

/// The file an export writes, seen by libsndfile through these calls, which remember the first
/// write that failed and how far the file must reach. A failed write is reported to libsndfile
/// as done: the writer checks `failure` after every call into the library, and libsndfile's Ogg
/// encoder leaks its whole state when a write fails while the file is opened.
struct AudioExportWriter::Output {
    int descriptor = -1;
    int failure = 0;
    sf_count_t end = 0;

    static Output &of(void *data) { return *static_cast<Output *>(data); }
    static sf_count_t length(void *data) {
        struct stat status {};
        return ::fstat(of(data).descriptor, &status) == 0 ? status.st_size : -1;
    }
    static sf_count_t seek(sf_count_t offset, int whence, void *data) {
        return ::lseek(of(data).descriptor, static_cast<off_t>(offset), whence);
    }
    static sf_count_t tell(void *data) { return ::lseek(of(data).descriptor, 0, SEEK_CUR); }
    static sf_count_t read(void *into, sf_count_t count, void *data) {
        sf_count_t done = 0;
        while (done < count) {
            const ssize_t got = ::read(of(data).descriptor, static_cast<char *>(into) + done,
                                       static_cast<std::size_t>(count - done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += got;
        }
        return done;
    }
    static sf_count_t write(const void *from, sf_count_t count, void *data) {
        Output &output = of(data);
        if (output.failure != 0) return count;
        sf_count_t done = 0;
        while (done < count) {
            const ssize_t put = ::write(output.descriptor, static_cast<const char *>(from) + done,
                                        static_cast<std::size_t>(count - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                output.failure = put < 0 ? errno : ENOSPC;
                return count;
            }
            done += put;
        }
        const off_t at = ::lseek(output.descriptor, 0, SEEK_CUR);
        if (at > output.end) output.end = at;
        return done;
    }
    /// Empty when every byte reached the file; else why not.
    std::string problem() const {
        if (failure != 0) return std::strerror(failure);
        if (length(const_cast<Output *>(this)) < end) return std::strerror(EIO);
        return {};
    }
};

bool parseExportContainer(std::string_view name, ExportContainer &container) {
    static constexpr std::array<std::pair<std::string_view, ExportContainer>, 4> names{{
        {"wav", ExportContainer::Wav},
        {"flac", ExportContainer::Flac},
        {"ogg", ExportContainer::Ogg},
        {"mp3", ExportContainer::Mp3},
    }};
    for (const auto &[text, value] : names) {
        if (text == name) {
            container = value;
            return true;
        }
    }
    return false;
}

std::string_view exportContainerName(ExportContainer container) {
    switch (container) {
    case ExportContainer::Wav: return "wav";
    case ExportContainer::Flac: return "flac";
    case ExportContainer::Ogg: return "ogg";
    case ExportContainer::Mp3: return "mp3";
    }
    return "wav";
}

int32_t defaultExportBits(ExportContainer container) {
    return container == ExportContainer::Ogg || container == ExportContainer::Mp3 ? 32 : 16;
}

bool isExportSampleRate(double sampleRate) {
    return std::find(exportRates.begin(), exportRates.end(), sampleRate) != exportRates.end();
}

double exportRateOf(const ExportFormat &format, double renderRate) {
    return format.sampleRate > 0.0 ? format.sampleRate : renderRate;
}

bool quantisesToInteger(const ExportFormat &format) {
    return takesBits(format) && format.bits < 32;
}

bool checkExportFormat(const ExportFormat &format, double renderRate, std::string &error) {
    const std::string name(exportContainerName(format.container));
    if (format.container == ExportContainer::Wav && format.bits != 16 && format.bits != 24 &&
        format.bits != 32) {
        error = withArguments(
            translate("AudioExport", "WAV is written with 16, 24 or 32 (float) bits, not %1"),
            {std::to_string(format.bits)});
        return false;
    }
    if (format.container == ExportContainer::Flac && format.bits != 16 && format.bits != 24) {
        error =
            withArguments(translate("AudioExport", "FLAC is written with 16 or 24 bits, not %1"),
                          {std::to_string(format.bits)});
        return false;
    }
    if (format.sampleRate != 0.0 && !isExportSampleRate(format.sampleRate)) {
        error = translate("AudioExport", "the export rate must be 44100, 48000, 88200 or 96000 Hz");
        return false;
    }
    const double rate = exportRateOf(format, renderRate);
    if (format.container == ExportContainer::Mp3 && rate != 32000.0 && rate != 44100.0 &&
        rate != 48000.0) {
        error = withArguments(
            translate("AudioExport", "MP3 is written at 32000, 44100 or 48000 Hz, not %1"),
            {std::to_string(static_cast<int64_t>(rate))});
        return false;
    }
    if (!(format.quality >= 0.0 && format.quality <= 1.0)) {
        error =
            withArguments(translate("AudioExport", "the quality of %1 runs from 0 to 1"), {name});
        return false;
    }
    return true;
}

int64_t exportFramesOf(const ExportFormat &format, double renderRate, int64_t renderFrames) {
    const double rate = exportRateOf(format, renderRate);
    if (rate == renderRate) return renderFrames;
    return static_cast<int64_t>(
        std::llround(static_cast<double>(renderFrames) * rate / renderRate));
}

int64_t largestExportFrames(const ExportFormat &format, int32_t channels) {
    if (format.container != ExportContainer::Wav) return std::numeric_limits<int64_t>::max() / 4;
    const int64_t bytesPerFrame = int64_t{channels} * (format.bits / 8);
    // The header, a fact chunk and a peak chunk of a float file fit in 128 bytes.
    return (int64_t{std::numeric_limits<uint32_t>::max()} - 128) / bytesPerFrame;
}

int32_t quantiseSample(float sample, int32_t bits, bool dither, int64_t frame, int32_t channel) {
    const double scale = static_cast<double>((int64_t{1} << (bits - 1)) - 1);
    // Digital silence stays silent: a muted track or the tail of a song gets no noise floor.
    if (std::isnan(sample) || sample == 0.0f) return 0;
    double value = static_cast<double>(sample) * scale;
    if (dither) value += triangularNoise(frame, channel);
    value = std::round(value);
    return static_cast<int32_t>(std::clamp(value, -scale, scale));
}

namespace {

/// `quantiseSample` for a whole block, without a library call per sample: the conversion to
/// an integer truncates, and the fraction it leaves is exact, so stepping away from zero on a
/// fraction of a half or more rounds half away from zero exactly as `std::round` does (adding
/// a half before truncating would not: 0.5 minus a hair would become 1). Clamping to one step
/// beyond full scale before the conversion keeps it in range and saturates as before.
void quantiseBlock(const float *samples, std::size_t count, int32_t bits, bool dither,
                   int64_t firstFrame, int32_t channels, int32_t *out) {
    const int64_t full = (int64_t{1} << (bits - 1)) - 1;
    const auto scale = static_cast<double>(full);
    const int shift = 32 - bits;
    const auto quantise = [&](float sample, double noise) {
        double value = static_cast<double>(sample) * scale + noise;
        value = std::clamp(value, -scale - 1.0, scale + 1.0);
        auto rounded = static_cast<int64_t>(value);
        const double fraction = value - static_cast<double>(rounded);
        rounded += static_cast<int64_t>(fraction >= 0.5) - static_cast<int64_t>(fraction <= -0.5);
        rounded = std::clamp(rounded, -full, full);
        // Silence stays undithered and what is not a number becomes silence.
        if (sample == 0.0f || !(sample == sample)) rounded = 0;
        return static_cast<int32_t>(static_cast<uint32_t>(rounded) << shift);
    };
    if (!dither) {
        for (std::size_t index = 0; index < count; ++index) out[index] = quantise(samples[index], 0.0);
        return;
    }
    const auto width = static_cast<std::size_t>(channels);
    for (std::size_t start = 0, frame = 0; start < count; start += width, ++frame)
        for (std::size_t channel = 0; channel < width && start + channel < count; ++channel)
            out[start + channel] =
                quantise(samples[start + channel],
                         triangularNoise(firstFrame + static_cast<int64_t>(frame),
                                         static_cast<int32_t>(channel)));
}

} // namespace

AudioExportWriter::AudioExportWriter() = default;

AudioExportWriter::~AudioExportWriter() {
    if (file_) sf_close(asFile(file_));
}

bool AudioExportWriter::prepare(const ExportFormat &format, int32_t channels, double renderRate,
                                std::string &error) {
    if (channels < 1 || channels > 2 || !(renderRate > 0.0)) {
        error = "an export takes one or two channels at a positive rate";
        return false;
    }
    if (!checkExportFormat(format, renderRate, error)) return false;
    format_ = format;
    if (!takesBits(format_)) format_.bits = 32;
    channels_ = channels;
    renderRate_ = renderRate;
    const double rate = exportRateOf(format_, renderRate);
    if (rate != renderRate) {
        resampler_ = std::make_unique<Resampler>();
        int fault = 0;
        resampler_->state = src_new(SRC_SINC_BEST_QUALITY, channels, &fault);
        if (!resampler_->state) {
            error = std::string("cannot convert the rate: ") + src_strerror(fault);
            return false;
        }
        resampler_->ratio = rate / renderRate;
        resampler_->channels = channels;
        resampler_->output.resize(static_cast<std::size_t>(convertChunkFrames * channels));
    }
    return true;
}

bool AudioExportWriter::openMeasureOnly(const ExportFormat &format, int32_t channels,
                                        double renderRate, std::string &error) {
    return prepare(format, channels, renderRate, error);
}

bool AudioExportWriter::open(int descriptor, const ExportFormat &format, int32_t channels,
                             double renderRate, int64_t originFrame, std::string &error) {
    if (!prepare(format, channels, renderRate, error)) return false;
    originFrame_ = exportFramesOf(format_, renderRate, originFrame);
    SF_INFO info{};
    info.samplerate = static_cast<int>(exportRateOf(format_, renderRate));
    info.channels = channels;
    info.format = sndfileFormatOf(format_);
    if (!sf_format_check(&info)) {
        error = "libsndfile cannot write " + std::string(exportContainerName(format_.container)) +
                " at " + std::to_string(info.samplerate) + " Hz";
        return false;
    }
    static SF_VIRTUAL_IO calls{&Output::length, &Output::seek, &Output::read, &Output::write,
                               &Output::tell};
    output_ = std::make_unique<Output>();
    output_->descriptor = descriptor;
    SNDFILE *file = sf_open_virtual(&calls, SFM_WRITE, &info, output_.get());
    if (!file) {
        error = std::string("cannot start the file: ") +
                (output_->failure != 0 ? std::strerror(output_->failure) : sf_strerror(nullptr));
        return false;
    }
    file_ = file;
    // The header did not reach the file; the file is closed with the writer.
    if (output_->failure != 0) {
        error = std::string("cannot start the file: ") + std::strerror(output_->failure);
        (void)fail(error);
        return false;
    }
    if (format_.container == ExportContainer::Mp3) {
        int mode = SF_BITRATE_MODE_VARIABLE;
        sf_command(file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    }
    if (format_.container == ExportContainer::Ogg || format_.container == ExportContainer::Mp3) {
        double compression = 1.0 - format_.quality;
        sf_command(file, SFC_SET_COMPRESSION_LEVEL, &compression, sizeof compression);
    }
    return true;
}

int AudioExportWriter::writeErrorNumber() const { return output_ ? output_->failure : 0; }

bool AudioExportWriter::fail(const std::string &why) {
    if (!failed_) error_ = why;
    failed_ = true;
    return false;
}

bool AudioExportWriter::append(const float *interleaved, int64_t frames) {
    if (failed_) return false;
    rendered_ += frames;
    if (!resampler_) return emit(interleaved, frames);
    Resampler &converter = *resampler_;
    SRC_DATA data{};
    data.data_in = interleaved;
    data.input_frames = static_cast<long>(frames);
    data.src_ratio = converter.ratio;
    while (data.input_frames > 0) {
        data.data_out = converter.output.data();
        data.output_frames = static_cast<long>(convertChunkFrames);
        if (const int fault = src_process(converter.state, &data); fault != 0)
            return fail(std::string("cannot convert the rate: ") + src_strerror(fault));
        if (!emit(converter.output.data(), data.output_frames_gen)) return false;
        data.data_in += data.input_frames_used * converter.channels;
        data.input_frames -= data.input_frames_used;
        if (data.input_frames_used == 0 && data.output_frames_gen == 0) break;
    }
    return true;
}

bool AudioExportWriter::emit(const float *interleaved, int64_t frames) {
    // The converter may give a frame or two beyond the exact length at the end.
    const int64_t wanted = exportFramesOf(format_, renderRate_, rendered_);
    if (resampler_) frames = std::min(frames, std::max<int64_t>(wanted - written_, 0));
    if (frames <= 0) return true;
    const std::size_t count = static_cast<std::size_t>(frames * channels_);
    scaled_.resize(count);
    for (std::size_t index = 0; index < count; ++index)
        scaled_[index] = interleaved[index] * gain_;
    if (tap_) tap_->take(scaled_.data(), frames);
    if (file_ && !encode(scaled_.data(), frames)) return false;
    written_ += frames;
    return true;
}

bool AudioExportWriter::encode(const float *interleaved, int64_t frames) {
    const auto count = static_cast<std::size_t>(frames * channels_);
    const std::size_t held = pendingFrames_ * static_cast<std::size_t>(channels_);
    if (!quantisesToInteger(format_)) {
        pendingFloats_.resize(held + count);
        std::copy_n(interleaved, count, pendingFloats_.data() + held);
    } else {
        pendingIntegers_.resize(held + count);
        // libsndfile keeps the top bits of an int: place the sample there, exactly.
        quantiseBlock(interleaved, count, format_.bits, format_.dither, originFrame_ + written_,
                      channels_, pendingIntegers_.data() + held);
    }
    pendingFrames_ += static_cast<std::size_t>(frames);
    return pendingFrames_ < writeBatchFrames || writePending();
}

bool AudioExportWriter::writePending() {
    if (pendingFrames_ == 0) return true;
    SNDFILE *file = asFile(file_);
    const auto frames = static_cast<sf_count_t>(pendingFrames_);
    const sf_count_t done = quantisesToInteger(format_)
                                ? sf_writef_int(file, pendingIntegers_.data(), frames)
                                : sf_writef_float(file, pendingFloats_.data(), frames);
    pendingFrames_ = 0;
    if (output_->failure != 0)
        return fail(std::string("cannot write the file: ") + std::strerror(output_->failure));
    // libsndfile prints to standard output when asked to name an error code it set below zero
    // (its Ogg encoder does), and names it only as its own bug.
    if (done != frames)
        return fail(std::string("cannot write the file: ") +
                    (sf_error(file) > 0 ? sf_strerror(file) : "the encoder refused the samples"));
    return true;
}

bool AudioExportWriter::finish() {
    if (failed_) return false;
    if (resampler_) {
        Resampler &converter = *resampler_;
        const std::vector<float> silence(static_cast<std::size_t>(channels_), 0.0f);
        SRC_DATA data{};
        data.data_in = silence.data();
        data.input_frames = 0;
        data.src_ratio = converter.ratio;
        data.end_of_input = 1;
        for (;;) {
            data.data_out = converter.output.data();
            data.output_frames = static_cast<long>(convertChunkFrames);
            if (const int fault = src_process(converter.state, &data); fault != 0)
                return fail(std::string("cannot convert the rate: ") + src_strerror(fault));
            if (data.output_frames_gen == 0) break;
            if (!emit(converter.output.data(), data.output_frames_gen)) return false;
        }
        // Whatever the converter still owes of the exact length is silence.
        const int64_t wanted = exportFramesOf(format_, renderRate_, rendered_);
        std::vector<float> pad;
        while (written_ < wanted) {
            const int64_t frames = std::min(wanted - written_, convertChunkFrames);
            pad.assign(static_cast<std::size_t>(frames * channels_), 0.0f);
            if (!emit(pad.data(), frames)) return false;
        }
    }
    if (!file_) return true;
    if (!writePending()) return false;
    SNDFILE *file = asFile(file_);
    file_ = nullptr;
    sf_write_sync(file);
    const int closed = sf_close(file);
    // What the encoder did not report, the file shows: a write that failed, or a file shorter
    // than what was written to it.
    if (const std::string problem = output_->problem(); !problem.empty())
        return fail("cannot write the file: " + problem);
    if (closed != 0) return fail("cannot complete the file");
    return true;
}

} // namespace orvane

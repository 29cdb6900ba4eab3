#include "core/audiofile/AudioFile.h"

#include <algorithm>

#include <cmath>
#include <new>

#include <fcntl.h>
#include <unistd.h>

#include <samplerate.h>
#include <sndfile.h>

#include "core/audiofile/FfmpegLibrary.h"

namespace orvane {

namespace {

/// The decoder's messages. The open failure originally named the other platform's file
/// interface; on Linux it names the library that opens the file.
struct DecodeMessages {
    static constexpr const char *badPath = "bad path";
    static constexpr const char *openFailed = "sf_open failed"; // was "ExtAudioFileOpenURL failed"
    static constexpr const char *formatRefused = "set client format failed";
};

constexpr sf_count_t framesPerRead = 4096;

/// Audio at the file's own rate, already mapped to interleaved stereo.
struct SourceAudio {
    std::vector<float> stereo;
    double sampleRate = 0.0;
};

/// Keeps the first two channels and duplicates a single one, for every decoder alike.
void appendAsStereo(const float *interleaved, int64_t frames, int channels,
                    std::vector<float> &stereo) {
    const std::size_t start = stereo.size();
    stereo.resize(start + 2 * static_cast<std::size_t>(frames));
    float *out = stereo.data() + start;
    for (int64_t frame = 0; frame < frames; ++frame) {
        const float *in = interleaved + frame * channels;
        out[2 * frame] = in[0];
        out[2 * frame + 1] = channels >= 2 ? in[1] : in[0];
    }
}

bool readSndfile(SNDFILE *file, const SF_INFO &info, SourceAudio &source) {
    if (info.channels < 1 || info.samplerate < 1 || info.channels > 4096) {
        sf_close(file);
        return false;
    }
    source.sampleRate = info.samplerate;
    // The frame count comes from the header; the reserve is only a hint, so keep it modest.
    source.stereo.reserve(
        2 * static_cast<std::size_t>(std::clamp<sf_count_t>(info.frames, 1, sf_count_t{1} << 24)));
    std::vector<float> block(static_cast<std::size_t>(framesPerRead * info.channels));
    while (true) {
        const sf_count_t got = sf_readf_float(file, block.data(), framesPerRead);
        if (got <= 0) break;
        appendAsStereo(block.data(), got, info.channels, source.stereo);
    }
    sf_close(file);
    return true;
}

bool readWithSndfile(const std::string &path, SourceAudio &source) {
    SF_INFO info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    return file && readSndfile(file, info, source);
}

struct FormatCloser {
    void operator()(AVFormatContext *context) const {
        ffmpegLibrary()->avformat_close_input(&context);
    }
};
struct CodecFreer {
    void operator()(AVCodecContext *context) const {
        ffmpegLibrary()->avcodec_free_context(&context);
    }
};
struct ResamplerFreer {
    void operator()(SwrContext *context) const { ffmpegLibrary()->swr_free(&context); }
};
struct FrameFreer {
    void operator()(AVFrame *frame) const { ffmpegLibrary()->av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket *packet) const { ffmpegLibrary()->av_packet_free(&packet); }
};

/// An opened FFmpeg audio stream with a converter to interleaved float in its own layout.
struct FfmpegStream {
    std::unique_ptr<AVFormatContext, FormatCloser> format;
    std::unique_ptr<AVCodecContext, CodecFreer> codec;
    std::unique_ptr<SwrContext, ResamplerFreer> converter;
    int streamIndex = -1;
    int channels = 0;
};

bool openFfmpegStream(const FfmpegLibrary &ffmpeg, const std::string &path, FfmpegStream &stream) {
    AVFormatContext *rawFormat = nullptr;
    if (ffmpeg.avformat_open_input(&rawFormat, path.c_str(), nullptr, nullptr) < 0) return false;
    stream.format.reset(rawFormat);
    if (ffmpeg.avformat_find_stream_info(rawFormat, nullptr) < 0) return false;
    const AVCodec *decoder = nullptr;
    stream.streamIndex =
        ffmpeg.av_find_best_stream(rawFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (stream.streamIndex < 0 || !decoder) return false;
    stream.codec.reset(ffmpeg.avcodec_alloc_context3(decoder));
    AVCodecContext *codec = stream.codec.get();
    if (!codec ||
        ffmpeg.avcodec_parameters_to_context(
            codec, rawFormat->streams[stream.streamIndex]->codecpar) < 0 ||
        ffmpeg.avcodec_open2(codec, decoder, nullptr) < 0)
        return false;
    stream.channels = codec->ch_layout.nb_channels;
    if (stream.channels < 1 || codec->sample_rate < 1) return false;
    SwrContext *converter = nullptr;
    if (ffmpeg.swr_alloc_set_opts2(&converter, &codec->ch_layout, AV_SAMPLE_FMT_FLT,
                                   codec->sample_rate, &codec->ch_layout, codec->sample_fmt,
                                   codec->sample_rate, 0, nullptr) < 0)
        return false;
    stream.converter.reset(converter);
    return ffmpeg.swr_init(converter) >= 0;
}

void convertFrame(const FfmpegLibrary &ffmpeg, FfmpegStream &stream, const AVFrame &frame,
                  std::vector<float> &scratch, SourceAudio &source) {
    const int capacity = ffmpeg.swr_get_out_samples(stream.converter.get(), frame.nb_samples);
    if (capacity <= 0) return;
    scratch.resize(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(stream.channels));
    auto *out = reinterpret_cast<uint8_t *>(scratch.data());
    const int converted =
        ffmpeg.swr_convert(stream.converter.get(), &out, capacity,
                           const_cast<const uint8_t **>(frame.extended_data), frame.nb_samples);
    if (converted > 0) appendAsStereo(scratch.data(), converted, stream.channels, source.stereo);
}

void drainDecoder(const FfmpegLibrary &ffmpeg, FfmpegStream &stream, AVFrame &frame,
                  std::vector<float> &scratch, SourceAudio &source) {
    while (ffmpeg.avcodec_receive_frame(stream.codec.get(), &frame) == 0) {
        convertFrame(ffmpeg, stream, frame, scratch, source);
        ffmpeg.av_frame_unref(&frame);
    }
}

/// For what libsndfile cannot open, M4A (AAC, ALAC) above all.
bool readWithFfmpeg(const std::string &path, SourceAudio &source) {
    const FfmpegLibrary *library = ffmpegLibrary();
    if (!library) return false;
    const FfmpegLibrary &ffmpeg = *library;
    ffmpeg.av_log_set_level(AV_LOG_QUIET);
    FfmpegStream stream;
    if (!openFfmpegStream(ffmpeg, path, stream)) return false;
    source.sampleRate = stream.codec->sample_rate;
    std::unique_ptr<AVPacket, PacketFreer> packet(ffmpeg.av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(ffmpeg.av_frame_alloc());
    if (!packet || !frame) return false;
    std::vector<float> scratch;
    while (ffmpeg.av_read_frame(stream.format.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream.streamIndex &&
            ffmpeg.avcodec_send_packet(stream.codec.get(), packet.get()) >= 0)
            drainDecoder(ffmpeg, stream, *frame, scratch, source);
        ffmpeg.av_packet_unref(packet.get());
    }
    ffmpeg.avcodec_send_packet(stream.codec.get(), nullptr);
    drainDecoder(ffmpeg, stream, *frame, scratch, source);
    return true;
}

/// libsamplerate's range of conversion ratios.
bool canConvert(double fromRate, double toRate) {
    if (!std::isfinite(toRate) || toRate <= 0.0 || fromRate <= 0.0) return false;
    const double ratio = toRate / fromRate;
    return ratio >= 1.0 / 256.0 && ratio <= 256.0;
}

bool resampleStereo(const std::vector<float> &input, double ratio, std::vector<float> &output) {
    const long inputFrames = static_cast<long>(input.size() / 2);
    const long outputCapacity = static_cast<long>(std::ceil(inputFrames * ratio)) + 64;
    output.assign(2 * static_cast<std::size_t>(outputCapacity), 0.0f);
    SRC_DATA data{};
    data.data_in = input.data();
    data.input_frames = inputFrames;
    data.data_out = output.data();
    data.output_frames = outputCapacity;
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_BEST_QUALITY, 2) != 0) return false;
    output.resize(2 * static_cast<std::size_t>(data.output_frames_gen));
    return true;
}

bool failWith(std::string *error, const char *message) {
    if (error) *error = message;
    return false;
}

/// The descriptor's file through our own 16-bit reader, which keeps the export grid exact.
bool readPcm16(int descriptor, SourceAudio &source) {
    const int copy = ::dup(descriptor);
    std::FILE *file = copy >= 0 ? ::fdopen(copy, "rb") : nullptr;
    if (!file) {
        if (copy >= 0) ::close(copy);
        return false;
    }
    ImportedWav imported;
    if (!importWav(file, imported)) return false;
    source.stereo = std::move(*imported.samples);
    source.sampleRate = imported.sampleRate;
    return true;
}

bool readOtherEncoding(int descriptor, SourceAudio &source) {
    if (::lseek(descriptor, 0, SEEK_SET) != 0) return false;
    SF_INFO info{};
    SNDFILE *file = sf_open_fd(descriptor, SFM_READ, &info, SF_FALSE);
    return file && readSndfile(file, info, source);
}

bool readMediaSource(const std::string &path, SourceAudio &source, std::string *error) {
    std::string reason;
    const int descriptor = openRegularFile(path, &reason);
    if (descriptor < 0) return failWith(error, reason.c_str());
    const bool read = readPcm16(descriptor, source) || readOtherEncoding(descriptor, source);
    ::close(descriptor);
    if (!read) return failWith(error, "not an audio file that can be read");
    if (source.stereo.size() < 2) return failWith(error, "it holds no audio");
    return true;
}

} // namespace

bool readMediaFile(const std::string &path, double sampleRate, DecodedAudio &result,
                   std::string *error) {
    result = DecodedAudio{};
    try {
        SourceAudio source;
        if (!readMediaSource(path, source, error)) return false;
        if (!canConvert(source.sampleRate, sampleRate))
            return failWith(error, "its sample rate cannot be converted to the project's");
        auto samples = std::make_shared<std::vector<float>>();
        if (source.sampleRate == sampleRate)
            *samples = std::move(source.stereo);
        else if (!resampleStereo(source.stereo, sampleRate / source.sampleRate, *samples))
            return failWith(error, "its sample rate cannot be converted to the project's");
        result.frames = static_cast<int64_t>(samples->size() / 2);
        result.sampleRate = sampleRate;
        result.samples = std::move(samples);
        return true;
    } catch (const std::bad_alloc &) {
        result = DecodedAudio{};
        return failWith(error, "not enough memory to read it");
    }
}

bool decodeAudioFile(const std::string &path, double targetSampleRate, DecodedAudio &result,
                     std::string *error) {
    result = DecodedAudio{};
    if (path.empty() || path.find('\0') != std::string::npos)
        return failWith(error, DecodeMessages::badPath);
    // A FIFO or a device would block the decoders, which open by name.
    const int probe = openRegularFile(path, nullptr);
    if (probe < 0) return failWith(error, DecodeMessages::openFailed);
    ::close(probe);
    SourceAudio source;
    if (!readWithSndfile(path, source)) {
        source = SourceAudio{};
        if (!readWithFfmpeg(path, source)) return failWith(error, DecodeMessages::openFailed);
    }
    if (!canConvert(source.sampleRate, targetSampleRate))
        return failWith(error, DecodeMessages::formatRefused);
    auto samples = std::make_shared<std::vector<float>>();
    if (source.sampleRate == targetSampleRate) {
        *samples = std::move(source.stereo);
    } else if (!source.stereo.empty() &&
               !resampleStereo(source.stereo, targetSampleRate / source.sampleRate, *samples)) {
        return failWith(error, DecodeMessages::formatRefused);
    }
    result.frames = static_cast<int64_t>(samples->size() / 2);
    result.sampleRate = targetSampleRate;
    const bool decodedEnough = samples->size() > 1;
    result.samples = std::move(samples);
    return decodedEnough;
}

} // namespace orvane

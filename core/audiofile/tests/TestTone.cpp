#include "core/audiofile/tests/TestTone.h"

#include <cmath>
#include <filesystem>
#include <memory>

#include <sndfile.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace orvane::testing {

std::vector<float> makeTone(double frequency, double sampleRate, int frames, int channels) {
    std::vector<float> samples(static_cast<std::size_t>(frames) * channels);
    const double step = 2.0 * M_PI * frequency / sampleRate;
    for (int frame = 0; frame < frames; ++frame)
        for (int channel = 0; channel < channels; ++channel)
            samples[static_cast<std::size_t>(frame) * channels + channel] =
                static_cast<float>(0.5 * std::sin(step * frame));
    return samples;
}

double measureFrequency(const std::vector<float> &stereo, int channel, double sampleRate) {
    const std::size_t frames = stereo.size() / 2;
    const std::size_t first = frames / 4;
    const std::size_t last = 3 * frames / 4;
    std::size_t firstCrossing = 0;
    std::size_t lastCrossing = 0;
    int crossings = 0;
    for (std::size_t frame = first + 1; frame < last; ++frame) {
        const float before = stereo[2 * (frame - 1) + channel];
        const float now = stereo[2 * frame + channel];
        if (before < 0.0f && now >= 0.0f) {
            if (crossings == 0) firstCrossing = frame;
            lastCrossing = frame;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * sampleRate / static_cast<double>(lastCrossing - firstCrossing);
}

bool writeWithSndfile(const std::string &path, const std::vector<float> &interleaved, int channels,
                      int sampleRate, int format) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = format;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    const bool written = sf_writef_float(file, interleaved.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

namespace {

struct OutputCloser {
    void operator()(AVFormatContext *context) const {
        if (context->pb) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct EncoderFreer {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};

bool sendAndWrite(AVCodecContext *encoder, AVFormatContext *output, AVStream *stream,
                  const AVFrame *frame) {
    if (avcodec_send_frame(encoder, frame) < 0) return false;
    AVPacket *packet = av_packet_alloc();
    while (avcodec_receive_packet(encoder, packet) == 0) {
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        av_interleaved_write_frame(output, packet);
    }
    av_packet_free(&packet);
    return true;
}

} // namespace

bool writeM4a(const std::string &path, const std::vector<float> &stereo, int sampleRate) {
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) return false;
    AVFormatContext *rawOutput = nullptr;
    if (avformat_alloc_output_context2(&rawOutput, nullptr, "ipod", path.c_str()) < 0) return false;
    std::unique_ptr<AVFormatContext, OutputCloser> output(rawOutput);
    std::unique_ptr<AVCodecContext, EncoderFreer> encoder(avcodec_alloc_context3(codec));
    AVChannelLayout layout = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&encoder->ch_layout, &layout);
    encoder->sample_rate = sampleRate;
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->bit_rate = 192000;
    encoder->time_base = AVRational{1, sampleRate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0) return false;
    AVStream *stream = avformat_new_stream(output.get(), nullptr);
    avcodec_parameters_from_context(stream->codecpar, encoder.get());
    stream->time_base = encoder->time_base;
    if (avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(output.get(), nullptr) < 0) return false;
    AVFrame *frame = av_frame_alloc();
    const int frameSize = encoder->frame_size > 0 ? encoder->frame_size : 1024;
    const int totalFrames = static_cast<int>(stereo.size() / 2);
    for (int start = 0; start < totalFrames; start += frameSize) {
        frame->nb_samples = std::min(frameSize, totalFrames - start);
        frame->format = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_copy(&frame->ch_layout, &layout);
        frame->sample_rate = sampleRate;
        av_frame_get_buffer(frame, 0);
        for (int channel = 0; channel < 2; ++channel) {
            auto *plane = reinterpret_cast<float *>(frame->data[channel]);
            for (int index = 0; index < frame->nb_samples; ++index)
                plane[index] = stereo[2 * static_cast<std::size_t>(start + index) + channel];
        }
        frame->pts = start;
        sendAndWrite(encoder.get(), output.get(), stream, frame);
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
    sendAndWrite(encoder.get(), output.get(), stream, nullptr);
    return av_write_trailer(output.get()) == 0;
}

std::string makeScratchFolder(const std::string &label) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("halvora_" + label + "_XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) return {};
    return pattern;
}

} // namespace orvane::testing

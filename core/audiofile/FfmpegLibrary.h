#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace orvane {

/// The FFmpeg functions the decoder calls, found when the first file that needs them is
/// opened. FFmpeg's libraries bring well over a hundred others with them; loading them at
/// start would cost every headless command tens of milliseconds and tens of megabytes of
/// memory for a format most projects never hold.
struct FfmpegLibrary {
    decltype(&::avformat_open_input) avformat_open_input = nullptr;
    decltype(&::avformat_find_stream_info) avformat_find_stream_info = nullptr;
    decltype(&::avformat_close_input) avformat_close_input = nullptr;
    decltype(&::av_find_best_stream) av_find_best_stream = nullptr;
    decltype(&::av_read_frame) av_read_frame = nullptr;
    decltype(&::avcodec_alloc_context3) avcodec_alloc_context3 = nullptr;
    decltype(&::avcodec_parameters_to_context) avcodec_parameters_to_context = nullptr;
    decltype(&::avcodec_open2) avcodec_open2 = nullptr;
    decltype(&::avcodec_free_context) avcodec_free_context = nullptr;
    decltype(&::avcodec_send_packet) avcodec_send_packet = nullptr;
    decltype(&::avcodec_receive_frame) avcodec_receive_frame = nullptr;
    decltype(&::av_packet_alloc) av_packet_alloc = nullptr;
    decltype(&::av_packet_free) av_packet_free = nullptr;
    decltype(&::av_packet_unref) av_packet_unref = nullptr;
    decltype(&::av_frame_alloc) av_frame_alloc = nullptr;
    decltype(&::av_frame_free) av_frame_free = nullptr;
    decltype(&::av_frame_unref) av_frame_unref = nullptr;
    decltype(&::av_log_set_level) av_log_set_level = nullptr;
    decltype(&::swr_alloc_set_opts2) swr_alloc_set_opts2 = nullptr;
    decltype(&::swr_init) swr_init = nullptr;
    decltype(&::swr_free) swr_free = nullptr;
    decltype(&::swr_get_out_samples) swr_get_out_samples = nullptr;
    decltype(&::swr_convert) swr_convert = nullptr;
};

/// The loaded functions, or null when the libraries (of the version these headers describe)
/// cannot be loaded. Loaded once, by whichever thread asks first.
const FfmpegLibrary *ffmpegLibrary();

} // namespace orvane

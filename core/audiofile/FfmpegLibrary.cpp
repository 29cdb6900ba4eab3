#include "core/audiofile/FfmpegLibrary.h"

#include <string>

#include <dlfcn.h>

namespace orvane {

namespace {

/// The library of this major version, the one the headers were built against.
void *openLibrary(const char *name, int major) {
    const std::string soname = std::string(name) + ".so." + std::to_string(major);
    return ::dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
}

template <typename Function> bool find(void *library, const char *name, Function &slot) {
    slot = reinterpret_cast<Function>(::dlsym(library, name));
    return slot != nullptr;
}

bool load(FfmpegLibrary &ffmpeg) {
    void *util = openLibrary("libavutil", LIBAVUTIL_VERSION_MAJOR);
    void *resample = openLibrary("libswresample", LIBSWRESAMPLE_VERSION_MAJOR);
    void *codec = openLibrary("libavcodec", LIBAVCODEC_VERSION_MAJOR);
    void *format = openLibrary("libavformat", LIBAVFORMAT_VERSION_MAJOR);
    if (!util || !resample || !codec || !format) return false;
#define HALVORA_FIND(library, function) find(library, #function, ffmpeg.function)
    return HALVORA_FIND(format, avformat_open_input) &&
           HALVORA_FIND(format, avformat_find_stream_info) &&
           HALVORA_FIND(format, avformat_close_input) &&
           HALVORA_FIND(format, av_find_best_stream) && HALVORA_FIND(format, av_read_frame) &&
           HALVORA_FIND(codec, avcodec_alloc_context3) &&
           HALVORA_FIND(codec, avcodec_parameters_to_context) &&
           HALVORA_FIND(codec, avcodec_open2) && HALVORA_FIND(codec, avcodec_free_context) &&
           HALVORA_FIND(codec, avcodec_send_packet) && HALVORA_FIND(codec, avcodec_receive_frame) &&
           HALVORA_FIND(codec, av_packet_alloc) && HALVORA_FIND(codec, av_packet_free) &&
           HALVORA_FIND(codec, av_packet_unref) && HALVORA_FIND(util, av_frame_alloc) &&
           HALVORA_FIND(util, av_frame_free) && HALVORA_FIND(util, av_frame_unref) &&
           HALVORA_FIND(util, av_log_set_level) && HALVORA_FIND(resample, swr_alloc_set_opts2) &&
           HALVORA_FIND(resample, swr_init) && HALVORA_FIND(resample, swr_free) &&
           HALVORA_FIND(resample, swr_get_out_samples) && HALVORA_FIND(resample, swr_convert);
#undef HALVORA_FIND
}

} // namespace

const FfmpegLibrary *ffmpegLibrary() {
    // The handles stay open for the life of the process: decoded streams may outlive a caller.
    static const FfmpegLibrary *const loaded = [] {
        static FfmpegLibrary ffmpeg;
        return load(ffmpeg) ? &ffmpeg : nullptr;
    }();
    return loaded;
}

} // namespace orvane

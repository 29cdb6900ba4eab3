#include "device/AudioBackend.h"

#include "core/model/Translate.h"

#include <alsa/asoundlib.h>
#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane {

namespace {

// RtAudio's own JACK and PulseAudio paths are left alone: it lists JACK clients as devices
// whose numbers change from one listing to the next, and JACK is reached directly anyway.
constexpr RtAudio::Api rtAudioApi = RtAudio::LINUX_ALSA;

struct RtDevice {
    unsigned int index = 0;
    RtAudio::DeviceInfo info;
};

/// Probed devices only. RtAudio throws on a device it cannot query; such a device is skipped.
std::vector<RtDevice> probeDevices(RtAudio &audio) {
    std::vector<RtDevice> devices;
    unsigned int count = 0;
    try {
        count = audio.getDeviceCount();
    } catch (const RtAudioError &) {
        return devices;
    }
    for (unsigned int index = 0; index < count; ++index) {
        try {
            RtAudio::DeviceInfo info = audio.getDeviceInfo(index);
            if (info.probed && (info.outputChannels > 0 || info.inputChannels > 0))
                devices.push_back({index, std::move(info)});
        } catch (const RtAudioError &) {
        }
    }
    return devices;
}

void ignoreAlsaMessage(const char *, int, const char *, int, const char *, ...) {}

std::unique_ptr<RtAudio> makeRtAudio() {
    // The ALSA library prints every card it fails to find on standard error; the device list
    // says what exists, and failures to open are reported by the device layer.
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(&ignoreAlsaMessage); });
    try {
        auto audio = std::make_unique<RtAudio>(rtAudioApi);
        audio->showWarnings(false);
        return audio;
    } catch (const RtAudioError &) {
        return nullptr;
    }
}

const RtDevice *findDevice(const std::vector<RtDevice> &devices, const std::string &name) {
    for (const auto &device : devices)
        if (alsaDevicePrefix + device.info.name == name) return &device;
    return nullptr;
}

class RtAudioBackend final : public AudioBackend {
  public:
    ~RtAudioBackend() override { stop(); }

    bool open(const BackendOpenRequest &request, DeviceHost &deviceHost,
              std::string &error) override {
        stop();
        host = &deviceHost;
        audio = makeRtAudio();
        if (!audio) {
            error = translate("RtAudioBackend", "RtAudio is unavailable");
            return false;
        }
        const auto devices = probeDevices(*audio);
        const RtDevice *output = findDevice(devices, request.outputDevice);
        if (!output || output->info.outputChannels == 0) {
            error =
                withArguments(translate("RtAudioBackend", "Could not choose the output device: %1"),
                              {request.outputDevice});
            audio.reset();
            return false;
        }
        const RtDevice *input =
            request.inputDevice.empty() ? nullptr : findDevice(devices, request.inputDevice);
        if (input && input->info.inputChannels == 0) input = nullptr;
        return openStream(request, *output, input, error);
    }

    bool start(std::string &error) override {
        if (!audio || !audio->isStreamOpen()) {
            error = translate("RtAudioBackend", "RtAudio is unavailable");
            return false;
        }
        try {
            audio->startStream();
        } catch (const RtAudioError &fault) {
            error = "startStream failed: " + fault.getMessage();
            return false;
        }
        return true;
    }

    void stop() override {
        if (!audio) return;
        // Never into a stream the driver already closed: RtAudio crashes there.
        try {
            if (audio->isStreamRunning()) audio->stopStream();
            if (audio->isStreamOpen()) audio->closeStream();
        } catch (const RtAudioError &) {
        }
        audio.reset();
    }

    double sampleRate() const override { return rate; }
    int32_t bufferFrames() const override { return frames; }
    int32_t inputChannels() const override { return captureChannels; }

  private:
    bool openStream(const BackendOpenRequest &request, const RtDevice &output,
                    const RtDevice *input, std::string &error) {
        RtAudio::StreamParameters outputParameters;
        outputParameters.deviceId = output.index;
        outputParameters.nChannels = std::min(output.info.outputChannels, 2u);
        RtAudio::StreamParameters inputParameters;
        if (input) {
            inputParameters.deviceId = input->index;
            const auto wanted = static_cast<unsigned int>(
                std::clamp(request.inputChannels, 1, 2 * maxInputPairs));
            inputParameters.nChannels = std::min(input->info.inputChannels, wanted);
        }
        RtAudio::StreamOptions options;
        options.flags = RTAUDIO_NONINTERLEAVED | RTAUDIO_SCHEDULE_REALTIME;
        options.streamName = "Halvora";
        auto periodFrames = static_cast<unsigned int>(request.bufferFrames);
        outputChannels = static_cast<int32_t>(outputParameters.nChannels);
        captureChannels = input ? static_cast<int32_t>(inputParameters.nChannels) : 0;
        try {
            audio->openStream(&outputParameters, input ? &inputParameters : nullptr,
                              RTAUDIO_FLOAT32, static_cast<unsigned int>(request.sampleRate),
                              &periodFrames, &RtAudioBackend::callback, this, &options);
        } catch (const RtAudioError &fault) {
            error = "openStream failed: " + fault.getMessage();
            audio.reset();
            return false;
        }
        rate = static_cast<double>(audio->getStreamSampleRate());
        frames = static_cast<int32_t>(periodFrames);
        return true;
    }

    static int callback(void *outputBuffer, void *inputBuffer, unsigned int count, double,
                        RtAudioStreamStatus status, void *context) {
        auto &self = *static_cast<RtAudioBackend *>(context);
        if (status & RTAUDIO_OUTPUT_UNDERFLOW) self.host->deviceUnderrun();
        RenderObserver *observer = self.host->renderObserver();
        if (observer) observer->blockStarted();
        // Non-interleaved: each channel's frames follow the previous channel's.
        auto *out = static_cast<float *>(outputBuffer);
        std::array<float *, 2> outputs{out, self.outputChannels > 1 ? out + count : nullptr};
        const auto *in = static_cast<const float *>(inputBuffer);
        std::array<const float *, 2 * maxInputPairs> inputs{};
        for (int32_t channel = 0; in && channel < self.captureChannels; ++channel) {
            const auto index = static_cast<std::size_t>(channel);
            inputs[index] = in + index * count;
        }
        // A mono input feeds both sides of its pair.
        const int32_t inputCount = self.captureChannels == 1 ? 2 : self.captureChannels;
        if (self.captureChannels == 1) inputs[1] = in;
        self.host->renderDevice(in ? inputs.data() : nullptr, in ? inputCount : 0, outputs.data(),
                                self.outputChannels, static_cast<int32_t>(count));
        if (observer) observer->blockFinished();
        return 0;
    }

    DeviceHost *host = nullptr;
    std::unique_ptr<RtAudio> audio;
    double rate = 48000.0;
    int32_t frames = 512;
    int32_t outputChannels = 2;
    int32_t captureChannels = 0;
};

} // namespace

std::vector<AudioDeviceDesc> listRtAudioDevices() {
    std::vector<AudioDeviceDesc> list;
    auto audio = makeRtAudio();
    if (!audio) return list;
    for (const auto &device : probeDevices(*audio))
        list.push_back({0, alsaDevicePrefix + device.info.name, device.info.inputChannels > 0,
                        device.info.outputChannels > 0});
    return list;
}

std::unique_ptr<AudioBackend> makeRtAudioBackend() { return std::make_unique<RtAudioBackend>(); }

} // namespace orvane

#include "device/AudioBackend.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace orvane {

namespace {

/// Plays into nothing at the pace a sound card would: one period every period's length, so
/// that the application, its meters and its transport behave as with hardware.
class NullBackend final : public AudioBackend {
  public:
    ~NullBackend() override { stop(); }

    bool open(const BackendOpenRequest &request, DeviceHost &deviceHost, std::string &) override {
        stop();
        host = &deviceHost;
        rate = request.sampleRate > 0.0 ? request.sampleRate : 48000.0;
        frames = request.bufferFrames > 0 ? request.bufferFrames : 512;
        capture = !request.inputDevice.empty();
        inputCount = std::clamp(request.inputChannels, 2, 2 * maxInputPairs);
        for (auto &buffer : buffers)
            buffer.assign(static_cast<std::size_t>(frames), 0.0f);
        return true;
    }

    bool start(std::string &) override {
        if (running.exchange(true)) return true;
        timer = std::thread([this] { run(); });
        return true;
    }

    void stop() override {
        running.store(false);
        if (timer.joinable()) timer.join();
    }

    double sampleRate() const override { return rate; }
    int32_t bufferFrames() const override { return frames; }
    int32_t inputChannels() const override { return capture ? inputCount : 0; }

  private:
    void run() {
        using Clock = std::chrono::steady_clock;
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(frames / rate));
        std::array<float *, 2> outputs{buffers[0].data(), buffers[1].data()};
        // Input is silence: the null device has nothing to capture.
        std::array<const float *, 2 * maxInputPairs> inputs{};
        inputs.fill(buffers[2].data());
        auto due = Clock::now();
        while (running.load()) {
            RenderObserver *observer = host->renderObserver();
            if (observer) observer->blockStarted();
            host->renderDevice(capture ? inputs.data() : nullptr, capture ? inputCount : 0,
                               outputs.data(), 2, frames);
            if (observer) observer->blockFinished();
            due += period;
            const auto now = Clock::now();
            if (now > due + period) {
                // More than a period late: a card would have run dry.
                host->deviceUnderrun();
                due = now;
            }
            std::this_thread::sleep_until(due);
        }
    }

    DeviceHost *host = nullptr;
    double rate = 48000.0;
    int32_t frames = 512;
    bool capture = false;
    int32_t inputCount = 2;
    std::array<std::vector<float>, 3> buffers;
    std::atomic<bool> running{false};
    std::thread timer;
};

} // namespace

std::unique_ptr<AudioBackend> makeNullBackend() { return std::make_unique<NullBackend>(); }

} // namespace orvane

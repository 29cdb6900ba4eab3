// The mixer with 64 strips updating its meters at 30 frames per second: the processor time
// one frame takes (the tick that reads the meters and the painting it causes), and from it
// the share of one core that 30 such frames a second use. Two baselines are measured in the
// same run: a frame whose meters did not move (the tick's own reading), and a repaint of the
// whole panel (what a frame would cost if every meter change redrew every strip).
// The last two run the window's own event loop for some seconds of wall time, once with the
// 64-strip mixer shown and its meters moving on the interface timer, once with the mixer
// hidden (the idle window), and give the whole process's processor time (user and system)
// per second of wall as a share of one core, and the window thread's own share beside it.
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "app/window/MixerPanel.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <functional>

#include <memory>
#include <mutex>
#include <sys/resource.h>

namespace {

using namespace orvane;

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

/// An application with 64 mixer channels (tracks and returns; the master is one more strip).
struct MixerScene {
    testing::TemporaryHome home{"mixer-bench"};
    testing::ScriptedUi ui;
    OVApplication app{ui};
    std::unique_ptr<MixerPanel> panel;

    MixerScene() {
        app.didFinishLaunching(false);
        std::size_t tracks = 0;
        {
            std::lock_guard lock(app.engine().projectMutex);
            tracks = app.engine().project.tracks.size();
        }
        for (std::size_t i = tracks; i < 64; ++i)
            app.view().executeEdit(
                std::make_unique<AddTrackCommand>(TrackType::Audio, "Audio " + std::to_string(i)));
        panel.reset(static_cast<MixerPanel *>(createMixerPanel(app, nullptr)));
        panel->resize(6400, 480);
        panel->show();
        QApplication::processEvents();
    }

    /// Meters as a running song would leave them: every channel at a new level.
    void moveMeters(int frame) {
        std::lock_guard lock(app.engine().projectMutex);
        int index = 0;
        for (const auto &track : app.engine().project.tracks) {
            const float level = 0.5f + 0.45f * std::sin(0.3f * static_cast<float>(frame + index++));
            track->peakL = level;
            track->peakR = level * 0.9f;
        }
    }

    double frame() {
        const double start = threadSeconds();
        panel->onTick();
        // Paints what the tick marked, as the window's event loop would.
        QApplication::processEvents();
        return threadSeconds() - start;
    }
};

/// Made in `main`, after the application object and gone before it.
MixerScene *shared = nullptr;
MixerScene &scene() { return *shared; }

void reportShare(benchmark::State &state, double seconds, std::int64_t frames) {
    const double perFrame = seconds / static_cast<double>(frames);
    state.counters["ms_per_frame"] = perFrame * 1000.0;
    state.counters["core_share_at_30fps_percent"] = perFrame * 30.0 * 100.0;
}

void BM_MixerFrameMetersStill(benchmark::State &state) {
    MixerScene &mixer = scene();
    mixer.moveMeters(0);
    mixer.frame();
    double seconds = 0.0;
    for (auto _ : state)
        seconds += mixer.frame();
    reportShare(state, seconds, state.iterations());
}
BENCHMARK(BM_MixerFrameMetersStill)->Unit(benchmark::kMillisecond);

void BM_MixerFrameMetersMoving(benchmark::State &state) {
    MixerScene &mixer = scene();
    int frame = 0;
    double seconds = 0.0;
    for (auto _ : state) {
        mixer.moveMeters(++frame);
        seconds += mixer.frame();
    }
    reportShare(state, seconds, state.iterations());
}
BENCHMARK(BM_MixerFrameMetersMoving)->Unit(benchmark::kMillisecond);

void BM_MixerWholePanelRepaint(benchmark::State &state) {
    MixerScene &mixer = scene();
    double seconds = 0.0;
    for (auto _ : state) {
        const double start = threadSeconds();
        mixer.panel->repaint();
        seconds += threadSeconds() - start;
    }
    reportShare(state, seconds, state.iterations());
}
BENCHMARK(BM_MixerWholePanelRepaint)->Unit(benchmark::kMillisecond);

struct ProcessTimes {
    double user = 0.0;
    double system = 0.0;
};

ProcessTimes processTimes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &value) {
        return static_cast<double>(value.tv_sec) + static_cast<double>(value.tv_usec) * 1e-6;
    };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

constexpr int wallMilliseconds = 3000;

/// Runs the event loop for `wallMilliseconds` with the interface timer doing `tick`, and
/// reports the process's processor time per second of wall.
void runWindowFor(benchmark::State &state, const std::function<void()> &tick) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, tick);
    timer.start(static_cast<int>(OVApplication::uiTickSeconds * 1000.0));
    double user = 0.0, system = 0.0, wall = 0.0, window = 0.0;
    for (auto _ : state) {
        const ProcessTimes before = processTimes();
        const double windowStart = threadSeconds();
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QTimer::singleShot(wallMilliseconds, &loop, &QEventLoop::quit);
        loop.exec();
        const ProcessTimes after = processTimes();
        window += threadSeconds() - windowStart;
        wall += static_cast<double>(clock.nsecsElapsed()) * 1e-9;
        user += after.user - before.user;
        system += after.system - before.system;
    }
    timer.stop();
    state.counters["core_share_percent"] = 100.0 * (user + system) / wall;
    state.counters["user_percent"] = 100.0 * user / wall;
    state.counters["system_percent"] = 100.0 * system / wall;
    // The window's own thread alone (user and system), without the engine's threads.
    state.counters["window_thread_percent"] = 100.0 * window / wall;
}

void BM_IdleWindowCpuPerWallSecond(benchmark::State &state) {
    MixerScene &mixer = scene();
    mixer.panel->hide();
    runWindowFor(state, [&mixer] { mixer.app.onTick(); });
}
BENCHMARK(BM_IdleWindowCpuPerWallSecond)->Iterations(1)->Unit(benchmark::kSecond);

void BM_MixerMetersMovingCpuPerWallSecond(benchmark::State &state) {
    MixerScene &mixer = scene();
    mixer.panel->show();
    int frame = 0;
    runWindowFor(state, [&mixer, &frame] {
        mixer.app.onTick();
        mixer.moveMeters(++frame);
        mixer.panel->onTick();
    });
}
BENCHMARK(BM_MixerMetersMovingCpuPerWallSecond)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv) {
    // Drawn off screen unless a display is chosen, so the figure does not depend on one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    auto mixer = std::make_unique<MixerScene>();
    shared = mixer.get();
    benchmark::RunSpecifiedBenchmarks();
    mixer.reset();
    benchmark::Shutdown();
    return 0;
}

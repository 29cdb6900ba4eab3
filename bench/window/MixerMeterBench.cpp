// The mixer with 64 strips updating its meters at 30 frames per second: the processor time
// one frame takes (the tick that reads the meters and the painting it causes), and from it
// the share of one core that 30 such frames a second use. Two baselines are measured in the
// same run: a frame whose meters did not move (the tick's own reading), and a repaint of the
// whole panel (what a frame would cost if every meter change redrew every strip).
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "app/window/MixerPanel.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <mutex>

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

// Paint time of the timeline over 64 tracks of 50 clips each, zoomed out to the whole song and
// zoomed in to four bars, against painting the same view of an empty project in the same run;
// the longest stall of a clip drag in that project; and the window's own processor time while
// it stands idle and while it plays, against a bare Qt window in the same run; and the piano
// roll opened on and scrolled through a clip of 10,000 notes, against an empty clip.
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/MidiEditor.h"
#include "app/window/TimelineView.h"
#include "core/engine/Engine.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace orvane;

namespace {

constexpr int trackCount = 64;
constexpr int clipsPerTrack = 50;
constexpr double rate = 48000.0;

class SilentUi final : public ApplicationUi {
  public:
    int runAlert(const std::string &, const std::string &,
                 const std::vector<std::string> &) override {
        return -1;
    }
    std::optional<std::string> chooseSaveLocation(const std::string &,
                                                  const std::string &) override {
        return std::nullopt;
    }
    std::vector<std::string> chooseFilesToOpen(const std::string &,
                                               const std::vector<std::string> &, bool) override {
        return {};
    }
    std::optional<std::string> chooseFolder(const std::string &) override { return std::nullopt; }
    void showStatus(const std::string &) override {}
};

/// Every third track MIDI with 16 notes a clip, the others audio sharing one 2-second tone.
Project largeArrangement() {
    Project project;
    project.sampleRate = rate;
    auto tone = std::make_shared<std::vector<float>>(static_cast<std::size_t>(2 * rate) * 2);
    for (std::size_t i = 0; i < tone->size() / 2; ++i)
        (*tone)[2 * i] = (*tone)[2 * i + 1] = 0.6f * static_cast<float>(std::sin(i * 0.05));
    const std::shared_ptr<const std::vector<float>> audio = tone;
    const int64_t clipLength = static_cast<int64_t>(2 * rate);
    for (int t = 0; t < trackCount; ++t) {
        const bool midi = t % 3 == 0;
        auto track = project.addTrack(midi ? TrackType::Midi : TrackType::Audio,
                                      "Track " + std::to_string(t + 1));
        for (int c = 0; c < clipsPerTrack; ++c) {
            auto clip = project.addClip(track->id, midi ? ClipKind::Midi : ClipKind::Audio);
            clip->name = "Clip " + std::to_string(c + 1);
            clip->arrangeStart = c * clipLength;
            clip->length = clipLength;
            if (midi) {
                for (int n = 0; n < 16; ++n)
                    clip->notes.push_back(
                        MidiNote{48 + (n * 5) % 24, 0.8f, n * clipLength / 16, clipLength / 20});
            } else {
                clip->audio = audio;
                clip->channels = 2;
            }
        }
    }
    return project;
}

struct Fixture {
    Fixture() {
        const auto home = std::filesystem::temp_directory_path() / "halvora_window_bench";
        std::filesystem::create_directories(home);
        for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
            ::setenv(name, home.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        application = std::make_unique<QApplication>(argc, argv);
        app = std::make_unique<OVApplication>(ui);
        app->didFinishLaunching(false);
        timeline = std::make_unique<TimelineView>(*app);
        timeline->resize(1600, 1000);
    }
    void load(Project project) {
        {
            std::lock_guard lock(app->engine().projectMutex);
            app->engine().replaceProject(std::move(project));
        }
        app->view().timelineScrollBeats = 0.0;
        paint(); // queues the waveforms
        timeline->peaks().waitUntilIdle();
    }
    void paint() {
        QPainter painter(&frame);
        timeline->render(&painter);
    }

    char name[8] = "bench";
    char *args[2] = {name, nullptr};
    int argc = 1;
    char **argv = args;
    SilentUi ui;
    std::unique_ptr<QApplication> application;
    std::unique_ptr<OVApplication> app;
    std::unique_ptr<TimelineView> timeline;
    QImage frame{1600, 1000, QImage::Format_ARGB32_Premultiplied};
};

Fixture &fixture() {
    static Fixture shared;
    return shared;
}

void paintFrames(benchmark::State &state, bool full, double visibleBeats, double scrollBeats) {
    Fixture &f = fixture();
    f.load(full ? largeArrangement() : Project{});
    f.timeline->setVisibleBeats(visibleBeats);
    f.app->view().timelineScrollBeats = scrollBeats;
    f.timeline->onTick();
    for (auto _ : state)
        f.paint();
    state.counters["ms_per_frame"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / 1000.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

/// A press on a clip of the middle track, 60 moves across two bars and back, and the release:
/// each move's event handling and the repaint it asks for, timed as the event loop would run
/// them. The longest is the stall a user feels while dragging.
void BM_DragClipIn64Tracks(benchmark::State &state) {
    Fixture &f = fixture();
    f.load(largeArrangement());
    f.timeline->setVisibleBeats(64.0);
    f.timeline->onTick();
    double longest = 0.0, total = 0.0;
    int moves = 0;
    for (auto _ : state) {
        uint64_t clipId = 0;
        {
            std::lock_guard lock(f.app->engine().projectMutex);
            clipId = f.app->engine().project.tracks[trackCount / 4]->clips[4]->id;
        }
        const QPointF grab = f.timeline->clipRectOf(clipId).center();
        const auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, f.timeline->mapToGlobal(at), Qt::LeftButton, buttons,
                              Qt::NoModifier);
            QApplication::sendEvent(f.timeline.get(), &event);
        };
        send(QEvent::MouseButtonPress, grab, Qt::LeftButton);
        for (int step = 1; step <= 60; ++step) {
            const double offset = 4.0 * std::sin(step * M_PI / 60.0) * 36.0;
            QElapsedTimer timer;
            timer.start();
            send(QEvent::MouseMove, grab + QPointF(offset * 2.0, 0.0), Qt::LeftButton);
            f.paint();
            const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
            longest = std::max(longest, ms);
            total += ms;
            ++moves;
        }
        send(QEvent::MouseButtonRelease, grab, Qt::NoButton);
    }
    state.counters["longest_ms"] = longest;
    state.counters["mean_ms"] = moves > 0 ? total / moves : 0.0;
}

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

/// Shares of one core while the event loop ran: the whole process, and the window's own
/// thread alone (the engine and the device render on threads of their own).
struct CoreShare {
    double process = 0.0;
    double windowThread = 0.0;
};

/// Runs the event loop for `seconds` and returns the shares of one core it used.
CoreShare coreShareWhileRunning(double seconds) {
    const double before = processorSeconds();
    const double threadBefore = threadSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), [] { QApplication::exit(0); });
    QApplication::exec();
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    return {(processorSeconds() - before) / elapsed, (threadSeconds() - threadBefore) / elapsed};
}

/// The window over a new song standing idle, beside a bare window, each for five seconds of
/// the event loop; then the song playing on the null device with its meters moving, and the
/// null device running with the transport stopped, which is what playing adds to.
void BM_WindowProcessorShare(benchmark::State &state) {
    Fixture &f = fixture();
    {
        std::lock_guard lock(f.app->engine().projectMutex);
        f.app->engine().replaceProject(Project{});
    }
    f.app->view().newProject();
    CoreShare floor, idle, deviceStopped, playing;
    for (auto _ : state) {
        {
            QMainWindow bare;
            bare.resize(1280, 800);
            bare.show();
            floor = coreShareWhileRunning(5.0);
        }
        MainWindow window(*f.app);
        window.resize(1280, 800);
        window.show();
        coreShareWhileRunning(1.0); // settle: first paints and waveforms
        idle = coreShareWhileRunning(5.0);
        AudioSettingsChoice device;
        device.outputDevice = "Null";
        device.inputDevice = "Null";
        device.bufferFrames = 256;
        if (!f.app->applyAudioSettings(device)) {
            state.SkipWithError("the null device did not start");
            return;
        }
        coreShareWhileRunning(1.0);
        deviceStopped = coreShareWhileRunning(5.0);
        f.app->view().play();
        coreShareWhileRunning(1.0);
        playing = coreShareWhileRunning(5.0);
        f.app->view().stop();
    }
    state.counters["bare_window_percent"] = floor.process * 100.0;
    state.counters["idle_percent"] = idle.process * 100.0;
    state.counters["device_stopped_percent"] = deviceStopped.process * 100.0;
    state.counters["playing_percent"] = playing.process * 100.0;
    state.counters["playing_window_thread_percent"] = playing.windowThread * 100.0;
}

/// One MIDI clip of 10,000 notes over 625 bars, spread over four octaves.
Project denseMidiClip() {
    Project project;
    project.sampleRate = rate;
    auto track = project.addTrack(TrackType::Midi, "Dense");
    auto clip = project.addClip(track->id, ClipKind::Midi);
    const int64_t sixteenth = static_cast<int64_t>(rate / 8.0);
    for (int n = 0; n < 10000; ++n)
        clip->notes.push_back(MidiNote{36 + (n * 7) % 48, 0.7f, n * sixteenth, sixteenth});
    clip->length = 10000 * sixteenth;
    return project;
}

/// The piano roll opened on the dense clip and painted once: what the user waits for after
/// the double-click. Against opening it on an empty clip in the same run.
void openPianoRoll(benchmark::State &state, bool dense) {
    Fixture &f = fixture();
    f.load(dense ? denseMidiClip() : [] {
        Project empty;
        empty.addClip(empty.addTrack(TrackType::Midi, "Empty")->id, ClipKind::Midi);
        return empty;
    }());
    MidiEditor editor(*f.app);
    editor.resize(1600, 500);
    QImage roll(1600, 500, QImage::Format_ARGB32_Premultiplied);
    uint64_t clipId = 0;
    {
        std::lock_guard lock(f.app->engine().projectMutex);
        clipId = f.app->engine().project.tracks[0]->clips[0]->id;
    }
    for (auto _ : state) {
        editor.setClip(clipId);
        QPainter painter(&roll);
        editor.render(&painter);
    }
}

/// Scrolling the dense clip sideways a beat per frame, painted each time.
void BM_PianoRollScroll10kNotes(benchmark::State &state) {
    Fixture &f = fixture();
    f.load(denseMidiClip());
    MidiEditor editor(*f.app);
    editor.resize(1600, 500);
    QImage roll(1600, 500, QImage::Format_ARGB32_Premultiplied);
    {
        std::lock_guard lock(f.app->engine().projectMutex);
        editor.setClip(f.app->engine().project.tracks[0]->clips[0]->id);
    }
    for (auto _ : state) {
        editor.scrollX += editor.pixelsPerBeat;
        QPainter painter(&roll);
        editor.render(&painter);
    }
}

void BM_PianoRollOpenEmptyClip(benchmark::State &state) { openPianoRoll(state, false); }
void BM_PianoRollOpen10kNotes(benchmark::State &state) { openPianoRoll(state, true); }

// The song is 50 clips of 4 beats at 120 BPM: 200 beats.
void BM_EmptyTimelineBaseline(benchmark::State &state) { paintFrames(state, false, 200.0, 0.0); }
void BM_TimelineZoomedOut(benchmark::State &state) { paintFrames(state, true, 200.0, 0.0); }
void BM_TimelineZoomedIn(benchmark::State &state) { paintFrames(state, true, 16.0, 96.0); }

BENCHMARK(BM_EmptyTimelineBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimelineZoomedOut)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimelineZoomedIn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PianoRollOpenEmptyClip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PianoRollOpen10kNotes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PianoRollScroll10kNotes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DragClipIn64Tracks)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WindowProcessorShare)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();

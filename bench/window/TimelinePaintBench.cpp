// Paint time of the timeline over 64 tracks of 50 clips each, zoomed out to the whole song and
// zoomed in to four bars, against painting the same view of an empty project in the same run.
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/TimelineView.h"
#include "core/engine/Engine.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

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

// The song is 50 clips of 4 beats at 120 BPM: 200 beats.
void BM_EmptyTimelineBaseline(benchmark::State &state) { paintFrames(state, false, 200.0, 0.0); }
void BM_TimelineZoomedOut(benchmark::State &state) { paintFrames(state, true, 200.0, 0.0); }
void BM_TimelineZoomedIn(benchmark::State &state) { paintFrames(state, true, 16.0, 96.0); }

BENCHMARK(BM_EmptyTimelineBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimelineZoomedOut)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimelineZoomedIn)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

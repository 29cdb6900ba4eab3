// The General MIDI player as a song uses it: sixteen tracks, one per channel of a General MIDI
// file (channel 10 the drum kit), each striking a four-note chord every half second at 64-frame
// blocks. Reported: the real-time factor of all sixteen together (seconds of audio per second
// of this thread's CPU), and the peak resident memory of a process playing sixteen tracks
// against one playing a single track and one that loads nothing, each measured in a child of
// its own in the same run, so that the font is seen to be held once.

#include "core/stock/GmPlayer.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace orvane::stock;

constexpr double rate = 48000.0;
constexpr int blockFrames = 64;
constexpr int channels = 16;
constexpr int drumChannel = 9;

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

std::vector<std::unique_ptr<GmPlayer>> makePlayers(int tracks, std::string &error) {
    std::vector<std::unique_ptr<GmPlayer>> players;
    if (tracks == 0) return players;
    const auto font = SoundFont::load("", error);
    if (!font) return players;
    for (int channel = 0; channel < tracks; ++channel) {
        const bool drums = channel == drumChannel;
        GmSettings settings{"", drums ? gmDrumBank : 0, drums ? 0 : channel * 8, drums};
        players.push_back(std::make_unique<GmPlayer>(font, settings, rate));
    }
    return players;
}

/// Plays `seconds` of chords on every player; the CPU seconds it took.
double playChords(std::vector<std::unique_ptr<GmPlayer>> &players, double seconds) {
    std::vector<float> left(blockFrames), right(blockFrames);
    const auto blocks = static_cast<int64_t>(seconds * rate / blockFrames);
    const auto blocksPerChord = static_cast<int64_t>(0.5 * rate / blockFrames);
    const double started = threadSeconds();
    for (int64_t block = 0; block < blocks; ++block) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        for (std::size_t track = 0; track < players.size(); ++track) {
            GmPlayer &player = *players[track];
            if (block % blocksPerChord == 0) {
                player.allNotesOff();
                const int root = track == drumChannel ? 36 : 48 + int(track % 12);
                for (const int step : {0, 4, 7, 12})
                    player.noteOn(root + step, 0.8f);
            }
            player.process(left.data(), right.data(), blockFrames);
        }
        benchmark::DoNotOptimize(left.data());
    }
    return threadSeconds() - started;
}

/// The process's peak resident set, in MB, as the kernel counts it.
double peakResidentMb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0.0;
}

/// The peak resident memory of a fresh child that plays `tracks` tracks for two seconds
/// (none: loads nothing); negative when the child failed.
double childPeakMb(int tracks) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1.0;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        // A child starts with its parent's peak; it is to count its own.
        std::ofstream("/proc/self/clear_refs") << "5";
        double peak = -1.0;
        std::string error;
        auto players = makePlayers(tracks, error);
        if (tracks == 0 || static_cast<int>(players.size()) == tracks) {
            playChords(players, 2.0);
            peak = peakResidentMb();
        }
        (void)!write(pipeEnds[1], &peak, sizeof peak);
        _exit(0);
    }
    close(pipeEnds[1]);
    double peak = -1.0;
    if (child < 0 || read(pipeEnds[0], &peak, sizeof peak) != sizeof peak) peak = -1.0;
    close(pipeEnds[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    return peak;
}

void BM_GmPlayerSixteenChannels(benchmark::State &state) {
    if (defaultGmFontPath().empty()) {
        state.SkipWithError("no General MIDI font installed (package fluid-soundfont-gm)");
        return;
    }
    // Measured first, in children that start from this process as it is before any font.
    const double floorMb = childPeakMb(0);
    const double oneTrackMb = childPeakMb(1);
    const double sixteenTracksMb = childPeakMb(channels);
    std::string error;
    auto players = makePlayers(channels, error);
    if (players.size() != channels) {
        state.SkipWithError(error.c_str());
        return;
    }
    constexpr double seconds = 10.0;
    double cpuSeconds = 0.0;
    for (auto _ : state)
        cpuSeconds += playChords(players, seconds);
    state.counters["realtime_factor_16_tracks"] = seconds * double(state.iterations()) / cpuSeconds;
    state.counters["peak_rss_floor_mb"] = floorMb;
    state.counters["peak_rss_1_track_mb"] = oneTrackMb;
    state.counters["peak_rss_16_tracks_mb"] = sixteenTracksMb;
    state.counters["rss_16_over_1_above_floor"] =
        (sixteenTracksMb - floorMb) / (oneTrackMb - floorMb);
}

BENCHMARK(BM_GmPlayerSixteenChannels)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();

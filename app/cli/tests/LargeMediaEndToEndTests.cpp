#include "app/cli/tests/RunProgram.h"
#include "core/audiofile/AudioFile.h"
#include "core/engine/Engine.h"
#include "core/project_io/ProjectFolder.h"
#include "device/OfflineRender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <thread>

#include <sys/wait.h>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;
constexpr int tracks = 12;
constexpr int64_t frames = 45 * 48000; // 45 s: 8.6 MB of 16-bit stereo per track
// Beyond what the same program needs to render a moment of the project (its code, libraries
// and buffers), the whole render may grow by at most this: a sixth of the project's media.
constexpr int64_t memoryLimitKiB = 16 * 1024;
// And the whole program, libraries included, stays under this however long the media.
constexpr int64_t programLimitKiB = 64 * 1024;

// A sanitizer's shadow memory and quarantine make the program's own size meaningless there;
// the render must still be right.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool measuresMemory = false;
#else
constexpr bool measuresMemory = true;
#endif

/// Twelve tracks of 45 s, each its own tone, gain and pan, saved with their media. Each
/// track's media is written on its own, so that this process never holds them all: the
/// program inherits this process's peak resident size when it is started.
fs::path saveLargeProject(const fs::path &scratch) {
    const fs::path folder = scratch / "large.halvora";
    fs::create_directories(folder / "media");
    Project project;
    project.sampleRate = rate;
    project.masterEq.enabled = false;
    project.mastering.enabled = false;
    project.controlRoom.cueGain = 0.0f;
    for (int index = 0; index < tracks; ++index) {
        const auto track = project.addTrack(TrackType::Audio, "T" + std::to_string(index));
        track->gain = 0.1f + 0.02f * static_cast<float>(index);
        track->pan = static_cast<float>(index % 5 - 2) / 2.0f;
        track->eq.enabled = false;
        const auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audioFile = "media/clip_" + std::to_string(clip->id) + ".wav";
        EXPECT_TRUE(exportWav((folder / clip->audioFile).string(),
                              stereoTone(110.0 * (index + 1), frames, 0.6f, rate)->data(),
                              static_cast<int>(frames), 2, rate));
        clip->length = frames;
        clip->fadeOut = 4800;
    }
    const auto saved = project_io::saveProject(project, folder.string(), false);
    EXPECT_TRUE(saved.ok) << saved.error;
    return folder;
}

/// The program's own peak resident size (VmHWM), read until it ends; the exit status is
/// left for `finishHalvora`. Its rusage would not do: a spawned program starts with the
/// peak of the process that spawned it.
int64_t peakResidentWhileRunning(int pid) {
    int64_t peakKiB = 0;
    while (true) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmHWM:", 0) == 0)
                peakKiB = std::max<int64_t>(peakKiB, std::stoll(line.substr(6)));
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid == pid)
            return peakKiB;
        std::this_thread::yield();
    }
}

/// The same project rendered here with every clip's media read into the heap.
std::vector<int16_t> renderFromHeap(const fs::path &folder) {
    auto project = project_io::loadProject(folder.string());
    EXPECT_TRUE(project.has_value());
    if (!project) return {};
    EXPECT_TRUE(project_io::hydrateProjectMedia(*project));
    for (const auto &track : project->tracks)
        for (const auto &clip : track->clips) {
            EXPECT_TRUE(clip->audio && clip->audio->file());
            clip->audio = makeSampleBuffer(clip->audio->toVector());
        }
    Engine engine;
    engine.replaceProject(std::move(*project));
    engine.prepareToPlay(rate, 512);
    std::vector<float> samples;
    std::string error;
    EXPECT_TRUE(renderMixdown(engine, samples, 0, frames, 2, &error)) << error;
    const fs::path target = folder.parent_path() / "heap.wav";
    EXPECT_TRUE(exportWav(target.string(), samples.data(), static_cast<int>(frames), 2, rate));
    return readWrittenWav(target).samples;
}

TEST(LargeMedia, AProjectWithMoreMediaThanTheMemoryLimitRendersCorrectlyWithinIt) {
    const fs::path scratch = makeScratchFolder("large_media");
    const fs::path folder = saveLargeProject(scratch);
    uintmax_t mediaBytes = 0;
    for (const auto &entry : fs::directory_iterator(folder / "media"))
        mediaBytes += entry.file_size();
    ASSERT_GT(mediaBytes, uintmax_t{programLimitKiB} * 1024 * 3 / 2);

    const auto renderPeakKiB = [&](const fs::path &out, int64_t length) {
        const RunningProgram program =
            startHalvora({"render", folder.string(), "-o", out.string(), "--length",
                          std::to_string(length), "--dither", "off"},
                         scratch);
        const int64_t peakKiB = peakResidentWhileRunning(program.pid);
        const ProgramRun run = finishHalvora(program);
        EXPECT_EQ(run.exitStatus, 0) << run.errors;
        return peakKiB;
    };
    const int64_t momentKiB = renderPeakKiB(scratch / "moment.wav", 4800);
    const fs::path out = scratch / "large.wav";
    const int64_t peakKiB = renderPeakKiB(out, frames);
    if (measuresMemory) {
        EXPECT_LT(peakKiB - momentKiB, memoryLimitKiB)
            << "media of " << mediaBytes / 1024 << " KiB must not all become resident (peak "
            << peakKiB << " KiB, " << momentKiB << " KiB for a moment of the project)";
        EXPECT_LT(peakKiB, programLimitKiB) << "the whole render's peak resident size";
    }

    const WrittenWav rendered = readWrittenWav(out);
    const std::vector<int16_t> expected = renderFromHeap(folder);
    ASSERT_TRUE(rendered.valid);
    ASSERT_EQ(rendered.samples.size(), expected.size());
    EXPECT_TRUE(rendered.samples == expected) << "the mapped render equals the heap render";
    int peak = 0;
    for (const int16_t sample : rendered.samples)
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    EXPECT_GT(peak, 3000) << "the mix is not silent";
    fs::remove_all(scratch);
}

} // namespace

#include "app/cli/tests/RunProgram.h"
#include "core/audiofile/AudioFile.h"
#include "core/project_io/ProjectFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <thread>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;

/// One track holding one clip of `seconds` of tone, saved with its media; the media file.
fs::path saveToneProject(const fs::path &folder, int64_t seconds) {
    fs::create_directories(folder / "media");
    Project project;
    project.sampleRate = rate;
    const auto track = project.addTrack(TrackType::Audio, "Tone");
    const auto clip = project.addClip(track->id, ClipKind::Audio);
    const int64_t frames = seconds * static_cast<int64_t>(rate);
    clip->audioFile = "media/clip_" + std::to_string(clip->id) + ".wav";
    EXPECT_TRUE(exportWav((folder / clip->audioFile).string(),
                          stereoTone(220.0, frames, 0.5f, rate)->data(), static_cast<int>(frames),
                          2, rate));
    clip->length = frames;
    const auto saved = project_io::saveProject(project, folder.string(), false);
    EXPECT_TRUE(saved.ok) << saved.error;
    return folder / clip->audioFile;
}

bool holdsOpen(int pid, const fs::path &wanted) {
    std::error_code fault;
    for (const auto &entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", fault))
        if (fs::read_symlink(entry.path(), fault) == wanted) return true;
    return false;
}

int threadCount(int pid) {
    std::error_code fault;
    int threads = 0;
    for (fs::directory_iterator task("/proc/" + std::to_string(pid) + "/task", fault), end;
         !fault && task != end; task.increment(fault))
        ++threads;
    return threads;
}

/// True once process `pid` has loaded the project with `file` in it. Holding the file open
/// is not enough: its header is read just after, and a change landing in between makes the
/// file unreadable at load instead of changed while playing. The program starts its first
/// thread only once the project is loaded.
bool waitUntilLoaded(int pid, const fs::path &file) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const fs::path wanted = fs::canonical(file);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (threadCount(pid) > 1 && holdsOpen(pid, wanted)) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

struct MediaChange {
    const char *name;
    std::function<void(const fs::path &)> apply;
};

const MediaChange changes[] = {
    {"truncated", [](const fs::path &file) { fs::resize_file(file, 44 + 400); }},
    {"replacedByAShorterFile",
     [](const fs::path &file) {
         std::ofstream(file, std::ios::binary | std::ios::trunc) << "RIFF, but not for long";
     }},
    {"deleted", [](const fs::path &file) { fs::remove(file); }},
};

struct VerbCase {
    const char *name;
    std::function<std::vector<std::string>(const fs::path &folder, const fs::path &scratch)>
        arguments;
};

const VerbCase verbs[] = {
    {"render",
     [](const fs::path &folder, const fs::path &scratch) {
         return std::vector<std::string>{"render", folder.string(), "-o",
                                         (scratch / "out.wav").string(), "--quiet"};
     }},
    {"play",
     [](const fs::path &folder, const fs::path &) {
         return std::vector<std::string>{"play", folder.string(), "--device",
                                         "null", "--seconds",     "3"};
     }},
};

TEST(ChangedMedia, AFileChangedUnderPlayOrRenderIsNamedOnceAndTheProgramFinishes) {
    for (const VerbCase &verb : verbs)
        for (const MediaChange &change : changes) {
            SCOPED_TRACE(std::string(verb.name) + " " + change.name);
            const fs::path scratch =
                makeScratchFolder(std::string("changed_media_") + verb.name + "_" + change.name);
            const fs::path folder = scratch / "song.halvora";
            const fs::path media = saveToneProject(folder, 20);
            const RunningProgram program = startHalvora(verb.arguments(folder, scratch), scratch);
            // Held still while the file changes, so that the change lands mid-run.
            const bool loaded = waitUntilLoaded(program.pid, media);
            ::kill(program.pid, SIGSTOP);
            change.apply(media);
            ::kill(program.pid, SIGCONT);
            const ProgramRun run = finishHalvora(program);
            ASSERT_TRUE(loaded);
            EXPECT_EQ(run.signal, 0) << "nothing ends the program";
            EXPECT_EQ(run.exitStatus, 3) << run.errors;
            const std::string name = media.filename().string();
            const auto first = run.errors.find(name);
            ASSERT_NE(first, std::string::npos) << run.errors;
            EXPECT_EQ(run.errors.find(name, first + 1), std::string::npos)
                << "named once: " << run.errors;
            if (std::string(verb.name) == "render") {
                EXPECT_TRUE(readWrittenWav(scratch / "out.wav").valid) << "the output is written";
            }
            fs::remove_all(scratch);
        }
}

} // namespace

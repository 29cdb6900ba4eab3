#pragma once
// What the benchmarks of playback from cold media share: songs of long tone tracks, and a
// page cache that holds none of a project's media.
#include "core/model/Project.h"

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace orvane::bench {

/// `tracks` stereo tracks of `seconds`, each one clip of its own tone, at half gain and
/// spread across the stereo field.
inline void addToneTracks(Project &project, int tracks, double seconds) {
    const double rate = project.sampleRate;
    const auto frames = static_cast<int64_t>(seconds * rate);
    for (int index = 0; index < tracks; ++index) {
        const auto track = project.addTrack(TrackType::Audio, "T" + std::to_string(index));
        track->gain = 0.5f;
        track->pan = static_cast<float>(index % 9 - 4) / 5.0f;
        const auto clip = project.addClip(track->id, ClipKind::Audio);
        std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
        const double step = 2.0 * std::numbers::pi * 80.0 * std::pow(2.0, index / 12.0) / rate;
        for (int64_t frame = 0; frame < frames; ++frame)
            samples[2 * frame] = samples[2 * frame + 1] =
                static_cast<float>(0.2 * std::sin(step * frame));
        clip->audio = makeSampleBuffer(std::move(samples));
        clip->length = frames;
    }
}

/// Asks the kernel to forget the cached pages of every media file of the project saved in
/// `folder` (written back first): every read from then on goes to the disk.
inline void dropMediaFromPageCache(const std::filesystem::path &folder) {
    ::sync();
    for (const auto &entry : std::filesystem::directory_iterator(folder / "media")) {
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

} // namespace orvane::bench

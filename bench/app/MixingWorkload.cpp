#include "bench/app/MixingWorkload.h"

#include "app/shell/DocumentOperations.h"
#include "core/audiofile/AudioFile.h"
#include "core/project_io/ProjectFolder.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <stdexcept>

namespace orvane::bench {

namespace fs = std::filesystem;

namespace {

constexpr double sampleRate = 48000.0;
constexpr double songSeconds = 60.0;

std::shared_ptr<std::vector<float>> stereoMaterial(int32_t index, int64_t frames) {
    auto samples = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2);
    const double frequency = 80.0 * std::pow(2.0, index / 12.0);
    for (int64_t frame = 0; frame < frames; ++frame) {
        const double phase = 2.0 * std::numbers::pi * frequency * frame / sampleRate;
        (*samples)[2 * frame] = static_cast<float>(0.2 * std::sin(phase));
        (*samples)[2 * frame + 1] = static_cast<float>(0.2 * std::sin(1.003 * phase));
    }
    return samples;
}

/// The fader with the default macros (gain × 1.125) and the balance pan law.
void writePeerLine(std::ofstream &peers, const fs::path &folder, const Track &track,
                   const Clip &clip) {
    const float fader = track.gain * 1.125f;
    const float left = fader * std::min(1.0f - track.pan, 1.0f);
    const float right = fader * std::min(1.0f + track.pan, 1.0f);
    peers << fs::absolute(folder / clip.audioFile).string() << ' ' << left << ' ' << right << '\n';
}

/// The workload is 16-bit media, as most recorded and bought material is: the project saves
/// its own media as floats, so each file is written again as 16-bit PCM in its place.
void rewriteMediaAsPcm16(const fs::path &folder, const Project &project) {
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (clip->kind == ClipKind::Audio && clip->audio &&
                !exportMediaWav((folder / clip->audioFile).string(), *clip->audio, clip->channels,
                                project.sampleRate, MediaEncoding::Pcm16))
                throw std::runtime_error("could not write " + (folder / clip->audioFile).string());
}

} // namespace

fs::path writeMixingProject(const fs::path &folder, int32_t eqBands) {
    if (fs::exists(folder / "project.json") && fs::exists(folder / "peers.txt")) return folder;
    Project project;
    project.sampleRate = sampleRate;
    project.masterEq.enabled = false;
    project.mastering.enabled = false;
    project.controlRoom.cueGain = 0.0f;
    const auto frames = static_cast<int64_t>(songSeconds * sampleRate);
    for (int32_t index = 0; index < 32; ++index) {
        auto track = project.addTrack(TrackType::Audio, "Track " + std::to_string(index + 1));
        track->gain = 0.5f + 0.01f * static_cast<float>(index);
        track->pan = static_cast<float>(index % 9 - 4) / 5.0f;
        track->eq.enabled = eqBands > 0;
        for (std::size_t band = 0; band < track->eq.bands.size(); ++band) {
            track->eq.bands[band].enabled = static_cast<int32_t>(band) < eqBands;
            track->eq.bands[band].gainDb = band % 2 == 0 ? 3.0f : -2.0f;
        }
        auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = stereoMaterial(index, frames);
        clip->channels = 2;
        clip->length = frames;
    }
    HVEnsureReturnTracks(project);
    if (const auto saved = project_io::saveProject(project, folder.string(), false); !saved.ok)
        throw std::runtime_error("could not save the mixing project: " + saved.error);
    rewriteMediaAsPcm16(folder, project);
    std::ofstream peers(folder / "peers.txt", std::ios::trunc);
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (clip->kind == ClipKind::Audio) writePeerLine(peers, folder, *track, *clip);
    return folder;
}

} // namespace orvane::bench

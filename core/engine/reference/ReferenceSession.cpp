#include "core/engine/reference/ReferenceSession.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace orvane {

namespace {

constexpr double clipSeconds = 10.0;

/// Two detuned partials and a little deterministic noise, different for every track.
std::shared_ptr<std::vector<float>> trackMaterial(int32_t trackIndex, int64_t frames, double rate) {
    auto samples = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2);
    const double base = 55.0 * std::pow(2.0, (trackIndex % 36) / 12.0);
    const double second = base * (1.5 + 0.01 * (trackIndex % 7));
    uint32_t noise = 0x9E3779B9u * static_cast<uint32_t>(trackIndex + 1);
    for (int64_t frame = 0; frame < frames; ++frame) {
        const double t = static_cast<double>(frame) / rate;
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
        const double left = 0.08 * std::sin(2.0 * std::numbers::pi * base * t) + hiss;
        const double right = 0.06 * std::sin(2.0 * std::numbers::pi * second * t) + hiss;
        (*samples)[static_cast<std::size_t>(frame * 2)] = static_cast<float>(left);
        (*samples)[static_cast<std::size_t>(frame * 2 + 1)] = static_cast<float>(right);
    }
    return samples;
}

void addAudioTracks(Project &project, const ReferenceSessionOptions &options,
                    const std::vector<uint64_t> &returns, int64_t totalFrames) {
    const auto clipFrames = static_cast<int64_t>(clipSeconds * options.sampleRate);
    for (int32_t index = 0; index < options.audioTracks; ++index) {
        auto track = project.addTrack(TrackType::Audio, "Audio " + std::to_string(index + 1));
        track->pan = static_cast<float>((index % 9) - 4) / 8.0f;
        for (std::size_t send = 0; send < returns.size() && send < 4; ++send)
            track->sends[send] = SendSlot{returns[send], 0.3f, false};
        const auto material = trackMaterial(index, clipFrames, options.sampleRate);
        for (int64_t start = 0; start < totalFrames; start += clipFrames) {
            auto clip = project.addClip(track->id, ClipKind::Audio);
            clip->arrangeStart = start;
            clip->length = std::min(clipFrames, totalFrames - start);
            clip->audio = material;
            clip->channels = 2;
            clip->fadeIn = static_cast<int64_t>(0.005 * options.sampleRate);
            clip->fadeOut = static_cast<int64_t>(0.005 * options.sampleRate);
            clip->audioFile = "media/clip_" + std::to_string(clip->id) + ".wav";
        }
    }
}

void addMidiTracks(Project &project, const ReferenceSessionOptions &options,
                   const std::vector<uint64_t> &returns, int64_t totalFrames) {
    const auto beatFrames = static_cast<int64_t>(60.0 / project.tempoBpm * options.sampleRate);
    static constexpr int32_t chordShape[4] = {0, 4, 7, 11};
    for (int32_t index = 0; index < options.midiTracks; ++index) {
        auto track = project.addTrack(TrackType::Midi, "MIDI " + std::to_string(index + 1));
        for (std::size_t send = 0; send < returns.size() && send < 4; ++send)
            track->sends[send] = SendSlot{returns[send], 0.3f, false};
        auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->length = totalFrames;
        const int32_t root = 48 + (index * 5) % 24;
        for (int64_t beat = 0; beat * beatFrames < totalFrames; ++beat)
            for (int32_t interval : chordShape)
                clip->notes.push_back(
                    MidiNote{root + interval, 0.6f, beat * beatFrames, beatFrames / 2, 1.0f, 0.0f});
    }
}

} // namespace

Project buildReferenceSession(const ReferenceSessionOptions &options) {
    Project project;
    project.name = "Reference Session";
    project.sampleRate = options.sampleRate;
    project.tempoBpm = 120.0;
    const auto totalFrames = static_cast<int64_t>(options.seconds * options.sampleRate);
    project.lengthSamples = totalFrames;
    std::vector<uint64_t> returns;
    for (const char *name : {"Reverb Return", "Delay Return"}) {
        auto track = project.addTrack(TrackType::Return, name);
        returns.push_back(track->id);
    }
    project.findTrack(returns[0])
        ->inserts.push_back(InsertSlot{"stock.reverb", "Reverb", "", {}, false, true, 0, {}});
    project.findTrack(returns[1])
        ->inserts.push_back(InsertSlot{"stock.delay", "Delay", "", {}, false, true, 0, {}});
    addAudioTracks(project, options, returns, totalFrames);
    addMidiTracks(project, options, returns, totalFrames);
    project.masterEq.enabled = true;
    project.mastering.enabled = true;
    return project;
}

} // namespace orvane

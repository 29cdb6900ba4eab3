#pragma once

#include "core/engine/tests/EngineTestSupport.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace orvane::testing {

/// A device format to render with: the rate, the prepared block size, and whether the
/// periods are that size or random sizes up to 4096 (longer than prepared included).
struct RenderSetup {
    double rate = 48000.0;
    int32_t blockSize = 512;
    bool randomBlockSizes = false;

    std::string name() const {
        return std::to_string(static_cast<int>(rate)) + "Hz_" + std::to_string(blockSize) +
               (randomBlockSizes ? "_random" : "");
    }
};

/// 44.1, 48 and 96 kHz, each with blocks of 32 to 512 frames and with random periods.
inline std::vector<RenderSetup> renderSetups() {
    std::vector<RenderSetup> setups;
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (int32_t block : {32, 64, 128, 256, 512})
            setups.push_back({rate, block, false});
        setups.push_back({rate, 512, true});
    }
    return setups;
}

/// An engine prepared at 48 kHz with 512-frame blocks (or the given setup), the master chain
/// switched off and the cue level at 0, so that what a track plays reaches the output with
/// only its fader applied.
class RenderRig {
  public:
    /// The fader gain of a track with the default macros (macro 0 at 0.5).
    static constexpr float defaultFader = 1.125f;

    explicit RenderRig(RenderSetup renderSetup = {}) : setup(renderSetup) {
        engine.prepareToPlay(setup.rate, setup.blockSize);
        edit([](Project &project) {
            project.masterEq.enabled = false;
            project.mastering.enabled = false;
            project.controlRoom.cueGain = 0.0f;
        });
    }

    void edit(const std::function<void(Project &)> &change) {
        {
            std::lock_guard lock(engine.projectMutex);
            change(engine.project);
        }
        engine.publishGraph();
    }

    std::shared_ptr<Track> addTrack(TrackType type) {
        std::shared_ptr<Track> track;
        edit([&](Project &project) {
            track = project.addTrack(type, "");
            track->eq.enabled = false;
        });
        return track;
    }

    /// A clip of `frames` frames whose every sample is `value` (stereo) or `left`/`right`.
    std::shared_ptr<Clip> addConstantClip(const std::shared_ptr<Track> &track, int64_t frames,
                                          float left, float right, int32_t channels = 2) {
        std::shared_ptr<Clip> clip;
        edit([&](Project &project) {
            clip = project.addClip(track->id, ClipKind::Audio);
            auto samples = std::make_shared<std::vector<float>>();
            for (int64_t i = 0; i < frames; ++i) {
                samples->push_back(left);
                if (channels == 2) samples->push_back(right);
            }
            clip->audio = samples;
            clip->channels = channels;
        });
        return clip;
    }

    /// Plays `blocks` blocks from `position` and returns what came out, blocks joined.
    std::vector<std::vector<float>> play(int64_t position, int blocks = 1, int32_t frames = 512) {
        send(engine, RequestType::locate, 0, static_cast<double>(position));
        send(engine, RequestType::play);
        std::vector<std::vector<float>> out(2);
        StereoOutput block(frames);
        for (int i = 0; i < blocks; ++i) {
            block.render(engine);
            out[0].insert(out[0].end(), block.left.begin(), block.left.end());
            out[1].insert(out[1].end(), block.right.begin(), block.right.end());
        }
        send(engine, RequestType::pause);
        block.render(engine);
        return out;
    }

    /// Renders `frames` frames from `position` in the setup's periods and returns them.
    std::vector<std::vector<float>> playFrames(int64_t position, int64_t frames) {
        send(engine, Request::locate(position));
        send(engine, Request::play());
        std::vector<std::vector<float>> out(2);
        std::mt19937 random(static_cast<uint32_t>(setup.rate) + setup.blockSize);
        for (int64_t done = 0; done < frames;) {
            int32_t period = setup.blockSize;
            if (setup.randomBlockSizes) period = static_cast<int32_t>(random() % 4096) + 1;
            period = static_cast<int32_t>(std::min<int64_t>(period, frames - done));
            StereoOutput block(period);
            block.render(engine);
            out[0].insert(out[0].end(), block.left.begin(), block.left.end());
            out[1].insert(out[1].end(), block.right.begin(), block.right.end());
            done += period;
        }
        send(engine, Request::pause());
        StereoOutput(1).render(engine);
        return out;
    }

    RenderSetup setup;
    Engine engine;
};

} // namespace orvane::testing

#pragma once

#include "core/engine/tests/EngineTestSupport.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane::testing {

/// An engine prepared at 48 kHz with 512-frame blocks, the master chain switched off and the
/// cue level at 0, so that what a track plays reaches the output with only its fader applied.
class RenderRig {
  public:
    /// The fader gain of a track with the default macros (macro 0 at 0.5).
    static constexpr float defaultFader = 1.125f;

    RenderRig() {
        engine.prepareToPlay(48000, 512);
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

    Engine engine;
};

} // namespace orvane::testing

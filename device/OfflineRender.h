#pragma once

#include "core/engine/Engine.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvane {

/// Called after every rendered block with the frames done so far and the frames asked for.
using OfflineRenderProgress = std::function<void(int64_t renderedFrames, int64_t totalFrames)>;

/// Receives each rendered block as `frames` interleaved frames; false stops the render.
using OfflineRenderSink = std::function<bool(const float *interleaved, int32_t frames)>;

/// The largest block an offline render hands the engine: the engine renders nothing for a
/// block above its prepared size, so a render never asks for more than that either.
constexpr int32_t offlineRenderMaxBlock = 512;

/// Renders `frames` frames of the arrangement from `start` into `out` (interleaved; with one
/// channel the left signal only), as a mixdown: no metronome click, no wrap at the cycle end,
/// never the session grid. The engine must be prepared; the render takes it over for its
/// whole length (device blocks stay silent) from fresh processing state, without live MIDI,
/// queued requests, meters or flashback, so two renders of one span are identical whatever
/// played before; the live transport is not touched. Runs on one thread at a time (the main
/// thread or a worker). False with `error` set when nothing was rendered.
[[nodiscard]] bool renderMixdown(Engine &engine, std::vector<float> &out, int64_t start,
                                 int64_t frames, int32_t channels, std::string *error = nullptr,
                                 const OfflineRenderProgress &progress = {});

/// `renderMixdown` handing each block to `sink` as it is rendered, so that a long render
/// never holds its whole output. False with `error` set when the sink refused a block.
[[nodiscard]] bool renderMixdownTo(Engine &engine, int64_t start, int64_t frames, int32_t channels,
                                   const OfflineRenderSink &sink, std::string *error = nullptr,
                                   const OfflineRenderProgress &progress = {});

/// `renderMixdown` with the track `trackId` soloed alone; every track's solo switch is put
/// back afterwards (tracks that vanished meanwhile are skipped).
[[nodiscard]] bool renderTrackMixdown(Engine &engine, uint64_t trackId, std::vector<float> &out,
                                      int64_t start, int64_t frames, int32_t channels,
                                      std::string *error = nullptr,
                                      const OfflineRenderProgress &progress = {});
[[nodiscard]] bool renderTrackMixdownTo(Engine &engine, uint64_t trackId, int64_t start,
                                        int64_t frames, int32_t channels,
                                        const OfflineRenderSink &sink, std::string *error = nullptr,
                                        const OfflineRenderProgress &progress = {});

/// The track `trackId` alone as it leaves its channel EQ, built-in effects and inserts, in
/// stereo: before its fader, pan, sends and the master section, whatever its mute and solo,
/// and moved back by its inserts' delay so that frame 0 is what it made of `start`. What a
/// frozen track then plays in their place.
[[nodiscard]] bool renderTrackPreFader(Engine &engine, uint64_t trackId, std::vector<float> &out,
                                       int64_t start, int64_t frames,
                                       std::string *error = nullptr);

} // namespace orvane

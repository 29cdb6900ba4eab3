#include "device/OfflineRender.h"

#include "core/engine/MediaPrefetch.h"

#include <algorithm>
#include <array>
#include <limits>
#include <mutex>
#include <new>
#include <utility>

namespace orvane {

namespace {

void setError(std::string *error, std::string text) {
    if (error) *error = std::move(text);
}

bool checkRenderArguments(int64_t start, int64_t frames, int32_t channels, std::string *error) {
    if (channels < 1 || channels > 2) {
        setError(error, "channels must be 1 or 2");
        return false;
    }
    if (frames < 1) {
        setError(error, "nothing to render: the length must be at least one frame");
        return false;
    }
    if (start < 0) {
        setError(error, "the render cannot start before sample 0");
        return false;
    }
    if (frames > std::numeric_limits<int64_t>::max() - start ||
        static_cast<uint64_t>(frames) > std::vector<float>().max_size() / 2) {
        setError(error, "the render length is too large");
        return false;
    }
    return true;
}

bool allocateOutput(std::vector<float> &out, int64_t frames, int32_t channels, std::string *error) {
    try {
        out.assign(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels), 0.0f);
        return true;
    } catch (const std::bad_alloc &) {
        out.clear();
        setError(error, "not enough memory for " + std::to_string(frames) + " frames");
        return false;
    }
}

/// Interleaves one rendered block (mono: the left signal only).
void interleave(const float *left, const float *right, int32_t frames, int32_t channels,
                float *target) {
    if (channels == 1) {
        std::copy_n(left, frames, target);
        return;
    }
    for (int32_t i = 0; i < frames; ++i) {
        target[2 * i] = left[i];
        target[2 * i + 1] = right[i];
    }
}

/// File-backed media are read in pieces of 16,384 frames per clip on a reader thread, a piece
/// ahead of the block that needs them: a long project's memory stays at a few pieces per
/// sounding clip, and pieces this size cost one large read each while their memory stays
/// small enough to be reused warm instead of being faulted in afresh.
int64_t exportWindowFrames(int32_t block) {
    constexpr int64_t pieceFrames = 16384;
    return std::max<int64_t>(pieceFrames, 8 * int64_t{block});
}

bool renderBlocks(Engine &engine, int64_t start, int64_t frames, int32_t channels, int32_t block,
                  const OfflineRenderSink &sink, const OfflineRenderProgress &progress) {
    ExportMediaReader media(engine, exportWindowFrames(block));
    std::array<std::vector<float>, 2> scratch{std::vector<float>(static_cast<std::size_t>(block)),
                                              std::vector<float>(static_cast<std::size_t>(block))};
    std::vector<float> interleaved(static_cast<std::size_t>(block) * 2);
    std::array<float *, 2> buffers{scratch[0].data(), scratch[1].data()};
    for (int64_t done = 0; done < frames;) {
        const auto count = static_cast<int32_t>(std::min<int64_t>(block, frames - done));
        media.prepareBlock(start + done, count);
        engine.processBlockOffline(buffers.data(), 2, count);
        interleave(buffers[0], buffers[1], count, channels, interleaved.data());
        if (!sink(interleaved.data(), count)) return false;
        done += count;
        if (progress) progress(done, frames);
    }
    return true;
}

/// Whether the project has the track; `error` says so when not. Called with the project lock.
bool hasTrack(const Engine &engine, uint64_t trackId, std::string *error) {
    if (trackId != 0 && engine.project.findTrack(trackId)) return true;
    setError(error, "no track with id " + std::to_string(trackId));
    return false;
}

/// Runs `render` with the track `trackId` soloed alone, then puts every solo back.
template <typename Render>
bool withTrackSoloed(Engine &engine, uint64_t trackId, std::string *error, Render render) {
    std::vector<std::pair<uint64_t, bool>> savedSolo;
    {
        std::lock_guard lock(engine.projectMutex);
        if (!hasTrack(engine, trackId, error)) return false;
        for (const auto &track : engine.project.tracks) {
            if (!track) continue;
            savedSolo.emplace_back(track->id, track->solo);
            track->solo = track->id == trackId;
        }
        engine.publishGraph();
    }
    const bool rendered = render();
    std::lock_guard lock(engine.projectMutex);
    for (const auto &[id, solo] : savedSolo)
        if (const auto track = engine.project.findTrack(id)) track->solo = solo;
    engine.publishGraph();
    return rendered;
}

/// The render behind every public one; `preFaderTrackId` names the one track a freeze takes
/// (0 for the mix). The track's own insert delay is left out, so that frame 0 of the result
/// is what the track made of `start`.
bool renderFrom(Engine &engine, int64_t start, int64_t frames, int32_t channels,
                const OfflineRenderSink &sink, std::string *error,
                const OfflineRenderProgress &progress, uint64_t preFaderTrackId) {
    if (!checkRenderArguments(start, frames, channels, error)) return false;
    const int64_t prepared = engine.rtBlockSize.load();
    if (prepared < 1) {
        setError(error, "the engine is not prepared to render");
        return false;
    }
    // The export keeps its own position and processing state: the live transport, the
    // queued requests and what plays live are left exactly as they were.
    if (!engine.beginOfflineRender(start, preFaderTrackId)) {
        setError(error, "another offline render is using the engine");
        return false;
    }
    const auto block = static_cast<int32_t>(std::min<int64_t>(offlineRenderMaxBlock, prepared));
    // Read inside the render, where a sandboxed insert is waited for and adds no live delay.
    int64_t skip = preFaderTrackId != 0 ? engine.trackLatencySamples(preFaderTrackId) : 0;
    const OfflineRenderSink skipping = [&](const float *interleaved, int32_t count) {
        const int32_t skipped = static_cast<int32_t>(std::min<int64_t>(skip, count));
        skip -= skipped;
        return skipped == count || sink(interleaved + skipped * channels, count - skipped);
    };
    const bool delivered =
        renderBlocks(engine, start, frames + skip, channels, block, skip > 0 ? skipping : sink,
                     progress);
    engine.endOfflineRender();
    if (!delivered) setError(error, "the rendered audio could not be delivered");
    return delivered;
}

/// `renderTo` (a render taking a sink) into `out`, interleaved; `out` is left empty when
/// nothing was rendered.
template <typename RenderTo>
bool renderInto(std::vector<float> &out, int64_t frames, int32_t channels, std::string *error,
                RenderTo renderTo) {
    if (!allocateOutput(out, frames, channels, error)) return false;
    float *target = out.data();
    const bool rendered = renderTo([&](const float *block, int32_t count) {
        target = std::copy_n(block, static_cast<std::size_t>(count) * channels, target);
        return true;
    });
    if (!rendered) out.clear();
    return rendered;
}

} // namespace

bool renderMixdownTo(Engine &engine, int64_t start, int64_t frames, int32_t channels,
                     const OfflineRenderSink &sink, std::string *error,
                     const OfflineRenderProgress &progress) {
    return renderFrom(engine, start, frames, channels, sink, error, progress, 0);
}

bool renderMixdown(Engine &engine, std::vector<float> &out, int64_t start, int64_t frames,
                   int32_t channels, std::string *error, const OfflineRenderProgress &progress) {
    if (!checkRenderArguments(start, frames, channels, error)) return false;
    if (engine.rtBlockSize.load() < 1) {
        setError(error, "the engine is not prepared to render");
        return false;
    }
    return renderInto(out, frames, channels, error, [&](const OfflineRenderSink &sink) {
        return renderMixdownTo(engine, start, frames, channels, sink, error, progress);
    });
}

bool renderTrackMixdown(Engine &engine, uint64_t trackId, std::vector<float> &out, int64_t start,
                        int64_t frames, int32_t channels, std::string *error,
                        const OfflineRenderProgress &progress) {
    return withTrackSoloed(engine, trackId, error, [&] {
        return renderMixdown(engine, out, start, frames, channels, error, progress);
    });
}

bool renderTrackMixdownTo(Engine &engine, uint64_t trackId, int64_t start, int64_t frames,
                          int32_t channels, const OfflineRenderSink &sink, std::string *error,
                          const OfflineRenderProgress &progress) {
    return withTrackSoloed(engine, trackId, error, [&] {
        return renderMixdownTo(engine, start, frames, channels, sink, error, progress);
    });
}

bool renderTrackPreFader(Engine &engine, uint64_t trackId, std::vector<float> &out, int64_t start,
                         int64_t frames, std::string *error) {
    {
        std::lock_guard lock(engine.projectMutex);
        if (!hasTrack(engine, trackId, error)) return false;
    }
    if (!checkRenderArguments(start, frames, 2, error)) return false;
    return renderInto(out, frames, 2, error, [&](const OfflineRenderSink &sink) {
        return renderFrom(engine, start, frames, 2, sink, error, {}, trackId);
    });
}

} // namespace orvane

#pragma once

#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace orvane::bench {

/// The chain the plug-in benchmarks measure: x42's equaliser and compressor (LV2).
inline constexpr const char *equaliserUri = "http://gareus.org/oss/lv2/fil4#stereo";
inline constexpr const char *compressorUri = "http://gareus.org/oss/lv2/darc#stereo";

/// Puts the equaliser and the compressor on every audio track of the engine's project; the
/// number of inserts, or 0 when one would not load (package x42-plugins missing).
inline int loadEqualiserAndCompressor(Engine &engine, vst::PluginRack &rack) {
    std::vector<uint64_t> trackIds;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &track : engine.project.tracks)
            if (track && track->type == TrackType::Audio) trackIds.push_back(track->id);
    }
    for (const uint64_t trackId : trackIds)
        for (const char *uri : {equaliserUri, compressorUri})
            if (!rack.loadLv2(trackId, uri)) return 0;
    return static_cast<int>(trackIds.size() * 2);
}

} // namespace orvane::bench

#pragma once

#include "core/model/Project.h"

#include <cstdint>

namespace orvane {

/// The workload the renderer is measured and checked on: stereo audio tracks covered end to
/// end by ten-second clips with fades, MIDI tracks playing a four-note chord on every beat,
/// two return tracks fed by every source track, master EQ and mastering on.
struct ReferenceSessionOptions {
    int32_t audioTracks = 64;
    int32_t midiTracks = 16;
    double seconds = 60.0;
    double sampleRate = 48000.0;
};

/// Builds the session in memory; every clip's audio is generated, distinct per track and
/// never silent. The clips of one track share one buffer.
Project buildReferenceSession(const ReferenceSessionOptions &options = {});

} // namespace orvane

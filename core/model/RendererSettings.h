#pragma once

#include "core/model/Project.h"

#include <array>
#include <cstdint>
#include <vector>

namespace orvane {

/// The stored settings the renderers read, as every graph snapshot carries them: plain
/// members, so the audio thread reads them as fast as any other. The table of stored fields
/// names, for each setting the renderers read, the member here it is copied into, so a new
/// such setting needs a member here and a row there, and no line in the snapshot builder.
/// The defaults are the project's own.
struct RendererSettings {
    int32_t rows = 8;
    int32_t cols = 8;
    LaunchQuantize launchQuantize = LaunchQuantize::OneBar;
    std::vector<Scene> scenes;
    double tempoBpm = 120.0;
    TimeSignature timeSignature;
    std::vector<TempoMarker> tempoMarkers;
    std::vector<MeterMarker> meterMarkers;
    ControlRoomSettings controlRoom;
    ChannelEq8 masterEq;
    MasteringUtility mastering;
    float metronomeVolume = 0.8f;
    /// The project's maps; the snapshot builder puts the built-in ones in when it has none.
    std::vector<ExpressionMap> expressionMaps;
    std::array<float, 12> scalaCents{};
    int32_t scaleRoot = 0;
    bool scaleMinor = false;
    std::vector<int32_t> kbmDegrees;
};

} // namespace orvane

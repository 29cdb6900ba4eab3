#pragma once

#include "core/engine/GraphSnapshot.h"
#include "core/model/Project.h"

#include <bit>
#include <cstdint>
#include <span>
#include <string>

namespace orvane {

// The stages a track's signal passes through on the audio thread. Free functions so that
// the arrangement and the session renderer share them and tests can drive each one alone.
// None allocates, locks or does I/O.

/// Linear interpolation of ascending points at `position`; `fallback` when there are none.
float readAutomation(std::span<const AutomationPoint> points, int64_t position, float fallback);

/// Lane 0 volume, 1 pan, 2 mute (other lanes read the volume lane). An automation clip of
/// the lane covering `position` overrides the lane.
float readAutomationAt(const Track &track, int32_t lane, int64_t position, float fallback);
/// The gain (lane 0) or pan (lane 1) the mixer applies at `position` before the macros: the
/// lane's value where the lane is automated, the track's own setting elsewhere.
float mixerValueAt(const Track &track, int32_t lane, int64_t position);

bool trackMutedAt(const Track &track, int64_t position);

/// True when the fader or the pan must be evaluated per sample.
bool hasMixerAutomation(const Track &track);

/// Fader gain with macro 0 applied.
float faderGain(const Track &track, float gain);
/// Pan with macro 1 applied, clamped to -1..1.
float macroPan(const Track &track, float pan);

/// The largest magnitude among `count` samples, as the bits of that float. An integer maximum
/// vectorises where a float one would not; infinities and NaNs compare above every finite
/// value, so a result of at least `nonFiniteMagnitudeBits` means one of them is present.
uint32_t largestMagnitudeBits(const float *samples, int32_t count);
/// A sample's magnitude as the bits of its float, without the sign: these compare as signed
/// integers the same as the magnitudes do, which every x86-64 compares four at a time.
inline int32_t magnitudeBits(float sample) { return std::bit_cast<int32_t>(sample) & 0x7fffffff; }
constexpr uint32_t nonFiniteMagnitudeBits = 0x7f800000u;

struct Peaks {
    float left = 0.0f;
    float right = 0.0f;
};

/// The block's peaks, a NaN taken as the loudest value.
Peaks blockPeaks(const float *left, const float *right, int32_t frames);

/// Fader and pan for the whole block. `gainOverride` is used when not negative and
/// `panOverride` when below 2.
Peaks applyMixer(const Track &track, float *left, float *right, int32_t frames, float gainOverride,
                 float panOverride);
/// Fader and pan evaluated per sample from the automation, starting at `position`.
Peaks applyMixerAutomation(const Track &track, float *left, float *right, int32_t frames,
                           int64_t position);

/// Delays both channels by `delay` samples through the track's delay lines; does nothing
/// when the lines are too short for the block.
void applyPdcDelay(PdcState *state, float *left, float *right, int32_t frames, int64_t delay);

/// What the stock stage does for a stock insert id.
StockInsertProcessor::Kind stockKindOf(const std::string &pluginId);

/// Gives parameter `index` of a built-in insert's processor `value`, in the unit its panel
/// shows (the order of `stockParametersOf`). Does nothing for a processor without settings
/// (an unset compressor or EQ) or an index past the effect's parameters.
void setStockParameter(StockInsertProcessor &processor, uint32_t index, float value);

/// The built-in stock stage of one track's inserts for the block starting at `position`. An
/// automated insert takes its parameter from its lane at the block's start; the compressor's
/// envelope and the EQ's kept filter states smooth the step from one block to the next.
void processStockFx(const Track &track, StockInsertChain *chain, float *left, float *right,
                    int32_t frames, int64_t position);

/// Maps the master bus onto the device channels through the control room.
void writeMasterOutput(const ControlRoomSettings &controlRoom, const float *masterLeft,
                       const float *masterRight, float *const *channels, int32_t channelCount,
                       int32_t frames);

/// Gain of send slot `index`: send 0 follows macro 2.
float sendGain(const Track &track, std::size_t index);

} // namespace orvane

#pragma once

#include "core/stock/DrumKit.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane::stock {

/// A sample of the drum sampler in memory: stereo (a mono file plays on both sides), at
/// `sampleRate`. Never written once shared.
struct DrumSample {
    std::vector<float> left;
    std::vector<float> right;
    double sampleRate = 48000.0;
    int64_t frames() const { return static_cast<int64_t>(left.size()); }
};

/// The rate the default kit's sounds are synthesised at.
inline constexpr double drumSynthesisRate = 48000.0;
/// The longest sample a pad takes: a drum hit, not a song.
inline constexpr double longestDrumSampleSeconds = 60.0;

/// One sound of the default kit, made afresh: the same bytes on every call and machine, peak
/// 0.7 (about −3 dBFS), ending once it has decayed to silence.
DrumSample synthesiseDrumSound(DrumSound sound);

/// The sample a layer names: "builtin:<sound>" synthesised once for the process, or a WAV or
/// FLAC file (`file` absolute, or relative to `projectRoot`) read once for each canonical
/// path and kept while someone holds it, read again when the file changes. Blocks while it
/// loads: never on the audio thread. Null with `error` saying why for a missing, unreadable,
/// empty or overlong file.
std::shared_ptr<const DrumSample>
loadDrumSample(const std::string &file, const std::string &projectRoot, std::string &error);

/// Reads a sample file the user chose, without keeping it: how a window checks the file
/// before the pad takes it. False with `error` saying why.
bool checkDrumSampleFile(const std::string &path, std::string &error);

/// `sample` converted to `sampleRate` by a windowed-sinc filter (anti-aliased when the rate
/// goes down); the same object when the rates already match.
std::shared_ptr<const DrumSample> drumSampleAtRate(std::shared_ptr<const DrumSample> sample,
                                                   double sampleRate);

} // namespace orvane::stock

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

/// The id of the drum sampler as a track's instrument, beside "stock.synth" and "stock.gm".
inline constexpr std::string_view drumsInstrumentId = "stock.drums";

} // namespace orvane

namespace orvane::stock {

/// One sample of a pad and the velocities (1..127, both ends included) that choose it.
struct DrumLayer {
    /// A file named relative to the project's folder ("media/kick.wav"), an absolute path
    /// (a project not saved yet), or "builtin:<sound>" for a sound of the default kit.
    std::string file;
    int32_t lowVelocity = 1;
    int32_t highVelocity = 127;
    bool operator==(const DrumLayer &) const = default;
};

/// A key of the drum sampler: the note that strikes it and how it sounds.
struct DrumPad {
    int32_t note = 36;
    std::string name;
    float gainDb = 0.0f;
    /// −1 (left) .. 1 (right); the far side keeps full level.
    float pan = 0.0f;
    /// Semitones the samples are played higher (or lower when negative).
    float tune = 0.0f;
    /// 0: none. A pad of a group silences the group's other pads when it strikes.
    int32_t chokeGroup = 0;
    std::vector<DrumLayer> layers;
    bool operator==(const DrumPad &) const = default;
};

struct DrumKit {
    std::vector<DrumPad> pads;
    bool operator==(const DrumKit &) const = default;
};

/// The settings a pad may hold; a stored value outside is brought within.
namespace drum_limits {
inline constexpr std::size_t maxPads = 64;
inline constexpr std::size_t maxLayers = 8;
inline constexpr float minGainDb = -60.0f;
inline constexpr float maxGainDb = 12.0f;
inline constexpr float minTune = -24.0f;
inline constexpr float maxTune = 24.0f;
inline constexpr int32_t maxChokeGroup = 8;
} // namespace drum_limits

/// The prefix of a layer's file that names a sound of the default kit.
inline constexpr std::string_view builtinDrumPrefix = "builtin:";

/// The sounds the default kit synthesises, by the name a layer gives after "builtin:".
enum class DrumSound {
    Kick,
    Snare,
    Rim,
    Clap,
    ClosedHat,
    OpenHat,
    LowTom,
    MidTom,
    HighTom,
    Crash,
    Ride
};
inline constexpr int drumSoundCount = 11;
std::string_view drumSoundName(DrumSound sound);
/// False for a name that is not one of the default kit's sounds.
bool drumSoundNamed(std::string_view name, DrumSound &sound);

/// Eleven pads on the General MIDI drum notes, each playing a sound synthesised at load; the
/// two hi-hats share a choke group, so the closed one cuts the open one.
DrumKit defaultDrumKit();

/// Shares the velocities 1..127 evenly between the layers, softest first: two layers play
/// 1–63 and 64–127.
void spreadVelocityLayers(std::vector<DrumLayer> &layers);

/// Brings every setting within its range (pads and layers past the limits are dropped).
void clampDrumKit(DrumKit &kit);

/// "pads=N", then per pad "pad.<i>.note=", ".name=", ".gain=", ".pan=", ".tune=", ".choke=",
/// ".layers=M" and per layer "pad.<i>.layer.<j>.file=", ".low=", ".high=". Empty text is the
/// default kit. Unknown keys are skipped (a later version's settings); a value that does not
/// read, or a pad or layer past the count, rejects the text and leaves `kit` untouched.
std::string writeDrumStateText(const DrumKit &kit);
bool readDrumStateText(std::string_view text, DrumKit &kit, std::string *error);

/// The kit a stored state plays: the default kit for a state that does not read.
DrumKit drumKitOfState(std::string_view text);

} // namespace orvane::stock

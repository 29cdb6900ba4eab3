#pragma once

#include "core/plugins/Plugin.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

typedef struct LilvPluginImpl LilvPlugin;

namespace orvane::lv2 {

struct Lv2PluginState;

/// One control input port, as the host shows it as a parameter.
struct Lv2Parameter {
    uint32_t portIndex = 0;
    std::string symbol;
    std::string name;
    float minimum = 0.0f;
    float maximum = 1.0f;
    float defaultValue = 0.0f;
    bool toggled = false;
    bool integer = false;
    bool logarithmic = false;
    bool enumeration = false;
    /// Values with names, sorted by value; the choices of an enumeration.
    std::vector<std::pair<float, std::string>> scalePoints;
    /// "dB", "Hz", "ms", "%" and the like; empty when the plug-in names none.
    std::string unit;
    /// The name of the port group that holds the port; empty when none does.
    std::string group;
};

/// The plain value that `normalized` in [0, 1] stands for: logarithmic ranges (above zero)
/// spread by ratio, toggles snap to either end, integers and enumerations to whole steps (an
/// enumeration to its nearest scale point).
float plainFromNormalized(const Lv2Parameter &parameter, float normalized);
/// The inverse of `plainFromNormalized`, clamped to [0, 1].
float normalizedFromPlain(const Lv2Parameter &parameter, float plain);

/// The name the plug-in gives `plain` when it is one of the parameter's scale points (within a
/// millionth of its range), for an enumeration or any other control; empty otherwise.
std::string scalePointLabel(const Lv2Parameter &parameter, float plain);

/// A short MIDI message at a frame of the next block.
using Lv2MidiEvent = vst::PluginMidiEvent;

/// Hosts one LV2 plug-in in this process through lilv, as a stereo insert or instrument.
///
/// Audio ports: two inputs and outputs are the two channels; a plug-in with one input and one
/// output runs as two instances, one per channel; one input takes the average of both
/// channels, one output feeds both. Further audio and CV inputs get silence; further outputs
/// are discarded.
///
/// Threads: `process` runs on the audio thread; everything else on the main thread. The audio
/// thread never waits: it only tries the processing lock and leaves the block untouched while
/// `prepare`, `setState`, `getState` or `unload` hold it. Parameter values reach the audio
/// thread through one atomic per port. Work a plug-in schedules runs on a worker thread of
/// this instance; its responses reach the plug-in at the start of the next block.
class Lv2Plugin final : public vst::Plugin {
  public:
    Lv2Plugin();
    ~Lv2Plugin() override;
    /// The control inputs, in port order; filled by `load`.
    std::vector<Lv2Parameter> parameters;
    /// Why the last `load`, `prepare` or `setState` failed.
    std::string lastError;

    /// Finds the plug-in by URI among the installed ones and reads its ports. Fails, with
    /// `lastError` saying why, for an unknown URI or a plug-in that needs a feature this host
    /// does not give. Nothing of the plug-in's code runs before `prepare`.
    [[nodiscard]] bool load(const std::string &uri);
    /// Creates the instances for this rate and largest block (again when either changed) and
    /// activates them. Blocks passed to `process` may be longer; they are cut up.
    [[nodiscard]] bool prepare(double sampleRate, int maxBlockSize) override;
    bool isLoaded() const override;
    bool isPrepared() const;
    /// The plug-in's data, for its user interface; null before `load`.
    const LilvPlugin *lilvPlugin() const;
    void unload() override;

    /// Audio thread: processes in place, with the events' notes for an instrument. False when
    /// the buffers were left as they were (not prepared, or busy with a main-thread request).
    [[nodiscard]] bool process(float *left, float *right, int frames,
                               std::span<const Lv2MidiEvent> events = {});
    /// Audio thread: as `process`; an LV2 plug-in has no deadline to keep.
    [[nodiscard]] bool processRt(float *left, float *right, int32_t frames, vst::Deadline deadline,
                                 std::span<const vst::PluginMidiEvent> events) noexcept override;
    /// Latency in samples that the plug-in reported at `prepare`.
    int32_t latency() const;
    int32_t latencySamples() const override { return latency(); }
    bool acceptsMidi() const;
    bool takesNotes() const override { return acceptsMidi(); }

    /// Main thread: index into `parameters`, or -1.
    int parameterIndex(const std::string &symbol) const;
    int parameterIndexForPort(uint32_t portIndex) const;
    [[nodiscard]] bool setParameterValue(size_t index, float plain);
    float parameterValue(size_t index) const;
    /// The ports the plug-in reports values on (meters, gain reduction), and the value each
    /// had after the last processed block, for the plug-in's interface.
    std::vector<uint32_t> controlOutputPorts() const;
    float controlOutputValue(uint32_t portIndex) const;
    [[nodiscard]] bool setParameterNormalizedAt(size_t index, float normalized);
    float getParameterNormalizedAt(size_t index) const;
    /// Audio thread: as `setParameterNormalizedAt`, reaching the plug-in with the next block.
    [[nodiscard]] bool setParameterNormalizedAtRt(size_t index, float normalized) noexcept;

    /// Main thread: an atom the plug-in's interface wrote to one of the plug-in's atom inputs,
    /// whole (header first); it reaches the plug-in at the start of a coming block, before
    /// that block's notes. False when the port is no atom input, the size is not the atom's,
    /// the atom is larger than `largestAtomToPlugin`, or too many wait.
    [[nodiscard]] bool sendAtomToPlugin(uint32_t portIndex, const void *atom, size_t size);
    /// Main thread: while on, what the plug-in writes to its atom outputs is kept for
    /// `takeAtomsFromPlugin` (as far as room allows; what does not fit is dropped). Off drops
    /// what waits.
    void keepAtomsFromPlugin(bool keep);
    /// Main thread: hands over each kept atom, oldest first, with the port it came out of;
    /// returns how many.
    size_t takeAtomsFromPlugin(
        const std::function<void(uint32_t portIndex, const uint8_t *atom, size_t size)> &take);
    static constexpr size_t largestAtomToPlugin = 8 * 1024;

    /// The plug-in interface names a parameter by its control port's index.
    std::vector<vst::PluginParameterInfo> listParameters() override;
    /// An enumeration's choice by its name, any other value as its plain number; the unit is
    /// listed apart.
    std::string parameterValueText(uint32_t portIndex, float normalized) override;
    [[nodiscard]] bool setParameterNormalized(uint32_t portIndex, float normalized) override;
    float getParameterNormalized(uint32_t portIndex) override;
    [[nodiscard]] bool setParameterNormalizedRt(uint32_t portIndex,
                                                float normalized) noexcept override;

    /// Files the plug-in writes with its state (samples, impulse responses) are kept in this
    /// folder, which the caller puts inside the project folder. Empty: a scratch folder.
    [[nodiscard]] bool setStateFolder(const std::string &folder) override;
    /// The plug-in's state and control values as text. Fails before `prepare`.
    [[nodiscard]] bool getState(std::vector<uint8_t> &state) override;
    /// Restores what `getState` gave. Empty restores the default control values. State that
    /// cannot be read fails with `lastError` set and changes nothing. Before `prepare` it is
    /// kept and applied by `prepare`.
    [[nodiscard]] bool setState(const std::vector<uint8_t> &state) override;

  private:
    std::unique_ptr<Lv2PluginState> impl;
};

} // namespace orvane::lv2

#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"
#include "core/commands/InsertEdits.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

// Mixer settings of a track and of the monitoring section. Gains, pans and levels that are
// not numbers are refused: they would reach the audio as NaN.

/// The four fader values of a track, as `SetTrackMixerCommand` keeps them for undo.
struct TrackFaderState {
    float gain = 1.0f;
    float pan = 0.0f;
    bool mute = false;
    bool solo = false;
};

/// "Mixer": fader gain, pan, mute and solo, unclamped.
class SetTrackMixerCommand : public Command {
  public:
    SetTrackMixerCommand(uint64_t trackId, float gain, float pan, bool mute, bool solo);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    TrackFaderState state_;
    CapturedValue<TrackFaderState> before_;
};

/// "Send A Level" … "Send D Level": replaces one of the four send slots; other slot numbers
/// do nothing.
class SetTrackSendCommand : public Command {
  public:
    SetTrackSendCommand(uint64_t trackId, int32_t slot, SendSlot send);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    int32_t slot_;
    SendSlot send_;
    CapturedValue<SendSlot> before_;
};

/// "Macro": one of the four macro knobs, clamped to 0..1.
class SetTrackMacroCommand : public Command {
  public:
    SetTrackMacroCommand(uint64_t trackId, int32_t macroIndex, float value);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    int32_t macroIndex_;
    float value_;
    CapturedValue<float> before_;
};

/// "Effect Settings": the settings of a built-in insert (in its parameters' order and units,
/// each kept within its range), stored in the insert's state. Other inserts are left alone.
class SetStockEffectSettingsCommand : public Command {
  public:
    SetStockEffectSettingsCommand(uint64_t trackId, int32_t insertIndex, std::vector<float> values);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    InsertSlot *findInsert(const Project &project) const;

    uint64_t trackId_;
    int32_t insertIndex_;
    std::vector<float> values_;
    CapturedValue<std::vector<uint8_t>> before_;
};

/// "Plug-in Parameter": one parameter of a plug-in insert moved from one normalized value to
/// another (a whole slider gesture is one command). The plug-in is set through the plug-in
/// parameter hook, and the state it reports afterwards becomes the insert's saved state, so
/// that the edit is in the project whether or not audio ran since. Undo sets the old value and
/// gives back the old state. Built-in inserts, values that are not numbers and inserts no
/// live plug-in answers for are left alone.
class SetPluginParameterCommand : public Command {
  public:
    SetPluginParameterCommand(uint64_t trackId, int32_t insertIndex, uint32_t parameterId,
                              float oldValue, float newValue);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    InsertSlot *findInsert(const Project &project) const;
    PluginParameterAddress address() const;

    uint64_t trackId_;
    int32_t insertIndex_;
    uint32_t parameterId_;
    float oldValue_;
    float newValue_;
    CapturedValue<std::vector<uint8_t>> before_;
};

/// "Bypass FX": flips an insert's bypass and reports the edit to the insert hook, so that a
/// plug-in insert is bypassed from the next audio block on.
class ToggleInsertBypassCommand : public Command {
  public:
    ToggleInsertBypassCommand(uint64_t trackId, int32_t insertIndex);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    InsertSlot *findInsert(const Project &project) const;

    uint64_t trackId_;
    int32_t insertIndex_;
    CapturedValue<bool> before_;
};

/// "Control Room".
class SetControlRoomCommand : public Command {
  public:
    explicit SetControlRoomCommand(ControlRoomSettings settings);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    ControlRoomSettings settings_;
    CapturedValue<ControlRoomSettings> before_;
};

/// "Low Latency Mode".
class SetLowLatencyModeCommand : public Command {
  public:
    explicit SetLowLatencyModeCommand(bool on);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    bool on_;
    CapturedValue<bool> before_;
};

} // namespace orvane

#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"
#include "core/stock/DrumKit.h"
#include "core/stock/GmPlayer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace orvane {

/// The stored state of Halvora Synth at its first factory preset: what a MIDI track made in
/// the window starts with.
std::string defaultSynthState();

/// "Track Instrument": the built-in instrument a MIDI track plays and that instrument's
/// state; an empty id gives the track back its sine voice. Other tracks are left alone.
class SetTrackInstrumentCommand : public Command {
  public:
    SetTrackInstrumentCommand(uint64_t trackId, std::string instrument, std::string state);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    struct Choice {
        std::string instrument;
        std::string state;
    };
    uint64_t trackId_;
    Choice choice_;
    CapturedValue<Choice> before_;
};

/// "Track Instrument" choosing the General MIDI player with `settings`, once its font has
/// loaded (into the shared cache, so the engine finds it there). Null with `error` saying why
/// when the font is missing or does not read: the track keeps the sound it has.
std::unique_ptr<SetTrackInstrumentCommand>
makeGmInstrumentCommand(uint64_t trackId, const stock::GmSettings &settings, std::string &error);

/// The stored state of the drum sampler with its default kit: what choosing it starts with.
std::string defaultDrumsState();

/// What a track that comes to play `instrument` starts with: the synth's first preset, the
/// default drum kit, nothing for the sine voice or an id this build does not know.
std::string defaultInstrumentState(std::string_view instrument);

/// What the instrument edits share: they rewrite the stored state of a track that plays
/// `instrument` (a state that does not read counts as the defaults), and undo gives back the
/// text as it was. Tracks with another instrument or none are left alone.
class InstrumentStateEdit : public Command {
  public:
    void redo(Project &project) override;
    void undo(Project &project) override;

  protected:
    InstrumentStateEdit(uint64_t trackId, std::string_view instrument)
        : trackId_(trackId), instrument_(instrument) {}
    /// The new state from the stored one; empty to leave it alone.
    virtual std::string edited(const std::string &stored) const = 0;

  private:
    uint64_t trackId_;
    std::string_view instrument_;
    CapturedValue<std::string> before_;
    bool applied_ = false;
};

/// Edits of Halvora Synth's "id=value" state.
class SynthStateEdit : public InstrumentStateEdit {
  protected:
    explicit SynthStateEdit(uint64_t trackId) : InstrumentStateEdit(trackId, synthInstrumentId) {}
};

/// Edits of the drum sampler's kit: each states its change to the kit read from the stored
/// text (the default kit when it does not read); the kit is written back within its limits.
class DrumStateEdit : public InstrumentStateEdit {
  protected:
    explicit DrumStateEdit(uint64_t trackId) : InstrumentStateEdit(trackId, drumsInstrumentId) {}
    /// False to leave the state alone.
    virtual bool edit(stock::DrumKit &kit) const = 0;

  private:
    std::string edited(const std::string &stored) const override;
};

/// The settings of a drum pad that `SetDrumPadCommand` changes.
enum class DrumPadSetting : uint8_t { Note, Gain, Pan, Tune, ChokeGroup };

/// "Drum Pad": one setting of one pad (its place in the kit) to a value, kept within its
/// range (the note and the choke group rounded); an unknown pad or a value that is not a
/// number changes nothing. A whole slider gesture is one command.
class SetDrumPadCommand : public DrumStateEdit {
  public:
    SetDrumPadCommand(uint64_t trackId, int32_t pad, DrumPadSetting setting, float value);
    std::string name() const override;

  private:
    bool edit(stock::DrumKit &kit) const override;
    int32_t pad_;
    DrumPadSetting setting_;
    float value_;
};

/// "Drum Sample": the file a pad's layer plays (relative to the project's folder once copied
/// into its media); `layer` one past the last adds a layer for every velocity. The caller
/// checks and copies the file first: this only names it.
class SetDrumSampleCommand : public DrumStateEdit {
  public:
    SetDrumSampleCommand(uint64_t trackId, int32_t pad, int32_t layer, std::string file);
    std::string name() const override;

  private:
    bool edit(stock::DrumKit &kit) const override;
    int32_t pad_;
    int32_t layer_;
    std::string file_;
};

/// "Add Velocity Layer": `file` as the pad's hardest layer; the pad's velocities are then
/// shared evenly between its layers. Refused past the most layers a pad holds.
class AddDrumLayerCommand : public DrumStateEdit {
  public:
    AddDrumLayerCommand(uint64_t trackId, int32_t pad, std::string file);
    std::string name() const override;

  private:
    bool edit(stock::DrumKit &kit) const override;
    int32_t pad_;
    std::string file_;
};

/// "Remove Velocity Layer": one layer of the pad, the others sharing the velocities again.
/// A pad keeps its last layer (loading another sample replaces it).
class RemoveDrumLayerCommand : public DrumStateEdit {
  public:
    RemoveDrumLayerCommand(uint64_t trackId, int32_t pad, int32_t layer);
    std::string name() const override;

  private:
    bool edit(stock::DrumKit &kit) const override;
    int32_t pad_;
    int32_t layer_;
};

/// "Instrument Preset": every parameter of the synth from the factory preset called
/// `preset`; an unknown name changes nothing.
class ApplySynthPresetCommand : public SynthStateEdit {
  public:
    ApplySynthPresetCommand(uint64_t trackId, std::string preset);
    std::string name() const override;

  private:
    std::string edited(const std::string &stored) const override;
    std::string preset_;
};

/// "Instrument Parameter": one parameter of the synth (its place in the parameter table) to
/// a plain value, kept within its range; an unknown parameter or a value that is not a
/// number changes nothing. A whole slider gesture is one command.
class SetSynthParameterCommand : public SynthStateEdit {
  public:
    SetSynthParameterCommand(uint64_t trackId, int32_t parameter, float value);
    std::string name() const override;

  private:
    std::string edited(const std::string &stored) const override;
    int32_t parameter_;
    float value_;
};

} // namespace orvane

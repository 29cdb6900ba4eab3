#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"
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

/// What the instrument edits share: they rewrite the stored state of a track that plays
/// Halvora Synth (a state that does not read counts as the defaults), and undo gives back the
/// text as it was. Tracks with another instrument or none are left alone.
class SynthStateEdit : public Command {
  public:
    void redo(Project &project) override;
    void undo(Project &project) override;

  protected:
    explicit SynthStateEdit(uint64_t trackId) : trackId_(trackId) {}
    /// The new state from the stored one, as "id=value" text; empty to leave it alone.
    virtual std::string edited(const std::string &stored) const = 0;

  private:
    uint64_t trackId_;
    CapturedValue<std::string> before_;
    bool applied_ = false;
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

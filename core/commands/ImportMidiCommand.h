#pragma once

#include "core/commands/Command.h"
#include "core/midifile/MidiConversion.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

/// "Import MIDI File": adds one MIDI track with one arrangement clip and the planned
/// instrument for each track of the file that has notes, starting at `position`, and with the
/// file's tempo and meter maps when the plan carries them. Undo takes the tracks away and puts the
/// project's maps back; redo brings back the very same objects.
class ImportMidiCommand : public Command {
  public:
    ImportMidiCommand(midifile::MidiImport plan, int64_t position);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override { return QT_TRANSLATE_NOOP("Command", "Import MIDI File"); }

    std::vector<uint64_t> createdTrackIds() const;

  private:
    struct TimeMaps {
        double tempoBpm = 120.0;
        std::vector<TempoMarker> tempoMarkers;
        TimeSignature timeSignature;
        std::vector<MeterMarker> meterMarkers;
    };
    static TimeMaps mapsOf(const Project &project);
    static void applyMaps(Project &project, const TimeMaps &maps);

    midifile::MidiImport plan_;
    int64_t position_;
    std::vector<std::shared_ptr<Track>> created_;
    std::optional<TimeMaps> mapsBefore_;
    int64_t lengthBefore_ = 0;
    bool applied_ = false;
};

} // namespace orvane

#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orvane {

// The timeline maps: named, tempo, meter, chord and beat markers and the warp markers of
// audio clips. Every command that adds or moves an entry of a sorted map re-sorts it by
// position (a stable sort, so equal positions keep their order). Undo gives back the whole
// map as the first redo found it: markers are found by position, and a map may hold two at
// one place after a move, so only the whole map says which was which.

/// "Add Marker". The caller hands out the id; the project's counter is raised above it.
/// Ids 0 ("none") and the largest id are refused, as no counter can stay above the latter.
class AddMarkerCommand : public Command {
  public:
    AddMarkerCommand(uint64_t markerId, std::string markerName, int64_t position);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t markerId_;
    std::string markerName_;
    int64_t position_;
    bool appended_ = false;
};

/// "Remove Marker". Undo returns each removed marker to its old place in the list.
class RemoveMarkerCommand : public Command {
  public:
    explicit RemoveMarkerCommand(uint64_t markerId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t markerId_;
    std::vector<std::pair<std::size_t, Marker>> removed_;
};

/// "Tempo Marker": adds a tempo marker or changes the one at the position, and makes the
/// tempo the project's base tempo. Undo restores both. A tempo that is not a positive
/// number is refused, as every conversion between samples and beats divides by it.
class AddTempoMarkerCommand : public Command {
  public:
    AddTempoMarkerCommand(int64_t position, double bpm);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int64_t position_;
    double bpm_;
    CapturedValue<std::vector<TempoMarker>> markersBefore_;
    CapturedValue<double> baseTempoBefore_;
};

/// "Move Tempo": the marker keeps its tempo. `bpm` is the tempo the caller saw there.
class MoveTempoMarkerCommand : public Command {
  public:
    MoveTempoMarkerCommand(int64_t from, int64_t to, double bpm);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int64_t from_;
    int64_t to_;
    double bpm_;
    CapturedValue<std::vector<TempoMarker>> markersBefore_;
};

/// "Meter Marker": adds a meter marker or changes the one at the position. A signature
/// without a positive numerator and denominator is refused: a bar of it has no length.
class AddMeterMarkerCommand : public Command {
  public:
    AddMeterMarkerCommand(int64_t position, TimeSignature signature);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int64_t position_;
    TimeSignature signature_;
    CapturedValue<std::vector<MeterMarker>> markersBefore_;
};

/// "Move Meter": moves the marker and gives it the new signature (refused as above).
class MoveMeterMarkerCommand : public Command {
  public:
    MoveMeterMarkerCommand(int64_t from, int64_t to, TimeSignature signature);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int64_t from_;
    int64_t to_;
    TimeSignature signature_;
    CapturedValue<std::vector<MeterMarker>> markersBefore_;
};

/// "Chord Marker": adds a chord marker or changes the chord at the position.
class AddChordMarkerCommand : public Command {
  public:
    AddChordMarkerCommand(int64_t position, std::string chord);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int64_t position_;
    std::string chord_;
    CapturedValue<std::vector<ChordMarker>> markersBefore_;
};

/// "Move Chord". `chord` is the symbol the caller saw at the from position.
class MoveChordMarkerCommand : public Command {
  public:
    MoveChordMarkerCommand(int64_t from, int64_t to, std::string chord);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int64_t from_;
    int64_t to_;
    std::string chord_;
    CapturedValue<std::vector<ChordMarker>> markersBefore_;
};

/// "Beat Markers": adds one marker per beat over a span. The markers are generated once, so
/// every redo adds the same ones.
class AddBeatMarkersCommand : public Command {
  public:
    AddBeatMarkersCommand(int64_t start, int64_t length, double bpm, int32_t beatsPerBar,
                          double sampleRate);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int64_t start_;
    int64_t length_;
    double bpm_;
    int32_t beatsPerBar_;
    double sampleRate_;
    CapturedValue<std::vector<BeatMarker>> markersBefore_;
    std::vector<BeatMarker> generated_;
};

/// "Move Beat Marker".
class MoveBeatMarkerCommand : public Command {
  public:
    MoveBeatMarkerCommand(int64_t from, int64_t to);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int64_t from_;
    int64_t to_;
    CapturedValue<std::vector<BeatMarker>> markersBefore_;
};

/// "Warp Marker": adds a warp marker to an audio clip or changes the source of the one at
/// `dest`. MIDI clips have no warp map; all three warp commands leave them alone.
class AddWarpMarkerCommand : public Command {
  public:
    AddWarpMarkerCommand(uint64_t clipId, int64_t dest, int64_t source);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    int64_t dest_;
    int64_t source_;
    CapturedValue<std::vector<WarpMarker>> markersBefore_;
};

/// "Move Warp".
class MoveWarpMarkerCommand : public Command {
  public:
    MoveWarpMarkerCommand(uint64_t clipId, int64_t fromDest, int64_t toDest, int64_t source);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    int64_t fromDest_;
    int64_t toDest_;
    int64_t source_;
    CapturedValue<std::vector<WarpMarker>> markersBefore_;
};

/// "Remove Warp".
class RemoveWarpMarkerCommand : public Command {
  public:
    RemoveWarpMarkerCommand(uint64_t clipId, int64_t dest);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    int64_t dest_;
    CapturedValue<std::vector<WarpMarker>> markersBefore_;
};

} // namespace orvane

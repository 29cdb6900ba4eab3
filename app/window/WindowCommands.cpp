#include "app/window/WindowCommands.h"

namespace orvane {

void SetTrackArmedCommand::redo(Project &project) {
    if (auto track = project.findTrack(trackId_)) {
        previous_ = track->armed;
        track->armed = armed_;
    }
}

void SetTrackArmedCommand::undo(Project &project) {
    if (auto track = project.findTrack(trackId_)) track->armed = previous_;
}

bool DeleteMidiNoteCommand::rewrite(const Project &, Clip &, std::vector<MidiNote> &notes) {
    if (index_ < 0 || index_ >= static_cast<int32_t>(notes.size())) return false;
    notes.erase(notes.begin() + index_);
    return true;
}

} // namespace orvane
